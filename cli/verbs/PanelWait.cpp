#include "PanelWait.h"

#include "AttachedUnits.h"
#include "ControlPanelSurvey.h"
#include "UpdateTexts.h"

#include <algorithm>

namespace {

// Attached is not yet usable: udev may not have given this user the node yet.
bool opens(const AttachedUnit &unit)
{
    const std::vector<AttachedPanel> panels = surveyControlPanels();
    return std::any_of(panels.begin(), panels.end(), [&unit](const AttachedPanel &panel) {
        return panel.path == unit.path && panel.access == PanelAccess::Usable;
    });
}

QString awaited(const UnitChoice &choice)
{
    if (!choice.port.isEmpty())
        return QStringLiteral("the ControlPanel at USB port %1").arg(choice.port);
    if (!choice.serial.isEmpty())
        return QStringLiteral("the ControlPanel with serial number %1").arg(choice.serial);
    return QStringLiteral("one ControlPanel");
}

} // namespace

PanelWaitEnd waitForUnit(CliStreams &io, int seconds, const UnitChoice &choice)
{
    io.err << "Waiting up to " << seconds << " s for " << awaited(choice) << '\n';
    io.err.flush();
    const qint64 polls = qint64(seconds) * 1000 / kPanelPollMs;
    for (qint64 poll = 0;; ++poll) {
        const std::vector<AttachedUnit> units = attachedUnits();
        const UnitSelection selection = selectUnit(units, choice);
        if (selection.verdict == UnitSelection::Verdict::Several && choice.any()) {
            io.err << kSeveralPanelsText << '\n' << kSeveralPanelsAdvice << '\n';
            io.err.flush();
            return PanelWaitEnd::SeveralAttached;
        }
        const bool ready =
            selection.verdict == UnitSelection::Verdict::Chosen && opens(*selection.unit);
        if (ready || poll >= polls)
            return PanelWaitEnd::UpdateMayGoOn;
        io.wait(kPanelPollMs);
    }
}
