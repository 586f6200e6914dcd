#include "UpdateSequence.h"

#include "ConnectionAdvice.h"
#include "Elapsed.h"
#include "HexFile.h"
#include "OutcomeText.h"
#include "Printable.h"
#include "TargetProtocol.h"
#include "UnitLock.h"
#include "UnitOpening.h"
#include "UpdateHistory.h"
#include "UpdateRun.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

// What the programmers and the restarts announce, passed on to the front end's events and noted
// in the unit's lock file; the user's wish to stop is the host's.
class PhaseTracker : public UpdateProgress
{
public:
    PhaseTracker(SequenceHost &host, UnitLock &lock) : host(host), lock(lock) {}

    void phaseBegins(UpdatePhase begun, int total) override
    {
        lock.note(QString::fromLatin1(phaseName(begun)));
        host.events().phaseBegins(begun, total);
    }
    void advanced(int done) override { host.events().progressed(done); }
    void walkEnded() override { host.events().walkEnded(); }
    bool stopRequested() const override { return host.stopRequested(); }

private:
    SequenceHost &host;
    UnitLock &lock;
};

class Sequence
{
public:
    Sequence(const UpdateTarget &target, CommandChannel &channel, SequenceHost &host,
             const SequenceOptions &options)
        : target(target), channel(channel), host(host), options(options), policy(*options.restarts),
          tracker(host, lock), run(channel, host, tracker)
    {
        clock.start();
        outcome.targetName = target.name;
        outcome.followed = policy.followsUnit();
        outcome.inBootloaderAsked = options.inBootloader;
    }

    UpdateOutcome result()
    {
        steps();
        // The wait indicator, then the file, go with the update, after its last message.
        run.endWait();
        file.reset();
        lock.noteResult(QString::fromLatin1(outcome.loaded.sha256),
                        outcome.end == SequenceEnd::Updated);
        record();
        switch (outcome.unit) {
        case Whereabouts::Untouched:
            lock.releaseWithEarlierMark(); // an earlier update's mark still tells the truth
            break;
        case Whereabouts::MayBeInBootloader:
            lock.releaseUnfinished(); // the next program must know it may be in a bootloader
            break;
        case Whereabouts::BackInApplication:
            lock.release();
            break;
        }
        return outcome;
    }

private:
    void steps();
    // Opens the chosen unit, takes its lock and checks that it answers.
    bool connect();
    // The unit opened becomes the run's; none ends the update.
    bool take(const OpenedUnit &opened);
    bool lockUnit();
    bool checkConnection(bool reused);
    bool chooseFile();
    bool enter();
    bool awaitBootloader();
    void walkAndLeave();

    // The update ends here: the host words the end and its views hear of it.
    bool end(SequenceEnd how, FailedStep failed = FailedStep::None)
    {
        outcome.end = how;
        outcome.failed = failed;
        outcome.seconds = secondsSince(clock);
        outcome.text = host.endText(outcome);
        host.events().ended(outcome);
        return false;
    }
    void record();

    const UpdateTarget &target;
    CommandChannel &channel;
    SequenceHost &host;
    const SequenceOptions &options;
    const RestartPolicy &policy;
    UnitLock lock;
    PhaseTracker tracker;
    UpdateRun run;
    QElapsedTimer clock;
    UpdateOutcome outcome;
    ChosenFirmware firmware;
    HexFile file;
};

void Sequence::steps()
{
    if (!connect() || !chooseFile() || !enter() || !awaitBootloader())
        return;
    walkAndLeave();
}

bool Sequence::connect()
{
    tracker.phaseBegins(UpdatePhase::Connecting, 0);
    const bool reused = channel.isOpen();
    OpenedUnit opened = openChosenUnit(channel, options.unit);
    // A ControlPanel whose port is unknown could not be told apart from another when it comes
    // back from a restart it is followed through.
    if (opened.unit && target.restartsIntoBootloader && !policy.canFollow(*opened.unit)) {
        opened.problem = {ConnectionProblem::Kind::NoPanel,
                          QString::fromLatin1(kPortUnknownText)
                              .arg(printable(QString::fromStdString(opened.unit->path))),
                          kPortUnknownAdvice, QString(), portsText(attachedUnits())};
        opened.unit.reset();
    }
    return take(opened) && lockUnit() && checkConnection(reused);
}

bool Sequence::take(const OpenedUnit &opened)
{
    if (!opened.unit) {
        outcome.problem = opened.problem;
        end(SequenceEnd::NoControlPanel, FailedStep::Connection);
        channel.closeChannel();
        return false;
    }
    run.unit = *opened.unit;
    return true;
}

