#include "RecordingHost.h"

#include "FileUse.h"
#include "OutcomeText.h"

RecordingHost::RecordingHost() : walk(*this)
{
}

void RecordingHost::note(const QString &line)
{
    calls << line;
    if (!watched.isEmpty())
        held << descriptorsOn(watched);
}

void RecordingHost::ended(const UpdateOutcome &outcome)
{
    switch (noticeKind(outcome)) {
    case NoticeKind::None:
        break;
    case NoticeKind::ConnectionProblem: {
        const ConnectionProblem &problem = *outcome.problem;
        note(QStringLiteral("connection error: %1 / %2 / %3")
                 .arg(problem.text, problem.advice, problem.detail));
        break;
    }
    case NoticeKind::Critical:
        note(QStringLiteral("critical: ") + outcome.text);
        break;
    case NoticeKind::Message:
        note(QStringLiteral("box: ") + outcome.text);
        break;
    }
}

ChosenFirmware RecordingHost::chooseFirmware()
{
    note(QStringLiteral("file dialog"));
    ChosenFirmware chosen = preloaded;
    preloaded = {};
    chosen.file = files.isEmpty() ? QString() : files.takeFirst();
    if (!chosen.file.isEmpty() && onChosen)
        onChosen(chosen.file);
    return chosen;
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

void RecordingHost::finishWait()
{
    note(QStringLiteral("wait over"));
}

void RecordingHost::pause(int milliseconds)
{
    if (onPause)
        onPause();
    ++pauses;
    pausedMs += milliseconds;
    pausedSinceStep = true;
}

void RecordingHost::historyNotWritten(const QString &why)
{
    note(QStringLiteral("history not written: ") + why);
}

void RecordingHost::Walk::phaseBegins(UpdatePhase phase, int total)
{
    host.phases << QString::fromLatin1(phaseName(phase));
    switch (phase) {
    case UpdatePhase::WaitingForBootloader:
        host.note(QStringLiteral("wait: %1").arg(total));
        return;
    case UpdatePhase::WaitingForApplication:
        host.note(QStringLiteral("wait again"));
        return;
    case UpdatePhase::Writing:
        inWalk = true;
        host.note(QStringLiteral("walk: writing %1").arg(total));
        break;
    case UpdatePhase::Connecting:
    case UpdatePhase::EnteringBootloader:
    case UpdatePhase::AwaitingDeparture:
    case UpdatePhase::AwaitingReturn:
    case UpdatePhase::Verifying:
    case UpdatePhase::LeavingBootloader:
    case UpdatePhase::ConfirmingApplication:
        break;
    }
    if (inWalk)
        RecordingProgress::phaseBegins(phase, total);
}

void RecordingHost::Walk::advanced(int done)
{
    if (inWalk)
        RecordingProgress::advanced(done);
    else
        host.waitStep(done);
}

void RecordingHost::Walk::walkEnded()
{
    inWalk = false;
    RecordingProgress::walkEnded();
    host.note(QStringLiteral("walk: finish"));
}
