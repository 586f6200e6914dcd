#include "PageWalk.h"

#include <cstdio>

std::unique_ptr<LoadedImage> loadImage(std::FILE *file, const TargetProfile &profile,
                                       HexVariant variant, UpdateResult &error,
                                       ImageSummary *summary)
{
    auto loaded = std::make_unique<LoadedImage>();
    const HexLoadResult result =
        loadHexImage(file, profile, variant, loaded->image, loaded->pageMap, loaded->usedPages);
    if (result.ok()) {
        if (summary)
            *summary =
                summarizeImage(loaded->image, loaded->pageMap, loaded->usedPages, profile, result);
        return loaded;
    }
    error = QString::fromLatin1(result.message);
    return nullptr;
}

std::optional<Mismatch> compareReply(const CommandChannel &channel, const FirmwareImage &image,
                                     std::uint32_t offset)
{
    for (std::uint32_t k = 0; k < kReplySize; ++k) {
        const std::uint8_t expected = image[offset + k];
        const std::uint8_t actual = channel.reply[k];
        if (actual != expected)
            return Mismatch{offset + k, actual, expected};
    }
    return std::nullopt;
}
