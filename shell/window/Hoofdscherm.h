#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class Koppeling;
class LogView;
class PacketView;
class QLineEdit;
class QLabel;
class QListWidget;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;
class QTabWidget;
class SettingsFields;
class UpdateController;

// The operator's window: a view over the owner of the link. Its fields are the settings, its tabs follow the log,
// the connections and the packets, and its buttons call the owner; nothing of the protocol or the database lives
// here. The tray icon keeps the link reachable while the window is hidden.
class THoofdscherm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(THoofdscherm)
public:
    static constexpr int ClientWidth = 765;
    static constexpr int ClientHeight = 487;

    explicit THoofdscherm(Koppeling &koppeling, QWidget *parent = nullptr);
    ~THoofdscherm() override;

    // "Rovix Korvel BSA koppeling - v" and the program's four-part version.
    static QString caption();

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // The self-update behind "UPDATE CONTROLE" and the tray's "Update", for the running program file.
    UpdateController *updateController() const { return m_update; }

    // The desktop session is about to end: asks the close question and waits for the answer, since the session
    // wants it before going on. True when the program may end; the log is archived and the settings captured then.
    bool confirmSessionEnd();
    // The system ordered the end (SIGTERM): the close sequence runs without the question, and the window closes
    // even when the log could not be archived, since a program told to stop must stop. False when it could not.
    bool endWithoutQuestion();

public slots:
    void BtnExecuteClick(); // "Server AAN/UIT"
    void Button3Click(); // "TEST" of the database login
    void Button4Click(); // "VERBERGEN NAAR TAAKBALK"
    void Button5Click(); // "SLUITEN"
    void Details1Click(); // tray menu "Details"
    void Sluirten1Click(); // tray menu "Sluiten"
    void SpeedButton1Click(); // "TEST ACK"
    void SpeedButton2Click(); // "TEST STATUS"
    void SpeedButton4Click(); // "UPDATE CONTROLE"
    void Update1Click(); // tray menu "Update"

signals:
    // The close went through and the window is closing: the program ends.
    void ended();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLineEdit *field(const char *name);
    QWidget *buildToolbar();
    QWidget *buildInstellingen();
    QWidget *buildParameters();
    QWidget *buildWagens();
    QWidget *buildUpdate();
    QWidget *buildServer();
    QWidget *buildBottomPanel();
    void buildTray();
    void followTheLink();
    void FormCreate();

    void FormCloseQuery();
    QMessageBox *closeQuestion();
    // "afsluiten software geaccepteerd", the log archive and the capture; false when the archive failed, which
    // abandons the close.
    bool confirmClose();
    // The updater has taken over: the window closes without the close question, so without the log archive.
    void endForUpdate();
    void showInFront();

    Koppeling &m_koppeling;
    SettingsFields *m_fields = nullptr;
    QLabel *m_noDatabase = nullptr; // the notice on the tab "Instellingen" while no planning database is set
    QTabWidget *m_tabs = nullptr;
    LogView *m_log = nullptr;
    QListWidget *m_st = nullptr;
    PacketView *m_pakketIn = nullptr;
    PacketView *m_pakketUit = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    UpdateController *m_update = nullptr;
    QPointer<QMessageBox> m_closeQuestion;
    bool m_closeAccepted = false;
};
