#include "ServerLifecycle.h"

#include <chrono>

#include <QHostAddress>

#include "platform/BSAConnection.h"
#include "platform/BSAServer.h"
#include "settings/Settings.h"

namespace {
const QString StaleEntry = QStringLiteral("DISCONNECTED_UNIT");
// A refused address is logged once in this time, however often it tries.
constexpr std::chrono::minutes RefusalLogInterval { 1 };
// Refused addresses remembered at most; past that the ones whose minute is over are forgotten.
constexpr qsizetype MaxRefusalsRemembered = 4096;
} // namespace

ServerLifecycle::ServerLifecycle(BSAServer &server, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_settings(settings)
{
    connect(&m_server, &BSAServer::clientConnected, this, &ServerLifecycle::BSAServerClientConnect);
    connect(&m_server, &BSAServer::clientDisconnected, this, &ServerLifecycle::BSAServerClientDisconnect);
    m_server.setPeerFilter([this](const QHostAddress &peer) { return admits(peer); });
}

ServerLifecycle::~ServerLifecycle()
{
    m_server.setPeerFilter({});
}

bool ServerLifecycle::toggle(const QDateTime &now, QString *error)
{
    if (!m_server.isActive())
        return start(now, error);
    stop(now);
    return true;
}

void ServerLifecycle::startAutomatically(const QDateTime &now)
{
    if (m_settings.BSAAuto && !m_server.isActive())
        start(now);
}

// The line carries a time stamp of its own besides the one the log puts in front; operators are used to it.
QString ServerLifecycle::statusLine(const QDateTime &now, const char *what) const
{
    return now.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")) + QStringLiteral(" - BSA Callcenter Server werd ")
        + QLatin1String(what) + QStringLiteral(" op adres ") + m_server.localHostName() + QStringLiteral(" via poort ")
        + m_settings.BSAServerPoort;
}

bool ServerLifecycle::start(const QDateTime &now, QString *error)
{
    // The port is read at every start, so an edit made while listening counts from the next start on. Port 0
    // would listen on a port of the system's choosing, where BSA never looks.
    bool isNumber = false;
    const int port = m_settings.BSAServerPoort.trimmed().toInt(&isNumber);
    QString reason;
    bool started = false;
    if (!isNumber || port < 1 || port > 65535) {
        reason = QStringLiteral("'%1' is geen geldig poortnummer").arg(m_settings.BSAServerPoort);
    } else {
        m_server.setPort(quint16(port));
        started = m_server.setActive(true, &reason);
    }
    if (!started) {
        emit logLine(reason);
        if (error)
            *error = reason;
        return false;
    }
    // Connections already waiting are announced by the event loop after this handler returns; letting events
    // run from inside here would allow a second start while this one is under way.
    emit logLine(statusLine(now, "gestart"));
    // Said at every start: a port open to everyone, or closed to everyone by a list that cannot be read.
    m_allowListRead = false;
    readAllowList();
    return true;
}

// Read at every accept, like every setting, so that an edit counts from the next connection on.
bool ServerLifecycle::admits(const QHostAddress &peer)
{
    readAllowList();
    if (m_allowList.allows(peer))
        return true;
    logRefusal(peer);
    return false;
}

// A list that is empty or cannot be read is logged whenever it is read anew: at the start, and after each change.
void ServerLifecycle::readAllowList()
{
    if (m_allowListRead && m_allowText == m_settings.BSAToegestaneAdressen)
        return;
    m_allowListRead = true;
    m_allowText = m_settings.BSAToegestaneAdressen;
    m_allowList = AllowList::fromText(m_allowText);
    if (m_allowList.isEmpty()) {
        emit logLine(QStringLiteral("SI: WAARSCHUWING: BSAToegestaneAdressen IS LEEG, ELK ADRES MAG VERBINDEN"));
    } else if (!m_allowList.badEntry().isEmpty()) {
        emit logLine(QStringLiteral("SI: BSAToegestaneAdressen ONLEESBAAR: '%1' IS GEEN IPV4-ADRES OF -NETWERK, "
                                    "ALLE VERBINDINGEN WORDEN GEWEIGERD")
                         .arg(m_allowList.badEntry()));
    }
}

void ServerLifecycle::logRefusal(const QHostAddress &peer)
{
    bool isIPv4 = false;
    const quint32 address = peer.toIPv4Address(&isIPv4);
    const auto it = m_refusalLogged.constFind(address);
    if (it != m_refusalLogged.cend() && !it->hasExpired())
        return;
    if (m_refusalLogged.size() >= MaxRefusalsRemembered)
        m_refusalLogged.removeIf([](const auto &entry) { return entry.value().hasExpired(); });
    m_refusalLogged.insert(address, QDeadlineTimer(RefusalLogInterval));
    emit logLine(QStringLiteral("SI: VERBINDING VAN %1 GEWEIGERD: NIET IN BSAToegestaneAdressen")
                     .arg(isIPv4 ? QHostAddress(address).toString() : peer.toString()));
}

void ServerLifecycle::stop(const QDateTime &now)
{
    // Closing the server drops its connections without a disconnect, so their entries stay in ST.
    QString error;
    if (!m_server.setActive(false, &error)) {
        emit logLine(error);
        return;
    }
    emit logLine(statusLine(now, "gestopt"));
}

void ServerLifecycle::BSAServerClientConnect(BSAConnection *connection)
{
    const QString address = connection->peerAddress();
    const qsizetype earlier = m_st.indexOf(address);
    if (earlier >= 0)
        m_st[earlier] = StaleEntry; // a peer that reconnects has lost its old connection without a goodbye
    m_st.append(address);
    emit stChanged(m_st);
    emit logLine(QStringLiteral("Verbinding met ") + address);
}

void ServerLifecycle::BSAServerClientDisconnect(BSAConnection *connection)
{
    const QString address = connection->peerAddress();
    if (m_st.removeOne(address))
        emit stChanged(m_st);
    emit logLine(QStringLiteral("Verbinding verbroken ") + address);
}
