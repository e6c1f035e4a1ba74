#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QString>

// Signed updates: the maker signs each program file with minisign and a trusted comment that names the program and
// its version ("KorvelBSA 9.0.1.15"); the program and the updater accept a file only with such a signature by one of
// the public keys built into them.
//
// A signature file has four lines: an untrusted comment, the signature (base64 of the algorithm "ED", the signing
// key's 8-byte id and the Ed25519 signature of the file's BLAKE2b-512 hash), "trusted comment: " with its text, and
// the global signature (base64 of the Ed25519 signature of the first signature and the comment's text together).
// The legacy form "Ed", which signs the file itself, is refused.
namespace UpdateSignature {

struct PublicKey
{
    QByteArray id; // 8 bytes
    QByteArray key; // 32 bytes, Ed25519
};

// A key as minisign writes it ("RWQ..." alone, or the whole .pub file with its comment line); nothing when it is
// not one.
bool parsePublicKey(const QString &text, PublicKey *key);
// Keys separated by ",", ";" or blanks. False, with the reason, when one of them is not a key.
bool parsePublicKeys(const QString &list, QList<PublicKey> *keys, QString *error);

// The keys of a build setting's text. Empty when none was set or one of them is not a key: problem then says why,
// and no update may be installed.
QList<PublicKey> keysOfSetting(const QString &setting, QString *problem);
// The build setting UpdatePublicKeys this build was made with.
QString builtInKeysSetting();

// The key id as minisign shows it ("EE0BD5A5C3F9B737").
QString keyIdText(const QByteArray &id);

// The trusted comment a release of this program in this version carries: the program's name (its file name up to
// the first ".") and the version, "KorvelBSA 9.0.1.15".
QString expectedComment(const QString &programFile, const QString &version);

// The BLAKE2b-512 hash that the signature covers, fed block by block as the file is written or read.
class FileHash final
{
public:
    FileHash();
    ~FileHash();
    FileHash(const FileHash &) = delete;
    FileHash &operator=(const FileHash &) = delete;

    void addData(const char *data, qint64 length);
    QByteArray result(); // 64 bytes; once

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The hash of a whole file; empty, with the reason, when it cannot be read.
QByteArray hashOfFile(const QString &path, QString *error);

// Checks the signature file's text against the hash of the file it signs, the keys, and the trusted comment that is
// expected. Empty when every check holds; otherwise which check failed and why, for the log.
QString check(const QByteArray &fileHash, const QByteArray &signatureFile, const QList<PublicKey> &keys,
    const QString &expectedComment);

} // namespace UpdateSignature
