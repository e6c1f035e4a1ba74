#include <optional>

#include <QtTest>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "tests/support/FreePort.h"
#include "tools/bsa-sim/RideMessageBuilder.h"

// KorvelBSA --headless as a service manager runs it: it must listen, answer BSA, print its log, and leave its
// settings and a log archive behind when it is told to stop.
class TestHeadlessProgram final : public QObject
{
    Q_OBJECT
private slots:
    void answersARideAndEndsCleanlyOnSigterm();
    void refusesToStartOnADamagedSettingsFile();
    void reportsASettingsFileItCannotWriteAtTheEnd();
    void commandLine_data();
    void commandLine();
    void keepsEachRideWithItsJournalThroughKills();
    void saysWhichRidesItGivesUpWhenStoppedWhileTheDatabaseIsBusy();
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

namespace {
void writeSqliteSettings(const QTemporaryDir &home)
{
    writeFile(home.filePath("KorvelBSA.xml"),
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <FormVersion>0</FormVersion>\r\n"
        "    <xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>\r\n"
        "  </Hoofdscherm>\r\n</Configuration>\r\n");
}
} // namespace

void TestHeadlessProgram::answersARideAndEndsCleanlyOnSigterm()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeSqliteSettings(home);
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

namespace {
// One BSA connection of the kill test: sends its next ride as soon as the last one is answered.
struct Lane
{
    std::unique_ptr<QTcpSocket> socket;
    EnvelopeFramer framer;
    int ride = 0;
};
} // namespace

void TestHeadlessProgram::keepsEachRideWithItsJournalThroughKills()
{
    // The program is killed at a random moment under load, several times over, and started again: a stored ride
    // always has its journal rows, a journal row always has its ride, and every ride BSA heard "AC" for is stored.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeSqliteSettings(home);
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("random seed %u", seed);
    QSet<int> acknowledged;
    int nextRide = 1;
    constexpr int Runs = 12;
    constexpr int Lanes = 8;

    for (int run = 0; run < Runs; ++run) {
        const quint16 port = freeLoopbackPort();
        QProcess program;
        program.start(
            KORVELBSA_PROGRAM, { "--headless", "--home", home.path(), "--server-port", QString::number(port) });
        QVERIFY(program.waitForStarted(5000));
        QByteArray output;
        QVERIFY2(waitForOutput(program, output, "BSA Callcenter Server werd gestart"), output.constData());

        std::vector<Lane> lanes(Lanes);
        int answers = 0;
        const int killAfter = int(random.bounded(10, 150));
        const auto send = [&](Lane &lane) {
            // Now and then a change of the ride just answered, otherwise a new ride.
            if (lane.ride == 0 || random.bounded(4) != 0)
                lane.ride = nextRide++;
            lane.socket->write(Inpakken(RideMessageBuilder(lane.ride, QDateTime::currentDateTime()).text(), false));
        };
        for (Lane &lane : lanes) {
            lane.socket = std::make_unique<QTcpSocket>();
            lane.socket->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(lane.socket->waitForConnected(5000));
            Lane *self = &lane;
            connect(lane.socket.get(), &QIODevice::readyRead, this, [&, self] {
                self->framer.append(self->socket->readAll());
                while (std::optional<QByteArray> payload = self->framer.takeEnvelope()) {
                    tAckNackBSA record;
                    if (TekstNaarAckNack(HexNaarTekst(*payload), record, nullptr) && record.Soort == "AC")
                        acknowledged.insert(record.BSRitnummer);
                    ++answers;
                    if (answers < killAfter)
                        send(*self);
                }
            });
            send(lane);
        }
        QTRY_VERIFY_WITH_TIMEOUT(answers >= killAfter, 30000);
        program.kill(); // SIGKILL: rides in flight are cut off somewhere between arriving and being answered
        QVERIFY(program.waitForFinished(5000));
        for (Lane &lane : lanes)
            disconnect(lane.socket.get(), nullptr, this, nullptr);
    }
    QVERIFY(acknowledged.size() > Runs);

    const QString connection = QStringLiteral("after-kills");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(home.filePath("BSA/planning.db"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        const auto count = [&](const QString &sql) {
            if (!query.exec(sql) || !query.next()) {
                qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
                return -1;
            }
            return query.value(0).toInt();
        };
        QCOMPARE(count("SELECT count(*) FROM planning p WHERE NOT EXISTS "
                       "(SELECT 1 FROM TRANSACTIES t WHERE t.tra_rit = p.pla_id AND t.tra_code = 91)"),
            0);
        QCOMPARE(count("SELECT count(*) FROM TRANSACTIES t WHERE NOT EXISTS "
                       "(SELECT 1 FROM planning p WHERE p.pla_id = t.tra_rit)"),
            0);
        // A change journals two rows in one go: never one of them alone.
        QCOMPARE(count("SELECT count(*) FROM (SELECT tra_rit FROM TRANSACTIES WHERE tra_code = 92 GROUP BY tra_rit "
                       "HAVING count(*) % 2 <> 0)"),
            0);
        QCOMPARE(count("SELECT count(*) FROM (SELECT pla_extern_ritnummer FROM planning GROUP BY pla_extern_ritnummer "
                       "HAVING count(*) > 1)"),
            0);
        QSet<int> stored;
        QVERIFY(query.exec("SELECT pla_extern_ritnummer FROM planning"));
        while (query.next())
            stored.insert(query.value(0).toInt());
        for (int ride : acknowledged)
            QVERIFY2(
                stored.contains(ride), qPrintable(QStringLiteral("ride %1 was acknowledged, not stored").arg(ride)));
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

void TestHeadlessProgram::saysWhichRidesItGivesUpWhenStoppedWhileTheDatabaseIsBusy()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeSqliteSettings(home);
    const quint16 port = freeLoopbackPort();
    QProcess program;
    program.start(KORVELBSA_PROGRAM, { "--headless", "--home", home.path(), "--server-port", QString::number(port) });
    QVERIFY(program.waitForStarted(5000));
    QByteArray output;
    QVERIFY2(waitForOutput(program, output, "BSA Callcenter Server werd gestart"), output.constData());

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(bsa.waitForConnected(5000));
    bsa.write(Inpakken(RideMessageBuilder(4710, QDateTime::currentDateTime()).text(), false));
    QVERIFY(bsa.waitForBytesWritten(5000));
    QVERIFY2(waitForOutput(program, output, "<ACK - (BN) VERWERKT>"), output.constData());
    QVERIFY(bsa.waitForReadyRead(5000));
    bsa.readAll();

    // Another program holds the write lock on the database file.
    const QString connection = QStringLiteral("locker");
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        locker.setDatabaseName(home.filePath("BSA/planning.db"));
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY2(lock.exec("BEGIN IMMEDIATE"), qPrintable(lock.lastError().text()));

        bsa.write(Inpakken(RideMessageBuilder(4711, QDateTime::currentDateTime()).text(), false));
        QVERIFY(bsa.waitForBytesWritten(5000));
        QVERIFY2(waitForOutput(program, output, "DATABASE BEZET, 1 BERICHT(EN) WACHTEN"), output.constData());

        // Stopped while the ride waits: it is not stored and not answered, so BSA sends it again, and the log says so.
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        output += program.readAllStandardOutput();
        QVERIFY2(output.contains("SI: 1 BERICHT(EN) NIET VERWERKT, KOPPELING STOPT"), output.constData());
        QVERIFY(!output.contains("PAKKET RITNUMMER = 4711"));
        QCOMPARE(bsa.readAll(), QByteArray());
        QVERIFY(lock.exec("COMMIT"));
        QVERIFY(lock.exec("SELECT count(*) FROM planning"));
        QVERIFY(lock.next());
        QCOMPARE(lock.value(0).toInt(), 1); // the first ride only
        locker.close();
    }
    QSqlDatabase::removeDatabase(connection);
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    QVERIFY(readFile(home.filePath("BSA/LOGS/" + archives.first())).contains("KOPPELING STOPT"));
}

QTEST_GUILESS_MAIN(TestHeadlessProgram)
#include "TestHeadlessProgram.moc"
