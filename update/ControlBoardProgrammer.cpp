#include "ControlBoardProgrammer.h"

#include "PageWalk.h"

#include <cstring>

namespace {

void putAddress(CommandChannel &channel, std::uint32_t offset)
{
    channel.putCommand(command::kBoardAddress);
    channel.command[2] = static_cast<std::uint8_t>(offset >> 8);
    channel.command[3] = static_cast<std::uint8_t>(offset);
}

void putHalf(CommandChannel &channel, const FirmwareImage &image, std::uint32_t offset)
{
    std::memcpy(channel.command, image.data() + offset, kPayloadSize);
}

// The control board acknowledges a written page after its second half, with the same two bytes
// that acknowledged the write-page command.
bool pageAcknowledged(const CommandChannel &channel)
{
    return channel.reply[0] == command::kBoardPageWritten.first &&
           channel.reply[1] == command::kBoardPageWritten.second;
}

} // namespace

WalkResult writeControlBoard(CommandChannel &channel, const TargetProfile &profile,
                             const LoadedImage &loaded, UpdateProgress &progress)
{
    const FirmwareImage &image = loaded.image;
    const PageMap &pageMap = loaded.pageMap;

    WalkProgress walk(progress, loaded.usedPages);
    if (progress.stopRequested())
        return walk.interrupted();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        if (pageMap[page] == 0)
            continue;
        const std::uint32_t offset = page * profile.pageSize;
        putAddress(channel, offset);
        if (channel.exchange(true))
            return walk.ended(WalkEnd::WriteFailed);
        // The write-page command needs no address: bytes 2 and 3 still hold it.
        channel.putCommand(command::kBoardWritePage);
        if (channel.exchange(true))
            return walk.ended(WalkEnd::WriteFailed);
        putHalf(channel, image, offset);
        if (channel.exchange(false))
            return walk.ended(WalkEnd::WriteFailed);
        putHalf(channel, image, offset + kPayloadSize);
        if (channel.exchange(false) || !pageAcknowledged(channel))
            return walk.ended(WalkEnd::WriteFailed);
        if (walk.pageDone())
            return walk.interrupted();
    }

    walk.startVerifying();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        if (pageMap[page] == 0)
            continue;
        const std::uint32_t offset = page * profile.pageSize;
        putAddress(channel, offset);
        if (channel.exchange(true))
            return walk.ended(WalkEnd::VerifyFailed);
        // The read-page command is answered by two reports; the second is read even when the
        // first failed, so that it cannot answer a later command.
        channel.putCommand(command::kBoardReadPage);
        const bool firstFailed = channel.exchange(false);
        if (!firstFailed) {
            if (const std::optional<Mismatch> mismatch = compareReply(channel, image, offset))
                return walk.mismatched(*mismatch);
        }
        if (channel.readReply() || firstFailed)
            return walk.ended(WalkEnd::VerifyFailed);
        if (const std::optional<Mismatch> mismatch =
                compareReply(channel, image, offset + kPayloadSize))
            return walk.mismatched(*mismatch);
        if (walk.pageDone())
            return walk.interrupted();
    }

    walk.startLeaving();
    channel.putCommand(command::kBoardBootloaderExit);
    if (channel.exchange(true))
        return walk.ended(WalkEnd::BootExitFailed);
    return walk.ended(WalkEnd::Verified);
}
