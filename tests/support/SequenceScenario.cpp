#include "SequenceScenario.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

std::vector<Block> blocksFor(Target target)
{
    if (isPanel(target))
        return {{0x0000, pattern(100, 0x11, 13)},
                {0x1040, pattern(20, 0x52, 13)},
                {0x3FC00, pattern(0x18, 0xA7, 13)}};
    return {{0x0000, pattern(128, 0x05, 13)},
            {0x0100, pattern(70, 0x3C, 13)},
            {0x7D80, pattern(128, 0xC9, 13)}};
}

const std::vector<std::uint32_t> &pagesFor(Target target)
{
    static const std::vector<std::uint32_t> panelPages{0, 1, 65, 4080};
    static const std::vector<std::uint32_t> boardPages{0, 2, 251};
    return isPanel(target) ? panelPages : boardPages;
}

QByteArray refusedFile(Target target)
{
    return hexFile({{isPanel(target) ? 0x3FC10u : 0x7DF8u, pattern(16, 0x01, 13)}});
}

QString refusal(Target target)
{
    return QStringLiteral("Memory address limit of %1 bytes exceeded")
        .arg(isPanel(target) ? 261144 : 32256);
}

QString mismatch(std::uint32_t address, int expected, int actual)
{
    return QStringLiteral("\nError: Address 0x%1  Actual 0x%2  Expected 0x%3\n")
        .arg(address, 5, 16, QChar('0'))
        .arg(actual, 2, 16, QChar('0'))
        .arg(expected, 2, 16, QChar('0'));
}

Report followedBy(const Reports &sent, char first, char second)
{
    Report report = sent.empty() ? Report(65, 0) : sent.back();
    report[1] = std::uint8_t(first);
    report[2] = std::uint8_t(second);
    return report;
}

namespace {

Reports wholeTraffic(Target target)
{
    const auto image = imageOf(blocksFor(target));
    TrafficModel model;
    model.command('E', 'e');
    if (isPanel(target)) {
        model.command('B', 'b');
        model.command('C', 'c');
        for (std::uint32_t page : pagesFor(target)) {
            if (page % 4 == 0)
                model.command32('X', 'x', page * 64);
            model.command32('Y', 'y', page * 64);
            model.data(image->data() + page * 64);
        }
        for (std::uint32_t page : pagesFor(target))
            model.command32('R', 'r', page * 64);
    } else {
        model.command('K', 'k');
        model.command('C', 'c');
        for (std::uint32_t page : pagesFor(target)) {
            model.command16('L', 'l', page * 128);
            model.command('M', 'm');
            model.data(image->data() + page * 128);
            model.data(image->data() + page * 128 + 64);
        }
        for (std::uint32_t page : pagesFor(target)) {
            model.command16('L', 'l', page * 128);
            model.command('N', 'n');
        }
        model.command('O', 'o');
    }
    return model.reports;
}

} // namespace

Reports expectedTraffic(Target target, int count, bool exit)
{
    Reports reports = wholeTraffic(target);
    if (count >= 0)
        reports.resize(std::size_t(count));
    if (exit)
        reports.push_back(followedBy(reports, 'b', 'B'));
    return reports;
}

QString flashDifference(const std::uint8_t *flash, std::size_t size, Target target, int written)
{
    const auto image = imageOf(blocksFor(target));
    const std::uint32_t pageSize = isPanel(target) ? 64 : 128;
    std::vector<std::uint8_t> expected(size, 0xFF);
    for (int i = 0; i < written; ++i) {
        const std::uint32_t offset = pagesFor(target)[std::size_t(i)] * pageSize;
        std::memcpy(expected.data() + offset, image->data() + offset, pageSize);
    }
    for (std::size_t address = 0; address < size; ++address) {
        if (flash[address] != expected[address])
            return QStringLiteral("0x%1 holds 0x%2, expected 0x%3")
                .arg(address, 5, 16, QChar('0'))
                .arg(flash[address], 2, 16, QChar('0'))
                .arg(expected[address], 2, 16, QChar('0'));
    }
    return {};
}

QString writeHexFile(const QString &folder, const QString &name, const QByteArray &text)
{
    const QString path = folder + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return {};
    return path;
}
