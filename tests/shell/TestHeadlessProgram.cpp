#include <optional>

#include <QtTest>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "tests/support/FreePort.h"
#include "tools/bsa-sim/RideMessageBuilder.h"

// KorvelBSA as a service manager runs it (--headless) and as a desktop starts it (with its window): it must listen,
// answer BSA, and leave its settings and a log archive behind when it is told to stop.
class TestHeadlessProgram final : public QObject
{
    Q_OBJECT
private slots:
    void answersARideAndEndsCleanlyOnSigterm();
    void refusesToStartOnADamagedSettingsFile();
    void reportsASettingsFileItCannotWriteAtTheEnd();
    void commandLine_data();
    void commandLine();
    void withoutADisplayTheWindowGivesWayToHeadless();
    void theWindowEndsThroughTheCloseSequenceOnSigterm();
};

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Waits, bounded, until the program's standard output holds the text.
bool waitForOutput(QProcess &process, QByteArray &output, const QByteArray &text, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!output.contains(text) && !deadline.hasExpired()) {
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(200);
        output += process.readAllStandardOutput();
    }
    return output.contains(text);
}
} // namespace

void TestHeadlessProgram::answersARideAndEndsCleanlyOnSigterm()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeFile(home.filePath("KorvelBSA.xml"),
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <FormVersion>0</FormVersion>\r\n"
        "    <xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>\r\n"
        "  </Hoofdscherm>\r\n</Configuration>\r\n");
    const quint16 port = freeLoopbackPort();

    QProcess program;
    program.start(KORVELBSA_PROGRAM, { "--headless", "--home", home.path(), "--server-port", QString::number(port) });
    QVERIFY(program.waitForStarted(5000));
    QByteArray output;
    QVERIFY2(waitForOutput(program, output, "BSA Callcenter Server werd gestart"), output.constData());
    QVERIFY(output.contains(" via poort " + QByteArray::number(port)));

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(bsa.waitForConnected(5000));
    RideMessageBuilder ride(4711, QDateTime::currentDateTime());
    bsa.write(Inpakken(ride.text(), false));
    EnvelopeFramer framer;
    std::optional<QByteArray> answer;
    QDeadlineTimer deadline(10000);
    while (!answer && !deadline.hasExpired() && bsa.waitForReadyRead(200)) {
        framer.append(bsa.readAll());
        answer = framer.takeEnvelope();
    }
    QVERIFY(answer);
    tAckNackBSA record;
    QVERIFY(TekstNaarAckNack(HexNaarTekst(*answer), record, nullptr));
    QCOMPARE(record.Soort, QString("AC"));
    QCOMPARE(record.BSRitnummer, 4711);
    QVERIFY2(waitForOutput(program, output, "<ACK - (BN) VERWERKT>"), output.constData());
    QVERIFY(output.contains("Verbinding met 127.0.0.1"));

    program.terminate(); // SIGTERM
    QVERIFY(program.waitForFinished(10000));
    output += program.readAllStandardOutput();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(output.contains("afsluiten software geaccepteerd"));

    const QByteArray settings = readFile(home.filePath("KorvelBSA.xml"));
    QVERIFY(settings.contains("<xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>\r\n"));
    QVERIFY(settings.contains("<BSAAuto_Checked>FALSE</BSAAuto_Checked>"));
    QCOMPARE(QFile::permissions(home.filePath("KorvelBSA.xml")) & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());

    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + archives.first()));
    QVERIFY(archive.contains("<ACK - (BN) VERWERKT>\r\n"));
    QVERIFY(archive.endsWith("afsluiten software geaccepteerd\r\n"));
    QVERIFY(QFile::exists(home.filePath("BSA/planning.db")));
    for (const char *folder : { "BSA/BACKUPS/IN", "BSA/BACKUPS/UIT", "Backups", "TempDownloads" })
        QVERIFY2(QDir(home.filePath(folder)).exists(), folder);
}

