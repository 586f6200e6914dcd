#include "UnitProbe.h"

#include "ConnectionAdvice.h"
#include "Elapsed.h"
#include "Printable.h"
#include "ProbeTexts.h"
#include "UnitLock.h"
#include "UpdateProgress.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

namespace {

QString portOf(const AttachedUnit &unit)
{
    return QString::fromStdString(unit.port);
}

class Probe
{
public:
    Probe(ProbeHost &host, CommandChannel &channel, const ProbeRequest &request)
        : host(host), channel(channel), request(request)
    {
        report.time = QDateTime::currentDateTime();
        report.restart = request.restart;
        report.timing = request.timing;
    }

    ProbeReport run()
    {
        if (chooseUnit() && lockUnit() && confirmRestart() && openUnit() && checkLink() &&
            (!request.restart || (restartIntoBootloader() && restartIntoApplication())))
            end(unconfirmed.end, unconfirmed.text);
        channel.closeChannel();
        // The next program must know of a unit that may be in its bootloader; a unit the probe
        // found as it left it keeps what an earlier update said of it.
        report.mayBeInBootloader = mayStayInBootloader;
        if (mayStayInBootloader)
            lock.releaseUnfinished();
        else
            lock.releaseWithEarlierMark();
        return report;
    }

private:
    bool end(ProbeEnd how, const QString &text)
    {
        report.end = how;
        report.text = text;
        return false;
    }

    bool noUnit(ConnectionProblem problem)
    {
        report.problem = problem;
        // A busy unit's detail names the program that holds it.
        return end(ProbeEnd::NoUnit,
                   problem.kind == ConnectionProblem::Kind::Busy ? problem.detail : problem.text);
    }

    QString withPort(const char *text) const { return QString::fromLatin1(text).arg(port); }
    QString withPort(const char *text, int timeoutMs) const
    {
        return withPort(text).arg(timeoutMs / 1000);
    }

    bool chooseUnit()
    {
        const std::vector<AttachedUnit> units = attachedUnits();
        const UnitSelection selection = selectUnit(units, request.unit);
        ConnectionProblem problem;
        problem.ports = portsText(units);
        switch (selection.verdict) {
        case UnitSelection::Verdict::Chosen:
            report.unit = *selection.unit;
            port = portOf(*selection.unit);
            if (request.restart && port.isEmpty())
                return end(ProbeEnd::NoUnit,
                           QString::fromLatin1(kProbePortUnknownText)
                               .arg(printable(QString::fromStdString(selection.unit->path))));
            return true;
        case UnitSelection::Verdict::NoneAttached:
            problem = {ConnectionProblem::Kind::NoPanel, kNoPanelText, kNoPanelAdvice, QString(),
                       problem.ports};
            break;
        case UnitSelection::Verdict::NotAttached:
        case UnitSelection::Verdict::Several:
            problem = choiceProblem(selection.verdict, request.unit, problem.ports);
            break;
        }
        return noUnit(problem);
    }

    // One program per unit: an update started meanwhile would find the unit gone or in its
    // bootloader.
    bool lockUnit()
    {
        const QString name = port.isEmpty() ? QString::fromStdString(report.unit->path) : port;
        QString refusal;
        switch (lock.take(name, QCoreApplication::applicationName(), QStringLiteral("panel"))) {
        case UnitLock::Outcome::Taken:
            if (lock.holder() && lock.holder()->unfinishedPastEntry())
                report.unfinished = lock.holder();
            return true;
        case UnitLock::Outcome::NoPlace: // nowhere to keep a lock: the probe goes on regardless
            host.lockFolderMissing();
            return true;
        case UnitLock::Outcome::HeldByAnother:
            refusal = busyDetail(name, lock.holder());
            break;
        case UnitLock::Outcome::Unusable: // something else stands at the lock path
            refusal = lock.problem();
            break;
        }
        return noUnit(
            {ConnectionProblem::Kind::Busy, kUnitBusyText, kUnitBusyAdvice, refusal, name});
    }

    bool confirmRestart()
    {
        if (!request.restart || host.restartAllowed(*report.unit))
            return true;
        return end(ProbeEnd::RestartRefused, withPort(kProbeRestartRefusedText));
    }

    bool openUnit()
    {
        if (!channel.openPath(report.unit->path))
            return true;
        // What is attached but will not open says why.
        const std::vector<AttachedPanel> panels = surveyControlPanels();
        return noUnit({ConnectionProblem::Kind::NoPanel, kNoPanelText, kNoPanelAdvice,
                       unusablePanelsDetail(panels), portsText(attachedUnits())});
    }

    bool checkLink()
    {
        host.stepBegins(ProbeStep::LinkChecks, *report.unit);
        int silent = 0;
        while (report.checks < kProbeChecks && silent < kProbeSilentChecks) {
            channel.putCommand(command::kConnectionCheck);
            QElapsedTimer clock;
            clock.start();
            const bool failed = channel.exchange(true);
            const double milliseconds = millisecondsSince(clock);
            ++report.checks;
            if (failed) {
                ++report.failedChecks;
                ++silent;
            } else {
                report.roundTripsMs.push_back(milliseconds);
                silent = 0;
            }
        }
        if (report.roundTripsMs.empty())
            return end(ProbeEnd::NotAnswering, withPort(kProbeNotAnsweringText));
        if (silent >= kProbeSilentChecks)
            return end(ProbeEnd::StoppedAnswering,
                       withPort(kProbeStoppedAnsweringText).arg(report.roundTripsMs.size()));
        return true;
    }

