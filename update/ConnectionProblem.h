#pragma once

#include <QString>

// Why no ControlPanel could be opened: a text, advice beneath it, and, when a ControlPanel is
// attached but cannot be opened by this user, what was found and what to do.
struct ConnectionProblem
{
    enum class Kind
    {
        NoPanel,       // none attached or none that opens
        SeveralPanels, // more than one attached and none chosen
        NotAttached,   // the one chosen is not attached
        Busy, // another program updates it, or its lock file cannot be used; `detail` says which
    };
    Kind kind = Kind::NoPanel;
    QString text;
    QString advice;
    QString detail;
    QString ports; // the attached units' ports, "1-1.2, 1-1.4"
};
