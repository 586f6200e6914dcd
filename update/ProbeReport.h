#pragma once

#include "AttachedUnits.h"
#include "ConnectionProblem.h"
#include "RestartTiming.h"
#include "UnitFollower.h"
#include "UnitLock.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// What a probe of a real unit measured: the figures the program otherwise only assumes (how long
// a reply takes, how long the ControlPanel's restarts take, what survives them), kept so that
// they can be read later.

// One restart of the ControlPanel, into its bootloader or back, timed from the echo of the
// command that began it (or from the end of the wait for one that did not come).
struct RestartTrip : RestartTimes
{
    bool sent = false;      // the command that restarts it was sent
    bool confirmed = false; // ...and echoed
    double commandMs = 0;   // the command's round trip
};

enum class ProbeEnd
{
    Measured,
    NoUnit,                  // none attached or usable, not the one chosen, several, or locked
    RestartRefused,          // the user did not confirm the restart: nothing was sent
    NotAnswering,            // no connection check answered
    StoppedAnswering,        // it answered, then stopped
    EntryNotConfirmed,       // no echo of its bootloader entry command, whether it restarted or not
    NeverLeftForBootloader,  // still there under its old node at the departure time-out
    NeverBackInBootloader,   // gone, and not back at its port within the return time-out
    ExitNotConfirmed,        // no echo of its bootloader exit command, whether it restarted or not
    NeverLeftForApplication, // still there in its bootloader at the departure time-out
    NeverBackInApplication,  // gone from its bootloader, and not back within the return time-out
    SilentAfterReturn,       // back at its port, but its connection check is not answered
    Interrupted,             // the user stopped it; the unit was brought back to its application
};

struct ProbeReport
{
    QDateTime time; // when the probe began
    bool restart = false;
    RestartTimeouts timing;           // the time-outs of the restarts
    std::optional<AttachedUnit> unit; // as listed before anything was sent; empty: none chosen

    int checks = 0; // connection checks sent
    int failedChecks = 0;
    std::vector<double> roundTripsMs; // of those answered, in order

    RestartTrip toBootloader;
    RestartTrip toApplication;
    std::optional<double> finalCheckMs; // the connection check after the return, if answered

    ProbeEnd end = ProbeEnd::NoUnit;
    QString text; // what failed and where the unit is; empty when everything was measured
    // The probe ended with the unit perhaps in its bootloader.
    bool mayBeInBootloader = false;
    // An earlier update of the unit that ended after its entry without finishing.
    std::optional<UnitMark> unfinished;
    // When no unit could be used: why, for the front end to say as it says it for an update.
    std::optional<ConnectionProblem> problem;
};

struct RoundTripFigures
{
    double min = 0;
    double median = 0;
    double p99 = 0; // the 99th percentile, nearest rank
    double max = 0;
};

// Of the round trips given; all zero when there are none.
RoundTripFigures roundTripFigures(std::vector<double> milliseconds);

// The figures as one JSON object: `time`, `unit`, `assumed` (the figures the program works with),
// `roundTripMs` (`checks`, `failed`, `min`, `median`, `p99`, `max`), and after a restart
// `toBootloader` and `toApplication` (`leftMs`, `backMs`, `openedMs`, ... and how the unit was
// listed when back, compared with how it was listed before), `bootloaderToldApart`,
// `finalCheckMs`, and `notes`. Times not reached are null; a front end adds the result.
QJsonObject probeReportJson(const ProbeReport &report);

// What the figures mean for the program, one sentence each: a figure outside what it assumes, a
// lost reply, what does not survive a restart, whether the bootloader can be told apart without
// sending it anything. Empty when nothing was measured.
QStringList probeNotes(const ProbeReport &report);

// A USB release number (bcdDevice) as "0x0100".
QString usbReleaseText(unsigned short release);

// $XDG_STATE_HOME/zelUpdate/probe-<port>-<time>.json, beside the update history.
QString probeReportPath(const QString &port, const QDateTime &time);

// Writes the object to the path through a temporary file renamed into place, so that a report
// is there whole or not at all. Returns why it could not be written; empty when it was.
[[nodiscard]] QString keepProbeReport(const QString &path, const QJsonObject &report);
