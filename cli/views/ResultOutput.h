#pragma once

#include <QString>
#include <QTextStream>

// How results reach standard output.

// A text of several lines as one "name: value" line holds it: its non-blank lines, trimmed and
// escaped, joined by " / ".
QString oneLine(const QString &text);
