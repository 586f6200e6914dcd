#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.flush();
}

bool writeFileNamed(const QByteArray &path, const QByteArray &content)
{
    std::FILE *file = std::fopen(path.constData(), "wb");
    if (!file)
        return false;
    const bool written =
        std::fwrite(content.constData(), 1, size_t(content.size()), file) == size_t(content.size());
    return std::fclose(file) == 0 && written;
}

QByteArray readFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return QByteArray();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
