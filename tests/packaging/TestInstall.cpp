#include <QtTest>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "shell/ProgramFolderLock.h"
#include "tests/support/FreePort.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"

// `cmake --install` into a scratch root, and what the package makes of the installed files: every file in its place
// and nothing else, the service's own command answering a ride on the shipped settings, a service unit that
// systemd accepts, and maintainer scripts that the shell can read.
class TestInstall final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void installsExactlyTheseFiles();
    void theServiceCommandAnswersARideOnTheShippedSettings();
    void theLinkInBinRunsTheProgramInItsOwnFolder();
    void theDesktopEntryStartsTheWindow();
    void theManualPageNamesEveryOptionAndExitStatus();
    void systemdAcceptsTheServiceUnit();
    void theServiceIsNotStartedAgainForWhatNoStartMends();
    void theMaintainerScriptsParse_data();
    void theMaintainerScriptsParse();

private:
    // A path below the installation prefix, inside the scratch root.
    QString installed(const QString &relative) const { return m_prefix + QLatin1Char('/') + relative; }

    QTemporaryDir m_root;
    QString m_prefix;
};

namespace {
// The value of the first "Key=" line of a unit file or a desktop entry.
QString keyValue(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(key + '='))
            return QString::fromUtf8(line.mid(key.size() + 1)).trimmed();
    }
    return {};
}

// Asks the program to stop as systemd does and checks that it went through its close sequence.
void stopAsTheServiceManagerDoes(ProgramRun &program)
{
    QCOMPARE(program.stop(), 0); // SIGTERM
    QVERIFY2(program.output().contains("afsluiten software geaccepteerd"), program.output().constData());
}
} // namespace

void TestInstall::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_prefix = m_root.path() + QStringLiteral(BSA_INSTALL_PREFIX);

    QProcess install;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), m_root.path());
    install.setProcessEnvironment(environment);
    install.start(QStringLiteral(BSA_CMAKE_COMMAND), { QStringLiteral("--install"), QStringLiteral(BSA_BUILD_DIR) });
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
        install.readAllStandardError().constData());
}

void TestInstall::installsExactlyTheseFiles()
{
    // The updater lies beside the program: the program looks for it in its own folder.
    const QStringList expected = {
        QStringLiteral("bin/bsa-sim"),
        QStringLiteral("bin/korvelbsa"),
        QStringLiteral("lib/korvelbsa/KorvelBSA"),
        QStringLiteral("lib/korvelbsa/KorvelUpdater"),
        QStringLiteral("lib/systemd/system/korvelbsa.service"),
        QStringLiteral("share/applications/korvelbsa.desktop"),
        QStringLiteral("share/doc/korvelbsa/README.md"),
        QStringLiteral("share/doc/korvelbsa/administration.md"),
        QStringLiteral("share/doc/korvelbsa/bsa-sim.md"),
        QStringLiteral("share/doc/korvelbsa/changelog.gz"),
        QStringLiteral("share/doc/korvelbsa/copyright"),
        QStringLiteral("share/doc/korvelbsa/examples/allow-bsa.conf"),
        QStringLiteral("share/doc/korvelbsa/examples/korvelbsa-logs.conf"),
        QStringLiteral("share/doc/korvelbsa/operator.md"),
        QStringLiteral("share/doc/korvelbsa/performance-intake.png"),
        QStringLiteral("share/doc/korvelbsa/performance.md"),
        QStringLiteral("share/icons/hicolor/scalable/apps/korvelbsa.svg"),
        QStringLiteral("share/korvelbsa/KorvelBSA.xml"),
        QStringLiteral("share/korvelbsa/sql/postgresql/schema.sql"),
        QStringLiteral("share/korvelbsa/sql/sqlite/schema.sql"),
        QStringLiteral("share/korvelbsa/sql/sqlserver/schema.sql"),
        QStringLiteral("share/man/man8/korvelbsa.8.gz"),
    };
    QStringList found;
    QDirIterator files(m_root.path(), QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext())
        found << QDir(m_prefix).relativeFilePath(files.next());
    found.sort();
    QCOMPARE(found, expected);

    for (const char *program : { "bin/bsa-sim", "lib/korvelbsa/KorvelBSA", "lib/korvelbsa/KorvelUpdater" })
        QVERIFY2(QFileInfo(installed(program)).isExecutable(), qPrintable(program));
    const QFileInfo link(installed("bin/korvelbsa"));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), QFileInfo(installed("lib/korvelbsa/KorvelBSA")).absoluteFilePath());
}

