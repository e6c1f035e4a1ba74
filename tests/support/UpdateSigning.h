#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Signs as the maker does, with the real minisign and the fixture key pairs of tests/update/signing: "fixture" (the
// key the test build carries) and "other" (a key it does not know). A test that uses it adds
// bsa_signs_updates(TestName) below its line.
// A Windows test program under Wine cannot wait for the Linux minisign: the tests that sign skip there.
#ifdef Q_OS_WIN
#define BSA_SIGNS_WITH_MINISIGN() QSKIP("Wine lacks a way to wait for the Linux minisign that signs the tests' updates")
#else
#define BSA_SIGNS_WITH_MINISIGN() static_cast<void>(0)
#endif

namespace UpdateSigning {

inline QString keyFile(const QString &keyName, const char *suffix)
{
    return QDir(QStringLiteral(UPDATE_SIGNING_KEYS)).filePath(keyName + QLatin1String(suffix));
}

// The public key of a key pair, as the build setting holds it ("RWQ...").
inline QString publicKey(const QString &keyName = QStringLiteral("fixture"))
{
    QFile file(keyFile(keyName, ".pub"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll().split('\n').value(1).trimmed());
}

// minisign -S of file into signature; legacy: the old form "Ed" that signs the file itself. False when minisign
// failed.
inline bool signFile(const QString &file, const QString &signature, const QString &trustedComment,
    const QString &keyName = QStringLiteral("fixture"), bool legacy = false)
{
    QStringList arguments { QStringLiteral("-S"), QStringLiteral("-s"), keyFile(keyName, ".key"), QStringLiteral("-m"),
        file, QStringLiteral("-x"), signature, QStringLiteral("-t"), trustedComment };
    if (legacy)
        arguments << QStringLiteral("-l");
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    minisign.setStandardInputFile(QProcess::nullDevice());
    minisign.start(QStringLiteral(MINISIGN_PROGRAM), arguments);
    return minisign.waitForFinished(30000) && minisign.exitStatus() == QProcess::NormalExit && minisign.exitCode() == 0;
}

// The signature file's text for bytes; empty when minisign failed.
inline QByteArray signatureOf(const QByteArray &bytes, const QString &trustedComment,
    const QString &keyName = QStringLiteral("fixture"), bool legacy = false)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("signed"));
    const QString signature = dir.filePath(QStringLiteral("signed.minisig"));
    QFile out(file);
    if (!dir.isValid() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return QByteArray();
    out.close();
    if (!signFile(file, signature, trustedComment, keyName, legacy))
        return QByteArray();
    QFile in(signature);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace UpdateSigning
