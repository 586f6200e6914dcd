#include "RecordingFormat.h"

#include <QJsonArray>

namespace {

struct KindName
{
    HidCall::Kind kind;
    const char *name;
};
constexpr KindName kKindNames[] = {
    {HidCall::Kind::Enumerate, "enumerate"}, {HidCall::Kind::Open, "open"},
    {HidCall::Kind::Write, "write"},         {HidCall::Kind::Read, "read"},
    {HidCall::Kind::Close, "close"},         {HidCall::Kind::Exit, "exit"},
};

QString hex16(unsigned short value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

bool fromHex16(const QJsonValue &value, unsigned short &number)
{
    const QString text = value.toString();
    bool ok = false;
    const uint parsed = text.toUInt(&ok, 16);
    if (!ok || text.size() != 4)
        return false;
    number = static_cast<unsigned short>(parsed);
    return true;
}

QString wide(const std::wstring &text)
{
    return QString::fromStdWString(text);
}

bool sameUnit(const ListedDevice &a, const ListedDevice &b)
{
    return a.unit.path == b.unit.path && a.unit.port == b.unit.port &&
           a.unit.serialNumber == b.unit.serialNumber &&
           a.unit.manufacturer == b.unit.manufacturer && a.unit.product == b.unit.product &&
           a.unit.release == b.unit.release && a.vendorId == b.vendorId &&
           a.productId == b.productId;
}

bool sameListing(const std::vector<ListedDevice> &a, const std::vector<ListedDevice> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameUnit(a[i], b[i]))
            return false;
    return true;
}

QJsonObject deviceJson(const ListedDevice &device)
{
    return {{QStringLiteral("path"), QString::fromStdString(device.unit.path)},
            {QStringLiteral("port"), QString::fromStdString(device.unit.port)},
            {QStringLiteral("vendorId"), hex16(device.vendorId)},
            {QStringLiteral("productId"), hex16(device.productId)},
            {QStringLiteral("release"), hex16(device.unit.release)},
            {QStringLiteral("serialNumber"), wide(device.unit.serialNumber)},
            {QStringLiteral("manufacturer"), wide(device.unit.manufacturer)},
            {QStringLiteral("product"), wide(device.unit.product)}};
}

QString deviceFromJson(const QJsonObject &object, ListedDevice &device)
{
    const QJsonValue path = object.value(QStringLiteral("path"));
    if (!path.isString())
        return QStringLiteral("a device without its \"path\"");
    device.unit.path = path.toString().toStdString();
    device.unit.port = object.value(QStringLiteral("port")).toString().toStdString();
    if (!fromHex16(object.value(QStringLiteral("vendorId")), device.vendorId) ||
        !fromHex16(object.value(QStringLiteral("productId")), device.productId) ||
        !fromHex16(object.value(QStringLiteral("release")), device.unit.release))
        return QStringLiteral("a device's \"vendorId\", \"productId\" or \"release\" is not four "
                              "hexadecimal digits");
    device.unit.serialNumber =
        object.value(QStringLiteral("serialNumber")).toString().toStdWString();
    device.unit.manufacturer =
        object.value(QStringLiteral("manufacturer")).toString().toStdWString();
    device.unit.product = object.value(QStringLiteral("product")).toString().toStdWString();
    return QString();
}

bool isCount(const QJsonValue &value)
{
    return value.isDouble() && value.toDouble() == double(qint64(value.toDouble()));
}

} // namespace

QJsonObject recordingHeader(const QJsonObject &about)
{
    QJsonObject header = about;
    header.insert(QStringLiteral("format"), QLatin1String(kRecordingFormat));
    header.insert(QStringLiteral("version"), kRecordingVersion);
    return header;
}

HeaderCheck checkRecordingHeader(const QJsonObject &line)
{
    if (line.value(QStringLiteral("format")).toString() != QLatin1String(kRecordingFormat))
        return {HeaderCheck::End::Refused,
                QStringLiteral("its first line does not name the format \"%1\"")
                    .arg(QLatin1String(kRecordingFormat))};
    const int version = line.value(QStringLiteral("version")).toInt();
    if (version != kRecordingVersion)
        return {HeaderCheck::End::Refused,
                QStringLiteral("it is of version %1; this program reads version %2")
                    .arg(version)
                    .arg(kRecordingVersion)};
    return {HeaderCheck::End::Recording, QString()};
}

namespace {

// Bytes as lower-case hexadecimal digits, two a byte, and back (false: not such digits).
QString hexBytes(const std::vector<std::uint8_t> &bytes)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex());
}

bool bytesFromHex(const QString &text, std::vector<std::uint8_t> &bytes)
{
    if (text.size() % 2 != 0)
        return false;
    for (const QChar c : text)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    const QByteArray raw = QByteArray::fromHex(text.toLatin1());
    bytes.assign(raw.begin(), raw.end());
    return true;
}

} // namespace

