#include "UpdateDownload.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include "files/WholeFile.h"

// Passes every block on to the file and into the hashes, so the download is verified without reading it back.
class HashingWriter final : public QIODevice
{
public:
    explicit HashingWriter(QSaveFile *file)
        : m_file(file)
    { }

    QByteArray digest() const { return m_hash.result(); }
    QByteArray signedHash() { return m_signedHash.result(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        // A write that reaches the end of the disk first takes what still fits and says nothing; the next one
        // tells why.
        qint64 done = 0;
        while (done < length) {
            const qint64 written = m_file->write(data + done, length - done);
            if (written <= 0) {
                setErrorString(m_file->error() != QFileDevice::NoError
                        ? m_file->errorString()
                        : QStringLiteral("%1 van %2 bytes geschreven").arg(done).arg(length));
                return -1;
            }
            done += written;
        }
        m_hash.addData(QByteArrayView(data, length));
        m_signedHash.addData(data, length);
        return length;
    }

private:
    QSaveFile *m_file;
    QCryptographicHash m_hash { QCryptographicHash::Sha1 };
    UpdateSignature::FileHash m_signedHash;
};

namespace {

// A name to write under the download folder: one plain path segment.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\');
}

} // namespace

UpdateDownload::UpdateDownload(
    const QUrl &url, const QString &downloadFolder, const QString &expectedSha1, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_fileName(url.fileName())
    , m_folder(downloadFolder)
    , m_targetPath(QDir(downloadFolder).filePath(m_fileName))
    , m_expectedSha1(expectedSha1)
    , m_signatureUrl(url.toString() + QStringLiteral(".minisig"))
{
    connect(&m_http, &UpdateHttpClient::finished, this, [this](const UpdateHttpResult &answer) {
        switch (m_step) {
        case Step::Head:
            headFinished(answer);
            break;
        case Step::Get:
            getFinished(answer);
            break;
        case Step::Signature:
            signatureFinished(answer);
            break;
        }
    });
    // The size HEAD named is a first guess: the answer to GET, and in the end the body itself, decide.
    connect(&m_http, &UpdateHttpClient::contentLengthKnown, this, [this](qint64 bytes) {
        if (m_step == Step::Get && bytes > 0)
            setSize(bytes);
    });
    connect(&m_http, &UpdateHttpClient::received, this, [this](qint64 bytes) {
        if (m_step != Step::Get)
            return;
        m_received = bytes;
        if (bytes > m_size)
            setSize(bytes);
        emit progress(bytes);
    });
}

UpdateDownload::~UpdateDownload() = default;

QString UpdateDownload::sha1Text(const QByteArray &digest)
{
    return QString::fromLatin1(digest.toHex().toUpper());
}

void UpdateDownload::setSignature(
    const QUrl &url, const QString &trustedComment, const QList<UpdateSignature::PublicKey> &keys)
{
    m_signatureUrl = url;
    m_trustedComment = trustedComment;
    m_keys = keys;
}

void UpdateDownload::setSize(qint64 size)
{
    if (size == m_size)
        return;
    m_size = size;
    emit sizeChanged(size);
}

void UpdateDownload::start()
{
    if (m_running)
        return;
    m_running = true;
    m_step = Step::Head;
    m_http.head(m_url);
}

void UpdateDownload::cancel()
{
    if (!m_running || m_cancelled)
        return;
    m_cancelled = true;
    m_http.abort();
}

void UpdateDownload::headFinished(const UpdateHttpResult &answer)
{
    m_size = answer.ok ? answer.contentLength() : 0;
    if (m_cancelled) {
        end(Outcome::Cancelled);
        return;
    }
    if (m_size <= 0) {
        end(Outcome::NoSize);
        return;
    }
    if (!isPlainFileName(m_fileName)) {
        m_errorString = QStringLiteral("Het adres %1 noemt geen bestand").arg(m_url.toDisplayString());
        end(Outcome::FileError);
        return;
    }
    if (!QDir().mkpath(m_folder)) {
        m_errorString = QStringLiteral("De map %1 kan niet gemaakt worden").arg(m_folder);
        end(Outcome::FileError);
        return;
    }
    m_file = std::make_unique<QSaveFile>(m_targetPath);
    if (!m_file->open(QIODevice::WriteOnly)) {
        m_errorString = QStringLiteral("%1 kan niet gemaakt worden: %2").arg(m_targetPath, m_file->errorString());
        end(Outcome::FileError);
        return;
    }
    m_writer = std::make_unique<HashingWriter>(m_file.get());
    m_writer->open(QIODevice::WriteOnly);
    m_step = Step::Get;
    emit sizeKnown(m_size);
    m_http.get(m_url, m_writer.get());
}

void UpdateDownload::getFinished(const UpdateHttpResult &answer)
{
    if (m_cancelled) {
        end(Outcome::Cancelled);
        return;
    }
    if (!answer.ok) {
        m_failureText = answer.failureText();
        end(Outcome::Failed);
        return;
    }
    setSize(m_received);
    const QString actual = sha1Text(m_writer->digest());
    if (m_expectedSha1.isEmpty() || actual != m_expectedSha1) {
        damaged(m_expectedSha1.isEmpty() ? QStringLiteral("de beschrijving noemt geen SHA1Hash")
                                         : QStringLiteral("de SHA-1 is %1, verwacht %2").arg(actual, m_expectedSha1));
        return;
    }
    m_signedHash = m_writer->signedHash();
    if (m_keys.isEmpty()) {
        damaged(QStringLiteral("er is geen sleutel om de handtekening mee te controleren"));
        return;
    }
    m_step = Step::Signature;
    m_http.get(m_signatureUrl);
}

void UpdateDownload::signatureFinished(const UpdateHttpResult &answer)
{
    if (m_cancelled) {
        end(Outcome::Cancelled);
        return;
    }
    if (!answer.ok) {
        damaged(QStringLiteral("de handtekening %1 ontbreekt: %2")
                    .arg(m_signatureUrl.toDisplayString(), answer.failureText()));
        return;
    }
    const QString failed = UpdateSignature::check(m_signedHash, answer.body, m_keys, m_trustedComment);
    if (!failed.isEmpty()) {
        damaged(failed);
        return;
    }
    QString reason;
    // The updater checks the signature once more, on the copy it puts in place: it lies beside the download.
    if (!WholeFile::replace(signaturePath(), answer.body, std::nullopt, &reason)) {
        m_errorString = QStringLiteral("%1 kan niet geschreven worden: %2").arg(signaturePath(), reason);
        end(Outcome::FileError);
        return;
    }
    if (!WholeFile::commit(*m_file, &reason)) {
        m_errorString = QStringLiteral("%1 kan niet geschreven worden: %2").arg(m_targetPath, reason);
        end(Outcome::FileError);
        return;
    }
    end(Outcome::Ready);
}

void UpdateDownload::damaged(const QString &why)
{
    m_damage = why;
    end(Outcome::Damaged);
}

void UpdateDownload::end(Outcome outcome)
{
    m_running = false;
    m_writer.reset();
    if (m_file && outcome != Outcome::Ready)
        m_file->cancelWriting();
    m_file.reset(); // an uncommitted file takes its temporary file with it
    if (outcome != Outcome::Ready && isPlainFileName(m_fileName)) {
        QFile::remove(m_targetPath); // an earlier download of that name is not handed over either
        QFile::remove(signaturePath());
    }
    emit finished(outcome);
}
