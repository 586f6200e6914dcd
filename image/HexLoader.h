#pragma once

#include "FirmwareImage.h"
#include "HexLineReader.h"
#include "TargetProfile.h"

#include <cstdint>
#include <cstdio>

enum class HexVariant
{
    ControlPanel, // honours extended segment (02) and extended linear (04) address records
    ControlBoard, // data (00) and end-of-file (01) records only
};

// The loader's verdict: an empty message on success, otherwise the one message that says why the
// file was refused. A fixed buffer, so that loading never allocates.
struct HexLoadResult
{
    char message[80] = {};
    bool ok() const { return message[0] == '\0'; }
    // Lines read, and whether they ended with an end-of-file record: a file without one may
    // have been cut short.
    unsigned long lines = 0;
    bool endOfFileRecord = false;
};

// Where the loader takes its lines from: readHexLine, unless a benchmark times another reader.
using HexLineReadFunction = HexLineStatus (*)(std::FILE *file, char (&buffer)[kHexLineBufferSize]);

// Reads the Intel HEX text from the stream's current position and fills image, pageMap and
// usedPages. The stream is neither opened nor closed here. The outputs are complete only when the
// result is ok(). Allocates nothing; needs no Qt.
HexLoadResult loadHexImage(std::FILE *file, const TargetProfile &profile, HexVariant variant,
                           FirmwareImage &image, PageMap &pageMap, std::uint32_t &usedPages,
                           HexLineReadFunction readLine = readHexLine);
