#pragma once

#include "ConnectionProblem.h"
#include "ImageSummary.h"
#include "TargetProfile.h"
#include "UnitLock.h"
#include "WalkResult.h"

#include <QString>

#include <optional>

// How a sequence ended, as far as a script needs to know.
enum class SequenceEnd
{
    Updated,      // written and read back unchanged, and the target back in its application
    NoFileChosen, // the user chose no file; nothing was sent after the connection check
    FileRefused,  // the file could not be opened or loaded; nothing was sent
    FileRefusedInBootloader, // the loader refused the file once the target was in its
                             // bootloader: nothing was written, but a control board stays there
    NoControlPanel,       // none attached, none this user may open, more than one, or not the one
                          // chosen
    DeviceNotAnswering,   // the device did not answer, or its bootloader did not start, before
                          // anything was written
    FailedWhileWriting,   // writing had begun: the firmware may be incomplete
    NotBackInApplication, // written and verified, but the target did not confirm leaving its
                          // bootloader, or did not come back running its application
};

// The step of an update that ended it, when it did not run to its end.
enum class FailedStep
{
    None,
    Connection, // no unit could be used (`problem` says why), or it did not answer its check
    File,       // no file chosen, or it could not be opened
    Entry,      // the bootloader entry command was not echoed
    Bootloader, // the ControlPanel did not come back in its bootloader, or the control board's
                // bootloader did not start
    Walk,       // the programmer's walk ended early (`walk` says how)
};

// How a ControlPanel's restart went, once its command was echoed.
enum class RestartEnd
{
    Back,        // at its port again, and opened
    Waited,      // a fixed wait is over; nothing was looked at
    NeverLeft,   // still there when the departure time-out passed
    NeverBack,   // gone, and not back at its port within the return time-out
    NotReopened, // after a fixed wait, it could not be opened at its port
};

// Where the target went after its walk, sent back to its application.
enum class Return
{
    Confirmed,    // it answered there (the ControlPanel's check, or the board's boot exit echo)
    Assumed,      // the ControlPanel's exit command was echoed, and the fixed wait is over
    NotConfirmed, // the exit command was not echoed
    NeverLeft,    // it did not leave the bus within the departure time-out
    NeverBack,    // it left, and did not come back within the return time-out
    Silent,       // it came back, and did not answer
    InBootloader, // the control board's walk failed: it stays in its bootloader
};

// Where the unit was left, as far as the update knows.
enum class Whereabouts
{
    Untouched,         // nothing that restarts or programs it was sent
    BackInApplication, // known, or taken as, back in its application
    MayBeInBootloader, // a target may still run its bootloader
};

// Everything a front end needs to say how an update ended, what happened to the unit, and to
// make its exit code: one value, filled as the update goes.
struct UpdateOutcome
{
    SequenceEnd end = SequenceEnd::NoFileChosen;
    FailedStep failed = FailedStep::None;
    std::optional<ConnectionProblem> problem; // why no unit could be used
    RestartEnd restart = RestartEnd::Back;    // into the bootloader, when failed there
    bool startFailed = false; // the control board's bootloader was there, but not its start echo
    WalkResult walk;          // once the walk ran
    bool walked = false;
    Return returned = Return::Confirmed; // once the walk ran
    int timeoutMs = 0;                   // the time-out that passed, for NeverLeft and NeverBack
    bool entered = false;                // the entry command was sent, or the target ran its
                                         // bootloader already
    bool inBootloaderAsked = false;      // the update was told the target runs its bootloader
    bool followed = false; // the unit was followed through its restarts, so where it went is
                           // known; with fixed waits it is not looked at
    Whereabouts unit = Whereabouts::Untouched;
    // An earlier update of the unit that ended after its entry without finishing, as its lock's
    // mark found it.
    std::optional<UnitMark> unfinished;
    std::optional<UnitLock::Outcome> lock; // how its lock was taken, once the unit was found

    QString file;                         // the file chosen, if any
    ImageSummary loaded;                  // the file as the programmer loaded it
    std::optional<TargetProfile> profile; // the target's, once its connection check passed
    QString port;                         // the unit's USB port, once one was opened
    QString serial;                       // and its serial number
    const char *targetName = nullptr;     // "panel" or "board"
    double seconds = 0;                   // from the click to the result
    QString text; // what the user was shown of the end, as the front end worded it
};

// How an update whose walk ran ended: by the walk, and where the target went afterwards.
SequenceEnd endOfWalk(const WalkResult &walk, Return returned);
