#pragma once

#include <chrono>

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "codec/RitBSA.h"
#include "intake/IntakeQueue.h"
#include "intake/RideOutcome.h"
#include "intake/RideWriter.h"

class BSAConnection;
class Database;
struct Settings;

// Handles each ride message BSA sends: stores the ride in the planning table, journals it and answers "AC" or
// "NC" on the connection that delivered it.
//
// The envelopes that come in together, on one connection or on several, are stored as one batch in one transaction
// at the next turn of the event loop; each ride's answer and log lines follow once the batch has committed, in each
// connection's order. A statement that fails rolls the batch back, and its rides are stored again one by one, so
// that only the ride that fails gets "NC"; a database that cannot be reached, or did not answer within its bound,
// gets the rest of the batch refused at once, and the next batch connects anew. A database that is busy with another
// program's lock makes the batch wait and try again from a timer, while the event loop goes on; only when that lasts
// longer than busyBound() do its rides get "NC".
class RideIntake final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RideIntake)
public:
    static constexpr int MaxBatch = 64; // rides in one transaction
    static constexpr int MaxPerConnection = 16; // of one connection in one batch
    static constexpr std::chrono::milliseconds DefaultBusyBound { 5000 };
    // A connection with this many envelopes, or this many bytes of them, waiting is read no further until it is
    // down to the release marks: a peer that sends faster than the database stores is held back by TCP instead of
    // filling the link's memory. The bytes count because an envelope may be as large as a megabyte; the bound on
    // all connections together keeps many such peers from adding up.
    static constexpr qsizetype HoldReadingAt = 256;
    static constexpr qsizetype ReleaseReadingAt = 64;
    static constexpr qsizetype HoldReadingBytes = 4 * 1024 * 1024;
    static constexpr qsizetype ReleaseReadingBytes = 1024 * 1024;
    static constexpr qsizetype HoldAllReadingBytes = 64 * 1024 * 1024;
    static constexpr qsizetype ReleaseAllReadingBytes = 32 * 1024 * 1024;

    RideIntake(Database &database, const Settings &settings, QObject *parent = nullptr);
    ~RideIntake() override;

    // One complete envelope: `payload` holds the hexadecimal digits between its tags. It waits for the next batch.
    void BSAServerClientRead(BSAConnection *connection, const QByteArray &payload);

    // Envelopes received and not answered yet.
    qsizetype waiting() const;
    // Bytes of the envelopes that wait for a batch.
    qsizetype waitingBytes() const { return m_queue.bytes(); }
    // The program ends: the envelopes still waiting are given up and one line says how many. None of them is stored
    // or answered, so BSA sends them again.
    void abandonWaiting();

    std::chrono::milliseconds busyBound() const { return m_busyBound; }
    void setBusyBound(std::chrono::milliseconds bound) { m_busyBound = bound; }

signals:
    void logLine(const QString &message);
    void rawLogLine(const QString &line); // logged without a time stamp
    void exceptionRaised(const QString &message);
    // The fields of the message just handled, for "Pakket IN"; only made while something is connected to it.
    void pakketIn(const QStringList &fields);
    // An answer was handed to the connection: the message's kind (Soort, empty when it could not be read), whether
    // it was "AC", and the time from the envelope's arrival until then.
    void answered(const QString &soort, bool accepted, std::chrono::nanoseconds latency);

private:
    struct Ride
    {
        IntakeQueue::Envelope envelope;
        tRitBSA rit;
        QString text; // the message as read, for "Pakket IN"; null when it could not be read
        bool usesDatabase = false;
        RideOutcome intro; // what the message gives before the database is asked
        RideOutcome outcome;
    };
    enum class Stored { Committed, Busy, Failed, Unavailable };

    void runBatch();
    void takeBatch();
    void releaseReading();
    Ride prepare(IntakeQueue::Envelope envelope) const;
    Stored store(qsizetype from, qsizetype to, QString *error);
    bool retryLater();
    void refuse(Ride &ride, const QString &error, bool keepLines);
    void finishRide(Ride &ride);
    bool sendAnswer(const Ride &ride, QString *error);
    void emitLines(const QList<RideOutcome::LogEntry> &entries);

    Database &m_database;
    const Settings &m_settings;
    RideWriter m_writer;
    IntakeQueue m_queue;
    QList<QPointer<BSAConnection>> m_held; // connections whose reading waits for their envelopes to be stored
    QList<Ride> m_batch; // taken from the queue, not answered yet from m_next on
    qsizetype m_next = 0;
    bool m_together = true; // false once the batch is stored ride by ride
    QTimer m_pass; // the next batch, at the next turn of the event loop
    QTimer m_retry; // the batch again, after the database was busy
    std::chrono::milliseconds m_retryDelay {};
    std::chrono::milliseconds m_busyBound = DefaultBusyBound;
    QElapsedTimer m_clock;
};
