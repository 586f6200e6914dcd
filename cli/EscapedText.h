#pragma once

#include <QByteArray>
#include <QString>

// Names and strings from outside (file names, device strings, the loader's messages about a file)
// as human output shows them: a name must never forge a line or move the terminal's cursor.
// Control characters become \n, \t, \r or \xNN (\x1b, \x7f, \x9b, ...), a backslash \\, so that
// what is shown tells the name apart from any other. JSON needs none of this: its own escapes do.

QString escapedText(const QString &text);

// A name byte for byte as the system has it: valid UTF-8 shown as its characters, escaped as
// escapedText does, and each byte that is not UTF-8 as \xNN.
QString escapedName(const QByteArray &name);

// A message of several lines, from the engine or a device: its line feeds stay line breaks, and
// every other control character is escaped within its line.
QString escapedLines(const QString &text);
