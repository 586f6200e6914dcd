// One whole update of each target, as a click on its button runs it, on simulated devices that
// answer each report after 1 ms, as a full-speed USB link would, and restart in realistic times
// (ControlPanel 1.5 s, control board's bootloader entry 0.5 s). The host answers the file choice
// with the target's example file, shows nothing and programs with a silent reporter.
//
// The total splits into the fixed waits (ten 300 ms rounds each: one wait for the board, two for
// the ControlPanel) and everything else, which is the exchanges with the devices; the latter is
// compared with its lower bound of 1 ms per report written. The latency comes with each reply,
// and the board answers each page read with two, so the replies are counted too. Slow by nature:
// one iteration each.

#include "CommandChannel.h"
#include "ControlBoardProgrammer.h"
#include "ControlPanelProgrammer.h"
#include "SimulatedDevices.h"
#include "UpdateSequence.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitSteps = 10;

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// Times the page walk from its start to its end, and the fixed waits: a wait is ten pauses,
// each followed by a step, so it ends with the tenth step.
class PhaseTimer : public UpdateEvents
{
public:
    void phaseBegins(UpdatePhase phase, int) override
    {
        current = phase;
        if (phase == UpdatePhase::Writing || phase == UpdatePhase::WaitingForBootloader ||
            phase == UpdatePhase::WaitingForApplication)
            begin = Clock::now();
    }
    void progressed(int done) override
    {
        const bool wait = current == UpdatePhase::WaitingForBootloader ||
                          current == UpdatePhase::WaitingForApplication;
        if (wait && done == kWaitSteps)
            waiting += Clock::now() - begin;
    }
    void walkEnded() override { walking += Clock::now() - begin; }
    void ended(const UpdateOutcome &outcome) override { lastMessage = outcome.text; }

    QString lastMessage;

    UpdatePhase current = UpdatePhase::Connecting;
    Clock::time_point begin;
    Clock::duration walking{};
    Clock::duration waiting{};
};

// Answers like a user who picks the example file and reads nothing; times the waits and the walk.
class TimingHost : public SequenceHost
{
public:
    explicit TimingHost(QString file) : file(std::move(file)) {}

    ChosenFirmware chooseFirmware() override { return {file, nullptr, {}}; }
    void finishWait() override {}
    void pause(int milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    UpdateEvents &events() override { return timer; }
    QString frontEnd() const override { return QStringLiteral("benchmark"); }
    void historyNotWritten(const QString &) override {}

    PhaseTimer timer;

private:
    QString file;
};

void update(benchmark::State &state, const UpdateTarget &target, const char *exampleName,
            const char *success)
{
    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    const QString example = QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/") + exampleName;
    for (auto _ : state) {
        state.PauseTiming();
        devices.reset();
        // The log only serves to count the replies; it costs microseconds against milliseconds.
        devices.setLogging(true);
        devices.setReplyLatency(std::chrono::microseconds(1000));
        devices.setRestartTime(std::chrono::milliseconds(1500));
        devices.setBoardEntryTime(std::chrono::milliseconds(500));
        devices.setRealTimeouts(true);
        CommandChannel channel;
        TimingHost host(example);
        state.ResumeTiming();

        const Clock::time_point begin = Clock::now();
        runUpdateSequence(target, channel, host);
        const Clock::duration total = Clock::now() - begin;

        if (host.timer.lastMessage != QLatin1String(success)) {
            state.SkipWithError(
                qPrintable(QStringLiteral("the update failed: ") + host.timer.lastMessage));
            break;
        }
        const int reports = devices.reportCount();
        int replies = 0;
        for (const sim::TrafficRecord &record : devices.traffic())
            replies +=
                record.direction == sim::TrafficRecord::Direction::In && !record.bytes.empty();
        const double exchanges = seconds(total - host.timer.waiting);
        state.counters["waits_s"] = seconds(host.timer.waiting);
        state.counters["exchanges_s"] = exchanges;
        state.counters["walk_s"] = seconds(host.timer.walking);
        state.counters["reports"] = reports;
        state.counters["replies"] = replies;
        state.counters["bound_s"] = reports / 1000.0;
        state.counters["ms_per_report"] = exchanges * 1000.0 / reports;
        state.counters["ms_per_reply"] = exchanges * 1000.0 / replies;
    }
}

void BM_UpdateControlPanel(benchmark::State &state)
{
    update(state, kControlPanelTarget, "controlpanel-example.hex",
           "The ControlPanel firmware has been updated");
}
BENCHMARK(BM_UpdateControlPanel)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_UpdateControlBoard(benchmark::State &state)
{
    update(state, kControlBoardTarget, "controlboard-example.hex",
           "The ZEL02 firmware has been updated");
}
BENCHMARK(BM_UpdateControlBoard)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Benchmark runs are no updates anyone needs to look up: their history goes with them.
    QTemporaryDir state;
    if (!state.isValid())
        return 1;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
