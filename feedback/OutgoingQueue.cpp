#include "OutgoingQueue.h"

#include <algorithm>
#include <optional>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "files/PrivateFile.h"

namespace {

constexpr qsizetype ShownCharacters = 1000; // of a line left out at restore
constexpr QByteArrayView LineEnd = "\r\n";
constexpr qsizetype ProgressBytes = 200; // more than a progress file ever holds

bool isQueuedMessage(QByteArrayView line)
{
    if (line.isEmpty() || line.size() % 2 != 0)
        return false;
    for (const char c : line) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

QString shown(QByteArrayView line)
{
    const QString text = QString::fromLatin1(line.first(std::min(line.size(), ShownCharacters)));
    return line.size() > ShownCharacters ? text + QStringLiteral("...") : text;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The hash of the sent lines so far, one line (with its line end) added to it.
QByteArray chained(const QByteArray &sentHash, QByteArrayView line, QByteArrayView lineEnd = {})
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(sentHash);
    hash.addData(line);
    hash.addData(lineEnd);
    return hash.result();
}

struct Progress
{
    qint64 sentBytes = 0;
    QByteArray sentHash;
};

// "<bytes sent> <their hash in hexadecimal>" and a line end; anything else counts nothing.
std::optional<Progress> parsedProgress(const QByteArray &text)
{
    const QList<QByteArray> fields = text.trimmed().split(' ');
    if (fields.size() != 2)
        return std::nullopt;
    Progress progress;
    bool number = false;
    progress.sentBytes = fields.at(0).toLongLong(&number);
    progress.sentHash = QByteArray::fromHex(fields.at(1));
    if (!number || progress.sentBytes <= 0 || progress.sentHash.size() != 32)
        return std::nullopt;
    return progress;
}

} // namespace

OutgoingQueue::OutgoingQueue(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_fileName(QDir(folder).filePath(QLatin1String(FileName)))
    , m_progressFileName(QDir(folder).filePath(QLatin1String(ProgressFileName)))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &OutgoingQueue::retrySave);
}

void OutgoingQueue::restore()
{
    m_lines.clear();
    m_restored = true;
    m_fileSize = 0;
    m_sentBytes = 0;
    m_sentHash.clear();
    m_unsavedLines = 0;
    m_fileBehind = false;
    const bool progressPresent = QFileInfo::exists(m_progressFileName) || PrivateFile::isSymLink(m_progressFileName);
    if (!QFileInfo::exists(m_fileName) && !PrivateFile::isSymLink(m_fileName)) {
        // What was counted as sent of an earlier file must not count for the next one.
        QString error;
        if (progressPresent && !forgetProgress(&error))
            emit logLine(error);
        emit changed(m_lines);
        return;
    }
    QFile file(m_fileName);
    QString reason;
    QByteArray bytes;
    bool read = PrivateFile::open(file, QIODevice::ReadOnly, &reason);
    if (read) {
        bytes = file.readAll();
        read = file.error() == QFileDevice::NoError;
        if (!read)
            reason = file.errorString();
    }
    file.close();
    if (!read) {
        setAside(reason);
        emit changed(m_lines);
        return;
    }
    restoreFrom(bytes, progressPresent);
    emit changed(m_lines);
}

void OutgoingQueue::setAside(const QString &reason)
{
    // Its messages may still be rescued: the file is set aside before a new queue is written. When even that fails,
    // it is never written over, and the rides stay waiting in the database until someone looks.
    const QString aside = m_fileName + QLatin1Char('.')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".ONLEESBAAR");
    // A rename moves a symbolic link itself, never its target.
    if (!QFile::rename(m_fileName, aside)) {
        m_restored = false;
        emit logLine(QStringLiteral("Pakket UIT kan niet gelezen worden uit %1: %2; het blijft staan en "
                                    "statusmeldingen wachten tot het gelezen kan worden")
                         .arg(native(m_fileName), reason));
        return;
    }
    emit logLine(QStringLiteral("Pakket UIT kan niet gelezen worden uit %1: %2; apart gezet als %3")
                     .arg(native(m_fileName), reason, native(aside)));
    QString error;
    if (!forgetProgress(&error))
        emit logLine(error);
}

