#pragma once

#include "UpdateProgress.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// What a worker has told of its unit so far, and how it ended.
struct UnitReport
{
    QString port;
    QString serial;
    bool begun = false; // a phase was announced
    UpdatePhase phase = UpdatePhase::Connecting;
    int done = 0;
    int total = 0;
    QElapsedTimer phaseClock; // since the phase began
    // A phase from the bootloader entry on was announced: an end without a result may have left
    // the firmware incomplete.
    bool entered = false;

    bool ended = false;
    int exitCode = 0;
    QString result; // the worker's result text, or why it ended without one
    double seconds = 0;
    QString sha256;  // of the image the worker loaded; empty when it named none
    QString warning; // the warnings it gave, joined
};

// One unit's update under `update --all`: this program run again as a process of its own, for
// the unit at one port, with its JSON Lines read as they come (JsonLines.h), its exit status
// taken from its result. A process a unit keeps each unit's
// lock, device handle and failures apart from the others'.
class UnitWorker
{
public:
    UnitWorker(const QString &port, const QString &serial);
    ~UnitWorker(); // a worker still running is ended: nothing is left behind
    UnitWorker(const UnitWorker &) = delete;
    UnitWorker &operator=(const UnitWorker &) = delete;

    // Each line the worker writes on standard output, parsed, with the unit's port and serial
    // number added; a line that is not a JSON object comes as a message.
    std::function<void(const QJsonObject &event)> onEvent;
    // Each non-blank line it writes on standard error.
    std::function<void(const QString &line)> onMessage;
    // It ended, in whatever way: report() tells how.
    std::function<void()> onEnded;

    // Runs the worker, handed `request` on its standard input (WorkerRequest.h).
    void start(const QString &program, const QStringList &arguments, const QByteArray &request);
    // The unit cannot be given a worker: it ends at once, with no usable ControlPanel (4) and why.
    void giveUp(const QString &why) { end(why); }
    // Passes a signal on to the worker while it runs.
    void pass(int signal);
    const UnitReport &report() const { return unit; }

private:
    void readOutput();
    void readMessages();
    void take(const QJsonObject &event);
    // Sets the unit's code and result when the worker ended without giving a result.
    void endedWithoutResult(int status);
    void end(const QString &failure);

    QProcess process;
    QElapsedTimer clock;
    UnitReport unit;
    bool resultSeen = false;
};
