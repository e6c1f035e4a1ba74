#include "Koppeling.h"

#include <chrono>

#include <QDateTime>
#include <QDir>
#include <QMetaMethod>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "platform/BSAConnection.h"
#include "platform/IncompleteEnvelope.h"
#include "shell/LinkMetrics.h"
#if BSA_STATUS_PORT
#include "shell/StatusServer.h"
#else
// The Windows program has no status port; the owner keeps an empty place for it.
class StatusServer final
{
public:
    quint16 port() const { return 0; }
};
#endif
#include "shell/WorkingFolders.h"

namespace {
constexpr std::chrono::milliseconds Timer1Interval { 1000 };
}

Koppeling::Koppeling(const QString &programFolder, QObject *parent)
    : QObject(parent)
    , m_programFolder(programFolder)
    , m_store(programFolder)
    , m_log(programFolder)
    , m_database(
          [this] {
              // Read at every connect, so that an edited login counts from the next connect on.
              return DatabaseLogin { m_settings.xLoginServer, m_settings.xLoginDatabase, m_settings.xLoginSQL,
                  m_settings.xPaswoordSQL };
          },
          programFolder)
    , m_lifecycle(m_server, m_settings)
    , m_intake(m_database, m_settings)
    , m_queue(QDir(programFolder).filePath(QStringLiteral("BSA/BACKUPS/UIT")))
    , m_statusBuilder(m_database, m_settings, m_queue)
    , m_retourZender(m_database, m_settings, m_statusBuilder, m_queue)
    , m_hostSender(m_client, m_queue, m_settings)
    , m_hostReplies(m_client, m_hostSender)
{
    m_timer1.setInterval(Timer1Interval);
    connect(&m_timer1, &QTimer::timeout, this, &Koppeling::Timer1Timer);

    const auto logger = [this](const QString &message) { m_log.Logger(message); };
    const auto hook = [this](const QString &message) { m_log.ApplicationEvents1Exception(message); };
    connect(&m_lifecycle, &ServerLifecycle::logLine, this, logger);
    connect(&m_lifecycle, &ServerLifecycle::stChanged, this, &Koppeling::stChanged);
    connect(&m_server, &BSAServer::envelopeReceived, &m_intake, &RideIntake::BSAServerClientRead);
    connect(&m_server, &BSAServer::errorOccurred, this, hook);
    connect(&m_server, &BSAServer::logLine, this, logger);
    connect(&m_server, &BSAServer::bufferDropped, this, [this](const QString &peer) {
        m_log.Logger(IncompleteEnvelope::tooLargeLine(IncompleteEnvelope::Side::Server, peer));
    });
    connect(&m_intake, &RideIntake::logLine, this, logger);
    connect(&m_intake, &RideIntake::rawLogLine, &m_log, &OperatorLog::addLine);
    connect(&m_intake, &RideIntake::exceptionRaised, this, hook);

    connect(&m_statusBuilder, &StatusMessageBuilder::rawLogLine, &m_log, &OperatorLog::addLine);
    connect(&m_statusBuilder, &StatusMessageBuilder::exceptionRaised, this, hook);
    connect(&m_retourZender, &RetourZender::logLine, this, logger);
    connect(&m_retourZender, &RetourZender::exceptionRaised, this, hook);
    connect(&m_hostSender, &HostSender::logLine, this, logger);
    connect(&m_hostSender, &HostSender::exceptionRaised, this, hook);
    connect(&m_hostSender, &HostSender::lineSent, &m_retourZender, &RetourZender::lineSent);
    connect(&m_client, &BSAClient::bufferDropped, this, [this](const QString &peer) {
        m_log.Logger(IncompleteEnvelope::tooLargeLine(IncompleteEnvelope::Side::Client, peer));
    });
    connect(&m_hostReplies, &HostReplies::logLine, this, logger);
    connect(&m_hostReplies, &HostReplies::exceptionRaised, this, hook);
    connect(&m_queue, &OutgoingQueue::logLine, this, logger);
    connect(&m_queue, &OutgoingQueue::changed, this, &Koppeling::pakketUitChanged);

    connect(&m_log, &OperatorLog::lineAdded, this, &Koppeling::logLineAdded);
    connect(&m_log, &OperatorLog::cleared, this, &Koppeling::logCleared);
}

