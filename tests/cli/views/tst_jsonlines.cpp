// Every line zelupdate-cli writes with --json, over every kind of end, checked against the schema
// docs/json-lines.md writes down: a field written but not documented, documented with another
// type, or documented as always there but missing fails.

#include "CliFixture.h"
#include "CliRun.h"
#include "ExitCodes.h"
#include "JsonLines.h"
#include "SimulatedDevices.h"
#include "UpdateEach.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace sim;

namespace {

struct Field
{
    QString type; // "string", "array of range", ...
    bool nullable = false;
    bool always = false;
};
using Fields = std::map<QString, Field>;

// The schema as the document's tables give it.
struct Schema
{
    Fields everyLine;
    std::map<QString, std::map<QString, Fields>> commands; // command, event: fields
    std::map<QString, Fields> objects;
    QStringList phases;
    std::map<QString, QString> ends; // end: exit code as written
};

QStringList cells(const QString &row)
{
    QStringList parts = row.split(QLatin1Char('|'));
    parts = parts.mid(1, parts.size() - 2);
    for (QString &part : parts) {
        part = part.trimmed();
        if (part.startsWith(QLatin1Char('`')) && part.endsWith(QLatin1Char('`')))
            part = part.mid(1, part.size() - 2);
    }
    return parts;
}

QString quoted(const QString &heading)
{
    static const QRegularExpression name(QStringLiteral("^#+ `(.+)`$"));
    const QRegularExpressionMatch match = name.match(heading);
    return match.hasMatch() ? match.captured(1) : heading.section(QLatin1Char(' '), 1);
}

Schema readSchema(const QString &path)
{
    Schema schema;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return schema;
    QString section;
    QString table;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("## "))) {
            section = quoted(line);
            table.clear();
        } else if (line.startsWith(QLatin1String("### "))) {
            table = quoted(line);
            // An event without fields of its own has a heading and no table.
            if (section != QLatin1String("Objects"))
                schema.commands[section][table];
        } else if (line.startsWith(QLatin1String("| `"))) {
            const QStringList row = cells(line);
            if (section == QLatin1String("Phases")) {
                schema.phases << row[0];
            } else if (section == QLatin1String("Ends")) {
                schema.ends[row[0]] = row[1];
            } else {
                Field field;
                field.type = row[1];
                field.nullable = field.type.endsWith(QLatin1String(" or null"));
                if (field.nullable)
                    field.type.chop(int(qstrlen(" or null")));
                field.always = row[2] == QLatin1String("yes");
                if (section == QLatin1String("Every line"))
                    schema.everyLine[row[0]] = field;
                else if (section == QLatin1String("Objects"))
                    schema.objects[table][row[0]] = field;
                else
                    schema.commands[section][table][row[0]] = field;
            }
        }
    }
    return schema;
}

class Checker
{
public:
    explicit Checker(const Schema &schema) : schema(schema) {}

    // What is wrong with the line, as written by `command`; empty when nothing is.
    QStringList check(const QString &command, const QJsonObject &line) const
    {
        QStringList errors;
        const QString event = line.value(QStringLiteral("event")).toString();
        const std::optional<Fields> fields = eventFields(command, event);
        if (!fields)
            return {QStringLiteral("event '%1' of %2 is not documented").arg(event, command)};
        checkObject(line, *fields, event, errors);
        const QString phase = line.value(QStringLiteral("phase")).toString();
        if (!phase.isEmpty() && !schema.phases.contains(phase))
            errors << QStringLiteral("%1: phase '%2' is not documented").arg(event, phase);
        const QString end = line.value(QStringLiteral("end")).toString();
        if (!end.isEmpty() && schema.ends.count(end) == 0)
            errors << QStringLiteral("%1: end '%2' is not documented").arg(event, end);
        return errors;
    }

private:
    // A batch writes each unit's update events as `update` does, with the unit's fields added.
    std::optional<Fields> eventFields(const QString &command, const QString &event) const
    {
        const auto section = schema.commands.find(command);
        if (section == schema.commands.end())
            return std::nullopt;
        Fields fields = schema.everyLine;
        const auto own = section->second.find(event);
        const std::map<QString, Fields> &update = schema.commands.at(QStringLiteral("update"));
        if (own != section->second.end())
            fields.insert(own->second.begin(), own->second.end());
        else if (command.startsWith(QLatin1String("update ")) && update.count(event))
            fields.insert(update.at(event).begin(), update.at(event).end());
        else
            return std::nullopt;
        const auto every = section->second.find(QStringLiteral("*"));
        if (every != section->second.end() && own == section->second.end())
            fields.insert(every->second.begin(), every->second.end());
        return fields;
    }

