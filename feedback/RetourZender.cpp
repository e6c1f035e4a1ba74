#include "RetourZender.h"

#include <optional>

#include <QCryptographicHash>

#include "feedback/OutgoingQueue.h"
#include "feedback/StatusMessageBuilder.h"
#include "platform/Database.h"
#include "settings/Settings.h"

namespace {

// The rides that came from BSA (owner "010") and wait for their status message, oldest first, so that a backlog
// is worked off in the order the rides were booked.
const QString WaitingRows = QStringLiteral(
    "SELECT pla_id, pla_retour_rbs FROM planning WHERE pla_retour_rbs = ? AND pla_eigenaar = ? ORDER BY pla_id");

// Only a row that still waits is marked: two links on one database must not both send its message.
const QString MarkWaitingRow
    = QStringLiteral("UPDATE planning SET pla_retour_rbs = ? WHERE pla_id = ? AND pla_retour_rbs = ?");

constexpr int Waiting = 1;
constexpr int Handled = 2;
constexpr int Refused = 0;

} // namespace

RetourZender::RetourZender(
    Database &database, const Settings &settings, StatusMessageBuilder &builder, OutgoingQueue &queue, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_settings(settings)
    , m_builder(builder)
    , m_queue(queue)
{
    m_timer.setInterval(Interval);
    connect(&m_timer, &QTimer::timeout, this, &RetourZender::RetourZenderTimer);
}

void RetourZender::RetourZenderTimer()
{
    if (!m_settings.BSATerug)
        return;
    const bool running = m_timer.isActive();
    m_timer.stop();
    handleFirstWaitingRow();
    if (running)
        m_timer.start();
}

void RetourZender::handleFirstWaitingRow()
{
    QString error;
    bool aborted = false;
    if (!m_database.open(&error, &aborted)) {
        // No planning database set up is said once at start, not at every tick.
        if (!aborted)
            emit exceptionRaised(error);
        return;
    }
    const std::optional<QueryResult> waiting = m_database.exec(WaitingRows, { Waiting, QStringLiteral("010") }, &error);
    if (!waiting) {
        emit exceptionRaised(error); // the row stays at 1 and a later tick takes it again
        return;
    }
    if (waiting->rows.isEmpty())
        return;
    const int plaId = waiting->rows.constFirst().at(0).toInt();

    QString queuedLine;
    const bool built = m_builder.MaakStatusmelding(plaId, &queuedLine);
    const QString id = QString::number(plaId);
    bool copy = false;
    if (!queuedLine.isEmpty() && alreadyOnItsWay(queuedLine) && m_queue.takeBackLast(queuedLine)) {
        // An earlier run queued this message and ended before it marked the row: the row only needs its mark.
        copy = true;
        queuedLine.clear();
    }
    if (!queuedLine.isEmpty() && !m_queue.isSaved()) {
        // The queue's file could not take the message (the queue has said why): marked as handled, the message
        // would live in memory only and a crash would lose it. The row stays at 1 until the file can be written.
        if (m_queue.takeBackLast(queuedLine))
            emit logLine(QStringLiteral("D:-> RETOURMELDING INGETROKKEN - ") + id);
        return;
    }
    bool changed = false;
    if (!markWaitingRow(plaId, built ? Handled : Refused, &changed, &error)) {
        // The row stays at 1, so a later tick builds its message again: this one must not go out as well, or the
        // host would hear of the ride twice.
        if (!queuedLine.isEmpty() && m_queue.takeBackLast(queuedLine))
            emit logLine(QStringLiteral("D:-> RETOURMELDING INGETROKKEN - ") + id);
        emit exceptionRaised(error);
        return;
    }
    if (!changed) {
        // Another link on the same database took the row between our read and our mark, and sends its message.
        if (!queuedLine.isEmpty())
            m_queue.takeBackLast(queuedLine);
        emit logLine(QStringLiteral("D:-> RETOURMELDING DOOR ANDERE KOPPELING AFGEHANDELD - ") + id);
        return;
    }
    if (copy)
        emit logLine(QStringLiteral("D:-> RETOURMELDING AL IN PAKKET UIT OF VERZONDEN - ") + id);
    else if (built)
        emit logLine(QStringLiteral("D:-> RETOURMELDING VERZONDEN - ") + id);
    else
        emit logLine(QStringLiteral("D:-> RETOURMELDING AFGEWEZEN - ") + id);
}

bool RetourZender::markWaitingRow(int plaId, int mark, bool *changed, QString *error)
{
    const std::optional<QueryResult> result = m_database.exec(MarkWaitingRow, { mark, plaId, Waiting }, error);
    if (!result)
        return false;
    // A driver that cannot tell (-1) is taken at its word that the statement ran.
    *changed = result->rowsAffected != 0;
    return true;
}

bool RetourZender::alreadyOnItsWay(const QString &line) const
{
    // The line just queued is the last one: an equal one before it was queued earlier.
    if (m_queue.lines().count(line) > 1)
        return true;
    return m_sentSinceStart.contains(QCryptographicHash::hash(line.toLatin1(), QCryptographicHash::Sha1));
}

void RetourZender::lineSent(const QString &line)
{
    m_sentSinceStart.insert(QCryptographicHash::hash(line.toLatin1(), QCryptographicHash::Sha1));
}
