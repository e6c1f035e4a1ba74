#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// The outgoing queue PakketUIT: the hexadecimal form of every message waiting for the BSA host, oldest first.
// Every change is also written to the queue's folder, so that a line survives an exit or a crash of the link until
// it was handed to the connection. The file holds one line per message (CR LF), as every earlier version wrote and
// read it: a new line is appended to it, and a line sent stays in it while a small side file records how far sending
// got; the file is only written anew once its sent part has grown large. After a crash a line may go to the host
// twice, never not at all.
class OutgoingQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OutgoingQueue)
public:
    static constexpr char FileName[] = "PAKKETUIT.TXT";
    // How many bytes at the start of the queue's file were sent, and a hash chained over those lines: a file that
    // does not start with exactly those lines (an earlier version writes it anew without its sent lines, and knows
    // nothing of this file) is sent from its start.
    static constexpr char ProgressFileName[] = "PAKKETUIT.VERZONDEN";
    // The sent lines are cut from the file once they take more than this and more than the lines still waiting.
    static constexpr qint64 CompactBytes = 1024 * 1024;

    // `folder` holds the queue's files ("BSA/BACKUPS/UIT" in the program folder).
    explicit OutgoingQueue(const QString &folder, QObject *parent = nullptr);

    QString fileName() const { return m_fileName; }
    QString progressFileName() const { return m_progressFileName; }

    // Takes the lines of the file that were not sent as the queue; until then the files are not written. A line that
    // cannot be a queued message (not an even number of upper-case hexadecimal digits, or cut off without its line
    // end) is left out and reported with its text, so that nothing vanishes unseen. No file is an empty queue.
    void restore();

    const QStringList &lines() const { return m_lines; }
    bool isEmpty() const { return m_lines.isEmpty(); }
    QString first() const { return m_lines.value(0); }
    // The file holds the queue as it is now: a crash would lose none of its lines.
    bool isSaved() const { return m_restored && !m_fileBehind && m_unsavedLines == 0; }

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
    void restoreFrom(const QByteArray &bytes, bool progressPresent);
    void setAside(const QString &reason);
    bool fileInStep() const;
    bool makeFolder(QString *error);
    void writeNewLines();
    void writeWhole();
    bool replaceFile(QString *failure);
    bool appendToFile(QString *failure);
    void cutLastLine(qsizetype lineBytes);
    void recordSent(const QString &line);
    bool forgetProgress(QString *failure);
    void reportSaved();
    void reportProgressSaved();
    void reportFailure(const QString &message);
    void scheduleRetry();
    void retrySave();
    QString failure(const QString &fileName, const QString &reason) const;
    QString savedAgain(const QString &fileName) const;

    QString m_fileName;
    QString m_progressFileName;
    QStringList m_lines; // the lines not sent yet
    bool m_restored = false; // the files are only written once they were read
    // Where the file stands: its size as the link left it, the sent lines at its start and their chained hash.
    qint64 m_fileSize = 0;
    qint64 m_sentBytes = 0;
    QByteArray m_sentHash;
    qsizetype m_unsavedLines = 0; // the last lines of the queue, which a failed append left out of the file
    bool m_fileBehind = false; // the file's content is not known: the next change writes it whole
    QString m_lastFailure; // the last write failure reported, so that a full disk is not reported every second
    QString m_lastProgressFailure;
    // A write that failed is tried again without waiting for the next change, which may be hours away: after a
    // second, then at doubling intervals up to a minute. On Windows a moment's reader of the file (a virus scanner,
    // a backup) is enough to make its replacement fail.
    QTimer m_retry;
    int m_retryDelay = FirstRetryMs;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 60 * 1000;
};
