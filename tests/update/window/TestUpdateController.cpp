#include <QtTest>
#include <QApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/UpdateSigning.h"
#include "tests/support/TestFiles.h"
#include "update/DownloadFigures.h"
#include "update/window/UpdateController.h"
#include "update/window/UpdateDownloadDialog.h"
#include "update/window/UpdateNotifyDialog.h"

// Catches what the update asks the desktop to open, so no browser starts.
class UrlCatcher final : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// The self-update as the operator meets it: the check, its dialogs and boxes (answered here), the download and
// the hand-off, against a real HTTP server on 127.0.0.1.
class TestUpdateController final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void offersANewerVersion_data();
    void offersANewerVersion();
    void reportsThatNothingIsNew_data();
    void reportsThatNothingIsNew();
    void silentCheckShowsNoBox();
    void packageInstallationShowsTheOfferWithoutDownload();
    void downloadVerifiesAndHandsOff_data();
    void downloadVerifiesAndHandsOff();
    void cancelHalfwayNeedsAYes_data();
    void cancelHalfwayNeedsAYes();
    void failedDownloadEndsWithoutABox_data();
    void failedDownloadEndsWithoutABox();
    void damagedDownloadIsReportedAndDeleted_data();
    void damagedDownloadIsReportedAndDeleted();
    void aBuildWithoutAKeyOffersNoDownload();
    void transferFollowsTheBodyNotHead();
    void missingUpdaterKeepsTheProgramRunning();
    void buttonMakesTheBackupCopyFirst();
    void secondCheckIsRefusedAndDestructionAbortsTheRequest();

private:
    UpdateController *makeController(const QByteArray &description, const QString &programFile = QString());
    QMessageBox *visibleBox() const;
    UpdateNotifyDialog *visibleOffer() const;
    UpdateDownloadDialog *downloadDialog() const;
    QString downloaded() const { return m_home->filePath(QStringLiteral("TempDownloads/KorvelBSA")); }
    QString updaterRecord() const { return m_home->filePath(QStringLiteral("updater-called.txt")); }

    LoopbackHttpServer m_server;
    UrlCatcher m_urls;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QWidget> m_window;
    UpdateController *m_controller = nullptr;
};

namespace {

const QUrl ConfiguredPage(QStringLiteral("https://www.korvel.example/bsa/update"));

const QByteArray Program = [] {
    QByteArray bytes(2048, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 % 253);
    return bytes;
}();

const QByteArray LargeProgram(200000, 'p');

QByteArray sha1Of(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toUpper();
}

bool writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.setPermissions(permissions);
}

const QFileDevice::Permissions Runnable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;

// A description offering 9.0.1.15 (the program runs 9.0.1.14) and the download at path.
QByteArray offerOf(const LoopbackHttpServer &server, const QByteArray &path, const QByteArray &sha1 = sha1Of(Program))
{
    return "[KorvelBSA]\nVersion=9.0.1.15\nDownloadFileURL=" + server.url(path).toEncoded() + "\nSHA1Hash=" + sha1
        + "\n";
}

void click(QMessageBox *box, QMessageBox::StandardButton button)
{
    QVERIFY(box);
    QVERIFY(box->button(button));
    box->button(button)->click();
}

} // namespace

void TestUpdateController::initTestCase()
{
    BSA_SIGNS_WITH_MINISIGN();
    QVERIFY(m_server.listen());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");

    m_server.answer("/KorvelBSA", HttpAnswer::ok(Program));
    // Signed as a release of 9.0.1.15 is; the build carries the fixture key.
    const QByteArray signature = UpdateSigning::signatureOf(Program, QStringLiteral("KorvelBSA 9.0.1.15"));
    QVERIFY(!signature.isEmpty());
    m_server.answer("/KorvelBSA.minisig", HttpAnswer::ok(signature));
    m_server.answer("/held/KorvelBSA.minisig", HttpAnswer::ok(signature));
    m_server.answer("/signatures/other-key.minisig",
        HttpAnswer::ok(
            UpdateSigning::signatureOf(Program, QStringLiteral("KorvelBSA 9.0.1.15"), QStringLiteral("other"))));
    m_server.answer("/signatures/large.minisig",
        HttpAnswer::ok(UpdateSigning::signatureOf(LargeProgram, QStringLiteral("KorvelBSA 9.0.1.15"))));
    HttpAnswer held = HttpAnswer::ok(Program);
    held.delivery = HttpAnswer::Delivery::HalfThenHold;
    m_server.answer("/held/KorvelBSA", held);
    m_server.answerHead("/get-fails/KorvelBSA", HttpAnswer::ok(Program));
    m_server.answer("/get-fails/KorvelBSA", HttpAnswer::withStatus(404, "Not Found"));
    HttpAnswer cut = HttpAnswer::ok(Program);
    cut.delivery = HttpAnswer::Delivery::HalfThenCut;
    m_server.answer("/cut/KorvelBSA", cut);
    HttpAnswer noLength = HttpAnswer::ok(Program);
    noLength.contentLength = false;
    m_server.answer("/no-length/KorvelBSA", noLength);
    // HEAD names 10 bytes; the body is 200,000.
    m_server.answerHead("/head-too-small/KorvelBSA", HttpAnswer::ok("0123456789"));
    m_server.answer("/head-too-small/KorvelBSA", HttpAnswer::ok(LargeProgram));
    m_server.answer("/readme.txt", HttpAnswer::ok("Nieuw in 9.0.1.15:\r\n- snellere intake\r\n"));
    HttpAnswer silent;
    silent.delivery = HttpAnswer::Delivery::Never;
    m_server.answer("/silent.ini", silent);
}

