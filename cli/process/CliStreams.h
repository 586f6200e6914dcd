#pragma once

#include "AccessSession.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <functional>
#include <optional>
#include <vector>

#include <unistd.h>

class UpdateEvents;

// Where a command writes, and the parts of its surroundings a test replaces.
struct CliStreams
{
    CliStreams(QTextStream &out, QTextStream &err, bool errIsTerminal)
        : out(out), err(err), errIsTerminal(errIsTerminal)
    {
    }

    QTextStream &out; // results, and JSON Lines with --json
    QTextStream &err; // messages and progress
    // Progress redraws one line only on a terminal; elsewhere it writes a plain line a phase.
    bool errIsTerminal;
    // The width of that terminal in columns, asked at each redraw; 0 when it cannot tell. Empty:
    // progress lines are never cut.
    std::function<int()> errColumns;

    // Where probe --restart asks before it restarts a unit: only on a terminal.
    bool inIsTerminal = ::isatty(STDIN_FILENO) != 0;
    // The answer typed, one line. Empty: read from standard input.
    std::function<QString()> readAnswer;

    // Blocks for the sequence's wait steps and between the polls of --wait. Empty: sleeps.
    std::function<void(int milliseconds)> pause;
    // Pauses through `pause`, or sleeps.
    void wait(int milliseconds) const
    {
        if (pause)
            pause(milliseconds);
        else
            QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
    // Where udev reads rules from, the folders `list` looks for the ControlPanel's rule in.
    QStringList udevRuleFolders{QStringLiteral("/usr/lib/udev/rules.d"),
                                QStringLiteral("/lib/udev/rules.d"),
                                QStringLiteral("/etc/udev/rules.d")};
    // Root opens any hidraw node, so then an open says nothing about the udev rule.
    bool runningAsRoot = ::geteuid() == 0;
    // An update tells when its bootloader entry command is about to be sent (from then on an
    // interruption is deferred), and asks after each page whether the user wants it to stop.
    // Empty: nothing is deferred, nothing stops.
    std::function<void()> enteringBootloader;
    std::function<bool()> stopRequested;
    // probe --restart tells when its restart command is about to be sent: from then on an
    // interruption is deferred until the unit is back in its application. Which signal asked the
    // stop (0: none) gives the probe its exit status. Empty: nothing is deferred.
    std::function<void()> probeRestarting;
    std::function<int()> stopSignal;
    // update --each is told when it waits between units (true) and when a unit's update begins
    // (false), and asks while it waits whether the user wants it to end. Empty: it never ends.
    std::function<void(bool between)> betweenUnits;
    std::function<bool()> endRequested;
    // update --all tells when its workers start (from then on they take the signals), then asks
    // which signals, sent to this program alone, to pass on to them. Empty: none.
    std::function<void()> supervising;
    std::function<std::vector<int>()> signalsToPass;
    // Set once the run has said that no folder takes lock files: it says so once a run.
    bool noLockFolderSaid = false;
    // Whether the user is at the seat or in the rule's group, which decides `list`'s advice.
    // Unset: this process's own (currentAccessSession), looked up only by `list`.
    std::optional<AccessSession> accessSession;
    // While --record records: an update's events and a probe's report are heard there too.
    // Null, empty: nothing is recorded.
    UpdateEvents *recordedEvents = nullptr;
    std::function<void(const QJsonObject &report)> recordFindings;
};
