#pragma once

#include "PhaseView.h"

#include <QTextStream>

// Progress as JSON Lines on standard output: {"event":"phase",...} as each phase begins, and
// {"event":"progress",...} each time the phase's whole percentage grows.
class JsonProgress : public PhaseView
{
public:
    explicit JsonProgress(QTextStream &out) : out(out) {}

    void begin(UpdatePhase phase, int total) override;
    void advance(int done) override;
    void settle() override {}

private:
    QTextStream &out;
    UpdatePhase phase = UpdatePhase::Connecting;
    int total = 0;
    int percent = 0;
};
