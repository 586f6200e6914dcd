// The units and settings that tests and the -sim programs arrange, and what they read back. The
// hidapi side is in SimulatedDevices.cpp.
#include "SimulatedDevicesState.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

// Serial numbers given by order: CP1000, CP1001, ...
constexpr int kFirstSerial = 1000;
constexpr const char *kDefaultBus = "1-";

std::string defaultPort(std::size_t index)
{
    return kDefaultBus + std::to_string(index + 1);
}

std::string defaultSerial(std::size_t index)
{
    return "CP" + std::to_string(kFirstSerial + index);
}

void pullOut(Unit &unit)
{
    unit.attached = false;
    unit.panel.replies.clear(); // what was on its way is lost with the cable
}

} // namespace

void abortOnViolation(const char *what)
{
    std::fprintf(stderr, "simulated hidapi: contract broken: %s\n", what);
    std::abort();
}

SimulatedDevicesState::SimulatedDevicesState()
    : noUnit(std::make_unique<Unit>(timing, std::string(), std::string()))
{
    units.push_back(newUnit(defaultPort(0), defaultSerial(0)));
}

int SimulatedDevicesState::indexOf(const Unit &wanted) const
{
    for (std::size_t i = 0; i < units.size(); ++i)
        if (units[i].get() == &wanted)
            return static_cast<int>(i);
    return -1;
}

std::shared_ptr<Unit> SimulatedDevicesState::newUnit(const std::string &port,
                                                     const std::string &serial)
{
    return std::make_shared<Unit>(timing, port, serial);
}

SimulatedDevices &SimulatedDevices::instance()
{
    static SimulatedDevices devices;
    return devices;
}

SimulatedDevices::SimulatedDevices() : state(new SimulatedDevicesState)
{
}

void SimulatedDevices::reset()
{
    auto *handler = state->violation;
    delete state;
    state = new SimulatedDevicesState;
    state->violation = handler;
}

void SimulatedDevices::setReplyLatency(std::chrono::microseconds latency)
{
    state->latency = latency;
}

void SimulatedDevices::setRestartTime(std::chrono::milliseconds time)
{
    state->timing.restartTime = time;
}

void SimulatedDevices::setBoardEntryTime(std::chrono::milliseconds time)
{
    state->timing.boardEntryTime = time;
}

void SimulatedDevices::setRealTimeouts(bool real)
{
    state->realTimeouts = real;
}

void SimulatedDevices::setDeviceCount(int count)
{
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(0, count)); ++i)
        ports.push_back(defaultPort(i));
    setUnits(ports);
}

void SimulatedDevices::setUnits(const std::vector<std::string> &ports)
{
    std::vector<std::shared_ptr<Unit>> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const int existing = unitIndex(ports[i]);
        units.push_back(existing >= 0 ? state->units[static_cast<std::size_t>(existing)]
                                      : state->newUnit(ports[i], defaultSerial(i)));
    }
    const std::vector<std::shared_ptr<Unit>> before = std::move(state->units);
    state->units = std::move(units);
    for (const std::shared_ptr<Unit> &unit : before)
        if (std::find(state->units.begin(), state->units.end(), unit) == state->units.end())
            pullOut(*unit);
}

void SimulatedDevices::attachUnit(const std::string &port, const std::string &serial)
{
    detachUnit(port);
    state->units.push_back(state->newUnit(port, serial));
}

void SimulatedDevices::detachUnit(const std::string &port)
{
    const int index = unitIndex(port);
    if (index < 0)
        return;
    pullOut(state->unit(index));
    state->units.erase(state->units.begin() + index);
}

int SimulatedDevices::unitCount() const
{
    return static_cast<int>(state->units.size());
}

std::string SimulatedDevices::unitPort(int device) const
{
    return device >= 0 && device < unitCount() ? state->unit(device).port : std::string();
}

int SimulatedDevices::unitIndex(const std::string &port) const
{
    for (int i = 0; i < unitCount(); ++i)
        if (state->unit(i).port == port)
            return i;
    return -1;
}

std::string SimulatedDevices::portOfPath(const char *path) const
{
    for (int i = 0; path && i < unitCount(); ++i) {
        Unit &unit = state->unit(i);
        unit.panel.refresh();
        if (nodeOf(i) == path && unit.panel.state != PanelState::Restarting)
            return unit.portKnown ? unit.port : std::string();
    }
    return {};
}

void SimulatedDevices::setRestartQuirk(RestartQuirk quirk, int device, int fromRestart)
{
    ControlPanelModel &panel = state->unit(device).panel;
    panel.quirk = quirk;
    panel.quirkFromRestart = fromRestart;
}

