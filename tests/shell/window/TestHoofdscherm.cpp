#include <algorithm>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "codec/Envelope.h"
#include "platform/Database.h"
#include "shell/Koppeling.h"
#include "shell/window/Hoofdscherm.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/PlanningRows.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "update/window/UpdateController.h"
#include "tests/support/UnixOnly.h"

// The operator window over a real owner: a real settings file and SQLite database in a temporary folder, and BSA
// as a real socket on 127.0.0.1. Boxes are answered the way an operator would, by clicking their buttons.
class TestHoofdscherm final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void showsEveryTabWithItsLabelsAndFields_data();
    void showsEveryTabWithItsLabelsAndFields();
    void showsItsCaptionButtonsAndTrayMenu();
    void fieldsShowTheStoredSettings();
    void saysWhenNoPlanningDatabaseIsSet_data();
    void saysWhenNoPlanningDatabaseIsSet();
    void anEditCountsFromTheNextRide();
    void pakketUitShowsTheQueueFromTheStart();
    void closeQuestion_data();
    void closeQuestion();
    void aLogThatCannotBeArchivedKeepsTheWindowOpen();
    void sluitenClosesTheDatabaseBeforeAsking();
    void hidingWithoutANotificationAreaMinimises();
    void hidesToTheTrayAndComesBack();
    void testButton_data();
    void testButton();
    void testStatusQueuesTheRowTheFieldNames();
    void theOperatorsEditOfTheLogIsTheLog();
    void updateCheckStartsFromTheButtonAndTheTray_data();
    void updateCheckStartsFromTheButtonAndTheTray();
    void theHandOffEndsWithoutTheCloseQuestion_data();
    void theHandOffEndsWithoutTheCloseQuestion();

private:
    void startLink(const QByteArray &storedValues = QByteArray());
    void openWindow();
    QLineEdit *edit(const char *name) const;
    void type(const char *name, const QString &text);
    QStringList sendRide(QTcpSocket &bsa, const RideMessageBuilder &ride);
    QVariant planningValue(const QString &column, int rideNumber);
    QStringList archives() const;
    QByteArray settingsFile() const;

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<Koppeling> m_koppeling;
    std::unique_ptr<THoofdscherm> m_window;
};

namespace {

const QByteArray SQLiteLogin = settingsLine("xLoginServer_Text", "sqlite:BSA/planning.db");

// The box the window shows now, once it shows one; null when none came within five seconds.
QMessageBox *shownBox(QWidget *window)
{
    QMessageBox *shown = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            const QList<QMessageBox *> boxes = window->findChildren<QMessageBox *>();
            const auto visible
                = std::find_if(boxes.cbegin(), boxes.cend(), [](QMessageBox *b) { return b->isVisible(); });
            shown = visible == boxes.cend() ? nullptr : *visible;
            return shown != nullptr;
        },
        5000);
    return shown;
}

bool showsNoBox(QWidget *window)
{
    QCoreApplication::processEvents();
    const QList<QMessageBox *> boxes = window->findChildren<QMessageBox *>();
    return std::none_of(boxes.cbegin(), boxes.cend(), [](QMessageBox *b) { return b->isVisible(); });
}

// What a page shows, in reading order: texts as they stand, fields as "#name", check boxes and buttons as
// "#name:caption". Items of one row (centres less than five pixels apart) are read from left to right.
QStringList readingOrder(QWidget *page)
{
    struct Item
    {
        QPoint centre;
        QString text;
    };
    QList<Item> items;
    const QList<QWidget *> widgets = page->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(page))
            continue;
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = QLatin1Char('#') + widget->objectName() + QLatin1Char(':') + button->text();
        else if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QPlainTextEdit *>(widget)
            || qobject_cast<QListWidget *>(widget))
            text = QLatin1Char('#') + widget->objectName();
        else
            continue;
        items.append({ widget->mapTo(page, widget->rect().center()), text });
    }
    std::stable_sort(
        items.begin(), items.end(), [](const Item &a, const Item &b) { return a.centre.y() < b.centre.y(); });
    for (qsizetype row = 0; row < items.size();) {
        qsizetype end = row + 1;
        while (end < items.size() && items.at(end).centre.y() - items.at(row).centre.y() < 5)
            ++end;
        std::stable_sort(items.begin() + row, items.begin() + end,
            [](const Item &a, const Item &b) { return a.centre.x() < b.centre.x(); });
        row = end;
    }
    QStringList order;
    for (const Item &item : std::as_const(items))
        order << item.text;
    return order;
}

