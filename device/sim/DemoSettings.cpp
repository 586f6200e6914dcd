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
// A USB string descriptor holds at most this many characters.
constexpr std::size_t kMaxSerialLength = 126;

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

struct QuirkName
{
    const char *name;
    RestartQuirk quirk;
};

constexpr QuirkName kQuirkNames[] = {
    {"normal", RestartQuirk::Normal},
    {"stays-on-bus", RestartQuirk::StaysOnBus},
    {"never-returns", RestartQuirk::NeverReturns},
    {"returns-silent", RestartQuirk::ReturnsSilent},
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

template <typename Names> std::string nameList(const Names &names)
{
    std::string list;
    for (const auto &entry : names)
        list += (list.empty() ? "" : ", ") + std::string(entry.name);
    return list;
}

std::string noUnitAt(const std::string &port)
{
    return "no simulated unit at port \"" + port + "\"";
}

bool simulated(const std::vector<std::string> &ports, const std::string &port)
{
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

// An entry's optional @PORT: returns why it is refused, or an empty text with `port` set.
std::string parsePort(const std::vector<std::string> &fields, const std::vector<std::string> &ports,
                      std::string &port)
{
    if (fields.size() < 2)
        return {};
    if (!simulated(ports, fields[1]))
        return noUnitAt(fields[1]);
    port = fields[1];
    return {};
}

std::string parseSerialEntry(const std::string &entry, const std::vector<std::string> &ports,
                             BootloaderSerialEntry &parsed)
{
    const std::vector<std::string> fields = split(entry, kFieldSeparator);
    if (fields.size() > 2 || fields[0].empty())
        return "an entry is SERIAL or SERIAL@PORT, with a serial number";
    if (fields[0].size() > kMaxSerialLength)
        return "a serial number holds at most " + std::to_string(kMaxSerialLength) +
               " characters, as a USB string does";
    parsed.serial = fields[0];
    return parsePort(fields, ports, parsed.port);
}

std::string parseQuirkEntry(const std::string &entry, const std::vector<std::string> &ports,
                            RestartQuirkEntry &parsed)
{
    const std::vector<std::string> fields = split(entry, kFieldSeparator);
    if (fields.size() > 2)
        return "an entry is KIND, KIND:N, KIND@PORT or KIND:N@PORT";
    const std::vector<std::string> kindAndFrom = split(fields[0], kOccurrenceMark);
    const auto quirk = std::find_if(std::begin(kQuirkNames), std::end(kQuirkNames),
                                    [&](const QuirkName &q) { return kindAndFrom[0] == q.name; });
    if (quirk == std::end(kQuirkNames))
        return "unknown restart kind \"" + kindAndFrom[0] + "\" (one of " + nameList(kQuirkNames) +
               ")";
    parsed.quirk = quirk->quirk;
    parsed.fromRestart = 0;
    if (kindAndFrom.size() > 2 ||
        (kindAndFrom.size() == 2 && !parseCount(kindAndFrom[1], parsed.fromRestart)))
        return "after the kind may come only ':' and the restart it starts with, a count from 0";
    return parsePort(fields, ports, parsed.port);
}

// Parses each comma-separated entry of `text` with `parseEntry`, naming the entry it refuses.
template <typename Entry, typename Parser>
SettingCheck parseEntries(const std::string &text, const std::vector<std::string> &ports,
                          std::vector<Entry> &entries, Parser parseEntry)
{
    std::vector<Entry> parsed;
    for (const std::string &entry : split(text, kSeparator)) {
        Entry one{};
        if (std::string problem = parseEntry(entry, ports, one); !problem.empty())
            return {"\"" + entry + "\": " + problem};
        parsed.push_back(std::move(one));
    }
    entries = std::move(parsed);
    return {};
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
        return "unknown fault kind \"" + fields[0] + "\" (one of " + nameList(kKindNames) + ")";
    if (std::string problem = parseWhere(fields[1], parsed.trigger); !problem.empty())
        return problem;
    if (fields.size() == 3) {
        if (!simulated(ports, fields[2]))
            return noUnitAt(fields[2]);
        parsed.trigger = parsed.trigger.atPort(fields[2]);
    }
    parsed.fault = Fault{kind->kind};
    return {};
}

} // namespace

SettingCheck parseUnitList(const std::string &text, std::vector<std::string> &ports)
{
    // A USB port as sysfs names it: the bus, a dash, then the hub ports joined by dots.
    static const std::regex portName("[1-9][0-9]*-[1-9][0-9]*(\\.[1-9][0-9]*)*");
    std::vector<std::string> parsed;
    for (const std::string &port : split(text, kSeparator)) {
        if (!std::regex_match(port, portName))
            return {"\"" + port + "\" is not a USB port such as 1-1 or 1-1.2"};
        if (std::find(parsed.begin(), parsed.end(), port) != parsed.end())
            return {"port " + port + " is named twice"};
        parsed.push_back(port);
    }
    ports = std::move(parsed);
    return {};
}

SettingCheck parseRestartTime(const std::string &text, std::chrono::milliseconds &time)
{
    int milliseconds = 0;
    if (!parseCount(text, milliseconds))
        return {"\"" + text + "\" is not a number of milliseconds"};
    time = std::chrono::milliseconds(milliseconds);
    return {};
}

SettingCheck parseFaultList(const std::string &text, const std::vector<std::string> &ports,
                            std::vector<FaultEntry> &faults)
{
    return parseEntries(text, ports, faults, parseEntry);
}

SettingCheck parsePortlessList(const std::string &text, const std::vector<std::string> &ports,
                               std::vector<std::string> &portless)
{
    return parseEntries(
        text, ports, portless,
        [](const std::string &entry, const std::vector<std::string> &units, std::string &port) {
            port = entry;
            return simulated(units, entry) ? std::string() : noUnitAt(entry);
        });
}

SettingCheck parseBootloaderSerials(const std::string &text, const std::vector<std::string> &ports,
                                    std::vector<BootloaderSerialEntry> &serials)
{
    return parseEntries(text, ports, serials, parseSerialEntry);
}

SettingCheck parseRestartQuirks(const std::string &text, const std::vector<std::string> &ports,
                                std::vector<RestartQuirkEntry> &quirks)
{
    return parseEntries(text, ports, quirks, parseQuirkEntry);
}

SettingCheck readDemoSettings(DemoSettings &settings)
{
    // A variable set and not empty is read by its parser. The units come first: the others may
    // name them.
    const auto read = [](const char *name, auto parse) -> SettingCheck {
        const char *value = std::getenv(name);
        if (!value || !*value)
            return {};
        SettingCheck check = parse(std::string(value));
        if (!check.accepted())
            check.refusal = std::string(name) + ": " + check.refusal;
        return check;
    };
    const std::vector<std::string> &ports = settings.ports;
    SettingCheck check = read("ZELUPDATE_SIM_UNITS", [&](const std::string &value) {
        return parseUnitList(value, settings.ports);
    });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_RESTART_MS", [&](const std::string &value) {
            return parseRestartTime(value, settings.restartTime);
        });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_FAULTS", [&](const std::string &value) {
            return parseFaultList(value, ports, settings.faults);
        });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_PORTLESS", [&](const std::string &value) {
            return parsePortlessList(value, ports, settings.portless);
        });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_BOOTLOADER_SERIAL", [&](const std::string &value) {
            return parseBootloaderSerials(value, ports, settings.bootloaderSerials);
        });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_RESTARTS", [&](const std::string &value) {
            return parseRestartQuirks(value, ports, settings.restartQuirks);
        });
    if (check.accepted())
        check = read("ZELUPDATE_SIM_REPLAY_SPEED", [&](const std::string &value) {
            return parseReplaySpeed(value, settings.replaySpeed);
        });
    if (!check.accepted())
        return check;
    if (const char *replay = std::getenv("ZELUPDATE_SIM_REPLAY"); replay && *replay)
        settings.replayFile = replay;
    return checkReplayAlone(settings);
}

