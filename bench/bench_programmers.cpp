// Speed of the two programmers' page walks on full images against the simulated devices, with no
// reply latency and no traffic log, so that what is measured is the program's own work per
// exchange: the HEX load, the commands, the read-back comparison and the progress. Each walk runs
// once under the window's real progress dialog (offscreen platform) and once under a reporter
// that does nothing, which splits the dialog's cost from the walk's.
//
// A full ControlPanel image uses all 4,081 pages below its limit: 1 start, 1,021 row, 4,081 page,
// 4,081 data and 4,081 read reports, 13,265 in all. A full control board image uses its 252
// pages: 4 reports to write a page, 2 to read one back (answered by 2 replies) and 1 to exit,
// 1,513 in all.

#include "CommandChannel.h"
#include "FullHexImage.h"
#include "ProgressDialogReporter.h"
#include "SimulatedDevices.h"
#include "UpdateTarget.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// A full image's HEX text in a temporary file.
std::FILE *makeFullImage(std::uint32_t limit, bool linearRecords)
{
    std::FILE *file = std::tmpfile();
    if (!file)
        return nullptr;
    writeFullHexImage(file, limit, linearRecords, "\n");
    std::fflush(file);
    return file;
}

std::FILE *panelImage()
{
    static std::FILE *const file = makeFullImage(kControlPanelProfile.imageLimit, true);
    return file;
}

std::FILE *boardImage()
{
    static std::FILE *const file = makeFullImage(kControlBoardProfile.imageLimit, false);
    return file;
}

// The window the real dialog belongs to, as MainWin is in the program.
QWidget &dialogParent()
{
    static QWidget *const window = [] {
        auto *widget = new QWidget;
        widget->resize(375, 128);
        widget->show();
        return widget;
    }();
    return *window;
}

// One walk per iteration on freshly reset devices. The reset, the open and the close run with the
// clock stopped; the time of the walk itself, the HEX load included, is what is divided by the
// reports it wrote.
void walk(benchmark::State &state, const UpdateTarget &target, bool realDialog, int expectedReports)
{
    const bool panel = target.restartsIntoBootloader;
    std::FILE *const file = panel ? panelImage() : boardImage();
    if (!file) {
        state.SkipWithError("no temporary file for the HEX text");
        return;
    }
    SilentProgress silent;
    std::unique_ptr<ProgressDialogReporter> dialog;
    if (realDialog)
        dialog = std::make_unique<ProgressDialogReporter>(&dialogParent());
    UpdateProgress &progress = realDialog ? static_cast<UpdateProgress &>(*dialog) : silent;
    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();

    std::chrono::steady_clock::duration walking{};
    long long reports = 0;
    for (auto _ : state) {
        state.PauseTiming();
        devices.reset();
        devices.setLogging(false);
        if (panel)
            devices.setPanelState(sim::PanelState::Bootloader);
        else
            devices.enterBoardBootloader();
        std::rewind(file);
        auto channel = std::make_unique<CommandChannel>();
        if (channel->openChannel()) {
            state.SkipWithError("the simulated ControlPanel did not open");
            break;
        }
        state.ResumeTiming();

        const auto begin = std::chrono::steady_clock::now();
        const UpdateResult result =
            programHexFile(target, *channel, target.profile, file, progress);
        walking += std::chrono::steady_clock::now() - begin;

        state.PauseTiming();
        channel.reset();
        const int written = devices.reportCount();
        reports += written;
        state.ResumeTiming();
        if (!result.isEmpty() || written != expectedReports) {
            state.SkipWithError("the walk failed or wrote an unexpected number of reports");
            break;
        }
    }
    if (reports == 0)
        return;
    const double micros = std::chrono::duration<double, std::micro>(walking).count();
    state.counters["us_per_exchange"] = micros / double(reports);
    state.counters["exchanges"] = double(reports) / double(state.iterations());
}

void BM_ControlPanelFullImage_Dialog(benchmark::State &state)
{
    walk(state, kControlPanelTarget, true, 13265);
}
BENCHMARK(BM_ControlPanelFullImage_Dialog)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ControlPanelFullImage_Silent(benchmark::State &state)
{
    walk(state, kControlPanelTarget, false, 13265);
}
BENCHMARK(BM_ControlPanelFullImage_Silent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ControlBoardFullImage_Dialog(benchmark::State &state)
{
    walk(state, kControlBoardTarget, true, 1513);
}
BENCHMARK(BM_ControlBoardFullImage_Dialog)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ControlBoardFullImage_Silent(benchmark::State &state)
{
    walk(state, kControlBoardTarget, false, 1513);
}
BENCHMARK(BM_ControlBoardFullImage_Silent)->Unit(benchmark::kMillisecond)->UseRealTime();

// The offscreen platform warns at every raise() of a dialog, thousands of times a run; anything
// else still goes to the default handler.
QtMessageHandler defaultHandler = nullptr;

void dropRaiseWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text == QLatin1String("This plugin does not support raise()"))
        return;
    defaultHandler(type, context, text);
}

} // namespace

int main(int argc, char **argv)
{
    // The dialog is drawn, but nowhere to be seen: the benchmark needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(dropRaiseWarnings);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
