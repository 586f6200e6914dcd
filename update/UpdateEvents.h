#pragma once

#include "UpdateProgress.h"

#include <QString>

#include <vector>

struct UpdateOutcome;

// The unit an update took: its USB port (empty when unknown) and serial number.
struct UnitIdentity
{
    QString port;
    QString serial;
};

// What an update announces as it goes, in order: the unit it took, each phase and its progress,
// the moment from which the unit may be left in a bootloader, and how it ended. The window's
// dialogs, the terminal's progress, the JSON Lines writer and the lock's mark hear it here; each
// takes what it shows and leaves the rest.
class UpdateEvents
{
public:
    virtual ~UpdateEvents() = default;

    virtual void unitChosen(const UnitIdentity &unit) { (void)unit; }
    // A phase begins; `total` is what progressed() counts up to (pages, wait steps), 0 when it
    // has no measure.
    virtual void phaseBegins(UpdatePhase phase, int total)
    {
        (void)phase;
        (void)total;
    }
    virtual void progressed(int done) { (void)done; }
    // A page walk is over, however it ended.
    virtual void walkEnded() {}
    // The target is about to be sent its bootloader entry command, or, already in its bootloader,
    // its first command: from here on an interruption could leave it there.
    virtual void enteringBootloader() {}
    // The update ended; nothing more is announced.
    virtual void ended(const UpdateOutcome &outcome) { (void)outcome; }
};

// Passes every announcement on to each subscriber, in the order they were added.
class EventFanOut : public UpdateEvents
{
public:
    void add(UpdateEvents &subscriber) { subscribers.push_back(&subscriber); }

    void unitChosen(const UnitIdentity &unit) override;
    void phaseBegins(UpdatePhase phase, int total) override;
    void progressed(int done) override;
    void walkEnded() override;
    void enteringBootloader() override;
    void ended(const UpdateOutcome &outcome) override;

private:
    std::vector<UpdateEvents *> subscribers;
};
