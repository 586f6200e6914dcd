// Feeds arbitrary bytes through the loader as the program calls it: the ControlPanel variant with
// the ControlPanel profile, the ControlBoard variant with the ControlBoard profile. Aborts when a
// load writes outside its outputs, leaves a byte at or above the image limit other than 0xFF, or
// accepts a file with a page map that disagrees with its image; ASan and UBSan catch the rest.
// The ControlPanel load runs twice, from a stream that reads as much of the input as its buffer
// holds and from one that reads it in small blocks, and aborts when the two disagree.
//
// Every check reads all the bytes it covers, but word-wide: byte loops under the sanitizers cost
// far more than the load itself.

#include "HexLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kGuardSize = 64;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint32_t kUntouched = 0x5A5A5A5A;
// Small blocks from 1 to one more than a line and its CR LF, chosen by the input's length so that
// across a run block boundaries fall at every position of a line.
constexpr std::size_t kLargestSmallBlock = 83;
// As much as the stream asks for: a buffer's worth.
constexpr std::size_t kWholeBuffer = SIZE_MAX;

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

// Each target keeps its own outputs, so that what one load leaves behind is exactly what the next
// load of the same target starts from.
struct Target
{
    const TargetProfile &profile;
    HexVariant variant;
    Outputs outputs;
};

Target panel{kControlPanelProfile, HexVariant::ControlPanel, {}};
Target panelInBlocks{kControlPanelProfile, HexVariant::ControlPanel, {}};
Target board{kControlBoardProfile, HexVariant::ControlBoard, {}};

std::uint8_t guardBlock[kGuardSize];
PageMap untouchedMap;

// The input as a stream. One stream serves the whole run: opening one for each input cost more
// under ASan than a load that fails early. rewind() starts every load afresh.
struct Source
{
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    std::size_t blockSize = 0; // characters a read at most
};

Source source;
std::FILE *stream = nullptr;

ssize_t readSource(void *, char *buffer, std::size_t size)
{
    const std::size_t count = std::min({size, source.blockSize, source.size - source.position});
    std::memcpy(buffer, source.data + source.position, count);
    source.position += count;
    return static_cast<ssize_t>(count);
}

int seekSource(void *, off64_t *offset, int whence)
{
    if (whence != SEEK_SET || *offset != 0) {
        return -1; // rewind() is the only caller
    }
    source.position = 0;
    return 0;
}

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_hexloader: %s\n", what);
        std::abort();
    }
}

bool guardsIntact(const Outputs &outputs)
{
    return std::memcmp(outputs.guardBefore, guardBlock, kGuardSize) == 0 &&
           std::memcmp(outputs.guardBetween, guardBlock, kGuardSize) == 0 &&
           std::memcmp(outputs.guardAfter, guardBlock, kGuardSize) == 0 &&
           std::memcmp(outputs.guardLast, guardBlock, kGuardSize) == 0;
}

// The image from the limit up. True when all of it is 0xFF; clears it to 0x00 on the way, so that
// the next load of this target must set it again. One pass over the bytes instead of a clear and a
// compare. Uninstrumented, like the recount below: both touch only the image, whose bounds are
// fixed, and under the sanitizers they cost more than the load.
__attribute__((no_sanitize("address", "undefined"))) bool
aboveLimitErasedThenCleared(FirmwareImage &image, std::uint32_t limit)
{
    std::uint8_t *const first = image.data() + limit;
    const std::uint32_t size = kFirmwareImageSize - limit;
    std::uint64_t allOnes = ~std::uint64_t{0};
    std::uint32_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, first + i, 8);
        allOnes &= word;
        std::memset(first + i, 0x00, 8);
    }
    for (; i < size; ++i) {
        allOnes &= first[i] | ~std::uint64_t{0xFF};
        first[i] = 0x00;
    }
    return allOnes == ~std::uint64_t{0};
}

// The page map counted again, independently of the loader's pass: a page whose words all hold
// ones is erased, and only the others are counted, eight bytes at a time (a byte is 0xFF exactly
// when the same byte of the word's complement is zero). Returns the number of used pages.
__attribute__((no_sanitize("address", "undefined"))) std::uint32_t
recountPages(const FirmwareImage &image, const TargetProfile &profile, PageMap &counts)
{
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint32_t words = profile.pageSize / 8;
    std::uint32_t usedPages = 0;
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        const std::uint8_t *first = image.data() + page * profile.pageSize;
        std::uint64_t allOnes = ~std::uint64_t{0};
        for (std::uint32_t w = 0; w < words; ++w) {
            std::uint64_t word;
            std::memcpy(&word, first + 8 * w, 8);
            allOnes &= word;
        }
        std::uint32_t count = 0;
        if (allOnes != ~std::uint64_t{0}) {
            for (std::uint32_t w = 0; w < words; ++w) {
                std::uint64_t word;
                std::memcpy(&word, first + 8 * w, 8);
                word = ~word;
                // The top bit of each non-zero byte, and no other bit.
                const std::uint64_t nonZero = (((word & kLow7) + kLow7) | word) & ~kLow7;
                count += static_cast<std::uint32_t>(__builtin_popcountll(nonZero));
            }
        }
        for (std::uint32_t i = words * 8; i < profile.pageSize; ++i) {
            count += first[i] != 0xFF ? 1 : 0;
        }
        counts[page] = count;
        usedPages += count != 0 ? 1 : 0;
    }
    return usedPages;
}

