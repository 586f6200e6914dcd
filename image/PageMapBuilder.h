#pragma once

#include "FirmwareImage.h"
#include "TargetProfile.h"

#include <cstdint>

// Sets pageMap's first profile.pageCount entries to the number of bytes in each page that differ
// from 0xFF and returns how many of those entries are non-zero. Later entries stay as they are.
std::uint32_t buildPageMap(const FirmwareImage &image, const TargetProfile &profile,
                           PageMap &pageMap);