// The widgets of a page whose text would not fit: narrower than their text needs, or reaching out of the page.
QStringList cutOff(QWidget *page)
{
    QStringList cut;
    const QList<QWidget *> widgets = page->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(page) || !(qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget)))
            continue;
        const QRect shown(widget->mapTo(page, QPoint(0, 0)), widget->size());
        if (widget->width() < widget->sizeHint().width() || !page->rect().contains(shown))
            cut << widget->objectName() + QLatin1Char('/') + widget->property("text").toString();
    }
    return cut;
}

} // namespace

void TestHoofdscherm::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void TestHoofdscherm::cleanup()
{
    m_window.reset();
    m_koppeling.reset();
    m_home.reset();
}

// Writes the settings file with these elements under Hoofdscherm, starts the owner and opens its window.
// Messages an earlier run could not hand to the host are on the tab from the start, and TEST ACK adds its own.
void TestHoofdscherm::pakketUitShowsTheQueueFromTheStart()
{
    const QByteArray waiting = "4143094253410936093831320D";
    const QString queueFile = m_home->filePath(QStringLiteral("BSA/BACKUPS/UIT/PAKKETUIT.TXT"));
    QVERIFY(QDir().mkpath(QFileInfo(queueFile).path()));
    QFile file(queueFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(waiting + "\r\n"), waiting.size() + 2);
    file.close();
    startLink();
    auto *out = m_window->findChild<QPlainTextEdit *>(QStringLiteral("PakketUIT"));
    QVERIFY(out);
    QTRY_COMPARE_WITH_TIMEOUT(out->toPlainText(), QString::fromLatin1(waiting), 5000);
    m_window->SpeedButton1Click();
    QTRY_VERIFY_WITH_TIMEOUT(out->toPlainText().contains(QStringLiteral("414309425341093609313233343509")), 5000);
}

