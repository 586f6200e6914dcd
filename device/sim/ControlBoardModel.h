#pragma once

// The ZEL02 control board's bootloader, as its ControlPanel relays reports to it.

#include "Reply.h"
#include "SimulatedDevices.h"

#include <deque>

namespace sim {

class ControlBoardModel
{
public:
    ControlBoardModel() { ownFlash.fill(0xFF); }
    ControlBoardModel(const ControlBoardModel &) = delete;
    ControlBoardModel &operator=(const ControlBoardModel &) = delete;

    // Answers one relayed report into `out`; `corrupt`, when set, alters the page it stores.
    // Returns true when the report ended the bootloader: its ControlPanel answers for itself
    // again from then on.
    bool receive(const std::uint8_t *payload, const Fault *corrupt, std::deque<Reply> &out);

    BoardFlash &flash() { return *flashInUse; }
    // Keeps the flash in `memory` from now on, as it is; null returns to the board's own.
    void useFlash(BoardFlash *memory) { flashInUse = memory ? memory : &ownFlash; }

    BoardState state = BoardState::Application;

private:
    BoardFlash ownFlash;
    BoardFlash *flashInUse = &ownFlash;
    std::uint32_t address = 0;
    int halvesExpected = 0;
    std::array<std::uint8_t, kPayload> firstHalf{};
};

} // namespace sim
