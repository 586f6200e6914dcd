#include "DemoSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <regex>

namespace sim {

namespace {

constexpr char kSeparator = ',';
constexpr char kFieldSeparator = '@';
constexpr char kIndexMark = '#';
constexpr char kOccurrenceMark = ':';
// Enough for any report count a run reaches, and safely inside an int.
constexpr std::size_t kMaxDigits = 9;

struct KindName
{
    const char *name;
    FaultKind kind;
};

constexpr KindName kKindNames[] = {
    {"no-reply", FaultKind::NoReply},
    {"late-reply", FaultKind::LateReply},
    {"short-reply", FaultKind::ShortReply},
    {"wrong-echo", FaultKind::WrongEcho},
    {"wrong-second-byte", FaultKind::WrongSecondByte},
    {"duplicated-reply", FaultKind::DuplicatedReply},
    {"unsolicited", FaultKind::Unsolicited},
    {"failed-write", FaultKind::FailedWrite},
    {"short-write", FaultKind::ShortWrite},
    {"corrupt-flash", FaultKind::CorruptFlash},
    {"corrupt-read-back", FaultKind::CorruptReadBack},
};

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// A count from 0, digits only.
bool parseCount(const std::string &text, int &count)
{
    if (text.empty() || text.size() > kMaxDigits ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    count = std::stoi(text);
    return true;
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string kindList()
{
    std::string list;
    for (const KindName &entry : kKindNames)
        list += (list.empty() ? "" : ", ") + std::string(entry.name);
    return list;
}

// Returns why `where` is refused, or an empty text with `trigger` set.
std::string parseWhere(const std::string &where, FaultTrigger &trigger)
{
    int number = 0;
    if (!where.empty() && where[0] == kIndexMark) {
        if (!parseCount(where.substr(1), number))
            return "the report's number after '#' must be a count from 0";
        trigger = FaultTrigger::atReport(number);
        return {};
    }
    if (where.size() < 2 || !isLetter(where[0]) || !isLetter(where[1]))
        return "where the fault strikes must be #N or two command letters, such as Rr:3";
    if (where.size() > 2 && (where[2] != kOccurrenceMark || !parseCount(where.substr(3), number)))
        return "after the command letters may come only ':' and the occurrence, a count from 0";
    trigger = FaultTrigger::onCommand(where[0], where[1], number);
    return {};
}

std::string parseEntry(const std::string &entry, const std::vector<std::string> &ports,
                       FaultEntry &parsed)
{
    const std::vector<std::string> fields = split(entry, kFieldSeparator);
    if (fields.size() < 2 || fields.size() > 3)
        return "an entry is KIND@WHERE or KIND@WHERE@PORT";
    const auto kind = std::find_if(std::begin(kKindNames), std::end(kKindNames),
                                   [&](const KindName &k) { return fields[0] == k.name; });
    if (kind == std::end(kKindNames))
        return "unknown fault kind \"" + fields[0] + "\" (one of " + kindList() + ")";
    if (std::string problem = parseWhere(fields[1], parsed.trigger); !problem.empty())
        return problem;
    if (fields.size() == 3) {
        if (std::find(ports.begin(), ports.end(), fields[2]) == ports.end())
            return "no simulated unit at port \"" + fields[2] + "\"";
        parsed.trigger = parsed.trigger.atPort(fields[2]);
    }
    parsed.fault = Fault{kind->kind};
    return {};
}

} // namespace

std::string parseUnitList(const std::string &text, std::vector<std::string> &ports)
{
    // A USB port as sysfs names it: the bus, a dash, then the hub ports joined by dots.
    static const std::regex portName("[1-9][0-9]*-[1-9][0-9]*(\\.[1-9][0-9]*)*");
    std::vector<std::string> parsed;
    for (const std::string &port : split(text, kSeparator)) {
        if (!std::regex_match(port, portName))
            return "\"" + port + "\" is not a USB port such as 1-1 or 1-1.2";
        if (std::find(parsed.begin(), parsed.end(), port) != parsed.end())
            return "port " + port + " is named twice";
        parsed.push_back(port);
    }
    ports = std::move(parsed);
    return {};
}

std::string parseRestartTime(const std::string &text, std::chrono::milliseconds &time)
{
    int milliseconds = 0;
    if (!parseCount(text, milliseconds))
        return "\"" + text + "\" is not a number of milliseconds";
    time = std::chrono::milliseconds(milliseconds);
    return {};
}

std::string parseFaultList(const std::string &text, const std::vector<std::string> &ports,
                           std::vector<FaultEntry> &faults)
{
    std::vector<FaultEntry> parsed;
    for (const std::string &entry : split(text, kSeparator)) {
        FaultEntry fault{FaultTrigger::atReport(0), Fault{FaultKind::NoReply}};
        if (std::string problem = parseEntry(entry, ports, fault); !problem.empty())
            return "\"" + entry + "\": " + problem;
        parsed.push_back(std::move(fault));
    }
    faults = std::move(parsed);
    return {};
}

std::string readDemoSettings(DemoSettings &settings)
{
    auto variable = [](const char *name) {
        const char *value = std::getenv(name);
        return std::string(value ? value : "");
    };
    std::string problem;
    const std::string units = variable("ZELUPDATE_SIM_UNITS");
    if (!units.empty() && !(problem = parseUnitList(units, settings.ports)).empty())
        return "ZELUPDATE_SIM_UNITS: " + problem;
    const std::string restart = variable("ZELUPDATE_SIM_RESTART_MS");
    if (!restart.empty() && !(problem = parseRestartTime(restart, settings.restartTime)).empty())
        return "ZELUPDATE_SIM_RESTART_MS: " + problem;
    const std::string faults = variable("ZELUPDATE_SIM_FAULTS");
    if (!faults.empty() &&
        !(problem = parseFaultList(faults, settings.ports, settings.faults)).empty())
        return "ZELUPDATE_SIM_FAULTS: " + problem;
    return {};
}

} // namespace sim
