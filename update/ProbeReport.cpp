#include "ProbeReport.h"

#include "DeviceIds.h"
#include "UpdateHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

// Microseconds are as exact as a look at the clock around a USB transfer gets.
QJsonValue milliseconds(double value)
{
    return std::round(value * 1000) / 1000;
}

QJsonValue milliseconds(const std::optional<double> &value)
{
    return value ? milliseconds(*value) : QJsonValue(QJsonValue::Null);
}

QJsonObject unitJson(const AttachedUnit &unit)
{
    return {{QStringLiteral("port"), QString::fromStdString(unit.port)},
            {QStringLiteral("path"), QString::fromStdString(unit.path)},
            {QStringLiteral("serialNumber"), QString::fromStdWString(unit.serialNumber)},
            {QStringLiteral("manufacturer"), QString::fromStdWString(unit.manufacturer)},
            {QStringLiteral("product"), QString::fromStdWString(unit.product)},
            {QStringLiteral("release"), usbReleaseText(unit.release)}};
}

QJsonValue unitJson(const std::optional<AttachedUnit> &unit)
{
    return unit ? QJsonValue(unitJson(*unit)) : QJsonValue(QJsonValue::Null);
}

// A comparison with the unit as it was before the restarts; null when it did not come back.
QJsonValue same(const std::optional<AttachedUnit> &back, bool equal)
{
    return back ? QJsonValue(equal) : QJsonValue(QJsonValue::Null);
}

QJsonObject tripJson(const RestartTrip &trip, const AttachedUnit &before)
{
    const std::optional<AttachedUnit> &back = trip.back;
    const AttachedUnit now = back.value_or(AttachedUnit{});
    const bool sameStrings =
        now.manufacturer == before.manufacturer && now.product == before.product;
    return {
        {QStringLiteral("sent"), trip.sent},
        {QStringLiteral("confirmed"), trip.confirmed},
        {QStringLiteral("commandMs"), milliseconds(trip.commandMs)},
        {QStringLiteral("leftMs"), milliseconds(trip.leftMs)},
        {QStringLiteral("backMs"), milliseconds(trip.backMs)},
        {QStringLiteral("openedMs"), milliseconds(trip.openedMs)},
        {QStringLiteral("lookMs"), milliseconds(trip.lookMs)},
        {QStringLiteral("unit"), unitJson(back)},
        {QStringLiteral("samePort"), same(back, now.port == before.port)},
        {QStringLiteral("sameSerialNumber"), same(back, now.serialNumber == before.serialNumber)},
        {QStringLiteral("sameRelease"), same(back, now.release == before.release)},
        {QStringLiteral("sameStrings"), same(back, sameStrings)},
        {QStringLiteral("newNode"), same(back, now.path != before.path)},
        {QStringLiteral("elsewhere"), unitJson(trip.elsewhere)}};
}

// A port is a sysfs name; anything else that reaches a file name is replaced.
QString fileNamePart(const QString &port)
{
    QString name = port.isEmpty() ? QStringLiteral("unknown") : port;
    for (QChar &c : name)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')))
            c = QLatin1Char('_');
    return name;
}

// What a restart slower than the window's fixed wait does there: into the bootloader, the window
// opens nothing and fails; back, it reports the update done while the unit is still away.
constexpr const char *kSlowIntoBootloaderNote =
    "The restart into its bootloader took %1 ms, more than the window's fixed wait of %2 ms: the "
    "window's update of the ControlPanel fails; update it from the command line, which follows it.";
constexpr const char *kSlowIntoApplicationNote =
    "The restart into its application took %1 ms, more than the window's fixed wait of %2 ms: the "
    "window reports an update done before the ControlPanel is back; wait before using it.";

void noteTrip(QStringList &notes, const RestartTrip &trip, const AttachedUnit &before,
              const char *into, const char *slowNote)
{
    if (trip.openedMs && *trip.openedMs > kFixedWaitMs)
        notes << QString::fromLatin1(slowNote).arg(qRound(*trip.openedMs)).arg(kFixedWaitMs);
    if (!trip.back)
        return;
    if (trip.back->serialNumber != before.serialNumber)
        notes << QStringLiteral("Its serial number is another in its %1: a unit chosen by its "
                                "serial number is not found there.")
                     .arg(QLatin1String(into));
    if (trip.back->path == before.path)
        notes << QStringLiteral("It came back from its restart into its %1 at the same hidraw "
                                "node: a restart cannot be seen by its node alone.")
                     .arg(QLatin1String(into));
}