bool Sequence::lockUnit()
{
    const AttachedUnit &unit = run.unit;
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
        outcome.problem = ConnectionProblem{ConnectionProblem::Kind::Busy, kUnitBusyText,
                                            kUnitBusyAdvice, refusal, port};
        end(SequenceEnd::NoControlPanel, FailedStep::Connection);
        channel.closeChannel();
        return false;
    }
    // A mark left unfinished after the bootloader entry: that unit may still be in a bootloader.
    if (lock.holder() && lock.holder()->unfinishedPastEntry())
        outcome.unfinished = lock.holder();
    return true;
}

bool Sequence::checkConnection(bool reused)
{
    // Its bootloader would not answer the connection check; nothing is sent until it is started.
    bool silent = false;
    if (!options.inBootloader) {
        channel.putCommand(command::kConnectionCheck);
        silent = channel.exchange(true);
        // A held handle may belong to a unit that restarted at the same node: open it afresh,
        // once.
        if (silent && reused) {
            channel.closeChannel();
            if (!take(openChosenUnit(channel, options.unit)))
                return false;
            channel.putCommand(command::kConnectionCheck);
            silent = channel.exchange(true);
        }
    }
    if (silent)
        return end(SequenceEnd::DeviceNotAnswering, FailedStep::Connection);
    outcome.port = QString::fromStdString(run.unit.port);
    outcome.serial = QString::fromStdWString(run.unit.serialNumber);
    outcome.profile = target.profile;
    host.events().unitChosen({outcome.port, outcome.serial});
    return true;
}

bool Sequence::chooseFile()
{
    firmware = host.chooseFirmware();
    outcome.file = firmware.file;
    if (outcome.file.isEmpty())
        return end(SequenceEnd::NoFileChosen, FailedStep::File);
    // An image handed over was loaded and checked already; otherwise the programmer loads the
    // file once the target is in its bootloader.
    if (firmware.image)
        outcome.loaded = firmware.summary;
    else if (!(file = openHexFile(outcome.file)))
        return end(SequenceEnd::FileRefused, FailedStep::File);
    return true;
}

bool Sequence::enter()
{
    host.events().enteringBootloader();
    outcome.entered = true;
    outcome.unit = Whereabouts::MayBeInBootloader;
    // Already there: nothing to enter.
    if (options.inBootloader)
        return true;
    tracker.phaseBegins(UpdatePhase::EnteringBootloader, 0);
    // The target may or may not have started its bootloader; the user must know either way.
    if (target.protocol.enter(run))
        return true;
    file.reset();
    channel.closeChannel();
    return end(SequenceEnd::DeviceNotAnswering, FailedStep::Entry);
}

bool Sequence::awaitBootloader()
{
    const BootloaderWait wait = target.protocol.awaitBootloader(run, policy, options.inBootloader);
    if (wait.ready)
        return true;
    outcome.restart = wait.restart.end;
    outcome.timeoutMs = wait.restart.timeoutMs;
    outcome.startFailed = wait.startFailed;
    // A control board's bootloader that does not start takes the file, the wait and the channel
    // with it before its message; a ControlPanel that did not come back has closed its channel.
    if (wait.startFailed) {
        file.reset();
        run.endWait();
        channel.closeChannel();
    }
    return end(SequenceEnd::DeviceNotAnswering, FailedStep::Bootloader);
}

void Sequence::walkAndLeave()
{
    const WalkResult walk =
        firmware.image
            ? target.write(channel, target.profile, *firmware.image, tracker)
            : programFile(target, channel, target.profile, file.get(), tracker, &outcome.loaded);
    outcome.walk = walk;
    outcome.walked = true;
    const ReturnResult returned = target.protocol.leave(run, policy, walk);
    outcome.returned = returned.end;
    outcome.timeoutMs = returned.timeoutMs;
    const bool back = returned.end == Return::Confirmed ||
                      (returned.end == Return::Assumed && walk.end == WalkEnd::Verified);
    outcome.unit = back ? Whereabouts::BackInApplication : Whereabouts::MayBeInBootloader;
    end(endOfWalk(walk, returned.end),
        walk.end == WalkEnd::Verified ? FailedStep::None : FailedStep::Walk);
    if (channel.isOpen())
        channel.closeChannel();
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

QString SequenceHost::endText(const UpdateOutcome &outcome) const
{
    return outcomeText(outcome);
}

UpdateOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                SequenceHost &host, const SequenceOptions &options)
{
    return Sequence(target, channel, host, options).result();
}
