#include "UnitWatch.h"

#include "CommandChannel.h"

#include <algorithm>

#include <unistd.h>

namespace {

bool attached(const std::vector<AttachedUnit> &units, const WatchedUnit &seen)
{
    return std::any_of(units.begin(), units.end(), [&seen](const AttachedUnit &unit) {
        return QString::fromStdString(unit.port) == seen.port &&
               QString::fromStdWString(unit.serialNumber) == seen.serial;
    });
}

} // namespace

UnitWatch::UnitWatch(const QString &port, const QString &imageSha256, const QString &program,
                     const QString &target)
    : port(port), imageSha256(imageSha256), program(program), target(target)
{
}

std::optional<WatchedUnit> UnitWatch::next(std::vector<WatchNotice> &notices)
{
    const std::vector<AttachedUnit> units = attachedUnits();
    // Units updated and since unplugged are forgotten.
    done.erase(std::remove_if(done.begin(), done.end(),
                              [&units](const WatchedUnit &seen) { return !attached(units, seen); }),
               done.end());
    for (Failure &failure : failures)
        failure.away = failure.away || !attached(units, failure.unit);
    for (const AttachedUnit &unit : units) {
        const WatchedUnit seen{QString::fromStdString(unit.port),
                               QString::fromStdWString(unit.serialNumber), unit.path};
        if (seen.port.isEmpty()) {
            // A port cannot name it, and two such units could not be told apart.
            if (!portlessSaid)
                notices.push_back({WatchNotice::Kind::Portless, QString(), std::nullopt});
            portlessSaid = true;
            continue;
        }
        const bool chosen = port.isEmpty() || port == seen.port;
        const bool updated = std::any_of(done.begin(), done.end(), [&seen](const WatchedUnit &d) {
            return d.port == seen.port && d.serial == seen.serial;
        });
        if (chosen && !updated && mayTake(seen, notices))
            return seen;
    }
    return std::nullopt;
}

void UnitWatch::updated(const WatchedUnit &unit)
{
    forgetFailure(unit.port);
    done.push_back(unit);
}

void UnitWatch::failed(const WatchedUnit &unit)
{
    forgetFailure(unit.port);
    failures.push_back({unit, false});
}

void UnitWatch::heldByAnother(const WatchedUnit &unit, std::vector<WatchNotice> &notices)
{
    waitFor(unit.port, UnitLock::look(unit.port).mark, notices);
}

bool UnitWatch::mayTake(const WatchedUnit &unit, std::vector<WatchNotice> &notices)
{
    const LockLook look = UnitLock::look(unit.port);
    if (look.held) {
        waitFor(unit.port, look.mark, notices);
        return false;
    }
    waitingAt.erase(std::remove(waitingAt.begin(), waitingAt.end(), unit.port), waitingAt.end());
    if (updatedElsewhere(look.mark)) {
        notices.push_back({WatchNotice::Kind::UpdatedElsewhere, unit.port, look.mark});
        done.push_back(unit);
        forgetFailure(unit.port);
        return false;
    }
    const auto failure = std::find_if(failures.begin(), failures.end(), [&unit](const Failure &f) {
        return f.unit.port == unit.port;
    });
    if (failure == failures.end())
        return true;
    if (!failure->away)
        return false;
    switch (checkReturn(unit)) {
    case Answer::Answers:
    case Answer::NotConfirmed:
        failures.erase(failure);
        return true;
    case Answer::Silent:
        // Said once: it is not asked again until it has left once more.
        *failure = Failure{unit, false};
        notices.push_back({WatchNotice::Kind::SilentReturn, unit.port, std::nullopt});
        return false;
    case Answer::Busy:
        break;
    }
    return false;
}

void UnitWatch::waitFor(const QString &held, const std::optional<UnitMark> &holder,
                        std::vector<WatchNotice> &notices)
{
    if (std::find(waitingAt.begin(), waitingAt.end(), held) != waitingAt.end())
        return;
    waitingAt.push_back(held);
    const std::optional<UnitMark> running =
        holder && !holder->finished ? holder : std::optional<UnitMark>();
    notices.push_back({WatchNotice::Kind::Held, held, running});
}

// Another program's update that wrote this very image and ended after the watch began.
bool UnitWatch::updatedElsewhere(const std::optional<UnitMark> &mark) const
{
    return mark && mark->finished && mark->updated && mark->process != qint64(::getpid()) &&
           mark->sha256 == imageSha256 && mark->ended.isValid() && mark->ended >= began;
}

void UnitWatch::forgetFailure(const QString &failedPort)
{
    failures.erase(
        std::remove_if(failures.begin(), failures.end(),
                       [&failedPort](const Failure &f) { return f.unit.port == failedPort; }),
        failures.end());
}

// Sends the unit the connection check, which only its application answers. Under the unit's
// lock: a report sent into another program's update would be taken as its page's data.
UnitWatch::Answer UnitWatch::checkReturn(const WatchedUnit &unit) const
{
    UnitLock lock;
    switch (lock.take(unit.port, program, target)) {
    case UnitLock::Outcome::Taken:
    case UnitLock::Outcome::NoPlace:
        break;
    case UnitLock::Outcome::HeldByAnother:
        return Answer::Busy;
    case UnitLock::Outcome::Unusable:
        return Answer::NotConfirmed;
    }
    CommandChannel channel;
    Answer answer = Answer::NotConfirmed;
    if (!channel.openPath(unit.path)) {
        channel.putCommand(command::kConnectionCheck);
        answer = channel.exchange(true) ? Answer::Silent : Answer::Answers;
    }
    channel.closeChannel();
    lock.releaseWithEarlierMark();
    return answer;
}
