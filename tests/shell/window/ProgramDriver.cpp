// Drives the program's own window as an operator would, for the end-to-end tests of the update. Built together with
// the program's main() into KorvelBSADriver, which the tests copy into a program folder of their own and run there
// under the offscreen platform.
//
// The first run in a program folder types "42" into "Bedrijf", presses "UPDATE CONTROLE" and answers what the update
// shows: the offer with "Download en installeer" when that is enabled (with OK when not), every box with OK (No to a
// question). Once the update is over without a hand-off, the driver ends the program. A later run (the updater started
// the program again) ends at once. Every step goes as a line into "driver.txt" in the program folder (--home).
// With DRIVER_HOLDS_HAND_OFF set, the box before the hand-off is left open ("holding"), for whatever the test does
// meanwhile.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "update/window/UpdateNotifyDialog.h"

namespace {

constexpr std::chrono::milliseconds PollInterval { 50 };
constexpr std::chrono::seconds GiveUpAfter { 60 }; // a driver left behind by a failed test ends by itself
const QString HandOffText = QStringLiteral("Rovix Korvel® Kwendel gaat nu starten");

QString notesPath()
{
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype home = arguments.indexOf(QStringLiteral("--home"));
    const QString folder = home >= 0 ? arguments.value(home + 1) : QCoreApplication::applicationDirPath();
    return QDir(folder).filePath(QStringLiteral("driver.txt"));
}

void note(const QString &line)
{
    QFile notes(notesPath());
    if (notes.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        notes.write(line.toUtf8() + '\n');
}

template <typename T> T *visibleWindow()
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *found = qobject_cast<T *>(window); found && found->isVisible())
            return found;
    }
    return nullptr;
}

class ProgramDriver final : public QObject
{
public:
    explicit ProgramDriver(bool again)
        : QObject(QCoreApplication::instance())
        , m_again(again)
    {
        m_poll.setInterval(PollInterval);
        connect(&m_poll, &QTimer::timeout, this, &ProgramDriver::poll);
        QTimer::singleShot(GiveUpAfter, this, [] {
            note(QStringLiteral("gave up"));
            QCoreApplication::exit(3);
        });
        m_poll.start();
    }

private:
    void poll()
    {
        QWidget *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == u"Hoofdscherm" && top->isVisible())
                window = top;
        }
        if (!window)
            return;
        if (!m_started) {
            m_started = true;
            note(QStringLiteral("ran ") + QCoreApplication::arguments().mid(1).join(u' '));
            if (m_again) {
                note(QStringLiteral("again"));
                end();
                return;
            }
            window->findChild<QLineEdit *>(QStringLiteral("BSA_BDR"))->setText(QStringLiteral("42"));
            window->findChild<QPushButton *>(QStringLiteral("SpeedButton4"))->click();
            note(QStringLiteral("pressed UPDATE CONTROLE"));
            return;
        }
        if (UpdateNotifyDialog *offer = visibleWindow<UpdateNotifyDialog>()) {
            const bool download = offer->DownloadButton()->isEnabled();
            note(QStringLiteral("offer download=%1 readme=%2")
                     .arg(download ? QStringLiteral("on") : QStringLiteral("off"),
                         offer->ReadmeMemo()->toPlainText().section(u'\n', 0, 0)));
            if (download) {
                offer->DownloadButton()->click();
                return;
            }
            offer->OKButton()->click();
            end();
            return;
        }
        if (QMessageBox *box = visibleWindow<QMessageBox>()) {
            note(QStringLiteral("box ") + box->text());
            const bool handOff = box->text() == HandOffText;
            if (handOff && qEnvironmentVariableIsSet("DRIVER_HOLDS_HAND_OFF")) {
                note(QStringLiteral("holding"));
                m_poll.stop();
                return;
            }
            // No to a question (no web page opens), OK to the rest.
            QAbstractButton *answer = box->button(QMessageBox::No);
            (answer ? answer : box->buttons().constFirst())->click();
            if (!handOff)
                end(); // the update is over and the program still runs
        }
    }

    // Ends the event loop as the close sequence does once it went through, without asking the close question
    // (quit() would ask it: it closes every window first).
    void end()
    {
        note(QStringLiteral("ending"));
        m_poll.stop();
        QCoreApplication::exit(0);
    }

    const bool m_again;
    bool m_started = false;
    QTimer m_poll;
};

bool driving = false;

// The last line of a run, once the program has written its settings and is about to end.
void noteTheEnd()
{
    if (driving)
        note(QStringLiteral("ended"));
}

// Runs as the application object is made; the driver starts with the event loop, and only with the window.
void startDriver()
{
    const bool again = QFile::exists(notesPath());
    qAddPostRoutine(noteTheEnd);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [again] {
            if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
                return;
            driving = true;
            new ProgramDriver(again);
        },
        Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
