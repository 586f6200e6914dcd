// Feeds arbitrary bytes through both loader variants with both target profiles. Aborts when a
// load writes outside its outputs, stores at or above the image limit, or accepts a file with a
// page map that disagrees with its image; ASan and UBSan catch the rest.

#include "HexLoader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kGuardSize = 64;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint32_t kUntouched = 0x5A5A5A5A;

struct Outputs
{
    std::uint8_t guardBefore[kGuardSize];
    FirmwareImage image;
    std::uint8_t guardBetween[kGuardSize];
    PageMap pageMap;
    std::uint8_t guardAfter[kGuardSize];
    std::uint32_t usedPages;
    std::uint8_t guardLast[kGuardSize];
};

Outputs outputs;

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_hexloader: %s\n", what);
        std::abort();
    }
}

bool guardIntact(const std::uint8_t (&guard)[kGuardSize])
{
    for (std::uint8_t byte : guard) {
        if (byte != kGuardByte) {
            return false;
        }
    }
    return true;
}

void loadAndCheck(const std::uint8_t *data, std::size_t size, const TargetProfile &profile,
                  HexVariant variant)
{
    std::memset(outputs.guardBefore, kGuardByte, kGuardSize);
    std::memset(outputs.guardBetween, kGuardByte, kGuardSize);
    std::memset(outputs.guardAfter, kGuardByte, kGuardSize);
    std::memset(outputs.guardLast, kGuardByte, kGuardSize);
    outputs.image.fill(0x00); // the loader must set every byte to 0xFF itself
    outputs.pageMap.fill(kUntouched);
    outputs.usedPages = kUntouched;

    std::FILE *file = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    require(file != nullptr, "fmemopen failed");
    const HexLoadResult result =
        loadHexImage(file, profile, variant, outputs.image, outputs.pageMap, outputs.usedPages);
    std::fclose(file);

    require(guardIntact(outputs.guardBefore) && guardIntact(outputs.guardBetween) &&
                guardIntact(outputs.guardAfter) && guardIntact(outputs.guardLast),
            "write outside the outputs");
    require(std::memchr(result.message, '\0', sizeof result.message) != nullptr,
            "message not terminated");
    for (std::uint32_t i = profile.imageLimit; i < kFirmwareImageSize; ++i) {
        require(outputs.image[i] == 0xFF, "image byte at or above the limit is not 0xFF");
    }
    if (!result.ok()) {
        return;
    }

    std::uint32_t used = 0;
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        std::uint32_t count = 0;
        for (std::uint32_t i = page * profile.pageSize; i < (page + 1) * profile.pageSize; ++i) {
            count += outputs.image[i] != 0xFF ? 1 : 0;
        }
        require(outputs.pageMap[page] == count, "page map entry disagrees with the image");
        used += count != 0 ? 1 : 0;
    }
    require(outputs.usedPages == used, "usedPages disagrees with the page map");
    for (std::uint32_t page = profile.pageCount; page < kPageMapEntries; ++page) {
        require(outputs.pageMap[page] == kUntouched, "page map entry past pageCount written");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0; // fmemopen takes no empty buffer; the unit tests load empty files
    }
    for (const TargetProfile *profile : {&kControlPanelProfile, &kControlBoardProfile}) {
        loadAndCheck(data, size, *profile, HexVariant::ControlPanel);
        loadAndCheck(data, size, *profile, HexVariant::ControlBoard);
    }
    return 0;
}
