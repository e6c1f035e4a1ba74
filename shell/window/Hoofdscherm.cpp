#include "Hoofdscherm.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "shell/Koppeling.h"
#include "shell/window/LogView.h"
#include "shell/window/PacketView.h"
#include "shell/window/SettingsFields.h"
#include "update/window/UpdateController.h"

namespace {

constexpr int FieldWidth = 260;

const QString CloseQuestionText = QStringLiteral("Wenst u de Rovix Korvel koppelingssoftware af te sluiten?");
const QString CloseQuestionTitle = QStringLiteral("Afsluiten communicatie software");

// What the operator does when no planning database is set, after the notice that every ride gets "NC".
QString noDatabaseText()
{
    return Koppeling::noPlanningDatabaseNotice()
        + QStringLiteral(" Vul hierboven bij SQL server de planningdatabase in, bijvoorbeeld sqlite:BSA/planning.db "
                         "voor de ingebouwde SQLite-database.");
}

// The program's icon, for the window and the tray: drawn here, so the program needs no image files.
QIcon programIcon()
{
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x20, 0x20, 0x20), size / 16.0));
        painter.setBrush(QColor(0xF5, 0xC4, 0x00)); // taxi yellow
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), size / 6.0, size / 6.0);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(qRound(size * 0.7));
        painter.setFont(font);
        painter.setPen(QColor(0x20, 0x20, 0x20));
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("K"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QFormLayout *newForm()
{
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(16);
    return form;
}

// A page whose content stands at the top left, as the operator knows it.
QWidget *newPage(const char *name, QLayout *content)
{
    auto *page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(content);
    layout->addStretch(1);
    return page;
}

QPushButton *newButton(const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QWidget *filledPage(const char *name, QWidget *content)
{
    auto *page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(content);
    return page;
}

} // namespace

THoofdscherm::THoofdscherm(Koppeling &koppeling, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint)
    , m_koppeling(koppeling)
    , m_fields(new SettingsFields(koppeling, this))
{
    setObjectName(QStringLiteral("Hoofdscherm"));
    setWindowIcon(programIcon());
    setFixedSize(ClientWidth, ClientHeight);

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("RzPageControl1"));
    m_log = new LogView;
    m_st = new QListWidget;
    m_st->setObjectName(QStringLiteral("ST"));
    m_pakketIn = new PacketView(QStringLiteral("PakketIN"), QPlainTextEdit::WidgetWidth);
    m_pakketUit = new PacketView(QStringLiteral("PakketUIT"), QPlainTextEdit::NoWrap);
    m_tabs->addTab(buildInstellingen(), QStringLiteral("Instellingen"));
    m_tabs->addTab(filledPage("LogboekPanel", m_log), QStringLiteral("Logboek"));
    m_tabs->addTab(buildParameters(), QStringLiteral("Parameters"));
    m_tabs->addTab(buildWagens(), QStringLiteral("Wagens"));
    m_tabs->addTab(buildUpdate(), QStringLiteral("Update"));
    m_tabs->addTab(buildServer(), QStringLiteral("Server"));
    m_tabs->addTab(filledPage("TabSheet5", m_st), QStringLiteral("Verbindingen"));
    m_tabs->addTab(filledPage("TabSheet6", m_pakketIn), QStringLiteral("Pakket IN"));
    m_tabs->addTab(filledPage("TabSheet7", m_pakketUit), QStringLiteral("Pakket UIT"));
    m_tabs->setCurrentIndex(0);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buildBottomPanel());

    buildTray();
    followTheLink();

    // The program file itself is what the update backs up and replaces; "Backups" and "TempDownloads" lie in the
    // program folder, which --home may have moved away from it.
    m_update = new UpdateController(
        this, QCoreApplication::applicationFilePath(), m_koppeling.programFolder(), QStringLiteral(BSA_VERSION));
    connect(m_update, &UpdateController::logLine, &m_koppeling, &Koppeling::Logger);
    connect(m_update, &UpdateController::endProgramRequested, this, &THoofdscherm::endForUpdate);

    FormCreate();
}

THoofdscherm::~THoofdscherm() = default;

QString THoofdscherm::caption()
{
    return QStringLiteral("Rovix Korvel BSA koppeling - v") + QStringLiteral(BSA_VERSION);
}

QLineEdit *THoofdscherm::field(const char *name)
{
    QLineEdit *edit = m_fields->edit(name, nullptr);
    edit->setFixedWidth(FieldWidth);
    return edit;
}

