#include "RecordingFile.h"

#include "RecordingFormat.h"

#include <QFile>
#include <QJsonDocument>

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough that a report and its reply take one write into the stream.
constexpr unsigned kGzipBuffer = 256 * 1024;
constexpr std::size_t kReadChunk = 256 * 1024;

bool compressed(const QString &path)
{
    return path.endsWith(QLatin1String(".gz"));
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

RecordingWriter::~RecordingWriter()
{
    finish();
}

RecordingFileOutcome RecordingWriter::open(const QString &name)
{
    path = name;
    const QByteArray encoded = QFile::encodeName(name);
    const auto failed = [&name](const QString &why) {
        return RecordingFileOutcome{RecordingFileOutcome::End::Failed,
                                    QStringLiteral("%1: %2").arg(name, why)};
    };
    // Without blocking: a FIFO nobody reads would hold the program before it sends anything.
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    // ENXIO: a FIFO that nobody reads.
    if (fd < 0)
        return failed(errno == ENXIO ? QStringLiteral("not a regular file") : systemReason());
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return failed(QStringLiteral("not a regular file"));
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        const QString why = systemReason();
        ::close(fd);
        return failed(why);
    }
    errno = 0;
    if (compressed(name)) {
        gzFile file = gzdopen(fd, "wb");
        if (file)
            gzbuffer(file, kGzipBuffer);
        gz = file;
    } else {
        plain = ::fdopen(fd, "wb");
    }
    if (!gz && !plain) {
        const QString why = errno ? systemReason() : QStringLiteral("cannot be created");
        ::close(fd);
        return failed(why);
    }
    return {};
}

void RecordingWriter::writeBytes(const QByteArray &bytes)
{
    bool whole = false;
    errno = 0;
    if (gz)
        whole = gzwrite(static_cast<gzFile>(gz), bytes.constData(), unsigned(bytes.size())) ==
                bytes.size();
    else if (plain)
        whole = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), plain) ==
                std::size_t(bytes.size());
    if (!whole && firstFailure.isEmpty())
        firstFailure = errno ? systemReason() : QStringLiteral("a line was not written whole");
}

void RecordingWriter::write(const QJsonObject &line)
{
    writeBytes(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

RecordingFileOutcome RecordingWriter::finish()
{
    if (!gz && !plain)
        return {};
    errno = 0;
    bool closed = true;
    if (gz)
        closed = gzclose(static_cast<gzFile>(gz)) == Z_OK;
    if (plain)
        closed = std::fclose(plain) == 0;
    gz = nullptr;
    plain = nullptr;
    if (!closed && firstFailure.isEmpty())
        firstFailure = errno ? systemReason() : QStringLiteral("it could not be closed");
    if (firstFailure.isEmpty())
        return {};
    return {RecordingFileOutcome::End::Failed,
            QStringLiteral("%1 is incomplete: %2").arg(path, firstFailure)};
}

RecordingContents readRecording(const QString &path)
{
    RecordingContents contents;
    errno = 0;
    // gzread reads a file that is not compressed as it is.
    gzFile file = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!file) {
        contents.why = QStringLiteral("%1: %2").arg(
            path, errno ? systemReason() : QStringLiteral("cannot be opened"));
        return contents;
    }
    QByteArray all;
    for (;;) {
        const int at = all.size();
        all.resize(at + int(kReadChunk));
        const int got = gzread(file, all.data() + at, unsigned(kReadChunk));
        int code = Z_OK;
        const char *why = got < 0 ? gzerror(file, &code) : nullptr;
        // A compressed file cut short (its program killed) still holds the lines before the cut.
        if (got < 0 && code != Z_BUF_ERROR) {
            contents.why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(why));
            gzclose(file);
            return contents;
        }
        if (got < 0) {
            all.resize(at);
            break;
        }
        all.resize(at + got);
        if (got == 0)
            break;
    }
    gzclose(file);

    int number = 0;
    const QList<QByteArray> texts = all.split('\n');
    for (const QByteArray &text : texts) {
        ++number;
        if (text.trimmed().isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        // A last line without its line feed, cut short as its program was killed, is left out.
        if (!document.isObject() && number == texts.size() && number > 1)
            break;
        if (!document.isObject()) {
            contents.why =
                QStringLiteral("%1, line %2: not a JSON object (%3)")
                    .arg(path)
                    .arg(number)
                    .arg(error.error == QJsonParseError::NoError ? QStringLiteral("another value")
                                                                 : error.errorString());
            return contents;
        }
        contents.lines.push_back(document.object());
    }
    if (contents.lines.empty()) {
        contents.why = QStringLiteral("%1: empty, not a recording").arg(path);
        return contents;
    }
    const HeaderCheck header = checkRecordingHeader(contents.lines.front());
    if (header.end != HeaderCheck::End::Recording) {
        contents.why =
            QStringLiteral("%1: not a recording zelUpdate reads: %2").arg(path, header.why);
        return contents;
    }
    contents.end = RecordingContents::End::Read;
    return contents;
}
