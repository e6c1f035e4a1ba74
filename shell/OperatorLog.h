#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "platform/DateTimeText.h"

class QDateTime;

// The operator log: every line the link has to tell its operator, archived to "BSA/LOGS" when it grows long and
// at close. Its owner shows each new line (the window, or standard output when headless).
class OperatorLog final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OperatorLog)
public:
    static constexpr int MaxLines = 5000; // housekeeping archives a log that holds more
    // A line longer than this keeps its start and says how long it was; a whole ride message is far shorter.
    static constexpr qsizetype MaxLineLength = 16 * 1024;
    // A log that holds more characters than this is archived at once, so that no archive write holds up the
    // event loop for long and a flood of large messages cannot fill the memory.
    static constexpr qsizetype MaxCharacters = 8 * 1024 * 1024;
    // An archive of the same second is added to the file of that second only while that file stays within this
    // size; past it the archive goes to a file of its own for that second, "BS_<stamp>_2.TXT" and on. A flood of log
    // lines thus gives more files, never one that grows without bound.
    static constexpr qint64 MaxArchiveBytes = 2 * MaxCharacters;
    // How many files one second may have; a log cannot fill more in a second.
    static constexpr int MaxArchivesPerSecond = 1000;

    explicit OperatorLog(const QString &programFolder, QObject *parent = nullptr);

    // Appends "dd-mm-yyyy hh:nn:ss - " and the message.
    void Logger(const QString &message);
    void Logger(const QString &message, const QDateTime &now);
    // Appends a line without time stamp, as shown().
    void addLine(const QString &line);
    // The operator's own edit of the shown log: the log holds these lines from now on. Nothing is signalled, since
    // the view that was edited shows them already.
    void takeOperatorEdit(const QStringList &lines);
    // Where every error that no handler answered ends up. An aborted connection (Winsock 10053) is normal
    // when BSA hangs up, so it is left out.
    void ApplicationEvents1Exception(const QString &message);

    QStringList lines() const { return m_lines; }
    int lineCount() const { return int(m_lines.size()); }
    // The characters of every line, the line ends counted as the archive writes them (CR LF).
    qsizetype characterCount() const { return m_characters; }

    // Appends every line to "BSA/LOGS/BS_<stamp>.TXT" (or the next file of that second, see MaxArchiveBytes) and
    // empties the log. A new archive is readable by its owner only, whatever the umask (it holds passengers' names and
    // addresses); an existing one keeps its mode. A symbolic link in the archive's place is refused, never followed.
    // On failure the error is logged, the log keeps its lines and false is returned.
    bool archive(const QDateTime &now, QString *error = nullptr);
    // The once-a-second check: archives a log of more than MaxLines lines or MaxCharacters characters. False when
    // that archive failed, which ends the tick.
    bool housekeeping(const QDateTime &now);

    QString archiveFolder() const;
    // The archive of that second: "BS_<stamp>.TXT" for the first file (part 1), "BS_<stamp>_<part>.TXT" after it.
    QString archiveFileName(const QDateTime &now, int part = 1) const;

    // "09-12-2025 14:03:07"
    static QString timeStamp(const QDateTime &now);
    // "091225140307127": day, month, year, hour, minute, second, then month and second without leading zero.
    static QString archiveStamp(const QDateTime &now);

    // A text as the log shows it, always on one line: BSA's line break ESC "L" "F" as "#CRLF#", every other control
    // character but TAB as its code between "#" ("#0D#" for CR, "#0A#" for LF, "#1B#" for ESC), and the part
    // beyond MaxLineLength replaced by a note of the whole length.
    static QString shown(const QString &text);

signals:
    void lineAdded(const QString &line);
    void cleared();

private:
    void addStamped(const QString &stamp, const QString &message);
    void append(const QString &line);
    void archiveLarge();
    QString archiveTarget(const QDateTime &now, qint64 size, QString *reason) const;

    QString m_programFolder;
    QStringList m_lines;
    DateTimeText::LogStamps m_stamps; // of the lines logged now
    qsizetype m_characters = 0;
    QTimer m_archiveLarge; // the archive of a log past MaxCharacters, at the next turn of the event loop
    bool m_lastArchiveFailed = false; // then only housekeeping tries again, once a second
};
