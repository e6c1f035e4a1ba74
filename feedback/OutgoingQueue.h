#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The outgoing queue PakketUIT: the hexadecimal form of every message waiting for the BSA host, oldest first.
// Every change is also written to a file in the queue's folder, so that a line survives an exit or a crash of the
// link until it was handed to the connection; the file is replaced as a whole, never left half-written.
class OutgoingQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OutgoingQueue)
public:
    static constexpr char FileName[] = "PAKKETUIT.TXT";

    // `folder` holds the queue's file ("BSA/BACKUPS/UIT" in the program folder).
    explicit OutgoingQueue(const QString &folder, QObject *parent = nullptr);

    QString fileName() const { return m_fileName; }

    // Takes the lines of the file as the queue; until then the file is not written. A line that cannot be a queued
    // message (not an even number of upper-case hexadecimal digits, or cut off without its line end) is left out and
    // reported with its text, so that nothing vanishes unseen. No file is an empty queue.
    void restore();

    const QStringList &lines() const { return m_lines; }
    bool isEmpty() const { return m_lines.isEmpty(); }
    QString first() const { return m_lines.value(0); }
    // The file holds the queue as it is now: a crash would lose none of its lines.
    bool isSaved() const { return m_restored && m_lastFailure.isEmpty(); }

    void append(const QString &line);
    void removeFirst();
    // Takes back the line just appended, when it is still the last one: its message must not go out after all.
    bool takeBackLast(const QString &line);

signals:
    // The whole queue after every change.
    void changed(const QStringList &lines);
    // A message was queued, or the one just queued was taken back.
    void appended();
    void takenBack();
    // What the operator must know: lines restored or left out, and a file that could not be written or read.
    void logLine(const QString &message);

private:
    void changedNow();
    void saveAndReport();
    bool save(QString *error);

    QString m_fileName;
    QStringList m_lines;
    bool m_restored = false; // the file is only written once it was read
    QString m_lastFailure; // the last write failure reported, so that a full disk is not reported every second
};
