#include "TerminalHost.h"

#include <QThread>

void TerminalHost::say(const QString &text)
{
    view.settle();
    io.err << text << '\n';
    io.err.flush();
}

void TerminalHost::showConnectionError(const ConnectionProblem &problem)
{
    QString text = problem.text + QLatin1Char('\n') + problem.advice;
    if (!problem.detail.isEmpty())
        text += QStringLiteral("\n\n") + problem.detail;
    say(text);
}

void TerminalHost::showError(const QString &text)
{
    say(text);
}

void TerminalHost::showMessage(const QString &text)
{
    say(text);
}

void TerminalHost::startWait(const QString &, int steps)
{
    // The engine's labels are the window's; the terminal names the phase instead.
    waitSteps = steps;
    view.begin(CliPhase::Waiting, steps);
}

void TerminalHost::pause(int milliseconds)
{
    if (io.pause)
        io.pause(milliseconds);
    else
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void TerminalHost::phaseChanged(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::EnteringBootloader:
        view.begin(CliPhase::Entering, 0);
        break;
    case UpdatePhase::Waiting:
        // startWait follows with the number of steps.
        break;
    case UpdatePhase::LeavingBootloader:
        // The ControlPanel's restart into its application is a wait like the first.
        view.begin(CliPhase::Leaving, waitSteps);
        break;
    }
}

void TerminalHost::historyNotWritten(const QString &why)
{
    say(QStringLiteral("warning: update history not written: ") + why);
}

void TerminalHost::start(int maximum)
{
    walkSteps = maximum;
    verifyingFrom = -1;
    // One step a page written, one a page read back.
    view.begin(CliPhase::Writing, maximum - maximum / 2);
}

void TerminalHost::step(int value)
{
    if (verifyingFrom < 0) {
        view.advance(value);
        return;
    }
    view.advance(value - verifyingFrom);
    leaveAfterWalk(value);
}

void TerminalHost::startVerifying(int value)
{
    verifyingFrom = value;
    view.begin(CliPhase::Verifying, walkSteps - value);
    leaveAfterWalk(value);
}

void TerminalHost::leaveAfterWalk(int value)
{
    if (!target.restartsIntoBootloader && value >= walkSteps)
        view.begin(CliPhase::Leaving, 0);
}
