#include "ImageSummary.h"

#include <nettle/sha2.h>

ImageSummary summarizeImage(const FirmwareImage &image, const PageMap &pageMap,
                            std::uint32_t usedPages, const TargetProfile &profile,
                            const HexLoadResult &load)
{
    ImageSummary summary;
    summary.loaded = true;
    summary.usedPages = usedPages;
    summary.pageCount = profile.pageCount;
    summary.pageSize = profile.pageSize;
    summary.lines = load.lines;
    summary.endOfFileRecord = load.endOfFileRecord;
    const int covered = int(profile.pageCount * profile.pageSize);
    // Nettle uses the processor's SHA instructions where it has them: a full ControlPanel image
    // hashes in a sixth of the time QCryptographicHash takes, which was half of `check`'s work.
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, std::size_t(covered), image.data());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    summary.sha256 = QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        summary.dataBytes += pageMap[page];
        if (pageMap[page] == 0)
            continue;
        const std::uint32_t begin = page * profile.pageSize;
        if (!summary.ranges.empty() && summary.ranges.back().end == begin)
            summary.ranges.back().end += profile.pageSize;
        else
            summary.ranges.push_back({begin, begin + profile.pageSize});
    }
    return summary;
}
