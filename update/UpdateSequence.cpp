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
    void advanced(int done) override
    {
        if (phase == UpdatePhase::Writing)
            pagesWritten = done;
        next.advanced(done);
    }
    void walkEnded() override { next.walkEnded(); }
    bool stopRequested() const override { return next.stopRequested(); }

    UpdatePhase phase = UpdatePhase::Connecting;
    int pagesWritten = 0; // pages the target took, as the walk counted them

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
        if (entrySent && !backInApplication)
            lock.releaseUnfinished(); // the next program must know it may be in a bootloader
        else if (!entrySent)
            lock.releaseWithEarlierMark(); // an earlier update's mark still tells the truth
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
    // Whether the unit can be followed through the restarts ahead: a ControlPanel whose port is
    // unknown could not be told apart from another when it comes back. Returns false, with the
    // problem shown and the channel closed, when it cannot.
    bool followable();
    // The text, with what the user must know of an earlier update of the unit that did not
    // finish.
    QString withUnfinished(const QString &text) const;
    void noteUnit();
    // Opens the unit the options choose, unless a handle on it is held. Returns false, with the
    // problem shown and the channel closed, when none can be opened.
    bool openChosenUnit();
    // Sends the target's bootloader entry command; true when it was echoed.
    bool enterBootloader();
    // Where the ControlPanel is once it was sent back to its application.
    enum class PanelReturn
    {
        Confirmed,    // followed back to its port, and it answered there
        Assumed,      // its exit command was echoed, and the fixed wait is over
        NotConfirmed, // its exit command was not echoed
        NeverLeft,    // it did not leave the bus within the departure time-out
        NeverBack,    // it left, and did not come back within the return time-out
        Silent,       // it came back, and did not answer
    };
    // Sends the ControlPanel back to its application after its programmer returned.
    PanelReturn leavePanelBootloader(bool verified);
    // The ControlPanel, followed from its bootloader through its restart, is back at its port
    // and answers.
    PanelReturn followBack(const AttachedUnit &bootloader);
    // What the command line adds to a failed walk's message: where the ControlPanel is now.
    QString whereThePanelIs(PanelReturn where, bool nothingWritten) const;

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
    // The target was sent its entry command (or ran its bootloader already): from then on the
    // lock's mark stays unfinished unless the target is known to be back in its application.
    bool entrySent = false;
    bool backInApplication = false;
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
    unfinished = unfinishedUpdateText(port, lock.holder());
    return true;
}

