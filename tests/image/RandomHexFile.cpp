#include "RandomHexFile.h"

#include "../support/HexRecord.h"

#include <QBitArray>

#include <random>

namespace {

class Writer
{
public:
    Writer(RandomHexFile &file, std::mt19937 &random, int lineEnds)
        : file(file), random(random), lineEnds(lineEnds)
    {
    }

    void record(int type, std::uint32_t address, const QByteArray &data)
    {
        const QByteArray line = QByteArray::fromStdString(hexRecord(
            type, std::uint16_t(address), reinterpret_cast<const std::uint8_t *>(data.constData()),
            std::size_t(data.size())));
        file.text += file.lowerCase ? line.toLower() : line;
        // 0: LF throughout, 1: CR LF throughout, 2: a mix.
        const bool crLf = lineEnds == 1 || (lineEnds == 2 && random() % 2 == 0);
        file.text += crLf ? "\r\n" : "\n";
    }

    void addressRecord(int type, std::uint32_t value)
    {
        const char bigEndian[] = {char(value >> 8), char(value)};
        record(type, 0, QByteArray(bigEndian, 2));
        ++file.addressRecords;
    }

private:
    RandomHexFile &file;
    std::mt19937 &random;
    int lineEnds;
};

} // namespace

RandomHexFile makeRandomHexFile(std::uint32_t start, HexVariant variant,
                                const TargetProfile &profile)
{
    std::mt19937 random(start);
    auto chance = [&random](unsigned percent) { return random() % 100 < percent; };
    auto between = [&random](std::uint32_t low, std::uint32_t high) {
        return low + random() % (high - low + 1);
    };

    RandomHexFile file;
    file.image = std::make_unique<FirmwareImage>();
    file.image->fill(0xFF);
    file.lowest = profile.imageLimit;
    file.lowerCase = chance(25);
    const int lineEnds = int(random() % 3);
    file.crLf = lineEnds != 0;
    Writer writer(file, random, lineEnds);

    const bool extended = variant == HexVariant::ControlPanel;
    const bool mayOverlap = chance(25);
    QBitArray written(static_cast<int>(kFirmwareImageSize));
    std::uint32_t base = 0;
    // GNU objcopy adds a segment base to a linear one, so the other kind is zeroed before a
    // switch; the loader replaces one base with the next.
    std::uint32_t segmentValue = 0;
    std::uint32_t linearValue = 0;
    std::uint32_t cursor = 0;
    std::uint32_t previous = 0;
    std::uint32_t previousSize = 0;

    const int records = int(between(1, 80));
    for (int r = 0; r < records; ++r) {
        if (r > 0 && extended && chance(12)) {
            if (chance(50)) {
                if (segmentValue != 0) {
                    segmentValue = 0;
                    writer.addressRecord(0x02, 0);
                }
                linearValue = between(0, (profile.imageLimit - 1) >> 16);
                writer.addressRecord(0x04, linearValue);
                base = linearValue << 16;
            } else {
                if (linearValue != 0) {
                    linearValue = 0;
                    writer.addressRecord(0x04, 0);
                }
                segmentValue = between(0, (profile.imageLimit - 1) >> 4);
                writer.addressRecord(0x02, segmentValue);
                base = segmentValue << 4;
            }
            cursor = base + between(0, 0x200);
            continue;
        }
        if (r > 0 && chance(4)) {
            const int type = chance(50) ? 0x03 : 0x05;
            writer.record(type, 0, QByteArray::fromHex("00001234"));
            continue;
        }
        if (r > 0 && !extended && chance(3)) {
            writer.addressRecord(chance(50) ? 0x02 : 0x04, 0); // skipped by the board loader
            continue;
        }

        const std::uint32_t size = between(1, 32);
        const std::uint32_t windowEnd = std::min(base + 0x10000, profile.imageLimit);
        if (base + size > windowEnd) {
            continue;
        }
        std::uint32_t address = 0;
        const unsigned how = random() % 10;
        if (mayOverlap && previousSize > 0 && how == 0) {
            address = previous + between(0, previousSize - 1);
        } else if (how <= 3) {
            address = cursor;
        } else if (how <= 5) {
            address = cursor + between(1, 100);
        } else if (how == 6) {
            address = windowEnd - size - between(0, std::min(40u, windowEnd - size - base));
        } else {
            address = between(base, windowEnd - size);
        }
        auto fits = [&] { return address >= base && address + size <= windowEnd; };
        auto isFree = [&] {
            for (std::uint32_t a = address; a < address + size; ++a) {
                if (written.testBit(int(a))) {
                    return false;
                }
            }
            return true;
        };
        for (int attempt = 0; attempt < 20 && !(fits() && (mayOverlap || isFree())); ++attempt) {
            address = between(base, windowEnd - size);
        }
        if (!fits() || (!mayOverlap && !isFree())) {
            continue;
        }

        QByteArray data(int(size), '\0');
        const bool allErased = chance(8);
        for (char &byte : data) {
            byte = char(allErased || chance(15) ? 0xFF : random() & 0xFF);
        }
        file.overlapping = file.overlapping || !isFree();
        writer.record(0x00, address - base, data);
        for (std::uint32_t k = 0; k < size; ++k) {
            (*file.image)[address + k] = quint8(data[int(k)]);
            written.setBit(int(address + k));
        }
        file.lowest = std::min(file.lowest, address);
        file.end = std::max(file.end, address + size);
        ++file.dataRecords;
        previous = address;
        previousSize = size;
        cursor = address + size;
    }
    writer.record(0x01, 0, QByteArray());
    return file;
}