void TestUpdateController::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestUpdateController::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    QVERIFY(writeFile(m_home->filePath(QStringLiteral("KorvelBSA")), "the running program", Runnable));
    // Stands in for the updater: notes its parameter and the process it is to wait for.
    QVERIFY(writeFile(m_home->filePath(QStringLiteral("KorvelUpdater")),
        "#!/bin/sh\nprintf '%s\\n%s\\n%s\\n%s\\n' \"$1\" \"$KORVEL_UPDATE_PID\" \"$KORVEL_UPDATE_SIGNATURE\" "
        "\"$KORVEL_UPDATE_VERSION\" > \"$(dirname \"$0\")/updater-called.tmp\"\n"
        "mv \"$(dirname \"$0\")/updater-called.tmp\" \"$(dirname \"$0\")/updater-called.txt\"\n",
        Runnable));
    QVERIFY(QDir(m_home->path()).mkdir(QStringLiteral("TempDownloads")));
    m_window = std::make_unique<QWidget>();
    m_urls.urls.clear();
}

void TestUpdateController::cleanup()
{
    m_server.releaseHeld();
    m_window.reset(); // takes the controller, its dialogs and boxes with it
    m_controller = nullptr;
    m_home.reset();
}

UpdateController *TestUpdateController::makeController(const QByteArray &description, const QString &programFile)
{
    static int serial = 0;
    const QByteArray path = "/description-" + QByteArray::number(++serial) + ".ini";
    m_server.answer(path, HttpAnswer::ok(description));
    const QString program = programFile.isEmpty() ? m_home->filePath(QStringLiteral("KorvelBSA")) : programFile;
    m_controller = new UpdateController(
        m_window.get(), program, m_home->path(), QStringLiteral("9.0.1.14"), m_server.url(path), ConfiguredPage);
    // Whatever keys this build carries, the controller here trusts the fixture key its downloads are signed with.
    m_controller->setSignatureKeys(UpdateSigning::publicKey());
    return m_controller;
}

