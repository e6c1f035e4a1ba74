#pragma once

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QStringList>

#include "platform/AllowList.h"

class BSAConnection;
class BSAServer;
class QHostAddress;
struct Settings;

// Starts and stops the listening endpoint for BSA, by the operator's button or automatically, and keeps the
// list of connected BSA peers (ST) that the operator sees. Lets in only the peers that BSAToegestaneAdressen allows,
// read at every accept.
class ServerLifecycle final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServerLifecycle)
public:
    ServerLifecycle(BSAServer &server, const Settings &settings, QObject *parent = nullptr);
    ~ServerLifecycle() override;

    // Starts the endpoint when it is stopped, stops it when it listens. A start that fails is logged and nothing
    // else happens: false, with the logged reason.
    bool toggle(const QDateTime &now, QString *error = nullptr);
    // Part of the one-second tick: keeps the endpoint started while BSAAuto is on, retrying a failed start.
    void startAutomatically(const QDateTime &now);

    // Peer addresses in the order they connected; "DISCONNECTED_UNIT" marks an entry found stale.
    const QStringList &ST() const { return m_st; }

    void BSAServerClientConnect(BSAConnection *connection);
    void BSAServerClientDisconnect(BSAConnection *connection);

signals:
    void logLine(const QString &message);
    void stChanged(const QStringList &st);

private:
    bool start(const QDateTime &now, QString *error = nullptr);
    void stop(const QDateTime &now);
    QString statusLine(const QDateTime &now, const char *what) const;
    bool admits(const QHostAddress &peer);
    void readAllowList();
    void logRefusal(const QHostAddress &peer);

    BSAServer &m_server;
    const Settings &m_settings;
    QStringList m_st;
    QString m_allowText; // the text m_allowList was read from
    AllowList m_allowList;
    bool m_allowListRead = false;
    QHash<quint32, QDeadlineTimer> m_refusalLogged; // per refused address: until when it is not logged again
};
