#include "ProgrammerFixture.h"

#include "HexRecord.h"

#include <cstring>

QByteArray pattern(int size, int start, int stride)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char((start + i * stride) & 0xFF));
    return bytes;
}

QByteArray hexFile(const std::vector<Block> &blocks)
{
    QByteArray text;
    std::uint32_t upper = 0;
    auto record = [&text](int type, std::uint32_t address, const QByteArray &data) {
        text += QByteArray::fromStdString(
                    hexRecord(type, std::uint16_t(address),
                              reinterpret_cast<const std::uint8_t *>(data.constData()),
                              std::size_t(data.size()))) +
                "\n";
    };
    for (const Block &block : blocks) {
        for (int i = 0; i < block.bytes.size(); i += 16) {
            const std::uint32_t address = block.address + std::uint32_t(i);
            const QByteArray data = block.bytes.mid(i, 16);
            if (address >> 16 != upper) {
                upper = address >> 16;
                QByteArray value;
                value.append(char(upper >> 8)).append(char(upper & 0xFF));
                record(4, 0, value);
            }
            record(0, address & 0xFFFF, data);
        }
    }
    record(1, 0, {});
    return text;
}

std::unique_ptr<FirmwareImage> imageOf(const std::vector<Block> &blocks)
{
    auto image = std::make_unique<FirmwareImage>();
    image->fill(0xFF);
    for (const Block &block : blocks)
        std::memcpy(image->data() + block.address, block.bytes.constData(),
                    std::size_t(block.bytes.size()));
    return image;
}

HexFile textFile(const QByteArray &text)
{
    HexFile file(std::tmpfile());
    if (file) {
        std::fwrite(text.constData(), 1, std::size_t(text.size()), file.get());
        std::rewind(file.get());
    }
    return file;
}

std::unique_ptr<ProgrammerRun> runProgrammer(const UpdateTarget &target, const QByteArray &hex)
{
    auto run = std::make_unique<ProgrammerRun>();
    CommandChannel channel;
    if (channel.openChannel()) {
        run->result = QStringLiteral("no device to program");
        return run;
    }
    HexFile file = textFile(hex);
    run->result =
        programHexFile(target, channel, target.profile, file.get(), run->progress, &run->loaded);
    return run;
}

void TrafficModel::command(char first, char second)
{
    payload[0] = std::uint8_t(first);
    payload[1] = std::uint8_t(second);
    push();
}

void TrafficModel::command32(char first, char second, std::uint32_t offset)
{
    payload[2] = std::uint8_t(offset >> 24);
    payload[3] = std::uint8_t(offset >> 16);
    payload[4] = std::uint8_t(offset >> 8);
    payload[5] = std::uint8_t(offset);
    command(first, second);
}

void TrafficModel::command16(char first, char second, std::uint32_t offset)
{
    payload[2] = std::uint8_t(offset >> 8);
    payload[3] = std::uint8_t(offset);
    command(first, second);
}

void TrafficModel::data(const std::uint8_t *bytes)
{
    std::memcpy(payload.data(), bytes, payload.size());
    push();
}

void TrafficModel::push()
{
    std::vector<std::uint8_t> report(1, 0);
    report.insert(report.end(), payload.begin(), payload.end());
    reports.push_back(report);
}

QStringList describe(const std::vector<std::vector<std::uint8_t>> &reports)
{
    QStringList lines;
    for (const auto &report : reports)
        lines << QByteArray(reinterpret_cast<const char *>(report.data()), int(report.size()))
                     .toHex(' ');
    return lines;
}