SettingCheck parseReplaySpeed(const std::string &text, double &speed)
{
    static const std::regex number("[0-9]{1,7}(\\.[0-9]{1,6})?");
    if (!std::regex_match(text, number) || std::stod(text) <= 0 ||
        std::stod(text) > kMaxReplaySpeed)
        return {"'" + text + "' is not a speed: a number above 0 and at most " +
                std::to_string(int(kMaxReplaySpeed)) +
                ", 1 the recorded pace, 10 ten times faster"};
    speed = std::stod(text);
    return {};
}

SettingCheck checkReplayAlone(const DemoSettings &settings)
{
    const DemoSettings plain;
    if (settings.replayFile.empty())
        return settings.replaySpeed == plain.replaySpeed
                   ? SettingCheck{}
                   : SettingCheck{"ZELUPDATE_SIM_REPLAY_SPEED paces a replay: set "
                                  "ZELUPDATE_SIM_REPLAY to the recording too"};
    // The recorded unit answers as it did; nothing of the simulated units' would act on it.
    const bool alone = settings.ports == plain.ports && settings.faults.empty() &&
                       settings.portless.empty() && settings.bootloaderSerials.empty() &&
                       settings.restartQuirks.empty() && settings.restartTime == plain.restartTime;
    if (!alone)
        return {"ZELUPDATE_SIM_REPLAY replays a recorded unit as it answered: unset "
                "ZELUPDATE_SIM_UNITS, _RESTART_MS, _FAULTS, _PORTLESS, _BOOTLOADER_SERIAL and "
                "_RESTARTS, which shape the simulated units instead"};
    return {};
}

} // namespace sim
