// The copies of zelupdate-cli's help kept beside the program, held to what the built program's
// --help prints: the README's help block and exit-code table, the man page's synopsis and exit
// status, and the bash completion's verbs and options. Changing any of them, or the verb table,
// without the others fails here.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringList();
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

// The first line from `from` on in which `pattern` is found; -1 when none is.
int find(const QStringList &lines, const QString &pattern, int from = 0)
{
    const QRegularExpression expression(pattern);
    for (int at = std::max(from, 0); at < lines.size(); ++at)
        if (expression.match(lines[at]).hasMatch())
            return at;
    return -1;
}

// The lines after the first that holds `from`, up to the next that holds `to`.
QStringList section(const QStringList &lines, const QString &from, const QString &to)
{
    const int begin = find(lines, from);
    if (begin < 0)
        return QStringList();
    const int end = find(lines, to, begin + 1);
    return lines.mid(begin + 1, end < 0 ? -1 : end - begin - 1);
}

// Roff as a reader sees it: no font changes, plain hyphens.
QString roffText(QString line)
{
    line.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    return line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

// Entries that begin on a line matching `start`; each further line adds its words to the last.
QStringList joinedEntries(const QStringList &lines, const QRegularExpression &start)
{
    QStringList entries;
    for (const QString &line : lines) {
        if (line.contains(start) || entries.isEmpty())
            entries << line.trimmed();
        else
            entries.last() += QLatin1Char(' ') + line.trimmed();
    }
    return entries;
}

// The words of the first `compgen -W '...'` at or after line `from`; none when `from` is -1.
QStringList compgenWords(const QStringList &lines, int from)
{
    static const QRegularExpression compgen(QStringLiteral("compgen -W '([^']*)'"));
    const int at = from < 0 ? -1 : find(lines, compgen.pattern(), from);
    if (at < 0)
        return QStringList();
    return compgen.match(lines[at]).captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class CliHelpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void copies_data();
    void copies();

private:
    QStringList help;      // the lines of `zelupdate-cli --help`
    QStringList usages;    // "zelupdate-cli check --target panel|board FILE [--json]", ...
    QStringList exitCodes; // "0 updated and verified; ...", ...
};

void CliHelpTest::initTestCase()
{
    QProcess cli;
    cli.start(QStringLiteral(ZELUPDATE_CLI), {QStringLiteral("--help")});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    help = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
    QCOMPARE(help.takeLast(), QString()); // it ends with a line feed

    // The usage comes first, up to the first blank line.
    QStringList usageLines = help.mid(0, help.indexOf(QString()));
    usageLines.replaceInStrings(QRegularExpression(QStringLiteral("^Usage: ")), QString());
    usages = joinedEntries(usageLines, QRegularExpression(QStringLiteral("^ *zelupdate-cli ")));
    QVERIFY(usages.size() > 2);

    exitCodes = joinedEntries(section(help, QStringLiteral("^Exit codes:$"), QStringLiteral("^$")),
                              QRegularExpression(QStringLiteral("^  \\d+  ")));
    exitCodes.replaceInStrings(QRegularExpression(QStringLiteral("^(\\d+)  ")),
                               QStringLiteral("\\1 "));
    QVERIFY(exitCodes.size() > 2);
}

void CliHelpTest::copies_data()
{
    QTest::addColumn<QStringList>("copy");
    QTest::addColumn<QStringList>("program");

    const QStringList readme = fileLines(QStringLiteral(ZELUPDATE_SOURCE_DIR "/README.md"));
    const QStringList man =
        fileLines(QStringLiteral(ZELUPDATE_SOURCE_DIR "/packaging/man/zelupdate-cli.1"));
    const QStringList completion =
        fileLines(QStringLiteral(ZELUPDATE_SOURCE_DIR "/packaging/zelupdate-cli.bash-completion"));
    QVERIFY(!readme.isEmpty() && !man.isEmpty() && !completion.isEmpty());

    // The README shows the help whole, in the text block after "`zelupdate-cli --help`:".
    const int helpBlock = find(readme, QStringLiteral("`zelupdate-cli --help`:$"));
    QVERIFY(helpBlock >= 0);
    QTest::newRow("README help") << section(readme.mid(helpBlock), QStringLiteral("^```text$"),
                                            QStringLiteral("^```$"))
                                 << help;

    QStringList readmeCodes;
    static const QRegularExpression row(QStringLiteral("^\\| (\\d+) \\| (.*) \\|$"));
    for (const QString &line :
         section(readme, QStringLiteral("^\\| code \\| meaning \\|$"), QStringLiteral("^$"))) {
        const QRegularExpressionMatch match = row.match(line);
        readmeCodes << (match.hasMatch() ? match.captured(1) + ' ' + match.captured(2) : line);
    }
    readmeCodes.removeAll(QStringLiteral("| --- | --- |"));
    QTest::newRow("README exit codes") << readmeCodes << exitCodes;

    // One usage a line between .nf and .fi.
    QStringList synopsis =
        section(man, QStringLiteral("^\\.SH SYNOPSIS$"), QStringLiteral("^\\.SH "));
    QStringList synopsisText;
    for (const QString &line : synopsis)
        if (!line.startsWith(QLatin1Char('.')))
            synopsisText << roffText(line);
    QTest::newRow("man synopsis") << synopsisText << usages;

    // ".TP", ".B code", then the meaning.
    QStringList manCodes;
    for (const QString &line :
         section(man, QStringLiteral("^\\.SH EXIT STATUS$"), QStringLiteral("^\\.SH "))) {
        if (line == QLatin1String(".TP"))
            continue;
        if (line.startsWith(QLatin1String(".B ")))
            manCodes << line.mid(3);
        else if (!manCodes.isEmpty())
            manCodes.last() += QLatin1Char(' ') + roffText(line);
    }
    QTest::newRow("man exit codes") << manCodes << exitCodes;

    // The first word after the program completes to a verb or a program option.
    QStringList verbs;
    QStringList programOptions;
    for (const QString &usage : usages) {
        const QStringList words = usage.split(QLatin1Char(' '));
        if (words.value(1).startsWith(QLatin1Char('-')))
            programOptions << words.filter(QRegularExpression(QStringLiteral("^--")));
        else
            verbs << words.value(1);
    }
    QTest::newRow("completion verbs")
        << compgenWords(completion, find(completion, QStringLiteral("cword == 1")))
        << verbs + programOptions;

    // Each verb's options, offered after the verb; a verb without options has no branch.
    static const QRegularExpression option(QStringLiteral("^\\[?(--[a-z0-9-]+)"));
    QStringList valued;
    for (const QString &usage : usages) {
        const QStringList words = usage.split(QLatin1Char(' '));
        if (words.value(1).startsWith(QLatin1Char('-')))
            continue;
        QStringList options;
        for (int at = 2; at < words.size(); ++at) {
            const QRegularExpressionMatch match = option.match(words[at]);
            if (!match.hasMatch())
                continue;
            options << match.captured(1);
            // "--target panel|board", "[--wait SECONDS]": the option takes a value.
            const QString next = words.value(at + 1);
            if (!words[at].endsWith(QLatin1Char(']')) && !next.isEmpty() &&
                !next.startsWith(QLatin1Char('-')) && !next.startsWith(QLatin1Char('[')) &&
                next != QLatin1String("FILE") && !valued.contains(match.captured(1)))
                valued << match.captured(1);
        }
        const int branch = find(completion, QStringLiteral("^ +%1\\)$").arg(words[1]));
        QTest::newRow(qPrintable(QStringLiteral("completion options of %1").arg(words[1])))
            << (branch < 0 ? QStringList() : compgenWords(completion, branch)) << options;
    }
    valued.sort();

    // After an option that takes a value, the completion offers its values, not options.
    QStringList completedValues;
    static const QRegularExpression valueBranch(
        QStringLiteral("^ +(--[a-z0-9-]+(?: \\| --[a-z0-9-]+)*)\\)$"));
    for (const QString &line :
         section(completion, QStringLiteral("case \\$prev in"), QStringLiteral("^ +esac$"))) {
        const QRegularExpressionMatch match = valueBranch.match(line);
        if (match.hasMatch())
            completedValues << match.captured(1).split(QStringLiteral(" | "));
    }
    completedValues.sort();
    QTest::newRow("completion options with a value") << completedValues << valued;

    const QString target = usages.filter(QStringLiteral("--target ")).value(0);
    const QString targets =
        target.mid(target.indexOf(QStringLiteral("--target ")) + 9).section(QLatin1Char(' '), 0, 0);
    QTest::newRow("completion targets")
        << compgenWords(completion, find(completion, QStringLiteral("^ +--target\\)$")))
        << targets.split(QLatin1Char('|'));
}

void CliHelpTest::copies()
{
    QFETCH(QStringList, copy);
    QFETCH(QStringList, program);
    QCOMPARE(copy, program);
}

QTEST_GUILESS_MAIN(CliHelpTest)
#include "tst_cli_help.moc"