void OutgoingQueue::restoreFrom(const QByteArray &bytes, bool progressPresent)
{
    std::optional<Progress> recorded;
    bool progressRead = false;
    if (progressPresent) {
        QFile file(m_progressFileName);
        QString reason;
        progressRead = PrivateFile::open(file, QIODevice::ReadOnly, &reason);
        if (progressRead)
            recorded = parsedProgress(file.read(ProgressBytes));
        else
            emit logLine(
                QStringLiteral("Pakket UIT: %1 kan niet gelezen worden: %2").arg(native(m_progressFileName), reason));
    }
    // The recorded progress counts only when the file starts with exactly the lines it was counted over.
    QByteArray chain;
    qsizetype sentLines = -1;
    const auto matchAt = [&](qsizetype offset) {
        if (recorded && sentLines < 0 && offset == recorded->sentBytes && chain == recorded->sentHash) {
            sentLines = m_lines.size();
            m_sentBytes = offset;
            m_sentHash = chain;
        }
    };
    const QString shownName = native(m_fileName);
    bool asWritten = true; // every line a message ending in CR LF, as the link writes them
    qsizetype from = 0;
    int number = 0;
    while (from < bytes.size()) {
        matchAt(from);
        ++number;
        const qsizetype end = bytes.indexOf('\n', from);
        // Every line the link writes ends with CR LF: one without its end is a file cut off in the middle.
        const bool complete = end >= 0;
        const qsizetype next = complete ? end + 1 : bytes.size();
        QByteArrayView line(bytes.constData() + from, (complete ? end : bytes.size()) - from);
        if (recorded && next <= recorded->sentBytes)
            chain = chained(chain, QByteArrayView(bytes.constData() + from, next - from));
        from = next;
        if (line.endsWith('\r'))
            line.chop(1);
        else
            asWritten = false;
        if (line.isEmpty() && complete) {
            asWritten = false;
            continue;
        }
        if (!complete || !isQueuedMessage(line)) {
            asWritten = false;
            emit logLine(QStringLiteral("Pakket UIT: regel %1 van %2 is geen bericht en wordt overgeslagen: %3")
                             .arg(number)
                             .arg(shownName, shown(line)));
            continue;
        }
        m_lines.append(QString::fromLatin1(line));
    }
    matchAt(from);
    m_fileSize = bytes.size();
    if (sentLines > 0)
        m_lines.remove(0, sentLines);
    if (progressPresent && sentLines < 0) {
        // When in doubt, everything goes again: the host may see a message twice, but misses none.
        if (progressRead)
            emit logLine(QStringLiteral("Pakket UIT: %1 past niet bij %2; alle berichten erin worden verzonden")
                             .arg(native(m_progressFileName), shownName));
        QString error;
        if (!forgetProgress(&error))
            emit logLine(error);
    }
    if (!m_lines.isEmpty())
        emit logLine(QStringLiteral("Pakket UIT: %1 bericht(en) hersteld uit %2").arg(m_lines.size()).arg(shownName));
    // A file of another form is written as the link writes it, without the lines left out; one that is mostly
    // sent is cut down.
    const bool largelySent = m_sentBytes == m_fileSize || (m_sentBytes > CompactBytes && 2 * m_sentBytes > m_fileSize);
    if (!asWritten || (m_sentBytes > 0 && largelySent))
        writeWhole();
}

void OutgoingQueue::append(const QString &line)
{
    m_lines.append(line);
    if (m_restored) {
        ++m_unsavedLines;
        writeNewLines();
    }
    emit changed(m_lines);
    emit appended();
}

void OutgoingQueue::removeFirst()
{
    if (m_lines.isEmpty())
        return;
    const QString line = m_lines.takeFirst();
    if (m_restored)
        recordSent(line);
    emit changed(m_lines);
}

