#include "HexFileCheck.h"

#include "HexFile.h"
#include "PageWalk.h"
#include "UpdateTexts.h"

#include <utility>

HexFileCheck checkHexFile(const UpdateTarget &target, const QString &path)
{
    HexFileCheck check;
    const HexFile file = openHexFile(path);
    if (!file) {
        check.error = QString::fromLatin1(kHexFileError);
        return check;
    }
    UpdateResult error;
    std::unique_ptr<LoadedImage> loaded =
        loadImage(file.get(), target.profile, target.variant, error, &check.summary);
    if (!loaded) {
        check.verdict = HexFileCheck::Verdict::Refused;
        check.error = error;
        return check;
    }
    check.verdict = HexFileCheck::Verdict::Good;
    if (!check.summary.endOfFileRecord)
        check.warnings << QString::fromLatin1(kNoEndRecordWarning);
    if (check.summary.usedPages == 0)
        check.warnings << QString::fromLatin1(kNoDataWarning);
    // Only the ControlPanel's limit falls inside a page; the rest of that page is its
    // bootloader's.
    const TargetProfile &profile = target.profile;
    const std::uint32_t limitPage = profile.imageLimit / profile.pageSize;
    if (profile.imageLimit % profile.pageSize != 0 && limitPage < profile.pageCount &&
        loaded->pageMap[limitPage] != 0)
        check.warnings << QString::fromLatin1(kLimitPageWarning);
    check.image = std::move(loaded);
    return check;
}
