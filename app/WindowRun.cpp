#include "WindowRun.h"

#include <cstdio>

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QSessionManager>
#include <QTimer>

#include "app/RunOptions.h"
#include "platform/DescriptorLimit.h"
#include "platform/TerminationSignals.h"
#include "shell/Koppeling.h"
#include "shell/ProgramFolderLock.h"
#include "shell/window/Hoofdscherm.h"
#include "update/window/UpdateController.h"

namespace {
void reportError(const QString &message)
{
    std::fprintf(stderr, "KorvelBSA: %s\n", qPrintable(message));
}
} // namespace

int runWindow(const QString &programFolder, const RunOptions &options, const QUrl &updateFileURL)
{
    QApplication::setApplicationName(ApplicationTitle);
    // The window hides in the tray and boxes come and go: the program ends through the close sequence only.
    QApplication::setQuitOnLastWindowClosed(false);

    // Held until the settings are written at the very end, after the link is gone.
    ProgramFolderLock lock(programFolder);
    QString error;
    const ProgramFolderLock::Outcome locked = lock.take(&error);
    if (locked != ProgramFolderLock::Outcome::Held) {
        reportError(error);
        QMessageBox::critical(nullptr, ApplicationTitle, error);
        return locked == ProgramFolderLock::Outcome::InUse ? ProgramFolderLock::InUseExitStatus : 2;
    }

    Koppeling koppeling(programFolder);
    if (!koppeling.start(&error)) {
        // The operator's settings file is damaged: say so where the operator looks, and leave the file alone.
        reportError(error);
        QMessageBox::critical(nullptr, ApplicationTitle, error);
        return 1;
    }
    // A status port that cannot be opened is said in the log, where the operator looks; the link goes on.
    if (!applyRunOptions(koppeling, options, &error)) {
        reportError(error);
        koppeling.Logger(error);
    }
    const qint64 descriptors = DescriptorLimit::current();
    if (descriptors >= 0)
        koppeling.Logger(QStringLiteral("Maximaal aantal open bestanden: %1").arg(descriptors));

    THoofdscherm window(koppeling);
    if (!updateFileURL.isEmpty())
        window.updateController()->setUpdateFileURL(updateFileURL);
    QObject::connect(&window, &THoofdscherm::ended, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    // Log-off or shut-down of the desktop asks the operator the same question as the window's close box.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager &manager) {
        if (!manager.allowsInteraction()) {
            // Nobody may be asked: end as a system order would, with the log archived and the settings stored.
            window.endWithoutQuestion();
            return;
        }
        if (!window.confirmSessionEnd()) {
            manager.cancel();
            return;
        }
        manager.release();
        QTimer::singleShot(0, &window, &QWidget::close);
    });

    // A system order ends the run without a question. On Windows the process may be ended as soon as the order's
    // handler returns (the end of the session), so the settings are written here and not only after the event loop.
    const auto endNow = [&window, &koppeling] {
        if (!window.endWithoutQuestion())
            reportError(QStringLiteral("the operator log could not be archived"));
        QString finishError;
        if (!koppeling.finish(&finishError))
            reportError(finishError);
    };
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, endNow);
    // Qt's own handling of the session's end on Windows quits right away; whatever the window had not yet done is
    // done here (both steps do nothing a second time).
    bool windowEnded = false;
    QObject::connect(&window, &THoofdscherm::ended, &window, [&windowEnded] { windowEnded = true; });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, [&windowEnded, endNow] {
        if (!windowEnded)
            endNow();
    });

    window.show();
    const int code = QApplication::exec();
    if (!koppeling.finish(&error))
        reportError(error); // the log is archived by now: standard error is the only place left
    return code;
}