bool OutgoingQueue::takeBackLast(const QString &line)
{
    if (m_lines.isEmpty() || m_lines.constLast() != line)
        return false;
    m_lines.removeLast();
    if (m_restored) {
        if (m_unsavedLines > 0)
            --m_unsavedLines; // it never reached the file
        else if (m_fileBehind || !fileInStep())
            writeWhole();
        else
            cutLastLine(line.size() + LineEnd.size());
    }
    emit changed(m_lines);
    emit takenBack();
    return true;
}

bool OutgoingQueue::fileInStep() const
{
    // Someone may have removed the folder, emptied the file or put something else in its place.
    const QFileInfo info(m_fileName);
    if (info.isSymLink())
        return false;
    if (!info.exists())
        return m_fileSize == 0;
    return info.isFile() && info.size() == m_fileSize;
}

bool OutgoingQueue::makeFolder(QString *error)
{
    const QString folder = QFileInfo(m_fileName).absolutePath();
    if (QFileInfo::exists(folder))
        return true; // a folder, or something in its place that the write itself reports
    // An operator cleaning the backups may have removed it while the link ran: it is made again, as the log's.
    if (!QDir().mkpath(folder)) {
        *error = failure(m_fileName, QStringLiteral("de map %1 kan niet aangemaakt worden").arg(native(folder)));
        return false;
    }
    emit logLine(
        QStringLiteral("Pakket UIT: de map %1 bestond niet meer en is opnieuw aangemaakt").arg(native(folder)));
    return true;
}

void OutgoingQueue::writeNewLines()
{
    if (m_fileBehind || !fileInStep()) {
        writeWhole();
        return;
    }
    QString error;
    if (makeFolder(&error) && appendToFile(&error))
        reportSaved();
    else
        reportFailure(error);
}

void OutgoingQueue::writeWhole()
{
    QString error;
    if (makeFolder(&error) && replaceFile(&error)) {
        reportSaved();
    } else {
        m_fileBehind = true;
        reportFailure(error);
    }
}

bool OutgoingQueue::replaceFile(QString *failureMessage)
{
    // Sent lines counted in the old file must not be counted in the new one: the count goes first, so that a crash
    // in between only sends them again.
    if (!forgetProgress(failureMessage))
        return false;
    QByteArray bytes;
    for (const QString &line : std::as_const(m_lines)) {
        bytes += line.toLatin1();
        bytes += LineEnd;
    }
    // Written beside the old file, synced to the disk, then renamed over it: a crash or a full disk at any moment
    // leaves either the old queue or the new one.
    QString reason;
    if (!PrivateFile::replace(m_fileName, bytes, &reason)) {
        *failureMessage = failure(m_fileName, reason);
        return false;
    }
    m_fileSize = bytes.size();
    m_sentBytes = 0;
    m_sentHash.clear();
    m_unsavedLines = 0;
    m_fileBehind = false;
    return true;
}

bool OutgoingQueue::appendToFile(QString *failureMessage)
{
    QByteArray bytes;
    for (qsizetype i = m_lines.size() - m_unsavedLines; i < m_lines.size(); ++i) {
        bytes += m_lines.at(i).toLatin1();
        bytes += LineEnd;
    }
    QFile file(m_fileName);
    QString reason;
    // Unbuffered, so that what a failed write left can be cut away at once.
    if (!PrivateFile::open(file, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, &reason)) {
        *failureMessage = failure(m_fileName, reason);
        return false;
    }
    const qint64 written = file.write(bytes);
    if (written != bytes.size())
        reason = file.error() != QFileDevice::NoError
            ? file.errorString()
            : QStringLiteral("%1 van %2 bytes geschreven").arg(qMax<qint64>(written, 0)).arg(bytes.size());
    if (reason.isEmpty() && PrivateFile::flushToDisk(file, &reason)) {
        m_fileSize += bytes.size();
        m_unsavedLines = 0;
        return true;
    }
    // A line cut off would join the next one appended: the file goes back to its last whole line.
    if (!file.resize(m_fileSize))
        m_fileBehind = true;
    *failureMessage = failure(m_fileName, reason);
    return false;
}