void TestHoofdscherm::startLink(const QByteArray &storedValues)
{
    QFile file(m_home->filePath(QStringLiteral("KorvelBSA.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(::settingsFile(storedValues));
    file.close();
    openWindow();
}

// Starts the owner on whatever the program folder holds and opens its window.
void TestHoofdscherm::openWindow()
{
    m_koppeling = std::make_unique<Koppeling>(m_home->path());
    QString error;
    QVERIFY2(m_koppeling->start(&error), qPrintable(error));
    m_window = std::make_unique<THoofdscherm>(*m_koppeling);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

QLineEdit *TestHoofdscherm::edit(const char *name) const
{
    return m_window->findChild<QLineEdit *>(QLatin1String(name));
}

// Replaces the field's text as an operator does: select everything, then type.
void TestHoofdscherm::type(const char *name, const QString &text)
{
    QLineEdit *field = edit(name);
    QVERIFY(field);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

// Sends the ride on the connected socket and returns the answer's fields; empty when none came.
QStringList TestHoofdscherm::sendRide(QTcpSocket &bsa, const RideMessageBuilder &ride)
{
    bsa.write(Inpakken(ride.text(), false));
    QByteArray received;
    (void)QTest::qWaitFor(
        [&] {
            received += bsa.readAll();
            return received.contains("<EINDE>");
        },
        5000);
    return received.contains("<EINDE>") ? SplitsVelden(Uitpakken(received)) : QStringList();
}

QVariant TestHoofdscherm::planningValue(const QString &column, int rideNumber)
{
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(m_home->filePath(QStringLiteral("BSA/planning.db")));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT %1 FROM planning WHERE pla_extern_ritnummer = %2")
                               .arg(column)
                               .arg(rideNumber))
                && query.next())
                value = query.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return value;
}

QStringList TestHoofdscherm::archives() const
{
    return QDir(m_home->filePath(QStringLiteral("BSA/LOGS"))).entryList({ QStringLiteral("BS_*.TXT") }, QDir::Files);
}

QByteArray TestHoofdscherm::settingsFile() const
{
    return readFile(m_home->filePath(QStringLiteral("KorvelBSA.xml")));
}

void TestHoofdscherm::showsEveryTabWithItsLabelsAndFields_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("Instellingen: the database login and its test")
        << 0 << "Instellingen"
        << "Instellingen"
        << QStringList { "SQL server", "#xLoginServer", "Database", "#xLoginDatabase", "Inlognaam", "#xLoginSQL",
               "Paswoord", "#xPaswoordSQL", "#Button3:TEST",
               "GEEN PLANNINGDATABASE INGESTELD: ELKE RIT KRIJGT NC. Vul hierboven bij SQL server de planningdatabase "
               "in, bijvoorbeeld sqlite:BSA/planning.db voor de ingebouwde SQLite-database." };
    QTest::newRow("Logboek: the operator log fills the tab") << 1 << "LogboekPanel"
                                                             << "Logboek" << QStringList { "#BSALog" };
    QTest::newRow("Parameters: the base values of new rides")
        << 2 << "TabSheet1"
        << "Parameters"
        << QStringList { "BASIS GEGEVENS BSA VERVOER", "Bedrijf", "#BSA_BDR", "Debiteur", "#BSA_DEB", "Tariefcode",
               "#BSA_Tarief", "Gebruiker", "#Gebruiker", "Versie", "#SoftwareVersie", "Soort vervoer", "#SoortVervoer",
               "Decimaal teken", "#DecimaalTeken", "Filter", "#PZN_FILTER" };
    QTest::newRow("Wagens: the vehicle letters")
        << 3 << "TabSheet3"
        << "Wagens" << QStringList { "Taxi", "#PZN_Taxi", "Bus", "#PZN_Bus", "Rolstoelbus", "#PZN_Rolstoelbus" };
    QTest::newRow("Update: the update check") << 4 << "TabSheet4"
                                              << "Update" << QStringList { "#SpeedButton4:UPDATE CONTROLE" };
    QTest::newRow("Server: ports, host, switches and the feedback tests")
        << 5 << "TabSheet2"
        << "Server"
        << QStringList { "Serverpoort", "#BSAServerPoort", "Host poort", "#BSAHostPoort", "Host adres", "#BSAHostAdres",
               "Toegestane adressen", "#BSAToegestaneAdressen", "#bsaCRLF:CR+LF meezenden ACK/NACK",
               "#BSATerug:Terugkoppeling datacommunicatie inschakelen", "#BSAAuto:Server automatisch opstarten",
               "BSA Bedrijfsnummer", "#BSABedrijf", "Planningrij (pla_id)", "#Ritnummer", "#SpeedButton2:TEST STATUS",
               "#SpeedButton1:TEST ACK" };
    QTest::newRow("Verbindingen: the connection list") << 6 << "TabSheet5"
                                                       << "Verbindingen" << QStringList { "#ST" };
    QTest::newRow("Pakket IN: the last message received") << 7 << "TabSheet6"
                                                          << "Pakket IN" << QStringList { "#PakketIN" };
    QTest::newRow("Pakket UIT: the outgoing queue") << 8 << "TabSheet7"
                                                    << "Pakket UIT" << QStringList { "#PakketUIT" };
}

void TestHoofdscherm::showsEveryTabWithItsLabelsAndFields()
{
    QFETCH(int, index);
    QFETCH(QString, page);
    QFETCH(QString, caption);
    QFETCH(QStringList, shown);
    startLink();
    auto *tabs = m_window->findChild<QTabWidget *>(QStringLiteral("RzPageControl1"));
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 9);
    QCOMPARE(tabs->currentIndex(), 0); // "Instellingen" in front at start
    QCOMPARE(tabs->tabText(index), caption);
    QWidget *tab = tabs->widget(index);
    QCOMPARE(tab->objectName(), page);
    tabs->setCurrentIndex(index);
    QTRY_VERIFY_WITH_TIMEOUT(tab->isVisible(), 5000);
    QCoreApplication::processEvents(); // lets the page lay itself out
    QCOMPARE(readingOrder(tab), shown);
    QCOMPARE(cutOff(tab), QStringList());
}

void TestHoofdscherm::showsItsCaptionButtonsAndTrayMenu()
{
    startLink("    <xPaswoordSQL_Text>geheim</xPaswoordSQL_Text>\r\n");
    const QString caption = QStringLiteral("Rovix Korvel BSA koppeling - v" BSA_VERSION);
    QCOMPARE(m_window->windowTitle(), caption);
    QCOMPARE(QString(BSA_VERSION).split('.').size(), 4);
    QCOMPARE(m_window->size(), QSize(765, 487));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize()); // fixed

    auto *server = m_window->findChild<QToolButton *>(QStringLiteral("BtnExecute"));
    QVERIFY(server);
    QCOMPARE(server->text(), QStringLiteral("Server AAN/UIT"));
    auto *hide = m_window->findChild<QPushButton *>(QStringLiteral("Button4"));
    auto *close = m_window->findChild<QPushButton *>(QStringLiteral("Button5"));
    QVERIFY(hide && close);
    QCOMPARE(hide->text(), QStringLiteral("VERBERGEN NAAR TAAKBALK"));
    QCOMPARE(close->text(), QStringLiteral("SLUITEN"));
    QVERIFY(hide->mapTo(m_window.get(), QPoint()).x() < m_window->width() / 2);
    QVERIFY(close->mapTo(m_window.get(), QPoint()).x() > m_window->width() / 2);
    QVERIFY(hide->width() >= hide->sizeHint().width());
    QVERIFY(close->mapTo(m_window.get(), QPoint(close->width(), 0)).x() <= m_window->width());

    QCOMPARE(edit("xPaswoordSQL")->text(), QStringLiteral("geheim"));
    QCOMPARE(edit("xPaswoordSQL")->displayText(), QStringLiteral("******"));

    auto *in = m_window->findChild<QPlainTextEdit *>(QStringLiteral("PakketIN"));
    auto *out = m_window->findChild<QPlainTextEdit *>(QStringLiteral("PakketUIT"));
    QVERIFY(in && out);
    for (QPlainTextEdit *view : { in, out }) {
        QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
    QCOMPARE(out->lineWrapMode(), QPlainTextEdit::NoWrap);

    QSystemTrayIcon *tray = m_window->trayIcon();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), caption);
    QVERIFY(tray->contextMenu());
    QStringList entries;
    const QList<QAction *> actions = tray->contextMenu()->actions();
    for (const QAction *action : actions)
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries, QStringList({ "Update", "Details", "-", "Sluiten" }));
}

