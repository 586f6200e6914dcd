#include "JsonProgress.h"

#include "JsonLines.h"
#include "ResultOutput.h"

void JsonProgress::begin(UpdatePhase next, int units)
{
    writeJsonLine(out, phaseLines.begin(next, units, unitPort));
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
    if (const std::optional<QJsonObject> line = phaseLines.advance(done))
        writeJsonLine(out, *line);
}
