#include "HistoryCommand.h"

#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "Printable.h"
#include "UpdateHistory.h"
#include "Utf8Text.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// What is read and written at a time: a history of any size takes no more memory than this.
constexpr qint64 kHistoryChunkBytes = 64 * 1024;

int cannotRead(CliStreams &io, const QString &path, const QString &why)
{
    io.out.flush();
    io.err << kProgramName << ": cannot read " << printable(path) << ": " << why << '\n';
    io.err.flush();
    return kExitHistoryUnreadable;
}

// Lines written before the port and serial columns were added get them, empty, so that every line
// has the header's columns; the header of such a file gets their names. Works on the bytes as
// they stream by, a line never held whole.
class ColumnFiller
{
public:
    QByteArray filled(const char *bytes, qint64 size)
    {
        QByteArray out;
        out.reserve(int(size) + 64);
        for (qint64 at = 0; at < size; ++at) {
            const char byte = bytes[at];
            if (byte == '\t') {
                ++tabs;
            } else if (byte == '\n') {
                if (tabs == kEarlierHistoryColumns - 1)
                    out += header ? laterColumnNames()
                                  : QByteArray(kHistoryColumns - kEarlierHistoryColumns, '\t');
                header = false;
                tabs = 0;
            }
            out += byte;
        }
        return out;
    }

private:
    // "\tport\tserial"
    static QByteArray laterColumnNames()
    {
        return '\t' + QByteArray(kHistoryHeader).split('\t').mid(kEarlierHistoryColumns).join('\t');
    }

    bool header = true;
    int tabs = 0;
};

} // namespace

int runHistory(CliStreams &io)
{
    const QString path = historyPath();
    // None yet is no fault; a dangling link, a folder, a pipe or a file this user may not read is.
    const QFileInfo there(path);
    if (!there.exists() && !there.isSymLink())
        return kExitOk;
    QString error;
    const int fd = openHistoryFile(path, O_RDONLY, error);
    QFile file(path);
    if (fd < 0)
        return cannotRead(io, path, error);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return cannotRead(io, path, file.errorString());
    }
    // A character cut between two pieces is completed by the next.
    Utf8Decoder decoder;
    QByteArray piece(int(kHistoryChunkBytes), Qt::Uninitialized);
    ColumnFiller columns;
    for (;;) {
        const qint64 read = file.read(piece.data(), kHistoryChunkBytes);
        if (read < 0)
            return cannotRead(io, path, file.errorString());
        if (read == 0)
            break;
        // A hand-edited or damaged line must not reach the terminal as escape sequences.
        io.out << printableLayout(decoder.decode(columns.filled(piece.constData(), read)));
    }
    io.out.flush();
    return kExitOk;
}
