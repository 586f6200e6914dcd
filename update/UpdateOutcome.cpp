#include "UpdateOutcome.h"

SequenceEnd endOfWalk(const WalkResult &walk, Return returned)
{
    switch (walk.end) {
    case WalkEnd::Verified:
        return returned == Return::Confirmed || returned == Return::Assumed
                   ? SequenceEnd::Updated
                   : SequenceEnd::NotBackInApplication;
    case WalkEnd::BootExitFailed:
        return SequenceEnd::NotBackInApplication;
    case WalkEnd::FileRefused:
        // The entry command was sent before the loader refused the file.
        return SequenceEnd::FileRefusedInBootloader;
    case WalkEnd::NotStarted:
        return SequenceEnd::DeviceNotAnswering;
    case WalkEnd::WriteFailed:
    case WalkEnd::VerifyFailed:
    case WalkEnd::Mismatch:
    case WalkEnd::Interrupted:
    case WalkEnd::InterruptedBeforeWriting:
        break;
    }
    return SequenceEnd::FailedWhileWriting;
}
