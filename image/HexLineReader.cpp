#include "HexLineReader.h"

#include <cstring>

namespace {

// The stream gave no character: either it ended or it failed.
HexLineStatus endOrError(std::FILE *file)
{
    return std::ferror(file) ? HexLineStatus::ReadError : HexLineStatus::Line;
}

} // namespace

HexLineStatus readHexLine(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    // fgets puts its terminator into the last slot only when it read 80 characters. Testing that
    // slot, not strlen, tells a full buffer from a short line even when the line holds a NUL.
    buffer[kHexMaxLineLength] = '\n';
    if (!std::fgets(buffer, kHexLineBufferSize, file)) {
        return std::ferror(file) ? HexLineStatus::ReadError : HexLineStatus::EndOfFile;
    }
    if (buffer[kHexMaxLineLength] != '\0') {
        // Fewer than 80 characters: the line ended with LF, or the stream ended or failed.
        const std::size_t length = std::strlen(buffer);
        if (length > 0 && buffer[length - 1] == '\n') {
            return HexLineStatus::Line;
        }
        return endOrError(file);
    }
    if (buffer[kHexMaxLineLength - 1] == '\n') {
        return HexLineStatus::Line;
    }
    // 80 characters and no LF yet: the line fits only if its end follows now. A CR may stand
    // before that end (a CR that the buffer already holds is trailing text the records ignore).
    int next = std::getc(file);
    if (next == '\r') {
        next = std::getc(file);
    }
    if (next == '\n') {
        return HexLineStatus::Line;
    }
    if (next == EOF) {
        return endOrError(file);
    }
    return HexLineStatus::TooLong;
}
