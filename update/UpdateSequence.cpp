#include "UpdateSequence.h"

#include "ConnectionAdvice.h"
#include "ControlPanelSurvey.h"
#include "HexFile.h"
#include "RestartFollowing.h"
#include "UnitLock.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>

namespace {

void wait(SequenceHost &host, UpdateProgress &progress)
{
    for (int step = 1; step <= kFixedWaitSteps; ++step) {
        host.pause(kFixedWaitStepMs);
        progress.advanced(step);
    }
}

// The wait indicator goes with the sequence, however it ends.
class WaitSession
{
public:
    WaitSession(SequenceHost &host, UpdateProgress &progress) : host(host)
    {
        progress.phaseBegins(UpdatePhase::WaitingForBootloader, kFixedWaitSteps);
    }
    ~WaitSession() { host.finishWait(); }
    WaitSession(const WaitSession &) = delete;
    WaitSession &operator=(const WaitSession &) = delete;

private:
    SequenceHost &host;
};

// Passes every announcement on to the front end, notes it in the unit's lock file, and keeps the
// last phase begun, so that the sequence knows how far the programmer got when it fails.
class PhaseTracker : public UpdateProgress
{
public:
    PhaseTracker(UpdateProgress &next, UnitLock &lock) : next(next), lock(lock) {}

    void phaseBegins(UpdatePhase begun, int total) override
    {
        phase = begun;
        lock.note(QString::fromLatin1(phaseName(begun)));
        next.phaseBegins(begun, total);
    }
    void advanced(int done) override { next.advanced(done); }
    void walkEnded() override { next.walkEnded(); }
    bool stopRequested() const override { return next.stopRequested(); }

    UpdatePhase phase = UpdatePhase::Connecting;

private:
    UpdateProgress &next;
    UnitLock &lock;
};

QString withPort(const char *text, const std::string &port)
{
    return QString::fromLatin1(text).arg(QString::fromStdString(port));
}

QString withPort(const char *text, const std::string &port, int timeoutMs)
{
    return withPort(text, port).arg(timeoutMs / 1000);
}

class Sequence
{
public:
    Sequence(const UpdateTarget &target, CommandChannel &channel, TargetProfile &profile,
             SequenceHost &host, const SequenceOptions &options)
        : target(target), channel(channel), profile(profile), host(host), options(options),
          phases(host.progress(), lock)
    {
        clock.start();
    }

    SequenceOutcome run()
    {
        runSteps();
        lock.noteResult(QString::fromLatin1(outcome.loaded.sha256),
                        outcome.end == SequenceEnd::Updated);
        record();
        // A unit an earlier update left in a bootloader is still there unless this one wrote it.
        const bool written =
            outcome.end == SequenceEnd::Updated || outcome.end == SequenceEnd::NotBackInApplication;
        if (!unfinished.isEmpty() && !written)
            lock.releaseWithEarlierMark();
        return outcome;
    }

private:
    SequenceOutcome &runSteps();
    // Opens the chosen unit, takes its lock and checks that it answers. Returns false when the
    // sequence ended.
    bool connect();
    // Takes the lock of the unit's port. Returns false, with the holder named, when another
    // program holds it.
    bool lockUnit();
    // The text, with what the user must know of an earlier update of the unit that did not
    // finish.
    QString withUnfinished(const QString &text) const;
    void noteUnit();
    // Opens the unit the options choose, unless a handle on it is held. Returns false, with the
    // problem shown and the channel closed, when none can be opened.
    bool openChosenUnit();
    // Sends the target's bootloader entry command; true when it was echoed.
    bool enterBootloader();
    // Sends the ControlPanel back to its application after its programmer returned.
    void leavePanelBootloader(bool verified);
    // The ControlPanel, followed from its bootloader through its restart, is back at its port
    // and answers.
    bool backInApplication(const AttachedUnit &bootloader);

    SequenceOutcome &end(SequenceEnd how, const QString &text)
    {
        outcome.end = how;
        outcome.text = text;
        outcome.seconds = double(clock.elapsed()) / 1000;
        return outcome;
    }
    // A message box that ends the sequence.
    SequenceOutcome &endWithMessage(SequenceEnd how, const QString &text)
    {
        host.showMessage(text);
        return end(how, text);
    }
    SequenceEnd programmerEnd(UpdatePhase reached) const;
    void record();