void TestHoofdscherm::fieldsShowTheStoredSettings()
{
    startLink("    <BSA_BDR_Text>21</BSA_BDR_Text>\r\n    <BSAHostAdres_Text>10.0.0.9</BSAHostAdres_Text>\r\n"
              "    <BSAAuto_Checked>TRUE</BSAAuto_Checked>\r\n    <SoortVervoer_Text>Q</SoortVervoer_Text>\r\n");
    QCOMPARE(edit("BSA_BDR")->text(), QStringLiteral("21"));
    QCOMPARE(edit("BSAHostAdres")->text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(edit("SoortVervoer")->text(), QStringLiteral("Q"));
    QCOMPARE(edit("BSA_DEB")->text(), QStringLiteral("1")); // not stored: the default
    QCOMPARE(edit("BSAServerPoort")->text(), QStringLiteral("12001")); // never stored
    QCOMPARE(edit("Ritnummer")->text(), QStringLiteral("0"));
    QVERIFY(m_window->findChild<QCheckBox *>(QStringLiteral("BSAAuto"))->isChecked());
    QVERIFY(!m_window->findChild<QCheckBox *>(QStringLiteral("BSATerug"))->isChecked());
}

void TestHoofdscherm::saysWhenNoPlanningDatabaseIsSet_data()
{
    QTest::addColumn<bool>("settingsFile");
    QTest::addColumn<QByteArray>("storedValues");
    QTest::addColumn<bool>("said");
    QTest::newRow("a new program folder without a settings file") << false << QByteArray() << true;
    QTest::newRow("a settings file without the SQL server") << true << QByteArray() << true;
    QTest::newRow("an SQL server of spaces only") << true << settingsLine("xLoginServer_Text", "   ") << true;
    QTest::newRow("the embedded database") << true << SQLiteLogin << false;
    QTest::newRow("SQL Server") << true << settingsLine("xLoginServer_Text", "sqlhost\\PLANNING") << false;
}

// Every ride gets "NC" without a planning database: the log says so at start and the tab "Instellingen" shows it
// until the operator fills in the field, and again when the field is emptied.
void TestHoofdscherm::saysWhenNoPlanningDatabaseIsSet()
{
    QFETCH(bool, settingsFile);
    QFETCH(QByteArray, storedValues);
    QFETCH(bool, said);
    if (settingsFile)
        startLink(storedValues);
    else
        openWindow();
    const QString notice = QStringLiteral("GEEN PLANNINGDATABASE INGESTELD: ELKE RIT KRIJGT NC.");
    const QStringList lines = m_koppeling->logLines();
    const auto logged = std::count_if(lines.cbegin(), lines.cend(), [&](const QString &line) {
        return line.contains(notice) && line.contains(QStringLiteral("Instellingen"))
            && line.contains(QStringLiteral("sqlite:BSA/planning.db"));
    });
    QCOMPARE(logged, said ? 1 : 0);

    auto *shown = m_window->findChild<QLabel *>(QStringLiteral("GeenPlanningdatabase"));
    QVERIFY(shown);
    QVERIFY(shown->text().startsWith(notice));
    QCOMPARE(shown->isVisible(), said);

    type("xLoginServer", QStringLiteral("sqlite:BSA/planning.db"));
    QVERIFY(!shown->isVisible());
    QVERIFY(m_koppeling->hasPlanningDatabase());
    type("xLoginServer", QString());
    QVERIFY(shown->isVisible());
    QVERIFY(!m_koppeling->hasPlanningDatabase());
    // Said once, at start: the notice on the tab follows the field, the log does not.
    QCOMPARE(m_koppeling->logLines().filter(notice).size(), said ? 1 : 0);
}

void TestHoofdscherm::anEditCountsFromTheNextRide()
{
    startLink(SQLiteLogin);
    type("BSAServerPoort", QString::number(freeLoopbackPort()));
    type("BSA_BDR", QStringLiteral("77"));
    QTest::mouseClick(m_window->findChild<QToolButton *>(QStringLiteral("BtnExecute")), Qt::LeftButton);
    QVERIFY(m_koppeling->isServerActive());

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, quint16(edit("BSAServerPoort")->text().toInt()));
    auto *st = m_window->findChild<QListWidget *>(QStringLiteral("ST"));
    QTRY_COMPARE_WITH_TIMEOUT(st->count(), 1, 5000);
    QCOMPARE(st->item(0)->text(), QStringLiteral("127.0.0.1"));

    RideMessageBuilder ride(4711, QDateTime::currentDateTime());
    QVERIFY(ride.setField(QStringLiteral("NaamReiziger"), QStringLiteral("Jan de Vries, jr."), nullptr));
    QCOMPARE(sendRide(bsa, ride).value(0), QStringLiteral("AC"));
    QCOMPARE(planningValue(QStringLiteral("pla_bdr_id"), 4711).toInt(), 77);

    // "Pakket IN" shows the fields as the link stored them, one per line: the name stays one line.
    const auto *pakketIn = m_window->findChild<QPlainTextEdit *>(QStringLiteral("PakketIN"));
    QTRY_COMPARE_WITH_TIMEOUT(pakketIn->toPlainText().split('\n'), ride.text().split('\t'), 5000);
    QVERIFY(pakketIn->toPlainText().split('\n').contains(QStringLiteral("Jan de Vries, jr.")));

    // The next ride sees the next edit; the log view shows what the log holds.
    type("BSA_BDR", QStringLiteral("78"));
    ride.setRideNumber(4712);
    QCOMPARE(sendRide(bsa, ride).value(0), QStringLiteral("AC"));
    QCOMPARE(planningValue(QStringLiteral("pla_bdr_id"), 4712).toInt(), 78);
    const auto *log = m_window->findChild<QPlainTextEdit *>(QStringLiteral("BSALog"));
    QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText().split('\n'), m_koppeling->logLines(), 5000);
    QVERIFY(log->toPlainText().contains(QStringLiteral("<ACK - (BN) VERWERKT>")));
}

