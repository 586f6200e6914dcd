#include "UpdateTarget.h"

#include "ControlBoardProgrammer.h"
#include "ControlPanelProgrammer.h"
#include "TargetProtocol.h"

namespace {

const ControlPanelProtocol kControlPanelProtocol;
const ControlBoardProtocol kControlBoardProtocol;

} // namespace

const UpdateTarget kControlPanelTarget{
    "panel",
    "ControlPanel",
    kControlPanelProfile,
    HexVariant::ControlPanel,
    command::kPanelBootloaderEntry,
    true,
    kPanelUpdatedText,
    writeControlPanel,
    kControlPanelProtocol,
};

const UpdateTarget kControlBoardTarget{
    "board",
    "ZEL02 control board",
    kControlBoardProfile,
    HexVariant::ControlBoard,
    command::kBoardBootloaderEntry,
    false,
    kBoardUpdatedText,
    writeControlBoard,
    kControlBoardProtocol,
};

const UpdateTarget *targetNamed(const QString &name)
{
    for (const UpdateTarget *target : {&kControlPanelTarget, &kControlBoardTarget}) {
        if (name == QLatin1String(target->name))
            return target;
    }
    return nullptr;
}

WalkResult programFile(const UpdateTarget &target, CommandChannel &channel,
                       const TargetProfile &profile, std::FILE *file, UpdateProgress &progress,
                       ImageSummary *loaded)
{
    UpdateResult error;
    const std::unique_ptr<LoadedImage> image =
        loadImage(file, profile, target.variant, error, loaded);
    if (!image) {
        WalkResult refused{WalkEnd::FileRefused};
        refused.refusal = error;
        return refused;
    }
    return target.write(channel, profile, *image, progress);
}

UpdateResult programHexFile(const UpdateTarget &target, CommandChannel &channel,
                            const TargetProfile &profile, std::FILE *file, UpdateProgress &progress,
                            ImageSummary *loaded)
{
    return walkText(programFile(target, channel, profile, file, progress, loaded));
}
