#include "OutcomeText.h"

#include "UpdateTarget.h"
#include "UpdateTexts.h"

namespace {

QString withPort(const char *text, const QString &port)
{
    return QString::fromLatin1(text).arg(port);
}

QString withPort(const char *text, const QString &port, int timeoutMs)
{
    return withPort(text, port).arg(timeoutMs / 1000);
}

QString successText(const UpdateOutcome &outcome)
{
    const UpdateTarget *target = targetNamed(QLatin1String(outcome.targetName));
    return target ? QString::fromLatin1(target->successText) : QString();
}

QString bootloaderText(const UpdateOutcome &outcome)
{
    if (outcome.startFailed)
        return kErrorPrefix + QString::fromLatin1(kBootloaderStartError);
    switch (outcome.restart) {
    case RestartEnd::NeverLeft:
        return withPort(kNeverLeftText, outcome.port, outcome.timeoutMs);
    case RestartEnd::NeverBack:
        return withPort(kNotBackInBootloaderText, outcome.port, outcome.timeoutMs);
    case RestartEnd::Back:
    case RestartEnd::Waited:
    case RestartEnd::NotReopened:
        break;
    }
    return QString::fromLatin1(kPanelNotBackText);
}

// Written and verified, yet not known back: the window keeps its word that the firmware was
// updated, or tells the board's boot exit as its programmer does; a followed unit is told of.
QString notBackText(const UpdateOutcome &outcome)
{
    const bool board = outcome.walk.end == WalkEnd::BootExitFailed;
    if (!outcome.followed)
        return board ? kErrorPrefix + walkText(outcome.walk) : successText(outcome);
    if (board)
        return withPort(kBoardExitNotConfirmedText, outcome.port);
    switch (outcome.returned) {
    case Return::NotConfirmed:
        return withPort(kExitNotConfirmedText, outcome.port);
    case Return::NeverLeft:
        return withPort(kNotLeftForApplicationText, outcome.port, outcome.timeoutMs);
    case Return::NeverBack:
        return withPort(kNotBackText, outcome.port, outcome.timeoutMs);
    case Return::Silent:
        return withPort(kBackButSilentText, outcome.port);
    case Return::Confirmed:
    case Return::Assumed:
    case Return::InBootloader:
        break;
    }
    return successText(outcome);
}

// Where a followed unit went after a walk that failed, in words.
QString whereAfterFailure(const UpdateOutcome &outcome)
{
    switch (afterFailure(outcome)) {
    case AfterFailure::Nothing:
        break;
    case AfterFailure::NoBootloader:
        return withPort(outcome.returned == Return::InBootloader ? kNoBoardBootloaderText
                                                                 : kNoPanelBootloaderText,
                        outcome.port);
    case AfterFailure::BackUnchanged:
        return withPort(kPanelBackUnchangedText, outcome.port);
    case AfterFailure::MayStayInBootloader:
        return withPort(kPanelMayStayInBootloaderText, outcome.port);
    case AfterFailure::StayedInBootloader:
        return withPort(kPanelStayedInBootloaderText, outcome.port, outcome.timeoutMs);
    case AfterFailure::NotBackAfterFailure:
        return withPort(kPanelNotBackAfterFailureText, outcome.port, outcome.timeoutMs);
    case AfterFailure::BoardInBootloader:
        return QString::fromLatin1(kBoardLeftInBootloaderText);
    }
    return QString();
}

QString walkEndText(const UpdateOutcome &outcome)
{
    if (outcome.walk.verified())
        return outcome.end == SequenceEnd::Updated ? successText(outcome) : notBackText(outcome);
    QString text = kErrorPrefix + walkText(outcome.walk);
    if (outcome.followed) {
        const QString where = whereAfterFailure(outcome);
        if (!where.isEmpty())
            text += QLatin1Char('\n') + where;
    }
    return text;
}

} // namespace

AfterFailure afterFailure(const UpdateOutcome &outcome)
{
    const WalkResult &walk = outcome.walk;
    if (!outcome.followed || !outcome.walked || walk.verified())
        return AfterFailure::Nothing;
    const bool nothingWritten = walk.pagesWritten == 0;
    if (outcome.inBootloaderAsked && nothingWritten && walk.end != WalkEnd::FileRefused &&
        walk.end != WalkEnd::InterruptedBeforeWriting)
        return AfterFailure::NoBootloader;
    switch (outcome.returned) {
    case Return::Confirmed:
        // Only an update stopped before its first page leaves the firmware as it was: a page
        // that failed may have had its row erased.
        return walk.end == WalkEnd::InterruptedBeforeWriting ? AfterFailure::BackUnchanged
                                                             : AfterFailure::Nothing;
    case Return::NotConfirmed:
    case Return::Silent:
        return AfterFailure::MayStayInBootloader;
    case Return::NeverLeft:
        return AfterFailure::StayedInBootloader;
    case Return::NeverBack:
        return AfterFailure::NotBackAfterFailure;
    case Return::InBootloader:
        // Only an update that expects it there can reach it.
        return walk.end == WalkEnd::FileRefused ? AfterFailure::Nothing
                                                : AfterFailure::BoardInBootloader;
    case Return::Assumed:
        break;
    }
    return AfterFailure::Nothing;
}

NoticeKind noticeKind(const UpdateOutcome &outcome)
{
    if (outcome.problem)
        return NoticeKind::ConnectionProblem;
    switch (outcome.failed) {
    case FailedStep::Connection:
        return NoticeKind::Critical;
    case FailedStep::File:
        return outcome.file.isEmpty() ? NoticeKind::None : NoticeKind::Critical;
    case FailedStep::None:
    case FailedStep::Entry:
    case FailedStep::Bootloader:
    case FailedStep::Walk:
        break;
    }
    return NoticeKind::Message;
}

QString outcomeText(const UpdateOutcome &outcome)
{
    if (outcome.problem)
        return outcome.problem->kind == ConnectionProblem::Kind::Busy ? outcome.problem->detail
                                                                      : outcome.problem->text;
    switch (outcome.failed) {
    case FailedStep::Connection:
        return QString::fromLatin1(kNoConnectionError);
    case FailedStep::File:
        return outcome.file.isEmpty() ? QString() : QString::fromLatin1(kHexFileError);
    case FailedStep::Entry: {
        QString text = kErrorPrefix + QString::fromLatin1(kBootloaderEntryError);
        // The command may have reached the target although its echo did not come back.
        if (outcome.followed)
            text += QLatin1Char('\n') + QString::fromLatin1(kMayBeInBootloaderText);
        return text;
    }
    case FailedStep::Bootloader:
        return bootloaderText(outcome);
    case FailedStep::None:
    case FailedStep::Walk:
        break;
    }
    return walkEndText(outcome);
}
