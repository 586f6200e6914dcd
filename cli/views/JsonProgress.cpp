#include "JsonProgress.h"

#include "JsonLines.h"
#include "ResultOutput.h"

void JsonProgress::begin(UpdatePhase next, int units)
{
    phase = next;
    total = units;
    percent = 0;
    writeJsonLine(out, phaseJson(phase, total, unitPort));
}

void JsonProgress::chosen(const UnitIdentity &unit)
{
    PhaseView::chosen(unit);
    writeJsonLine(out, chosenJson(unit));
}

void JsonProgress::entering()
{
    writeJsonLine(out, enteringJson());
}

void JsonProgress::warned(const QString &text)
{
    writeJsonLine(out, warningJson(text));
}

void JsonProgress::advance(int done)
{
    if (total <= 0)
        return;
    const int now = int(qint64(done) * 100 / total);
    if (now <= percent)
        return;
    percent = now;
    writeJsonLine(out, progressJson(phase, done, total, percent));
}
