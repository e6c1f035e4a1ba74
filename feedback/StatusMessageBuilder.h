#pragma once

#include <QObject>
#include <QString>

class Database;
class OutgoingQueue;
struct Settings;

// Builds the status message of one planning row and puts it at the end of the outgoing queue.
class StatusMessageBuilder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusMessageBuilder)
public:
    StatusMessageBuilder(Database &database, const Settings &settings, OutgoingQueue &queue, QObject *parent = nullptr);

    // Reads the row with this pla_id, logs the message's text and queues its hexadecimal form. A row that does not
    // exist or has no BSA ride number gets no message, which is a success too. False when feedback is off (then
    // nothing is read) or when the row could not be read; that error has gone to exceptionRaised. *queuedLine is
    // the line queued, or empty when none was.
    bool MaakStatusmelding(int plaId, QString *queuedLine = nullptr);

signals:
    void rawLogLine(const QString &line); // logged without a time stamp
    void exceptionRaised(const QString &message);

private:
    Database &m_database;
    const Settings &m_settings;
    OutgoingQueue &m_queue;
};
