#include <csignal>

#include <QtTest>
#include <QCryptographicHash>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateSigning.h"
#include "update/UpdateDownload.h"
#include "tests/support/UnixOnly.h"

Q_DECLARE_METATYPE(UpdateDownload::Outcome)

// The download of a new version without its dialog, against a real server on 127.0.0.1: HEAD for the size, GET
// into "TempDownloads", the hash, and what is left on disk after each ending.
class TestUpdateDownload final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void verifiedDownloadReplacesAnEarlierOne();
    void failedDownloadLeavesNoFile_data();
    void failedDownloadLeavesNoFile();
    void cancelHalfwayLeavesNoFile();
    void anAddressWithoutAFileNameWritesNothing();
    void failureSaysWhatWentWrong_data();
    void failureSaysWhatWentWrong();
    void theBodyDecidesTheSize_data();
    void theBodyDecidesTheSize();
    void onlyAValidSignatureIsHandedOver_data();
    void onlyAValidSignatureIsHandedOver();

private:
    // The signature of path lies at path + ".minisig", signed with the fixture key for version 9.0.1.15.
    void expectSignature(UpdateDownload &download, const QByteArray &path) const;

    LoopbackHttpServer m_server;
};

namespace {

const QByteArray Program = [] {
    QByteArray bytes(2048, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 % 251);
    return bytes;
}();

// A program of some size, larger than any buffer on the way.
const QByteArray LargeProgram = [] {
    QByteArray bytes(200000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 % 241);
    return bytes;
}();

const QString Comment = QStringLiteral("KorvelBSA 9.0.1.15");

QList<UpdateSignature::PublicKey> fixtureKeys()
{
    QList<UpdateSignature::PublicKey> keys;
    QString error;
    UpdateSignature::parsePublicKeys(UpdateSigning::publicKey(), &keys, &error);
    return keys;
}

QString sha1Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toUpper());
}

// An earlier download of the same name, as a previous update may have left it.
bool leaveEarlierDownload(const QString &folder)
{
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(QStringLiteral("KorvelBSA")));
    return file.open(QIODevice::WriteOnly) && file.write("earlier") == 7;
}

} // namespace

void TestUpdateDownload::expectSignature(UpdateDownload &download, const QByteArray &path) const
{
    download.setSignature(m_server.url(path + ".minisig"), Comment, fixtureKeys());
}

void TestUpdateDownload::initTestCase()
{
    BSA_SIGNS_WITH_MINISIGN();
    QVERIFY(m_server.listen());
    m_server.answer("/KorvelBSA", HttpAnswer::ok(Program));
    const QByteArray signature = UpdateSigning::signatureOf(Program, Comment);
    QVERIFY(!signature.isEmpty());
    m_server.answer("/KorvelBSA.minisig", HttpAnswer::ok(signature));
    const QByteArray largeSignature = UpdateSigning::signatureOf(LargeProgram, Comment);
    QVERIFY(!largeSignature.isEmpty());
    for (const QByteArray path : { "/head-too-small", "/head-too-small-get-without-length", "/large" })
        m_server.answer(path + "/KorvelBSA.minisig", HttpAnswer::ok(largeSignature));
    m_server.answer("/head-too-large/KorvelBSA.minisig", HttpAnswer::ok(signature));

    HttpAnswer noLength = HttpAnswer::ok(Program);
    noLength.contentLength = false;
    m_server.answer("/no-length/KorvelBSA", noLength);

    m_server.answerHead("/get-fails/KorvelBSA", HttpAnswer::ok(Program));
    m_server.answer("/get-fails/KorvelBSA", HttpAnswer::withStatus(404, "Not Found"));

    HttpAnswer cut = HttpAnswer::ok(Program);
    cut.delivery = HttpAnswer::Delivery::HalfThenCut;
    m_server.answer("/cut/KorvelBSA", cut);

    HttpAnswer held = HttpAnswer::ok(Program);
    held.delivery = HttpAnswer::Delivery::HalfThenHold;
    m_server.answer("/held/KorvelBSA", held);

    m_server.answer("/large/KorvelBSA", HttpAnswer::ok(LargeProgram));
    // HEAD names a size that is not the body's.
    m_server.answerHead("/head-too-small/KorvelBSA", HttpAnswer::ok("0123456789"));
    m_server.answer("/head-too-small/KorvelBSA", HttpAnswer::ok(LargeProgram));
    m_server.answerHead("/head-too-large/KorvelBSA", HttpAnswer::ok(LargeProgram));
    m_server.answer("/head-too-large/KorvelBSA", HttpAnswer::ok(Program));
    HttpAnswer noGetLength = HttpAnswer::ok(LargeProgram);
    noGetLength.contentLength = false;
    m_server.answerHead("/head-too-small-get-without-length/KorvelBSA", HttpAnswer::ok("0123456789"));
    m_server.answer("/head-too-small-get-without-length/KorvelBSA", noGetLength);
}

