#pragma once

#include <QElapsedTimer>

// How long a clock has run, as the program reports it.

inline double secondsSince(const QElapsedTimer &clock)
{
    return double(clock.elapsed()) / 1000;
}

inline double millisecondsSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}
