#include "LoadConnection.h"

#include <algorithm>
#include <chrono>

#include <QTcpSocket>

namespace {
constexpr int MaxPieces = 5;
constexpr int MaxGapMs = 2;
} // namespace

LoadConnection::LoadConnection(bool fragment, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_fragment(fragment)
    , m_random(seed)
{
    m_gap.setSingleShot(true);
    m_gap.setTimerType(Qt::PreciseTimer);
    connect(&m_gap, &QTimer::timeout, this, &LoadConnection::writeNextPiece);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        // Pieces must leave as separate segments, and small answers must not wait for Nagle's algorithm.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit ready(this);
    });
    connect(m_socket, &QIODevice::readyRead, this, &LoadConnection::readAvailable);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this] {
        if (!m_closing) {
            m_closing = true;
            m_gap.stop();
            emit lost(this, m_socket->errorString());
        }
    });
}

void LoadConnection::open(const QString &host, quint16 port)
{
    m_socket->connectToHost(host, port);
}

void LoadConnection::send(const QByteArray &wire)
{
    if (!m_fragment || wire.size() < 2) {
        m_socket->write(wire);
        emit written(this);
        return;
    }
    const int pieces = std::min<int>(m_random.bounded(2, MaxPieces + 1), int(wire.size()));
    QList<qsizetype> cuts;
    while (cuts.size() < pieces - 1) {
        const qsizetype cut = m_random.bounded(1, int(wire.size()));
        if (!cuts.contains(cut))
            cuts << cut;
    }
    std::sort(cuts.begin(), cuts.end());
    m_pieces.clear();
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        m_pieces << wire.mid(from, cut - from);
        from = cut;
    }
    m_pieces << wire.mid(from);
    writeNextPiece();
}

void LoadConnection::close()
{
    m_closing = true;
    m_gap.stop();
    m_socket->disconnectFromHost();
}

void LoadConnection::writeNextPiece()
{
    if (m_pieces.isEmpty() || m_closing)
        return;
    m_socket->write(m_pieces.takeFirst());
    if (m_pieces.isEmpty())
        emit written(this);
    else
        m_gap.start(std::chrono::milliseconds(m_random.bounded(MaxGapMs + 1)));
}

void LoadConnection::readAvailable()
{
    m_framer.append(m_socket->readAll());
    while (std::optional<QByteArray> payload = m_framer.takeEnvelope()) {
        if (m_closing)
            return;
        emit answerReceived(this, *payload);
    }
    if (m_framer.bufferedSize() > EnvelopeFramer::MaxBuffered) {
        m_framer.clear();
        if (!m_closing) {
            m_closing = true;
            emit lost(this, QStringLiteral("more than %1 bytes without an envelope").arg(EnvelopeFramer::MaxBuffered));
        }
    }
}
