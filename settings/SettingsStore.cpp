#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include "codec/AnsiCodePage.h"
#include "settings/Settings.h"
#include "files/WholeFile.h"

namespace {

constexpr int MaxDepth = 256; // far beyond any real settings file; keeps a damaged one from exhausting the stack

QString symbolicLinkRefused(const QString &fileName)
{
    return QStringLiteral("Het instellingenbestand %1 is een symbolische koppeling; de koppeling volgt die niet. "
                          "Zet het bestand zelf op die plaats")
        .arg(QDir::toNativeSeparators(fileName));
}

// The element of a stored setting: a text setting is stored as <name>_Text, a flag as <name>_Checked.
QString elementName(const SettingEntry &entry)
{
    return QLatin1String(entry.name) + QLatin1String(entry.kind == SettingEntry::Kind::Text ? "_Text" : "_Checked");
}

const QString RootName = QStringLiteral("Configuration");
const QString WindowName = QStringLiteral("Hoofdscherm");
const QString FormVersionName = QStringLiteral("FormVersion");

// A flag as older files and hand edits may hold it: a yes/no word, else a number (non-zero is checked).
bool readFlag(const QString &text)
{
    const QString word = text.trimmed().toUpper();
    if (word == u"TRUE" || word == u"YES" || word == u"Y")
        return true;
    if (word == u"FALSE" || word == u"NO" || word == u"N")
        return false;
    qsizetype i = word.startsWith(u'-') || word.startsWith(u'+') ? 1 : 0;
    if (i == word.size())
        return false;
    bool nonZero = false;
    for (; i < word.size(); ++i) {
        const QChar c = word.at(i);
        if (c < u'0' || c > u'9')
            return false;
        nonZero = nonZero || c != u'0';
    }
    return nonZero;
}

// A value as the file holds it. The file is 8-bit, so the characters from the euro sign up are written as
// references; a character that XML cannot carry at all would make the file unreadable at the next start, so it
// becomes '?' like any other the code page lacks.
void appendEscaped(QString &out, QStringView value)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        switch (c) {
        case u'<':
            out += u"&lt;";
            continue;
        case u'>':
            out += u"&gt;";
            continue;
        case u'&':
            out += u"&amp;";
            continue;
        case u'"':
            out += u"&quot;";
            continue;
        case u'\'':
            out += u"&apos;";
            continue;
        default:
            break;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < value.size() && QChar::isLowSurrogate(value.at(i + 1).unicode())) {
            // One reference for the whole character: a reference to half of it is not valid XML.
            out += QStringLiteral("&#x%1;").arg(
                QChar::surrogateToUcs4(c, value.at(i + 1).unicode()), 2, 16, QLatin1Char('0'));
            ++i;
        } else if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF
            || (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')) {
            out += u'?';
        } else if (c >= 0x20AC) {
            out += QStringLiteral("&#x%1;").arg(uint(c), 2, 16, QLatin1Char('0'));
        } else {
            out += QChar(c);
        }
    }
}

// Elements and attributes the link does not know keep the names the file gave them. A name that a file in UTF-8 or
// UTF-16 could hold and the 8-bit file cannot (no reference may stand in a name) would make the file unreadable at
// the next start and cost every setting in it, so such an element or attribute is not written.
bool fileCanHoldName(const QString &name)
{
    return AnsiCodePage::restrict(name) == name;
}

void appendElement(QString &out, const SettingsStore::Element &element, int depth)
{
    const QString indent(depth * 2, u' ');
    const QString endTag = QLatin1String("</") + element.name + QLatin1String(">\r\n");
    out += indent + QLatin1Char('<') + element.name;
    for (const auto &[name, value] : element.attributes) {
        if (!fileCanHoldName(name))
            continue;
        out += QLatin1Char(' ') + name + QLatin1String("=\"");
        appendEscaped(out, value);
        out += QLatin1Char('"');
    }
    if (!element.children.isEmpty()) {
        out += QLatin1String(">\r\n");
        for (const SettingsStore::Element &child : element.children) {
            if (fileCanHoldName(child.name))
                appendElement(out, child, depth + 1);
        }
        out += indent + endTag;
    } else if (element.text.isEmpty()) {
        out += QLatin1String("/>\r\n");
    } else {
        out += QLatin1Char('>');
        appendEscaped(out, element.text);
        out += endTag;
    }
}

