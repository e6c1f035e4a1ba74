#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// The updater's one job: once the program has ended, put the downloaded version in place of the program file and
// start the program again. When the new version cannot be put in place, does not start, or has ended again before
// the settle time is over, the old program stays (or is put back) and is started instead. Everything it does goes into
// "KorvelUpdater.log" beside the program.
class ProgramReplacer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgramReplacer)
public:
    static constexpr int WaitSeconds = 60; // the program's own ending: settings written, connections closed
    // Milliseconds the new version must keep running to count as started (10 s unless this variable says otherwise).
    static constexpr char SettleVariable[] = "KORVEL_UPDATER_SETTLE_MS";

    // pid: the program to wait for; 0 when there is none to wait for.
    ProgramReplacer(const QString &download, const QString &programFile, qint64 pid, const QStringList &arguments,
        QObject *parent = nullptr);

    // The download's minisign signature file and the version it must name. The copy that is about to take the
    // program's place is checked against it and the keys built in; without a valid signature nothing is replaced.
    void setSignature(const QString &signatureFile, const QString &version);

    // Waits for the program to end, then replaces and restarts it; finished() tells the exit code.
    void run();

    QString logPath() const;

signals:
    void finished(int exitCode);

private:
    void poll();
    void replace();
    void settled();
    void putPreviousBack();
    bool startProgram(qint64 *startedPid = nullptr);
    bool readSignature(QByteArray *signature, QString *error) const;
    void log(const QString &line);
    void end(int exitCode);

    QString m_download;
    QString m_program;
    qint64 m_pid = 0;
    QStringList m_arguments;
    QString m_signatureFile;
    QString m_version;
    QFile m_log;
    QTimer m_poll;
    QDeadlineTimer m_deadline;
    int m_settleMs = 0;
    QTimer m_settle;
    qint64 m_newPid = 0;
    bool m_hadProgram = false;
    QFileDevice::Permissions m_permissions;
};

// Whether a process of that id is still running (a process that ended but was not yet reaped counts as ended).
bool isProcessRunning(qint64 pid);
