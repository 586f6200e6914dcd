#pragma once

#include <QJsonObject>
#include <QString>
#include <QTextStream>

// How results reach standard output.

// Writes the object as one line of compact JSON and flushes it, so that a script reading the
// stream sees each line as it comes. JSON's own escapes keep any name on its line.
void writeJsonLine(QTextStream &out, const QJsonObject &object);

// A text of several lines as one "name: value" line holds it: its non-blank lines, trimmed and
// escaped, joined by " / ".
QString oneLine(const QString &text);
