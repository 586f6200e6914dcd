#include "FullHexImage.h"

#include "../tests/support/HexRecord.h"

void writeFullHexImage(std::FILE *file, std::uint32_t limit, bool linearRecords,
                       const char *lineEnd)
{
    auto put = [file, lineEnd](const std::string &record) {
        std::fputs(record.c_str(), file);
        std::fputs(lineEnd, file);
    };
    for (std::uint32_t address = 0; address < limit; address += 16) {
        if (linearRecords && address % 0x10000 == 0) {
            const std::uint8_t value[] = {std::uint8_t(address >> 24), std::uint8_t(address >> 16)};
            put(hexRecord(4, 0, value, 2));
        }
        const unsigned count = limit - address < 16 ? limit - address : 16;
        std::uint8_t data[16];
        for (unsigned k = 0; k < count; ++k) {
            const std::uint32_t at = address + k;
            data[k] = std::uint8_t((at ^ (at >> 8) * 7 ^ (at >> 16) * 13) & 0xFF);
        }
        put(hexRecord(0, std::uint16_t(address & 0xFFFF), data, count));
    }
    put(hexRecord(1, 0, nullptr, 0));
}