QWidget *THoofdscherm::buildToolbar()
{
    auto *toolbar = new QToolBar;
    toolbar->setObjectName(QStringLiteral("RzToolbar1"));
    toolbar->setMovable(false);
    auto *button = new QToolButton;
    button->setObjectName(QStringLiteral("BtnExecute"));
    button->setText(QStringLiteral("Server AAN/UIT"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(button, &QToolButton::clicked, this, &THoofdscherm::BtnExecuteClick);
    toolbar->addWidget(button);
    return toolbar;
}

QWidget *THoofdscherm::buildInstellingen()
{
    auto *form = newForm();
    QLineEdit *server = field("xLoginServer");
    form->addRow(QStringLiteral("SQL server"), server);
    form->addRow(QStringLiteral("Database"), field("xLoginDatabase"));
    form->addRow(QStringLiteral("Inlognaam"), field("xLoginSQL"));
    QLineEdit *password = field("xPaswoordSQL");
    password->setEchoMode(QLineEdit::Password);
    password->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*", as the operator knows it
    form->addRow(QStringLiteral("Paswoord"), password);
    QPushButton *test = newButton("Button3", QStringLiteral("TEST"));
    connect(test, &QPushButton::clicked, this, &THoofdscherm::Button3Click);
    form->addRow(QString(), test);

    // Without a planning database every ride gets "NC": said here, where the database is set, until it is.
    m_noDatabase = new QLabel(noDatabaseText());
    m_noDatabase->setObjectName(QStringLiteral("GeenPlanningdatabase"));
    m_noDatabase->setWordWrap(true);
    m_noDatabase->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    m_noDatabase->setVisible(!m_koppeling.hasPlanningDatabase());
    // The field has told the owner by the time this runs: connected after the field's own handler.
    connect(server, &QLineEdit::textChanged, m_noDatabase,
        [this] { m_noDatabase->setVisible(!m_koppeling.hasPlanningDatabase()); });
    auto *layout = new QVBoxLayout;
    layout->addLayout(form);
    layout->addSpacing(12);
    layout->addWidget(m_noDatabase);
    return newPage("Instellingen", layout);
}

QWidget *THoofdscherm::buildParameters()
{
    auto *heading = new QLabel(QStringLiteral("BASIS GEGEVENS BSA VERVOER"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto *form = newForm();
    form->addRow(heading);
    const std::pair<const char *, const char *> rows[] = {
        { "Bedrijf", "BSA_BDR" },
        { "Debiteur", "BSA_DEB" },
        { "Tariefcode", "BSA_Tarief" },
        { "Gebruiker", "Gebruiker" },
        { "Versie", "SoftwareVersie" },
        { "Soort vervoer", "SoortVervoer" },
        { "Decimaal teken", "DecimaalTeken" },
        { "Filter", "PZN_FILTER" },
    };
    for (const auto &[label, name] : rows)
        form->addRow(QString::fromLatin1(label), field(name));
    auto *inner = new QTabWidget;
    inner->setObjectName(QStringLiteral("PageControl2"));
    inner->addTab(newPage("pa", form), QStringLiteral("Basis gegevens"));
    return filledPage("TabSheet1", inner);
}

QWidget *THoofdscherm::buildWagens()
{
    auto *form = newForm();
    const std::pair<const char *, const char *> rows[] = {
        { "Taxi", "PZN_Taxi" },
        { "Bus", "PZN_Bus" },
        { "Rolstoelbus", "PZN_Rolstoelbus" },
    };
    for (const auto &[label, name] : rows)
        form->addRow(QString::fromLatin1(label), field(name));
    return newPage("TabSheet3", form);
}

QWidget *THoofdscherm::buildUpdate()
{
    auto *layout = new QHBoxLayout;
    QPushButton *check = newButton("SpeedButton4", QStringLiteral("UPDATE CONTROLE"));
    connect(check, &QPushButton::clicked, this, &THoofdscherm::SpeedButton4Click);
    layout->addWidget(check);
    layout->addStretch(1);
    return newPage("TabSheet4", layout);
}

QWidget *THoofdscherm::buildServer()
{
    auto *form = newForm();
    const std::pair<const char *, const char *> top[] = {
        { "Serverpoort", "BSAServerPoort" },
        { "Host poort", "BSAHostPoort" },
        { "Host adres", "BSAHostAdres" },
    };
    for (const auto &[label, name] : top)
        form->addRow(QString::fromLatin1(label), field(name));
    QLineEdit *allowed = field("BSAToegestaneAdressen");
    allowed->setPlaceholderText(QStringLiteral("leeg: elk adres"));
    form->addRow(QStringLiteral("Toegestane adressen"), allowed);
    form->addRow(m_fields->checkBox("bsaCRLF", QStringLiteral("CR+LF meezenden ACK/NACK"), nullptr));
    form->addRow(
        m_fields->checkBox("BSATerug", QStringLiteral("Terugkoppeling datacommunicatie inschakelen"), nullptr));
    form->addRow(m_fields->checkBox("BSAAuto", QStringLiteral("Server automatisch opstarten"), nullptr));
    form->addRow(QStringLiteral("BSA Bedrijfsnummer"), field("BSABedrijf"));

    // The planning row that TEST STATUS reports on, beside the two buttons that test the way to the BSA host.
    auto *tests = new QHBoxLayout;
    tests->setSpacing(6);
    QLineEdit *ride = field("Ritnummer");
    ride->setFixedWidth(FieldWidth / 2);
    QPushButton *status = newButton("SpeedButton2", QStringLiteral("TEST STATUS"));
    QPushButton *ack = newButton("SpeedButton1", QStringLiteral("TEST ACK"));
    connect(status, &QPushButton::clicked, this, &THoofdscherm::SpeedButton2Click);
    connect(ack, &QPushButton::clicked, this, &THoofdscherm::SpeedButton1Click);
    tests->addWidget(ride);
    tests->addWidget(status);
    tests->addWidget(ack);
    tests->addStretch(1);
    // The field takes the pla_id of a planning row, not BSA's ride number.
    form->addRow(QStringLiteral("Planningrij (pla_id)"), tests);
    return newPage("TabSheet2", form);
}

QWidget *THoofdscherm::buildBottomPanel()
{
    auto *panel = new QFrame;
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);
    auto *layout = new QHBoxLayout(panel);
    layout->setContentsMargins(6, 4, 6, 4);
    QPushButton *hide = newButton("Button4", QStringLiteral("VERBERGEN NAAR TAAKBALK"));
    QPushButton *close = newButton("Button5", QStringLiteral("SLUITEN"));
    connect(hide, &QPushButton::clicked, this, &THoofdscherm::Button4Click);
    connect(close, &QPushButton::clicked, this, &THoofdscherm::Button5Click);
    layout->addWidget(hide);
    layout->addStretch(1);
    layout->addWidget(close);
    return panel;
}

void THoofdscherm::buildTray()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("PopupMenu1"));
    QAction *update = m_trayMenu->addAction(QStringLiteral("Update"), this, &THoofdscherm::Update1Click);
    update->setObjectName(QStringLiteral("Update1"));
    QAction *details = m_trayMenu->addAction(QStringLiteral("Details"), this, &THoofdscherm::Details1Click);
    details->setObjectName(QStringLiteral("Details1"));
    m_trayMenu->addSeparator();
    QAction *close = m_trayMenu->addAction(QStringLiteral("Sluiten"), this, &THoofdscherm::Sluirten1Click);
    close->setObjectName(QStringLiteral("Sluirten1"));

    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("RzTrayIcon1"));
    m_tray->setContextMenu(m_trayMenu); // opened by the right button
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            showInFront();
    });
    m_tray->show();
}

