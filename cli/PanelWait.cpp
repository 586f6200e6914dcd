#include "PanelWait.h"

#include "CommandChannel.h"
#include "ControlPanelSurvey.h"
#include "UpdateTexts.h"

#include <QThread>

namespace {

// Attached is not yet usable: udev may not have given this user the node yet.
bool opens()
{
    const std::vector<AttachedPanel> panels = surveyControlPanels();
    return panels.size() == 1 && panels.front().access == PanelAccess::Usable;
}

} // namespace

PanelWaitEnd waitForOnePanel(CliStreams &io, int seconds)
{
    io.err << "Waiting up to " << seconds << " s for one ControlPanel\n";
    io.err.flush();
    const qint64 polls = qint64(seconds) * 1000 / kPanelPollMs;
    for (qint64 poll = 0;; ++poll) {
        const int attached = CommandChannel::attachedControlPanels();
        if (attached > 1) {
            io.err << kSeveralPanelsText << '\n' << kSeveralPanelsAdvice << '\n';
            io.err.flush();
            return PanelWaitEnd::SeveralAttached;
        }
        if ((attached == 1 && opens()) || poll >= polls)
            return PanelWaitEnd::UpdateMayGoOn;
        if (io.pause)
            io.pause(kPanelPollMs);
        else
            QThread::msleep(kPanelPollMs);
    }
}