Koppeling::~Koppeling()
{
    finish();
}

// The intake makes the display list of every message only once something listens for it: the headless program never
// does. The window listens from its start to the program's end, so the lists are passed on from the first receiver
// on; undoing that when the last goes would have to happen inside disconnectNotify, where Qt may hold the lock that
// any connect or disconnect needs.
void Koppeling::connectNotify(const QMetaMethod &signal)
{
    if (signal == QMetaMethod::fromSignal(&Koppeling::pakketIn) && !m_pakketIn)
        m_pakketIn = connect(&m_intake, &RideIntake::pakketIn, this, &Koppeling::pakketIn);
}

bool Koppeling::start(QString *error)
{
    if (!m_store.LoadSettingsFile(error))
        return false;
    createWorkingFolders(m_programFolder);
    m_store.RestoreSettings(m_settings);
    // What an earlier run queued but never handed to the host goes first, whether feedback is on or not.
    m_queue.restore();
    m_started = true;
    m_timer1.start();
    m_retourZender.start();
    return true;
}

void Koppeling::Timer1Timer()
{
    m_timer1.stop();
    const QDateTime now = QDateTime::currentDateTime();
    // An archive that cannot be written ends the tick; the next tick tries again.
    if (m_log.housekeeping(now)) {
        m_lifecycle.startAutomatically(now);
        m_hostSender.sendNext();
    }
    if (!m_finished)
        m_timer1.start();
}

void Koppeling::RetourZenderTimer()
{
    m_retourZender.RetourZenderTimer();
}

void Koppeling::queueTestAcknowledgement()
{
    const QString text = AckNackNaarTekst(MaakAntwoord(QStringLiteral("AC"), 12345));
    m_queue.append(QString::fromLatin1(TekstNaarHex(text)));
}

void Koppeling::queueRideStatus(int planningRowId)
{
    m_statusBuilder.MaakStatusmelding(planningRowId);
}

QStringList Koppeling::pakketUitLines() const
{
    return m_queue.lines();
}

void Koppeling::setTimerIntervalsForTest(std::chrono::milliseconds retourZender, std::chrono::milliseconds timer1)
{
    m_retourZender.setIntervalForTest(retourZender);
    m_timer1.setInterval(timer1);
}

void Koppeling::setHostTimesForTest(std::chrono::milliseconds replyTimeout, std::chrono::milliseconds firstPause,
    std::chrono::milliseconds longestPause)
{
    m_hostSender.setTimesForTest(replyTimeout, firstPause, longestPause);
}

void Koppeling::setSettings(const Settings &settings)
{
    m_settings = settings;
}

void Koppeling::CaptureSettings()
{
    m_store.CaptureSettings(m_settings);
}

bool Koppeling::toggleServer(const QDateTime &now, QString *error)
{
    return m_lifecycle.toggle(now, error);
}

void Koppeling::setListenAddress(const QHostAddress &address)
{
    m_server.setAddress(address);
}

