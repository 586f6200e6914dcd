#include "UnitSelection.h"

#include <QStringList>

UnitSelection selectUnit(const std::vector<AttachedUnit> &units, const UnitChoice &choice)
{
    if (units.empty())
        return {UnitSelection::Verdict::NoneAttached, nullptr};
    std::vector<const AttachedUnit *> matching;
    for (const AttachedUnit &unit : units) {
        const bool matches =
            choice.any() ||
            (!choice.port.isEmpty() && QString::fromStdString(unit.port) == choice.port) ||
            (!choice.serial.isEmpty() &&
             QString::fromStdWString(unit.serialNumber) == choice.serial);
        if (matches)
            matching.push_back(&unit);
    }
    if (matching.empty())
        return {UnitSelection::Verdict::NotAttached, nullptr};
    // hidapi would open whichever enumerates first, and that may not be the one meant.
    if (matching.size() > 1)
        return {UnitSelection::Verdict::Several, nullptr};
    return {UnitSelection::Verdict::Chosen, matching.front()};
}

QString portsText(const std::vector<AttachedUnit> &units)
{
    QStringList ports;
    for (const AttachedUnit &unit : units)
        ports << QString::fromStdString(unit.port.empty() ? unit.path : unit.port);
    return ports.join(QStringLiteral(", "));
}
