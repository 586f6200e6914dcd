#pragma once

#include <QByteArray>
#include <QString>

// A name byte for byte as the system has it (a file name as given on the command line), as human
// output shows it: its valid UTF-8 shown as printable() shows text, with control characters
// escaped (\n, \x1b, ...) and a backslash doubled, and each byte that is not UTF-8 as \xNN. So a
// name can neither forge a line nor move the cursor, and two names never look the same.
QString printableName(const QByteArray &name);
