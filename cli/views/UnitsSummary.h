#pragma once

#include "UnitWorker.h"

#include <QJsonObject>
#include <QString>

#include <vector>

// How `update --all` sums its units up.

// Whether port `a` comes before port `b`: "1-2" before "1-10", as the bus numbers them.
bool portBefore(const QString &a, const QString &b);

// The program's exit status for the units' own, in port order: 0 when every unit was updated;
// else 1 when any may hold an incomplete firmware; else the first failing unit's. No unit: 4.
int allUnitsExitCode(const std::vector<int> &codesInPortOrder);

// A unit's result as a table shows it, on one line: "updated", or its exit code and why; then
// the warning, if any.
QString unitResultLine(int exitCode, const QString &result, const QString &warning = QString());

// The table of every unit (port, serial number, result, seconds), aligned, a line each.
QString summaryTable(const std::vector<const UnitReport *> &units);

// {"event":"summary","units":[{"port","serial","exitCode","result","seconds"[,"warning"]}...],
//  "exitCode"}
QJsonObject summaryJson(const std::vector<const UnitReport *> &units, int exitCode);