void TestInstall::theServiceCommandAnswersARideOnTheShippedSettings()
{
    const QByteArray unit = readFile(installed("lib/systemd/system/korvelbsa.service"));
    QStringList command = keyValue(unit, "ExecStart").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(command.size() > 1, unit.constData());
    QVERIFY(command.contains("--headless"));
    const qsizetype home = command.indexOf("--home");
    QVERIFY(home > 0 && home + 1 < command.size());

    // The program folder as postinst leaves it: the shipped settings, readable by the service user only. The
    // service listens on the default port; here a free one is added, as a drop-in would.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString settings = folder.filePath("KorvelBSA.xml");
    QVERIFY(QFile::copy(installed("share/korvelbsa/KorvelBSA.xml"), settings));
    QVERIFY(QFile::setPermissions(settings, QFile::ReadOwner | QFile::WriteOwner));
    command[home + 1] = folder.path();
    const quint16 port = freeLoopbackPort();
    command << "--server-port" << QString::number(port);

    ProgramRun program;
    QVERIFY(program.start(m_root.path() + command.takeFirst(), command));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());

    QProcess bsa;
    bsa.start(installed("bin/bsa-sim"), { "send", "--port", QString::number(port), "--ride", "4711" });
    QVERIFY(bsa.waitForFinished(30000));
    const QByteArray answer = bsa.readAllStandardOutput();
    QVERIFY2(
        bsa.exitCode() == 0 && answer.contains("AC BSA 6 4711"), (answer + bsa.readAllStandardError()).constData());
    QVERIFY2(program.waitFor("<ACK - (BN) VERWERKT>"), program.output().constData());
    // The shipped settings let in the simulator on this machine, without opening the port to every address.
    QVERIFY2(!program.output().contains("BSAToegestaneAdressen"), program.output().constData());

    stopAsTheServiceManagerDoes(program);
    QVERIFY(QFile::exists(folder.filePath("BSA/planning.db")));
    QVERIFY(readFile(settings).contains("<xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>"));
}

void TestInstall::theLinkInBinRunsTheProgramInItsOwnFolder()
{
    // Started through bin/korvelbsa, the program still takes the folder of the program file as its own: the
    // updater is found there and the working folders go there, not into bin/.
    ProgramRun program;
    QVERIFY(program.start(
        installed("bin/korvelbsa"), { "--headless", "--server-port", QString::number(freeLoopbackPort()) }));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());
    stopAsTheServiceManagerDoes(program);
    QVERIFY(QFile::exists(installed("lib/korvelbsa/KorvelBSA.xml")));
    QVERIFY(QDir(installed("lib/korvelbsa/BSA/LOGS")).exists());
    QVERIFY(!QFile::exists(installed("bin/KorvelBSA.xml")));
    QVERIFY(!QDir(installed("bin/BSA")).exists());
}

void TestInstall::theDesktopEntryStartsTheWindow()
{
    const QByteArray entry = readFile(installed("share/applications/korvelbsa.desktop"));
    QCOMPARE(keyValue(entry, "Type"), QStringLiteral("Application"));
    const QStringList exec = keyValue(entry, "Exec").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(!exec.isEmpty(), entry.constData());
    QVERIFY2(!exec.contains("--headless"), entry.constData());
    QCOMPARE(QFileInfo(installed("bin/" + exec.first())).canonicalFilePath(),
        QFileInfo(installed("lib/korvelbsa/KorvelBSA")).canonicalFilePath());
    QVERIFY(QFile::exists(installed("share/icons/hicolor/scalable/apps/" + keyValue(entry, "Icon") + ".svg")));
}

