#pragma once

#include "HexLoader.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

// A valid Intel HEX file made from a generator start value, with the image it describes. Records
// hold 1 to 32 bytes placed contiguously, with gaps, across page boundaries and near the limit;
// some hold 0xFF. ControlPanel files switch between segment (02) and linear (04) address records;
// either variant may hold start address records (03, 05). Lines end in LF, CR LF or a mix, and some
// files are lower case. Records never cross a 64 KiB offset boundary, where tools differ.
struct RandomHexFile
{
    QByteArray text;
    std::unique_ptr<FirmwareImage> image; // what the records set, 0xFF elsewhere
    bool overlapping = false;             // a record rewrote bytes of an earlier one
    std::uint32_t lowest = 0;             // lowest address of a data record
    std::uint32_t end = 0;                // one past the highest data byte
    int dataRecords = 0;
    int addressRecords = 0;
    bool lowerCase = false;
    bool crLf = false;
};

RandomHexFile makeRandomHexFile(std::uint32_t start, HexVariant variant,
                                const TargetProfile &profile);
