#include "UpdateController.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "update/ProgramFiles.h"
#include "update/UpdateSignature.h"
#include "update/UpdaterHandOff.h"
#include "update/window/UpdateDownloadDialog.h"
#include "update/window/UpdateNotifyDialog.h"

namespace {

const QString NothingNew = QStringLiteral("Er is geen nieuwe versie beschikbaar.");
const QString PackageManaged = QStringLiteral(
    "Deze installatie wordt bijgewerkt via het pakketbeheer van het systeem; download en installeer de nieuwe "
    "versie daar.");

} // namespace

UpdateController::UpdateController(QWidget *window, const QString &programFile, const QString &programFolder,
    const QString &version, const QUrl &updateFileURL, const QUrl &updatePageURL)
    : QObject(window)
    , m_window(window)
    , m_programFile(programFile)
    , m_programFolder(programFolder)
    , m_restartArguments(QCoreApplication::arguments().mid(1))
    , m_checker(programFile, version)
{
    m_checker.UpdateFileURL = updateFileURL;
    m_checker.UpdatePageURL = updatePageURL;
    m_checker.http().setProxy(QString(), QStringLiteral("80"));
    connect(&m_checker, &UpdateChecker::finished, this, &UpdateController::checked);
    setSignatureKeys(UpdateSignature::builtInKeysSetting());
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &UpdateController::programEnding);
}

UpdateController::~UpdateController()
{
    abort();
}

void UpdateController::setSignatureKeys(const QString &setting)
{
    m_keys = UpdateSignature::keysOfSetting(setting, &m_keysProblem);
}

void UpdateController::setProxy(const QString &address, const QString &port)
{
    m_checker.http().setProxy(address, port);
}

void UpdateController::backUpAndCheck()
{
    if (isBusy())
        return;
    QString error;
    if (!copyProgramToBackups(m_programFile, m_programFolder, &error))
        emit logLine(QStringLiteral("Geen reservekopie van het programma: %1").arg(error));
    CheckForUpdate(false);
}

bool UpdateController::CheckForUpdate(bool silent)
{
    if (isBusy() || m_ending)
        return false;
    if (!m_checker.start())
        return false; // an aborted check is still winding down
    m_state = State::Checking;
    m_silent = silent;
    return true;
}

void UpdateController::programEnding()
{
    m_ending = true;
    abort();
}

void UpdateController::abort()
{
    m_checker.abort();
    if (m_download) {
        m_download->disconnect(this);
        delete m_download; // aborts its request; an unfinished file goes with it
    }
    if (m_box) {
        // Closed by the program's ending, not answered: nothing that its answer would start may run.
        m_box->disconnect(this);
        delete m_box;
    }
    delete m_notifyDialog;
    delete m_downloadDialog;
    if (m_state != State::HandedOff)
        m_state = State::Idle;
}

void UpdateController::checked(const UpdateCheckResult &result)
{
    m_result = result;
    // Not reaching the update server looks like "no new version" in the box: the log says why.
    if (!result.failure.isEmpty())
        emit logLine(QStringLiteral("Update: beschrijving van %1").arg(result.failure));
    if (result.newer)
        offer(result);
    else
        reportNothingNew(result);
}

void UpdateController::offer(const UpdateCheckResult &result)
{
    m_state = State::Offering;
    auto *dialog = new UpdateNotifyDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_notifyDialog = dialog;

    const bool replaceable = canReplaceProgram(m_programFile);
    // A build that cannot check signatures installs nothing: whoever controls the server would choose the program.
    const QString &keysProblem = m_keysProblem;
    QString readme = result.readme;
    if (!replaceable)
        readme = PackageManaged + QStringLiteral("\n\n") + readme;
    else if (!keysProblem.isEmpty()) {
        readme = QStringLiteral("Deze versie kan geen update installeren: %1. Download de nieuwe versie via de "
                                "website.\n\n")
                     .arg(keysProblem)
            + readme;
        emit logLine(QStringLiteral("Update: %1; er wordt niets gedownload").arg(keysProblem));
    }
    dialog->ReadmeMemo()->setPlainText(readme);
    dialog->DownloadButton()->setEnabled(
        replaceable && keysProblem.isEmpty() && !result.description.DownloadFileURL.isEmpty());

    connect(dialog->DownloadButton(), &QPushButton::clicked, this, &UpdateController::startDownload);
    connect(dialog->OpenWebPageButton(), &QPushButton::clicked, this,
        [this] { openPage(m_result.description.UpdatePageURL); });
    connect(dialog, &QDialog::finished, this, [this] {
        if (m_state == State::Offering)
            m_state = State::Idle;
        emit checkFinished(1);
    });
    dialog->open();
}

