#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QUrl>

#include "update/UpdateHttpClient.h"

class QSaveFile;
class HashingWriter;

// The download of a new program version without its dialog: HEAD for the size, GET into "TempDownloads", and the
// SHA-1 of what arrived compared with the description's. The file appears under its own name only when it is
// whole and its hash matches; every other ending leaves no file of that name behind.
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
        Damaged, // the hash is missing or differs: the file was deleted
        Ready, // verified and in place at targetPath()
    };
    Q_ENUM(Outcome)

    // expectedSha1: the description's SHA1Hash, 40 upper-case hexadecimal digits.
    UpdateDownload(
        const QUrl &url, const QString &downloadFolder, const QString &expectedSha1, QObject *parent = nullptr);
    ~UpdateDownload() override;

    UpdateHttpClient &http() { return m_http; }

    // The last path segment of the address, and where the file is written.
    QString fileName() const { return m_fileName; }
    QString targetPath() const { return m_targetPath; }

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
    void end(Outcome outcome);
    void setSize(qint64 size);

    enum class Step { Head, Get };

    QUrl m_url;
    QString m_fileName;
    QString m_folder;
    QString m_targetPath;
    QString m_expectedSha1;
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
