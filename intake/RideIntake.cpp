#include "RideIntake.h"

#include <algorithm>
#include <utility>

#include <QMetaMethod>

#include "codec/AnsiCodePage.h"
#include "codec/Envelope.h"
#include "platform/BSAConnection.h"
#include "platform/Database.h"
#include "platform/SocketError.h"
#include "settings/Settings.h"

namespace {
using namespace std::chrono_literals;
constexpr auto FirstRetry = 10ms; // a busy database is tried again after this, then twice as long each time
constexpr auto LongestRetry = 100ms;
} // namespace

RideIntake::RideIntake(Database &database, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_settings(settings)
    , m_writer(database, settings)
{
    m_clock.start();
    m_pass.setSingleShot(true);
    m_pass.setInterval(0);
    m_retry.setSingleShot(true);
    connect(&m_pass, &QTimer::timeout, this, &RideIntake::runBatch);
    connect(&m_retry, &QTimer::timeout, this, &RideIntake::runBatch);
    // A database file that went from under the link shows in the log of the rides it concerns.
    connect(&m_database, &Database::logLine, this, &RideIntake::logLine);
}

RideIntake::~RideIntake() = default;

void RideIntake::BSAServerClientRead(BSAConnection *connection, const QByteArray &payload)
{
    const IntakeQueue::Waiting here = m_queue.append(connection, payload, m_clock.nsecsElapsed());
    const bool tooMuch
        = here.envelopes >= HoldReadingAt || here.bytes >= HoldReadingBytes || m_queue.bytes() >= HoldAllReadingBytes;
    if (connection && tooMuch && !connection->isReadingHeld()) {
        connection->holdReading(true);
        m_held << connection;
    }
    // Everything else that is ready now comes in first and joins the same batch.
    if (m_batch.isEmpty() && !m_pass.isActive())
        m_pass.start();
}

qsizetype RideIntake::waiting() const
{
    return m_queue.size() + (m_batch.size() - m_next);
}

void RideIntake::abandonWaiting()
{
    const qsizetype count = waiting();
    m_pass.stop();
    m_retry.stop();
    m_queue.clear();
    m_held.clear(); // the connections are closed with the server
    m_batch.clear();
    m_next = 0;
    if (count > 0)
        emit logLine(QStringLiteral("SI: %1 BERICHT(EN) NIET VERWERKT, KOPPELING STOPT").arg(count));
}

void RideIntake::runBatch()
{
    if (m_batch.isEmpty()) {
        takeBatch();
        if (m_batch.isEmpty())
            return;
    }
    QString error;
    if (m_together) {
        const Stored stored = store(m_next, m_batch.size(), &error);
        if (stored == Stored::Busy && retryLater())
            return;
        if (stored != Stored::Failed) {
            for (; m_next < m_batch.size(); ++m_next) {
                Ride &ride = m_batch[m_next];
                if (stored != Stored::Committed && ride.usesDatabase)
                    refuse(ride, error, false);
                finishRide(ride);
            }
        }
        // A statement failed: the rides are stored again one by one, so that only the one that fails is refused.
        m_together = false;
    }
    // Once the database cannot be reached, or did not answer in time, the rest of the batch is refused without
    // trying each ride: every try could hold the one thread for the whole bound again.
    bool reachable = true;
    QString unavailable;
    for (; m_next < m_batch.size(); ++m_next) {
        Ride &ride = m_batch[m_next];
        if (ride.usesDatabase && !reachable) {
            refuse(ride, unavailable, false);
        } else if (ride.usesDatabase) {
            const Stored stored = store(m_next, m_next + 1, &error);
            if (stored == Stored::Busy && retryLater())
                return;
            if (stored == Stored::Unavailable) {
                reachable = false;
                unavailable = error;
            }
            if (stored != Stored::Committed)
                refuse(ride, error, true);
        }
        finishRide(ride);
    }
    m_batch.clear();
    m_next = 0;
    if (!m_queue.isEmpty())
        m_pass.start();
}

void RideIntake::takeBatch()
{
    const QList<IntakeQueue::Envelope> envelopes = m_queue.take(MaxBatch, MaxPerConnection);
    m_batch.reserve(envelopes.size());
    int writes = 0;
    for (const IntakeQueue::Envelope &envelope : envelopes) {
        m_batch << prepare(envelope);
        writes += m_batch.constLast().usesDatabase ? 1 : 0;
    }
    m_next = 0;
    releaseReading();
    // A single ride that fails needs no second try on its own.
    m_together = writes > 1;
    m_retryDelay = FirstRetry;
}

void RideIntake::releaseReading()
{
    for (qsizetype i = m_held.size() - 1; i >= 0; --i) {
        BSAConnection *connection = m_held.at(i);
        if (!connection) {
            m_held.removeAt(i);
        } else if (const IntakeQueue::Waiting here = m_queue.waitingOf(connection); here.envelopes <= ReleaseReadingAt
                   && here.bytes <= ReleaseReadingBytes && m_queue.bytes() <= ReleaseAllReadingBytes) {
            connection->holdReading(false);
            m_held.removeAt(i);
        }
    }
}

RideIntake::Ride RideIntake::prepare(IntakeQueue::Envelope envelope) const
{
    Ride ride;
    ride.envelope = std::move(envelope);
    RideOutcome &intro = ride.intro;
    QString envelopeLine;
    envelopeLine.reserve(12 + ride.envelope.payload.size() + 7);
    envelopeLine.append(QLatin1String("SI: <ZORVAN>"))
        .append(AnsiCodePage::decode(ride.envelope.payload))
        .append(QLatin1String("<EINDE>"));
    intro.log(envelopeLine);
    // A character that is no hexadecimal digit means the message was damaged on its way: decoding it anyway would
    // store a wrong ride (a "Z" in a name became a line break) and answer "AC" for it.
    const qsizetype damaged = firstNonHexDigit(ride.envelope.payload);
    if (damaged >= 0) {
        intro.log(QStringLiteral("SI: GEEN HEXADECIMAAL CIJFER OP POSITIE %1, BERICHT GEWEIGERD").arg(damaged + 1));
        intro.refuseInGeneral();
        ride.outcome = intro;
        return ride;
    }
    // The message with its line breaks marked is what the record, the log and "Pakket IN" all read.
    const QString marked = markLineBreaks(HexNaarTekst(ride.envelope.payload));
    QString error;
    if (!TekstNaarRit(marked, ride.rit, &error)) {
        intro.refuseInGeneral();
        ride.outcome = intro;
        return ride;
    }
    QString shown;
    shown.reserve(4 + marked.size());
    shown.append(QLatin1String("SI: ")).append(marked).replace(u'\t', u',');
    intro.logRaw(shown);
    // The display list is made only for whoever shows it, and only when it is shown: see finishRide.
    ride.text = marked;
    intro.log(QStringLiteral("00: PAKKET RITNUMMER = ") + QString::number(ride.rit.BSRitnummer));
    intro.log(QStringLiteral("00: PAKKET SOORT = ") + ride.rit.Soort);
    // Any other kind gets no answer: BSA expects none.
    if (ride.rit.Soort == QLatin1String("BN") || ride.rit.Soort == QLatin1String("BV")) {
        // Ride number 0 or less is what BSA's field becomes when it is not a number: it names no ride, and acting
        // on it would change or cancel whatever rows happen to carry 0.
        if (ride.rit.BSRitnummer > 0)
            ride.usesDatabase = true;
        else
            intro.refuseInGeneral();
    }
    ride.outcome = intro;
    return ride;
}

// Stores the rides [from, to) of the batch in one transaction. Nothing of them stays when it fails.
RideIntake::Stored RideIntake::store(qsizetype from, qsizetype to, QString *error)
{
    for (qsizetype i = from; i < to; ++i)
        m_batch[i].outcome = m_batch[i].intro;
    const auto failed = [this](Stored otherwise) {
        m_database.rollback();
        if (m_database.lastFailureWasBusy())
            return Stored::Busy;
        // A database that did not answer in time is not asked again for this batch.
        return m_database.lastFailureWasTimeout() ? Stored::Unavailable : otherwise;
    };
    if (!m_database.begin(error))
        return failed(Stored::Unavailable);
    for (qsizetype i = from; i < to; ++i) {
        Ride &ride = m_batch[i];
        if (!ride.usesDatabase)
            continue;
        const bool written = ride.rit.Soort == QLatin1String("BN")
            ? m_writer.VerwerkRit(ride.rit, ride.outcome, error)
            : m_writer.VerwerkAnnulering(ride.rit, ride.outcome, error);
        if (!written)
            return failed(Stored::Failed);
    }
    if (!m_database.commit(error))
        return failed(Stored::Failed);
    return Stored::Committed;
}

// The database is busy with another program's lock: the rides wait and the batch is tried again shortly, unless the
// oldest of them has waited longer than the bound allows.
bool RideIntake::retryLater()
{
    qint64 oldest = m_batch.at(m_next).envelope.arrivedNs;
    for (qsizetype i = m_next; i < m_batch.size(); ++i)
        oldest = std::min(oldest, m_batch.at(i).envelope.arrivedNs);
    if (std::chrono::nanoseconds(m_clock.nsecsElapsed() - oldest) >= m_busyBound)
        return false;
    // Once per batch the operator hears why the answers are late.
    if (m_retryDelay == FirstRetry)
        emit logLine(QStringLiteral("DATABASE BEZET, %1 BERICHT(EN) WACHTEN").arg(m_batch.size() - m_next));
    m_retry.start(m_retryDelay);
    m_retryDelay = std::min<std::chrono::milliseconds>(m_retryDelay * 2, LongestRetry);
    return true;
}

// BSA hears only "NC"; the operator sees why: the database's own message comes first. A ride stored on its own keeps
// the lines it gave up to the failure; one of a batch that was rolled back keeps none of the batch's.
void RideIntake::refuse(Ride &ride, const QString &error, bool keepLines)
{
    if (!keepLines)
        ride.outcome = ride.intro;
    ride.outcome.answers = false;
    if (!error.isEmpty())
        ride.outcome.logException(error);
    ride.outcome.refuseInGeneral();
}

void RideIntake::finishRide(Ride &ride)
{
    const RideOutcome &outcome = ride.outcome;
    emitLines(outcome.before);
    if (outcome.answers) {
        QString error;
        if (sendAnswer(ride, &error)) {
            emit answered(ride.rit.Soort, outcome.answerText.startsWith(QLatin1String("AC")),
                std::chrono::nanoseconds(m_clock.nsecsElapsed() - ride.envelope.arrivedNs));
            emitLines(outcome.after);
        } else {
            emit exceptionRaised(error); // the lines that would follow the answer are left out
        }
    }
    // A window shows the latest list a few times a second at most; a link without one never needs it.
    static const QMetaMethod pakketInSignal = QMetaMethod::fromSignal(&RideIntake::pakketIn);
    if (isSignalConnected(pakketInSignal))
        emit pakketIn(ride.text.isNull() ? QStringList() : SplitsVelden(ride.text));
}

bool RideIntake::sendAnswer(const Ride &ride, QString *error)
{
    BSAConnection *connection = ride.envelope.connection;
    if (!connection) {
        // The connection closed while its ride was being stored: the ride stands, its answer cannot be given.
        *error = SocketError::callFailed(10057, QStringLiteral("Socket is not connected"), QStringLiteral("send"));
        return false;
    }
    // bsaCRLF is read now, so that the operator's change counts from the next answer on.
    return connection->send(Inpakken(ride.outcome.answerText, m_settings.bsaCRLF), error) >= 0;
}

void RideIntake::emitLines(const QList<RideOutcome::LogEntry> &entries)
{
    for (const RideOutcome::LogEntry &entry : entries) {
        switch (entry.kind) {
        case RideOutcome::LogEntry::Kind::Line:
            emit logLine(entry.text);
            break;
        case RideOutcome::LogEntry::Kind::Raw:
            emit rawLogLine(entry.text);
            break;
        case RideOutcome::LogEntry::Kind::Exception:
            emit exceptionRaised(entry.text);
            break;
        }
    }
}