void UpdateController::reportNothingNew(const UpdateCheckResult &result)
{
    if (m_silent) {
        endCheck(0);
        return;
    }
    const UpdateDescription &description = result.description;
    if (!description.Version.isEmpty() || description.UpdatePageURL.isEmpty()) {
        openBox(m_window, QMessageBox::Information, NothingNew, QMessageBox::Ok,
            [this](QMessageBox::StandardButton) { endCheck(0); });
        return;
    }
    openBox(m_window, QMessageBox::Question, NothingNew + QStringLiteral("\nWenst u de website te openen?"),
        QMessageBox::Yes | QMessageBox::No, [this](QMessageBox::StandardButton answer) {
            if (answer == QMessageBox::Yes)
                openPage(m_result.description.UpdatePageURL);
            endCheck(0);
        });
}

void UpdateController::endCheck(int result)
{
    m_state = State::Idle;
    emit checkFinished(result);
}

void UpdateController::openPage(const QString &address)
{
    if (!QDesktopServices::openUrl(QUrl(address)))
        emit logLine(QStringLiteral("De webpagina %1 kan niet geopend worden").arg(address));
}

void UpdateController::startDownload()
{
    if (m_state != State::Offering || m_download)
        return;
    m_state = State::Downloading;
    m_downloadEnded = false;
    m_waitingForBox = false;

    const QString folder = QDir(m_programFolder).filePath(QStringLiteral("TempDownloads"));
    m_download
        = new UpdateDownload(QUrl(m_result.description.DownloadFileURL), folder, m_result.description.SHA1Hash, this);
    const UpdateDescription &description = m_result.description;
    m_download->setSignature(QUrl(description.signatureAddress()),
        UpdateSignature::expectedComment(m_programFile, description.Version), m_keys);
    UpdateHttpClient &checkerHttp = m_checker.http();
    m_download->http().setProxy(checkerHttp.proxyAddress(), checkerHttp.proxyPort());
    connect(m_download, &UpdateDownload::sizeKnown, this, &UpdateController::downloadSizeKnown);
    connect(m_download, &UpdateDownload::sizeChanged, this, [this](qint64 size) {
        if (m_downloadDialog)
            m_downloadDialog->setTotal(size);
    });
    connect(m_download, &UpdateDownload::progress, this, [this](qint64 received) {
        if (m_downloadDialog)
            m_downloadDialog->showTransfer(received);
    });
    connect(m_download, &UpdateDownload::finished, this, &UpdateController::downloadFinished);

    m_downloadDialog = new UpdateDownloadDialog(m_window);
    m_downloadDialog->setFont(m_notifyDialog ? m_notifyDialog->font() : m_downloadDialog->font());
    connect(m_downloadDialog, &UpdateDownloadDialog::cancelConfirmed, this, &UpdateController::cancelConfirmed);
    m_downloadDialog->setFileName(m_download->fileName());
    m_downloadDialog->setStatus(QStringLiteral("Zoek naar bestandsinformatie"));

    if (m_notifyDialog)
        m_notifyDialog->accept(); // the offer closes; the download goes on in its own dialog
    m_download->start();
}

void UpdateController::downloadSizeKnown(qint64 size)
{
    if (!m_downloadDialog)
        return;
    m_downloadDialog->setSize(size);
    const UpdateHttpClient &http = m_download->http();
    if (http.proxyAddress().isEmpty())
        m_downloadDialog->setStatus(QStringLiteral("Download bestand"));
    else
        m_downloadDialog->setStatus(
            QStringLiteral("Download bestand via proxy server (%1:%2)").arg(http.proxyAddress(), http.proxyPort()));
    m_downloadDialog->startClock();
    m_downloadDialog->show();
}

