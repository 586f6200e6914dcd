#include "CommandLine.h"

#include "CheckCommand.h"
#include "CliTexts.h"
#include "ExitCodes.h"
#include "HistoryCommand.h"
#include "ListCommand.h"
#include "UpdateCommand.h"
#include "Version.h"

#include <QCommandLineParser>

namespace {

int usageError(CliStreams &io, const QString &why)
{
    io.err << kProgramName << ": " << why << '\n' << kUsageHint << '\n';
    io.err.flush();
    return kExitUsage;
}

struct Options
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};
    QCommandLineOption target{QStringLiteral("target"), QString(), QStringLiteral("target")};
    QCommandLineOption json{QStringLiteral("json")};
    QCommandLineOption allowNoEof{QStringLiteral("allow-no-eof")};
    QCommandLineOption wait{QStringLiteral("wait"), QString(), QStringLiteral("seconds")};
    QCommandLineOption port{QStringLiteral("port"), QString(), QStringLiteral("port")};
    QCommandLineOption serial{QStringLiteral("serial"), QString(), QStringLiteral("serial")};
    QCommandLineOption restartTimeout{QStringLiteral("restart-timeout"), QString(),
                                      QStringLiteral("seconds")};
};

// The options a command does not take are refused rather than ignored: a script that passes
// --wait to check means something the command would not do.
bool takesOnly(const QCommandLineParser &parser, const QList<const QCommandLineOption *> &taken,
               const Options &options, QString &refused)
{
    for (const QCommandLineOption *option :
         {&options.target, &options.json, &options.allowNoEof, &options.wait, &options.port,
          &options.serial, &options.restartTimeout}) {
        if (parser.isSet(*option) && !taken.contains(option)) {
            refused = option->names().constFirst();
            return false;
        }
    }
    return true;
}

} // namespace

QString helpText()
{
    return QStringLiteral(
        "Usage: zelupdate-cli list [--json]\n"
        "       zelupdate-cli check --target panel|board FILE [--json]\n"
        "       zelupdate-cli update --target panel|board FILE [--allow-no-eof] [--wait SECONDS]\n"
        "                            [--json]\n"
        "       zelupdate-cli history\n"
        "       zelupdate-cli --help | --version\n"
        "\n"
        "Updates the firmware of a ControlPanel (USB 03eb:2402) or of the ZEL02 control board\n"
        "behind it from an Intel HEX file, as zelUpdate's buttons do.\n"
        "\n"
        "Commands:\n"
        "  list     Lists every attached ControlPanel, whether this user can open it, and\n"
        "           whether the udev rule 70-zelupdate-controlpanel.rules is in force.\n"
        "  check    Loads FILE as an update of the target would and sums it up: used pages,\n"
        "           data bytes, address ranges, SHA-256. Opens no device.\n"
        "  update   Loads FILE, then writes it into the target and reads every written page\n"
        "           back. A file that would be refused never starts a bootloader.\n"
        "  history  Prints the update history (both programs add a line per update).\n"
        "\n"
        "Options:\n"
        "  --target panel|board  The ControlPanel (panel) or the ZEL02 control board (board).\n"
        "  --allow-no-eof        Writes a file that has no end-of-file record.\n"
        "  --wait SECONDS        Waits up to SECONDS for exactly one ControlPanel to be\n"
        "                        attached, then updates it.\n"
        "  --json                Writes JSON Lines on standard output: each phase, each 1% of\n"
        "                        progress, then the result.\n"
        "  -h, --help            Shows this help.\n"
        "  -v, --version         Shows the version.\n"
        "\n"
        "Results go to standard output; messages and progress to standard error.\n"
        "\n"
        "Exit codes:\n"
        "  0  updated and verified; check: the file is good; list: a ControlPanel is usable\n"
        "  1  failed after writing began: the firmware may be incomplete, run the update again\n"
        "     (history: the file could not be read)\n"
        "  2  usage error\n"
        "  3  the file was refused; nothing was sent\n"
        "  4  no usable ControlPanel: none attached, no permission, or more than one\n"
        "  5  the device did not answer, enter or leave its bootloader before anything was\n"
        "     written\n");
}