    void checkObject(const QJsonObject &object, const Fields &fields, const QString &path,
                     QStringList &errors) const
    {
        for (auto at = object.begin(); at != object.end(); ++at) {
            const QString name = path + QLatin1Char('.') + at.key();
            const auto field = fields.find(at.key());
            if (field == fields.end())
                errors << name + QStringLiteral(" is not documented");
            else
                checkValue(at.value(), field->second, name, errors);
        }
        for (const auto &[name, field] : fields)
            if (field.always && !object.contains(name))
                errors << path + QLatin1Char('.') + name + QStringLiteral(" is missing");
    }

    void checkValue(const QJsonValue &value, const Field &field, const QString &path,
                    QStringList &errors) const
    {
        if (value.isNull()) {
            if (!field.nullable)
                errors << path + QStringLiteral(" is null");
            return;
        }
        const QString type = field.type;
        if (type.startsWith(QLatin1String("array of "))) {
            if (!value.isArray()) {
                errors << path + QStringLiteral(" is not an array");
                return;
            }
            Field element{type.mid(int(qstrlen("array of "))), false, true};
            if (element.type == QLatin1String("strings"))
                element.type = QStringLiteral("string");
            for (const QJsonValue &item : value.toArray())
                checkValue(item, element, path + QStringLiteral("[]"), errors);
            return;
        }
        bool right = false;
        if (type == QLatin1String("string"))
            right = value.isString();
        else if (type == QLatin1String("integer"))
            right = value.isDouble() && value.toDouble() == double(qint64(value.toDouble()));
        else if (type == QLatin1String("number"))
            right = value.isDouble();
        else if (type == QLatin1String("boolean"))
            right = value.isBool();
        else if (schema.objects.count(type) && value.isObject())
            return checkObject(value.toObject(), schema.objects.at(type), path, errors);
        if (!right)
            errors << QStringLiteral("%1 is not of type %2: %3")
                          .arg(
                              path, type,
                              QString::fromUtf8(
                                  QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)));
    }

    const Schema &schema;
};

} // namespace

class JsonLinesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void documentedNames();
    void everyEnd_data();
    void everyEnd();
    void batch();

private:
    QStringList checked(const QString &command, const QString &stream, QList<QJsonObject> &lines);

    QTemporaryDir folder;
    Schema schema;
};

void JsonLinesTest::initTestCase()
{
    QVERIFY(folder.isValid());
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    qputenv("ZELUPDATE_LOCK_DIR", folder.filePath(QStringLiteral("locks")).toUtf8());
    schema = readSchema(QStringLiteral(ZELUPDATE_DOCS_DIR "/json-lines.md"));
    QVERIFY(schema.commands.count(QStringLiteral("update")));

    // The board's example without its end-of-file record: taken with a warning.
    QFile example(kExamples + QStringLiteral("/controlboard-example.hex"));
    QVERIFY(example.open(QIODevice::ReadOnly));
    QByteArray text = example.readAll();
    text.truncate(text.indexOf(":00000001FF"));
    QFile cut(folder.filePath(QStringLiteral("noeof.hex")));
    QVERIFY(cut.open(QIODevice::WriteOnly) && cut.write(text) == text.size());
}

void JsonLinesTest::init()
{
    SimulatedDevices::instance().reset();
}

