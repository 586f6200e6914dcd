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
//   "wait: <label> <steps>", "steps: 1 2 ...", "wait again", "wait over",
//   "walk: start <maximum>", "walk: finish", "history not written: <why>".
// The file dialog is answered from a list; the pauses are counted and never slept; the page walk
// is recorded step by step in `walk`.
class RecordingHost : public SequenceHost
{
public:
    RecordingHost();

    void showConnectionError(const ConnectionProblem &problem) override;
    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    QString chooseHexFile() override;
    void startWait(const QString &label, int steps) override;
    void waitStep(int value) override;
    void restartWait() override;
    void finishWait() override;
    void pause(int milliseconds) override;
    ProgressReporter &progress() override { return walk; }
    void phaseChanged(UpdatePhase phase) override;
    QString frontEnd() const override { return QStringLiteral("recording host"); }
    void historyNotWritten(const QString &why) override;

    // Answers to the file dialog in turn; an empty one, or none left, chooses nothing.
    QStringList files;
    // Called with the chosen file before the sequence gets it.
    std::function<void(const QString &)> onChosen;
    // Called after each wait step has been recorded.
    std::function<void(int)> onWaitStep;
    // With a path set (canonical, as the file system names it), how many descriptors the process
    // held on it as each line was recorded, one entry per line.
    QByteArray watched;

    QStringList calls;
    QVector<int> held;
    QStringList phases; // "entering", "waiting", "leaving"
    int pauses = 0;
    int pausedMs = 0;
    int stepsWithoutPause = 0; // wait steps not preceded by a pause of their own

    // The walk's progress; its start and finish are lines of `calls` too.
    class Walk : public RecordingProgress
    {
    public:
        explicit Walk(RecordingHost &host) : host(host) {}
        void start(int maximum) override;
        void finish() override;

    private:
        RecordingHost &host;
    } walk;

private:
    void note(const QString &line);

    bool pausedSinceStep = false;
};
