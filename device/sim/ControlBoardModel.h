#pragma once

// The ZEL02 control board's bootloader, as its ControlPanel relays reports to it.

#include "Reply.h"
#include "SimulatedDevices.h"

#include <deque>

namespace sim {

class ControlBoardModel
{
public:
    ControlBoardModel() { flash.fill(0xFF); }

    // Answers one relayed report into `out`; `corrupt`, when set, alters the page it stores.
    // Returns true when the report ended the bootloader: its ControlPanel answers for itself
    // again from then on.
    bool receive(const std::uint8_t *payload, const Fault *corrupt, std::deque<Reply> &out);

    BoardState state = BoardState::Application;
    BoardFlash flash;

private:
    std::uint32_t address = 0;
    int halvesExpected = 0;
    std::array<std::uint8_t, kPayload> firstHalf{};
};

} // namespace sim