// Listed otherwise than its application, the bootloader can be recognised without a command.
std::optional<bool> bootloaderToldApart(const ProbeReport &report)
{
    const std::optional<AttachedUnit> &bootloader = report.toBootloader.back;
    if (!bootloader || !report.unit)
        return std::nullopt;
    return bootloader->release != report.unit->release ||
           bootloader->product != report.unit->product ||
           bootloader->manufacturer != report.unit->manufacturer;
}

} // namespace

QString usbReleaseText(unsigned short release)
{
    return QStringLiteral("0x%1").arg(release, 4, 16, QLatin1Char('0'));
}

QStringList probeNotes(const ProbeReport &report)
{
    QStringList notes;
    if (report.failedChecks > 0 && !report.roundTripsMs.empty())
        notes << QStringLiteral("%1 of %2 connection checks failed: an update stops at the first "
                                "reply it does not get.")
                     .arg(report.failedChecks)
                     .arg(report.checks);
    if (!report.restart || !report.unit)
        return notes;
    noteTrip(notes, report.toBootloader, *report.unit, "bootloader", kSlowIntoBootloaderNote);
    if (const std::optional<bool> toldApart = bootloaderToldApart(report)) {
        notes << (*toldApart ? QStringLiteral("Its bootloader is listed otherwise than its "
                                              "application: it can be told apart without sending "
                                              "it anything.")
                             : QStringLiteral("Its bootloader is listed as its application is: "
                                              "only a command can tell them apart."));
    }
    if (report.toBootloader.elsewhere)
        notes << QStringLiteral("A ControlPanel came up at USB port %1 while the unit was away: "
                                "its port may not survive its restart.")
                     .arg(QString::fromStdString(report.toBootloader.elsewhere->port));
    noteTrip(notes, report.toApplication, *report.unit, "application", kSlowIntoApplicationNote);
    if (report.toApplication.back && report.toApplication.back->release != report.unit->release)
        notes << QStringLiteral("Back in its application it gives another USB release than "
                                "before.");
    return notes;
}

RoundTripFigures roundTripFigures(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t count = values.size();
    const double median =
        count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
    const auto p99Rank = static_cast<std::size_t>(std::ceil(0.99 * double(count)));
    return {values.front(), median, values[p99Rank - 1], values.back()};
}

QJsonObject probeReportJson(const ProbeReport &report)
{
    // Written with its offset (setOffsetFromUtc does the same, but Qt 6.8 deprecated it).
    const QDateTime time = report.time.toOffsetFromUtc(report.time.offsetFromUtc());
    const RoundTripFigures figures = roundTripFigures(report.roundTripsMs);
    QJsonObject json{
        {QStringLiteral("time"), time.toString(Qt::ISODate)},
        {QStringLiteral("unit"), unitJson(report.unit)},
        {QStringLiteral("assumed"),
         QJsonObject{{QStringLiteral("replyMs"), kReplyTimeoutMs},
                     {QStringLiteral("windowRestartMs"), kFixedWaitMs},
                     {QStringLiteral("leaveTimeoutMs"), report.timing.departureMs},
                     {QStringLiteral("returnTimeoutMs"), report.timing.returnMs}}},
        {QStringLiteral("roundTripMs"),
         QJsonObject{{QStringLiteral("checks"), report.checks},
                     {QStringLiteral("failed"), report.failedChecks},
                     {QStringLiteral("min"), milliseconds(figures.min)},
                     {QStringLiteral("median"), milliseconds(figures.median)},
                     {QStringLiteral("p99"), milliseconds(figures.p99)},
                     {QStringLiteral("max"), milliseconds(figures.max)}}},
    };
    if (report.restart && report.unit) {
        json.insert(QStringLiteral("toBootloader"), tripJson(report.toBootloader, *report.unit));
        json.insert(QStringLiteral("toApplication"), tripJson(report.toApplication, *report.unit));
        const std::optional<bool> toldApart = bootloaderToldApart(report);
        json.insert(QStringLiteral("bootloaderToldApart"),
                    toldApart ? QJsonValue(*toldApart) : QJsonValue(QJsonValue::Null));
        json.insert(QStringLiteral("finalCheckMs"), milliseconds(report.finalCheckMs));
    }
    json.insert(QStringLiteral("notes"), QJsonArray::fromStringList(probeNotes(report)));
    return json;
}

QString probeReportPath(const QString &port, const QDateTime &time)
{
    return QFileInfo(historyPath()).path() +
           QStringLiteral("/probe-%1-%2.json")
               .arg(fileNamePart(port), time.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")));
}

QString keepProbeReport(const QString &path, const QJsonObject &report)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    file.write(QJsonDocument(report).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}