void TestUpdateDownload::verifiedDownloadReplacesAnEarlierOne()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    QVERIFY(leaveEarlierDownload(folder));

    UpdateDownload download(m_server.url("/KorvelBSA"), folder, sha1Of(Program));
    expectSignature(download, "/KorvelBSA");
    QCOMPARE(download.fileName(), QStringLiteral("KorvelBSA"));
    QCOMPARE(download.targetPath(), QDir(folder).filePath(QStringLiteral("KorvelBSA")));
    QSignalSpy sized(&download, &UpdateDownload::sizeKnown);
    QSignalSpy progress(&download, &UpdateDownload::progress);
    QSignalSpy finished(&download, &UpdateDownload::finished);
    download.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), UpdateDownload::Outcome::Ready);
    QCOMPARE(sized.size(), 1);
    QCOMPARE(sized.first().first().toLongLong(), qint64(2048));
    QCOMPARE(progress.last().first().toLongLong(), qint64(2048));
    QCOMPARE(download.received(), qint64(2048));
    QCOMPARE(readFile(download.targetPath()), Program);
    QVERIFY(readFile(download.signaturePath()).contains("trusted comment: KorvelBSA 9.0.1.15"));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
        QStringList({ QStringLiteral("KorvelBSA"), QStringLiteral("KorvelBSA.minisig") }));
}

void TestUpdateDownload::failedDownloadLeavesNoFile_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("sha1");
    QTest::addColumn<UpdateDownload::Outcome>("outcome");
    QTest::addColumn<QString>("failureText");

    const QString right = sha1Of(Program);
    QTest::newRow("no Content-Length on HEAD: nothing is downloaded")
        << QByteArray("/no-length/KorvelBSA") << right << UpdateDownload::Outcome::NoSize << "";
    QTest::newRow("HEAD finds nothing: nothing is downloaded")
        << QByteArray("/missing/KorvelBSA") << right << UpdateDownload::Outcome::NoSize << "";
    QTest::newRow("a 404 on GET") << QByteArray("/get-fails/KorvelBSA") << right << UpdateDownload::Outcome::Failed
                                  << "Mislukt: 404 Not Found";
    QTest::newRow("a connection cut halfway")
        << QByteArray("/cut/KorvelBSA") << right << UpdateDownload::Outcome::Failed << "";
    QTest::newRow("a wrong hash") << QByteArray("/KorvelBSA") << sha1Of("another program")
                                  << UpdateDownload::Outcome::Damaged << "";
    QTest::newRow("the hash in lower case is a wrong hash")
        << QByteArray("/KorvelBSA") << right.toLower() << UpdateDownload::Outcome::Damaged << "";
    QTest::newRow("no hash in the description")
        << QByteArray("/KorvelBSA") << QString() << UpdateDownload::Outcome::Damaged << "";
}

