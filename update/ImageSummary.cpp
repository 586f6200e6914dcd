#include "ImageSummary.h"

#include <QCryptographicHash>

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
    summary.sha256 =
        QCryptographicHash::hash(
            QByteArray::fromRawData(reinterpret_cast<const char *>(image.data()), covered),
            QCryptographicHash::Sha256)
            .toHex();
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
