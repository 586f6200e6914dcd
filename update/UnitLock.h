#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// What the lock file of a unit's port says: which program updates the unit, since when, and what
// it is doing. A program that died leaves it behind unfinished, which is how a later run learns
// that the unit may be left in its bootloader. A finished mark also tells what was written and
// how it ended, so that a batch that finds a unit updated with its image since it began leaves it
// alone.
struct UnitMark
{
    QString program;
    qint64 process = 0;
    QString target;
    QDateTime started;
    QString phase;
    bool finished = false;
    QString sha256;       // of the image written; empty when none was chosen
    bool updated = false; // written, verified and back in its application
    QDateTime ended;      // when it finished; invalid while it runs

    // The update it tells of got past its bootloader entry and did not finish: its unit may still
    // run a bootloader. A mark left before the entry (connecting) tells nothing of the unit.
    bool unfinishedPastEntry() const;
};

// What a look at a port's lock file found, without taking the lock.
struct LockLook
{
    std::optional<UnitMark> mark; // none when there is no file, or its mark cannot be read
    bool held = false;            // a program holds the lock now
    QString problem; // set when the path exists but cannot be used as a lock: what and what to do
};

// One program per unit: an advisory lock named after the unit's USB port, in /run/lock (where
// every user can take one) or else $XDG_RUNTIME_DIR, taken before anything is sent and held to
// the end of the update, through the unit's restarts. The lock is the kernel's (flock), released
// when its holder ends however it ends, so a lock file left by a program that died never blocks.
// ZELUPDATE_LOCK_DIR names another folder (tests, unusual systems).
//
// Any local user can put something at the lock path first. Only a regular file with a single
// name is used; it is opened without blocking and never followed through a link, and only a file
// this program just created has its mode changed (to let the next user's program write its
// mark). Anything else is refused as Unusable, never silently left unlocked.
//
// The holder keeps the lock for the whole update, so it rewrites the mark in place: the whole
// mark, padded to a fixed size and ended by a checksum line, in one write at offset 0. A reader
// that finds the checksum wrong looks again for a moment, and otherwise takes the mark as
// unreadable.
class UnitLock
{
public:
    UnitLock() = default;
    ~UnitLock();
    UnitLock(const UnitLock &) = delete;
    UnitLock &operator=(const UnitLock &) = delete;

    enum class Outcome
    {
        Taken,
        HeldByAnother, // `holder` says by whom
        Unusable,      // the path exists but cannot be used as a lock: `problem` says what and
                       // what to remove
        NoPlace,       // no folder takes lock files: the update goes on unprotected
    };

    // Takes the lock of the port and marks it as this program's, for the target. A lock held
    // for a moment (another program's look at it) is waited for, a little.
    Outcome take(const QString &port, const QString &program, const QString &target);
    // The lock file's content before this program took it (an earlier update that did not
    // finish leaves one unfinished), or while another holds it (empty when its holder has not
    // said who it is).
    const std::optional<UnitMark> &holder() const { return found; }
    // After Unusable: the path, what stands there and what to remove, on one line.
    QString problem() const { return unusable; }
    // Notes what the update is doing now.
    void note(const QString &phase);
    // Notes what the update wrote (the image's SHA-256) and whether the unit was updated; the
    // mark keeps both when the lock is released.
    void noteResult(const QString &sha256, bool updated);
    // The update ended, in whatever way: the mark says so and the lock is released.
    void release();
    // The update ended, and its unit may be left in a bootloader: the mark stays unfinished, at
    // the phase last noted, and the lock is released.
    void releaseUnfinished();
    // The update ended without writing the unit: the mark found when the lock was taken is put
    // back as it was (an unfinished one still tells the next program of the unit's bootloader),
    // and the lock is released.
    void releaseWithEarlierMark();

    // The lock file's path for the port; empty when no folder takes lock files.
    static QString pathFor(const QString &port);
    // Reads the port's mark without taking its lock; `held` tells whether a program holds it.
    static std::optional<UnitMark> read(const QString &port, bool &held);
    // The same, with what keeps the path from being used as a lock.
    static LockLook look(const QString &port);

private:
    void write();
    void close();

    int fd = -1;
    UnitMark mark;
    std::optional<UnitMark> found;
    QString unusable;
};
