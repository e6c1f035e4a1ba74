#include "RideSender.h"

#include <QTcpSocket>

#include "Answers.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"

namespace {
constexpr char StartTag[] = "<ZORVAN>";
constexpr char EndTag[] = "<EINDE>";
constexpr qsizetype StartTagLength = sizeof(StartTag) - 1;
constexpr qsizetype EndTagLength = sizeof(EndTag) - 1;

// Unexpected bytes as an operator can read them: printable ASCII as is, anything else as <hex>.
QString shown(QByteArrayView bytes)
{
    QString text;
    for (char c : bytes.first(std::min<qsizetype>(bytes.size(), 80))) {
        if (c >= 32 && c < 127)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("<%1>").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return bytes.size() > 80 ? text + QStringLiteral("...") : text;
}
} // namespace

RideSender::RideSender(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_retry.stop();
            fail(QStringLiteral("No connection to %1 within %2 ms%3")
                     .arg(m_peer)
                     .arg(m_timeout.count())
                     .arg(m_lastRefusal.isEmpty() ? QString() : QStringLiteral(": ") + m_lastRefusal));
        } else if (m_crlfExpected && m_received.contains(EndTag)) {
            fail(QStringLiteral("The answer to ride %1 has no CR LF after <EINDE>")
                     .arg(m_messages.at(m_next).rideNumber));
        } else {
            fail(QStringLiteral("No answer to ride %1 within %2 ms")
                     .arg(m_messages.at(m_next).rideNumber)
                     .arg(m_timeout.count()));
        }
    });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        sendNext();
    });
    connect(m_socket, &QIODevice::readyRead, this, &RideSender::readAvailable);
    // A link that is still starting refuses the connection: tried again until the deadline, so that a script may
    // start the link and send at once.
    m_retry.setSingleShot(true);
    m_retry.setInterval(100);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        m_socket->abort();
        m_socket->connectToHost(m_host, m_port);
    });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::ConnectionRefusedError && !m_connected && !m_done && m_deadline.isActive()) {
            m_lastRefusal = m_socket->errorString();
            m_retry.start();
            return;
        }
        fail(QStringLiteral("Connection to %1: %2").arg(m_peer, m_socket->errorString()));
    });
}

void RideSender::start(const QString &host, quint16 port, const QList<Message> &messages)
{
    m_messages = messages;
    m_peer = QStringLiteral("%1:%2").arg(host).arg(port);
    m_next = 0;
    m_ok = true;
    m_done = false;
    m_received.clear();
    m_host = host;
    m_port = port;
    m_connected = false;
    m_lastRefusal.clear();
    m_deadline.start(m_timeout);
    m_socket->connectToHost(host, port);
}

void RideSender::sendNext()
{
    if (m_done)
        return;
    if (m_next >= m_messages.size()) {
        finish();
        return;
    }
    m_socket->write(Inpakken(m_messages.at(m_next).text, false));
    m_deadline.start(m_timeout);
}

void RideSender::readAvailable()
{
    m_received.append(m_socket->readAll());
    if (m_done)
        return;
    while (!m_done && takeAnswer()) {
        ++m_next;
        sendNext();
    }
    if (!m_done && m_received.size() > EnvelopeFramer::MaxBuffered)
        fail(QStringLiteral("%1 bytes came without an envelope's end tag").arg(m_received.size()));
}

bool RideSender::takeAnswer()
{
    const qsizetype end = m_received.indexOf(EndTag);
    if (end < 0)
        return false;
    qsizetype after = end + EndTagLength;
    if (m_crlfExpected) {
        if (m_received.size() < after + 2)
            return false; // CR LF may follow in the next read; the deadline bounds the wait
        if (m_received.mid(after, 2) == "\r\n") {
            after += 2;
        } else {
            m_ok = false;
            emit problem(QStringLiteral("The answer to ride %1 has no CR LF after <EINDE>")
                             .arg(m_messages.at(m_next).rideNumber));
        }
    } else if (after < m_received.size() && (m_received.at(after) == '\r' || m_received.at(after) == '\n')) {
        m_ok = false;
        emit problem(QStringLiteral("The answer to ride %1 ends in CR LF, which was not expected "
                                    "(use --crlf-expected when the link sends it)")
                         .arg(m_messages.at(m_next).rideNumber));
        while (after < m_received.size() && (m_received.at(after) == '\r' || m_received.at(after) == '\n'))
            ++after;
    }

    const QByteArray answerBytes = m_received.left(end);
    m_received.remove(0, after);
    const qsizetype start = answerBytes.lastIndexOf(StartTag);
    if (start != 0) {
        m_ok = false;
        emit problem(start < 0 ? QStringLiteral("An answer came without <ZORVAN>: %1").arg(shown(answerBytes))
                               : QStringLiteral("Unexpected bytes before an answer: %1")
                                     .arg(shown(QByteArrayView(answerBytes).first(start))));
        if (start < 0)
            return true;
    }

    const Message &message = m_messages.at(m_next);
    tAckNackBSA answer;
    QString error;
    if (!Answers::read(QByteArrayView(answerBytes).sliced(start + StartTagLength), &answer, &error)) {
        m_ok = false;
        emit problem(QStringLiteral("The answer to ride %1 cannot be read: %2").arg(message.rideNumber).arg(error));
        return true;
    }
    emit answerReceived(Answers::describe(answer));
    if (answer.Soort != QLatin1String("AC")) {
        m_ok = false;
        emit problem(
            QStringLiteral("Ride %1 was not accepted: the answer is \"%2\"").arg(message.rideNumber).arg(answer.Soort));
    } else if (answer.BSRitnummer != message.rideNumber) {
        m_ok = false;
        emit problem(QStringLiteral("The answer to ride %1 carries ride number %2")
                         .arg(message.rideNumber)
                         .arg(answer.BSRitnummer));
    }
    return true;
}

void RideSender::fail(const QString &message)
{
    if (m_done)
        return;
    m_ok = false;
    emit problem(message);
    finish();
}

void RideSender::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    m_retry.stop();
    m_socket->disconnectFromHost();
    emit finished(m_ok);
}
