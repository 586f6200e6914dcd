#include "UnitsSummary.h"

#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "Printable.h"
#include "ResultOutput.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

bool portBefore(const QString &a, const QString &b)
{
    static const QRegularExpression separators(QStringLiteral("[-.]"));
    const QStringList left = a.split(separators);
    const QStringList right = b.split(separators);
    for (int at = 0; at < std::min(left.size(), right.size()); ++at) {
        bool leftNumber = false;
        bool rightNumber = false;
        const qlonglong l = left[at].toLongLong(&leftNumber);
        const qlonglong r = right[at].toLongLong(&rightNumber);
        if (leftNumber && rightNumber && l != r)
            return l < r;
        if (!(leftNumber && rightNumber) && left[at] != right[at])
            return left[at] < right[at];
    }
    // A hub's port comes before the ports behind it.
    return left.size() < right.size();
}

int allUnitsExitCode(const std::vector<int> &codesInPortOrder)
{
    if (codesInPortOrder.empty())
        return kExitNoControlPanel;
    const auto &codes = codesInPortOrder;
    if (std::find(codes.begin(), codes.end(), int(kExitFailedWhileWriting)) != codes.end())
        return kExitFailedWhileWriting;
    const auto failed =
        std::find_if(codes.begin(), codes.end(), [](int code) { return code != kExitOk; });
    return failed == codes.end() ? kExitOk : *failed;
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