QStringList JsonLinesTest::checked(const QString &command, const QString &stream,
                                   QList<QJsonObject> &lines)
{
    bool allParse = false;
    lines = jsonLines(stream, allParse);
    if (!allParse)
        return {QStringLiteral("not JSON Lines: ") + stream};
    const Checker checker(schema);
    QStringList errors;
    for (const QJsonObject &line : lines)
        errors << checker.check(command, line);
    return errors;
}

// The names the program writes for phases and ends are the document's, and each end's exit code.
void JsonLinesTest::documentedNames()
{
    QStringList phases;
    for (int at = int(UpdatePhase::Connecting); at <= int(UpdatePhase::ConfirmingApplication); ++at)
        phases << QLatin1String(phaseName(UpdatePhase(at)));
    QCOMPARE(schema.phases, phases);

    std::map<QString, QString> ends;
    for (int at = int(SequenceEnd::Updated); at <= int(SequenceEnd::NotBackInApplication); ++at)
        ends[endName(SequenceEnd(at))] = QString::number(exitCodeFor(SequenceEnd(at)));
    QCOMPARE(schema.ends, ends);
}

void JsonLinesTest::everyEnd_data()
{
    QTest::addColumn<QString>("command"); // the document's section
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("devices");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("end"); // the result's, for an update
    QTest::addColumn<QStringList>("events");

    const QString board = kExamples + QStringLiteral("/controlboard-example.hex");
    const QString panel = kExamples + QStringLiteral("/controlpanel-example.hex");
    const QString missing = folder.filePath(QStringLiteral("missing.hex"));
    const QString noEof = folder.filePath(QStringLiteral("noeof.hex"));
    const QStringList update{QStringLiteral("update"), QStringLiteral("--json"),
                             QStringLiteral("--target")};
    const QStringList walk{"phase", "chosen", "entering", "progress", "result"};
    const int noReply = int(FaultKind::NoReply);

    QTest::newRow("panel updated") << "update" << (update + QStringList{"panel", panel}) << 1
                                   << QByteArray() << 0 << 0 << "updated" << walk;
    QTest::newRow("board updated") << "update" << (update + QStringList{"board", board}) << 1
                                   << QByteArray() << 0 << 0 << "updated" << walk;
    // The control board is not in its bootloader: nothing is written.
    QTest::newRow("board not in its bootloader")
        << "update" << (update + QStringList{"board", "--in-bootloader", board}) << 1
        << QByteArray() << 0 << 0 << "deviceNotAnswering"
        << QStringList{"phase", "chosen", "entering", "result"};
    QTest::newRow("file refused") << "update" << (update + QStringList{"board", missing}) << 1
                                  << QByteArray() << 0 << 0 << "fileRefused"
                                  << QStringList{"result"};
    QTest::newRow("file warned") << "update"
                                 << (update + QStringList{"board", "--allow-no-eof", noEof}) << 1
                                 << QByteArray() << 0 << 0 << "updated"
                                 << QStringList{"warning"} + walk;
    QTest::newRow("no ControlPanel")
        << "update" << (update + QStringList{"board", board}) << 0 << QByteArray() << 0 << 0
        << "noControlPanel" << QStringList{"phase", "result"};
    QTest::newRow("not answering")
        << "update" << (update + QStringList{"board", board}) << 1 << QByteArray("Ee") << 0
        << int(FaultKind::WrongEcho) << "deviceNotAnswering" << QStringList{"phase", "result"};
    QTest::newRow("failed while writing")
        << "update" << (update + QStringList{"board", board}) << 1 << QByteArray("Mm") << 40
        << noReply << "failedWhileWriting" << walk;
    QTest::newRow("not back") << "update" << (update + QStringList{"board", board}) << 1
                              << QByteArray("Oo") << 0 << noReply << "notBackInApplication" << walk;
    QTest::newRow("each") << "update --each" << (update + QStringList{"board", "--each", board})
                          << 0 << QByteArray() << 0 << 0 << QString()
                          << QStringList{"phase",    "chosen", "entering",
                                         "progress", "unit",   "tally"};
    QTest::newRow("check") << "check" << QStringList{"check", "--json", "--target", "board", board}
                           << 0 << QByteArray() << 0 << 0 << QString() << QStringList{"result"};
    QTest::newRow("check refused")
        << "check" << QStringList{"check", "--json", "--target", "board", missing} << 0
        << QByteArray() << 0 << 0 << QString() << QStringList{"result"};
    QTest::newRow("list") << "list" << QStringList{"list", "--json"} << 2 << QByteArray() << 0 << 0
                          << QString() << QStringList{"device", "result"};
    QTest::newRow("list, none") << "list" << QStringList{"list", "--json"} << 0 << QByteArray() << 0
                                << 0 << QString() << QStringList{"result"};
    QTest::newRow("probe") << "probe" << QStringList{"probe", "--json"} << 1 << QByteArray() << 0
                           << 0 << QString() << QStringList{"probe"};
    QTest::newRow("probe --restart")
        << "probe" << QStringList{"probe", "--json", "--restart", "--yes"} << 1 << QByteArray() << 0
        << 0 << QString() << QStringList{"probe"};
    QTest::newRow("probe, none") << "probe" << QStringList{"probe", "--json"} << 0 << QByteArray()
                                 << 0 << 0 << QString() << QStringList{"probe"};
}

