#include "UnitProbe.h"

#include "ConnectionAdvice.h"
#include "ProbeTexts.h"
#include "UnitLock.h"
#include "UpdateProgress.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <set>

namespace {

double millisecondsOf(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

QString portOf(const AttachedUnit &unit)
{
    return QString::fromStdString(unit.port);
}

enum class Followed
{
    Back,
    NeverLeft,
    NeverBack,
};

// Follows the unit from the echo of the command that restarts it (`sinceEcho` started then): until
// its node has left the bus, then until it is listed at its port again and opens there. Times are
// noted at the first look that sees each change; the looks are kProbePollMs apart.
class RestartWatch
{
public:
    RestartWatch(ProbeHost &host, CommandChannel &channel, const RestartFollowing &timing,
                 RestartTrip &trip)
        : host(host), channel(channel), timing(timing), trip(trip)
    {
    }

    Followed follow(const AttachedUnit &before, const QElapsedTimer &sinceEcho)
    {
        for (const AttachedUnit &unit : attachedUnits())
            known.insert(unit.path);
        clock = &sinceEcho;
        for (;;) {
            const std::vector<AttachedUnit> units = look();
            const std::optional<AttachedUnit> at = unitAtPort(units, before.port);
            if (!at || at->path != before.path)
                break;
            if (now >= timing.departureTimeoutMs)
                return Followed::NeverLeft;
            host.pause(kProbePollMs);
        }
        trip.leftMs = now;
        // A unit listed under a new node has left and come back between two looks.
        const double leftAt = now;
        for (bool first = true;; first = false) {
            const std::vector<AttachedUnit> units = first ? lastLook : look();
            noteNewcomers(units, before.port);
            if (const std::optional<AttachedUnit> at = unitAtPort(units, before.port)) {
                if (!trip.backMs)
                    trip.backMs = now;
                // The node may be listed before udev has given this user access to it.
                if (!channel.openPath(at->path)) {
                    trip.openedMs = millisecondsOf(sinceEcho);
                    trip.back = at;
                    return Followed::Back;
                }
            }
            if (now - leftAt >= timing.returnTimeoutMs)
                return Followed::NeverBack;
            host.pause(kProbePollMs);
        }
    }

private:
    std::vector<AttachedUnit> look()
    {
        lastLook = attachedUnits();
        const double at = millisecondsOf(*clock);
        trip.lookMs = std::max(trip.lookMs, at - now);
        now = at;
        return lastLook;
    }

    // The first ControlPanel to come up elsewhere while the unit is away may be the unit itself.
    void noteNewcomers(const std::vector<AttachedUnit> &units, const std::string &port)
    {
        for (const AttachedUnit &unit : units)
            if (unit.port != port && !known.count(unit.path) && !trip.elsewhere)
                trip.elsewhere = unit;
    }

    ProbeHost &host;
    CommandChannel &channel;
    const RestartFollowing &timing;
    RestartTrip &trip;
    const QElapsedTimer *clock = nullptr;
    double now = 0;
    std::vector<AttachedUnit> lastLook;
    std::set<std::string> known; // the nodes on the bus before the restart
};

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
            unfinished = unfinishedUpdateText(name, lock.holder());
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
            const double milliseconds = millisecondsOf(clock);
            ++report.checks;
            if (failed) {
                ++report.failedChecks;
                ++silent;
            } else {
                report.roundTripsMs.push_back(milliseconds);
                silent = 0;
            }
        }
        if (report.roundTripsMs.empty()) {
            QString text = withPort(kProbeNotAnsweringText);
            if (!unfinished.isEmpty())
                text += QLatin1Char('\n') + unfinished;
            return end(ProbeEnd::NotAnswering, text);
        }
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
        trip.commandMs = millisecondsOf(clock);
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
        switch (RestartWatch(host, channel, request.timing, trip).follow(before, sinceEcho)) {
        case Followed::Back:
            // In its bootloader either way: it is brought back before the fault is told.
            if (!echoed)
                unconfirmed = {ProbeEnd::EntryNotConfirmed,
                               withPort(kProbeEntryUnconfirmedRestartText)};
            return true;
        case Followed::NeverLeft:
            mayStayInBootloader = false; // it still runs its application
            if (!echoed)
                return end(
                    ProbeEnd::EntryNotConfirmed,
                    withPort(kProbeEntryNotConfirmedText, request.timing.departureTimeoutMs));
            return end(ProbeEnd::NeverLeftForBootloader,
                       withPort(kProbeNeverLeftText, request.timing.departureTimeoutMs));
        case Followed::NeverBack:
            break;
        }
        if (trip.elsewhere)
            return end(ProbeEnd::NeverBackInBootloader,
                       withPort(kProbeBackElsewhereText, request.timing.returnTimeoutMs)
                           .arg(printable(QString::fromStdString(trip.elsewhere->port))));
        return end(ProbeEnd::NeverBackInBootloader,
                   withPort(kProbeNotBackInBootloaderText, request.timing.returnTimeoutMs));
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
        switch (RestartWatch(host, channel, request.timing, trip).follow(bootloader, sinceEcho)) {
        case Followed::Back:
            if (!echoed)
                unconfirmed = {ProbeEnd::ExitNotConfirmed,
                               withPort(kProbeExitUnconfirmedRestartText)};
            break;
        case Followed::NeverLeft:
            if (!echoed)
                return end(ProbeEnd::ExitNotConfirmed,
                           withPort(kProbeExitNotConfirmedText, request.timing.departureTimeoutMs));
            return end(
                ProbeEnd::NeverLeftForApplication,
                withPort(kProbeNotLeftForApplicationText, request.timing.departureTimeoutMs));
        case Followed::NeverBack:
            return end(ProbeEnd::NeverBackInApplication,
                       withPort(kProbeNotBackText, request.timing.returnTimeoutMs));
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
        report.finalCheckMs = millisecondsOf(clock);
        mayStayInBootloader = false;
        return true;
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
    // What the user must know of an earlier update of the unit that did not finish.
    QString unfinished;
};

} // namespace

ProbeReport probeUnit(ProbeHost &host, CommandChannel &channel, const ProbeRequest &request)
{
    return Probe(host, channel, request).run();
}
