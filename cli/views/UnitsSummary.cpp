#include "UnitsSummary.h"

#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitBatch.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>

int allUnitsExitCode(const std::vector<int> &codesInPortOrder)
{
    if (codesInPortOrder.empty())
        return kExitNoControlPanel;
    std::vector<UnitVerdict> verdicts;
    for (const int code : codesInPortOrder)
        verdicts.push_back(code == kExitOk                   ? UnitVerdict::Updated
                           : code == kExitFailedWhileWriting ? UnitVerdict::MayBeIncomplete
                                                             : UnitVerdict::Failed);
    const std::optional<std::size_t> deciding = decidingUnit(verdicts);
    return deciding ? codesInPortOrder[*deciding] : kExitOk;
}

QString unitResultLine(int exitCode, const QString &result, const QString &warning)
{
    QString line =
        exitCode == kExitOk
            ? QStringLiteral("updated")
            : QStringLiteral("failed (exit code %1): %2").arg(exitCode).arg(oneLine(result));
    if (!warning.isEmpty())
        line += QStringLiteral(" / warning: ") + oneLine(warning);
    return line;
}

QString summaryTable(const std::vector<const UnitReport *> &units)
{
    const QStringList heads{QStringLiteral("port"), QStringLiteral("serial"),
                            QStringLiteral("result"), QStringLiteral("seconds")};
    std::vector<QStringList> rows{heads};
    for (const UnitReport *unit : units)
        rows.push_back({printable(unit->port), printable(unit->serial),
                        unitResultLine(unit->exitCode, unit->result, unit->warning),
                        QString::number(unit->seconds, 'f', 1)});
    std::vector<int> widths(heads.size(), 0);
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], int(row[column].size()));
    QString table;
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            const bool last = column + 1 == row.size();
            // Seconds right-aligned, under their head.
            line += last ? row[column].rightJustified(widths[column])
                         : row[column].leftJustified(widths[column]) + QStringLiteral("  ");
        }
        table += line + QLatin1Char('\n');
    }
    return table;
}

QJsonObject summaryJson(const std::vector<const UnitReport *> &units, int exitCode)
{
    QJsonArray entries;
    for (const UnitReport *unit : units) {
        QJsonObject entry{{QStringLiteral("port"), unit->port},
                          {QStringLiteral("serial"), unit->serial},
                          {QStringLiteral("exitCode"), unit->exitCode},
                          {QStringLiteral("result"), unit->result},
                          {QStringLiteral("seconds"), unit->seconds}};
        if (!unit->warning.isEmpty())
            entry.insert(QStringLiteral("warning"), unit->warning);
        entries.append(entry);
    }
    return {{QStringLiteral("event"), QStringLiteral("summary")},
            {QStringLiteral("units"), entries},
            {QStringLiteral("exitCode"), exitCode}};
}
