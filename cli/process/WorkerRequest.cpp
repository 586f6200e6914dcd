#include "WorkerRequest.h"

#include "PageMapBuilder.h"
#include "PageWalk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

constexpr int kRequestVersion = 1;

std::uint32_t coveredBytes(const TargetProfile &profile)
{
    return profile.pageCount * profile.pageSize;
}

} // namespace

QByteArray workerRequest(const VerbRequest &request, const HexFileCheck &check, const QString &port)
{
    const FirmwareImage &image = check.image->image;
    const QByteArray bytes(reinterpret_cast<const char *>(image.data()),
                           int(coveredBytes(request.target->profile)));
    const QJsonObject object{
        {QStringLiteral("version"), kRequestVersion},
        {QStringLiteral("target"), QLatin1String(request.target->name)},
        {QStringLiteral("port"), port},
        // The name byte for byte: one that is not UTF-8 still names the file in the history.
        {QStringLiteral("file"), QString::fromLatin1(request.file.toBase64())},
        {QStringLiteral("leaveTimeout"), request.leaveTimeoutSeconds},
        {QStringLiteral("restartTimeout"), request.restartTimeoutSeconds},
        {QStringLiteral("lines"), qint64(check.summary.lines)},
        {QStringLiteral("endOfFileRecord"), check.summary.endOfFileRecord},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(check.warnings)},
        {QStringLiteral("sha256"), QString::fromLatin1(check.summary.sha256)},
        {QStringLiteral("image"), QString::fromLatin1(bytes.toBase64())}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<WorkerTask> workerTask(const QByteArray &request)
{
    const QJsonObject object = QJsonDocument::fromJson(request).object();
    const UpdateTarget *target = targetNamed(object.value(QStringLiteral("target")).toString());
    const QByteArray bytes =
        QByteArray::fromBase64(object.value(QStringLiteral("image")).toString().toLatin1());
    if (object.value(QStringLiteral("version")).toInt() != kRequestVersion || !target ||
        std::uint32_t(bytes.size()) != coveredBytes(target->profile))
        return std::nullopt;

    WorkerTask task;
    VerbRequest &verb = task.request;
    verb.target = target;
    verb.json = true;
    verb.unit.port = object.value(QStringLiteral("port")).toString();
    verb.file = QByteArray::fromBase64(object.value(QStringLiteral("file")).toString().toLatin1());
    verb.leaveTimeoutSeconds = object.value(QStringLiteral("leaveTimeout")).toInt();
    verb.restartTimeoutSeconds = object.value(QStringLiteral("restartTimeout")).toInt();

    auto loaded = std::make_shared<LoadedImage>();
    loaded->image.fill(0xFF);
    std::copy(bytes.begin(), bytes.end(), loaded->image.begin());
    loaded->usedPages = buildPageMap(loaded->image, target->profile, loaded->pageMap);
    HexLoadResult load;
    load.lines = static_cast<unsigned long>(object.value(QStringLiteral("lines")).toDouble());
    load.endOfFileRecord = object.value(QStringLiteral("endOfFileRecord")).toBool();

    HexFileCheck &check = task.check;
    check.summary =
        summarizeImage(loaded->image, loaded->pageMap, loaded->usedPages, target->profile, load);
    const QString expected = object.value(QStringLiteral("sha256")).toString();
    // Whatever went wrong on the way, the unit is written the image checked or nothing.
    if (QString::fromLatin1(check.summary.sha256) != expected) {
        check.verdict = HexFileCheck::Verdict::OtherImage;
        check.error = QString::fromLatin1(kOtherImageRefusal)
                          .arg(QString::fromLatin1(check.summary.sha256), expected);
        return task;
    }
    check.verdict = HexFileCheck::Verdict::Good;
    for (const QJsonValue &warning : object.value(QStringLiteral("warnings")).toArray())
        check.warnings << warning.toString();
    check.image = std::move(loaded);
    return task;
}
