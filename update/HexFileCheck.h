#pragma once

#include "ImageSummary.h"
#include "PageWalk.h"
#include "UpdateTarget.h"

#include <QString>
#include <QStringList>

#include <memory>

// A HEX file as an update of the target would take it, judged before anything is sent.
struct HexFileCheck
{
    enum class Verdict
    {
        Good,
        NotOpened, // not a regular file that can be read
        Refused,   // the loader refused it; `error` says where and why
    };
    Verdict verdict = Verdict::NotOpened;
    QString error;
    ImageSummary summary;
    QStringList warnings; // the file loads, but may not be what was meant
    // The image as loaded, when the verdict is Good: what an update writes, so that the file is
    // read once and a change to it after the check cannot reach the device.
    std::shared_ptr<const LoadedImage> image;
};

HexFileCheck checkHexFile(const UpdateTarget &target, const QString &path);
