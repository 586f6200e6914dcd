#pragma once

// Whole files written and read in one call, for tests that set up or inspect what a program
// leaves on disk.

#include <QByteArray>
#include <QString>

// Replaces the file's content; false when it cannot be written whole.
bool writeFile(const QString &path, const QByteArray &content);
// A file whose name need not be UTF-8, made without any decoding of the name.
bool writeFileNamed(const QByteArray &path, const QByteArray &content);
// The content of a regular file; empty when it cannot be read, and for anything else, which an
// open could block on.
QByteArray readFile(const QString &path);
