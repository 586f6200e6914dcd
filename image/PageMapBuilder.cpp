#include "PageMapBuilder.h"

std::uint32_t buildPageMap(const FirmwareImage &image, const TargetProfile &profile,
                           PageMap &pageMap)
{
    std::uint32_t usedPages = 0;
    const std::uint8_t *byte = image.data();
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        std::uint32_t count = 0;
        for (std::uint32_t i = 0; i < profile.pageSize; ++i) {
            count += byte[i] != 0xFF;
        }
        byte += profile.pageSize;
        pageMap[page] = count;
        usedPages += count != 0;
    }
    return usedPages;
}
