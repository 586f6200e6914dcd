#include "HexLineReader.h"

#include "HexDigits.h"

#include <algorithm>
#include <cstring>

// Only standard C and POSIX calls, so any C library will do. Taking one character at a time is
// the only portable way to stop exactly at a line's end (fgets cannot stop at a lone CR, and a
// stream takes back only one character), but it costs a round trip through the stream's fields
// for every character. So the reader takes in one fread what a record declares it holds: the
// colon, byte count, address and type, then a data record's digits, checksum and the character
// after them. A line that ends inside what the record declares is one that no load accepts, so
// whatever such a read took beyond its end belongs to a load that fails at this very line.

namespace {

constexpr std::size_t kMaxLength = kHexMaxLineLength;
// The colon, the byte count, the address and the record type.
constexpr std::size_t kHeaderLength = 9;
constexpr std::size_t kCountPos = 1;
constexpr std::size_t kAddressPos = 3;
constexpr std::size_t kTypePos = 7;
constexpr unsigned kTypeData = 0x00;

// The first LF or CR among size characters, or null.
char *findLineEnd(char *begin, std::size_t size)
{
    auto *lf = static_cast<char *>(std::memchr(begin, '\n', size));
    const std::size_t beforeLf = lf ? static_cast<std::size_t>(lf - begin) : size;
    auto *cr = static_cast<char *>(std::memchr(begin, '\r', beforeLf));
    return cr ? cr : lf;
}

// True when the characters read are a data record's header: the colon, then the byte count, the
// address and the type 00 in hex digits. Such a header holds no line end.
bool isDataHeader(const char *header, std::size_t length, unsigned &count)
{
    if (length != kHeaderLength || header[0] != ':') {
        return false;
    }
    count = hexdigits::decodeByte(header + kCountPos);
    const unsigned address = hexdigits::decodeByte(header + kAddressPos) |
                             hexdigits::decodeByte(header + kAddressPos + 2);
    return (count | address) <= 0xFF && hexdigits::decodeByte(header + kTypePos) == kTypeData;
}

// After a lone CR the next character stays in the stream; after a CR LF the LF goes with it.
void takeLfAfterCr(std::FILE *file)
{
    const int next = getc_unlocked(file);
    // Taking back the character just read needs no allocation.
    if (next != '\n' && next != EOF) {
        std::ungetc(next, file);
    }
}

// Ends the line at end, a line end among the characters just read, which stop before last. A CR
// that was the last of them may be the first half of a CR LF.
HexLineStatus endLineAt(std::FILE *file, char *end, const char *last)
{
    if (*end == '\r' && end + 1 == last) {
        takeLfAfterCr(file);
    }
    *end = '\0';
    return HexLineStatus::Line;
}

// Reads one line with the stream already locked (fread takes the lock again, as its thread may).
HexLineStatus readLocked(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    buffer[0] = '\0';
    // A failure while looking for the LF after a CR surfaces here, at the next line, as it would
    // have after an LF; reading on would try the stream again and could hide it.
    if (std::ferror(file)) {
        return HexLineStatus::ReadError;
    }
    std::size_t length = std::fread(buffer, 1, kHeaderLength, file);
    unsigned count = 0;
    if (isDataHeader(buffer, length, count)) {
        // The digits, the checksum and one more: the line's end, when the record is whole.
        const std::size_t wanted = std::min<std::size_t>(2 * count + 3, kMaxLength - length);
        const std::size_t read = std::fread(buffer + length, 1, wanted, file);
        if (char *end = findLineEnd(buffer + length, read)) {
            return endLineAt(file, end, buffer + length + read);
        }
        length += read;
        if (read < wanted && std::ferror(file)) {
            buffer[length] = '\0';
            return HexLineStatus::ReadError;
        }
    } else {
        if (char *end = findLineEnd(buffer, length)) {
            return endLineAt(file, end, buffer + length);
        }
        // A short read that met no line end met the end of the stream or a failure; only the
        // failure ends the line here, as a getc would not stop at it.
        if (length < kHeaderLength && std::ferror(file)) {
            buffer[length] = '\0';
            return HexLineStatus::ReadError;
        }
    }
    // The rest of the line a character at a time: a record that is not data, text after the
    // checksum, or the end of the stream.
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == '\n' || c == '\r') {
            if (c == '\r') {
                takeLfAfterCr(file);
            }
            buffer[length] = '\0';
            return HexLineStatus::Line;
        }
        if (c == EOF) {
            buffer[length] = '\0';
            if (std::ferror(file)) {
                return HexLineStatus::ReadError;
            }
            return length == 0 ? HexLineStatus::EndOfFile : HexLineStatus::Line;
        }
        if (length == kMaxLength) {
            // The stream keeps everything after the first 80 characters.
            std::ungetc(c, file);
            buffer[length] = '\0';
            return HexLineStatus::TooLong;
        }
        buffer[length++] = static_cast<char>(c);
    }
}

} // namespace

HexLineStatus readHexLine(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    flockfile(file);
    const HexLineStatus status = readLocked(file, buffer);
    funlockfile(file);
    return status;
}