// The views follow the link's signals; the operator's own edits of the log go back to it.
void THoofdscherm::followTheLink()
{
    m_log->showLines(m_koppeling.logLines());
    m_st->addItems(m_koppeling.ST());
    connect(&m_koppeling, &Koppeling::logLineAdded, m_log, &LogView::appendLine);
    connect(&m_koppeling, &Koppeling::logCleared, m_log, &LogView::clearLines);
    connect(m_log, &LogView::edited, &m_koppeling, &Koppeling::editLog);
    connect(&m_koppeling, &Koppeling::stChanged, m_st, [this](const QStringList &st) {
        m_st->clear();
        m_st->addItems(st);
    });
    connect(&m_koppeling, &Koppeling::pakketIn, m_pakketIn, &PacketView::showLines);
    // What an earlier run left in the outgoing queue was restored before this window existed.
    m_pakketUit->showLines(m_koppeling.pakketUitLines());
    connect(&m_koppeling, &Koppeling::pakketUitChanged, m_pakketUit, &PacketView::showLines);
}

// The working folders and the stored settings are in place by now (the owner's start); the fields showed them
// as they were made.
void THoofdscherm::FormCreate()
{
    setWindowTitle(caption());
    m_tray->setToolTip(windowTitle());
    if (!m_koppeling.hasPlanningDatabase()) {
        m_koppeling.Logger(Koppeling::noPlanningDatabaseNotice()
            + QStringLiteral(" Vul op het tabblad Instellingen bij SQL server de planningdatabase in, bijvoorbeeld "
                             "sqlite:BSA/planning.db"));
    }
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void THoofdscherm::BtnExecuteClick()
{
    m_koppeling.toggleServer(QDateTime::currentDateTime()); // a failure is in the log
}

void THoofdscherm::Button3Click()
{
    // A failure is in the log by now; only success gets a box.
    if (!m_koppeling.testDatabaseLogin(nullptr))
        return;
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Database koppeling"),
        QStringLiteral("Rovix Korvel SQL werd database met succes geopend"), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void THoofdscherm::Button4Click()
{
    m_koppeling.CaptureSettings();
    // Without a notification area a hidden window could not be brought back: it goes to the task bar instead.
    if (QSystemTrayIcon::isSystemTrayAvailable() && m_tray->isVisible())
        hide();
    else
        showMinimized();
}

void THoofdscherm::Button5Click()
{
    m_koppeling.closeDatabase();
    close();
}

void THoofdscherm::Details1Click()
{
    showInFront();
}

void THoofdscherm::Sluirten1Click()
{
    close();
}

void THoofdscherm::SpeedButton1Click()
{
    m_koppeling.queueTestAcknowledgement();
}

void THoofdscherm::SpeedButton2Click()
{
    // The field Ritnummer holds the pla_id of the planning row, not a BSA ride number.
    m_koppeling.queueRideStatus(m_koppeling.settings().number<&Settings::Ritnummer>());
}

void THoofdscherm::SpeedButton4Click()
{
    m_update->backUpAndCheck();
}

void THoofdscherm::Update1Click()
{
    m_update->backUpAndCheck();
}

void THoofdscherm::showInFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void THoofdscherm::closeEvent(QCloseEvent *event)
{
    if (m_closeAccepted) {
        event->accept();
        // Whatever ends the program now, a box of the update that it closes is no go-ahead for the updater.
        m_update->programEnding();
        emit ended();
        return;
    }
    // The window stays until the operator said yes and the log is archived.
    event->ignore();
    FormCloseQuery();
}

void THoofdscherm::FormCloseQuery()
{
    if (m_closeQuestion) {
        m_closeQuestion->raise();
        m_closeQuestion->activateWindow();
        return;
    }
    QMessageBox *box = closeQuestion();
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_closeQuestion = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes && confirmClose())
            close();
    });
    box->show();
    box->raise();
    box->activateWindow();
}

