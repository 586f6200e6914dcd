#include "ControlBoardModel.h"

namespace sim {

namespace {

constexpr std::uint32_t kBoardPageSize = 128;

} // namespace

bool ControlBoardModel::receive(const std::uint8_t *payload, const Fault *corrupt,
                                std::deque<Reply> &out)
{
    if (state != BoardState::Bootloader)
        return false; // not started yet: the relayed report goes unanswered
    if (halvesExpected == 2) {
        std::memcpy(firstHalf.data(), payload, kPayload);
        if (corrupt)
            firstHalf[corrupt->byte] ^= corrupt->mask;
        halvesExpected = 1;
        out.push_back(Reply{}); // the first half's reply carries nothing
        return false;
    }
    if (halvesExpected == 1) {
        halvesExpected = 0;
        if (address % kBoardPageSize != 0 || address + kBoardPageSize > kBoardBootloaderStart) {
            out.push_back(refusalOf(payload));
            return false;
        }
        std::uint8_t *page = flash().data() + address;
        std::memcpy(page, firstHalf.data(), kPayload);
        std::memcpy(page + kPayload, payload, kPayload);
        if (corrupt)
            page[kPayload + corrupt->byte] ^= corrupt->mask;
        Reply done;
        done.bytes[0] = std::uint8_t(command::kBoardPageWritten.first);
        done.bytes[1] = std::uint8_t(command::kBoardPageWritten.second);
        out.push_back(done);
        return false;
    }
    if (isCommand(payload, command::kStart)) {
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kBoardAddress)) {
        address = bigEndian16(payload + 2);
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kBoardWritePage)) {
        halvesExpected = 2;
        out.push_back(echoOf(payload));
    } else if (isCommand(payload, command::kBoardReadPage)) {
        out.push_back(dataReply(flash(), address));
        out.push_back(dataReply(flash(), address + kPayload));
    } else if (isCommand(payload, command::kBoardBootloaderExit)) {
        state = BoardState::Application;
        out.push_back(echoOf(payload));
        return true;
    } else {
        out.push_back(refusalOf(payload));
    }
    return false;
}

} // namespace sim
