#pragma once

#include <cstdint>

// Decodes the hex digit pairs of an Intel HEX record without sscanf: one table look-up a digit.
namespace hexdigits {

constexpr std::uint8_t kNotADigit = 0x80;

struct Table
{
    std::uint8_t value[256];
};

constexpr Table makeTable()
{
    Table table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9') {
            table.value[c] = static_cast<std::uint8_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            table.value[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            table.value[c] = static_cast<std::uint8_t>(c - 'a' + 10);
        } else {
            table.value[c] = kNotADigit;
        }
    }
    return table;
}

inline constexpr Table kTable = makeTable();

// The byte written as the two digits at text, or a value above 0xFF if either is no hex digit.
// A blank, a sign, an 'x' and the line's terminating zero are all no hex digit, so a field that
// runs past the end of its line is caught here too.
inline unsigned decodeByte(const char *text)
{
    const unsigned high = kTable.value[static_cast<unsigned char>(text[0])];
    const unsigned low = kTable.value[static_cast<unsigned char>(text[1])];
    return (high << 4) | low | ((high | low) & kNotADigit) << 1;
}

} // namespace hexdigits
