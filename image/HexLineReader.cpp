#include "HexLineReader.h"

#include <algorithm>
#include <cstring>

// The reader takes its characters straight from the block the stream has already read, as
// glibc's own inline getc_unlocked does through the same two fields of FILE. A run of characters
// is found and copied at once, as fgets does, yet nothing after the line's end leaves the stream:
// a block of the reader's own would swallow the text after the end record, and a stream takes
// back only one character.
#ifndef __GLIBC__
#error "readHexLine reads the stream's buffer as glibc lays it out"
#endif

namespace {

constexpr std::size_t kMaxLength = kHexMaxLineLength;

const char *bufferedBegin(const std::FILE *file)
{
    return file->_IO_read_ptr;
}

std::size_t bufferedSize(const std::FILE *file)
{
    return static_cast<std::size_t>(file->_IO_read_end - file->_IO_read_ptr);
}

void consume(std::FILE *file, std::size_t count)
{
    file->_IO_read_ptr += count;
}

// True when the stream holds at least one character, after reading the next block if it held
// none. False when the stream ended or failed.
bool fillIfEmpty(std::FILE *file)
{
    if (bufferedSize(file) > 0) {
        return true;
    }
    const int c = getc_unlocked(file); // reads the next block
    if (c == EOF) {
        return false;
    }
    ungetc(c, file); // the character just read: no allocation to take it back
    return true;
}

// The first LF or CR among size characters, or null.
const char *findLineEnd(const char *begin, std::size_t size)
{
    const auto *lf = static_cast<const char *>(std::memchr(begin, '\n', size));
    const std::size_t beforeLf = lf ? static_cast<std::size_t>(lf - begin) : size;
    const auto *cr = static_cast<const char *>(std::memchr(begin, '\r', beforeLf));
    return cr ? cr : lf;
}

// Reads one line with the stream already locked.
HexLineStatus readLocked(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    buffer[0] = '\0';
    // A failure while looking for the LF after a CR surfaces here, at the next line, as it would
    // have after an LF; reading on would try the stream again and could hide it.
    if (ferror_unlocked(file)) {
        return HexLineStatus::ReadError;
    }
    std::size_t length = 0;
    for (;;) {
        if (!fillIfEmpty(file)) {
            buffer[length] = '\0';
            if (ferror_unlocked(file)) {
                return HexLineStatus::ReadError;
            }
            return length == 0 ? HexLineStatus::EndOfFile : HexLineStatus::Line;
        }
        // One character more than the line still has room for: a line end there still fits.
        const std::size_t room = kMaxLength - length;
        const char *begin = bufferedBegin(file);
        const std::size_t window = std::min(bufferedSize(file), room + 1);
        const char *end = findLineEnd(begin, window);
        if (!end && window > room) {
            std::memcpy(buffer + length, begin, room);
            consume(file, room);
            buffer[kMaxLength] = '\0';
            return HexLineStatus::TooLong;
        }
        const std::size_t count = end ? static_cast<std::size_t>(end - begin) : window;
        std::memcpy(buffer + length, begin, count);
        length += count;
        consume(file, count);
        if (end) {
            const char endCharacter = *end;
            consume(file, 1);
            // The LF of a CR LF may be the first character of the next block.
            if (endCharacter == '\r' && fillIfEmpty(file) && *bufferedBegin(file) == '\n') {
                consume(file, 1);
            }
            buffer[length] = '\0';
            return HexLineStatus::Line;
        }
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
