#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What handling one ride message comes to: the operator log lines before its answer, the answer, and the lines
// that follow once the answer went out. It is written down while the ride is stored and carried out once its batch
// has committed, so that BSA never hears "AC" for a ride that is not stored yet and each ride's lines stay together.
struct RideOutcome
{
    struct LogEntry
    {
        enum class Kind { Line, Raw, Exception }; // a time-stamped line, a line without stamp, an error
        Kind kind = Kind::Line;
        QString text;
    };

    QList<LogEntry> before;
    bool answers = false;
    QString answerText; // the answer record in its text form, not yet enveloped
    QList<LogEntry> after; // left out when the answer cannot be sent

    void log(const QString &line) { before.append({ LogEntry::Kind::Line, line }); }
    void logRaw(const QString &line) { before.append({ LogEntry::Kind::Raw, line }); }
    void logException(const QString &message) { before.append({ LogEntry::Kind::Exception, message }); }

    // The answer, followed by the "CO: " line and then `lines`.
    void answer(const QString &soort, int ritnummer, const QStringList &lines);
    // The answer, followed by `lines` in which an empty entry stands for the "CO: " line.
    void answerThenLog(const QString &soort, int ritnummer, const QStringList &lines);
    // BSA learns only that the message was not handled: "NC" with ride number 0, as the message may not even have had
    // one.
    void refuseInGeneral();
};
