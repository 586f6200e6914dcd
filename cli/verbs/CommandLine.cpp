#include "CommandLine.h"

#include "CliTexts.h"
#include "CommandTable.h"
#include "ExitCodes.h"
#include "HelpText.h"
#include "Printable.h"
#include "RecordedRun.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>

namespace {

int usageError(CliStreams &io, const QString &why)
{
    io.err << kProgramName << ": " << why << '\n' << kUsageHint << '\n';
    io.err.flush();
    return kExitUsage;
}

// The parser sees each byte of an argument as one Latin-1 character, so that every argument comes
// back byte for byte, whatever the locale and whether or not it is UTF-8.
QByteArray bytes(const QString &parsed)
{
    return parsed.toLatin1();
}

// As the user typed it, escaped.
QString typed(const QString &parsed)
{
    return printableName(bytes(parsed));
}

// The option given twice, if any. The parser lets the last win, and `--target board --target
// panel` would write the board's file into the ControlPanel.
QString repeatedOption(const QCommandLineParser &parser,
                       const std::vector<QCommandLineOption> &options)
{
    std::map<QString, int> given;
    for (const QString &name : parser.optionNames()) {
        for (const QCommandLineOption &option : options)
            if (option.names().contains(name) && ++given[option.names().constLast()] > 1)
                return option.names().constLast();
    }
    return QString();
}

QString verbNames()
{
    QStringList names;
    for (const Verb &verb : verbs())
        names << QLatin1String(verb.name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// The command line again as a replay gives it: without --record, the file by its name.
QStringList replayArguments(const Verb &verb, const QCommandLineParser &parser,
                            const VerbRequest &request)
{
    QStringList again{QLatin1String(verb.name)};
    for (const VerbOptionUse &taken : verb.options) {
        const QString optionName = QLatin1String(taken.option->name);
        if (!parser.isSet(optionName) || optionName == QLatin1String("record"))
            continue;
        again << QStringLiteral("--") + optionName;
        if (taken.option->valueName)
            again << QString::fromUtf8(bytes(parser.value(optionName)));
    }
    if (verb.takesFile)
        again << QFileInfo(QFile::decodeName(request.file)).fileName();
    return again;
}

} // namespace

int runCommandLine(const QByteArrayList &arguments, CliStreams &io)
{
    const QCommandLineOption help{
        {QLatin1String(kHelpOption.shortName), QLatin1String(kHelpOption.name)}};
    const QCommandLineOption version{
        {QLatin1String(kVersionOption.shortName), QLatin1String(kVersionOption.name)}};
    std::vector<QCommandLineOption> options{help, version};
    for (const VerbOption *option : verbOptions())
        options.emplace_back(QLatin1String(option->name), QString(),
                             option->valueName ? QLatin1String(option->valueName) : QString());

    QCommandLineParser parser;
    for (const QCommandLineOption &option : options)
        parser.addOption(option);
    QStringList parsed;
    for (const QByteArray &argument : arguments)
        parsed << QString::fromLatin1(argument);
    if (!parser.parse(parsed))
        return usageError(io, typed(parser.errorText()));
    const QString repeated = repeatedOption(parser, options);
    if (!repeated.isEmpty())
        return usageError(io, QStringLiteral("--%1 is given more than once").arg(repeated));
    if (parser.isSet(help)) {
        io.out << helpText();
        io.out.flush();
        return kExitOk;
    }
    if (parser.isSet(version)) {
        io.out << kProgramName << ' ' << kZelUpdateVersion << '\n';
        io.out.flush();
        return kExitOk;
    }

    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usageError(io, QStringLiteral("no command given: %1").arg(verbNames()));
    const QString name = words.takeFirst();
    const auto verb = std::find_if(verbs().begin(), verbs().end(), [&name](const Verb &verb) {
        return name == QLatin1String(verb.name);
    });
    if (verb == verbs().end())
        return usageError(io, QStringLiteral("unknown command '%1'").arg(typed(name)));
    const QString verbName = QLatin1String(verb->name);

    // An option a verb does not take is refused rather than ignored: a script that passes --wait
    // to check means something the verb would not do.
    const auto use = [&verb](const VerbOption *option) {
        return std::find_if(verb->options.begin(), verb->options.end(),
                            [option](const VerbOptionUse &use) { return use.option == option; });
    };
    for (const VerbOption *option : verbOptions()) {
        if (parser.isSet(QLatin1String(option->name)) && use(option) == verb->options.end())
            return usageError(
                io, QStringLiteral("%1 takes no --%2").arg(verbName, QLatin1String(option->name)));
    }
    for (const VerbOptionUse &taken : verb->options) {
        if (taken.required && !parser.isSet(QLatin1String(taken.option->name)))
            return usageError(
                io, QStringLiteral("%1 needs %2").arg(verbName, optionSyntax(*taken.option)));
    }

    VerbRequest request;
    for (const VerbOptionUse &taken : verb->options) {
        const QString optionName = QLatin1String(taken.option->name);
        if (!parser.isSet(optionName))
            continue;
        // A flag's value is not asked for: Qt 6.8 warns on standard error when it is.
        const QByteArray value =
            taken.option->valueName ? bytes(parser.value(optionName)) : QByteArray();
        const QString refused = taken.option->take(value, request);
        if (!refused.isEmpty())
            return usageError(io, refused);
    }
    if (verb->takesFile && words.size() != 1)
        return usageError(io, QStringLiteral("%1 needs exactly one HEX file").arg(verbName));
    if (!verb->takesFile && !words.isEmpty())
        return usageError(io, QStringLiteral("%1 takes no file").arg(verbName));
    if (verb->takesFile)
        request.file = bytes(words.constFirst());
    if (request.recordFile.isEmpty())
        return verb->run(io, request);

    return runRecorded(*verb, io, request, replayArguments(*verb, parser, request));
}