void TestHoofdscherm::closeQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("No leaves the log, the settings file and the connections as they were") << QMessageBox::No;
    QTest::newRow("Yes archives the log and captures the settings for the file") << QMessageBox::Yes;
}

void TestHoofdscherm::closeQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    startLink(SQLiteLogin);
    const QByteArray storedBefore = settingsFile();
    type("BSAServerPoort", QString::number(freeLoopbackPort()));
    type("BSA_BDR", QStringLiteral("55"));
    m_window->BtnExecuteClick();
    QVERIFY(m_koppeling->isServerActive());
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, quint16(edit("BSAServerPoort")->text().toInt()));
    QTRY_COMPARE_WITH_TIMEOUT(m_koppeling->ST().size(), 1, 5000);
    const QStringList logBefore = m_koppeling->logLines();
    QSignalSpy ended(m_window.get(), &THoofdscherm::ended);

    m_window->close(); // the title bar's close box
    QMessageBox *box = shownBox(m_window.get());
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Wenst u de Rovix Korvel koppelingssoftware af te sluiten?"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Afsluiten communicatie software"));
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
    QCOMPARE(box->icon(), QMessageBox::Information);
    QVERIFY(m_window->isVisible()); // nothing happened before the answer
    box->button(answer)->click();

    if (answer == QMessageBox::No) {
        QVERIFY(showsNoBox(m_window.get()));
        QVERIFY(m_window->isVisible());
        QCOMPARE(ended.size(), 0);
        QCOMPARE(m_koppeling->logLines(), logBefore);
        QCOMPARE(archives(), QStringList());
        QCOMPARE(settingsFile(), storedBefore);
        QVERIFY(m_koppeling->isServerActive());
        QCOMPARE(m_koppeling->ST(), QStringList { QStringLiteral("127.0.0.1") });
        QCOMPARE(bsa.state(), QAbstractSocket::ConnectedState);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_koppeling->logLines(), QStringList());
    QCOMPARE(archives().size(), 1);
    const QByteArray archive = readFile(m_home->filePath(QStringLiteral("BSA/LOGS/")) + archives().constFirst());
    QVERIFY(archive.startsWith(logBefore.constFirst().toLatin1()));
    QVERIFY(archive.endsWith(" - afsluiten software geaccepteerd\r\n"));
    QCOMPARE(settingsFile(), storedBefore); // the file is written once, as the program ends
    QString error;
    QVERIFY2(m_koppeling->finish(&error), qPrintable(error));
    QVERIFY(settingsFile().contains("<BSA_BDR_Text>55</BSA_BDR_Text>"));
    QVERIFY(!m_koppeling->isServerActive());
}

