#pragma once

#include <functional>

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "update/UpdateAddresses.h"
#include "update/UpdateChecker.h"
#include "update/UpdateDownload.h"
#include "update/UpdateSignature.h"

class QWidget;
class UpdateDownloadDialog;
class UpdateNotifyDialog;

// The self-update as the window uses it: "UPDATE CONTROLE" and the tray's "Update" make the backup copy and run
// the check; a newer version is offered in UpdateNotifyDialog, downloaded in UpdateDownloadDialog, verified, and
// handed to "KorvelUpdater" as the program ends.
//
// Nothing here blocks the event loop: the requests, the dialogs and the message boxes all run from it, so the
// intake and the timers go on meanwhile. One check or download at a time; a start while one runs is refused
// without a word. Whatever still runs when the application quits, or the controller is destroyed, is aborted.
class UpdateController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateController)
public:
    // window: parent of the dialogs and the boxes, and of this controller. programFile: the running program file;
    // "KorvelUpdater" lies beside it. programFolder: the folder holding "Backups" and "TempDownloads".
    // version: the running version ("9.0.1.14").
    UpdateController(QWidget *window, const QString &programFile, const QString &programFolder, const QString &version,
        const QUrl &updateFileURL = defaultUpdateFileURL(), const QUrl &updatePageURL = defaultUpdatePageURL());
    ~UpdateController() override;

    // Another description file, as the command line may ask for.
    void setUpdateFileURL(const QUrl &url) { m_checker.UpdateFileURL = url; }
    QUrl updateFileURL() const { return m_checker.UpdateFileURL; }
    QUrl updatePageURL() const { return m_checker.UpdatePageURL; }
    // ProxyAddress (empty: a direct connection) and ProxyPort ("80").
    void setProxy(const QString &address, const QString &port);
    // The minisign public keys a download must be signed with, as the build setting holds them; by default this
    // build's. Without a usable key the offer says why and offers no download.
    void setSignatureKeys(const QString &setting);
    // The arguments the updater starts the program with again; by default this process's own.

    // The operator asks for a check (the button "UPDATE CONTROLE" or the tray's "Update"): the backup copy into
    // "Backups", then CheckForUpdate(false). Nothing happens while a check or download runs.
    void backUpAndCheck();
    // Starts a check; false, and nothing happens, when a check or download is already running. With silent on,
    // the boxes that say there is no new version are left out. checkFinished() follows.
    bool CheckForUpdate(bool silent);
    bool isBusy() const { return m_state != State::Idle; }
    // Aborts whatever runs and closes the update's dialogs and boxes.
    void abort();
    // The program ends for another reason than the hand-off (the operator's close, a termination request, the end
    // of the session): aborts as above, and from now on nothing hands over to the updater. Runs by itself when the
    // application quits.
    void programEnding();

signals:
    // 1 when a newer version was offered and its dialog has closed, 0 otherwise.
    void checkFinished(int result);
    // The updater has been started: the program is to end now, without the close question.
    void endProgramRequested();
    // A failure the operator cannot see otherwise, for the operator log.
    void logLine(const QString &line);

private:
    enum class State { Idle, Checking, Offering, Downloading, HandedOff };

    void checked(const UpdateCheckResult &result);
    void offer(const UpdateCheckResult &result);
    void reportNothingNew(const UpdateCheckResult &result);
    void endCheck(int result);
    void openPage(const QString &address);

    void startDownload();
    void downloadSizeKnown(qint64 size);
    void downloadFinished(UpdateDownload::Outcome outcome);
    void cancelConfirmed();
    void handOff();
    void endDownload();

    QMessageBox *openBox(QWidget *parent, QMessageBox::Icon icon, const QString &text,
        QMessageBox::StandardButtons buttons, std::function<void(QMessageBox::StandardButton)> done);

    QPointer<QWidget> m_window;
    QString m_programFile;
    QString m_programFolder;
    QStringList m_restartArguments;
    QList<UpdateSignature::PublicKey> m_keys;
    QString m_keysProblem;
    UpdateChecker m_checker;
    UpdateCheckResult m_result;
    State m_state = State::Idle;
    bool m_silent = false;
    QPointer<UpdateNotifyDialog> m_notifyDialog;
    QPointer<UpdateDownloadDialog> m_downloadDialog;
    QPointer<UpdateDownload> m_download;
    QPointer<QMessageBox> m_box;
    bool m_downloadEnded = false; // the download's outcome has come in
    bool m_waitingForBox = false; // a box about the download is open; the dialog stays until it closes
    bool m_ending = false; // the program ends without a hand-off
};
