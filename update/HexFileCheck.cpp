#include "HexFileCheck.h"

#include "HexFile.h"
#include "PageWalk.h"
#include "UpdateTexts.h"

#include <utility>

HexFileCheck checkHexFile(const UpdateTarget &target, const QByteArray &path, bool allowNoEndRecord,
                          const QByteArray &expectedSha256)
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
    if (check.summary.lines == 0) {
        check.verdict = HexFileCheck::Verdict::Empty;
        check.error = QString::fromLatin1(kEmptyFileRefusal);
        return check;
    }
    check.verdict = HexFileCheck::Verdict::Good;
    if (!expectedSha256.isEmpty() && check.summary.sha256 != expectedSha256.toLower()) {
        check.verdict = HexFileCheck::Verdict::OtherImage;
        check.error = QString::fromLatin1(kOtherImageRefusal)
                          .arg(QString::fromLatin1(check.summary.sha256),
                               QString::fromLatin1(expectedSha256.toLower()));
    } else if (!check.summary.endOfFileRecord && !allowNoEndRecord) {
        check.verdict = HexFileCheck::Verdict::NoEndRecord;
        check.error = QString::fromLatin1(kNoEndRecordRefusal).arg(check.summary.lines);
    } else if (!check.summary.endOfFileRecord) {
        check.warnings << QString::fromLatin1(kNoEndRecordWarning);
    }
    if (check.summary.usedPages == 0)
        check.warnings << QString::fromLatin1(kNoDataWarning);
    // Only the ControlPanel's limit falls inside a page; the rest of that page is its
    // bootloader's.
    const TargetProfile &profile = target.profile;
    const std::uint32_t limitPage = profile.imageLimit / profile.pageSize;
    if (profile.imageLimit % profile.pageSize != 0 && limitPage < profile.pageCount &&
        loaded->pageMap[limitPage] != 0)
        check.warnings << QString::fromLatin1(kLimitPageWarning);
    if (check.verdict == HexFileCheck::Verdict::Good)
        check.image = std::move(loaded);
    return check;
}