void TestHoofdscherm::aLogThatCannotBeArchivedKeepsTheWindowOpen()
{
    startLink();
    // Where the archives go stands a file: the archive cannot be written.
    const QString logs = m_home->filePath(QStringLiteral("BSA/LOGS"));
    QVERIFY(QDir(logs).removeRecursively());
    QFile blocker(logs);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    type("BSAServerPoort", QStringLiteral("abc"));
    m_window->BtnExecuteClick(); // one line in the log: the port is refused
    const QStringList logBefore = m_koppeling->logLines();
    QSignalSpy ended(m_window.get(), &THoofdscherm::ended);

    m_window->Sluirten1Click();
    QMessageBox *box = shownBox(m_window.get());
    QVERIFY(box);
    box->button(QMessageBox::Yes)->click();
    QVERIFY(showsNoBox(m_window.get())); // the reason goes to the log, not into a box
    QVERIFY(m_window->isVisible());
    QCOMPARE(ended.size(), 0);
    const QStringList lines = m_koppeling->logLines();
    QCOMPARE(lines.mid(0, logBefore.size()), logBefore);
    QVERIFY(lines.join('\n').contains(QStringLiteral("afsluiten software geaccepteerd")));
    QVERIFY2(
        lines.constLast().contains(QStringLiteral("Logboek kan niet bewaard worden")), qPrintable(lines.constLast()));
}

void TestHoofdscherm::sluitenClosesTheDatabaseBeforeAsking()
{
    startLink(SQLiteLogin);
    type("BSAServerPoort", QString::number(freeLoopbackPort()));
    m_window->BtnExecuteClick();
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, quint16(edit("BSAServerPoort")->text().toInt()));
    QCOMPARE(sendRide(bsa, RideMessageBuilder(4711, QDateTime::currentDateTime())).value(0), QStringLiteral("AC"));
    QVERIFY(m_koppeling->isDatabaseOpen());

    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("Button5")), Qt::LeftButton);
    QMessageBox *box = shownBox(m_window.get());
    QVERIFY(box);
    QVERIFY(!m_koppeling->isDatabaseOpen());
    box->button(QMessageBox::No)->click();
    QVERIFY(m_window->isVisible());

    // The next ride opens it again.
    QCOMPARE(sendRide(bsa, RideMessageBuilder(4712, QDateTime::currentDateTime())).value(0), QStringLiteral("AC"));
    QVERIFY(m_koppeling->isDatabaseOpen());
    QCOMPARE(planningValue(QStringLiteral("pla_extern_ritnummer"), 4712).toInt(), 4712);
}

void TestHoofdscherm::hidingWithoutANotificationAreaMinimises()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return QTest::qSkip("this desktop has a notification area", __FILE__, __LINE__);
    startLink();
    type("BSA_BDR", QStringLiteral("21"));
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("Button4")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isMinimized(), 5000);
    QVERIFY(m_window->isVisible()); // still on the task bar, so the operator can get back to it

    // Hiding captured the settings: an end without the close question stores what was captured then.
    type("BSA_BDR", QStringLiteral("31"));
    QString error;
    QVERIFY2(m_koppeling->finish(&error), qPrintable(error));
    QVERIFY(settingsFile().contains("<BSA_BDR_Text>21</BSA_BDR_Text>"));
}

void TestHoofdscherm::hidesToTheTrayAndComesBack()
{
    BSA_UNIX_ONLY("a tray icon of its own window that a test can click (the shell draws the tray)");
    // Runs where a notification area exists: the test command runs it under a virtual X display with a tray.
    if (!QSystemTrayIcon::isSystemTrayAvailable() && qEnvironmentVariableIsEmpty("BSA_EXPECT_TRAY"))
        return QTest::qSkip("this desktop has no notification area", __FILE__, __LINE__);
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
    startLink();
    QSystemTrayIcon *tray = m_window->trayIcon();
    QVERIFY(tray->isVisible());
    // The icon as the tray shows it: a small window of its own that takes the mouse.
    QWidget *icon = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QList<QWidget *> windows = QApplication::topLevelWidgets();
            const auto found = std::find_if(windows.cbegin(), windows.cend(), [](QWidget *w) {
                return qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->isVisible();
            });
            icon = found == windows.cend() ? nullptr : *found;
            return icon != nullptr;
        }(),
        5000);

    auto *hide = m_window->findChild<QPushButton *>(QStringLiteral("Button4"));
    QTest::mouseClick(hide, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 5000);
    QVERIFY(!m_window->isMinimized());

    // A double click on the icon brings the window back.
    QTest::mouseDClick(icon, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 5000);

    // The right button opens the menu; "Details" brings the window back too.
    QTest::mouseClick(hide, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 5000);
    QTest::mouseClick(icon, Qt::RightButton);
    QMenu *menu = tray->contextMenu();
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 5000);
    QAction *details = menu->findChild<QAction *>(QStringLiteral("Details1"));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(details).center());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 5000);

    // "Sluiten" asks while the window hides, and ends the program on Yes.
    QTest::mouseClick(hide, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 5000);
    QSignalSpy ended(m_window.get(), &THoofdscherm::ended);
    QTest::mouseClick(icon, Qt::RightButton);
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 5000);
    QAction *close = menu->findChild<QAction *>(QStringLiteral("Sluirten1"));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(close).center());
    QMessageBox *box = shownBox(m_window.get());
    QVERIFY(box);
    box->button(QMessageBox::Yes)->click();
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
    QCOMPARE(archives().size(), 1);
}

