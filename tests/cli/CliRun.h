#pragma once

// Runs zelupdate-cli's command lines in this process, on the simulated devices, and keeps what
// they wrote.

#include "AccessSession.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct CliRun
{
    int code = -1;
    QString out;
    QString err;
    QList<int> pauses; // each pause asked for, in milliseconds, in order
};

struct CliSetup
{
    bool errIsTerminal = false;
    // Called for each pause, which never sleeps; every pause is recorded in CliRun::pauses.
    std::function<void(int milliseconds)> pause;
    QStringList udevRuleFolders;
    bool runningAsRoot = false;
    std::optional<AccessSession> accessSession; // unset: this process's
    int errColumns = 0; // the terminal's width; 0: progress lines are not cut
    bool inIsTerminal = false;
    QString answer; // typed at each question
    // Asked by update --each between units, as the program asks whether Ctrl-C was pressed.
    std::function<bool()> endRequested;
};

// `arguments` come after the program's name, each given to it as its UTF-8 bytes.
CliRun runCli(const QStringList &arguments, const CliSetup &setup = CliSetup());
// The same byte for byte, as argv holds them.
CliRun runCli(const QByteArrayList &arguments, const CliSetup &setup = CliSetup());

// One Intel HEX record line, with its checksum and a line feed.
QByteArray hexRecord(quint16 address, quint8 type, const QByteArray &data);

// The file as GNU objcopy makes it a flat image (-O binary --gap-fill 0xff), padded with 0xFF to
// `size` bytes. Empty when objcopy is missing or fails. The image starts at the file's lowest
// address, so the files given here start at 0.
QByteArray objcopyImage(const QString &hexFile, int size);
