#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QDateTime;

// The operator log: every line the link has to tell its operator, archived to "BSA/LOGS" when it grows long and
// at close. Its owner shows each new line (the window, or standard output when headless).
class OperatorLog final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OperatorLog)
public:
    static constexpr int MaxLines = 5000; // housekeeping archives a log that holds more

    explicit OperatorLog(const QString &programFolder, QObject *parent = nullptr);

    // Appends "dd-mm-yyyy hh:nn:ss - " and the message.
    void Logger(const QString &message);
    void Logger(const QString &message, const QDateTime &now);
    // Appends a line without time stamp. A text holding line breaks gives one line per displayed line.
    void addLine(const QString &line);
    // Replaces the whole content, as the operator's own edits or the database test do.
    void setLines(const QStringList &lines);
    // The operator's own edit of the shown log: the log holds these lines from now on. Nothing is signalled, since
    // the view that was edited shows them already.
    void takeOperatorEdit(const QStringList &lines) { m_lines = lines; }
    // Where every error that no handler answered ends up. An aborted connection (Winsock 10053) is normal
    // when BSA hangs up, so it is left out.
    void ApplicationEvents1Exception(const QString &message);

    QStringList lines() const { return m_lines; }
    int lineCount() const { return int(m_lines.size()); }

    // Appends every line to "BSA/LOGS/BS_<stamp>.TXT" and empties the log. On failure the error is logged through
    // the exception hook, the log keeps its lines and false is returned.
    bool archive(const QDateTime &now, QString *error = nullptr);
    // The once-a-second check: archives a log of more than MaxLines lines. False when that archive failed, which
    // ends the tick.
    bool housekeeping(const QDateTime &now);

    QString archiveFolder() const;
    QString archiveFileName(const QDateTime &now) const;

    // "09-12-2025 14:03:07"
    static QString timeStamp(const QDateTime &now);
    // "091225140307127": day, month, year, hour, minute, second, then month and second without leading zero.
    static QString archiveStamp(const QDateTime &now);

signals:
    void lineAdded(const QString &line);
    void cleared();

private:
    QString m_programFolder;
    QStringList m_lines;
};