void SimulatedDevices::setBootloaderSerial(const std::string &serial, int device)
{
    state->unit(device).bootloaderSerial = serial;
}

void SimulatedDevices::setPortKnown(bool known, int device)
{
    state->unit(device).portKnown = known;
}

void SimulatedDevices::setPanelAccess(PanelAccess access, int device)
{
    state->unit(device).panel.access = access;
}

std::string SimulatedDevices::panelPath(int device)
{
    return "/dev/hidraw-sim" + std::to_string(device);
}

std::string SimulatedDevices::nodeOf(int device) const
{
    // The kernel gives a device that comes back from a restart a new node.
    const unsigned cycle = state->unit(device).panel.generation;
    const std::string first = panelPath(device);
    return cycle == 0 ? first : first + '.' + std::to_string(cycle);
}

void SimulatedDevices::replaceUnits(HidStandIn *standIn)
{
    state->standIn = standIn;
}

HidStandIn *SimulatedDevices::standIn() const
{
    return state->standIn;
}

void SimulatedDevices::setLogging(bool on)
{
    state->logging = on;
}

void SimulatedDevices::injectFault(FaultTrigger trigger, Fault fault)
{
    state->faults.arm(std::move(trigger), fault);
}

void SimulatedDevices::clearFaults()
{
    state->faults.clear();
}

PanelState SimulatedDevices::panelState(int device)
{
    ControlPanelModel &panel = state->unit(device).panel;
    panel.refresh();
    return panel.state;
}

void SimulatedDevices::setPanelState(PanelState panelState, int device)
{
    state->unit(device).panel.setState(panelState);
}

BoardState SimulatedDevices::boardState(int device) const
{
    Unit &unit = state->unit(device);
    unit.panel.refresh();
    return unit.board.state;
}

void SimulatedDevices::enterBoardBootloader(int device)
{
    state->unit(device).panel.relayToBoardBootloader();
}

UnitState SimulatedDevices::unitState(int device)
{
    ControlPanelModel &panel = state->unit(device).panel;
    panel.refresh();
    return panel.lastingState();
}

void SimulatedDevices::setUnitState(UnitState unitState, int device)
{
    switch (unitState) {
    case UnitState::Application:
        setPanelState(PanelState::Application, device);
        break;
    case UnitState::PanelBootloader:
        setPanelState(PanelState::Bootloader, device);
        break;
    case UnitState::BoardBootloader:
        setPanelState(PanelState::Application, device);
        enterBoardBootloader(device);
        break;
    }
}

void SimulatedDevices::setUnitStateHook(void (*hook)(void *, const std::string &, UnitState),
                                        void *context)
{
    state->stateHook = hook;
    state->stateHookContext = context;
}

PanelFlash &SimulatedDevices::panelFlash(int device)
{
    return state->flashesOf(device).panel.flash();
}

BoardFlash &SimulatedDevices::boardFlash(int device)
{
    return state->flashesOf(device).board.flash();
}

void SimulatedDevices::useFlash(int device, PanelFlash *panel, BoardFlash *board)
{
    Unit &unit = state->unit(device);
    unit.panel.useFlash(panel);
    unit.board.useFlash(board);
}

const std::vector<TrafficRecord> &SimulatedDevices::traffic() const
{
    return state->traffic;
}

std::vector<std::vector<std::uint8_t>> SimulatedDevices::reportsWritten() const
{
    std::vector<std::vector<std::uint8_t>> reports;
    for (const TrafficRecord &record : state->traffic)
        if (record.direction == TrafficRecord::Direction::Out)
            reports.push_back(record.bytes);
    return reports;
}

void SimulatedDevices::clearTraffic()
{
    state->traffic.clear();
}

int SimulatedDevices::reportCount() const
{
    return state->reports;
}

int SimulatedDevices::readCount() const
{
    return state->reads;
}

int SimulatedDevices::pollCount() const
{
    return state->polls;
}

int SimulatedDevices::openCount() const
{
    return state->opens;
}

int SimulatedDevices::closeCount() const
{
    return state->closes;
}

int SimulatedDevices::exitCount() const
{
    return state->exits;
}

int SimulatedDevices::openHandles() const
{
    return static_cast<int>(state->openHandles.size());
}

int SimulatedDevices::lastReadTimeoutMs() const
{
    return state->lastTimeout;
}

void SimulatedDevices::setContractViolationHandler(void (*handler)(const char *))
{
    state->violation = handler ? handler : abortOnViolation;
}

} // namespace sim
