#include "FullHexImage.h"

void writeFullHexImage(std::FILE *file, std::uint32_t limit, bool linearRecords,
                       const char *lineEnd)
{
    for (std::uint32_t address = 0; address < limit; address += 16) {
        if (linearRecords && address % 0x10000 == 0) {
            const unsigned value = address >> 16;
            std::fprintf(file, ":02000004%04X%02X%s", value, (0x100 - 6 - value) & 0xFF, lineEnd);
        }
        const unsigned count = limit - address < 16 ? limit - address : 16;
        const unsigned offset = address & 0xFFFF;
        unsigned sum = count + (offset >> 8) + (offset & 0xFF);
        std::fprintf(file, ":%02X%04X00", count, offset);
        for (unsigned k = 0; k < count; ++k) {
            const std::uint32_t at = address + k;
            const unsigned byte = (at ^ (at >> 8) * 7 ^ (at >> 16) * 13) & 0xFF;
            sum += byte;
            std::fprintf(file, "%02X", byte);
        }
        std::fprintf(file, "%02X%s", (0x100 - sum % 0x100) & 0xFF, lineEnd);
    }
    std::fprintf(file, ":00000001FF%s", lineEnd);
}
