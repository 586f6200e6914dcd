#pragma once

#include <array>
#include <cstdint>

constexpr std::uint32_t kFirmwareImageSize = 0x40000; // 256 KiB
constexpr std::uint32_t kPageMapEntries = 4096;

// Indexed by target address; 0xFF wherever the HEX file sets nothing.
using FirmwareImage = std::array<std::uint8_t, kFirmwareImageSize>;

// Entry p counts the bytes of page p that differ from 0xFF; a non-zero entry marks a used page.
// Only entries below the profile's pageCount are meaningful.
using PageMap = std::array<std::uint32_t, kPageMapEntries>;
