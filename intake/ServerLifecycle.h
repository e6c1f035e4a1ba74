#pragma once

#include <QDateTime>
#include <QObject>
#include <QStringList>

class BSAConnection;
class BSAServer;
struct Settings;

// Starts and stops the listening endpoint for BSA, by the operator's button or automatically, and keeps the
// list of connected BSA peers (ST) that the operator sees.
class ServerLifecycle final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServerLifecycle)
public:
    ServerLifecycle(BSAServer &server, const Settings &settings, QObject *parent = nullptr);

    // Starts the endpoint when it is stopped, stops it when it listens. A failure is logged and nothing else
    // happens.
    void BtnExecuteClick(const QDateTime &now);
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
    void start(const QDateTime &now);
    void stop(const QDateTime &now);
    QString statusLine(const QDateTime &now, const char *what) const;

    BSAServer &m_server;
    const Settings &m_settings;
    QStringList m_st;
};
