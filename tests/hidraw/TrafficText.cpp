#include "TrafficText.h"

#include <utility>

namespace umockdev {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string formatRecord(const sim::TrafficRecord &record)
{
    static const char digits[] = "0123456789abcdef";
    std::string line = record.direction == sim::TrafficRecord::Direction::Out ? ">" : "<";
    if (!record.bytes.empty())
        line += ' ';
    for (const std::uint8_t byte : record.bytes) {
        line += digits[byte >> 4];
        line += digits[byte & 0x0F];
    }
    return line;
}

std::string formatTraffic(const std::vector<sim::TrafficRecord> &traffic, int device)
{
    std::string text;
    for (const sim::TrafficRecord &record : traffic)
        if (record.device == device)
            text += formatRecord(record) + '\n';
    return text;
}

bool parseTraffic(const std::string &text, std::vector<sim::TrafficRecord> &traffic,
                  std::string &error)
{
    std::vector<sim::TrafficRecord> parsed;
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const auto fail = [&](const char *why) {
            error = "line " + std::to_string(number) + ": " + why;
            return true;
        };
        if (line.empty() || (line[0] != '>' && line[0] != '<'))
            return fail("expected '>' or '<'");
        sim::TrafficRecord record{line[0] == '>' ? sim::TrafficRecord::Direction::Out
                                                 : sim::TrafficRecord::Direction::In,
                                  0,
                                  {}};
        if (line.size() > 1) {
            if (line[1] != ' ' || line.size() == 2 || line.size() % 2 != 0)
                return fail("expected a space and pairs of hex digits");
            for (std::size_t i = 2; i < line.size(); i += 2) {
                const int high = hexValue(line[i]);
                const int low = hexValue(line[i + 1]);
                if (high < 0 || low < 0)
                    return fail("not a hex digit");
                record.bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
            }
        }
        parsed.push_back(std::move(record));
    }
    traffic = std::move(parsed);
    return false;
}

} // namespace umockdev
