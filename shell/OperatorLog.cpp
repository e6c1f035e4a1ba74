#include "OperatorLog.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "codec/AnsiCodePage.h"
#include "files/PrivateFile.h"
#include "platform/DateTimeText.h"

namespace {
constexpr char16_t Escape = 0x1B;
constexpr QStringView LineBreakSequence = u"\x1B"
                                          u"LF";

// Whether a character shows as itself: anything but the control characters (C0, DEL and C1), TAB excepted.
bool showsAsItself(QChar c)
{
    const char16_t code = c.unicode();
    return code == u'\t' || (code >= 0x20 && code < 0x7F) || code > 0x9F;
}

// How many characters from the start show as themselves. Nearly every line is all of them: it is checked a block
// at a time without a branch per character, which the compiler can do many characters at once.
qsizetype plainLength(const QChar *text, qsizetype size)
{
    constexpr qsizetype Block = 32;
    qsizetype at = 0;
    for (; at + Block <= size; at += Block) {
        unsigned control = 0;
        for (qsizetype i = 0; i < Block; ++i) {
            const unsigned code = text[at + i].unicode();
            control |= unsigned(code < 0x20) & unsigned(code != u'\t');
            control |= unsigned(code - 0x7F <= 0x9F - 0x7F);
        }
        if (control)
            break;
    }
    while (at < size && showsAsItself(text[at]))
        ++at;
    return at;
}
} // namespace

OperatorLog::OperatorLog(const QString &programFolder, QObject *parent)
    : QObject(parent)
    , m_programFolder(programFolder)
{
    m_archiveLarge.setSingleShot(true);
    m_archiveLarge.setInterval(0);
    connect(&m_archiveLarge, &QTimer::timeout, this, &OperatorLog::archiveLarge);
}

void OperatorLog::Logger(const QString &message)
{
    addStamped(m_stamps.at(QDateTime::currentMSecsSinceEpoch()), message);
}

void OperatorLog::Logger(const QString &message, const QDateTime &now)
{
    addStamped(timeStamp(now), message);
}

void OperatorLog::addStamped(const QString &stamp, const QString &message)
{
    QString line;
    line.reserve(stamp.size() + 3 + message.size());
    line.append(stamp).append(QLatin1String(" - ")).append(message);
    addLine(line);
}

void OperatorLog::addLine(const QString &line)
{
    append(shown(line));
}

void OperatorLog::append(const QString &line)
{
    m_lines.append(line);
    m_characters += line.size() + 2;
    emit lineAdded(line);
    // Archived at the next turn, not here: the lines of the event being handled stay together.
    if (m_characters > MaxCharacters && !m_lastArchiveFailed && !m_archiveLarge.isActive())
        m_archiveLarge.start();
}

void OperatorLog::archiveLarge()
{
    if (m_characters > MaxCharacters)
        archive(QDateTime::currentDateTime());
}

void OperatorLog::takeOperatorEdit(const QStringList &lines)
{
    m_lines = lines;
    m_characters = 0;
    for (const QString &line : lines)
        m_characters += line.size() + 2;
}

QString OperatorLog::shown(const QString &text)
{
    // Past the bound only the length matters: a line of a megabyte is not read to its end.
    const qsizetype scanned = std::min(text.size(), MaxLineLength + 1);
    const qsizetype plain = plainLength(text.constData(), scanned);
    if (plain == text.size() && plain <= MaxLineLength)
        return text; // the usual line, without a copy
    const QStringView view(text);
    QString line;
    line.reserve(MaxLineLength + 64);
    qsizetype at = std::min(plain, MaxLineLength);
    line.append(view.first(at));
    for (; at < text.size() && line.size() < MaxLineLength; ++at) {
        const QChar c = text.at(at);
        if (showsAsItself(c)) {
            line.append(c);
        } else if (c == QChar(Escape) && view.sliced(at).startsWith(LineBreakSequence)) {
            line.append(u"#CRLF#");
            at += LineBreakSequence.size() - 1;
        } else {
            line.append(u'#').append(QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0')).append(u'#');
        }
    }
    if (at < text.size() || line.size() > MaxLineLength) {
        line.truncate(MaxLineLength);
        line.append(QStringLiteral(" ... [AFGEKORT, REGEL VAN %1 TEKENS]").arg(text.size()));
    }
    return line;
}

void OperatorLog::ApplicationEvents1Exception(const QString &message)
{
    if (message.contains(QLatin1String("10053")))
        return;
    Logger(message);
}

QString OperatorLog::archiveFolder() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("BSA/LOGS"));
}