void TestHoofdscherm::testButton_data()
{
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("log");
    QTest::newRow("a good SQLite setting opens the database and says so") << SQLiteLogin << true << QStringList();
    QTest::newRow("an empty SQL server logs the abandoned connect once")
        << QByteArray() << false << QStringList { "Operation aborted" };
}

void TestHoofdscherm::testButton()
{
    QFETCH(QByteArray, login);
    QFETCH(bool, opens);
    QFETCH(QStringList, log);
    startLink(login);
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("Button3")), Qt::LeftButton);
    if (opens) {
        QMessageBox *box = shownBox(m_window.get());
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Database koppeling"));
        QCOMPARE(box->text(), QStringLiteral("Rovix Korvel SQL werd database met succes geopend"));
        box->button(QMessageBox::Ok)->click();
        QVERIFY(QFile::exists(m_home->filePath(QStringLiteral("BSA/planning.db"))));
    } else {
        QVERIFY(showsNoBox(m_window.get()));
    }
    QVERIFY(!m_koppeling->isDatabaseOpen()); // the test closes what it opened
    // Without a server the log began with the notice of saysWhenNoPlanningDatabaseIsSet; the test adds after it.
    if (!opens) {
        const QString notice = m_koppeling->logLines().value(0);
        QVERIFY2(notice.contains(QStringLiteral("GEEN PLANNINGDATABASE INGESTELD")), qPrintable(notice));
        log.prepend(notice);
    }
    QCOMPARE(m_koppeling->logLines(), log);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_window->findChild<QPlainTextEdit *>(QStringLiteral("BSALog"))->toPlainText(), log.join('\n'), 5000);
}

// "TEST STATUS" reads the field Ritnummer as the pla_id of a planning row (leading spaces allowed) and queues that
// row's status message.
void TestHoofdscherm::testStatusQueuesTheRowTheFieldNames()
{
    int id = 0;
    {
        const DatabaseLogin login { QStringLiteral("sqlite:BSA/planning.db"), {}, {}, {} };
        Database database([&login] { return login; }, m_home->path());
        QString error;
        const std::optional<int> added = PlanningRows::add(database, PlanningRows::deliveredRide(), &error);
        QVERIFY2(added, qPrintable(error));
        id = *added;
    }
    startLink(SQLiteLogin + "    <BSATerug_Checked>TRUE</BSATerug_Checked>\r\n");
    type("Ritnummer", QStringLiteral("  ") + QString::number(id));
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
    QCOMPARE(m_koppeling->pakketUitLines().size(), 1);
    const QString text = HexNaarTekst(m_koppeling->pakketUitLines().constFirst().toLatin1());
    QVERIFY2(text.startsWith(QStringLiteral("BT\tBSA\t6\t812\t")), qPrintable(text));
}

void TestHoofdscherm::theOperatorsEditOfTheLogIsTheLog()
{
    startLink();
    auto *view = m_window->findChild<QPlainTextEdit *>(QStringLiteral("BSALog"));
    QVERIFY(view);
    type("BSAServerPoort", QStringLiteral("abc"));
    m_window->BtnExecuteClick();
    m_window->BtnExecuteClick(); // two lines: the port is refused twice
    QTRY_COMPARE_WITH_TIMEOUT(view->toPlainText().split('\n'), m_koppeling->logLines(), 5000);

    view->moveCursor(QTextCursor::End);
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClicks(view, QStringLiteral("nagekeken door de operator"));
    QCOMPARE(m_koppeling->logLines().constLast(), QStringLiteral("nagekeken door de operator"));
    QCOMPARE(m_koppeling->logLines(), view->toPlainText().split('\n'));

    // A line logged but not shown yet when the operator types stays in the log, after the operator's text.
    m_window->BtnExecuteClick();
    const QString logged = m_koppeling->logLines().constLast();
    QTest::keyClick(view, Qt::Key_Exclam);
    QCOMPARE(m_koppeling->logLines().mid(m_koppeling->logLines().size() - 2),
        QStringList({ QStringLiteral("nagekeken door de operator!"), logged }));
    QTRY_COMPARE_WITH_TIMEOUT(view->toPlainText().split('\n'), m_koppeling->logLines(), 5000);

    // More than 5000 lines pasted: the next tick archives them and the view empties.
    QStringList many;
    for (int i = 0; i <= 5000; ++i)
        many << QStringLiteral("regel %1").arg(i);
    view->selectAll();
    view->insertPlainText(many.join('\n'));
    QCOMPARE(m_koppeling->logLines().size(), 5001);
    m_koppeling->Timer1Timer();
    QCOMPARE(archives().size(), 1);
    QCOMPARE(view->toPlainText(), QString());
    const QByteArray archive = readFile(m_home->filePath(QStringLiteral("BSA/LOGS/")) + archives().constFirst());
    QVERIFY(archive.endsWith("regel 5000\r\n"));
    QVERIFY(archive.startsWith("regel 0\r\n"));
}

