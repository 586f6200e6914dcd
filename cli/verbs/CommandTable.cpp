#include "CommandTable.h"

#include "CheckCommand.h"
#include "HistoryCommand.h"
#include "ListCommand.h"
#include "Printable.h"
#include "ProbeCommand.h"
#include "UpdateCommand.h"

#include <algorithm>

namespace {

QString takeTarget(const QByteArray &value, VerbRequest &request)
{
    request.target = targetNamed(QString::fromLatin1(value));
    if (!request.target)
        return QStringLiteral("unknown target '%1': panel or board").arg(printableName(value));
    return QString();
}

QString takeAllowNoEof(const QByteArray &, VerbRequest &request)
{
    request.allowNoEndRecord = true;
    return QString();
}

// A SHA-256 as check prints it: 64 hexadecimal digits.
QString takeSha256(const QByteArray &value, VerbRequest &request)
{
    constexpr int kDigits = 64;
    const bool hex = std::all_of(value.begin(), value.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
    if (value.size() != kDigits || !hex)
        return QStringLiteral("--sha256 needs the 64 hexadecimal digits check shows, not '%1'")
            .arg(printableName(value));
    request.sha256 = value.toLower();
    return QString();
}

QString takeWait(const QByteArray &value, VerbRequest &request)
{
    bool number = false;
    request.waitSeconds = value.toInt(&number);
    if (!number || request.waitSeconds < 0)
        return QStringLiteral("--wait needs a number of seconds, not '%1'")
            .arg(printableName(value));
    return QString();
}

// An empty port or serial number would choose no unit, and an update would take whichever is
// attached.
QString takePort(const QByteArray &value, VerbRequest &request)
{
    if (value.isEmpty())
        return QStringLiteral("--port needs a USB port, as list shows it (1-1.2)");
    request.unit.port = QString::fromUtf8(value);
    return QString();
}

// --port and --serial each name one unit, and both at once could name two. The verb table
// takes --port first.
QString takeSerial(const QByteArray &value, VerbRequest &request)
{
    if (!request.unit.port.isEmpty())
        return QStringLiteral("--port and --serial choose the same unit: give one");
    if (value.isEmpty())
        return QStringLiteral("--serial needs a serial number, as list shows it");
    request.unit.serial = QString::fromUtf8(value);
    return QString();
}

// A time-out of whole seconds, within what a restart can sensibly take: a larger one would
// overflow once counted in milliseconds.
QString takeTimeout(const char *option, const QByteArray &value, int &seconds)
{
    bool number = false;
    const int taken = value.toInt(&number);
    if (!number || taken < 1 || taken > kMaxTimeoutSeconds)
        return QStringLiteral("--%1 needs a number of seconds from 1 to %2, not '%3'")
            .arg(QLatin1String(option), QString::number(kMaxTimeoutSeconds), printableName(value));
    seconds = taken;
    return QString();
}

QString takeRestartTimeout(const QByteArray &value, VerbRequest &request)
{
    return takeTimeout("restart-timeout", value, request.restartTimeoutSeconds);
}

QString takeLeaveTimeout(const QByteArray &value, VerbRequest &request)
{
    return takeTimeout("leave-timeout", value, request.leaveTimeoutSeconds);
}

QString takeInBootloader(const QByteArray &, VerbRequest &request)
{
    request.inBootloader = true;
    return QString();
}

QString takeRestart(const QByteArray &, VerbRequest &request)
{
    request.restart = true;
    return QString();
}

// Nothing to say yes to without --restart, which the verb table takes first.
QString takeYes(const QByteArray &, VerbRequest &request)
{
    if (!request.restart)
        return QStringLiteral("--yes answers the question of --restart: give both or neither");
    request.yes = true;
    return QString();
}

// --all and --each choose their units themselves, and --each waits for them itself.
QString takeAll(const QByteArray &, VerbRequest &request)
{
    request.all = true;
    if (!request.unit.any())
        return QStringLiteral("--all updates every attached unit: not with --port or --serial");
    if (request.waitSeconds >= 0 || request.inBootloader)
        return QStringLiteral("--all takes no --wait or --in-bootloader");
    return QString();
}

QString takeEach(const QByteArray &, VerbRequest &request)
{
    request.each = true;
    if (request.all)
        return QStringLiteral("--all and --each: give one");
    if (!request.unit.serial.isEmpty() || request.waitSeconds >= 0 || request.inBootloader)
        return QStringLiteral("--each takes no --serial, --wait or --in-bootloader");
    return QString();
}

// One recording holds one unit's conversation; --all and --each talk to many.
QString takeRecord(const QByteArray &value, VerbRequest &request)
{
    if (value.isEmpty())
        return QStringLiteral("--record needs the name of the file to write");
    if (request.all || request.each)
        return QStringLiteral("--record records one unit: not with --all or --each");
    request.recordFile = value;
    return QString();
}

QString takeJson(const QByteArray &, VerbRequest &request)
{
    request.json = true;
    return QString();
}

const VerbOption kTarget{"target", "panel|board",
                         "The ControlPanel (panel) or the ZEL02 control board (board).",
                         takeTarget};
const VerbOption kAllowNoEof{"allow-no-eof", nullptr,
                             "Takes a file that has no end-of-file record: update writes it, "
                             "check judges it as such an update would.",
                             takeAllowNoEof};
const VerbOption kSha256{"sha256", "SHA256",
                         "Refuses the file unless its image has this SHA-256, as check shows it: "
                         "only the firmware meant is written.",
                         takeSha256};
const VerbOption kWait{"wait", "SECONDS",
                       "Waits up to SECONDS for exactly one ControlPanel (or the one --port or "
                       "--serial names) to be attached, then updates it.",
                       takeWait};
const VerbOption kPort{"port", "PORT",
                       "Chooses the ControlPanel at this USB port (as list shows it, 1-1.2) "
                       "when more than one is attached.",
                       takePort};
const VerbOption kSerial{"serial", "SERIAL",
                         "Chooses the ControlPanel with this serial number instead; not with "
                         "--port.",
                         takeSerial};
const VerbOption kRestartTimeout{"restart-timeout", "SECONDS",
                                 "Waits up to SECONDS for the ControlPanel to come back from "
                                 "each of its restarts.",
                                 takeRestartTimeout};
const VerbOption kLeaveTimeout{"leave-timeout", "SECONDS",
                               "Waits up to SECONDS for the ControlPanel to leave the bus after "
                               "each command that restarts it.",
                               takeLeaveTimeout};
const VerbOption kInBootloader{"in-bootloader", nullptr,
                               "Updates a unit that runs its bootloader already, as an update that "
                               "failed or was cut short leaves it: no connection check, no "
                               "entry command.",
                               takeInBootloader};
const VerbOption kRestart{"restart", nullptr,
                          "probe: restarts the ControlPanel into its bootloader and back, and "
                          "times both restarts; asks first.",
                          takeRestart};
const VerbOption kYes{"yes", nullptr,
                      "probe --restart: restarts without asking, as it must when standard input "
                      "is not a terminal.",
                      takeYes};
const VerbOption kAll{
    "all", nullptr,
    "Updates every attached ControlPanel at once, each in a process of its own, then sums them up. "
    "Exits 0 when every unit was updated; else 1 when any may hold an incomplete firmware; else "
    "the code of the first failing unit by port.",
    takeAll};
const VerbOption kEach{"each", nullptr,
                       "Updates each ControlPanel plugged in (at --port only, if given), one after "
                       "the other, until Ctrl-C; a unit is updated once while it stays attached. "
                       "Exits 0 when every unit was updated, else 1.",
                       takeEach};
const VerbOption kJson{"json", nullptr,
                       "Writes JSON Lines on standard output: each phase, each 1% of progress, "
                       "then the result; probe: its report as one object.",
                       takeJson};

const VerbOption kRecord{"record", "FILE",
                         "Writes the whole conversation with the unit into FILE for the "
                         "developers: every report and reply with its time, the units listed, "
                         "and what the update or probe found (JSON Lines, gzip when FILE ends in "
                         ".gz).",
                         takeRecord};

int list(CliStreams &io, const VerbRequest &request)
{
    return runList(io, request.unit, request.json);
}

int history(CliStreams &io, const VerbRequest &)
{
    return runHistory(io);
}

} // namespace

QString optionSyntax(const VerbOption &option)
{
    QString text = QStringLiteral("--") + QLatin1String(option.name);
    if (option.valueName)
        text += QLatin1Char(' ') + QLatin1String(option.valueName);
    return text;
}

const std::vector<const VerbOption *> &verbOptions()
{
    static const std::vector<const VerbOption *> options{
        &kTarget,       &kAllowNoEof, &kSha256, &kWait,         &kPort,
        &kSerial,       &kRestart,    &kYes,    &kLeaveTimeout, &kRestartTimeout,
        &kInBootloader, &kAll,        &kEach,   &kJson,         &kRecord,
    };
    return options;
}

const std::vector<Verb> &verbs()
{
    static const std::vector<Verb> table{
        {"list",
         "Lists every attached ControlPanel by its USB port, whether this user can open it, and "
         "whether the udev rule 70-zelupdate-controlpanel.rules is in force.",
         {{&kPort, false}, {&kSerial, false}, {&kJson, false}, {&kRecord, false}},
         false,
         list},
        {"check",
         "Loads FILE as an update of the target would, sums it up (used pages, data bytes, "
         "address ranges, SHA-256) and gives the verdict the update would. Opens no device.",
         {{&kTarget, true}, {&kAllowNoEof, false}, {&kSha256, false}, {&kJson, false}},
         true,
         runCheck},
        {"update",
         "Loads FILE, then writes it into the target and reads every written page back. A file "
         "that would be refused never starts a bootloader.",
         {{&kTarget, true},
          {&kAllowNoEof, false},
          {&kSha256, false},
          {&kWait, false},
          {&kPort, false},
          {&kSerial, false},
          {&kLeaveTimeout, false},
          {&kRestartTimeout, false},
          {&kInBootloader, false},
          {&kJson, false},
          // Last: they refuse the options that choose a unit, taken before them.
          {&kAll, false},
          {&kEach, false},
          // After them: it refuses them.
          {&kRecord, false}},
         true,
         runUpdate},
        {"probe",
         "Measures what the program assumes of a ControlPanel: how long its replies take and, "
         "with --restart, its restarts into its bootloader and back. Writes nothing to its flash "
         "and keeps the report beside the history.",
         {{&kPort, false},
          {&kSerial, false},
          {&kRestart, false},
          {&kYes, false},
          {&kLeaveTimeout, false},
          {&kRestartTimeout, false},
          {&kJson, false},
          {&kRecord, false}},
         false,
         runProbe},
        {"history",
         "Prints the update history (both programs add a line per update).",
         {},
         false,
         history},
    };
    return table;
}
