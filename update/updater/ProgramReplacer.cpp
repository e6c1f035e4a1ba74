#include "ProgramReplacer.h"

#include <cstdio>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#else
#include <QHash>

#include <qt_windows.h>
#endif

#include "update/ProgramFiles.h"
#include "update/UpdateSignature.h"
#include "update/UpdaterHandOff.h"

namespace {

constexpr std::chrono::milliseconds PollInterval { 100 };
constexpr int DefaultSettleMs = 10000;

QString previousCopy(const QString &program)
{
    return program + QStringLiteral(".vorige");
}

// The program's run bits must survive, whatever the download's permissions were.
QFileDevice::Permissions programPermissions(const QString &program)
{
    const QFileInfo info(program);
    if (info.exists())
        return info.permissions();
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser
        | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::ExeOther;
}

// How long a started program must keep running to count as started; the environment may shorten it.
int settleMilliseconds()
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue(ProgramReplacer::SettleVariable, &ok);
    return ok && fromEnvironment >= 0 ? fromEnvironment : DefaultSettleMs;
}

QString secondsText(int milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0);
}

} // namespace

bool isProcessRunning(qint64 pid)
{
#ifdef Q_OS_UNIX
    if (pid <= 0)
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    // A zombie has ended; only its parent has not collected it yet. Field 3 of /proc/<pid>/stat is its state.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype afterName = line.lastIndexOf(')');
        if (afterName >= 0 && line.size() > afterName + 2 && line.at(afterName + 2) == 'Z')
            return false;
    }
    return true;
#else
    if (pid <= 0)
        return false;
    // The process's handle is opened at the first look and kept: it stays the program's own even when Windows gives
    // its number to another process once it has ended.
    static QHash<qint64, HANDLE> handles;
    HANDLE process = handles.value(pid, nullptr);
    if (!process) {
        process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
        if (!process)
            return GetLastError() == ERROR_ACCESS_DENIED; // it runs, as another user
        handles.insert(pid, process);
    }
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
#endif
}

