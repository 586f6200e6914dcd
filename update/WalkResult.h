#pragma once

#include "UpdateResult.h"

#include <cstdint>

// How a programmer's page walk ended, as a value: what a front end or the sequence needs to know
// without reading it back out of a message.
enum class WalkEnd
{
    Verified,                 // every used page written and read back unchanged (and the control
                              // board's boot exit echoed)
    FileRefused,              // the loader refused the file: nothing was sent
    NotStarted,               // the ControlPanel's bootloader did not echo the start command
    WriteFailed,              // a page, its command or its data was not acknowledged
    VerifyFailed,             // a page could not be read back
    Mismatch,                 // a byte read back differs from the image
    Interrupted,              // the user stopped it at a page boundary
    InterruptedBeforeWriting, // ...before the first page: the old firmware is whole
    BootExitFailed,           // verified, but the control board did not echo its boot exit
};

// The first byte read back that differs from the image.
struct Mismatch
{
    std::uint32_t address = 0;
    std::uint8_t actual = 0;
    std::uint8_t expected = 0;
};

struct WalkResult
{
    WalkResult() = default;
    explicit WalkResult(WalkEnd end) : end(end) {}

    WalkEnd end = WalkEnd::Verified;
    int pagesWritten = 0;  // used pages the target acknowledged
    int pagesVerified = 0; // used pages read back unchanged
    Mismatch mismatch;     // when end is Mismatch
    QString refusal;       // the loader's message, when end is FileRefused

    bool verified() const { return end == WalkEnd::Verified || end == WalkEnd::BootExitFailed; }
};

// The walk's result as the programmers have always reported it: empty when verified, otherwise
// the first error met ("USB communication error during programming", the mismatch line, the
// loader's message...).
UpdateResult walkText(const WalkResult &result);