void TestHeadlessProgram::refusesToStartOnADamagedSettingsFile()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray damaged = "<?xml version=\"1.0\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n";
    writeFile(home.filePath("KorvelBSA.xml"), damaged);

    QProcess program;
    program.start(KORVELBSA_PROGRAM,
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("KorvelBSA.xml"));
    QCOMPARE(readFile(home.filePath("KorvelBSA.xml")), damaged);
}

void TestHeadlessProgram::reportsASettingsFileItCannotWriteAtTheEnd()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString file = home.filePath("KorvelBSA.xml");
    const QByteArray stored
        = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
          "    <FormVersion>0</FormVersion>\r\n  </Hoofdscherm>\r\n</Configuration>\r\n";
    writeFile(file, stored);
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    QProcess program;
    program.start(KORVELBSA_PROGRAM,
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
    QVERIFY(program.waitForStarted(5000));
    QByteArray output;
    QVERIFY2(waitForOutput(program, output, "BSA Callcenter Server werd gestart"), output.constData());
    program.terminate(); // SIGTERM
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray errors = program.readAllStandardError();
    QVERIFY2(errors.contains("KorvelBSA.xml") && errors.contains("alleen-lezen"), errors.constData());
    QCOMPARE(readFile(file), stored);
}

void TestHeadlessProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expected"); // in standard output or standard error
    QTest::newRow("--version names the program and its version")
        << QStringList { "--version" } << 0 << QByteArray("KorvelBSA " BSA_VERSION);
    QTest::newRow("--help lists the options") << QStringList { "--help" } << 0 << QByteArray("--server-port");
    QTest::newRow("a port that is not a number is refused")
        << QStringList { "--headless", "--server-port", "abc" } << 2 << QByteArray("--server-port");
    QTest::newRow("port 0 is refused") << QStringList { "--headless", "--server-port", "0" } << 2
                                       << QByteArray("--server-port");
}

void TestHeadlessProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expected);
    QTemporaryDir home;
    QProcess program;
    program.start(KORVELBSA_PROGRAM, arguments << "--home" << home.path());
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), exitCode);
    const QByteArray output = program.readAllStandardOutput() + program.readAllStandardError();
    QVERIFY2(output.contains(expected), output.constData());
}

void TestHeadlessProgram::withoutADisplayTheWindowGivesWayToHeadless()
{
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(KORVELBSA_PROGRAM, { "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
    QVERIFY(program.waitForStarted(5000));
    QByteArray output;
    QVERIFY2(waitForOutput(program, output, "BSA Callcenter Server werd gestart"), output.constData());
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardError().contains("no display"));
}

void TestHeadlessProgram::theWindowEndsThroughTheCloseSequenceOnSigterm()
{
    // With a display (here the offscreen one) the program opens its window and prints nothing; the server starts
    // at the first tick because the settings say so.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeFile(home.filePath("KorvelBSA.xml"),
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <FormVersion>0</FormVersion>\r\n"
        "    <BSAAuto_Checked>TRUE</BSAAuto_Checked>\r\n"
        "  </Hoofdscherm>\r\n</Configuration>\r\n");
    const quint16 port = freeLoopbackPort();
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(KORVELBSA_PROGRAM, { "--home", home.path(), "--server-port", QString::number(port) });
    QVERIFY(program.waitForStarted(5000));
    QTcpSocket bsa;
    QDeadlineTimer deadline(10000);
    do {
        bsa.abort();
        bsa.connectToHost(QHostAddress::LocalHost, port);
    } while (!bsa.waitForConnected(500) && !deadline.hasExpired() && program.state() == QProcess::Running);
    QCOMPARE(bsa.state(), QAbstractSocket::ConnectedState);
    bsa.disconnectFromHost();

    program.terminate(); // SIGTERM
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + archives.first()));
    QVERIFY(archive.contains("BSA Callcenter Server werd gestart"));
    QVERIFY(archive.endsWith("afsluiten software geaccepteerd\r\n"));
    QVERIFY(readFile(home.filePath("KorvelBSA.xml")).contains("<BSAAuto_Checked>TRUE</BSAAuto_Checked>"));
}

QTEST_GUILESS_MAIN(TestHeadlessProgram)
#include "TestHeadlessProgram.moc"