QMessageBox *TestUpdateController::visibleBox() const
{
    for (QMessageBox *box : m_window->findChildren<QMessageBox *>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

UpdateNotifyDialog *TestUpdateController::visibleOffer() const
{
    UpdateNotifyDialog *dialog = m_window->findChild<UpdateNotifyDialog *>();
    return dialog && dialog->isVisible() ? dialog : nullptr;
}

UpdateDownloadDialog *TestUpdateController::downloadDialog() const
{
    return m_window->findChild<UpdateDownloadDialog *>();
}

void TestUpdateController::offersANewerVersion_data()
{
    QTest::addColumn<QString>("closeBy");
    QTest::newRow("OK closes the offer") << "OK";
    QTest::newRow("Enter closes the offer") << "Enter";
    QTest::newRow("Escape closes the offer") << "Escape";
}

void TestUpdateController::offersANewerVersion()
{
    QFETCH(QString, closeBy);
    UpdateController *controller = makeController(
        "[KorvelBSA]\nVersion=10.0.0.0\nReadmeFileURL=" + m_server.url("/readme.txt").toEncoded() + "\n");
    QSignalSpy finished(controller, &UpdateController::checkFinished);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    UpdateNotifyDialog *offer = visibleOffer();
    QCOMPARE(offer->windowTitle(), QStringLiteral("Nieuwe versie is beschikbaar"));
    QCOMPARE(offer->ReadmeMemo()->toPlainText(), QStringLiteral("Nieuw in 9.0.1.15:\n- snellere intake\n"));
    QVERIFY(offer->ReadmeMemo()->isReadOnly());
    QVERIFY(!offer->DownloadButton()->isEnabled()); // the description names no download

    offer->OpenWebPageButton()->click(); // the description names no page: the configured one
    QCOMPARE(m_urls.urls, QList<QUrl> { ConfiguredPage });
    QVERIFY(offer->isVisible()); // the offer stays open
    QCOMPARE(finished.size(), 0);

    if (closeBy == u"OK")
        offer->OKButton()->click();
    else
        QTest::keyClick(offer, closeBy == u"Enter" ? Qt::Key_Return : Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().first().toInt(), 1);
    QVERIFY(!visibleOffer());
    QVERIFY(!controller->isBusy());
}

void TestUpdateController::reportsThatNothingIsNew_data()
{
    QTest::addColumn<QByteArray>("description"); // "(down)": the server does not answer at all
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("answerYes"); // only for the question
    QTest::addColumn<QList<QUrl>>("opened");

    const QString info = QStringLiteral("Er is geen nieuwe versie beschikbaar.");
    const QString question = info + QStringLiteral("\nWenst u de website te openen?");
    QTest::newRow("the same version") << QByteArray("[KorvelBSA]\nVersion=9.0.1.14\n") << info << false
                                      << QList<QUrl>();
    QTest::newRow("9.0.1.9 is older than 9.0.1.14")
        << QByteArray("[KorvelBSA]\nVersion=9.0.1.9\n") << info << false << QList<QUrl>();
    QTest::newRow("a description for another program asks to open the page")
        << QByteArray("[KorvelPlanning]\nVersion=10.0.0.0\n") << question << true << QList<QUrl> { ConfiguredPage };
    QTest::newRow("a server that is down asks to open the page")
        << QByteArray("(down)") << question << true << QList<QUrl> { ConfiguredPage };
    QTest::newRow("No opens nothing") << QByteArray("(down)") << question << false << QList<QUrl>();
}

void TestUpdateController::reportsThatNothingIsNew()
{
    QFETCH(QByteArray, description);
    QFETCH(QString, text);
    QFETCH(bool, answerYes);
    QFETCH(QList<QUrl>, opened);

    UpdateController *controller = makeController(description);
    if (description == "(down)") {
        LoopbackHttpServer down; // closes its port when it goes out of scope
        QVERIFY(down.listen());
        controller->setUpdateFileURL(down.url("/description.ini"));
    }
    QSignalSpy finished(controller, &UpdateController::checkFinished);
    QSignalSpy logged(controller, &UpdateController::logLine);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    QMessageBox *box = visibleBox();
    QCOMPARE(box->text(), text);
    // A server that cannot be reached is not just "nothing new" to the operator: the log says why.
    if (description == "(down)") {
        QCOMPARE(logged.size(), 1);
        const QString line = logged.first().first().toString();
        QVERIFY2(line.startsWith(QStringLiteral("Update: beschrijving van http://127.0.0.1:"))
                && line.contains(QStringLiteral("/description.ini Mislukt: 0 ")),
            qPrintable(line));
    } else {
        QCOMPARE(logged.size(), 0);
    }
    QVERIFY(!visibleOffer());
    QCOMPARE(finished.size(), 0); // the check ends when the box is answered
    if (text.contains(u'?'))
        click(box, answerYes ? QMessageBox::Yes : QMessageBox::No);
    else
        click(box, QMessageBox::Ok);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().first().toInt(), 0);
    QCOMPARE(m_urls.urls, opened);
    QVERIFY(!controller->isBusy());
}

void TestUpdateController::silentCheckShowsNoBox()
{
    UpdateController *controller = makeController("[KorvelBSA]\nVersion=9.0.1.14\n");
    QSignalSpy finished(controller, &UpdateController::checkFinished);
    QVERIFY(controller->CheckForUpdate(true));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), 0);
    QVERIFY(!visibleBox());
}

void TestUpdateController::packageInstallationShowsTheOfferWithoutDownload()
{
    UpdateController *controller
        = makeController(offerOf(m_server, "/KorvelBSA"), QStringLiteral("/usr/lib/korvel/KorvelBSA"));
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    UpdateNotifyDialog *offer = visibleOffer();
    QVERIFY(!offer->DownloadButton()->isEnabled());
    QVERIFY(offer->ReadmeMemo()->toPlainText().contains(QStringLiteral("pakketbeheer")));
    offer->OKButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), 5000);
}

