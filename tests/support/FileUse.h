#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How many of the process's open descriptors refer to the file (its canonical path, encoded as
// the file system names it); -1 when /proc/self/fd cannot be read.
int descriptorsOn(const QByteArray &path);

// Every open and close of one file, by anyone, as "open" and "close" in order (inotify). The file
// must exist when the watch starts.
class FileUse
{
public:
    explicit FileUse(const QString &path);
    ~FileUse();
    FileUse(const FileUse &) = delete;
    FileUse &operator=(const FileUse &) = delete;

    bool isValid() const { return queue >= 0 && watch >= 0; }
    // Everything seen since the watch started.
    QStringList events();

private:
    int queue;
    int watch;
    QStringList seen;
};