bool Sequence::followable()
{
    if (!options.restarts.follow || !target.restartsIntoBootloader || !unit.port.empty())
        return true;
    const ConnectionProblem problem{
        ConnectionProblem::Kind::NoPanel,
        QString::fromLatin1(kPortUnknownText).arg(printable(QString::fromStdString(unit.path))),
        kPortUnknownAdvice, QString(), portsText(attachedUnits())};
    host.showConnectionError(problem);
    channel.closeChannel();
    end(SequenceEnd::NoControlPanel, problem.text);
    return false;
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
    if (!openChosenUnit() || !followable() || !lockUnit())
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
    entrySent = true;
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
        // meanwhile, and hidapi would as soon take that one. A unit whose port is unknown is
        // opened by its ids, as hidapi finds it.
        const std::optional<AttachedUnit> back = unitAtPort(attachedUnits(), unit.port);
        const bool failed =
            unit.port.empty() ? channel.openChannel() : (!back || channel.openPath(back->path));
        if (failed) {
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

    const WalkResult walk =
        firmware.image ? target.write(channel, profile, *firmware.image, phases)
                       : programFile(target, channel, profile, file.get(), phases, &outcome.loaded);
    const UpdateResult result = walkText(walk);

    const UpdatePhase reached = phases.phase;
    const bool nothingWritten = walk.pagesWritten == 0;
    // With --in-bootloader, a target whose bootloader took no page may run something else.
    const bool noBootloader = options.inBootloader && !walk.verified() && nothingWritten &&
                              walk.end != WalkEnd::FileRefused &&
                              walk.end != WalkEnd::InterruptedBeforeWriting;
    PanelReturn where = PanelReturn::Assumed;
    if (panel)
        where = leavePanelBootloader(result.isEmpty());
    // The board's bootloader left only when its exit was echoed: the programmer's last step.
    backInApplication = panel ? where == PanelReturn::Confirmed ||
                                    (where == PanelReturn::Assumed && result.isEmpty())
                              : result.isEmpty();

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
        if (follow && noBootloader)
            text += QLatin1Char('\n') +
                    withPort(panel ? kNoPanelBootloaderText : kNoBoardBootloaderText, unit.port);
        else if (follow && panel)
            text += whereThePanelIs(where, nothingWritten);
        // The control board stays in its bootloader after a failed walk: only an update that
        // expects it there can reach it.
        else if (follow && reached >= UpdatePhase::Writing)
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

Sequence::PanelReturn Sequence::leavePanelBootloader(bool verified)
{
    // Back to the application whatever the result: a half-written firmware is better reported
    // from a running ControlPanel than left in its bootloader.
    phases.phaseBegins(UpdatePhase::LeavingBootloader, 0);
    channel.putCommand(command::kPanelBootloaderExit);
    if (channel.exchange(true)) {
        notBack = withPort(kExitNotConfirmedText, unit.port);
        return PanelReturn::NotConfirmed;
    }
    // The node its bootloader was opened at goes as it restarts; the application's comes back.
    AttachedUnit bootloader = unit;
    bootloader.path = channel.path();
    channel.closeChannel();
    if (options.restarts.follow) {
        const PanelReturn where = followBack(bootloader);
        if (where != PanelReturn::Confirmed && !verified)
            notBack.clear(); // the failed write is what the user must hear of
        return where;
    }
    phases.phaseBegins(UpdatePhase::WaitingForApplication, kFixedWaitSteps);
    wait(host, phases);
    return PanelReturn::Assumed;
}

Sequence::PanelReturn Sequence::followBack(const AttachedUnit &bootloader)
{
    switch (followRestart(host, phases, channel, bootloader, options.restarts)) {
    case FollowResult::Back:
        break;
    case FollowResult::NeverLeft:
        notBack =
            withPort(kNotLeftForApplicationText, unit.port, options.restarts.departureTimeoutMs);
        return PanelReturn::NeverLeft;
    case FollowResult::NeverBack:
        notBack = withPort(kNotBackText, unit.port, options.restarts.returnTimeoutMs);
        return PanelReturn::NeverBack;
    }
    phases.phaseBegins(UpdatePhase::ConfirmingApplication, 0);
    channel.putCommand(command::kConnectionCheck);
    const bool silent = channel.exchange(true);
    channel.closeChannel();
    if (silent) {
        notBack = withPort(kBackButSilentText, unit.port);
        return PanelReturn::Silent;
    }
    return PanelReturn::Confirmed;
}

QString Sequence::whereThePanelIs(PanelReturn where, bool nothingWritten) const
{
    switch (where) {
    case PanelReturn::Confirmed:
        // Only an update stopped before its first page leaves the firmware as it was.
        return nothingWritten ? QLatin1Char('\n') + withPort(kPanelBackUnchangedText, unit.port)
                              : QString();
    case PanelReturn::NotConfirmed:
    case PanelReturn::Silent:
        return QLatin1Char('\n') + withPort(kPanelMayStayInBootloaderText, unit.port);
    case PanelReturn::NeverLeft:
        return QLatin1Char('\n') + withPort(kPanelStayedInBootloaderText, unit.port,
                                            options.restarts.departureTimeoutMs);
    case PanelReturn::NeverBack:
        return QLatin1Char('\n') +
               withPort(kPanelNotBackAfterFailureText, unit.port, options.restarts.returnTimeoutMs);
    case PanelReturn::Assumed:
        break;
    }
    return QString();
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