ProgramReplacer::ProgramReplacer(
    const QString &download, const QString &programFile, qint64 pid, const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , m_download(download)
    , m_program(QFileInfo(programFile).absoluteFilePath())
    , m_pid(pid)
    , m_arguments(arguments)
    , m_log(logPath())
    , m_settleMs(settleMilliseconds())
{
    m_poll.setInterval(PollInterval);
    connect(&m_poll, &QTimer::timeout, this, &ProgramReplacer::poll);
    m_settle.setSingleShot(true);
    m_settle.setInterval(m_settleMs);
    connect(&m_settle, &QTimer::timeout, this, &ProgramReplacer::settled);
}

void ProgramReplacer::setSignature(const QString &signatureFile, const QString &version)
{
    m_signatureFile = signatureFile;
    m_version = version;
}

bool ProgramReplacer::readSignature(QByteArray *signature, QString *error) const
{
    if (m_signatureFile.isEmpty() || m_version.isEmpty()) {
        *error = QStringLiteral("er is geen handtekening of versie meegegeven");
        return false;
    }
    QFile file(m_signatureFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error
            = QStringLiteral("de handtekening %1 kan niet gelezen worden: %2").arg(m_signatureFile, file.errorString());
        return false;
    }
    *signature = file.read(64 * 1024); // a signature file is a few hundred bytes
    return true;
}

QString ProgramReplacer::logPath() const
{
    return QFileInfo(m_program).absoluteDir().filePath(QStringLiteral("KorvelUpdater.log"));
}

void ProgramReplacer::log(const QString &line)
{
    const QString stamped
        = QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss")) + QStringLiteral(" - ") + line;
    std::fprintf(stderr, "KorvelUpdater: %s\n", qPrintable(line));
    if (!m_log.isOpen() && !m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    m_log.write(stamped.toUtf8() + '\n');
    m_log.flush();
}

void ProgramReplacer::run()
{
    log(QStringLiteral("Update van %1 met %2").arg(m_program, m_download));
    m_deadline = QDeadlineTimer(std::chrono::seconds(WaitSeconds));
    if (isProcessRunning(m_pid)) {
        log(QStringLiteral("Wacht tot het programma (proces %1) beëindigd is").arg(m_pid));
        m_poll.start();
        return;
    }
    replace();
}

void ProgramReplacer::poll()
{
    if (isProcessRunning(m_pid)) {
        if (!m_deadline.hasExpired())
            return;
        m_poll.stop();
        // Two copies must never run against the same database and port: leave everything as it is.
        log(QStringLiteral("Het programma (proces %1) is na %2 seconden nog niet beëindigd; niets vervangen")
                .arg(m_pid)
                .arg(WaitSeconds));
        end(2);
        return;
    }
    m_poll.stop();
    replace();
}

void ProgramReplacer::replace()
{
    const QFileInfo download(m_download);
    if (!download.isFile() || download.size() == 0) {
        log(QStringLiteral("De download %1 ontbreekt of is leeg; het oude programma blijft").arg(m_download));
        end(startProgram() ? 1 : 3);
        return;
    }

    QString error;
    QByteArray signature;
    QString keysProblem;
    const QList<UpdateSignature::PublicKey> keys
        = UpdateSignature::keysOfSetting(UpdateSignature::builtInKeysSetting(), &keysProblem);
    if (!keysProblem.isEmpty() || !readSignature(&signature, &error)) {
        log(QStringLiteral("De download wordt niet geplaatst: %1; het oude programma blijft")
                .arg(keysProblem.isEmpty() ? error : keysProblem));
        end(startProgram() ? 1 : 3);
        return;
    }
    // Checked on the copy itself, as it is written: a file changed since the program checked the download is
    // never run.
    const QString expectedComment = UpdateSignature::expectedComment(m_program, m_version);
    const CopyCheck signatureHolds = [&](const QByteArray &copyHash, QString *reason) {
        const QString failed = UpdateSignature::check(copyHash, signature, keys, expectedComment);
        if (failed.isEmpty())
            return true;
        *reason = QStringLiteral("de handtekening klopt niet: %1").arg(failed);
        return false;
    };

    const QFileDevice::Permissions permissions = programPermissions(m_program);
    const QString previous = previousCopy(m_program);
    const bool hadProgram = QFileInfo::exists(m_program);
    if (hadProgram && !copyFileReplacing(m_program, previous, permissions, &error)) {
        log(QStringLiteral("Geen kopie van het oude programma: %1; het oude programma blijft").arg(error));
        end(startProgram() ? 1 : 3);
        return;
    }
    // Copied beside the program and renamed over it in one step: a rename from another file system would fail,
    // and the program file is never half written.
    if (!copyFileReplacing(m_download, m_program, permissions, &error, signatureHolds)) {
        log(QStringLiteral("Het nieuwe programma kan niet geplaatst worden: %1; het oude programma blijft").arg(error));
        QFile::remove(previous);
        end(startProgram() ? 1 : 3);
        return;
    }
    log(QStringLiteral("Het nieuwe programma staat op zijn plaats"));
    m_hadProgram = hadProgram;
    m_permissions = permissions;
    if (startProgram(&m_newPid)) {
        // A new version that cannot run here (a library missing) ends at once: the old one stays at hand until the
        // new one has kept running for a while.
        m_settle.start();
        return;
    }
    putPreviousBack();
}

void ProgramReplacer::settled()
{
    if (isProcessRunning(m_newPid)) {
        log(QStringLiteral("Het nieuwe programma (proces %1) draait na %2 seconden nog")
                .arg(m_newPid)
                .arg(secondsText(m_settleMs)));
        QFile::remove(previousCopy(m_program));
        QFile::remove(m_download);
        QFile::remove(m_download + QStringLiteral(".minisig")); // its signature, which the program saved beside it
        end(0);
        return;
    }
    log(QStringLiteral("Het nieuwe programma (proces %1) is binnen %2 seconden na de start gestopt")
            .arg(m_newPid)
            .arg(secondsText(m_settleMs)));
    putPreviousBack();
}

void ProgramReplacer::putPreviousBack()
{
    if (!m_hadProgram) {
        end(3);
        return;
    }
    const QString previous = previousCopy(m_program);
    QString error;
    if (!copyFileReplacing(previous, m_program, m_permissions, &error)) {
        log(QStringLiteral("Het oude programma kan niet teruggezet worden: %1 (kopie in %2)").arg(error, previous));
        end(3);
        return;
    }
    QFile::remove(previous);
    log(QStringLiteral("Het oude programma is teruggezet"));
    end(startProgram() ? 1 : 3);
}

bool ProgramReplacer::startProgram(qint64 *startedPid)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(UpdaterHandOff::ProgramPidVariable));
    environment.remove(QString::fromLatin1(UpdaterHandOff::ProgramFileVariable));
    environment.remove(QString::fromLatin1(UpdaterHandOff::ProgramArgumentsVariable));
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(m_arguments);
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        log(QStringLiteral("%1 kan niet gestart worden: %2").arg(m_program, process.errorString()));
        return false;
    }
    log(QStringLiteral("%1 gestart (proces %2)").arg(m_program).arg(pid));
    if (startedPid)
        *startedPid = pid;
    return true;
}

void ProgramReplacer::end(int exitCode)
{
    log(QStringLiteral("Klaar (%1)").arg(exitCode));
    emit finished(exitCode);
}
