#pragma once

#include "CliStreams.h"
#include "UnitWorker.h"

#include <QJsonObject>

#include <vector>

// How `update --all` shows its units while they update. With --json, every worker's event on
// standard output, with its unit's port and serial number. On a terminal, a line per unit (port,
// serial number, phase, pages, percent) redrawn in place at the bottom, the workers' messages
// scrolling above it. In a log, each phase and message on a line of its own, after its unit's port.
class UnitsView
{
public:
    // The units, in the order they are shown; they outlive the view.
    UnitsView(CliStreams &io, bool json, std::vector<const UnitReport *> units);

    void event(const UnitReport &unit, const QJsonObject &event);
    void message(const UnitReport &unit, const QString &line);
    // A unit's state changed: its line is redrawn at the next refresh().
    void changed() { dirty = true; }
    // Redraws the terminal's lines when something changed since the last time.
    void refresh();

private:
    enum class Form
    {
        Json,
        Terminal,
        Log,
    };

    QString unitLine(const UnitReport &unit) const;
    void clearLines();
    void drawLines();

    CliStreams &io;
    const Form form;
    const std::vector<const UnitReport *> units;
    int portWidth = 0;
    int serialWidth = 0;
    int linesDrawn = 0;
    bool dirty = true;
};
