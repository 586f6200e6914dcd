#include "CliRun.h"

#include "CommandLine.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

CliRun runCli(const QStringList &arguments, const CliSetup &setup)
{
    QByteArrayList bytes;
    for (const QString &argument : arguments)
        bytes << argument.toUtf8();
    return runCli(bytes, setup);
}

CliRun runCli(const QByteArrayList &arguments, const CliSetup &setup)
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliStreams io(outStream, errStream, setup.errIsTerminal);
    CliRun run;
    io.pause = [&run, &setup](int milliseconds) {
        run.pauses << milliseconds;
        if (setup.pause)
            setup.pause(milliseconds);
    };
    io.udevRuleFolders = setup.udevRuleFolders;
    io.runningAsRoot = setup.runningAsRoot;
    io.accessSession = setup.accessSession;
    io.inIsTerminal = setup.inIsTerminal;
    io.readAnswer = [&setup] { return setup.answer; };
    io.endRequested = setup.endRequested;
    if (setup.errColumns > 0)
        io.errColumns = [&setup] { return setup.errColumns; };
    run.code = runCommandLine(QByteArrayList{"zelupdate-cli"} + arguments, io);
    outStream.flush();
    errStream.flush();
    run.out = out;
    run.err = err;
    return run;
}

QByteArray hexRecord(quint16 address, quint8 type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (const char byte : bytes)
        sum += quint8(byte);
    bytes.append(char(quint8(0x100 - sum)));
    return ':' + bytes.toHex().toUpper() + '\n';
}

QByteArray objcopyImage(const QString &hexFile, int size)
{
    QTemporaryDir folder;
    const QString binary = folder.filePath(QStringLiteral("image.bin"));
    QProcess objcopy;
    objcopy.start(QStringLiteral("objcopy"),
                  {QStringLiteral("-I"), QStringLiteral("ihex"), QStringLiteral("-O"),
                   QStringLiteral("binary"), QStringLiteral("--gap-fill"), QStringLiteral("0xff"),
                   hexFile, binary});
    if (!objcopy.waitForFinished(30000) || objcopy.exitStatus() != QProcess::NormalExit ||
        objcopy.exitCode() != 0)
        return QByteArray();
    QFile file(binary);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray image = file.readAll();
    if (image.size() > size)
        return QByteArray();
    return image.append(QByteArray(size - image.size(), char(0xFF)));
}
