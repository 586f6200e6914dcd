#include "ControlPanelProgrammer.h"

#include "PageWalk.h"

#include <cstring>

namespace {

// The ControlPanel's bootloader erases flash a row of four pages at a time.
constexpr std::uint32_t kPagesPerRow = 4;

void putOffsetCommand(CommandChannel &channel, CommandLetters letters, std::uint32_t offset)
{
    channel.putCommand(letters);
    channel.command[2] = static_cast<std::uint8_t>(offset >> 24);
    channel.command[3] = static_cast<std::uint8_t>(offset >> 16);
    channel.command[4] = static_cast<std::uint8_t>(offset >> 8);
    channel.command[5] = static_cast<std::uint8_t>(offset);
}

} // namespace

WalkResult writeControlPanel(CommandChannel &channel, const TargetProfile &profile,
                             const LoadedImage &loaded, UpdateProgress &progress)
{
    const FirmwareImage &image = loaded.image;
    const PageMap &pageMap = loaded.pageMap;
    const std::uint32_t chunks = profile.pageSize / kPayloadSize;

    channel.putCommand(command::kStart);
    if (channel.exchange(true))
        return WalkResult{WalkEnd::NotStarted};

    WalkProgress walk(progress, loaded.usedPages);
    if (progress.stopRequested())
        return walk.interrupted();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        if (pageMap[page] == 0)
            continue;
        const std::uint32_t offset = page * profile.pageSize;
        if (page % kPagesPerRow == 0) {
            putOffsetCommand(channel, command::kPanelRow, offset);
            // The bootloader may refuse a row it need not prepare; the page's own write and
            // its read-back decide whether the page is right.
            (void)channel.exchange(true);
        }
        putOffsetCommand(channel, command::kPanelPage, offset);
        bool failed = channel.exchange(true);
        for (std::uint32_t chunk = 0; chunk < chunks && !failed; ++chunk) {
            std::memcpy(channel.command, image.data() + offset + chunk * kPayloadSize,
                        kPayloadSize);
            failed = channel.exchange(true);
        }
        if (failed)
            return walk.ended(WalkEnd::WriteFailed);
        if (walk.pageDone())
            return walk.interrupted();
    }

    walk.startVerifying();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        if (pageMap[page] == 0)
            continue;
        for (std::uint32_t chunk = 0; chunk < chunks; ++chunk) {
            const std::uint32_t offset = page * profile.pageSize + chunk * kPayloadSize;
            putOffsetCommand(channel, command::kPanelRead, offset);
            if (channel.exchange(false))
                return walk.ended(WalkEnd::VerifyFailed);
            if (const std::optional<Mismatch> mismatch = compareReply(channel, image, offset))
                return walk.mismatched(*mismatch);
        }
        if (walk.pageDone())
            return walk.interrupted();
    }
    return walk.ended(WalkEnd::Verified);
}
