#pragma once

#include "ProgrammerFixture.h"
#include "SequenceHost.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The user's side of an update sequence as a script. Every call is recorded in order as a
// readable line:
//   "file dialog", "box: <text>", "critical: <text>",
//   "connection error: <text> / <advice> / <detail>",
//   "wait: <steps>", "steps: 1 2 ...", "wait again", "wait over",
//   "walk: writing <pages>", "walk: finish", "history not written: <why>".
// Every phase announced is recorded by its name in `phases`.
// The file dialog is answered from a list; the pauses are counted and never slept; the page walk
// is recorded step by step in `walk`.
class RecordingHost : public SequenceHost, private UpdateEvents
{
public:
    RecordingHost();

    ChosenFirmware chooseFirmware() override;
    void finishWait() override;
    void pause(int milliseconds) override;
    UpdateEvents &events() override { return *this; }
    QString frontEnd() const override { return QStringLiteral("recording host"); }
    void historyNotWritten(const QString &why) override;

    // Answers to the file dialog in turn; an empty one, or none left, chooses nothing.
    QStringList files;
    // Handed over with the next file, as a front end that loaded and checked it already would.
    ChosenFirmware preloaded;
    // Called with the chosen file before the sequence gets it.
    std::function<void(const QString &)> onChosen;
    // Called after each wait step has been recorded.
    std::function<void(int)> onWaitStep;
    // Called at each pause, before it is counted.
    std::function<void()> onPause;
    // With a path set (canonical, as the file system names it), how many descriptors the process
    // held on it as each line was recorded, one entry per line.
    QByteArray watched;

    QStringList calls;
    QVector<int> held;
    QStringList phases; // "connecting", "entering", "waiting", ... as phaseName gives them
    int pauses = 0;
    int pausedMs = 0;
    int stepsWithoutPause = 0; // wait steps not preceded by a pause of their own

    // Every phase and its progress. The walk's events are recorded in `walk.events` (as
    // RecordingProgress writes them); the waits, the walk's start and its end are lines of
    // `calls` too.
    class Walk : public RecordingProgress
    {
    public:
        explicit Walk(RecordingHost &host) : host(host) {}
        void phaseBegins(UpdatePhase phase, int total) override;
        void advanced(int done) override;
        void walkEnded() override;

    private:
        RecordingHost &host;
        bool inWalk = false;
    } walk;

private:
    // The events, recorded as the window would show them.
    void phaseBegins(UpdatePhase phase, int total) override { walk.phaseBegins(phase, total); }
    void progressed(int done) override { walk.advanced(done); }
    void walkEnded() override { walk.walkEnded(); }
    void ended(const UpdateOutcome &outcome) override;

    void note(const QString &line);
    void waitStep(int value);

    bool pausedSinceStep = false;
};
