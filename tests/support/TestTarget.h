#pragma once

// A target as the tests' tables name it. Header-only, like TestDevices.h.

#include "UpdateTarget.h"

#include <QMetaType>

using Target = const UpdateTarget *;
Q_DECLARE_METATYPE(Target)

inline bool isPanel(Target target)
{
    return target == &kControlPanelTarget;
}