void TestUpdateController::downloadVerifiesAndHandsOff_data()
{
    QTest::addColumn<bool>("viaProxy");
    QTest::newRow("a direct connection") << false;
    QTest::newRow("through the proxy") << true;
}

void TestUpdateController::downloadVerifiesAndHandsOff()
{
    QFETCH(bool, viaProxy);
    UpdateController *controller = makeController(offerOf(m_server, "/KorvelBSA"));
    QString status = QStringLiteral("Download bestand");
    if (viaProxy) {
        // Addresses on a host that no name server knows: only the proxy can answer them.
        const QString port = QString::number(m_server.port());
        controller->setProxy(QStringLiteral("127.0.0.1"), port);
        QUrl description = controller->updateFileURL();
        description.setHost(QStringLiteral("updates.korvel.example"));
        description.setPort(-1);
        m_server.answer(description.path().toLatin1(),
            HttpAnswer::ok("[KorvelBSA]\nVersion=9.0.1.15\n"
                           "DownloadFileURL=http://updates.korvel.example/KorvelBSA\n"
                           "SHA1Hash="
                + sha1Of(Program) + "\n"));
        controller->setUpdateFileURL(description);
        status = QStringLiteral("Download bestand via proxy server (127.0.0.1:%1)").arg(port);
    }
    QSignalSpy finished(controller, &UpdateController::checkFinished);
    QSignalSpy endRequested(controller, &UpdateController::endProgramRequested);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    QVERIFY(visibleOffer()->DownloadButton()->isEnabled());
    visibleOffer()->DownloadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000); // the offer closes as the download starts
    QCOMPARE(finished.first().first().toInt(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    QMessageBox *box = visibleBox();
    QCOMPARE(box->text(), QStringLiteral("Rovix Korvel® Kwendel gaat nu starten"));
    UpdateDownloadDialog *dialog = downloadDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Download nieuwe versie"));
    QCOMPARE(dialog->FileLabel()->text(), QStringLiteral("KorvelBSA"));
    QCOMPARE(dialog->StatusLabel()->text(), status);
    QCOMPARE(dialog->TransferLabel()->text(), QStringLiteral("2 KB of 2 KB (100%)"));
    QCOMPARE(dialog->ProgressBar1()->maximum(), 2048);
    QCOMPARE(dialog->ProgressBar1()->value(), 2048);
    QVERIFY(!dialog->CancelButton()->isEnabled());
    QCOMPARE(readFile(downloaded()), Program);
    QCOMPARE(endRequested.size(), 0); // not before the operator has read the box
    QVERIFY(!QFile::exists(updaterRecord()));

    click(box, QMessageBox::Ok);
    QCOMPARE(endRequested.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(updaterRecord()), 10000);
    const QList<QByteArray> record = readFile(updaterRecord()).split('\n');
    QCOMPARE(QString::fromUtf8(record.value(0)), QStringLiteral("'%1'").arg(downloaded()));
    QCOMPARE(record.value(1).toLongLong(), QCoreApplication::applicationPid());
    // The signature beside the download and the version it names, for the updater's own check.
    QCOMPARE(QString::fromUtf8(record.value(2)), downloaded() + QStringLiteral(".minisig"));
    QVERIFY(readFile(downloaded() + QStringLiteral(".minisig")).contains("trusted comment: KorvelBSA 9.0.1.15"));
    QCOMPARE(record.value(3), QByteArray("9.0.1.15"));
    QTRY_VERIFY_WITH_TIMEOUT(!downloadDialog(), 5000);
    QVERIFY(!controller->CheckForUpdate(false)); // handed off: the program is ending
}

void TestUpdateController::cancelHalfwayNeedsAYes_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes aborts the download") << true;
    QTest::newRow("No lets it go on") << false;
}

