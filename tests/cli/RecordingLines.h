#pragma once

// What the tests read out of a recording's lines (docs/recording.md).

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

// Each report written, as its hexadecimal digits, in order.
QStringList writtenReports(const std::vector<QJsonObject> &lines);
// Each read's bytes, or "timeout" / "error", in order.
QStringList readReplies(const std::vector<QJsonObject> &lines);
// The last event of this name, or an empty object.
QJsonObject lastEvent(const std::vector<QJsonObject> &lines, const QString &name);
// The exit status the recording ends with, or -1 without one.
int exitStatus(const std::vector<QJsonObject> &lines);
// The result event without what differs from run to run (its time).
QJsonObject comparableResult(const std::vector<QJsonObject> &lines);
