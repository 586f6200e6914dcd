#include "UnitBatch.h"

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
    return left.size() < right.size();
}

std::optional<std::size_t> decidingUnit(const std::vector<UnitVerdict> &inPortOrder)
{
    for (const UnitVerdict worst : {UnitVerdict::MayBeIncomplete, UnitVerdict::Failed}) {
        const auto unit = std::find(inPortOrder.begin(), inPortOrder.end(), worst);
        if (unit != inPortOrder.end())
            return std::size_t(unit - inPortOrder.begin());
    }
    return std::nullopt;
}
