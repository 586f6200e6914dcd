#include "HexLineReader.h"

namespace {

// Reads one line with the stream already locked. Character by character: fgets stops only at LF,
// so after a lone CR it would already hold the next lines, and a stream takes back only one
// character. This costs about twice fgets' time, still well under 2 ms for a full image.
HexLineStatus readLocked(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    buffer[0] = '\0';
    // A failure while looking for the LF after a CR surfaces here, at the next line, as it would
    // have after an LF; getc would try the stream again and could hide it.
    if (std::ferror(file)) {
        return HexLineStatus::ReadError;
    }
    int length = 0;
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == '\n') {
            break;
        }
        if (c == '\r') {
            const int next = getc_unlocked(file);
            if (next != '\n' && next != EOF) {
                ungetc(next, file); // the character just read: no allocation to take it back
            }
            break;
        }
        if (c == EOF) {
            buffer[length] = '\0';
            if (std::ferror(file)) {
                return HexLineStatus::ReadError;
            }
            return length == 0 ? HexLineStatus::EndOfFile : HexLineStatus::Line;
        }
        if (length == kHexMaxLineLength) {
            buffer[length] = '\0';
            return HexLineStatus::TooLong;
        }
        buffer[length++] = static_cast<char>(c);
    }
    buffer[length] = '\0';
    return HexLineStatus::Line;
}

} // namespace

HexLineStatus readHexLine(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    flockfile(file);
    const HexLineStatus status = readLocked(file, buffer);
    funlockfile(file);
    return status;
}
