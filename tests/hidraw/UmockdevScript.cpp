#include "UmockdevScript.h"

#include <cctype>
#include <utility>

namespace umockdev {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string describe(std::size_t index, const char *what)
{
    return "traffic record " + std::to_string(index) + ": " + what;
}

} // namespace

std::string encodeBlock(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        if (byte < 32) {
            text += '^';
            text += static_cast<char>(byte + 64);
        } else if (byte == '^') {
            text += "^`";
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

std::vector<std::uint8_t> decodeBlock(const std::string &text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(text[i]);
        if (c != '^' || i + 1 == text.size()) {
            bytes.push_back(c);
            continue;
        }
        const auto next = static_cast<std::uint8_t>(text[++i]);
        bytes.push_back(next == '`' ? std::uint8_t('^') : static_cast<std::uint8_t>(next - 64));
    }
    return bytes;
}

bool scriptFromTraffic(const std::vector<sim::TrafficRecord> &traffic, std::string &script,
                       std::string &error, int device, int readTimeoutMs)
{
    using Direction = sim::TrafficRecord::Direction;
    std::string text = "# ControlPanel traffic: w is a report written, r a reply read\n";
    int timeouts = 0;          // reads since the last line that delivered nothing
    bool shortPending = false; // the last line was a reply shorter than a report
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        const sim::TrafficRecord &record = traffic[i];
        if (record.device != device)
            continue;
        if (!record.bytes.empty() && record.bytes.front() == ' ') {
            error = describe(i, "begins with a space, which umockdev would skip");
            return true;
        }
        if (record.direction == Direction::Out) {
            if (record.bytes.empty()) {
                error = describe(i, "writes nothing");
                return true;
            }
            text += "w 0 " + encodeBlock(record.bytes) + '\n';
            timeouts = 0;
            shortPending = false;
            continue;
        }
        if (record.bytes.empty()) {
            ++timeouts;
            continue;
        }
        if (shortPending && timeouts == 0) {
            error = describe(i, "follows a short reply directly; the two would merge");
            return true;
        }
        const int delay = timeouts == 0 ? 0 : timeouts * readTimeoutMs + readTimeoutMs / 2;
        text += "r " + std::to_string(delay) + ' ' + encodeBlock(record.bytes) + '\n';
        timeouts = 0;
        shortPending = record.bytes.size() < static_cast<std::size_t>(kReplySize);
    }
    script = text;
    return false;
}

bool parseScript(const std::string &text, std::vector<ScriptLine> &lines, std::string &error)
{
    std::vector<ScriptLine> parsed;
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == 'Q')
            break;
        if (line[0] != 'w' && line[0] != 'r') {
            error = "line " + std::to_string(number) + ": operation '" + line.substr(0, 1) +
                    "' is not supported";
            return true;
        }
        std::size_t pos = 1;
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        const std::size_t digits = pos;
        int delay = 0;
        while (pos < line.size() && std::isdigit(static_cast<unsigned char>(line[pos])))
            delay = delay * 10 + (line[pos++] - '0');
        if (pos == digits) {
            error = "line " + std::to_string(number) + ": no delay";
            return true;
        }
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        parsed.push_back({line[0] == 'w' ? ScriptLine::Op::Write : ScriptLine::Op::Read, delay,
                          decodeBlock(line.substr(pos))});
    }
    lines = std::move(parsed);
    return false;
}

} // namespace umockdev
