#pragma once

// One firmware per target for whole update sequences against the simulated devices: the file's
// blocks and the pages they use, the reports a whole update writes in order, and the flash it
// leaves. Shared by the window's end-to-end tests and the sequence's own.

#include "ProgrammerFixture.h"
#include "TestTarget.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

using Report = std::vector<std::uint8_t>;
using Reports = std::vector<Report>;

// ControlPanel: pages 0 and 1 (one row), page 65 (its row's first page is blank) and page 4080 up
// to the image limit, below its bootloader. Control board: page 0, part of page 2 and page 251,
// the last one below its bootloader.
std::vector<Block> blocksFor(Target target);
const std::vector<std::uint32_t> &pagesFor(Target target);

// A record reaching into the target's bootloader: the loader refuses the whole file, and says so.
QByteArray refusedFile(Target target);
QString refusal(Target target);

// The read-back comparison's message.
QString mismatch(std::uint32_t address, int expected, int actual);

// A command as the channel builds it: its two letters over whatever the last report left.
Report followedBy(const Reports &sent, char first, char second);

// The first `count` reports of a whole update (all of them for -1): the connection check, the
// bootloader entry, for the control board its start command, then the page walk. Then, when
// `exit` is set, the ControlPanel's bootloader exit, which follows wherever the walk stopped.
Reports expectedTraffic(Target target, int count, bool exit);

// Where the flash departs from the image written on the first `written` used pages and erased
// everywhere else; empty when it does not.
QString flashDifference(const std::uint8_t *flash, std::size_t size, Target target, int written);

// Writes the text as `name` inside `folder` (creating folders on the way) and returns its path,
// or an empty text when it cannot. Whatever stood there before goes first: an earlier case may
// have left a named pipe, which an open for writing would wait on.
QString writeHexFile(const QString &folder, const QString &name, const QByteArray &text);
