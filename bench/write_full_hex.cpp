// Writes a full ControlPanel image as Intel HEX text (every byte below its image limit set,
// extended linear address records, CR LF line ends) into the named file, for the scripts that
// time whole processes on it.

#include "FullHexImage.h"
#include "TargetProfile.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_full_hex FILE\n");
        return 2;
    }
    std::FILE *file = std::fopen(argv[1], "w");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    writeFullHexImage(file, kControlPanelProfile.imageLimit, true, "\r\n");
    return std::fclose(file) == 0 ? 0 : 1;
}
