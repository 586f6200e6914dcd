#include "UpdateEach.h"

#include "AttachedUnits.h"
#include "CliTexts.h"
#include "CommandChannel.h"
#include "ConnectionAdvice.h"
#include "Elapsed.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitLock.h"
#include "UnitsSummary.h"
#include "UpdateCommand.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <optional>

#include <unistd.h>

namespace {

struct SeenUnit
{
    QString port;
    QString serial;
    std::string path; // where it was found; it changes at every restart
};

// A unit whose update failed here. It is not taken again until it has left the bus (or another
// unit stands at its port) and comes back answering in its application: a unit that returns in
// its bootloader after the update gave up on it must not be updated as a new one.
struct FailedUnit
{
    SeenUnit unit;
    bool away = false;
};

// What a unit back at a failed unit's port answers.
enum class Return
{
    Answers,      // its application: it is taken
    Silent,       // perhaps its bootloader: left until it comes back again
    Busy,         // another program holds its lock
    NotConfirmed, // it could not be asked; the update says why
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

    void pause() { io.wait(kEachPollMs); }

    void say(const QString &text)
    {
        io.err << text << '\n';
        io.err.flush();
    }

    // The first unit attached that this run may take: not updated yet, not held by another
    // program, not updated with this image by another since the run began, and not failed here
    // unless it has come back since answering. Units updated and since unplugged are forgotten.
    std::optional<SeenUnit> nextUnit()
    {
        const std::vector<AttachedUnit> units = attachedUnits();
        done.erase(
            std::remove_if(done.begin(), done.end(),
                           [&units](const SeenUnit &seen) { return !attached(units, seen); }),
            done.end());
        for (FailedUnit &failure : failed)
            failure.away = failure.away || !attached(units, failure.unit);
        for (const AttachedUnit &unit : units) {
            const SeenUnit seen{QString::fromStdString(unit.port),
                                QString::fromStdWString(unit.serialNumber), unit.path};
            if (seen.port.isEmpty()) {
                // --port cannot name it, and two such units could not be told apart.
                if (!portlessSaid)
                    say(QStringLiteral("A ControlPanel is left alone: ") +
                        QLatin1String(request.target->restartsIntoBootloader ? kPortlessPanelText
                                                                             : kPortlessBoardText));
                portlessSaid = true;
                continue;
            }
            const bool chosen = request.unit.port.isEmpty() || request.unit.port == seen.port;
            const bool updated = std::any_of(done.begin(), done.end(), [&seen](const SeenUnit &d) {
                return d.port == seen.port && d.serial == seen.serial;
            });
            if (chosen && !updated && mayTake(seen))
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

    // Whether the unit, not updated by this run, may be taken now.
    bool mayTake(const SeenUnit &unit)
    {
        const LockLook look = UnitLock::look(unit.port);
        if (look.held) {
            waitFor(unit.port, look.mark);
            return false;
        }
        waitingAt.removeAll(unit.port);
        if (updatedElsewhere(look.mark)) {
            const UnitMark &mark = *look.mark;
            say(QString::fromLatin1(kEachUpdatedElsewhereText)
                    .arg(printable(unit.port), printable(mark.program),
                         QString::number(mark.process),
                         mark.ended.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
            done.push_back(unit);
            forgetFailure(unit.port);
            return false;
        }
        const auto failure =
            std::find_if(failed.begin(), failed.end(), [&unit](const FailedUnit &failure) {
                return failure.unit.port == unit.port;
            });
        if (failure == failed.end())
            return true;
        if (!failure->away)
            return false;
        switch (checkReturn(unit)) {
        case Return::Answers:
        case Return::NotConfirmed:
            failed.erase(failure);
            return true;
        case Return::Silent:
            // Said once: it is not asked again until it has left once more.
            *failure = FailedUnit{unit, false};
            say(QString::fromLatin1(kEachSilentReturnText).arg(printable(unit.port)));
            return false;
        case Return::Busy:
            return false;
        }
        return false;
    }

    // Another program holds the unit: said once, and the unit is looked at again at each poll.
    void waitFor(const QString &port, const std::optional<UnitMark> &holder)
    {
        if (waitingAt.contains(port))
            return;
        waitingAt << port;
        const std::optional<UnitMark> running =
            holder && !holder->finished ? holder : std::optional<UnitMark>();
        say(QString::fromLatin1(kEachWaitingText).arg(busyDetail(port, running)));
    }

    // Another program's update that wrote this very image and ended after this run began.
    bool updatedElsewhere(const std::optional<UnitMark> &mark) const
    {
        return mark && mark->finished && mark->updated && mark->process != qint64(::getpid()) &&
               mark->sha256 == QString::fromLatin1(check.summary.sha256) && mark->ended.isValid() &&
               mark->ended >= began;
    }

    void forgetFailure(const QString &port)
    {
        failed.erase(std::remove_if(
                         failed.begin(), failed.end(),
                         [&port](const FailedUnit &failure) { return failure.unit.port == port; }),
                     failed.end());
    }

    // Sends the unit the connection check, which only its application answers. Under the unit's
    // lock: a report sent into another program's update would be taken as its page's data.
    Return checkReturn(const SeenUnit &unit)
    {
        UnitLock lock;
        switch (lock.take(unit.port, QCoreApplication::applicationName(),
                          QLatin1String(request.target->name))) {
        case UnitLock::Outcome::Taken:
        case UnitLock::Outcome::NoPlace:
            break;
        case UnitLock::Outcome::HeldByAnother:
            return Return::Busy;
        case UnitLock::Outcome::Unusable:
            return Return::NotConfirmed;
        }
        CommandChannel channel;
        Return answer = Return::NotConfirmed;
        if (!channel.openPath(unit.path)) {
            channel.putCommand(command::kConnectionCheck);
            answer = channel.exchange(true) ? Return::Silent : Return::Answers;
        }
        channel.closeChannel();
        lock.releaseWithEarlierMark();
        return answer;
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
        const UpdateOutcome outcome = updateUnit(io, request, check, choice);
        // Taken by another program since it was looked at: not counted, and waited for.
        if (outcome.lock == UnitLock::Outcome::HeldByAnother) {
            waitFor(unit.port, UnitLock::look(unit.port).mark);
            return;
        }
        const int code = exitCodeFor(outcome.end);
        const double seconds = secondsSince(clock);
        forgetFailure(unit.port);
        if (code == kExitOk)
            done.push_back(unit);
        else
            failed.push_back({unit, false});
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
    // Updated by this run, or by another with this image since the run began: not taken again
    // while attached.
    std::vector<SeenUnit> done;
    std::vector<FailedUnit> failed;
    QStringList waitingAt; // the ports of units another program holds, said once
    const QDateTime began = QDateTime::currentDateTimeUtc();
    Tally tally;
    bool waiting = false;
    bool portlessSaid = false;
};

} // namespace

int runUpdateEach(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
{
    return EachRun(io, request, check).run();
}
