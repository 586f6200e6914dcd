#pragma once

#include <QString>

// A line redrawn in place on a terminal `columns` wide (0: unknown), cut before the last column:
// a line that reaches it leaves some terminals' cursor on the next line, and every redraw after
// it would scroll.
inline QString fitToTerminal(QString line, int columns)
{
    if (columns > 0)
        line.truncate(columns - 1);
    return line;
}
