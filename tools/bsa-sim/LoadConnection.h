#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include "codec/EnvelopeFramer.h"

class QTcpSocket;

// One of the connections of `bsa-sim load`: writes a message, whole or in random pieces with short gaps, and
// hands back every answer envelope that comes in on it.
class LoadConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoadConnection)
public:
    LoadConnection(bool fragment, quint32 seed, QObject *parent);

    void open(const QString &host, quint16 port);
    void send(const QByteArray &wire);
    // Ends the connection without reporting it as lost.
    void close();

signals:
    void ready(LoadConnection *connection);
    // The last byte of the message was handed to the socket.
    void written(LoadConnection *connection);
    void answerReceived(LoadConnection *connection, const QByteArray &payload);
    void lost(LoadConnection *connection, const QString &reason);

private:
    void writeNextPiece();
    void readAvailable();

    QTcpSocket *m_socket = nullptr;
    EnvelopeFramer m_framer;
    bool m_fragment = false;
    QRandomGenerator m_random;
    QList<QByteArray> m_pieces; // the rest of a fragmented message, in order
    QTimer m_gap;
    bool m_closing = false;
};
