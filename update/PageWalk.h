#pragma once

// What the two programmers' page walks share: the loaded image, the read-back comparison and the
// walk's progress.

#include "CommandChannel.h"
#include "FirmwareImage.h"
#include "HexLoader.h"
#include "ImageSummary.h"
#include "UpdateProgress.h"
#include "UpdateResult.h"
#include "WalkResult.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

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

// Compares the reply with the image from `offset` on. Returns the first byte that differs, or none
// when all 64 match.
std::optional<Mismatch> compareReply(const CommandChannel &channel, const FirmwareImage &image,
                                     std::uint32_t offset);

// A page walk as its front end sees it: writing, then verifying, each counting the used pages,
// and the walk's end announced on every path out of it. It keeps the walk's result: the pages
// done so far, and how the walk ended.
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
        ++(verifying ? result.pagesVerified : result.pagesWritten);
        progress.advanced(verifying ? result.pagesVerified : result.pagesWritten);
        return progress.stopRequested();
    }
    void startVerifying()
    {
        verifying = true;
        progress.phaseBegins(UpdatePhase::Verifying, pages);
    }
    void startLeaving() { progress.phaseBegins(UpdatePhase::LeavingBootloader, 0); }

    // The walk ends here, as `end` says.
    WalkResult ended(WalkEnd end)
    {
        result.end = end;
        return result;
    }
    WalkResult mismatched(const Mismatch &mismatch)
    {
        result.mismatch = mismatch;
        return ended(WalkEnd::Mismatch);
    }
    // Stopped by the user: before the first page the old firmware is whole.
    WalkResult interrupted()
    {
        return ended(result.pagesWritten == 0 ? WalkEnd::InterruptedBeforeWriting
                                              : WalkEnd::Interrupted);
    }

private:
    UpdateProgress &progress;
    const int pages;
    bool verifying = false;
    WalkResult result;
};