void TestHoofdscherm::updateCheckStartsFromTheButtonAndTheTray_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("backupBlocked");
    QTest::newRow("UPDATE CONTROLE backs the program up and checks") << "UPDATE CONTROLE" << false;
    QTest::newRow("the tray's Update does the same") << "Update" << false;
    QTest::newRow("a backup that cannot be made goes to the log and the check goes on") << "UPDATE CONTROLE" << true;
}

void TestHoofdscherm::updateCheckStartsFromTheButtonAndTheTray()
{
    QFETCH(QString, from);
    QFETCH(bool, backupBlocked);
    // The description offers the version that runs, in the section of the running program file.
    const QFileInfo program(QCoreApplication::applicationFilePath());
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    server.answer("/KorvelBSA.ini",
        HttpAnswer::ok("[" + program.fileName().section(u'.', 0, 0).toUtf8() + "]\nVersion=" BSA_VERSION "\n"));
    startLink();
    const QString backups = m_home->filePath(QStringLiteral("Backups"));
    if (backupBlocked) {
        QVERIFY(QDir(backups).removeRecursively());
        QFile blocker(backups); // where the folder should be stands a file
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    m_window->updateController()->setUpdateFileURL(server.url("/KorvelBSA.ini"));
    const QStringList logBefore = m_koppeling->logLines();

    if (from == u"Update")
        m_window->trayIcon()->contextMenu()->findChild<QAction *>(QStringLiteral("Update1"))->trigger();
    else
        m_window->findChild<QPushButton *>(QStringLiteral("SpeedButton4"))->click();
    QMessageBox *box = shownBox(m_window.get());
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Er is geen nieuwe versie beschikbaar."));
    box->button(QMessageBox::Ok)->click();
    QCOMPARE(server.requests.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->updateController()->isBusy(), 5000);

    if (!backupBlocked) {
        QCOMPARE(QFileInfo(QDir(backups).filePath(program.fileName())).size(), program.size());
        QCOMPARE(m_koppeling->logLines(), logBefore);
        return;
    }
    const QStringList lines = m_koppeling->logLines();
    QCOMPARE(lines.size(), logBefore.size() + 1);
    static const QRegularExpression stamped(
        QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d - Geen reservekopie van het programma: "));
    QVERIFY2(stamped.match(lines.constLast()).hasMatch(), qPrintable(lines.constLast()));
}

void TestHoofdscherm::theHandOffEndsWithoutTheCloseQuestion_data()
{
    QTest::addColumn<bool>("hiddenBefore");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("the values on screen are stored") << false << QByteArray("<BSA_BDR_Text>31</BSA_BDR_Text>");
    QTest::newRow("after a hide, an edit made since is not stored")
        << true << QByteArray("<BSA_BDR_Text>21</BSA_BDR_Text>");
}

void TestHoofdscherm::theHandOffEndsWithoutTheCloseQuestion()
{
    QFETCH(bool, hiddenBefore);
    QFETCH(QByteArray, stored);
    startLink();
    type("BSA_BDR", QStringLiteral("21"));
    if (hiddenBefore)
        QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("Button4")), Qt::LeftButton);
    type("BSA_BDR", QStringLiteral("31"));
    const QStringList logBefore = m_koppeling->logLines();
    const QByteArray storedBefore = settingsFile();
    QSignalSpy ended(m_window.get(), &THoofdscherm::ended);

    // What the update does once the updater runs.
    emit m_window->updateController()->endProgramRequested();
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
    QVERIFY(showsNoBox(m_window.get()));
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_koppeling->logLines(), logBefore); // no "afsluiten software geaccepteerd", and no archive
    QCOMPARE(archives(), QStringList());
    QCOMPARE(settingsFile(), storedBefore); // written as the program ends
    QString error;
    QVERIFY2(m_koppeling->finish(&error), qPrintable(error));
    QVERIFY2(settingsFile().contains(stored), settingsFile().constData());
}

QTEST_MAIN(TestHoofdscherm)
#include "TestHoofdscherm.moc"
