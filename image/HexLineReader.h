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

// Reads the next line into buffer, zero-terminated. LF and CR LF both end a line, as does the end
// of the stream; neither end counts towards the line's length. Reads no further than the line.
HexLineStatus readHexLine(std::FILE *file, char (&buffer)[kHexLineBufferSize]);
