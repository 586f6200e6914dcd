#include "WalkResult.h"

#include <cstdio>

UpdateResult walkText(const WalkResult &result)
{
    switch (result.end) {
    case WalkEnd::Verified:
        return {};
    case WalkEnd::FileRefused:
        return result.refusal;
    case WalkEnd::NotStarted:
        return QString::fromLatin1(kUsbError);
    case WalkEnd::WriteFailed:
        return QString::fromLatin1(kProgrammingError);
    case WalkEnd::VerifyFailed:
        return QString::fromLatin1(kVerificationError);
    case WalkEnd::Mismatch: {
        char text[81] = {};
        std::snprintf(text, sizeof text, kMismatchFormat, unsigned(result.mismatch.address),
                      unsigned(result.mismatch.actual), unsigned(result.mismatch.expected));
        return QString::fromLatin1(text);
    }
    case WalkEnd::Interrupted:
        return QString::fromLatin1(kInterruptedError);
    case WalkEnd::InterruptedBeforeWriting:
        return QString::fromLatin1(kInterruptedBeforeWritingError);
    case WalkEnd::BootExitFailed:
        return QString::fromLatin1(kBootExitError);
    }
    return {};
}