void prepare(Target &target)
{
    Outputs &outputs = target.outputs;
    std::memcpy(outputs.guardBefore, guardBlock, kGuardSize);
    std::memcpy(outputs.guardBetween, guardBlock, kGuardSize);
    std::memcpy(outputs.guardAfter, guardBlock, kGuardSize);
    std::memcpy(outputs.guardLast, guardBlock, kGuardSize);
    // The loader must set every byte of the image to 0xFF itself. Bytes below the limit are not
    // cleared: any content there agrees with some page map, so clearing would prove nothing.
    const std::uint32_t limit = target.profile.imageLimit;
    std::memset(outputs.image.data() + limit, 0x00, kFirmwareImageSize - limit);
    outputs.pageMap = untouchedMap;
}

HexLoadResult loadAndCheck(Target &target, std::size_t blockSize)
{
    const TargetProfile &profile = target.profile;
    Outputs &outputs = target.outputs;
    // The guards, the image above the limit and the page map past pageCount are checked after
    // every load and so still hold what prepare() put there; the rest is set afresh.
    std::memcpy(outputs.pageMap.data(), untouchedMap.data(),
                profile.pageCount * sizeof(std::uint32_t));
    outputs.usedPages = kUntouched;

    source.blockSize = blockSize;
    std::rewind(stream);
    const HexLoadResult result = loadHexImage(stream, profile, target.variant, outputs.image,
                                              outputs.pageMap, outputs.usedPages);

    require(guardsIntact(outputs), "write outside the outputs");
    require(std::memchr(result.message, '\0', sizeof result.message) != nullptr,
            "message not terminated");
    require(std::memcmp(outputs.pageMap.data() + profile.pageCount,
                        untouchedMap.data() + profile.pageCount,
                        (kPageMapEntries - profile.pageCount) * sizeof(std::uint32_t)) == 0,
            "page map entry past pageCount written");
    if (result.ok()) {
        static PageMap counts;
        const std::uint32_t used = recountPages(outputs.image, profile, counts);
        require(std::memcmp(outputs.pageMap.data(), counts.data(),
                            profile.pageCount * sizeof(std::uint32_t)) == 0,
                "page map entry disagrees with the image");
        require(outputs.usedPages == used, "usedPages disagrees with the page map");
    }
    // Last, because it clears what the recount may still read.
    require(aboveLimitErasedThenCleared(outputs.image, profile.imageLimit),
            "image byte at or above the limit is not 0xFF");
    return result;
}

// Whatever the blocks, the same lines: the same verdict after the same number of lines and, when
// the file loads, the same image below the limit (each page map was already held to its image).
void requireSameLoad(const Target &oneBlock, const HexLoadResult &oneBlockResult,
                     const Target &blocks, const HexLoadResult &blocksResult)
{
    require(std::strcmp(oneBlockResult.message, blocksResult.message) == 0 &&
                oneBlockResult.lines == blocksResult.lines &&
                oneBlockResult.endOfFileRecord == blocksResult.endOfFileRecord,
            "the result depends on the stream's block size");
    if (oneBlockResult.ok()) {
        require(std::memcmp(oneBlock.outputs.image.data(), blocks.outputs.image.data(),
                            oneBlock.profile.imageLimit) == 0 &&
                    oneBlock.outputs.usedPages == blocks.outputs.usedPages,
                "the image depends on the stream's block size");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::memset(guardBlock, kGuardByte, kGuardSize);
    untouchedMap.fill(kUntouched);
    prepare(panel);
    prepare(panelInBlocks);
    prepare(board);
    stream = fopencookie(&source, "r", {readSource, nullptr, seekSource, nullptr});
    require(stream != nullptr, "fopencookie failed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    source.data = data;
    source.size = size;
    const std::size_t smallBlock = 1 + size % kLargestSmallBlock;
    const HexLoadResult oneBlockResult = loadAndCheck(panel, kWholeBuffer);
    const HexLoadResult blocksResult = loadAndCheck(panelInBlocks, smallBlock);
    requireSameLoad(panel, oneBlockResult, panelInBlocks, blocksResult);
    loadAndCheck(board, smallBlock);
    return 0;
}
