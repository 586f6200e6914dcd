#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <memory>

struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
// A C stream that is closed on every path out of its owner's scope.
using HexFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the named HEX file for reading as text, or returns null. Only a regular file is taken:
// a named pipe, a device or a folder could block the program or never end, so those are refused
// before anything is read. Opening never blocks.
HexFile openHexFile(const QString &name);
// The same with the name byte for byte as the system has it, which need not be UTF-8.
HexFile openHexFile(const QByteArray &name);
