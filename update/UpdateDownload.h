#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QUrl>

#include "update/UpdateHttpClient.h"
#include "update/UpdateSignature.h"

class QSaveFile;
class HashingWriter;

// The download of a new program version without its dialog: HEAD for the size, GET into "TempDownloads", the
// SHA-1 of what arrived compared with the description's, then its minisign signature fetched and checked. The file
// appears under its own name, with its signature beside it (name + ".minisig"), only when it is whole, its hash
// matches and its signature holds; every other ending leaves neither behind.
class UpdateDownload final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateDownload)
public:
    enum class Outcome {
        NoSize, // HEAD failed or named no usable size: nothing was downloaded
        FileError, // the file could not be created or written: errorString() says why
        Failed, // the GET failed: failureText() says how
        Cancelled, // cancel() was called
        Damaged, // the hash or the signature is missing or wrong: the file was deleted; damage() says which
        Ready, // verified and in place at targetPath()
    };
    Q_ENUM(Outcome)

    // expectedSha1: the description's SHA1Hash, 40 upper-case hexadecimal digits.
    UpdateDownload(
        const QUrl &url, const QString &downloadFolder, const QString &expectedSha1, QObject *parent = nullptr);
    ~UpdateDownload() override;

    UpdateHttpClient &http() { return m_http; }

    // The signature the file must carry: where it lies, the trusted comment it must name, and the keys that may
    // have made it. Without keys every download ends Damaged.
    void setSignature(const QUrl &url, const QString &trustedComment, const QList<UpdateSignature::PublicKey> &keys);

    // The last path segment of the address, and where the file is written.
    QString fileName() const { return m_fileName; }
    QString targetPath() const { return m_targetPath; }
    QString signaturePath() const { return m_targetPath + QStringLiteral(".minisig"); }

    // Sends the HEAD; the GET follows when the size is known. Call once.
    void start();
    // Aborts the running request; the download then ends as Cancelled.
    void cancel();
    bool isRunning() const { return m_running; }
    bool isCancelled() const { return m_cancelled; }

    // From HEAD, then from the answer to GET, and the body's own once it is whole; 0 until known.
    qint64 size() const { return m_size; }
    qint64 received() const { return m_received; } // bytes written so far
    QString failureText() const { return m_failureText; }
    QString errorString() const { return m_errorString; }
    QString damage() const { return m_damage; } // which check failed, and why

    // The hash this download compares: 40 upper-case hexadecimal digits.
    static QString sha1Text(const QByteArray &digest);

signals:
    void sizeKnown(qint64 size); // the GET starts now
    void sizeChanged(qint64 size); // the GET's answer or its body named another size than HEAD
    void progress(qint64 received);
    void finished(UpdateDownload::Outcome outcome);

private:
    void headFinished(const UpdateHttpResult &answer);
    void getFinished(const UpdateHttpResult &answer);
    void signatureFinished(const UpdateHttpResult &answer);
    void damaged(const QString &why);
    void end(Outcome outcome);
    void setSize(qint64 size);

    enum class Step { Head, Get, Signature };

    QUrl m_url;
    QString m_fileName;
    QString m_folder;
    QString m_targetPath;
    QString m_expectedSha1;
    QUrl m_signatureUrl;
    QString m_trustedComment;
    QList<UpdateSignature::PublicKey> m_keys;
    QByteArray m_signedHash;
    QString m_damage;
    UpdateHttpClient m_http;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<HashingWriter> m_writer;
    Step m_step = Step::Head;
    qint64 m_size = 0;
    qint64 m_received = 0;
    QString m_failureText;
    QString m_errorString;
    bool m_running = false;
    bool m_cancelled = false;
};