    // Sends the command that restarts the unit and starts `sinceEcho` as its echo arrives, or as
    // the wait for it ends. True when it was echoed.
    bool restartCommand(CommandLetters letters, RestartTrip &trip, QElapsedTimer &sinceEcho)
    {
        channel.putCommand(letters);
        QElapsedTimer clock;
        clock.start();
        const bool failed = channel.exchange(true);
        sinceEcho.start();
        trip.commandMs = millisecondsSince(clock);
        trip.sent = true;
        trip.confirmed = !failed;
        return !failed;
    }

    bool restartIntoBootloader()
    {
        // An update that finds this mark unfinished tells of a unit that may be in its bootloader.
        lock.note(QLatin1String(phaseName(UpdatePhase::EnteringBootloader)));
        mayStayInBootloader = true;
        host.restartBegins();
        host.stepBegins(ProbeStep::IntoBootloader, *report.unit);
        RestartTrip &trip = report.toBootloader;
        QElapsedTimer sinceEcho;
        const bool echoed = restartCommand(command::kPanelBootloaderEntry, trip, sinceEcho);
        AttachedUnit before = *report.unit;
        before.path = channel.path();
        channel.closeChannel();
        // Followed all the same: whether it restarted tells where it is now.
        switch (follow(before, sinceEcho, trip)) {
        case FollowResult::Back:
            // In its bootloader either way: it is brought back before the fault is told.
            if (!echoed)
                unconfirmed = {ProbeEnd::EntryNotConfirmed,
                               withPort(kProbeEntryUnconfirmedRestartText)};
            return true;
        case FollowResult::NeverLeft:
            mayStayInBootloader = false; // it still runs its application
            if (!echoed)
                return end(ProbeEnd::EntryNotConfirmed,
                           withPort(kProbeEntryNotConfirmedText, request.timing.departureMs));
            return end(ProbeEnd::NeverLeftForBootloader,
                       withPort(kProbeNeverLeftText, request.timing.departureMs));
        case FollowResult::NeverBack:
            break;
        }
        if (trip.elsewhere)
            return end(ProbeEnd::NeverBackInBootloader,
                       withPort(kProbeBackElsewhereText, request.timing.returnMs)
                           .arg(printable(QString::fromStdString(trip.elsewhere->port))));
        return end(ProbeEnd::NeverBackInBootloader,
                   withPort(kProbeNotBackInBootloaderText, request.timing.returnMs));
    }

    bool restartIntoApplication()
    {
        host.stepBegins(ProbeStep::IntoApplication, *report.unit);
        lock.note(QLatin1String(phaseName(UpdatePhase::LeavingBootloader)));
        RestartTrip &trip = report.toApplication;
        QElapsedTimer sinceEcho;
        const bool echoed = restartCommand(command::kPanelBootloaderExit, trip, sinceEcho);
        AttachedUnit bootloader = *report.toBootloader.back;
        channel.closeChannel();
        switch (follow(bootloader, sinceEcho, trip)) {
        case FollowResult::Back:
            if (!echoed)
                unconfirmed = {ProbeEnd::ExitNotConfirmed,
                               withPort(kProbeExitUnconfirmedRestartText)};
            break;
        case FollowResult::NeverLeft:
            if (!echoed)
                return end(ProbeEnd::ExitNotConfirmed,
                           withPort(kProbeExitNotConfirmedText, request.timing.departureMs));
            return end(ProbeEnd::NeverLeftForApplication,
                       withPort(kProbeNotLeftForApplicationText, request.timing.departureMs));
        case FollowResult::NeverBack:
            return end(ProbeEnd::NeverBackInApplication,
                       withPort(kProbeNotBackText, request.timing.returnMs));
        }

        if (host.stopRequested()) {
            mayStayInBootloader = false;
            return end(ProbeEnd::Interrupted, withPort(kProbeInterruptedText));
        }
        host.stepBegins(ProbeStep::FinalCheck, *report.unit);
        lock.note(QLatin1String(phaseName(UpdatePhase::ConfirmingApplication)));
        channel.putCommand(command::kConnectionCheck);
        QElapsedTimer clock;
        clock.start();
        if (channel.exchange(true))
            return end(ProbeEnd::SilentAfterReturn, withPort(kProbeSilentAfterReturnText));
        report.finalCheckMs = millisecondsSince(clock);
        mayStayInBootloader = false;
        return true;
    }

    // Follows the unit through its restart, noting the times in `trip`.
    FollowResult follow(const AttachedUnit &before, const QElapsedTimer &sinceEcho,
                        RestartTrip &trip)
    {
        UnitFollower follower(host, channel, request.timing, kProbePollMs);
        const FollowResult result = follower.follow(before, sinceEcho);
        static_cast<RestartTimes &>(trip) = follower.times();
        return result;
    }

    // A restart command not echoed, though the unit restarted: told once the unit is back.
    struct Unconfirmed
    {
        ProbeEnd end = ProbeEnd::Measured;
        QString text;
    };

    ProbeHost &host;
    CommandChannel &channel;
    const ProbeRequest &request;
    ProbeReport report;
    UnitLock lock;
    QString port; // the chosen unit's
    Unconfirmed unconfirmed;
    // Set from the restart command on, until the unit is known back in its application.
    bool mayStayInBootloader = false;
};

} // namespace

ProbeReport probeUnit(ProbeHost &host, CommandChannel &channel, const ProbeRequest &request)
{
    return Probe(host, channel, request).run();
}