    const UpdateTarget &target;
    CommandChannel &channel;
    TargetProfile &profile;
    SequenceHost &host;
    const SequenceOptions &options;
    UnitLock lock;
    PhaseTracker phases;
    QElapsedTimer clock;
    SequenceOutcome outcome;
    AttachedUnit unit; // as it was when the connection check answered
    // Set when the ControlPanel did not get back to its application; the text says why.
    QString notBack;
    // Set when an earlier update of the unit ended after its bootloader entry without finishing.
    QString unfinished;
};

bool Sequence::openChosenUnit()
{
    const std::vector<AttachedUnit> units = attachedUnits();
    // A handle held from an earlier click is kept only while its unit is still there under the
    // same node: one unplugged or power-cycled meanwhile would fail every later click.
    if (channel.isOpen()) {
        const AttachedUnit *held = nullptr;
        for (const AttachedUnit &attached : units)
            if (attached.path == channel.path())
                held = &attached;
        if (held) {
            unit = *held;
            return true;
        }
        channel.closeChannel();
    }

    const UnitSelection selection = selectUnit(units, options.unit);
    ConnectionProblem problem;
    problem.ports = portsText(units);
    switch (selection.verdict) {
    case UnitSelection::Verdict::NoneAttached:
        // hidapi may still find one that enumeration just missed.
        if (options.unit.any() && !channel.openChannel()) {
            const std::vector<AttachedUnit> now = attachedUnits();
            if (now.size() == 1) {
                unit = now.front();
                return true;
            }
            channel.closeChannel();
        }
        [[fallthrough]];
    case UnitSelection::Verdict::Chosen:
        if (selection.unit && !channel.openPath(selection.unit->path)) {
            unit = *selection.unit;
            return true;
        }
        // What is attached but will not open says more than the box alone.
        problem = {ConnectionProblem::Kind::NoPanel, kNoPanelText, kNoPanelAdvice,
                   unusablePanelsDetail(surveyControlPanels()), problem.ports};
        break;
    case UnitSelection::Verdict::NotAttached:
    case UnitSelection::Verdict::Several:
        problem = choiceProblem(selection.verdict, options.unit, problem.ports);
        break;
    }
    host.showConnectionError(problem);
    channel.closeChannel();
    end(SequenceEnd::NoControlPanel, problem.text);
    return false;
}

bool Sequence::lockUnit()
{
    const QString port = QString::fromStdString(unit.port.empty() ? unit.path : unit.port);
    const UnitLock::Outcome taken =
        lock.take(port, QCoreApplication::applicationName(), QString::fromLatin1(target.name));
    outcome.lock = taken;
    QString refusal;
    switch (taken) {
    case UnitLock::Outcome::Taken:
        break;
    case UnitLock::Outcome::NoPlace:
        // Nowhere to keep a lock: the update goes on as it always could.
        host.lockFolderMissing();
        break;
    case UnitLock::Outcome::HeldByAnother:
        refusal = busyDetail(port, lock.holder());
        break;
    case UnitLock::Outcome::Unusable:
        // Something else stands at the lock path: as for a busy unit, nothing is sent.
        refusal = lock.problem();
        break;
    }
    if (!refusal.isEmpty()) {
        ConnectionProblem problem{ConnectionProblem::Kind::Busy, kUnitBusyText, kUnitBusyAdvice,
                                  refusal, port};
        host.showConnectionError(problem);
        channel.closeChannel();
        end(SequenceEnd::NoControlPanel, problem.detail);
        return false;
    }
    // A mark left unfinished after the bootloader entry: that unit may still be in a bootloader.
    const std::optional<UnitMark> &earlier = lock.holder();
    const bool entered = earlier && !earlier->finished && !earlier->phase.isEmpty() &&
                         earlier->phase != QLatin1String(phaseName(UpdatePhase::Connecting));
    if (entered)
        unfinished = QString::fromLatin1(kUnfinishedText)
                         .arg(port, earlier->started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    return true;
}

QString Sequence::withUnfinished(const QString &text) const
{
    // Only the command line can update a unit in its bootloader.
    if (unfinished.isEmpty() || !options.restarts.follow)
        return text;
    return text + QLatin1Char('\n') + unfinished;
}

bool Sequence::connect()
{
    phases.phaseBegins(UpdatePhase::Connecting, 0);
    const bool reused = channel.isOpen();
    if (!openChosenUnit() || !lockUnit())
        return false;
    // Its bootloader would not answer the connection check; nothing is sent until it is started.
    if (options.inBootloader) {
        noteUnit();
        return true;
    }
    channel.putCommand(command::kConnectionCheck);
    bool silent = channel.exchange(true);
    // A held handle may belong to a unit that restarted at the same node: open it afresh, once.
    if (silent && reused) {
        channel.closeChannel();
        if (!openChosenUnit())
            return false;
        channel.putCommand(command::kConnectionCheck);
        silent = channel.exchange(true);
    }
    if (silent) {
        const QString text = withUnfinished(kNoConnectionError);
        host.showError(text);
        end(SequenceEnd::DeviceNotAnswering, text);
        return false;
    }
    noteUnit();
    return true;
}

void Sequence::noteUnit()
{
    outcome.port = QString::fromStdString(unit.port);
    outcome.serial = QString::fromStdWString(unit.serialNumber);
    host.unitChosen(outcome.port, outcome.serial);
}

SequenceOutcome &Sequence::runSteps()
{
    const bool panel = target.restartsIntoBootloader;
    const bool follow = options.restarts.follow;

    if (!connect())
        return outcome;
    profile = target.profile;

    const ChosenFirmware firmware = host.chooseFirmware();
    outcome.file = firmware.file;
    if (outcome.file.isEmpty())
        return end(SequenceEnd::NoFileChosen, QString());
    // An image handed over was loaded and checked already; otherwise the programmer loads the
    // file once the target is in its bootloader.
    HexFile file;
    if (firmware.image)
        outcome.loaded = firmware.summary;
    else if (!(file = openHexFile(outcome.file))) {
        host.showError(kHexFileError);
        return end(SequenceEnd::FileRefused, kHexFileError);
    }

    std::unique_ptr<WaitSession> waitSession;
    if (options.inBootloader) {
        // Already there: nothing to enter, nothing to wait for.
    } else if (!enterBootloader()) {
        file.reset();
        channel.closeChannel();
        QString text = withUnfinished(kErrorPrefix + QString::fromLatin1(kBootloaderEntryError));
        // The command may have reached the target although its echo did not come back.
        if (follow)
            text += QLatin1Char('\n') + QString::fromLatin1(kMayBeInBootloaderText);
        return endWithMessage(SequenceEnd::DeviceNotAnswering, text);
    } else if (panel && follow) {
        switch (followRestart(host, phases, channel, unit, options.restarts)) {
        case FollowResult::Back:
            break;
        case FollowResult::NeverLeft:
            return endWithMessage(
                SequenceEnd::DeviceNotAnswering,
                withPort(kNeverLeftText, unit.port, options.restarts.departureTimeoutMs));
        case FollowResult::NeverBack:
            return endWithMessage(
                SequenceEnd::DeviceNotAnswering,
                withPort(kNotBackInBootloaderText, unit.port, options.restarts.returnTimeoutMs));
        }
    } else {
        waitSession = std::make_unique<WaitSession>(host, phases);
        wait(host, phases);
    }

    if (options.inBootloader && panel) {
        // The programmer starts the ControlPanel's bootloader itself.
    } else if (panel && !follow) {
        // Only the unit the update began with: another ControlPanel may have been plugged in
        // meanwhile, and hidapi would as soon take that one.
        const std::optional<AttachedUnit> back = unitAtPort(attachedUnits(), unit.port);
        if (!back || channel.openPath(back->path)) {
            channel.closeChannel();
            return endWithMessage(SequenceEnd::DeviceNotAnswering, kPanelNotBackText);
        }
    } else if (!panel) {
        channel.putCommand(command::kStart);
        if (channel.exchange(true)) {
            file.reset();
            waitSession.reset();
            channel.closeChannel();
            return endWithMessage(SequenceEnd::DeviceNotAnswering,
                                  kErrorPrefix + QString::fromLatin1(kBootloaderStartError));
        }
    }

    const UpdateResult result =
        firmware.image
            ? target.write(channel, profile, *firmware.image, phases)
            : programHexFile(target, channel, profile, file.get(), phases, &outcome.loaded);

    const UpdatePhase reached = phases.phase;
    if (panel)
        leavePanelBootloader(result.isEmpty());

    SequenceOutcome *ended = nullptr;
    if (result.isEmpty() && notBack.isEmpty()) {
        ended = &endWithMessage(SequenceEnd::Updated, target.successText);
    } else if (result.isEmpty()) {
        // The window keeps its word that the firmware was updated; the command line says why the
        // unit is not back.
        ended = &endWithMessage(SequenceEnd::NotBackInApplication,
                                follow ? notBack : QString::fromLatin1(target.successText));
    } else if (!panel && reached == UpdatePhase::LeavingBootloader) {
        // The control board was verified before its boot exit was sent.
        ended = &endWithMessage(SequenceEnd::NotBackInApplication,
                                follow ? withPort(kBoardExitNotConfirmedText, unit.port)
                                       : kErrorPrefix + result);
    } else {
        QString text = kErrorPrefix + result;
        // The control board stays in its bootloader after a failed walk: only an update that
        // expects it there can reach it.
        if (!panel && follow && reached >= UpdatePhase::Writing)
            text += QLatin1Char('\n') + QString::fromLatin1(kBoardLeftInBootloaderText);
        ended = &endWithMessage(programmerEnd(reached), text);
    }
    if (channel.isOpen())
        channel.closeChannel();
    return *ended;
}

bool Sequence::enterBootloader()
{
    phases.phaseBegins(UpdatePhase::EnteringBootloader, 0);
    channel.putCommand(target.entryCommand);
    // The target may or may not have started its bootloader; the user must know either way.
    if (channel.exchange(true))
        return false;
    // The ControlPanel leaves the bus to restart into its bootloader.
    if (target.restartsIntoBootloader)
        channel.closeChannel();
    return true;
}

void Sequence::leavePanelBootloader(bool verified)
{
    // Back to the application whatever the result: a half-written firmware is better reported
    // from a running ControlPanel than left in its bootloader.
    phases.phaseBegins(UpdatePhase::LeavingBootloader, 0);
    channel.putCommand(command::kPanelBootloaderExit);
    if (channel.exchange(true)) {
        notBack = withPort(kExitNotConfirmedText, unit.port);
        return;
    }
    // The node its bootloader was opened at goes as it restarts; the application's comes back.
    AttachedUnit bootloader = unit;
    bootloader.path = channel.path();
    channel.closeChannel();
    if (options.restarts.follow) {
        if (!backInApplication(bootloader) && !verified)
            notBack.clear(); // the failed write is what the user must hear of
        return;
    }
    phases.phaseBegins(UpdatePhase::WaitingForApplication, kFixedWaitSteps);
    wait(host, phases);
}

bool Sequence::backInApplication(const AttachedUnit &bootloader)
{
    switch (followRestart(host, phases, channel, bootloader, options.restarts)) {
    case FollowResult::Back:
        break;
    case FollowResult::NeverLeft:
        notBack =
            withPort(kNotLeftForApplicationText, unit.port, options.restarts.departureTimeoutMs);
        return false;
    case FollowResult::NeverBack:
        notBack = withPort(kNotBackText, unit.port, options.restarts.returnTimeoutMs);
        return false;
    }
    phases.phaseBegins(UpdatePhase::ConfirmingApplication, 0);
    channel.putCommand(command::kConnectionCheck);
    const bool silent = channel.exchange(true);
    channel.closeChannel();
    if (silent)
        notBack = withPort(kBackButSilentText, unit.port);
    return !silent;
}

SequenceEnd Sequence::programmerEnd(UpdatePhase reached) const
{
    // The entry command was sent before the loader refused the file.
    if (!outcome.loaded.loaded)
        return SequenceEnd::FileRefusedInBootloader;
    return reached >= UpdatePhase::Writing ? SequenceEnd::FailedWhileWriting
                                           : SequenceEnd::DeviceNotAnswering;
}

void Sequence::record()
{
    if (outcome.file.isEmpty())
        return;
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.frontEnd = host.frontEnd();
    entry.target = QString::fromLatin1(target.name);
    entry.file = outcome.file;
    entry.sha256 = QString::fromLatin1(outcome.loaded.sha256);
    entry.usedPages = outcome.loaded.usedPages;
    entry.seconds = outcome.seconds;
    entry.result = outcome.text;
    entry.port = outcome.port;
    entry.serial = outcome.serial;
    const QString why = appendHistory(entry);
    if (!why.isEmpty())
        host.historyNotWritten(why);
}

} // namespace

SequenceOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                  TargetProfile &profile, SequenceHost &host,
                                  const SequenceOptions &options)
{
    return Sequence(target, channel, profile, host, options).run();
}
