#include "FileUse.h"

#include <QFile>

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

int descriptorsOn(const QByteArray &path)
{
    DIR *folder = opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int count = 0;
    while (const dirent *entry = readdir(folder)) {
        const QByteArray link = QByteArray("/proc/self/fd/") + entry->d_name;
        char target[4096];
        const ssize_t length = readlink(link.constData(), target, sizeof target);
        if (length > 0 && QByteArray(target, int(length)) == path)
            ++count;
    }
    closedir(folder);
    return count;
}

FileUse::FileUse(const QString &path)
    : queue(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      watch(inotify_add_watch(queue, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE))
{
}

FileUse::~FileUse()
{
    ::close(queue);
}

QStringList FileUse::events()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(queue, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                seen << QStringLiteral("open");
            if (event->mask & IN_CLOSE)
                seen << QStringLiteral("close");
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return seen;
}
