#pragma once

#include <optional>

#include <QList>
#include <QPair>
#include <QString>

struct Settings;

// The settings document: the tree of "KorvelBSA.xml" in the program folder, read once at start and written once at
// the end. Elements the program does not know stay in the tree and are written back where they were.
class SettingsStore
{
public:
    // One element of the document. An element with children is written without its text.
    struct Element
    {
        QString name;
        QList<QPair<QString, QString>> attributes;
        QString text;
        QList<Element> children;
    };

    static constexpr char FileName[] = "KorvelBSA.xml";

    explicit SettingsStore(const QString &programFolder);

    QString fileName() const { return m_fileName; }

    // Reads the file into the document. No file gives an empty document. A file that cannot be parsed, or a symbolic
    // link in the file's place, leaves the document empty and returns false; the file itself is left as it was.
    bool LoadSettingsFile(QString *error = nullptr);
    // Puts the stored values into the fields; a missing element or a FormVersion below 0 keeps the field's value.
    void RestoreSettings(Settings &settings);
    // Copies every field, and FormVersion 0, into the document. The file is not touched.
    void CaptureSettings(const Settings &settings);
    // Writes the document to the file in one go, readable by the owner only (it holds the SQL password).
    // A read-only file and a symbolic link in the file's place are left alone and give false, as does any failure to
    // write.
    bool WriteSettingsFile(QString *error = nullptr);

    // Whether a capture happened since the last restore: the owner captures once more at the end when none did.
    bool captured() const { return m_captured; }

    // The document in the file's layout, as written by WriteSettingsFile (8-bit code page, CR LF line ends).
    QByteArray toBytes() const;
    // The text of Hoofdscherm/<name> below the root; nothing when that element does not exist.
    std::optional<QString> storedValue(const QString &name) const;

private:
    bool parse(const QString &text, QString *error);
    Element &hoofdscherm();
    const Element *findHoofdscherm() const;
    void store(const QString &name, const QString &value);

    QString m_fileName;
    Element m_root;
    // The declaration of the file read, written back as it was; a new file gets version 1.0 and iso-8859-1.
    QString m_version = QStringLiteral("1.0");
    QString m_encoding = QStringLiteral("iso-8859-1");
    bool m_standalone = false;
    bool m_captured = false;
};