void TestUpdateController::cancelHalfwayNeedsAYes()
{
    QFETCH(bool, yes);
    UpdateController *controller = makeController(offerOf(m_server, "/held/KorvelBSA"));
    QSignalSpy endRequested(controller, &UpdateController::endProgramRequested);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    visibleOffer()->DownloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(downloadDialog() && downloadDialog()->ProgressBar1()->value() == 1024, 10000);
    UpdateDownloadDialog *dialog = downloadDialog();
    QCOMPARE(dialog->TransferLabel()->text(),
        QStringLiteral("%1 of %2 (50%)").arg(FormatFileSize(1024), FormatFileSize(2048)));

    dialog->CancelButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 5000);
    QCOMPARE(visibleBox()->text(), QStringLiteral("Deze software update afbreken?"));
    if (!yes) {
        click(visibleBox(), QMessageBox::No);
        QTRY_VERIFY_WITH_TIMEOUT(!visibleBox(), 5000);
        QVERIFY(dialog->CancelButton()->isEnabled());
        m_server.releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
        QCOMPARE(visibleBox()->text(), QStringLiteral("Rovix Korvel® Kwendel gaat nu starten"));
        click(visibleBox(), QMessageBox::Ok);
        QCOMPARE(endRequested.size(), 1);
        return;
    }

    click(visibleBox(), QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 5000);
    QMessageBox *aborted = visibleBox();
    QCOMPARE(aborted->text(), QStringLiteral("De software update werd afgebroken."));
    QCOMPARE(aborted->icon(), QMessageBox::Critical);
    QVERIFY(!dialog->CancelButton()->isEnabled());
    // The connection is closed at once, not when the box is answered.
    QTRY_COMPARE_WITH_TIMEOUT(m_server.openConnections, 0, 5000);

    click(aborted, QMessageBox::Ok);
    QTRY_VERIFY_WITH_TIMEOUT(!downloadDialog(), 5000);
    QVERIFY(!controller->isBusy());
    QCOMPARE(QDir(m_home->filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files), QStringList());
    QCOMPARE(endRequested.size(), 0);
    QVERIFY(!QFile::exists(updaterRecord()));
}

void TestUpdateController::failedDownloadEndsWithoutABox_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("logged");
    QTest::newRow("a 404 on GET") << QByteArray("/get-fails/KorvelBSA") << "Mislukt: 404 Not Found";
    QTest::newRow("a connection cut halfway") << QByteArray("/cut/KorvelBSA") << "Mislukt: 0 ";
    QTest::newRow("no Content-Length on HEAD") << QByteArray("/no-length/KorvelBSA") << "noemt geen grootte";
}

void TestUpdateController::failedDownloadEndsWithoutABox()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, logged);
    UpdateController *controller = makeController(offerOf(m_server, path));
    QSignalSpy log(controller, &UpdateController::logLine);
    QSignalSpy endRequested(controller, &UpdateController::endProgramRequested);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    visibleOffer()->DownloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!downloadDialog(), 5000);
    QVERIFY(!visibleBox());
    QVERIFY(!visibleOffer());
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().first().toString().contains(logged), qPrintable(log.first().first().toString()));
    QCOMPARE(QDir(m_home->filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files), QStringList());
    QCOMPARE(endRequested.size(), 0);
    QVERIFY(!QFile::exists(updaterRecord()));
}

void TestUpdateController::damagedDownloadIsReportedAndDeleted_data()
{
    QTest::addColumn<QByteArray>("sha1");
    QTest::addColumn<QByteArray>("signature"); // the description's SignatureFileURL; empty: the download's + .minisig
    QTest::addColumn<QString>("logged");
    QTest::newRow("another SHA-1") << sha1Of("another program") << QByteArray() << "de SHA-1 is";
    QTest::newRow("signed by a key the program does not know")
        << sha1Of(Program) << QByteArray("/signatures/other-key.minisig") << "onbekende sleutel";
    QTest::newRow("no signature") << sha1Of(Program) << QByteArray("/signatures/missing.minisig")
                                  << "ontbreekt: Mislukt: 404 Not Found";
}

void TestUpdateController::damagedDownloadIsReportedAndDeleted()
{
    QFETCH(QByteArray, sha1);
    QFETCH(QByteArray, signature);
    QFETCH(QString, logged);
    QByteArray description = offerOf(m_server, "/KorvelBSA", sha1);
    if (!signature.isEmpty())
        description += "SignatureFileURL=" + m_server.url(signature).toEncoded() + "\n";
    UpdateController *controller = makeController(description);
    QSignalSpy log(controller, &UpdateController::logLine);
    QSignalSpy endRequested(controller, &UpdateController::endProgramRequested);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    visibleOffer()->DownloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    QCOMPARE(visibleBox()->text(), QStringLiteral("De download is beschadigd."));
    QVERIFY(!QFile::exists(downloaded()));
    QCOMPARE(QDir(m_home->filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files), QStringList());
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().first().toString().contains(logged), qPrintable(log.first().first().toString()));
    click(visibleBox(), QMessageBox::Ok);
    QTRY_VERIFY_WITH_TIMEOUT(!downloadDialog(), 5000);
    QVERIFY(!controller->isBusy());
    QCOMPARE(endRequested.size(), 0);
    QVERIFY(!QFile::exists(updaterRecord()));
}

