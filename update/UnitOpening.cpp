#include "UnitOpening.h"

#include "ConnectionAdvice.h"
#include "ControlPanelSurvey.h"
#include "UpdateTexts.h"

OpenedUnit openChosenUnit(CommandChannel &channel, const UnitChoice &choice)
{
    const std::vector<AttachedUnit> units = attachedUnits();
    if (channel.isOpen()) {
        for (const AttachedUnit &attached : units)
            if (attached.path == channel.path())
                return {attached, {}};
        channel.closeChannel();
    }

    const UnitSelection selection = selectUnit(units, choice);
    OpenedUnit opened;
    opened.problem.ports = portsText(units);
    switch (selection.verdict) {
    case UnitSelection::Verdict::NoneAttached:
        // hidapi may still find one that enumeration just missed.
        if (choice.any() && !channel.openChannel()) {
            const std::vector<AttachedUnit> now = attachedUnits();
            if (now.size() == 1)
                return {now.front(), {}};
            channel.closeChannel();
        }
        [[fallthrough]];
    case UnitSelection::Verdict::Chosen:
        if (selection.unit && !channel.openPath(selection.unit->path))
            return {*selection.unit, {}};
        // What is attached but will not open says more than the box alone.
        opened.problem = {ConnectionProblem::Kind::NoPanel, kNoPanelText, kNoPanelAdvice,
                          unusablePanelsDetail(surveyControlPanels()), opened.problem.ports};
        break;
    case UnitSelection::Verdict::NotAttached:
    case UnitSelection::Verdict::Several:
        opened.problem = choiceProblem(selection.verdict, choice, opened.problem.ports);
        break;
    }
    return opened;
}
