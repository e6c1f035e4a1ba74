#include "OperatorLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "codec/AnsiCodePage.h"
#include "platform/DateTimeText.h"

OperatorLog::OperatorLog(const QString &programFolder, QObject *parent)
    : QObject(parent)
    , m_programFolder(programFolder)
{ }

void OperatorLog::Logger(const QString &message)
{
    Logger(message, QDateTime::currentDateTime());
}

void OperatorLog::Logger(const QString &message, const QDateTime &now)
{
    addLine(timeStamp(now) + QStringLiteral(" - ") + message);
}

void OperatorLog::addLine(const QString &line)
{
    // The log counts what it shows: a message holding line breaks takes one line per displayed line.
    if (!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n'))) {
        m_lines.append(line); // the usual case, without the cost of a split on every line
        emit lineAdded(line);
        return;
    }
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList shown = line.split(lineBreak);
    for (const QString &part : shown) {
        m_lines.append(part);
        emit lineAdded(part);
    }
}

void OperatorLog::setLines(const QStringList &lines)
{
    m_lines.clear();
    emit cleared();
    for (const QString &line : lines)
        addLine(line);
}

void OperatorLog::ApplicationEvents1Exception(const QString &message)
{
    if (message.contains(QLatin1String("10053")))
        return;
    Logger(message);
}

QString OperatorLog::archiveFolder() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("BSA/LOGS"));
}

QString OperatorLog::archiveFileName(const QDateTime &now) const
{
    return QDir(archiveFolder()).filePath(QStringLiteral("BS_") + archiveStamp(now) + QStringLiteral(".TXT"));
}

bool OperatorLog::archive(const QDateTime &now, QString *error)
{
    const QString path = archiveFileName(now);
    QByteArray bytes;
    for (const QString &line : std::as_const(m_lines)) {
        bytes += AnsiCodePage::encode(line);
        bytes += "\r\n";
    }

    // Two archives in the same second share a name: the second is added to the first, so no lines are lost.
    QFile file(path);
    bool saved = file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
    if (saved) {
        file.close();
        saved = file.error() == QFileDevice::NoError;
    }
    if (!saved) {
        const QString message = QStringLiteral("Logboek kan niet bewaard worden in %1: %2")
                                    .arg(QDir::toNativeSeparators(path), file.errorString());
        if (error)
            *error = message;
        // Logged as the exception hook would, but without its "10053" filter: the file name's own stamp can
        // hold those digits (an archive made at 10:05:30), and this failure must never go unseen.
        Logger(message, now);
        return false;
    }
    m_lines.clear();
    emit cleared();
    return true;
}

bool OperatorLog::housekeeping(const QDateTime &now)
{
    if (lineCount() <= MaxLines)
        return true;
    return archive(now);
}

QString OperatorLog::timeStamp(const QDateTime &now)
{
    return DateTimeText::log(now);
}

QString OperatorLog::archiveStamp(const QDateTime &now)
{
    return now.toString(QStringLiteral("ddMMyyhhmmssMs"));
}
