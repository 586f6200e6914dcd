#pragma once

#include "AttachedUnits.h"
#include "UnitLock.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <string>
#include <vector>

// A unit as a watch knows it: its port and serial number, and where it was found.
struct WatchedUnit
{
    QString port;
    QString serial;
    std::string path; // changes at every restart
};

// Something a watch met at one look, for its front end to tell once.
struct WatchNotice
{
    enum class Kind
    {
        Portless,         // a unit whose USB port cannot be found: left alone
        Held,             // another program updates the unit: waited for (`mark` says who)
        UpdatedElsewhere, // another program updated it with this image since the watch began
        SilentReturn,     // a unit whose update failed came back, but does not answer
    };
    Kind kind;
    QString port;
    std::optional<UnitMark> mark;
};

// Which attached ControlPanel to update next, one after another, as units are plugged in (at one
// port only, when chosen): a unit is updated once while it stays attached. A unit another program
// holds is waited for; one another program updated with this very image since the watch began is
// left alone; one whose update failed here is taken again only once it has left the bus (or
// another unit stands at its port) and comes back answering its connection check, which only its
// application answers: a unit that comes back in its bootloader is not a new unit.
class UnitWatch
{
public:
    // `imageSha256`: the image the watch's updates write. `program` and `target` name the lock a
    // returning unit's check is made under.
    UnitWatch(const QString &port, const QString &imageSha256, const QString &program,
              const QString &target);

    // One look at the bus: the unit to update now, if any, and what the look met (each said once
    // while it lasts).
    std::optional<WatchedUnit> next(std::vector<WatchNotice> &notices);

    // How the unit's update ended.
    void updated(const WatchedUnit &unit);
    void failed(const WatchedUnit &unit);
    // Another program took the unit between the look and the update: waited for, not counted.
    void heldByAnother(const WatchedUnit &unit, std::vector<WatchNotice> &notices);

private:
    struct Failure
    {
        WatchedUnit unit;
        bool away = false; // it has left the bus since it failed
    };
    enum class Answer
    {
        Answers,      // its application: it is taken
        Silent,       // perhaps its bootloader: left until it comes back again
        Busy,         // another program holds its lock
        NotConfirmed, // it could not be asked; its update says why
    };

    bool mayTake(const WatchedUnit &unit, std::vector<WatchNotice> &notices);
    void waitFor(const QString &port, const std::optional<UnitMark> &holder,
                 std::vector<WatchNotice> &notices);
    bool updatedElsewhere(const std::optional<UnitMark> &mark) const;
    void forgetFailure(const QString &port);
    Answer checkReturn(const WatchedUnit &unit) const;

    const QString port;
    const QString imageSha256;
    const QString program;
    const QString target;
    const QDateTime began = QDateTime::currentDateTimeUtc();
    std::vector<WatchedUnit> done;
    std::vector<Failure> failures;
    std::vector<QString> waitingAt; // ports of units another program holds, said once
    bool portlessSaid = false;
};