void TestUpdateDownload::failedDownloadLeavesNoFile()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, sha1);
    QFETCH(UpdateDownload::Outcome, outcome);
    QFETCH(QString, failureText);

    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    QVERIFY(leaveEarlierDownload(folder));
    UpdateDownload download(m_server.url(path), folder, sha1);
    expectSignature(download, path);
    QSignalSpy finished(&download, &UpdateDownload::finished);
    download.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), outcome);
    if (outcome == UpdateDownload::Outcome::Failed)
        QVERIFY(download.failureText().startsWith(QStringLiteral("Mislukt: ")));
    if (!failureText.isEmpty())
        QCOMPARE(download.failureText(), failureText);
    QVERIFY(!download.isRunning());
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList()); // nothing to hand over, and no temporary file
}

void TestUpdateDownload::cancelHalfwayLeavesNoFile()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    UpdateDownload download(m_server.url("/held/KorvelBSA"), folder, sha1Of(Program));
    QSignalSpy finished(&download, &UpdateDownload::finished);
    download.start();
    QTRY_COMPARE_WITH_TIMEOUT(download.received(), qint64(1024), 10000);

    download.cancel();
    QVERIFY(download.isCancelled());
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), UpdateDownload::Outcome::Cancelled);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections, 0, 5000); // closed, not left hanging
}

void TestUpdateDownload::anAddressWithoutAFileNameWritesNothing()
{
    QTemporaryDir home;
    m_server.answer("/folder/", HttpAnswer::ok(Program));
    UpdateDownload download(m_server.url("/folder/"), home.path(), sha1Of(Program));
    QSignalSpy finished(&download, &UpdateDownload::finished);
    download.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), UpdateDownload::Outcome::FileError);
    QVERIFY(!download.errorString().isEmpty());
    QCOMPARE(QDir(home.path()).entryList(QDir::Files), QStringList());
}

void TestUpdateDownload::failureSaysWhatWentWrong_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("fileSizeLimit"); // 0: none; else files cannot grow past it, as on a full disk
    QTest::addColumn<int>("stallMs"); // 0: the default; else a request fails after this long without data
    QTest::addColumn<QString>("failureText");

    QTest::newRow("the disk is full") << QByteArray("/large/KorvelBSA") << qint64(64 * 1024) << 0
                                      << "Mislukt: 0 Schrijven mislukt: File too large";
    QTest::newRow("the server stops sending halfway") << QByteArray("/held/KorvelBSA") << qint64(0) << 300
                                                      << "Mislukt: 0 Operation canceled (0.3 seconden niets ontvangen)";
}

void TestUpdateDownload::failureSaysWhatWentWrong()
{
    QFETCH(QByteArray, path);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(int, stallMs);
    QFETCH(QString, failureText);
    if (fileSizeLimit > 0)
        BSA_UNIX_ONLY("a limit on the size of files");

    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    QVERIFY(QDir().mkpath(folder));
    UpdateDownload download(m_server.url(path), folder, sha1Of(LargeProgram));
    if (stallMs > 0)
        download.http().setTransferTimeout(std::chrono::milliseconds(stallMs));
    QSignalSpy finished(&download, &UpdateDownload::finished);

#ifdef Q_OS_UNIX
    rlimit before {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto restore = qScopeGuard([&before] {
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, SIG_DFL);
    });
    if (fileSizeLimit > 0) {
        // A write past the limit then fails with its error instead of ending this process.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before;
        limited.rlim_cur = rlim_t(fileSizeLimit);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
#endif
    download.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), UpdateDownload::Outcome::Failed);
    QCOMPARE(download.failureText(), failureText);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestUpdateDownload::theBodyDecidesTheSize_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("HEAD names less than the body") << QByteArray("/head-too-small/KorvelBSA") << LargeProgram;
    QTest::newRow("HEAD names more than the body") << QByteArray("/head-too-large/KorvelBSA") << Program;
    QTest::newRow("HEAD names less, and GET names no size")
        << QByteArray("/head-too-small-get-without-length/KorvelBSA") << LargeProgram;
}