void TestUpdateController::aBuildWithoutAKeyOffersNoDownload()
{
    UpdateController *controller = makeController(offerOf(m_server, "/KorvelBSA"));
    controller->setSignatureKeys(QString());
    QSignalSpy log(controller, &UpdateController::logLine);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    QVERIFY(!visibleOffer()->DownloadButton()->isEnabled());
    QVERIFY(visibleOffer()->ReadmeMemo()->toPlainText().startsWith(
        QStringLiteral("Deze versie kan geen update installeren: deze versie is gebouwd zonder sleutel")));
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().first().toString().contains(QStringLiteral("zonder sleutel")),
        qPrintable(log.first().first().toString()));
}

void TestUpdateController::transferFollowsTheBodyNotHead()
{
    // The description names its signature file.
    UpdateController *controller = makeController(offerOf(m_server, "/head-too-small/KorvelBSA", sha1Of(LargeProgram))
        + "SignatureFileURL=" + m_server.url("/signatures/large.minisig").toEncoded() + "\n");
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    visibleOffer()->DownloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    QCOMPARE(visibleBox()->text(), QStringLiteral("Rovix Korvel® Kwendel gaat nu starten"));
    UpdateDownloadDialog *dialog = downloadDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->TransferLabel()->text(), QStringLiteral("195 KB of 195 KB (100%)"));
    QCOMPARE(dialog->ProgressBar1()->maximum(), 200000);
    QCOMPARE(dialog->ProgressBar1()->value(), 200000);
    click(visibleBox(), QMessageBox::Ok);
}

void TestUpdateController::missingUpdaterKeepsTheProgramRunning()
{
    QVERIFY(QFile::remove(m_home->filePath(QStringLiteral("KorvelUpdater"))));
    UpdateController *controller = makeController(offerOf(m_server, "/KorvelBSA"));
    QSignalSpy log(controller, &UpdateController::logLine);
    QSignalSpy endRequested(controller, &UpdateController::endProgramRequested);
    QVERIFY(controller->CheckForUpdate(false));
    QTRY_VERIFY_WITH_TIMEOUT(visibleOffer(), 10000);
    visibleOffer()->DownloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    click(visibleBox(), QMessageBox::Ok);
    QCOMPARE(endRequested.size(), 0);
    QCOMPARE(log.size(), 1);
    QVERIFY(log.first().first().toString().contains(QStringLiteral("KorvelUpdater kan niet gestart worden")));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), 5000);
}

void TestUpdateController::buttonMakesTheBackupCopyFirst()
{
    UpdateController *controller = makeController("[KorvelBSA]\nVersion=9.0.1.14\n");
    controller->backUpAndCheck();
    const QString backup = m_home->filePath(QStringLiteral("Backups/KorvelBSA"));
    QCOMPARE(readFile(backup), QByteArray("the running program"));
    QVERIFY(QFileInfo(backup).isExecutable());
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    click(visibleBox(), QMessageBox::Ok);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isBusy(), 5000);

    QVERIFY(writeFile(m_home->filePath(QStringLiteral("KorvelBSA")), "the next program", Runnable));
    controller->backUpAndCheck(); // a second check replaces the earlier copy
    QCOMPARE(readFile(backup), QByteArray("the next program"));
    QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 10000);
    click(visibleBox(), QMessageBox::Ok);
}

void TestUpdateController::secondCheckIsRefusedAndDestructionAbortsTheRequest()
{
    UpdateController *controller = makeController(QByteArray());
    controller->setUpdateFileURL(m_server.url("/silent.ini"));
    QSignalSpy requested(&m_server, &LoopbackHttpServer::requestReceived);
    QSignalSpy closed(&m_server, &LoopbackHttpServer::connectionClosed);
    QVERIFY(controller->CheckForUpdate(false));
    QVERIFY(requested.wait(5000));
    QVERIFY(controller->isBusy());
    QVERIFY(!controller->CheckForUpdate(false));
    controller->backUpAndCheck();
    QVERIFY(!QFile::exists(m_home->filePath(QStringLiteral("Backups/KorvelBSA")))); // refused before the copy
    QCOMPARE(requested.size(), 1);

    delete controller;
    m_controller = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 5000);
    QVERIFY(!visibleBox());
}

QTEST_MAIN(TestUpdateController)
#include "TestUpdateController.moc"
