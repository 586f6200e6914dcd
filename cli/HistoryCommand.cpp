#include "HistoryCommand.h"

#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "UpdateHistory.h"

#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextDecoder>

#include <memory>

namespace {

// What is read and written at a time: a history of any size takes no more memory than this.
constexpr qint64 kHistoryChunkBytes = 64 * 1024;

int cannotRead(CliStreams &io, const QFile &file)
{
    io.out.flush();
    io.err << kProgramName << ": cannot read " << printable(file.fileName()) << ": "
           << file.errorString() << '\n';
    io.err.flush();
    return kExitHistoryUnreadable;
}

} // namespace

int runHistory(CliStreams &io)
{
    QFile file(historyPath());
    if (!file.open(QIODevice::ReadOnly)) {
        // None yet is no fault; a dangling link, a folder or a file this user may not read is.
        const QFileInfo there(file.fileName());
        if (!there.exists() && !there.isSymLink())
            return kExitOk;
        return cannotRead(io, file);
    }
    // A character cut between two pieces is completed by the next.
    const std::unique_ptr<QTextDecoder> decoder(QTextCodec::codecForName("UTF-8")->makeDecoder());
    QByteArray piece(int(kHistoryChunkBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(piece.data(), kHistoryChunkBytes);
        if (read < 0)
            return cannotRead(io, file);
        if (read == 0)
            break;
        io.out << decoder->toUnicode(piece.constData(), int(read));
    }
    io.out.flush();
    return kExitOk;
}
