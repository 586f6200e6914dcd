#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// What the lock file of a unit's port says: which program updates the unit, since when, and what
// it is doing. A program that died leaves it behind unfinished, which is how a later run learns
// that the unit may be left in its bootloader.
struct UnitMark
{
    QString program;
    qint64 process = 0;
    QString target;
    QDateTime started;
    QString phase;
    bool finished = false;

    // The update it tells of got past its bootloader entry and did not finish: its unit may still
    // run a bootloader. A mark left before the entry (connecting) tells nothing of the unit.
    bool unfinishedPastEntry() const;
};

// One program per unit: an advisory lock named after the unit's USB port, in /run/lock (where
// every user can take one) or else $XDG_RUNTIME_DIR, taken before anything is sent and held to
// the end of the update, through the unit's restarts. The lock is the kernel's (flock), released
// when its holder ends however it ends, so a lock file left by a program that died never blocks.
// ZELUPDATE_LOCK_DIR names another folder (tests, unusual systems).
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
        NoPlace,       // no folder takes lock files: the update goes on unprotected
    };

    // Takes the lock of the port and marks it as this program's, for the target.
    Outcome take(const QString &port, const QString &program, const QString &target);
    // The lock file's content before this program took it (an earlier update that did not
    // finish leaves one unfinished), or while another holds it (empty when its holder has not
    // said who it is).
    const std::optional<UnitMark> &holder() const { return found; }
    // Notes what the update is doing now.
    void note(const QString &phase);
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
    // Reads the port's mark without taking its lock; `held` tells whether its program still runs
    // an update.
    static std::optional<UnitMark> read(const QString &port, bool &held);

private:
    void write();

    int fd = -1;
    UnitMark mark;
    std::optional<UnitMark> found;
};
