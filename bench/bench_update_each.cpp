// update --each as a station runs it all day, in this process (runCommandLine) on the simulated
// devices: after each update the unit is pulled out and, some polls later, a fresh one with a new
// serial number is plugged in at the same port, in the pauses --each takes between units. Reads
// the resident memory after the first 10 units and after the last, and prints the growth per unit
// and in all; fails (exit 1) when a unit's update fails or the run grows by more than the limit.
//
//   bench_update_each [--target board|panel] [--units N] [--limit-kb KB] [--empty-polls N]
//   (defaults: board with examples/controlboard-example.hex, 100 units, 1024 KB, and 4 polls,
//   a second, that find no unit between two units)
//
// The devices answer at once and restart at once: the time is the program's and the stand-in's.
// Nothing reads the traffic log here, as in zelupdate-cli-sim, so it is off as there.

#include "CommandLine.h"
#include "SimulatedDevices.h"
#include "UpdateEach.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr int kWarmUpUnits = 10;
constexpr const char *kPort = "1-1";

// VmRSS of /proc/self/status, in kB; -1 when it cannot be read.
long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

std::string serialOf(int unit)
{
    char serial[16];
    std::snprintf(serial, sizeof serial, "CP%06d", unit);
    return serial;
}

struct Options
{
    std::string target = "board";
    int units = 100;
    long limitKb = 1024;
    int emptyPolls = 4; // a second between pulling a unit out and plugging the next in
};

// Returns why the arguments are refused; empty when they are good.
std::string parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 >= argc)
            return argument + " needs a value";
        const std::string value = argv[++i];
        if (argument == "--target" && (value == "board" || value == "panel"))
            options.target = value;
        else if (argument == "--units" && std::atoi(value.c_str()) > kWarmUpUnits)
            options.units = std::atoi(value.c_str());
        else if (argument == "--limit-kb" && std::atol(value.c_str()) > 0)
            options.limitKb = std::atol(value.c_str());
        else if (argument == "--empty-polls" && std::atoi(value.c_str()) >= 0)
            options.emptyPolls = std::atoi(value.c_str());
        else
            return argument + " " + value + ": give --target board|panel, --units N (N > " +
                   std::to_string(kWarmUpUnits) + "), --limit-kb KB, --empty-polls N";
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const std::string problem = parse(argc, argv, options); !problem.empty()) {
        std::fprintf(stderr, "bench_update_each: %s\n", problem.c_str());
        return 2;
    }
    QCoreApplication app(argc, argv);
    // History and locks of their own, gone with the run.
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    qputenv("XDG_STATE_HOME", QFile::encodeName(folder.filePath(QStringLiteral("state"))));
    qputenv("ZELUPDATE_LOCK_DIR", QFile::encodeName(folder.filePath(QStringLiteral("locks"))));
    QDir().mkpath(folder.filePath(QStringLiteral("locks")));

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    devices.reset();
    devices.setLogging(false);
    devices.setDeviceCount(0);

    const QString file = QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/control%1-example.hex")
                             .arg(QString::fromStdString(options.target));
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliStreams io(outStream, errStream, false);

    int plugged = 0;
    int emptyPolls = 0;
    long afterWarmUp = -1;
    long atEnd = -1;
    QElapsedTimer clock;
    // --each polls only when every unit attached is done: a unit still there is updated.
    io.pause = [&](int milliseconds) {
        if (milliseconds != kEachPollMs)
            return; // the sequence's own waits: the devices restart at once
        if (devices.unitCount() > 0) {
            devices.detachUnit(kPort);
            emptyPolls = 0;
            if (plugged == kWarmUpUnits) {
                afterWarmUp = residentKb();
                clock.start();
            }
            if (plugged == options.units)
                atEnd = residentKb();
            // What the run wrote so far is no part of the program's memory.
            out.clear();
            err.clear();
            return;
        }
        if (++emptyPolls > options.emptyPolls)
            devices.attachUnit(kPort, serialOf(++plugged));
    };
    io.endRequested = [&] { return atEnd >= 0; };

    const QByteArrayList arguments{"zelupdate-cli",
                                   "update",
                                   "--each",
                                   "--target",
                                   QByteArray::fromStdString(options.target),
                                   QFile::encodeName(file)};
    const int code = runCommandLine(arguments, io);
    outStream.flush();
    errStream.flush();
    if (code != 0 || afterWarmUp < 0 || atEnd < 0) {
        std::fprintf(stderr, "bench_update_each: update --each ended with %d\n%s%s", code,
                     qPrintable(out), qPrintable(err));
        return 1;
    }

    const int measured = options.units - kWarmUpUnits;
    const long growth = atEnd - afterWarmUp;
    std::printf("update --each --target %s, %d units (%d measured after %d), %d empty polls "
                "between units\n",
                options.target.c_str(), options.units, measured, kWarmUpUnits, options.emptyPolls);
    std::printf("resident after unit %d: %.1f MB, after unit %d: %.1f MB\n", kWarmUpUnits,
                afterWarmUp / 1024.0, options.units, atEnd / 1024.0);
    std::printf("growth: %ld kB in all, %.1f kB a unit; %.1f ms a unit\n", growth,
                double(growth) / measured, double(clock.elapsed()) / measured);
    if (growth > options.limitKb) {
        std::fprintf(stderr, "bench_update_each: grew by %ld kB, more than the %ld kB allowed\n",
                     growth, options.limitKb);
        return 1;
    }
    return 0;
}
