#pragma once

// Conversations with the ControlPanel that are recorded against the simulated devices and then
// replayed, from the recording's umockdev script, against the real hidapi: the replay must reach
// the same outcome and the same traffic, byte for byte.
//
// To add one: write its function, list it in conversations() and add its name to
// ZEL_CONVERSATIONS in this folder's CMakeLists.txt (the recorder checks that both agree).

#include "CommandChannel.h"
#include "SimulatedDevices.h"

#include <string>
#include <vector>

// What happens to the devices outside the channel while a conversation runs. The recorder makes
// it happen to the simulated devices; a replay has nothing to do, since its script already holds
// the devices' answers.
class DeviceEvents
{
public:
    virtual ~DeviceEvents() = default;
    // The ControlPanel runs its bootloader from now on.
    virtual void panelEntersBootloader() = 0;
    // The control board runs its bootloader from now on, the ControlPanel relaying to it.
    virtual void boardEntersBootloader() = 0;
};

struct ScheduledFault
{
    sim::FaultTrigger trigger;
    sim::Fault fault;
};

struct Conversation
{
    const char *name;
    // Given to the simulated devices before recording.
    std::vector<ScheduledFault> faults;
    // Runs the conversation and returns its outcome: one line per step, "label: ok" or
    // "label: failed", then the reply in hex where the step read one.
    std::string (*run)(CommandChannel &channel, DeviceEvents &events);
    // The steps' labels and verdicts, without the replies, as the simulated devices must give
    // them; the recorder checks them so that it cannot record a conversation gone wrong.
    const char *verdicts;
    // The channel's reply time-out while recording and replaying; the script's late replies are
    // timed by it. Shorter than the device's for a conversation that waits out time-outs.
    int replyTimeoutMs = kReplyTimeoutMs;
};

const std::vector<Conversation> &conversations();
const Conversation *findConversation(const std::string &name);

// An outcome without its replies: each line cut after its verdict.
std::string verdictsOf(const std::string &outcome);
