#pragma once

#include "UnitBatch.h"
#include "UnitWorker.h"

#include <QJsonObject>
#include <QString>

#include <vector>

// How `update --all` sums its units up.

// The program's exit status for the units' own, in port order: the deciding unit's (decidingUnit),
// 0 when every unit was updated, 4 when there is none.
int allUnitsExitCode(const std::vector<int> &codesInPortOrder);

// A unit's result as a table shows it, on one line: "updated", or its exit code and why; then
// the warning, if any.
QString unitResultLine(int exitCode, const QString &result, const QString &warning = QString());

// The table of every unit (port, serial number, result, seconds), aligned, a line each.
QString summaryTable(const std::vector<const UnitReport *> &units);

// {"event":"summary","units":[{"port","serial","exitCode","result","seconds"[,"warning"]}...],
//  "exitCode"}
QJsonObject summaryJson(const std::vector<const UnitReport *> &units, int exitCode);
