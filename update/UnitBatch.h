#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

// Many units updated at once, and the one end that sums them up.

// Whether port `a` comes before port `b`: "1-2" before "1-10", as the bus numbers them, and a
// hub's port before the ports behind it.
bool portBefore(const QString &a, const QString &b);

// How one unit of a batch ended, as far as the batch's end goes.
enum class UnitVerdict
{
    Updated,
    MayBeIncomplete, // writing had begun, or may have: its firmware may be incomplete
    Failed,          // for any other reason; its firmware is whole
};

// The unit whose end decides the batch, its units in port order: any unit that may hold an
// incomplete firmware outranks every other end, the first of them; else the first that failed.
// None when every unit was updated, or there is none.
std::optional<std::size_t> decidingUnit(const std::vector<UnitVerdict> &inPortOrder);
