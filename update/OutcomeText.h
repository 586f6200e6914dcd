#pragma once

#include "UpdateOutcome.h"

#include <QString>

// How a front end shows the end of an update, as the window's dialogs do.
enum class NoticeKind
{
    None,              // the user chose no file: nothing to say
    ConnectionProblem, // no unit could be used: the outcome's problem
    Critical,          // an error box titled "Error": no answer to the connection check, or a
                       // file that would not open
    Message,           // a plain box with the result
};

NoticeKind noticeKind(const UpdateOutcome &outcome);

// What a followed unit is known of once its walk failed, as the end tells it.
enum class AfterFailure
{
    Nothing,             // nothing more to say
    NoBootloader,        // told it ran its bootloader, the target's bootloader took no page
    BackUnchanged,       // stopped before its first page, and back in its application
    MayStayInBootloader, // the ControlPanel's exit was not confirmed, or it came back silent
    StayedInBootloader,  // the ControlPanel never left: its bootloader took the exit for data
    NotBackAfterFailure, // the ControlPanel left and did not come back
    BoardInBootloader,   // the control board stays in its bootloader
};

AfterFailure afterFailure(const UpdateOutcome &outcome);

// The end in the engine's words: what happened and where the unit is, with no front end's advice.
// For every end the window can reach it is the window's own text; where the unit was followed
// (outcome.followed) it says where the unit went.
QString outcomeText(const UpdateOutcome &outcome);
