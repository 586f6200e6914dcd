#include "HelpText.h"

#include "CliTexts.h"
#include "CommandTable.h"
#include "ExitCodes.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr int kHelpColumns = 80;
constexpr int kIndent = 2;    // before each verb, option and exit code
constexpr int kColumnGap = 2; // between a name and what it does

// The words laid out after `first`, which starts the first line; each further line is indented
// to `hanging` columns, and none is wider than the help unless one word is.
QString wrapped(const QString &first, const QStringList &words, int hanging)
{
    QStringList lines{first};
    bool lineHasWord = !first.isEmpty() && !first.endsWith(QLatin1Char(' '));
    for (const QString &word : words) {
        if (lineHasWord && lines.last().size() + 1 + word.size() > kHelpColumns) {
            lines << QString(hanging, QLatin1Char(' '));
            lineHasWord = false;
        }
        if (lineHasWord)
            lines.last() += QLatin1Char(' ');
        lines.last() += word;
        lineHasWord = true;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// A name in its column, then the text beside it, wrapped under the text's first word.
QString entry(const QString &name, int column, const char *text)
{
    const QString first = QString(kIndent, QLatin1Char(' ')) + name.leftJustified(column) +
                          QString(kColumnGap, QLatin1Char(' '));
    return wrapped(first, words(text), first.size());
}

// "check --target panel|board FILE [--allow-no-eof] [--json]": required options, the file, then
// the others in brackets. A bracketed option is never split across lines.
QString usage(const Verb &verb, const QString &lead)
{
    QStringList parts;
    for (const VerbOptionUse &use : verb.options)
        if (use.required)
            parts << optionSyntax(*use.option).split(QLatin1Char(' '));
    if (verb.takesFile)
        parts << QStringLiteral("FILE");
    for (const VerbOptionUse &use : verb.options)
        if (!use.required)
            parts << QLatin1Char('[') + optionSyntax(*use.option) + QLatin1Char(']');
    const QString first =
        lead + QLatin1String(kProgramName) + QLatin1Char(' ') + QLatin1String(verb.name);
    return wrapped(first, parts, first.size() + 1);
}

} // namespace

QString helpText()
{
    const QString usageLead = QStringLiteral("Usage: ");
    QString text;
    for (const Verb &verb : verbs())
        text +=
            usage(verb, text.isEmpty() ? usageLead : QString(usageLead.size(), QLatin1Char(' ')));
    text += QString(usageLead.size(), QLatin1Char(' ')) + QLatin1String(kProgramName) +
            QStringLiteral(" --%1 | --%2\n")
                .arg(QLatin1String(kHelpOption.name), QLatin1String(kVersionOption.name));

    text += QLatin1Char('\n') + wrapped(QString(), words(kProgramPurpose), 0);

    text += QStringLiteral("\nCommands:\n");
    int column = 0;
    for (const Verb &verb : verbs())
        column = std::max(column, int(qstrlen(verb.name)));
    for (const Verb &verb : verbs())
        text += entry(QLatin1String(verb.name), column, verb.summary);

    text += QStringLiteral("\nOptions:\n");
    const auto programOption = [](const ProgramOption &option) {
        return QStringLiteral("-%1, --%2")
            .arg(QLatin1String(option.shortName), QLatin1String(option.name));
    };
    column = int(std::max(programOption(kHelpOption).size(), programOption(kVersionOption).size()));
    for (const VerbOption *option : verbOptions())
        column = std::max(column, int(optionSyntax(*option).size()));
    for (const VerbOption *option : verbOptions())
        text += entry(optionSyntax(*option), column, option->help);
    for (const ProgramOption &option : {kHelpOption, kVersionOption})
        text += entry(programOption(option), column, option.help);

    text += QLatin1Char('\n') + wrapped(QString(), words(kStreamsNote), 0);

    text += QStringLiteral("\nExit codes:\n");
    for (const ExitCodeMeaning &exit : kExitCodeMeanings)
        text += entry(QString::number(exit.code), 1, exit.meaning);
    return text;
}