void TestUpdateDownload::theBodyDecidesTheSize()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    UpdateDownload download(m_server.url(path), folder, sha1Of(body));
    expectSignature(download, path);
    QSignalSpy finished(&download, &UpdateDownload::finished);
    QSignalSpy resized(&download, &UpdateDownload::sizeChanged);
    bool pastTheSize = false;
    connect(&download, &UpdateDownload::progress, this,
        [&download, &pastTheSize](qint64 received) { pastTheSize = pastTheSize || received > download.size(); });
    download.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<UpdateDownload::Outcome>(), UpdateDownload::Outcome::Ready);
    QVERIFY(!pastTheSize); // never "19 KB of 10 B (200000%)"
    QCOMPARE(download.size(), qint64(body.size()));
    QVERIFY(!resized.isEmpty());
    QCOMPARE(resized.last().first().toLongLong(), qint64(body.size()));
    QCOMPARE(readFile(download.targetPath()), body);
}

void TestUpdateDownload::onlyAValidSignatureIsHandedOver_data()
{
    QTest::addColumn<QByteArray>("signature"); // "(none)": the server has no signature file
    QTest::addColumn<QString>("damage"); // part of the logged reason; empty: the download is handed over

    const QByteArray valid = UpdateSigning::signatureOf(Program, Comment);
    QTest::newRow("a valid signature") << valid << "";
    QTest::newRow("a signature by another key")
        << UpdateSigning::signatureOf(Program, Comment, QStringLiteral("other")) << "onbekende sleutel";
    QTest::newRow("a signature of another file")
        << UpdateSigning::signatureOf("another program", Comment) << "past niet bij het bestand";
    QTest::newRow("no signature file") << QByteArray("(none)") << "ontbreekt: Mislukt: 404 Not Found";
    QTest::newRow("a trusted comment naming an older version") << UpdateSigning::signatureOf(
        Program, QStringLiteral("KorvelBSA 9.0.1.13")) << "verwacht \"KorvelBSA 9.0.1.15\"";
    QTest::newRow("a trusted comment naming another program")
        << UpdateSigning::signatureOf(Program, QStringLiteral("Kwendel 9.0.1.15")) << "verwacht \"KorvelBSA 9.0.1.15\"";
    QTest::newRow("the legacy form Ed") << UpdateSigning::signatureOf(Program, Comment, QStringLiteral("fixture"), true)
                                        << "oude vorm";
    QByteArray changedComment = valid;
    changedComment.replace("trusted comment: KorvelBSA 9.0.1.15", "trusted comment: KorvelBSA 9.0.1.15 ");
    QTest::newRow("the global signature broken") << changedComment << "vertrouwde commentaar klopt niet";
}

void TestUpdateDownload::onlyAValidSignatureIsHandedOver()
{
    QFETCH(QByteArray, signature);
    QFETCH(QString, damage);
    static int serial = 0;
    const QByteArray signaturePath = "/signature-" + QByteArray::number(++serial) + ".minisig";
    if (signature != "(none)") {
        QVERIFY(!signature.isEmpty());
        m_server.answer(signaturePath, HttpAnswer::ok(signature));
    }
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("TempDownloads"));
    QVERIFY(leaveEarlierDownload(folder));
    UpdateDownload download(m_server.url("/KorvelBSA"), folder, sha1Of(Program));
    download.setSignature(m_server.url(signaturePath), Comment, fixtureKeys());
    QSignalSpy finished(&download, &UpdateDownload::finished);
    download.start();
    QVERIFY(finished.wait(10000));
    const auto outcome = finished.first().first().value<UpdateDownload::Outcome>();
    if (damage.isEmpty()) {
        QCOMPARE(outcome, UpdateDownload::Outcome::Ready);
        QCOMPARE(readFile(download.targetPath()), Program);
        QCOMPARE(readFile(download.signaturePath()), signature);
        return;
    }
    QCOMPARE(outcome, UpdateDownload::Outcome::Damaged);
    QVERIFY2(download.damage().contains(damage), qPrintable(download.damage()));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestUpdateDownload)
#include "TestUpdateDownload.moc"
