#include "UpdaterHandOff.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

namespace UpdaterHandOff {

QString updaterPath(const QString &programFile)
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("KorvelUpdater.exe");
#else
    const QString name = QStringLiteral("KorvelUpdater");
#endif
    return QFileInfo(programFile).absoluteDir().filePath(name);
}

QString quotedPath(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString unquotedPath(const QString &parameter)
{
    if (parameter.size() >= 2 && parameter.startsWith(u'\'') && parameter.endsWith(u'\''))
        return parameter.mid(1, parameter.size() - 2);
    return parameter;
}

QString encodeArguments(const QStringList &arguments)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact));
}

QStringList decodeArguments(const QString &text)
{
    QStringList arguments;
    for (const QJsonValue &value : QJsonDocument::fromJson(text.toUtf8()).array())
        arguments << value.toString();
    return arguments;
}

bool startUpdater(const QString &updater, const Download &download, const QString &programFile,
    const QStringList &programArguments, QString *error)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(ProgramPidVariable), QString::number(QCoreApplication::applicationPid()));
    environment.insert(QString::fromLatin1(ProgramFileVariable), QFileInfo(programFile).absoluteFilePath());
    environment.insert(QString::fromLatin1(ProgramArgumentsVariable), encodeArguments(programArguments));
    environment.insert(QString::fromLatin1(SignatureVariable), QFileInfo(download.signature).absoluteFilePath());
    environment.insert(QString::fromLatin1(VersionVariable), download.version);

    QProcess process;
    process.setProgram(updater);
    process.setArguments({ quotedPath(download.file) });
    process.setProcessEnvironment(environment);
    // The updater outlives this program, and so would a pipe it inherited: whoever reads this program's output
    // may be gone by the time the updater writes. It keeps its own log file instead.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        *error = QStringLiteral("%1 kan niet gestart worden: %2").arg(updater, process.errorString());
        return false;
    }
    return true;
}

} // namespace UpdaterHandOff
