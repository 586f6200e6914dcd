#include "UnitsView.h"

#include "JsonLines.h"
#include "TerminalWidth.h"

#include "ConnectionAdvice.h"
#include "PhaseView.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "TextProgress.h"
#include "UnitsSummary.h"

#include <algorithm>

namespace {

QString phaseLine(const UnitReport &unit)
{
    QString text = QString::fromLatin1(phaseTitle(unit.phase));
    const bool countsPages =
        unit.phase == UpdatePhase::Writing || unit.phase == UpdatePhase::Verifying;
    if (countsPages)
        text += QStringLiteral(": %1 pages").arg(unit.total);
    return text;
}

} // namespace

UnitsView::UnitsView(CliStreams &io, bool json, std::vector<const UnitReport *> units)
    : io(io), form(json               ? Form::Json
                   : io.errIsTerminal ? Form::Terminal
                                      : Form::Log),
      units(std::move(units))
{
    for (const UnitReport *unit : this->units) {
        portWidth = std::max(portWidth, int(printable(unit->port).size()));
        serialWidth = std::max(serialWidth, int(printable(unit->serial).size()));
    }
}

void UnitsView::event(const UnitReport &unit, const QJsonObject &event)
{
    switch (form) {
    case Form::Json:
        writeJsonLine(io.out, event);
        break;
    case Form::Terminal:
        dirty = true;
        break;
    case Form::Log:
        if (event.value(QStringLiteral("event")).toString() == QLatin1String("phase"))
            message(unit, phaseLine(unit));
        break;
    }
}

void UnitsView::message(const UnitReport &unit, const QString &line)
{
    clearLines();
    io.err << printable(unit.port) << ": " << printable(line) << '\n';
    drawLines();
    io.err.flush();
}

void UnitsView::refresh()
{
    if (!dirty)
        return;
    clearLines();
    drawLines();
    io.err.flush();
}

QString UnitsView::unitLine(const UnitReport &unit) const
{
    QString state;
    if (unit.ended)
        state = unitResultLine(unit.exitCode, unit.result, unit.warning) +
                QStringLiteral(" (%1 s)").arg(unit.seconds, 0, 'f', 1);
    else if (!unit.begun)
        state = QStringLiteral("starting");
    else
        state = TextProgress::line(QString::fromLatin1(phaseTitle(unit.phase)), unit.phase,
                                   unit.done, unit.total, unit.phaseClock.elapsed());
    return fitToTerminal(printable(unit.port).leftJustified(portWidth) + QStringLiteral("  ") +
                             printable(unit.serial).leftJustified(serialWidth) +
                             QStringLiteral("  ") + state,
                         io.errColumns ? io.errColumns() : 0);
}

void UnitsView::clearLines()
{
    if (linesDrawn == 0)
        return;
    // Up to the first unit's line, then clear it and everything below.
    io.err << "\x1b[" << linesDrawn << "A\r\x1b[J";
    linesDrawn = 0;
}

void UnitsView::drawLines()
{
    dirty = false;
    if (form != Form::Terminal)
        return;
    for (const UnitReport *unit : units)
        io.err << unitLine(*unit) << '\n';
    linesDrawn = int(units.size());
}
