#pragma once

// How a page walk shows how far it has come. The window answers with a progress dialog, a test
// with a recorder, a terminal tool with a bar; the walk never knows which.
class ProgressReporter
{
public:
    virtual ~ProgressReporter() = default;

    // Writing starts; the walk will take `maximum` steps in all (one per used page written, one
    // per used page verified).
    virtual void start(int maximum) = 0;
    // A page is done; `value` is the number of steps taken so far. Called once per page, so it is
    // also the place to keep a display responsive.
    virtual void step(int value) = 0;
    // Writing is over and reading back begins, at `value` steps.
    virtual void startVerifying(int value) = 0;
    // The walk is over, successful or not; nothing more is reported.
    virtual void finish() = 0;
};

// For callers that show no progress: benchmarks, scripted runs.
class SilentProgress : public ProgressReporter
{
public:
    void start(int) override {}
    void step(int) override {}
    void startVerifying(int) override {}
    void finish() override {}
};
