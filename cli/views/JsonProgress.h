#pragma once

#include "JsonLines.h"
#include "PhaseView.h"

#include <QTextStream>

// An update's events as JSON Lines on standard output (JsonLines.h): the unit chosen, each phase as
// it begins, its progress each time the phase's whole percentage grows, the entry, warnings.
class JsonProgress : public PhaseView
{
public:
    explicit JsonProgress(QTextStream &out) : out(out) {}

    void begin(UpdatePhase phase, int total) override;
    void advance(int done) override;
    void settle() override {}
    void chosen(const UnitIdentity &unit) override;
    void entering() override;
    void warned(const QString &text) override;

private:
    QTextStream &out;
    PhaseLines phaseLines;
};
