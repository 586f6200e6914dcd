#pragma once

#include "CliStreams.h"
#include "RestartTiming.h"
#include "UnitSelection.h"
#include "UpdateTarget.h"

#include <QByteArray>
#include <QString>

#include <vector>

// zelupdate-cli's verbs and their options, each one entry: the command line is parsed, checked
// and dispatched from these tables, and --help is written from them. A new verb or option is one
// entry here.

// How long an update waits for the ControlPanel to leave the bus after each command that restarts
// it, and then to come back, unless --leave-timeout and --restart-timeout say otherwise.
constexpr int kDefaultLeaveTimeoutSeconds = RestartTimeouts().departureMs / 1000;
constexpr int kDefaultRestartTimeoutSeconds = RestartTimeouts().returnMs / 1000;
// The longest either option takes: an hour, far beyond any restart.
constexpr int kMaxTimeoutSeconds = 3600;

// What a command line asks of its verb once parsed and checked.
struct VerbRequest
{
    const UpdateTarget *target = nullptr; // --target
    // The HEX file byte for byte as given: a name that is not UTF-8 still opens.
    QByteArray file;
    bool json = false;             // --json
    bool allowNoEndRecord = false; // --allow-no-eof
    QByteArray sha256;             // --sha256: the image the file must hold; empty: any
    int waitSeconds = -1;          // --wait; -1: a ControlPanel must be attached already
    UnitChoice unit;               // --port, --serial
    int leaveTimeoutSeconds = kDefaultLeaveTimeoutSeconds;     // --leave-timeout
    int restartTimeoutSeconds = kDefaultRestartTimeoutSeconds; // --restart-timeout
    bool inBootloader = false;                                 // --in-bootloader
    bool restart = false;                                      // --restart
    bool yes = false;                                          // --yes
    bool all = false;                                          // --all
    bool each = false;                                         // --each
    QByteArray recordFile; // --record: byte for byte as given; empty: nothing is recorded
};

// An option a verb may take: --name, or --name VALUE.
struct VerbOption
{
    const char *name;
    const char *valueName; // null for a flag
    const char *help;
    // Takes the option into the request, with its value when it has one. Returns why the value
    // is not understood; empty when it is taken. The value is byte for byte as given.
    QString (*take)(const QByteArray &value, VerbRequest &request);
};

// "--target panel|board", "--json": the option as usage lines and messages show it.
QString optionSyntax(const VerbOption &option);

struct VerbOptionUse
{
    const VerbOption *option;
    bool required;
};

struct Verb
{
    const char *name;
    const char *summary;
    std::vector<VerbOptionUse> options; // the options it takes; any other is a usage error
    bool takesFile;                     // exactly one HEX file, or none at all
    int (*run)(CliStreams &io, const VerbRequest &request); // returns the exit status
};

// Every verb's options, in the order --help lists them.
const std::vector<const VerbOption *> &verbOptions();
// The verbs, in the order --help lists them.
const std::vector<Verb> &verbs();

// The program's own options, taken without a verb.
struct ProgramOption
{
    const char *shortName;
    const char *name;
    const char *help;
};
constexpr ProgramOption kHelpOption{"h", "help", "Shows this help."};
constexpr ProgramOption kVersionOption{"v", "version", "Shows the version."};
