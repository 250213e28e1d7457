// The control API of the simulated controller.

#include "sim/cmc/simulator.h"

#include <fstream>
#include <sstream>

#include "sim/cmc/state.h"

namespace sim::cmc {
namespace {

using Lock = std::lock_guard<std::mutex>;

BoardModel& BoardOf(detail::State& state, int slot) {
    const auto found = state.chassis.boards.find(slot);
    if (found == state.chassis.boards.end())
        throw Error("no board in slot " + std::to_string(slot));
    return found->second;
}

}  // namespace

uint16_t ProductIdForSlot(int slot) {
    return static_cast<uint16_t>(slot > 0 ? 0x100 + slot : 0xABCD + slot);
}

Simulator& Simulator::Instance() {
    static Simulator simulator;
    detail::GetState();
    return simulator;
}

void Simulator::Load(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw Error("cannot open chassis file " + path);
    std::ostringstream text;
    text << in.rdbuf();
    const size_t slash = path.rfind('/');
    auto model = detail::ParseChassis(text.str(), path,
                                      slash == std::string::npos ? "" : path.substr(0, slash + 1));
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.Install(std::move(model));
    state.loadError.clear();
}

void Simulator::LoadText(const std::string& text, const std::string& origin) {
    auto model = detail::ParseChassis(text, origin, "");
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.Install(std::move(model));
    state.loadError.clear();
}

void Simulator::Clear() {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.Install({});
    state.loadError.clear();
}

void Simulator::AddFault(const Fault& fault) {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.AddRule(fault);
}

void Simulator::AddFault(const std::string& text) {
    AddFault(Fault::Parse(text));
}

void Simulator::ClearFaults() {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.rules.clear();
}

void Simulator::SetSeed(uint32_t seed) {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.rng.seed(seed);
}

void Simulator::SetTimeScale(double scale) {
    if (!(scale >= 0.0))
        throw Error("time scale must be >= 0");
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.timeScale = scale;
}

uint16_t Simulator::VendorId() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return state.chassis.vendor;
}

uint32_t Simulator::ManufacturerId() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return state.chassis.manufacturer;
}

std::vector<int> Simulator::Slots() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    std::vector<int> slots;
    for (const auto& [slot, board] : state.chassis.boards)
        slots.push_back(slot);
    return slots;
}

BoardModel Simulator::Board(int slot) const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return BoardOf(state, slot);
}

void Simulator::Modify(int slot, const std::function<void(BoardModel&)>& change) {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    BoardModel& board = BoardOf(state, slot);
    change(board);
    board.slot = slot;
    state.SyncPorts();
}

std::vector<Request> Simulator::Requests() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return state.requests;
}

std::vector<UsbEvent> Simulator::UsbEvents() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return state.events;
}

std::vector<PowerCommand> Simulator::PowerCommands() const {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    return state.powerLog;
}

void Simulator::ClearLogs() {
    detail::State& state = detail::GetState();
    Lock lock(state.mutex);
    state.requests.clear();
    state.events.clear();
    state.powerLog.clear();
}

}  // namespace sim::cmc