QMessageBox *THoofdscherm::closeQuestion()
{
    auto *box = new QMessageBox(
        QMessageBox::Information, CloseQuestionTitle, CloseQuestionText, QMessageBox::Yes | QMessageBox::No, this);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    // Asked also while the window hides in the tray: the box comes to the front on its own.
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
}

bool THoofdscherm::confirmClose()
{
    if (!m_koppeling.closeConfirmed(QDateTime::currentDateTime()))
        return false; // the reason is in the log, which keeps its lines; the window stays
    m_closeAccepted = true;
    return true;
}

bool THoofdscherm::confirmSessionEnd()
{
    if (m_closeAccepted)
        return true;
    if (m_closeQuestion)
        m_closeQuestion->reject(); // the session's question takes its place
    QMessageBox *box = closeQuestion();
    const int answer = box->exec();
    delete box;
    return answer == QMessageBox::Yes && confirmClose();
}

void THoofdscherm::endForUpdate()
{
    // The owner captures the settings as it finishes, unless a capture happened since start-up (hiding the window
    // makes one); the file is written then.
    if (m_closeQuestion)
        m_closeQuestion->reject();
    m_closeAccepted = true;
    close();
}

bool THoofdscherm::endWithoutQuestion()
{
    const bool archived = m_closeAccepted || m_koppeling.closeConfirmed(QDateTime::currentDateTime());
    m_closeAccepted = true;
    close();
    return archived;
}
