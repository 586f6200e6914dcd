#pragma once

#include "FirmwareImage.h"
#include "HexLoader.h"
#include "TargetProfile.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

// Addresses [begin, end) covered by consecutive used pages.
struct AddressRange
{
    std::uint32_t begin;
    std::uint32_t end;
};

// What a loaded HEX file amounts to on its target: enough to tell one firmware from another in a
// log, and to warn about a file that may be cut short.
struct ImageSummary
{
    bool loaded = false; // false: the file was refused or never read; nothing below holds
    std::uint32_t usedPages = 0;
    std::uint32_t pageCount = 0;
    std::uint32_t pageSize = 0;
    std::uint64_t dataBytes = 0; // bytes of the target's pages other than 0xFF
    QByteArray sha256;           // lower-case hex, over all of the target's pages
    std::vector<AddressRange> ranges;
    unsigned long lines = 0;
    bool endOfFileRecord = false;
};

ImageSummary summarizeImage(const FirmwareImage &image, const PageMap &pageMap,
                            std::uint32_t usedPages, const TargetProfile &profile,
                            const HexLoadResult &load);
