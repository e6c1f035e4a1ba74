#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Reports each reply of the BSA host in the operator log. A reply changes nothing else: a refusal ("NC") is
// logged like an acceptance and nothing is sent again because of it.
class HostReplies final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HostReplies)
public:
    explicit HostReplies(QObject *parent = nullptr);

    // One complete envelope from the host: `payload` holds the hexadecimal digits between its tags. Logs the
    // envelope ("CI: "), then the reply's kind, value and ride number; a reply of fewer than four fields goes to
    // exceptionRaised after the first line.
    void BSAClientRead(const QByteArray &payload);

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);
};