void JsonLinesTest::everyEnd()
{
    QFETCH(QString, command);
    QFETCH(QStringList, arguments);
    QFETCH(int, devices);
    QFETCH(QByteArray, faultCommand);
    QFETCH(int, occurrence);
    QFETCH(int, fault);
    QFETCH(QString, end);
    QFETCH(QStringList, events);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (!faultCommand.isEmpty())
        simulated.injectFault(FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
                              {FaultKind(fault)});
    CliSetup setup;
    // update --each finds a unit plugged in, then ends as it waits for the next.
    int polls = 0;
    setup.pause = [&](int milliseconds) {
        if (milliseconds == kEachPollMs && ++polls == 1)
            simulated.attachUnit("1-1", "CP1000");
    };
    setup.endRequested = [&polls] { return polls > 2; };
    const CliRun run = runCli(arguments, setup);

    QList<QJsonObject> lines;
    const QStringList errors = checked(command, run.out, lines);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QStringList seen;
    for (const QJsonObject &line : lines) {
        const QString event = line.value(QStringLiteral("event")).toString();
        if (!seen.contains(event))
            seen << event;
    }
    QVERIFY2(seen == events,
             qPrintable(seen.join(QLatin1Char(' ')) + QLatin1String(" / ") + run.err));
    if (end.isEmpty())
        return;
    const QJsonObject result = lines.last();
    QCOMPARE(result.value(QStringLiteral("end")).toString(), end);
    QCOMPARE(result.value(QStringLiteral("exitCode")).toInt(), run.code);
}

// update --all as a user runs it: the workers' lines with their units, and the summary.
void JsonLinesTest::batch()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work = folder.filePath(QStringLiteral("batch"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_FAULTS"),
                       QStringLiteral("corrupt-read-back@Nn:3@1-2"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("board"),
               QStringLiteral("--all"), QStringLiteral("--json"), QStringLiteral("--allow-no-eof"),
               folder.filePath(QStringLiteral("noeof.hex"))});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);

    QList<QJsonObject> lines;
    const QStringList errors = checked(QStringLiteral("update --all"),
                                       QString::fromUtf8(cli.readAllStandardOutput()), lines);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QStringList ends;
    for (const QJsonObject &line : lines)
        if (line.value(QStringLiteral("event")).toString() == QLatin1String("result"))
            ends << line.value(QStringLiteral("port")).toString() + QLatin1Char(' ') +
                        line.value(QStringLiteral("end")).toString();
    ends.sort();
    QCOMPARE(ends, (QStringList{QStringLiteral("1-1 updated"),
                                QStringLiteral("1-2 failedWhileWriting")}));
    QCOMPARE(lines.last().value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
}

QTEST_GUILESS_MAIN(JsonLinesTest)
#include "tst_jsonlines.moc"
