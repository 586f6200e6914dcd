#pragma once

#include <cstdint>

// What one target's memory looks like to the loader and the programmers.
// The loader relies on imageLimit <= 262144, 0 < pageSize, pageCount <= 4096
// and pageCount * pageSize <= 262144; both profiles below keep to that.
struct TargetProfile
{
    std::uint32_t imageLimit; // bytes: no HEX record may reach beyond this address
    std::uint32_t pageCount;
    std::uint32_t pageSize; // bytes
};

// 1000 bytes short of 256 KiB: the top of the ControlPanel's flash holds its bootloader.
constexpr TargetProfile kControlPanelProfile{261144, 4096, 64};
// The control board's pages cover exactly the addresses below its limit.
constexpr TargetProfile kControlBoardProfile{32256, 252, 128};
