#include "UpdateEach.h"

#include "AttachedUnits.h"
#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "Elapsed.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "JsonLines.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitLock.h"
#include "UnitWatch.h"
#include "UnitsSummary.h"
#include "UpdateCommand.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <optional>

namespace {

struct Tally
{
    int updated = 0;
    int failed = 0;

    QString text() const
    {
        return QStringLiteral("%1 updated, %2 failed").arg(updated).arg(failed);
    }
};

class EachRun
{
public:
    EachRun(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
        : io(io), request(request), check(check),
          watch(request.unit.port, QString::fromLatin1(check.summary.sha256),
                QCoreApplication::applicationName(), QLatin1String(request.target->name))
    {
    }

    int run()
    {
        between(true);
        while (!ending()) {
            const std::optional<WatchedUnit> next = nextUnit();
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

    // The next unit to update, with what the look met said once.
    std::optional<WatchedUnit> nextUnit()
    {
        std::vector<WatchNotice> notices;
        std::optional<WatchedUnit> next = watch.next(notices);
        tell(notices);
        if (!next && !waiting) {
            waiting = true;
            say(request.unit.port.isEmpty()
                    ? QStringLiteral("Waiting for the next ControlPanel (Ctrl-C ends)")
                    : QStringLiteral("Waiting for the next ControlPanel at USB port %1 (Ctrl-C "
                                     "ends)")
                          .arg(printable(request.unit.port)));
        }
        return next;
    }

    void tell(const std::vector<WatchNotice> &notices)
    {
        for (const WatchNotice &notice : notices) {
            switch (notice.kind) {
            case WatchNotice::Kind::Portless:
                say(QStringLiteral("A ControlPanel is left alone: ") +
                    QLatin1String(request.target->restartsIntoBootloader ? kPortlessPanelText
                                                                         : kPortlessBoardText));
                break;
            case WatchNotice::Kind::Held:
                say(QString::fromLatin1(kEachWaitingText)
                        .arg(busyDetail(notice.port, notice.mark)));
                break;
            case WatchNotice::Kind::UpdatedElsewhere: {
                const UnitMark &mark = *notice.mark;
                say(QString::fromLatin1(kEachUpdatedElsewhereText)
                        .arg(printable(notice.port), printable(mark.program),
                             QString::number(mark.process),
                             mark.ended.toLocalTime().toString(
                                 QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
                break;
            }
            case WatchNotice::Kind::SilentReturn:
                say(QString::fromLatin1(kEachSilentReturnText).arg(printable(notice.port)));
                break;
            }
        }
    }

    void update(const WatchedUnit &unit)
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
            std::vector<WatchNotice> notices;
            watch.heldByAnother(unit, notices);
            tell(notices);
            return;
        }
        const int code = exitCodeFor(outcome.end);
        const double seconds = secondsSince(clock);
        if (code == kExitOk)
            watch.updated(unit);
        else
            watch.failed(unit);
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
    UnitWatch watch;
    Tally tally;
    bool waiting = false;
};

} // namespace

int runUpdateEach(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
{
    return EachRun(io, request, check).run();
}
