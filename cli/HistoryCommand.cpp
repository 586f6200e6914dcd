#include "HistoryCommand.h"

#include "CliTexts.h"
#include "ExitCodes.h"
#include "UpdateHistory.h"

#include <QFile>

int runHistory(CliStreams &io)
{
    QFile file(historyPath());
    if (!file.exists())
        return kExitOk;
    if (!file.open(QIODevice::ReadOnly)) {
        io.err << kProgramName << ": cannot read " << file.fileName() << ": " << file.errorString()
               << '\n';
        io.err.flush();
        return kExitFailedWhileWriting;
    }
    io.out << QString::fromUtf8(file.readAll());
    io.out.flush();
    return kExitOk;
}