const SettingsStore::Element *findChild(const SettingsStore::Element &parent, const QString &name)
{
    for (const SettingsStore::Element &child : parent.children) {
        if (child.name == name)
            return &child;
    }
    return nullptr;
}

// Reads the content of the element whose start tag was just read, up to and including its end tag.
bool readContent(QXmlStreamReader &reader, SettingsStore::Element &element, int depth)
{
    if (depth > MaxDepth) {
        reader.raiseError(QStringLiteral("te diep geneste elementen"));
        return false;
    }
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            SettingsStore::Element child;
            child.name = reader.name().toString();
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                child.attributes.append({ attribute.qualifiedName().toString(), attribute.value().toString() });
            if (!readContent(reader, child, depth + 1))
                return false;
            element.children.append(std::move(child));
            break;
        }
        case QXmlStreamReader::Characters:
            element.text += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            // Between child elements there is only the layout's line breaks and indentation.
            if (!element.children.isEmpty())
                element.text.clear();
            return true;
        default:
            break;
        }
    }
    return false;
}

// The file's text: a byte-order mark says UTF-8 or UTF-16; without one the bytes are in the 8-bit code page.
QString decodeFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        return decoder.decode(bytes.mid(2));
    }
    return AnsiCodePage::decode(bytes);
}

} // namespace

SettingsStore::SettingsStore(const QString &programFolder)
    : m_fileName(QDir(programFolder).filePath(QString::fromLatin1(FileName)))
{
    m_root.name = RootName;
}

bool SettingsStore::LoadSettingsFile(QString *error)
{
    m_root = Element { RootName, {}, {}, {} };
    // The file is the link's own: a symbolic link in its place would have the end of the run write whatever it
    // points at. Refused here, where the operator sees it, rather than at the end.
    if (QFileInfo(m_fileName).isSymLink()) {
        if (error)
            *error = symbolicLinkRefused(m_fileName);
        return false;
    }
    QFile file(m_fileName);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Het instellingenbestand %1 kan niet gelezen worden: %2")
                         .arg(QDir::toNativeSeparators(m_fileName), file.errorString());
        return false;
    }
    const QString text = decodeFile(file.readAll());
    // An empty file holds no settings; it is replaced by a complete one at the end of the run.
    if (text.trimmed().isEmpty())
        return true;
    return parse(text, error);
}

bool SettingsStore::parse(const QString &text, QString *error)
{
    // Given a QString, the reader ignores the declared encoding: the bytes were decoded above.
    QXmlStreamReader reader(text);
    Element root;
    bool haveRoot = false;
    while (!reader.atEnd() && !reader.hasError()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            if (!reader.documentVersion().isEmpty()) {
                m_version = reader.documentVersion().toString();
                m_encoding = reader.documentEncoding().toString();
                m_standalone = reader.isStandaloneDocument();
            }
            break;
        case QXmlStreamReader::StartElement:
            root.name = reader.name().toString();
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                root.attributes.append({ attribute.qualifiedName().toString(), attribute.value().toString() });
            haveRoot = readContent(reader, root, 1);
            break;
        default:
            break;
        }
    }
    if (!reader.hasError() && !haveRoot)
        reader.raiseError(QStringLiteral("geen hoofdelement"));
    if (reader.hasError()) {
        if (error)
            *error = QStringLiteral("Het instellingenbestand %1 kan niet gelezen worden: %2 (regel %3, kolom %4)")
                         .arg(QDir::toNativeSeparators(m_fileName), reader.errorString())
                         .arg(reader.lineNumber())
                         .arg(reader.columnNumber());
        m_version = QStringLiteral("1.0");
        m_encoding = QStringLiteral("iso-8859-1");
        m_standalone = false;
        return false;
    }
    m_root = std::move(root);
    return true;
}

const SettingsStore::Element *SettingsStore::findHoofdscherm() const
{
    return findChild(m_root, WindowName);
}