QString OperatorLog::archiveFileName(const QDateTime &now, int part) const
{
    const QString suffix = part > 1 ? QStringLiteral("_%1.TXT").arg(part) : QStringLiteral(".TXT");
    return QDir(archiveFolder()).filePath(QStringLiteral("BS_") + archiveStamp(now) + suffix);
}

// The file of this second that takes `size` more bytes: the first that does not exist yet, or is empty, or stays
// within MaxArchiveBytes with them. Empty, with the reason, when the second has no room left.
QString OperatorLog::archiveTarget(const QDateTime &now, qint64 size, QString *reason) const
{
    for (int part = 1; part <= MaxArchivesPerSecond; ++part) {
        const QString path = archiveFileName(now, part);
        const QFileInfo info(path);
        // A link is taken as the file of its name, so that the write refuses it rather than skipping past it.
        if (info.isSymLink() || !info.exists() || info.size() == 0 || info.size() + size <= MaxArchiveBytes)
            return path;
    }
    *reason = QStringLiteral("al %1 archieven in deze seconde").arg(MaxArchivesPerSecond);
    return {};
}

bool OperatorLog::archive(const QDateTime &now, QString *error)
{
    QByteArray bytes;
    bytes.reserve(m_characters);
    for (const QString &line : std::as_const(m_lines)) {
        bytes += AnsiCodePage::encode(line);
        bytes += "\r\n";
    }
    // The folder may have been removed while the link ran (with the database's folder, for one): make it again.
    QDir().mkpath(archiveFolder());
    // Two archives in the same second share a name: the second is added to the first, so no lines are lost.
    QString reason;
    QString path = archiveTarget(now, bytes.size(), &reason);
    bool saved = false;
    if (path.isEmpty()) {
        path = archiveFileName(now);
    } else {
        QFile file(path);
        // One write of the whole text: nothing stays in a buffer that a failed write could not take back. The
        // archive is owner-only and never written through a symbolic link: it holds passengers' names.
        saved = PrivateFile::open(file, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, &reason);
        const qint64 before = saved ? file.size() : 0;
        if (saved) {
            saved = file.write(bytes) == bytes.size();
            if (!saved)
                reason = file.errorString();
        }
        if (!saved) {
            // A full disk or a file-size limit took part of it: the log keeps every line for the next try, so the
            // part written goes again, and an archive made for it alone goes too.
            if (file.isOpen()) {
                file.resize(before);
                file.close();
                if (before == 0)
                    QFile::remove(path);
            }
        } else {
            file.close();
            saved = file.error() == QFileDevice::NoError;
            if (!saved)
                reason = file.errorString();
        }
    }
    if (!saved) {
        const QString message
            = QStringLiteral("Logboek kan niet bewaard worden in %1: %2").arg(QDir::toNativeSeparators(path), reason);
        if (error)
            *error = message;
        // Logged as the exception hook would, but without its "10053" filter: the file name's own stamp can
        // hold those digits (an archive made at 10:05:30), and this failure must never go unseen.
        m_lastArchiveFailed = true;
        Logger(message, now);
        return false;
    }
    m_lines.clear();
    m_characters = 0;
    m_lastArchiveFailed = false;
    emit cleared();
    return true;
}

bool OperatorLog::housekeeping(const QDateTime &now)
{
    if (lineCount() <= MaxLines && m_characters <= MaxCharacters)
        return true;
    return archive(now);
}

QString OperatorLog::timeStamp(const QDateTime &now)
{
    return DateTimeText::log(now);
}

QString OperatorLog::archiveStamp(const QDateTime &now)
{
    return now.toString(QStringLiteral("ddMMyyhhmmssMs"));
}
