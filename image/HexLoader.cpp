#include "HexLoader.h"

#include "HexDigits.h"
#include "PageMapBuilder.h"

#include <cstdarg>

// Each line is judged in this order, and the first check that fails ends the load:
//  1. the line can be read and holds at most 80 characters;
//  2. it begins with ':';
//  3. byte count, address and record type are hex digits (the limit test needs all three);
//  4. the record ends no higher than the image limit, whatever its type;
//  5. by type: the digits that type uses (data and checksum, or value and checksum) are present
//     and hex, then the checksum. End-of-file and skipped records need no more than step 3.

namespace {

constexpr unsigned kTypeData = 0x00;
constexpr unsigned kTypeEndOfFile = 0x01;
constexpr unsigned kTypeExtendedSegment = 0x02;
constexpr unsigned kTypeExtendedLinear = 0x04;

// Character positions within a record.
constexpr int kCountPos = 1;
constexpr int kAddressPos = 3;
constexpr int kTypePos = 7;
constexpr int kDataPos = 9;
constexpr int kValuePos = 9;
constexpr int kValueChecksumPos = 13;

__attribute__((format(printf, 2, 3))) void fail(HexLoadResult &result, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(result.message, sizeof result.message, format, args);
    va_end(args);
}

unsigned expectedChecksum(unsigned sum)
{
    return (256 - sum % 256) % 256;
}

} // namespace

HexLoadResult loadHexImage(std::FILE *file, const TargetProfile &profile, HexVariant variant,
                           FirmwareImage &image, PageMap &pageMap, std::uint32_t &usedPages,
                           HexLineReadFunction readLine)
{
    HexLoadResult result;
    image.fill(0xFF);
    std::uint32_t addressBase = 0;
    unsigned long lineNumber = 0;
    // A line's terminating zero ends every field that runs past it: digit pairs start at odd
    // positions, so no read goes beyond the pair at 79 and 80. Zeroed so that the character
    // after a terminator is defined too.
    char line[kHexLineBufferSize] = {};
    const bool extendedAddresses = variant == HexVariant::ControlPanel;

    for (;;) {
        const HexLineStatus status = readLine(file, line);
        if (status == HexLineStatus::EndOfFile) {
            break;
        }
        if (status == HexLineStatus::ReadError) {
            fail(result, "Error reading hex file after line %lu", lineNumber);
            return result;
        }
        ++lineNumber;
        result.lines = lineNumber;
        if (status == HexLineStatus::TooLong) {
            fail(result, "Error line %lu. Line too long", lineNumber);
            return result;
        }
        if (line[0] != ':') {
            fail(result, "Error line %lu. Expected a leading ':'", lineNumber);
            return result;
        }

        const unsigned count = hexdigits::decodeByte(line + kCountPos);
        const unsigned addressHigh = hexdigits::decodeByte(line + kAddressPos);
        const unsigned addressLow = hexdigits::decodeByte(line + kAddressPos + 2);
        const unsigned type = hexdigits::decodeByte(line + kTypePos);
        if ((count | addressHigh | addressLow | type) > 0xFF) {
            fail(result, "Error line %lu. Malformed record", lineNumber);
            return result;
        }
        const std::uint32_t address = addressHigh << 8 | addressLow;

        // 64-bit: a linear base of 0xFFFF0000 plus address and count must not wrap.
        const std::uint64_t end = std::uint64_t{addressBase} + address + count;
        if (end > profile.imageLimit) {
            fail(result, "Memory address limit of %lu bytes exceeded",
                 static_cast<unsigned long>(profile.imageLimit));
            return result;
        }

        unsigned sum = count + addressHigh + addressLow + type;
        unsigned checksum = 0;
        if (type == kTypeData) {
            std::uint8_t *target = image.data() + addressBase + address;
            const char *digits = line + kDataPos;
            for (unsigned k = 0; k < count; ++k, digits += 2) {
                const unsigned byte = hexdigits::decodeByte(digits);
                if (byte > 0xFF) {
                    fail(result, "Error line %lu. Malformed record", lineNumber);
                    return result;
                }
                target[k] = static_cast<std::uint8_t>(byte);
                sum += byte;
            }
            checksum = hexdigits::decodeByte(digits);
        } else if (type == kTypeEndOfFile) {
            result.endOfFileRecord = true;
            break;
        } else if (extendedAddresses &&
                   (type == kTypeExtendedSegment || type == kTypeExtendedLinear)) {
            const unsigned valueHigh = hexdigits::decodeByte(line + kValuePos);
            const unsigned valueLow = hexdigits::decodeByte(line + kValuePos + 2);
            checksum = hexdigits::decodeByte(line + kValueChecksumPos);
            if ((valueHigh | valueLow | checksum) > 0xFF) {
                fail(result, "Error line %lu. Malformed record", lineNumber);
                return result;
            }
            sum += valueHigh + valueLow;
            const std::uint32_t value = valueHigh << 8 | valueLow;
            addressBase = type == kTypeExtendedSegment ? value << 4 : value << 16;
        } else {
            continue; // a record this variant does not use; its checksum is not tested
        }

        if (checksum > 0xFF) {
            fail(result, "Error line %lu. Malformed record", lineNumber);
            return result;
        }
        if (checksum != expectedChecksum(sum)) {
            fail(result, "Checksum Error line %lu. Sum:%2X Check:%2X", lineNumber,
                 expectedChecksum(sum), checksum);
            return result;
        }
    }

    usedPages = buildPageMap(image, profile, pageMap);
    return result;
}