// The manual page is written by hand: it must not fall behind the program's own --help.
void TestInstall::theManualPageNamesEveryOptionAndExitStatus()
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), { QStringLiteral("-dc"), installed("share/man/man8/korvelbsa.8.gz") });
    QVERIFY(gzip.waitForFinished(10000));
    QCOMPARE(gzip.exitCode(), 0);
    // roff writes a hyphen that must stay one as "\-".
    const QString page
        = QString::fromUtf8(gzip.readAllStandardOutput()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QVERIFY(page.startsWith(QStringLiteral(".TH KORVELBSA 8")));

    QProcess help;
    help.start(installed("lib/korvelbsa/KorvelBSA"), { QStringLiteral("--help") });
    QVERIFY(help.waitForFinished(10000));
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    QStringList options;
    QRegularExpressionMatchIterator option
        = QRegularExpression(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*")).globalMatch(text);
    while (option.hasNext())
        options << option.next().captured(0);
    options.removeDuplicates();
    QVERIFY2(options.size() >= 8, qPrintable(text));
    for (const QString &name : std::as_const(options))
        QVERIFY2(page.contains(QStringLiteral(".B ") + name) || page.contains(QStringLiteral(".BI ") + name + ' '),
            qPrintable(name));

    const qsizetype from = text.indexOf(QStringLiteral("Exit status:"));
    QVERIFY2(from >= 0, qPrintable(text));
    QRegularExpressionMatchIterator status
        = QRegularExpression(QStringLiteral("(\\d): "))
              .globalMatch(text.mid(from, text.indexOf(QStringLiteral("\n\n"), from) - from));
    int statuses = 0;
    while (status.hasNext()) {
        const QString code = status.next().captured(1);
        QVERIFY2(page.contains(QStringLiteral(".TP\n.B ") + code + QLatin1Char('\n')), qPrintable(code));
        ++statuses;
    }
    QCOMPARE(statuses, 5);
}

void TestInstall::systemdAcceptsTheServiceUnit()
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    const QDir units(QStringLiteral("/usr/lib/systemd/system"));
    if (analyze.isEmpty() || !units.exists(QStringLiteral("sysinit.target")))
        QSKIP("systemd is not installed here");

    // A root of its own, holding what systemd-analyze looks at: this machine's units (the unit's dependencies),
    // the service unit and the program its ExecStart names.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(root.filePath("usr/lib/systemd/system")));
    for (const QFileInfo &file : units.entryInfoList(QDir::Files | QDir::System))
        QVERIFY(QFile::copy(file.filePath(), root.filePath("usr/lib/systemd/system/" + file.fileName())));
    const QString unit = QStringLiteral(BSA_INSTALL_PREFIX "/lib/systemd/system/korvelbsa.service");
    const QString program = QStringLiteral(BSA_INSTALL_PREFIX "/lib/korvelbsa/KorvelBSA");
    for (const QString &file : { unit, program }) {
        QVERIFY(QDir().mkpath(QFileInfo(root.path() + file).path()));
        QVERIFY(QFile::copy(m_root.path() + file, root.path() + file));
    }

    QProcess verify;
    verify.start(analyze, { "verify", "--root=" + root.path(), "korvelbsa.service" });
    QVERIFY(verify.waitForFinished(60000));
    // systemd-analyze only warns about unknown keys and values it cannot read, and still exits 0.
    const QByteArray said = verify.readAllStandardOutput() + verify.readAllStandardError();
    QVERIFY2(verify.exitCode() == 0 && said.isEmpty(), said.constData());
}

void TestInstall::theServiceIsNotStartedAgainForWhatNoStartMends()
{
    // A damaged settings file (1), a wrong command line or folder (2), another copy in the program folder: starting
    // again only fills the journal until systemd gives up.
    const QByteArray unit = readFile(installed("lib/systemd/system/korvelbsa.service"));
    const QStringList statuses = keyValue(unit, "RestartPreventExitStatus").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const int status : { 1, 2, ProgramFolderLock::InUseExitStatus })
        QVERIFY2(statuses.contains(QString::number(status)), qPrintable(statuses.join(u' ')));
    QCOMPARE(keyValue(unit, "Restart"), QStringLiteral("on-failure"));
}

void TestInstall::theMaintainerScriptsParse_data()
{
    QTest::addColumn<QString>("script");
    for (const char *script : { "postinst", "prerm", "postrm" })
        QTest::newRow(script) << QStringLiteral(BSA_MAINTAINER_SCRIPTS "/") + QLatin1String(script);
}

void TestInstall::theMaintainerScriptsParse()
{
    QFETCH(QString, script);
    QVERIFY(QFileInfo(script).isExecutable());
    QVERIFY(readFile(script).startsWith("#!/bin/sh\n"));
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), { "-n", script });
    QVERIFY(shell.waitForFinished(10000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