bool Koppeling::startStatusPort(quint16 port, QString *error)
{
#if !BSA_STATUS_PORT
    Q_UNUSED(port)
    if (error)
        *error = StatusPortMissing;
    return false;
#else
    if (m_statusServer)
        return true;
    auto metrics = std::make_unique<LinkMetrics>();
    const auto now = [this] {
        LinkMetrics::Now state;
        state.listening = m_server.isActive();
        state.databaseConfigured = !m_settings.xLoginServer.trimmed().isEmpty();
        state.connections = m_server.connections().size();
        state.statusWaiting = m_queue.lines().size();
        state.unansweredSince = m_hostSender.unansweredSince();
        state.unansweredRide = m_hostSender.waitingRide();
        return state;
    };
    auto server = std::make_unique<StatusServer>(*metrics, now);
    if (!server->listen(port, error))
        return false;

    // Counting is a handful of additions per ride, done in the signals the components give anyway.
    LinkMetrics *counter = metrics.get();
    connect(&m_intake, &RideIntake::answered, counter, &LinkMetrics::rideAnswered);
    connect(&m_server, &BSAServer::clientConnected, counter, &LinkMetrics::connectionAccepted);
    connect(&m_queue, &OutgoingQueue::appended, counter, &LinkMetrics::statusQueued);
    connect(&m_queue, &OutgoingQueue::takenBack, counter, &LinkMetrics::statusTakenBack);
    connect(&m_hostSender, &HostSender::lineSent, counter, &LinkMetrics::statusSent);
    connect(&m_hostSender, &HostSender::replyMissed, counter, &LinkMetrics::statusReplyMissed);
    connect(&m_hostReplies, &HostReplies::strayReply, counter, &LinkMetrics::strayHostReply);
    connect(&m_database, &Database::failed, counter, &LinkMetrics::databaseFailed);
    connect(&m_database, &Database::recovered, counter, &LinkMetrics::databaseRecovered);
    m_metrics = std::move(metrics);
    m_statusServer = std::move(server);
    m_log.Logger(QStringLiteral("Status voor de bewaking op http://127.0.0.1:%1/health en /metrics")
                     .arg(m_statusServer->port()));
    return true;
#endif
}

quint16 Koppeling::statusPort() const
{
    return m_statusServer ? m_statusServer->port() : 0;
}

bool Koppeling::isServerActive() const
{
    return m_server.isActive();
}

QStringList Koppeling::ST() const
{
    return m_lifecycle.ST();
}

bool Koppeling::hasPlanningDatabase() const
{
    return !m_settings.xLoginServer.trimmed().isEmpty();
}

QString Koppeling::noPlanningDatabaseNotice()
{
    return QStringLiteral("GEEN PLANNINGDATABASE INGESTELD: ELKE RIT KRIJGT NC.");
}

void Koppeling::Logger(const QString &message)
{
    m_log.Logger(message);
}

QStringList Koppeling::logLines() const
{
    return m_log.lines();
}

void Koppeling::editLog(const QStringList &lines)
{
    m_log.takeOperatorEdit(lines);
}

bool Koppeling::testDatabaseLogin(QString *error)
{
    QString reason;
    bool aborted = false;
    if (m_database.test(&reason, &aborted))
        return true;
    m_log.addLine(reason);
    if (!aborted)
        m_log.ApplicationEvents1Exception(reason);
    if (error)
        *error = reason;
    return false;
}

void Koppeling::closeDatabase()
{
    m_database.close();
}

bool Koppeling::isDatabaseOpen() const
{
    return m_database.isOpen();
}

bool Koppeling::closeConfirmed(const QDateTime &now)
{
    // Rides still waiting for a busy database are given up before the log is archived, so that the archive says so.
    m_intake.abandonWaiting();
    m_log.Logger(QStringLiteral("afsluiten software geaccepteerd"), now);
    if (!m_log.archive(now))
        return false;
    m_store.CaptureSettings(m_settings);
    return true;
}

bool Koppeling::finish(QString *error)
{
    if (m_finished)
        return true;
    m_finished = true;
    m_timer1.stop();
    m_intake.abandonWaiting();
    m_retourZender.stop();
    // Closing the server drops its connections without the disconnect handling: the list is not saved anyway.
    if (m_server.isActive())
        m_server.setActive(false);
    m_database.close();
    if (!m_started)
        return true; // a run that never read its settings must not overwrite the file with defaults
    if (!m_store.captured())
        m_store.CaptureSettings(m_settings);
    return m_store.WriteSettingsFile(error);
}