int runCommandLine(const QStringList &arguments, CliStreams &io)
{
    const Options options;
    QCommandLineParser parser;
    parser.addOptions({options.help, options.version, options.target, options.json,
                       options.allowNoEof, options.wait, options.port, options.serial,
                       options.restartTimeout});
    if (!parser.parse(arguments))
        return usageError(io, parser.errorText());
    if (parser.isSet(options.help)) {
        io.out << helpText();
        io.out.flush();
        return kExitOk;
    }
    if (parser.isSet(options.version)) {
        io.out << kProgramName << ' ' << kZelUpdateVersion << '\n';
        io.out.flush();
        return kExitOk;
    }

    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usageError(io, QStringLiteral("no command given: list, check, update or history"));
    const QString command = words.takeFirst();
    const bool json = parser.isSet(options.json);
    QString refused;

    if (command == QLatin1String("list") || command == QLatin1String("history")) {
        const bool list = command == QLatin1String("list");
        if (!takesOnly(parser,
                       list ? QList<const QCommandLineOption *>{&options.json}
                            : QList<const QCommandLineOption *>{},
                       options, refused))
            return usageError(io, QStringLiteral("%1 takes no --%2").arg(command, refused));
        if (!words.isEmpty())
            return usageError(io, QStringLiteral("%1 takes no file").arg(command));
        return list ? runList(io, json) : runHistory(io);
    }

    if (command != QLatin1String("check") && command != QLatin1String("update"))
        return usageError(io, QStringLiteral("unknown command '%1'").arg(command));
    const bool update = command == QLatin1String("update");
    if (!takesOnly(parser,
                   update ? QList<const QCommandLineOption *>{&options.target, &options.json,
                                                              &options.allowNoEof, &options.wait,
                                                              &options.port, &options.serial,
                                                              &options.restartTimeout}
                          : QList<const QCommandLineOption *>{&options.target, &options.json},
                   options, refused))
        return usageError(io, QStringLiteral("%1 takes no --%2").arg(command, refused));
    if (!parser.isSet(options.target))
        return usageError(io,
                          QStringLiteral("%1 needs --target panel or --target board").arg(command));
    const UpdateTarget *target = targetNamed(parser.value(options.target));
    if (!target)
        return usageError(io, QStringLiteral("unknown target '%1': panel or board")
                                  .arg(parser.value(options.target)));
    if (words.size() != 1)
        return usageError(io, QStringLiteral("%1 needs exactly one HEX file").arg(command));
    if (!update)
        return runCheck(io, *target, words.constFirst(), json);

    UpdateRequest request;
    request.target = target;
    request.file = words.constFirst();
    request.json = json;
    request.allowNoEndRecord = parser.isSet(options.allowNoEof);
    if (parser.isSet(options.wait)) {
        bool number = false;
        request.waitSeconds = parser.value(options.wait).toInt(&number);
        if (!number || request.waitSeconds < 0)
            return usageError(io, QStringLiteral("--wait needs a number of seconds, not '%1'")
                                      .arg(parser.value(options.wait)));
    }
    if (parser.isSet(options.port) && parser.isSet(options.serial))
        return usageError(io, QStringLiteral("--port and --serial choose the same unit: give one"));
    request.unit.port = parser.value(options.port);
    request.unit.serial = parser.value(options.serial);
    if (parser.isSet(options.restartTimeout)) {
        bool number = false;
        request.restartTimeoutSeconds = parser.value(options.restartTimeout).toInt(&number);
        if (!number || request.restartTimeoutSeconds < 1)
            return usageError(
                io, QStringLiteral("--restart-timeout needs a number of seconds, not '%1'")
                        .arg(parser.value(options.restartTimeout)));
    }
    return runUpdate(io, request);
}
