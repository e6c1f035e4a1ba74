#include "OutgoingQueue.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "settings/WholeFile.h"

namespace {

constexpr qsizetype ShownCharacters = 1000; // of a line left out at restore

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

} // namespace

OutgoingQueue::OutgoingQueue(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_fileName(QDir(folder).filePath(QLatin1String(FileName)))
{ }

void OutgoingQueue::restore()
{
    m_lines.clear();
    m_restored = true;
    QFile file(m_fileName);
    if (!file.exists()) {
        emit changed(m_lines);
        return;
    }
    const QString shownName = QDir::toNativeSeparators(m_fileName);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (file.error() != QFileDevice::NoError) {
        // Its messages may still be rescued: the file is set aside before a new queue is written. When even that
        // fails, it is never written over, and the rides stay waiting in the database until someone looks.
        const QString reason = file.errorString();
        file.close();
        const QString aside = m_fileName + QLatin1Char('.')
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".ONLEESBAAR");
        if (QFile::rename(m_fileName, aside)) {
            emit logLine(QStringLiteral("Pakket UIT kan niet gelezen worden uit %1: %2; apart gezet als %3")
                             .arg(shownName, reason, QDir::toNativeSeparators(aside)));
        } else {
            m_restored = false;
            emit logLine(QStringLiteral("Pakket UIT kan niet gelezen worden uit %1: %2; het blijft staan en "
                                        "statusmeldingen wachten tot het gelezen kan worden")
                             .arg(shownName, reason));
        }
        emit changed(m_lines);
        return;
    }
    qsizetype from = 0;
    int number = 0;
    while (from < bytes.size()) {
        ++number;
        const qsizetype end = bytes.indexOf('\n', from);
        // Every line the link writes ends with CR LF: one without its end is a file cut off in the middle.
        const bool complete = end >= 0;
        QByteArrayView line(bytes.constData() + from, (complete ? end : bytes.size()) - from);
        from = complete ? end + 1 : bytes.size();
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() && complete)
            continue;
        if (!complete || !isQueuedMessage(line)) {
            emit logLine(QStringLiteral("Pakket UIT: regel %1 van %2 is geen bericht en wordt overgeslagen: %3")
                             .arg(number)
                             .arg(shownName, shown(line)));
            continue;
        }
        m_lines.append(QString::fromLatin1(line));
    }
    if (!m_lines.isEmpty())
        emit logLine(QStringLiteral("Pakket UIT: %1 bericht(en) hersteld uit %2").arg(m_lines.size()).arg(shownName));
    // The file now holds exactly what the queue holds, without the lines left out.
    changedNow();
}

void OutgoingQueue::append(const QString &line)
{
    m_lines.append(line);
    changedNow();
    emit appended();
}

void OutgoingQueue::removeFirst()
{
    if (m_lines.isEmpty())
        return;
    m_lines.removeFirst();
    changedNow();
}

bool OutgoingQueue::takeBackLast(const QString &line)
{
    if (m_lines.isEmpty() || m_lines.constLast() != line)
        return false;
    m_lines.removeLast();
    changedNow();
    emit takenBack();
    return true;
}

void OutgoingQueue::changedNow()
{
    // Before the file was read, writing it would throw away what an earlier run left there.
    if (m_restored)
        saveAndReport();
    emit changed(m_lines);
}

void OutgoingQueue::saveAndReport()
{
    QString error;
    if (save(&error)) {
        if (!m_lastFailure.isEmpty())
            emit logLine(
                QStringLiteral("Pakket UIT wordt weer bewaard in %1").arg(QDir::toNativeSeparators(m_fileName)));
        m_lastFailure.clear();
    } else if (error != m_lastFailure) {
        // The queue in memory goes on working; only a crash would now lose what the file misses.
        emit logLine(error);
        m_lastFailure = error;
    }
}

bool OutgoingQueue::save(QString *error)
{
    QByteArray bytes;
    for (const QString &line : std::as_const(m_lines)) {
        bytes += line.toLatin1();
        bytes += "\r\n";
    }
    // Written beside the old file, synced to the disk, then renamed over it: a crash or a full disk at any moment
    // leaves either the old queue or the new one.
    QString reason;
    if (WholeFile::replace(m_fileName, bytes, std::nullopt, &reason))
        return true;
    if (error)
        *error = QStringLiteral("Pakket UIT kan niet bewaard worden in %1: %2")
                     .arg(QDir::toNativeSeparators(m_fileName), reason);
    return false;
}
