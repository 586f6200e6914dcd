#include "ControlPanelModel.h"

#include "ControlBoardModel.h"

#include <algorithm>

namespace sim {

namespace {

// Pages from here on hold the ControlPanel's bootloader; its page command refuses them.
constexpr std::uint32_t kPanelBootloaderStart = 0x3FC40;

} // namespace

ControlPanelModel::ControlPanelModel(const DeviceTiming &timing, ControlBoardModel &board)
    : timing(&timing), board(&board)
{
    ownFlash.fill(0xFF);
}

void ControlPanelModel::refresh()
{
    if (state == PanelState::Restarting && Clock::now() >= restartEnds) {
        state = stateAfterRestart;
        programming = false;
        expectingData = false;
    }
    if (relaying && board->state == BoardState::Application && Clock::now() >= boardReadyAt)
        board->state = BoardState::Bootloader;
}

void ControlPanelModel::setState(PanelState newState)
{
    state = newState;
    silent = false;
    programming = false;
    expectingData = false;
}

void ControlPanelModel::relayToBoardBootloader()
{
    relaying = true;
    boardReadyAt = Clock::now();
    board->state = BoardState::Bootloader;
}

UnitState ControlPanelModel::lastingState() const
{
    if (relaying)
        return UnitState::BoardBootloader;
    const PanelState running = state == PanelState::Restarting ? stateAfterRestart : state;
    return running == PanelState::Bootloader ? UnitState::PanelBootloader : UnitState::Application;
}

void ControlPanelModel::restart(PanelState into)
{
    const bool quirky = restartsTaken++ >= quirkFromRestart;
    switch (quirky ? quirk : RestartQuirk::Normal) {
    case RestartQuirk::StaysOnBus:
        return;
    case RestartQuirk::NeverReturns:
        restartEnds = Clock::time_point::max();
        break;
    case RestartQuirk::ReturnsSilent:
        silent = true;
        restartEnds = Clock::now() + timing->restartTime;
        break;
    case RestartQuirk::Normal:
        restartEnds = Clock::now() + timing->restartTime;
        break;
    }
    state = PanelState::Restarting;
    stateAfterRestart = into;
    ++generation;
    relaying = false;
}

void ControlPanelModel::receive(const std::uint8_t *payload, const Fault *corrupt,
                                std::deque<Reply> &out)
{
    if (silent)
        return; // it takes the report and answers nothing
    if (relaying) {
        if (board->receive(payload, corrupt, out))
            relaying = false;
        return;
    }
    if (state != PanelState::Application) {
        bootloaderReceives(payload, corrupt, out);
        return;
    }
    if (isCommand(payload, command::kConnectionCheck)) {
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kPanelBootloaderEntry)) {
        out.push_back(echoOf(payload));
        restart(PanelState::Bootloader);
    } else if (isCommand(payload, command::kBoardBootloaderEntry)) {
        out.push_back(echoOf(payload));
        relaying = true;
        boardReadyAt = Clock::now() + timing->boardEntryTime;
    } else {
        out.push_back(refusalOf(payload));
    }
}

void ControlPanelModel::bootloaderReceives(const std::uint8_t *payload, const Fault *corrupt,
                                           std::deque<Reply> &out)
{
    // A data packet has no letters: after a page command, the next report is the page's data
    // whatever its first bytes are.
    if (expectingData) {
        expectingData = false;
        std::memcpy(flash().data() + dataOffset, payload, kPayload);
        if (corrupt)
            flash()[dataOffset + corrupt->byte] ^= corrupt->mask;
        out.push_back(echoOf(payload));
        return;
    }
    const std::uint32_t offset = bigEndian32(payload + 2);
    // Its table has no connection check: 'E','e' is refused as any command outside it, which is
    // how a program tells a bootloader from the application.
    if (isCommand(payload, command::kStart)) {
        programming = true;
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kPanelRow)) {
        if (!programming || offset % kPanelRowSize != 0 ||
            offset + kPanelRowSize > kPanelBootloaderStart) {
            out.push_back(refusalOf(payload));
            return;
        }
        std::fill_n(flash().begin() + offset, kPanelRowSize, 0xFF);
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kPanelPage)) {
        if (!programming || offset % kPayload != 0 || offset + kPayload > kPanelBootloaderStart) {
            out.push_back(refusalOf(payload));
            return;
        }
        expectingData = true;
        dataOffset = offset;
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kPanelRead)) {
        out.push_back(dataReply(flash(), offset));
    } else if (isCommand(payload, command::kPanelBootloaderExit)) {
        out.push_back(echoOf(payload));
        restart(PanelState::Application);
    } else {
        out.push_back(refusalOf(payload));
    }
}

} // namespace sim