SettingsStore::Element &SettingsStore::hoofdscherm()
{
    for (Element &child : m_root.children) {
        if (child.name == WindowName)
            return child;
    }
    m_root.children.append(Element { WindowName, {}, {}, {} });
    return m_root.children.last();
}

std::optional<QString> SettingsStore::storedValue(const QString &name) const
{
    const Element *window = findHoofdscherm();
    const Element *element = window ? findChild(*window, name) : nullptr;
    if (!element)
        return std::nullopt;
    return element->text;
}

void SettingsStore::RestoreSettings(Settings &settings)
{
    m_captured = false;
    const std::optional<QString> formVersionText = storedValue(FormVersionName);
    int formVersion = 0;
    if (formVersionText) {
        bool ok = false;
        formVersion = formVersionText->trimmed().toInt(&ok);
        if (!ok)
            formVersion = -1;
    }
    if (formVersion < 0)
        return; // a layout this program does not know: every field keeps its default

    for (const SettingEntry &entry : SettingsTable) {
        if (entry.storage != SettingEntry::Storage::File)
            continue;
        // An element without text is an emptied field, which must not come back as its default.
        const std::optional<QString> value = storedValue(elementName(entry));
        if (!value)
            continue;
        if (entry.kind == SettingEntry::Kind::Text)
            settings.*entry.text = *value;
        else
            settings.*entry.flag = readFlag(*value);
    }
}

void SettingsStore::store(const QString &name, const QString &value)
{
    Element &window = hoofdscherm();
    for (Element &child : window.children) {
        if (child.name == name) {
            child.text = value;
            child.children.clear();
            return;
        }
    }
    window.children.append(Element { name, {}, value, {} });
}

void SettingsStore::CaptureSettings(const Settings &settings)
{
    store(FormVersionName, QStringLiteral("0"));
    for (const SettingEntry &entry : SettingsTable) {
        if (entry.storage != SettingEntry::Storage::File)
            continue;
        const QString value = entry.kind == SettingEntry::Kind::Text
            ? settings.*entry.text
            : (settings.*entry.flag ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
        store(elementName(entry), value);
    }
    m_captured = true;
}

QByteArray SettingsStore::toBytes() const
{
    QString out = QLatin1String("<?xml version=\"") + m_version + QLatin1Char('"');
    if (!m_encoding.isEmpty())
        out += QLatin1String(" encoding=\"") + m_encoding + QLatin1Char('"');
    if (m_standalone)
        out += QLatin1String(" standalone=\"yes\"");
    out += QLatin1String("?>\r\n");
    if (fileCanHoldName(m_root.name)) {
        appendElement(out, m_root, 0);
    } else {
        Element root = m_root;
        root.name = RootName;
        appendElement(out, root, 0);
    }
    // Written in the code page whatever the declaration names: that is how the file has always been read.
    return AnsiCodePage::encode(out);
}

bool SettingsStore::WriteSettingsFile(QString *error)
{
    const QString shownName = QDir::toNativeSeparators(m_fileName);
    const QFileInfo info(m_fileName);
    if (info.isSymLink()) {
        if (error)
            *error = symbolicLinkRefused(m_fileName);
        return false;
    }
    if (info.exists()) {
        const bool writeBit
            = info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (!info.isWritable() || !writeBit) {
            if (error)
                *error = QStringLiteral("Het instellingenbestand %1 is alleen-lezen").arg(shownName);
            return false;
        }
    }
    if (!QDir().mkpath(info.absolutePath())) {
        if (error)
            *error = QStringLiteral("De map van het instellingenbestand %1 kan niet gemaakt worden").arg(shownName);
        return false;
    }

    // Written beside the old file and put in its place only when the whole text reached the disk: an interrupted
    // write or a full disk never leaves half a file, nor an empty one.
    QString reason;
    if (!WholeFile::replace(m_fileName, toBytes(), QFileDevice::ReadOwner | QFileDevice::WriteOwner, &reason)) {
        if (error)
            *error = QStringLiteral("Het instellingenbestand %1 kan niet geschreven worden: %2").arg(shownName, reason);
        return false;
    }
    return true;
}
