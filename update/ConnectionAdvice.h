#pragma once

#include "ControlPanelSurvey.h"

#include <QString>

#include <vector>

// A line naming the device: its node, what it calls itself and its serial number.
QString describePanel(const AttachedPanel &panel);

// For each attached ControlPanel that cannot be opened: which one, why, and what to do. Empty
// when every attached one can be opened (or none is attached).
QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels);
