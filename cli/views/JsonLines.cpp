#include "JsonLines.h"

#include <QJsonDocument>

namespace {

struct EndName
{
    SequenceEnd end;
    const char *name;
};
constexpr EndName kEndNames[] = {
    {SequenceEnd::Updated, "updated"},
    {SequenceEnd::NoFileChosen, "noFileChosen"},
    {SequenceEnd::FileRefused, "fileRefused"},
    {SequenceEnd::FileRefusedInBootloader, "fileRefusedInBootloader"},
    {SequenceEnd::NoControlPanel, "noControlPanel"},
    {SequenceEnd::DeviceNotAnswering, "deviceNotAnswering"},
    {SequenceEnd::FailedWhileWriting, "failedWhileWriting"},
    {SequenceEnd::NotBackInApplication, "notBackInApplication"},
};

const char *whereaboutsName(Whereabouts unit)
{
    switch (unit) {
    case Whereabouts::Untouched:
        return "untouched";
    case Whereabouts::BackInApplication:
        return "application";
    case Whereabouts::MayBeInBootloader:
        return "bootloader";
    }
    return "";
}

} // namespace

void writeJsonLine(QTextStream &out, QJsonObject object)
{
    object.insert(QStringLiteral("version"), kJsonLinesVersion);
    out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    out.flush();
}

QJsonObject jsonEvent(const char *name)
{
    return {{QStringLiteral("event"), QLatin1String(name)},
            {QStringLiteral("version"), kJsonLinesVersion}};
}

UpdateResultRecord resultRecord(const UpdateOutcome &outcome)
{
    UpdateResultRecord record;
    record.sha256 = QString::fromLatin1(outcome.loaded.sha256);
    record.usedPages = outcome.loaded.usedPages;
    record.result = outcome.text;
    record.end = outcome.end;
    record.entered = outcome.entered;
    record.pagesWritten = outcome.walk.pagesWritten;
    record.verified = outcome.walked && outcome.walk.verified();
    record.unit = outcome.unit;
    return record;
}

QJsonObject chosenJson(const UnitIdentity &unit)
{
    QJsonObject event = jsonEvent("chosen");
    event.insert(QStringLiteral("port"), unit.port);
    event.insert(QStringLiteral("serial"), unit.serial);
    return event;
}

QJsonObject PhaseLines::begin(UpdatePhase begun, int units, const QString &port)
{
    phase = begun;
    total = units;
    percent = 0;
    QJsonObject event = jsonEvent("phase");
    event.insert(QStringLiteral("phase"), QLatin1String(phaseName(phase)));
    event.insert(QStringLiteral("total"), total);
    if (!port.isEmpty())
        event.insert(QStringLiteral("port"), port);
    return event;
}

std::optional<QJsonObject> PhaseLines::advance(int done)
{
    if (total <= 0)
        return std::nullopt;
    const int now = int(qint64(done) * 100 / total);
    if (now <= percent)
        return std::nullopt;
    percent = now;
    QJsonObject event = jsonEvent("progress");
    event.insert(QStringLiteral("phase"), QLatin1String(phaseName(phase)));
    event.insert(QStringLiteral("done"), done);
    event.insert(QStringLiteral("total"), total);
    event.insert(QStringLiteral("percent"), percent);
    return event;
}

QJsonObject enteringJson()
{
    return jsonEvent("entering");
}

QJsonObject warningJson(const QString &text)
{
    QJsonObject event = jsonEvent("warning");
    event.insert(QStringLiteral("text"), text);
    return event;
}

QJsonObject resultJson(const UpdateResultRecord &record)
{
    QJsonObject event = jsonEvent("result");
    event.insert(QStringLiteral("target"), record.target);
    event.insert(QStringLiteral("file"), record.file);
    event.insert(QStringLiteral("sha256"), record.sha256);
    event.insert(QStringLiteral("usedPages"), record.usedPages);
    event.insert(QStringLiteral("seconds"), record.seconds);
    event.insert(QStringLiteral("result"), record.result);
    event.insert(QStringLiteral("exitCode"), record.exitCode);
    event.insert(QStringLiteral("end"), endName(record.end));
    event.insert(QStringLiteral("entered"), record.entered);
    event.insert(QStringLiteral("pagesWritten"), record.pagesWritten);
    event.insert(QStringLiteral("verified"), record.verified);
    event.insert(QStringLiteral("unit"), QLatin1String(whereaboutsName(record.unit)));
    return event;
}

UpdateEventLine readEvent(const QJsonObject &object)
{
    UpdateEventLine line;
    const QString kind = object.value(QStringLiteral("event")).toString();
    const std::optional<UpdatePhase> phase =
        phaseNamed(object.value(QStringLiteral("phase")).toString());
    if (kind == QLatin1String("chosen")) {
        line.kind = UpdateEventLine::Kind::Chosen;
    } else if ((kind == QLatin1String("phase") || kind == QLatin1String("progress")) && phase) {
        line.kind = kind == QLatin1String("phase") ? UpdateEventLine::Kind::Phase
                                                   : UpdateEventLine::Kind::Progress;
        line.phase = *phase;
        line.total = object.value(QStringLiteral("total")).toInt();
        line.done = object.value(QStringLiteral("done")).toInt();
    } else if (kind == QLatin1String("entering")) {
        line.kind = UpdateEventLine::Kind::Entering;
    } else if (kind == QLatin1String("warning")) {
        line.kind = UpdateEventLine::Kind::Warning;
        line.text = object.value(QStringLiteral("text")).toString();
    } else if (kind == QLatin1String("result")) {
        line.kind = UpdateEventLine::Kind::Result;
        // What the batch shows of a unit; the rest of the line is passed on as it is.
        UpdateResultRecord &record = line.result;
        record.sha256 = object.value(QStringLiteral("sha256")).toString();
        record.seconds = object.value(QStringLiteral("seconds")).toDouble();
        record.result = object.value(QStringLiteral("result")).toString();
        record.exitCode = object.value(QStringLiteral("exitCode")).toInt();
    }
    return line;
}

QString endName(SequenceEnd end)
{
    for (const EndName &named : kEndNames)
        if (named.end == end)
            return QLatin1String(named.name);
    return QString();
}