QJsonObject CallEncoder::encode(const HidCall &call)
{
    QJsonObject line{{QLatin1String(kTimeKey), double(call.atUs)}};
    for (const KindName &named : kKindNames)
        if (named.kind == call.kind)
            line.insert(QLatin1String(kCallKey), QLatin1String(named.name));
    switch (call.kind) {
    case HidCall::Kind::Enumerate:
        if (listedBefore && sameListing(call.devices, lastListed)) {
            line.insert(QStringLiteral("unchanged"), true);
        } else {
            QJsonArray devices;
            for (const ListedDevice &device : call.devices)
                devices.append(deviceJson(device));
            line.insert(QStringLiteral("devices"), devices);
        }
        lastListed = call.devices;
        listedBefore = true;
        break;
    case HidCall::Kind::Open:
        if (!call.path.empty())
            line.insert(QStringLiteral("path"), QString::fromStdString(call.path));
        line.insert(QStringLiteral("handle"), call.handle);
        if (call.handle == 0)
            line.insert(QStringLiteral("error"), wide(call.error));
        break;
    case HidCall::Kind::Write:
        line.insert(QStringLiteral("handle"), call.handle);
        line.insert(QStringLiteral("bytes"), hexBytes(call.bytes));
        line.insert(QStringLiteral("result"), call.result);
        break;
    case HidCall::Kind::Read:
        line.insert(QStringLiteral("handle"), call.handle);
        line.insert(QStringLiteral("timeoutMs"), call.timeoutMs);
        line.insert(QStringLiteral("result"), call.result);
        if (call.result > 0)
            line.insert(QStringLiteral("bytes"), hexBytes(call.bytes));
        break;
    case HidCall::Kind::Close:
        line.insert(QStringLiteral("handle"), call.handle);
        break;
    case HidCall::Kind::Exit:
        break;
    }
    return line;
}

CallRead CallDecoder::decode(const QJsonObject &line)
{
    CallRead read;
    if (!line.contains(QLatin1String(kCallKey))) {
        read.end = CallRead::End::NotACall;
        return read;
    }
    const auto malformed = [&read](const QString &why) {
        read.end = CallRead::End::Malformed;
        read.why = why;
        return read;
    };
    const QString name = line.value(QLatin1String(kCallKey)).toString();
    const KindName *kind = nullptr;
    for (const KindName &named : kKindNames)
        if (name == QLatin1String(named.name))
            kind = &named;
    if (!kind)
        return malformed(QStringLiteral("an unknown call \"%1\"").arg(name));
    if (!isCount(line.value(QLatin1String(kTimeKey))))
        return malformed(QStringLiteral("no time \"t\" in microseconds"));
    HidCall &call = read.call;
    call.kind = kind->kind;
    call.atUs = qint64(line.value(QLatin1String(kTimeKey)).toDouble());
    call.handle = line.value(QStringLiteral("handle")).toInt();
    switch (call.kind) {
    case HidCall::Kind::Enumerate:
        if (line.value(QStringLiteral("unchanged")).toBool()) {
            if (!listedBefore)
                return malformed(QStringLiteral("\"unchanged\" before any enumeration"));
            call.devices = lastListed;
        } else {
            const QJsonValue devices = line.value(QStringLiteral("devices"));
            if (!devices.isArray())
                return malformed(QStringLiteral("an enumeration without its \"devices\""));
            for (const QJsonValue &value : devices.toArray()) {
                ListedDevice device;
                const QString why = deviceFromJson(value.toObject(), device);
                if (!why.isEmpty())
                    return malformed(why);
                call.devices.push_back(std::move(device));
            }
        }
        lastListed = call.devices;
        listedBefore = true;
        break;
    case HidCall::Kind::Open:
        call.path = line.value(QStringLiteral("path")).toString().toStdString();
        call.error = line.value(QStringLiteral("error")).toString().toStdWString();
        break;
    case HidCall::Kind::Write:
    case HidCall::Kind::Read:
        if (!isCount(line.value(QStringLiteral("result"))))
            return malformed(QStringLiteral("a %1 without its \"result\"").arg(name));
        call.result = line.value(QStringLiteral("result")).toInt();
        call.timeoutMs = line.value(QStringLiteral("timeoutMs")).toInt();
        if (!bytesFromHex(line.value(QStringLiteral("bytes")).toString(), call.bytes))
            return malformed(QStringLiteral("\"bytes\" that are not pairs of hexadecimal digits"));
        if (call.kind == HidCall::Kind::Read && call.result > 0 &&
            call.bytes.size() != std::size_t(call.result))
            return malformed(QStringLiteral("a read whose \"bytes\" are not its \"result\""));
        break;
    case HidCall::Kind::Close:
    case HidCall::Kind::Exit:
        break;
    }
    read.end = CallRead::End::Call;
    return read;
}
