#pragma once

#include <QString>

// What the update description file says about this program. Every field is text, empty until read.
struct UpdateDescription
{
    QString DownloadFileURL; // the file handed to the updater; empty disables the download
    QString ReadmeFileURL; // a plain text shown in the offer
    QString UpdatePageURL; // the update web page
    QString Version; // the version offered
    QString CRC32Hash;
    QString MD5Hash;
    QString SHA1Hash; // 40 upper-case hexadecimal digits; a download without a matching one is never run
    QString SignatureFileURL; // the download's minisign signature; empty: DownloadFileURL + ".minisig"

    // The address of the signature: SignatureFileURL, else the download's address with ".minisig" added.
    QString signatureAddress() const;

    // The keys of the program's own section of the description (an INI text).
    static UpdateDescription fromIni(const QString &text, const QString &section);
};

// The section of the description that belongs to a program file: its file name up to the first ".", so
// "KorvelBSA.exe" and "KorvelBSA" both read "[KorvelBSA]".
QString descriptionSection(const QString &programFile);