void OutgoingQueue::cutLastLine(qsizetype lineBytes)
{
    QFile file(m_fileName);
    QString reason;
    if (PrivateFile::open(file, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, &reason)) {
        if (file.resize(m_fileSize - lineBytes)) {
            m_fileSize -= lineBytes;
            if (PrivateFile::flushToDisk(file, &reason)) {
                reportSaved();
                return;
            }
        } else {
            reason = file.errorString();
        }
    }
    // The line may still be in the file: the next change writes the file whole.
    m_fileBehind = true;
    reportFailure(failure(m_fileName, reason));
}

void OutgoingQueue::recordSent(const QString &line)
{
    if (m_unsavedLines > m_lines.size()) {
        --m_unsavedLines; // every line left was never in the file, this one neither
        return;
    }
    if (m_fileBehind || !fileInStep()) {
        writeWhole();
        return;
    }
    m_sentBytes += line.size() + LineEnd.size();
    m_sentHash = chained(m_sentHash, line.toLatin1(), LineEnd);
    const qint64 waiting = m_fileSize - m_sentBytes;
    if (waiting == 0 || (m_sentBytes > CompactBytes && m_sentBytes > waiting)) {
        QString error;
        if (makeFolder(&error) && replaceFile(&error)) {
            reportSaved();
            return;
        }
        // The file stays as it was: its sent part is counted as before, and the retry writes it whole.
        reportFailure(error);
    }
    // Only the small progress file is written, whatever the length of the queue. Should that fail, a crash would
    // send the line again, which the host survives.
    const QByteArray text = QByteArray::number(m_sentBytes) + ' ' + m_sentHash.toHex() + LineEnd.toByteArray();
    QString reason;
    if (PrivateFile::replace(m_progressFileName, text, &reason)) {
        reportProgressSaved();
        return;
    }
    const QString message = failure(m_progressFileName, reason);
    if (message != m_lastProgressFailure)
        emit logLine(message);
    m_lastProgressFailure = message;
    scheduleRetry();
}

bool OutgoingQueue::forgetProgress(QString *failureMessage)
{
    QFile file(m_progressFileName);
    // Removing a symbolic link removes the link, not its target.
    if ((file.exists() || PrivateFile::isSymLink(m_progressFileName)) && !file.remove()) {
        *failureMessage = failure(m_progressFileName, file.errorString());
        return false;
    }
    return true;
}

void OutgoingQueue::reportSaved()
{
    if (!m_lastFailure.isEmpty())
        emit logLine(savedAgain(m_fileName));
    m_lastFailure.clear();
    if (m_lastProgressFailure.isEmpty())
        m_retryDelay = FirstRetryMs;
}

void OutgoingQueue::reportProgressSaved()
{
    if (!m_lastProgressFailure.isEmpty())
        emit logLine(savedAgain(m_progressFileName));
    m_lastProgressFailure.clear();
    if (m_lastFailure.isEmpty())
        m_retryDelay = FirstRetryMs;
}

void OutgoingQueue::reportFailure(const QString &message)
{
    // The queue in memory goes on working; only a crash would now lose what the file misses.
    if (message != m_lastFailure)
        emit logLine(message);
    m_lastFailure = message;
    scheduleRetry();
}

void OutgoingQueue::scheduleRetry()
{
    if (m_retry.isActive())
        return;
    m_retry.start(m_retryDelay);
    m_retryDelay = std::min(2 * m_retryDelay, LastRetryMs);
}

void OutgoingQueue::retrySave()
{
    if (!m_restored || (isSaved() && m_lastFailure.isEmpty() && m_lastProgressFailure.isEmpty()))
        return; // a later change wrote it meanwhile
    // The whole queue as it is now, without the progress file: whatever failed before, the file then holds exactly
    // the lines not sent.
    writeWhole();
    if (m_lastFailure.isEmpty())
        reportProgressSaved(); // the whole write left no progress file to be behind
}

QString OutgoingQueue::failure(const QString &fileName, const QString &reason) const
{
    return QStringLiteral("Pakket UIT kan niet bewaard worden in %1: %2").arg(native(fileName), reason);
}

QString OutgoingQueue::savedAgain(const QString &fileName) const
{
    return QStringLiteral("Pakket UIT wordt weer bewaard in %1").arg(native(fileName));
}