void UpdateController::cancelConfirmed()
{
    if (!m_download || !m_download->isRunning())
        return;
    m_download->cancel();
    m_downloadDialog->markCancelled();
    m_waitingForBox = true;
    openBox(m_downloadDialog, QMessageBox::Critical, QStringLiteral("De software update werd afgebroken."),
        QMessageBox::Ok, [this](QMessageBox::StandardButton) {
            m_waitingForBox = false;
            if (m_downloadEnded)
                endDownload();
        });
}

void UpdateController::downloadFinished(UpdateDownload::Outcome outcome)
{
    m_downloadEnded = true;
    UpdateDownloadDialog *dialog = m_downloadDialog;
    if (dialog) {
        if (outcome == UpdateDownload::Outcome::Ready)
            dialog->showTransfer(m_download->received());
        dialog->finishTransfer();
    }
    const QString address = m_result.description.DownloadFileURL;
    switch (outcome) {
    case UpdateDownload::Outcome::NoSize:
        emit logLine(QStringLiteral("Update: %1 noemt geen grootte; er is niets gedownload").arg(address));
        break;
    case UpdateDownload::Outcome::FileError:
        emit logLine(QStringLiteral("Update: %1").arg(m_download->errorString()));
        break;
    case UpdateDownload::Outcome::Failed:
        if (dialog)
            dialog->setStatus(m_download->failureText());
        emit logLine(QStringLiteral("Update: download van %1 %2").arg(address, m_download->failureText()));
        break;
    case UpdateDownload::Outcome::Cancelled:
        emit logLine(QStringLiteral("Update: de download van %1 werd afgebroken").arg(address));
        break;
    case UpdateDownload::Outcome::Damaged:
        emit logLine(QStringLiteral("Update: de download van %1 is beschadigd en werd verwijderd: %2")
                         .arg(address, m_download->damage()));
        m_waitingForBox = true;
        openBox(dialog, QMessageBox::Critical, QStringLiteral("De download is beschadigd."), QMessageBox::Ok,
            [this](QMessageBox::StandardButton) {
                m_waitingForBox = false;
                endDownload();
            });
        break;
    case UpdateDownload::Outcome::Ready:
        m_waitingForBox = true;
        openBox(dialog, QMessageBox::Information, QStringLiteral("Rovix Korvel® Kwendel gaat nu starten"),
            QMessageBox::Ok, [this](QMessageBox::StandardButton answer) {
                m_waitingForBox = false;
                // Only the operator's OK hands over; a box closed as the program ends (a termination request,
                // the end of the session) leaves the program as it is.
                if (answer == QMessageBox::Ok && m_state == State::Downloading && !m_ending)
                    handOff();
                else
                    endDownload();
            });
        break;
    }
    if (!m_waitingForBox)
        endDownload();
}

void UpdateController::handOff()
{
    UpdaterHandOff::Download download;
    if (m_download) {
        download.file = m_download->targetPath();
        download.signature = m_download->signaturePath();
        download.version = m_result.description.Version;
    }
    const QString updater = UpdaterHandOff::updaterPath(m_programFile);
    QString error;
    if (UpdaterHandOff::startUpdater(updater, download, m_programFile, m_restartArguments, &error)) {
        endDownload();
        m_state = State::HandedOff;
        emit endProgramRequested();
        return;
    }
    // Ending now would leave the link down with nobody to start it again: the program goes on as it is.
    emit logLine(QStringLiteral("Update: %1; het programma blijft draaien").arg(error));
    endDownload();
}

void UpdateController::endDownload()
{
    if (m_downloadDialog)
        m_downloadDialog->deleteLater();
    if (m_download)
        m_download->deleteLater();
    m_downloadDialog = nullptr;
    m_download = nullptr;
    m_state = State::Idle;
}

QMessageBox *UpdateController::openBox(QWidget *parent, QMessageBox::Icon icon, const QString &text,
    QMessageBox::StandardButtons buttons, std::function<void(QMessageBox::StandardButton)> done)
{
    auto *box = new QMessageBox(icon, QString(), text, buttons, parent ? parent : m_window.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
        [box, done = std::move(done)] { done(box->standardButton(box->clickedButton())); });
    m_box = box;
    box->open();
    return box;
}
