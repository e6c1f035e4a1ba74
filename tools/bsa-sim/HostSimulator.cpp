#include "HostSimulator.h"

#include <QTcpSocket>

#include "Answers.h"
#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"

namespace {

struct StatusField
{
    int number;
    const char *name;
};

// The fields of a status message that carry something of the ride; the others hold fixed values.
constexpr StatusField StatusFields[] = {
    { 1, "Soort" },
    { 2, "Waarde" },
    { 3, "Code" },
    { 4, "BSRitnummer" },
    { 5, "TijdToewijzen" },
    { 7, "Wagen" },
    { 14, "TijdBestemmen" },
    { 20, "TijdVrijmelden" },
    { 25, "LVlagTekst" },
    { 26, "LVlag" },
    { 29, "BedragCenten" },
    { 30, "Bedrijfsnummer" },
};

QString peerOf(const QTcpSocket *socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

HostSimulator::HostSimulator(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HostSimulator::accept);
}

bool HostSimulator::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server.listen(address, port)) {
        emit logLine(QStringLiteral("Listening on %1:%2").arg(address.toString()).arg(m_server.serverPort()));
        return true;
    }
    if (error)
        *error = QStringLiteral("Cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_server.errorString());
    return false;
}

QString HostSimulator::statusFieldName(int number)
{
    for (const StatusField &field : StatusFields) {
        if (field.number == number)
            return QString::fromLatin1(field.name);
    }
    return QString();
}

void HostSimulator::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_framers.insert(socket, EnvelopeFramer());
        const QString peer = peerOf(socket);
        emit logLine(QStringLiteral("Link connected from %1").arg(peer));
        connect(socket, &QIODevice::readyRead, this, [this, socket] { readAvailable(socket); });
        connect(socket, &QIODevice::bytesWritten, this, [this, socket] {
            if (m_flood)
                floodMore(socket);
            if (m_countReached)
                finishWhenWritten();
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket, peer] {
            emit logLine(QStringLiteral("Link disconnected from %1").arg(peer));
            m_framers.remove(socket);
            socket->deleteLater(); // never inside its own signal
            if (m_countReached)
                finishWhenWritten();
        });
        // Data may have come with the connection, before readyRead was connected.
        if (socket->bytesAvailable() > 0)
            readAvailable(socket);
        if (m_flood)
            floodMore(socket);
    }
}

void HostSimulator::floodMore(QTcpSocket *socket)
{
    // Enough to keep the system's buffers full, not so much that the simulator's own memory grows.
    constexpr qint64 Ahead = 256 * 1024;
    static const QByteArray batch = [] {
        const QByteArray one = Inpakken(AckNackNaarTekst(MaakAntwoord(QStringLiteral("AC"), 0)), false);
        return one.repeated(int(64 * 1024 / one.size()));
    }();
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < Ahead)
        socket->write(batch);
}

void HostSimulator::readAvailable(QTcpSocket *socket)
{
    auto framer = m_framers.find(socket);
    if (framer == m_framers.end())
        return;
    const QByteArray bytes = socket->readAll();
    emit bytesReceived(bytes);
    framer->append(bytes);
    while (!m_countReached) {
        const std::optional<QByteArray> payload = framer->takeEnvelope();
        if (!payload)
            break;
        handle(socket, *payload);
    }
    if (framer->bufferedSize() > EnvelopeFramer::MaxBuffered) {
        framer->clear(); // a link that never ends its envelope must not grow our memory without bound
        emit logLine(QStringLiteral("Dropped %1 bytes from %2 that never formed an envelope")
                         .arg(EnvelopeFramer::MaxBuffered)
                         .arg(peerOf(socket)));
    }
}

void HostSimulator::handle(QTcpSocket *socket, const QByteArray &payload)
{
    const QString text = HexNaarTekst(payload);
    QStringList fields = SplitsVelden(text);
    // The link ends every field of a status message with a TAB: the empty piece after the last one is no field.
    if (text.endsWith(u'\t') && fields.size() > 1)
        fields.removeLast();
    ++m_handled;
    emit messageReceived(fields);

    emit logLine(
        QStringLiteral("Message %1 from %2, %3 fields:").arg(m_handled).arg(peerOf(socket)).arg(fields.size()));
    emit logLine(QStringLiteral("  <ZORVAN>%1<EINDE>").arg(QString::fromLatin1(payload)));
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = statusFieldName(i + 1);
        emit logLine(QStringLiteral("  %1 %2 %3").arg(i + 1, 2).arg(name, -15).arg(fields.at(i)));
    }

    bool numeric = false;
    int ritnummer = fields.size() >= 4 ? fields.at(3).trimmed().toInt(&numeric) : 0;
    if (!numeric) {
        ritnummer = 0;
        emit logLine(QStringLiteral("  (no ride number in field 4: answering for ride 0)"));
    }

    if (m_answer != Answer::None) {
        const tAckNackBSA answer
            = MaakAntwoord(m_answer == Answer::Accept ? QStringLiteral("AC") : QStringLiteral("NC"), ritnummer);
        socket->write(Inpakken(AckNackNaarTekst(answer), false));
        emit logLine(QStringLiteral("Answered %1").arg(Answers::describe(answer)));
    }

    if (m_count > 0 && m_handled >= m_count) {
        m_countReached = true;
        finishWhenWritten();
    }
}

void HostSimulator::finishWhenWritten()
{
    if (m_finished)
        return;
    for (auto it = m_framers.cbegin(); it != m_framers.cend(); ++it) {
        if (it.key()->bytesToWrite() > 0)
            return;
    }
    m_finished = true;
    m_server.close();
    emit finished();
}
