#pragma once

#include "ImageSummary.h"
#include "PageWalk.h"
#include "UpdateTarget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// What the check warns about: a file that may be cut short, or holds nothing to write, or reaches
// into the page the ControlPanel's bootloader shares.
constexpr const char *kNoEndRecordWarning =
    "no end-of-file record: the file may have been cut short";
constexpr const char *kNoDataWarning = "the file holds no data: nothing would be written";
constexpr const char *kLimitPageWarning =
    "data in the page that holds the ControlPanel's image limit (0x3fc00-0x3fc3f), which its "
    "bootloader shares";
// Why a file that loads is refused all the same. Formatted with the file's line count.
constexpr const char *kNoEndRecordRefusal =
    "no end-of-file record after %1 lines; the file may have been cut short";
constexpr const char *kEmptyFileRefusal = "the file is empty: there is nothing to write";
// Formatted with the image's SHA-256 and the one asked for.
constexpr const char *kOtherImageRefusal =
    "its image has SHA-256 %1, not %2 as asked: it is not the firmware meant (changed since it "
    "was checked?)";

// A HEX file as an update of the target would take it, judged before anything is sent: the one
// verdict both `check` and `update` give.
struct HexFileCheck
{
    enum class Verdict
    {
        Good,
        NotOpened,   // not a regular file that can be read
        Refused,     // the loader refused it; `error` says where and why
        Empty,       // not a single line: nothing to write, even without an end-of-file record
        NoEndRecord, // it loads, but it may have been cut short; taken when allowed
        OtherImage,  // it loads, but its image is not the one asked for
    };
    Verdict verdict = Verdict::NotOpened;
    QString error;        // why, unless the verdict is Good
    ImageSummary summary; // filled once the file loads, even when it is refused
    QStringList warnings; // the file loads, but may not be what was meant
    // The image as loaded, when the verdict is Good: what an update writes, so that the file is
    // read once and a change to it after the check cannot reach the device.
    std::shared_ptr<const LoadedImage> image;
};

// `path` is the file's name byte for byte as the system has it. A file without an end-of-file
// record is refused unless `allowNoEndRecord`, and then warned about. A file whose image's SHA-256
// (lower-case hex, as ImageSummary gives it) is not `expectedSha256`, when that is given, is
// refused.
HexFileCheck checkHexFile(const UpdateTarget &target, const QByteArray &path, bool allowNoEndRecord,
                          const QByteArray &expectedSha256 = QByteArray());
