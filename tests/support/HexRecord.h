#pragma once

// The one Intel HEX record writer of the tests and the benchmarks. Plain C++, so that a file
// generator that knows nothing of Qt can use it too.

#include <cstddef>
#include <cstdint>
#include <string>

// One record as text without its line end: ':', then in upper-case hex digits the byte count, the
// 16-bit address, the record type, the data and the checksum, which brings the sum of all the
// record's bytes to zero modulo 256.
inline std::string hexRecord(int type, std::uint16_t address, const std::uint8_t *data,
                             std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string line(1, ':');
    line.reserve(11 + 2 * count);
    unsigned sum = 0;
    auto put = [&line, &sum](unsigned byte) {
        line += digits[(byte >> 4) & 0xF];
        line += digits[byte & 0xF];
        sum += byte;
    };
    put(unsigned(count) & 0xFF);
    put(unsigned(address) >> 8);
    put(unsigned(address) & 0xFF);
    put(unsigned(type) & 0xFF);
    for (std::size_t i = 0; i < count; ++i)
        put(data[i]);
    put((0x100 - (sum & 0xFF)) & 0xFF);
    return line;
}
