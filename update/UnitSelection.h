#pragma once

#include "AttachedUnits.h"

#include <QString>

#include <vector>

// Which unit an update is meant for: the one at a USB port, or the one with a serial number (each
// an exact match); neither: the only one attached.
struct UnitChoice
{
    QString port;
    QString serial;

    bool any() const { return port.isEmpty() && serial.isEmpty(); }
};

struct UnitSelection
{
    enum class Verdict
    {
        Chosen,
        NoneAttached,
        NotAttached, // units are attached, but not the one chosen
        Several,     // more than one, and none chosen (or one serial number on several)
    };
    Verdict verdict = Verdict::NoneAttached;
    const AttachedUnit *unit = nullptr; // when Chosen
};

UnitSelection selectUnit(const std::vector<AttachedUnit> &units, const UnitChoice &choice);

// The ports of the units, in order, as "1-1.2, 1-1.4"; a unit whose port is unknown by its path.
QString portsText(const std::vector<AttachedUnit> &units);
