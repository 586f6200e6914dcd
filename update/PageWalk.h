#pragma once

// What the two programmers' page walks share: the loaded image, the read-back comparison and the
// walk's progress.

#include "CommandChannel.h"
#include "FirmwareImage.h"
#include "HexLoader.h"
#include "ImageSummary.h"
#include "UpdateProgress.h"
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

// A page walk as its front end sees it: writing, then verifying, each counting the used pages,
// and the walk's end announced on every path out of it.
class WalkProgress
{
public:
    WalkProgress(UpdateProgress &progress, std::uint32_t usedPages)
        : progress(progress), pages(int(usedPages))
    {
        progress.phaseBegins(UpdatePhase::Writing, pages);
    }
    ~WalkProgress() { progress.walkEnded(); }
    WalkProgress(const WalkProgress &) = delete;
    WalkProgress &operator=(const WalkProgress &) = delete;

    // A page is done. True when the walk is to stop here: the user interrupted the update.
    [[nodiscard]] bool pageDone()
    {
        progress.advanced(++done);
        return progress.stopRequested();
    }
    void startVerifying()
    {
        done = 0;
        progress.phaseBegins(UpdatePhase::Verifying, pages);
    }
    void startLeaving() { progress.phaseBegins(UpdatePhase::LeavingBootloader, 0); }

private:
    UpdateProgress &progress;
    const int pages;
    int done = 0;
};
