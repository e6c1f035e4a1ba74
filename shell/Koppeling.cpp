#include "Koppeling.h"

#include <chrono>

#include <QDateTime>

#include "platform/BSAConnection.h"
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
{
    m_timer1.setInterval(Timer1Interval);
    connect(&m_timer1, &QTimer::timeout, this, &Koppeling::Timer1Timer);

    const auto logger = [this](const QString &message) { m_log.Logger(message); };
    const auto hook = [this](const QString &message) { m_log.ApplicationEvents1Exception(message); };
    connect(&m_lifecycle, &ServerLifecycle::logLine, this, logger);
    connect(&m_lifecycle, &ServerLifecycle::stChanged, this, &Koppeling::stChanged);
    connect(&m_server, &BSAServer::envelopeReceived, &m_intake, &RideIntake::BSAServerClientRead);
    connect(&m_server, &BSAServer::errorOccurred, this, hook);
    connect(&m_server, &BSAServer::bufferDropped, this, [this](const QString &peer) {
        m_log.Logger(QStringLiteral("SI: ONVOLLEDIG BERICHT VAN %1 GROTER DAN 1 MB, VERWORPEN").arg(peer));
    });
    connect(&m_intake, &RideIntake::logLine, this, logger);
    connect(&m_intake, &RideIntake::rawLogLine, &m_log, &OperatorLog::addLine);
    connect(&m_intake, &RideIntake::exceptionRaised, this, hook);
    connect(&m_intake, &RideIntake::pakketIn, this, &Koppeling::pakketIn);
    connect(&m_log, &OperatorLog::lineAdded, this, &Koppeling::logLineAdded);
    connect(&m_log, &OperatorLog::cleared, this, &Koppeling::logCleared);
}

Koppeling::~Koppeling()
{
    finish();
}

bool Koppeling::start(QString *error)
{
    if (!m_store.LoadSettingsFile(error))
        return false;
    createWorkingFolders(m_programFolder);
    m_store.RestoreSettings(m_settings);
    m_started = true;
    m_timer1.start();
    return true;
}

void Koppeling::Timer1Timer()
{
    m_timer1.stop();
    const QDateTime now = QDateTime::currentDateTime();
    // An archive that cannot be written ends the tick; the next tick tries again.
    if (m_log.housekeeping(now))
        m_lifecycle.startAutomatically(now);
    if (!m_finished)
        m_timer1.start();
}

void Koppeling::setSettings(const Settings &settings)
{
    m_settings = settings;
}

void Koppeling::CaptureSettings()
{
    m_store.CaptureSettings(m_settings);
}

void Koppeling::BtnExecuteClick(const QDateTime &now)
{
    m_lifecycle.BtnExecuteClick(now);
}

bool Koppeling::isServerActive() const
{
    return m_server.isActive();
}

QStringList Koppeling::ST() const
{
    return m_lifecycle.ST();
}

QStringList Koppeling::logLines() const
{
    return m_log.lines();
}

bool Koppeling::Button3Click(QString *error)
{
    QString reason;
    if (m_database.test(&reason))
        return true;
    m_log.addLine(reason);
    m_log.ApplicationEvents1Exception(reason);
    if (error)
        *error = reason;
    return false;
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
