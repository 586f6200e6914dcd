#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// How text from outside is shown to a person: a device's strings, a node's name, hidapi's words, a
// file name as given, a history written by hand. Control characters, line and paragraph
// separators and bidirectional controls are escaped as \n, \x1b, \u202e..., and a backslash is
// doubled, so that no such text can forge a line, move the cursor or pass for an escape.

QString printable(const QString &text);
QString printable(const std::string &text);  // UTF-8
QString printable(const std::wstring &text); // as hidapi gives a device's strings

// The same for text whose tabs and line feeds are its own layout and whose backslashes are its own
// escapes already (the update history): those pass as they are, every other character printable()
// escapes is escaped.
QString printableLayout(const QString &text);

// A name byte for byte as the system has it (a file name as given on the command line): its valid
// UTF-8 shown as printable() shows text, and each byte that is not UTF-8 as \xNN. So two names
// never look the same.
QString printableName(const QByteArray &name);
