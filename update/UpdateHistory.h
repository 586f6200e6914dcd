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
};

// $XDG_STATE_HOME/zelUpdate/history.tsv, with ~/.local/state when XDG_STATE_HOME is not set.
QString historyPath();

// Appends the entry as one tab-separated line, writing a header line first into a new file.
// Tabs, line breaks and backslashes in a field are written as \t, \n and \\. True on failure,
// with the reason in `error`.
bool appendHistory(const HistoryEntry &entry, QString &error);
