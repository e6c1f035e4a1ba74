// What the log costs the operator window. A line goes from the owner's log through its signal into the view's
// gathered lines; at most ten times a second the view shows what it gathered and is painted once for it.
#include <memory>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QTabWidget>
#include <QTemporaryDir>

#include "shell/Koppeling.h"
#include "shell/window/Hoofdscherm.h"
#include "shell/window/LogView.h"

namespace {

// The window over a started owner, with "Logboek" in front, the worst case for painting.
struct LoggingWindow
{
    QTemporaryDir home;
    std::unique_ptr<Koppeling> koppeling;
    std::unique_ptr<THoofdscherm> window;
    LogView *view = nullptr;

    bool start()
    {
        koppeling = std::make_unique<Koppeling>(home.path());
        if (!koppeling->start(nullptr))
            return false;
        Settings settings = koppeling->settings();
        settings.BSAServerPoort = QStringLiteral("abc"); // every "Server AAN/UIT" then logs one refusal
        koppeling->setSettings(settings);
        window = std::make_unique<THoofdscherm>(*koppeling);
        window->findChild<QTabWidget *>(QStringLiteral("RzPageControl1"))->setCurrentIndex(1);
        window->show();
        view = window->findChild<LogView *>(QStringLiteral("BSALog"));
        QCoreApplication::processEvents();
        return view != nullptr;
    }

    void logLines(int count, const QDateTime &now)
    {
        for (int i = 0; i < count; ++i)
            koppeling->toggleServer(now);
    }
};

// One line, logged and gathered: what the link pays per line between two showings.
void BM_LogLineIntoTheWindow(benchmark::State &state)
{
    LoggingWindow w;
    if (!w.start()) {
        state.SkipWithError("the window did not start");
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state) {
        w.logLines(1, now);
        if (w.koppeling->logLines().size() > 5000) {
            state.PauseTiming();
            w.koppeling->Timer1Timer(); // archives, and the view empties
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLineIntoTheWindow)->Unit(benchmark::kMicrosecond);

// One showing of the gathered lines (7: one ride; 100: a busy tenth of a second) into a log of about 2500 lines,
// with the paint that follows it.
void BM_ShowGatheredLines(benchmark::State &state)
{
    LoggingWindow w;
    if (!w.start()) {
        state.SkipWithError("the window did not start");
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const int gathered = int(state.range(0));
    w.logLines(2500, now);
    w.view->flush();
    for (auto _ : state) {
        state.PauseTiming();
        if (w.koppeling->logLines().size() > 3000) {
            w.view->clearLines();
            w.koppeling->editLog({});
            w.logLines(2500, now);
            w.view->flush();
            QCoreApplication::processEvents();
        }
        w.logLines(gathered, now);
        state.ResumeTiming();
        w.view->flush();
        QCoreApplication::processEvents(); // the paint
    }
    state.SetItemsProcessed(state.iterations() * gathered);
}
BENCHMARK(BM_ShowGatheredLines)->Arg(7)->Arg(100)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
