#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// One line of the update history: every update, from either front end, once a file was chosen.
struct HistoryEntry
{
    QDateTime time;
    QString frontEnd;
    QString target;
    QString file;
    QString sha256; // empty when the file was not loaded
    std::uint32_t usedPages = 0;
    double seconds = 0;
    QString result;
    QString port;   // the unit's USB port; empty when no unit was opened
    QString serial; // its serial number
};

// $XDG_STATE_HOME/zelUpdate/history.tsv, with ~/.local/state when XDG_STATE_HOME is not set.
QString historyPath();

// The columns of a history line, as its header names them. Lines written before the last two
// columns were added end after "result".
constexpr int kHistoryColumns = 10;
constexpr int kEarlierHistoryColumns = 8;
constexpr const char *kHistoryHeader =
    "time\tfront end\ttarget\tfile\tsha256\tused pages\tseconds\tresult\tport\tserial";

// Appends the entry as one tab-separated line, writing a header line first into a new file. Each
// field is written as printable() shows it (a tab as \t, a line break as \n, a control character
// as \xNN), so a field can neither split the line nor move the cursor of a terminal that shows
// the file. Returns why it could not be written; empty when it
// was.
// Only a regular file is written: a named pipe or a device at the history's path is refused, never
// waited on. A last line without its line end gets one first.
[[nodiscard]] QString appendHistory(const HistoryEntry &entry);

// Opens the history file (or another file) with the flags, taking only a regular file, never
// following a symbolic link and never blocking to open it. Returns the descriptor, or -1 with the
// reason in `error` ("not a regular file", or the system's words).
int openHistoryFile(const QString &path, int flags, QString &error);
