#pragma once

#include <cstdio>

constexpr int kHexMaxLineLength = 80;
constexpr int kHexLineBufferSize = kHexMaxLineLength + 1;

enum class HexLineStatus
{
    Line,      // a line of at most 80 characters (without its line end) is in the buffer
    EndOfFile, // the stream ended before another line began
    TooLong,   // the line holds more than 80 characters; the buffer holds its first 80
    ReadError, // the stream failed while reading
};

// Reads the next line into buffer, zero-terminated. LF, CR LF and a lone CR each end a line, as
// does the end of the stream; no line end counts towards the line's length. Consumes the line and
// its line end and nothing more: after a CR, the character that follows stays in the stream
// unless it is the LF of a CR LF, even when it begins the stream's next block. The one exception
// is a line that no load accepts, shorter than 9 characters or a data record shorter than its
// byte count says, ended by a lone CR: the characters after that CR, up to what the record
// declared, may be gone. A stream whose error indicator is already set gives ReadError at once.
// Locks the stream once for the whole line; uses standard C and POSIX calls only; allocates
// nothing.
HexLineStatus readHexLine(std::FILE *file, char (&buffer)[kHexLineBufferSize]);
