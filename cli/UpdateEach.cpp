#include "UpdateEach.h"

#include "AttachedUnits.h"
#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "ResultOutput.h"
#include "UnitsSummary.h"
#include "UpdateCommand.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <optional>

namespace {

struct SeenUnit
{
    QString port;
    QString serial;
};

struct Tally
{
    int updated = 0;
    int failed = 0;

    QString text() const
    {
        return QStringLiteral("%1 updated, %2 failed").arg(updated).arg(failed);
    }
};

bool attached(const std::vector<AttachedUnit> &units, const SeenUnit &seen)
{
    return std::any_of(units.begin(), units.end(), [&seen](const AttachedUnit &unit) {
        return QString::fromStdString(unit.port) == seen.port &&
               QString::fromStdWString(unit.serialNumber) == seen.serial;
    });
}

class EachRun
{
public:
    EachRun(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
        : io(io), request(request), check(check)
    {
    }

    int run()
    {
        between(true);
        while (!ending()) {
            const std::optional<SeenUnit> next = nextUnit();
            if (!next) {
                pause();
                continue;
            }
            between(false);
            // A signal that came as the unit was found ends the run before anything is sent.
            if (ending())
                break;
            update(*next);
            const bool stopped = io.stopRequested && io.stopRequested();
            between(true);
            if (stopped)
                break;
        }
        if (request.json) {
            writeJsonLine(io.out, {{QStringLiteral("event"), QStringLiteral("tally")},
                                   {QStringLiteral("updated"), tally.updated},
                                   {QStringLiteral("failed"), tally.failed},
                                   {QStringLiteral("exitCode"), exitCode()}});
        } else {
            io.out << "tally: " << tally.text() << '\n' << "exit code: " << exitCode() << '\n';
            io.out.flush();
        }
        return exitCode();
    }

private:
    int exitCode() const { return tally.failed == 0 ? kExitOk : kExitFailedWhileWriting; }

    void between(bool now)
    {
        if (io.betweenUnits)
            io.betweenUnits(now);
    }

    bool ending() const { return io.endRequested && io.endRequested(); }

    void pause()
    {
        if (io.pause)
            io.pause(kEachPollMs);
        else
            QThread::msleep(kEachPollMs);
    }

    void say(const QString &text)
    {
        io.err << text << '\n';
        io.err.flush();
    }

    // The first unit attached that this run has not updated yet; units updated and since
    // unplugged are forgotten.
    std::optional<SeenUnit> nextUnit()
    {
        const std::vector<AttachedUnit> units = attachedUnits();
        done.erase(
            std::remove_if(done.begin(), done.end(),
                           [&units](const SeenUnit &seen) { return !attached(units, seen); }),
            done.end());
        for (const AttachedUnit &unit : units) {
            const SeenUnit seen{QString::fromStdString(unit.port),
                                QString::fromStdWString(unit.serialNumber)};
            if (seen.port.isEmpty()) {
                // --port cannot name it, and two such units could not be told apart.
                if (!portlessSaid)
                    say(QStringLiteral("A ControlPanel whose USB port cannot be found is left "
                                       "alone: update it with no other ControlPanel attached"));
                portlessSaid = true;
                continue;
            }
            const bool chosen = request.unit.port.isEmpty() || request.unit.port == seen.port;
            const bool updated = std::any_of(done.begin(), done.end(), [&seen](const SeenUnit &d) {
                return d.port == seen.port && d.serial == seen.serial;
            });
            if (chosen && !updated)
                return seen;
        }
        if (!waiting) {
            waiting = true;
            say(request.unit.port.isEmpty()
                    ? QStringLiteral("Waiting for the next ControlPanel (Ctrl-C ends)")
                    : QStringLiteral("Waiting for the next ControlPanel at USB port %1 (Ctrl-C "
                                     "ends)")
                          .arg(printable(request.unit.port)));
        }
        return std::nullopt;
    }

    void update(const SeenUnit &unit)
    {
        waiting = false;
        QElapsedTimer clock;
        clock.start();
        const QString time =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        UnitChoice choice;
        choice.port = unit.port;
        const SequenceOutcome outcome = updateUnit(io, request, check, choice);
        const int code = exitCodeFor(outcome.end);
        const double seconds = double(clock.elapsed()) / 1000;
        done.push_back(unit);
        ++(code == kExitOk ? tally.updated : tally.failed);
        if (request.json) {
            writeJsonLine(io.out, {{QStringLiteral("event"), QStringLiteral("unit")},
                                   {QStringLiteral("time"), time},
                                   {QStringLiteral("port"), unit.port},
                                   {QStringLiteral("serial"), unit.serial},
                                   {QStringLiteral("result"), outcome.text},
                                   {QStringLiteral("exitCode"), code},
                                   {QStringLiteral("seconds"), seconds}});
            return;
        }
        io.out << time << "  " << printable(unit.port) << "  " << printable(unit.serial) << "  "
               << unitResultLine(code, outcome.text) << "  " << QString::number(seconds, 'f', 1)
               << " s  (" << tally.text() << ")\n";
        io.out.flush();
    }

    CliStreams &io;
    const VerbRequest &request;
    const HexFileCheck &check;
    std::vector<SeenUnit> done;
    Tally tally;
    bool waiting = false;
    bool portlessSaid = false;
};

} // namespace

int runUpdateEach(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
{
    return EachRun(io, request, check).run();
}
