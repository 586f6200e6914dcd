#include "RecordingHost.h"

#include "FileUse.h"

RecordingHost::RecordingHost() : walk(*this)
{
}

void RecordingHost::note(const QString &line)
{
    calls << line;
    if (!watched.isEmpty())
        held << descriptorsOn(watched);
}

void RecordingHost::showConnectionError(const ConnectionProblem &problem)
{
    note(QStringLiteral("connection error: %1 / %2 / %3")
             .arg(problem.text, problem.advice, problem.detail));
}

void RecordingHost::showError(const QString &text)
{
    note(QStringLiteral("critical: ") + text);
}

void RecordingHost::showMessage(const QString &text)
{
    note(QStringLiteral("box: ") + text);
}

QString RecordingHost::chooseHexFile()
{
    note(QStringLiteral("file dialog"));
    const QString chosen = files.isEmpty() ? QString() : files.takeFirst();
    if (!chosen.isEmpty() && onChosen)
        onChosen(chosen);
    return chosen;
}

void RecordingHost::startWait(const QString &label, int steps)
{
    note(QStringLiteral("wait: %1 %2").arg(label).arg(steps));
}

void RecordingHost::waitStep(int value)
{
    if (!pausedSinceStep)
        ++stepsWithoutPause;
    pausedSinceStep = false;
    // The steps of one wait share a line.
    if (!calls.isEmpty() && calls.last().startsWith(QLatin1String("steps:")))
        calls.last() += QStringLiteral(" %1").arg(value);
    else
        note(QStringLiteral("steps: %1").arg(value));
    if (onWaitStep)
        onWaitStep(value);
}

void RecordingHost::restartWait()
{
    note(QStringLiteral("wait again"));
}

void RecordingHost::finishWait()
{
    note(QStringLiteral("wait over"));
}

void RecordingHost::pause(int milliseconds)
{
    ++pauses;
    pausedMs += milliseconds;
    pausedSinceStep = true;
}

void RecordingHost::phaseChanged(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::EnteringBootloader:
        phases << QStringLiteral("entering");
        break;
    case UpdatePhase::Waiting:
        phases << QStringLiteral("waiting");
        break;
    case UpdatePhase::LeavingBootloader:
        phases << QStringLiteral("leaving");
        break;
    }
}

void RecordingHost::historyNotWritten(const QString &why)
{
    note(QStringLiteral("history not written: ") + why);
}

void RecordingHost::Walk::start(int maximum)
{
    RecordingProgress::start(maximum);
    host.note(QStringLiteral("walk: start %1").arg(maximum));
}

void RecordingHost::Walk::finish()
{
    RecordingProgress::finish();
    host.note(QStringLiteral("walk: finish"));
}
