#pragma once

#include <QString>

// Who the udev rule opens a ControlPanel to: the user of the session at the computer's seat
// (its uaccess tag) and the plugdev group (its GROUP and MODE). What a session is decides which
// of the two can apply to it, and so what to tell a user who may not open one
// (ConnectionAdvice.h, which also finds this process's).
struct AccessSession
{
    bool atSeat = true;       // a session at a local seat; not SSH, not a service
    bool inGroup = false;     // this process holds the plugdev group
    bool groupListed = false; // the user is a member, which a process gets only from its login on
    QString user;             // the login name, for the command that adds it to the group
};
