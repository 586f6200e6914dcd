// Loads one example HEX file as its target's programmer would and compares the image with a flat
// binary of the same file (objcopy's, from address 0), which the image must equal up to the
// binary's end and exceed only with erased bytes.
//
// Usage: check_example controlpanel|controlboard FILE.hex REFERENCE.bin

#include "HexLoader.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Outputs
{
    FirmwareImage image;
    PageMap pageMap;
    std::uint32_t usedPages = 0;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s controlpanel|controlboard FILE.hex REFERENCE.bin\n",
                     argv[0]);
        return 2;
    }
    const bool panel = std::strcmp(argv[1], "controlpanel") == 0;
    if (!panel && std::strcmp(argv[1], "controlboard") != 0) {
        std::fprintf(stderr, "%s: unknown target %s\n", argv[0], argv[1]);
        return 2;
    }
    const TargetProfile &profile = panel ? kControlPanelProfile : kControlBoardProfile;
    const HexVariant variant = panel ? HexVariant::ControlPanel : HexVariant::ControlBoard;

    // Too big for the stack.
    const auto loaded = std::make_unique<Outputs>();
    std::FILE *hex = std::fopen(argv[2], "rb");
    if (!hex) {
        std::perror(argv[2]);
        return 1;
    }
    const HexLoadResult result =
        loadHexImage(hex, profile, variant, loaded->image, loaded->pageMap, loaded->usedPages);
    std::fclose(hex);
    if (!result.ok()) {
        std::fprintf(stderr, "%s: refused: %s\n", argv[2], result.message);
        return 1;
    }

    const auto reference = std::make_unique<FirmwareImage>();
    reference->fill(0xFF);
    std::FILE *flat = std::fopen(argv[3], "rb");
    if (!flat) {
        std::perror(argv[3]);
        return 1;
    }
    const std::size_t length = std::fread(reference->data(), 1, reference->size(), flat);
    const bool longer = std::fgetc(flat) != EOF;
    std::fclose(flat);
    if (longer || length > profile.imageLimit) {
        std::fprintf(stderr, "%s: reaches beyond the %s limit of %lu bytes\n", argv[3], argv[1],
                     static_cast<unsigned long>(profile.imageLimit));
        return 1;
    }

    for (std::size_t address = 0; address < reference->size(); ++address) {
        if (loaded->image[address] != (*reference)[address]) {
            std::fprintf(stderr, "%s: byte 0x%05zX is 0x%02X, objcopy says 0x%02X\n", argv[2],
                         address, loaded->image[address], (*reference)[address]);
            return 1;
        }
    }
    std::printf("%s: %zu bytes as objcopy reads them, %lu of %lu pages used\n", argv[2], length,
                static_cast<unsigned long>(loaded->usedPages),
                static_cast<unsigned long>(profile.pageCount));
    return loaded->usedPages == 0 ? 1 : 0;
}
