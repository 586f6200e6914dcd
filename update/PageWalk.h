#pragma once

// What the two programmers' page walks share: the loaded image, the read-back comparison and the
// progress session.

#include "CommandChannel.h"
#include "FirmwareImage.h"
#include "HexLoader.h"
#include "ImageSummary.h"
#include "ProgressReporter.h"
#include "UpdateResult.h"

#include <cstdint>
#include <cstdio>
#include <memory>

struct LoadedImage
{
    FirmwareImage image;
    PageMap pageMap;
    std::uint32_t usedPages = 0;
};

// Loads the file for one programming run and, when asked, sums it up. On failure returns null and
// sets `error` to the loader's message.
std::unique_ptr<LoadedImage> loadImage(std::FILE *file, const TargetProfile &profile,
                                       HexVariant variant, UpdateResult &error,
                                       ImageSummary *summary);

// Compares the reply with the image from `offset` on. Returns the mismatch message for the first
// byte that differs, or an empty text when all 64 match.
UpdateResult compareReply(const CommandChannel &channel, const FirmwareImage &image,
                          std::uint32_t offset);

// Keeps the reporter's start and finish paired on every path out of a walk.
class ProgressSession
{
public:
    ProgressSession(ProgressReporter &reporter, int maximum) : reporter(reporter)
    {
        reporter.start(maximum);
    }
    ~ProgressSession() { reporter.finish(); }
    ProgressSession(const ProgressSession &) = delete;
    ProgressSession &operator=(const ProgressSession &) = delete;

    void step() { reporter.step(++value); }
    void startVerifying(int steps)
    {
        value = steps;
        reporter.startVerifying(value);
    }

private:
    ProgressReporter &reporter;
    int value = 0;
};
