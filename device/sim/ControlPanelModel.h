#pragma once

// The ControlPanel: its application, its bootloader, its restarts between the two, and the relay
// that hands every report to its control board's bootloader.

#include "Reply.h"
#include "SimulatedDevices.h"

#include <chrono>
#include <deque>

namespace sim {

class ControlBoardModel;

// How long the devices take to change state; set for all of them at once.
struct DeviceTiming
{
    std::chrono::milliseconds restartTime{0};
    std::chrono::milliseconds boardEntryTime{0};
};

class ControlPanelModel
{
public:
    using Clock = std::chrono::steady_clock;

    // Both must outlive the panel.
    ControlPanelModel(const DeviceTiming &timing, ControlBoardModel &board);
    ControlPanelModel(const ControlPanelModel &) = delete;
    ControlPanelModel &operator=(const ControlPanelModel &) = delete;

    // Catches up with the clock: a restart that has ended, a board bootloader that has started.
    void refresh();
    // Answers one report into `out`; `corrupt`, when set, alters the data the report stores.
    void receive(const std::uint8_t *payload, const Fault *corrupt, std::deque<Reply> &out);
    // Puts the panel into `state` at once, as freshly started there.
    void setState(PanelState state);
    // Relays to its board, already in its bootloader, as the board-entry command leaves them.
    void relayToBoardBootloader();
    // Where the unit would be after losing its host now.
    UnitState lastingState() const;

    PanelFlash &flash() { return *flashInUse; }
    // Keeps the flash in `memory` from now on, as it is; null returns to the panel's own.
    void useFlash(PanelFlash *memory) { flashInUse = memory ? memory : &ownFlash; }

    PanelState state = PanelState::Application;
    unsigned generation = 0; // counts its power cycles
    PanelAccess access = PanelAccess::Open;
    RestartQuirk quirk = RestartQuirk::Normal;
    int quirkFromRestart = 0;  // the restart command (from 0) the quirk starts with
    std::deque<Reply> replies; // on their way to the host, oldest first

private:
    void restart(PanelState into);
    void bootloaderReceives(const std::uint8_t *payload, const Fault *corrupt,
                            std::deque<Reply> &out);

    PanelFlash ownFlash;
    PanelFlash *flashInUse = &ownFlash;
    const DeviceTiming *timing;
    ControlBoardModel *board;
    int restartsTaken = 0;
    bool silent = false; // came back from a restart answering nothing
    PanelState stateAfterRestart = PanelState::Application;
    Clock::time_point restartEnds{};
    bool programming = false; // the start command seen in this bootloader run
    bool expectingData = false;
    std::uint32_t dataOffset = 0;
    bool relaying = false; // every report goes on to the control board
    Clock::time_point boardReadyAt{};
};

} // namespace sim
