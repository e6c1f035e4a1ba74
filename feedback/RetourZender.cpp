#include "RetourZender.h"

#include <optional>

#include "feedback/OutgoingQueue.h"
#include "feedback/StatusMessageBuilder.h"
#include "platform/Database.h"
#include "settings/Settings.h"

namespace {

// The rides that came from BSA (owner "010") and wait for their status message, oldest first, so that a backlog
// is worked off in the order the rides were booked.
const QString WaitingRows = QStringLiteral(
    "SELECT pla_id, pla_retour_rbs FROM planning WHERE pla_retour_rbs = ? AND pla_eigenaar = ? ORDER BY pla_id");

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
    if (!queuedLine.isEmpty() && !m_queue.isSaved()) {
        // The queue's file could not take the message (the queue has said why): marked as handled, the message
        // would live in memory only and a crash would lose it. The row stays at 1 until the file can be written.
        if (m_queue.takeBackLast(queuedLine))
            emit logLine(QStringLiteral("D:-> RETOURMELDING INGETROKKEN - ") + QString::number(plaId));
        return;
    }
    const ColumnValues mark { { QStringLiteral("pla_retour_rbs"), built ? Handled : Refused } };
    if (!m_database.updateRow(QStringLiteral("planning"), mark, QStringLiteral("pla_id"), plaId, &error)) {
        // The row stays at 1, so a later tick builds its message again: this one must not go out as well, or the
        // host would hear of the ride twice.
        if (!queuedLine.isEmpty() && m_queue.takeBackLast(queuedLine))
            emit logLine(QStringLiteral("D:-> RETOURMELDING INGETROKKEN - ") + QString::number(plaId));
        emit exceptionRaised(error);
        return;
    }
    emit logLine(
        (built ? QStringLiteral("D:-> RETOURMELDING VERZONDEN - ") : QStringLiteral("D:-> RETOURMELDING AFGEWEZEN - "))
        + QString::number(plaId));
}
