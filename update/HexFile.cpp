#include "HexFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

HexFile openHexFile(const QString &name)
{
    // The name goes to the system in the file system's own encoding, so any name the user could
    // pick can be opened.
    return openHexFile(QFile::encodeName(name));
}

HexFile openHexFile(const QByteArray &name)
{
    // O_NONBLOCK keeps a named pipe without a writer from blocking the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    // Reads of a regular file never block; the flag is cleared all the same so the stream
    // behaves like any other.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE *file = ::fdopen(fd, "r");
    if (!file)
        ::close(fd);
    return HexFile(file);
}
