// The controllers as USB devices: the bus, claims, frames in and out, and the fault rules.

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/cmc/state.h"

namespace sim::cmc::detail {
namespace {

// Appends to a log that keeps its latest entries only, so that long runs do not grow without
// bound; the oldest half goes when the log is full.
template <class T>
void Keep(std::vector<T>& log, T entry) {
    if (log.size() >= c_logLimit)
        log.erase(log.begin(), log.begin() + static_cast<long>(c_logLimit / 2));
    log.push_back(std::move(entry));
}

bool IsRequestKind(FaultKind_e kind) {
    return kind <= FaultKind_e::eReadError;
}

const char* EventName(UsbEvent::Kind_e kind) {
    static const char* const names[] = {"init", "exit", "list", "descriptor", "open", "close",
                                        "claim", "release", "write", "read"};
    return names[kind];
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// A frame left over in the device: its previous answer again, or 0xFF bytes before any answer.
Frame StaleFrame(const Port& port) {
    return {port.lastAnswer.empty() ? std::vector<uint8_t>(c_frameSize, 0xFF) : port.lastAnswer, 0};
}

Request ParseFrame(const Port& port, const uint8_t* bytes, size_t size) {
    Request r;
    r.device = port.name;
    r.slot = port.slot;
    r.frame.assign(bytes, bytes + size);
    if (size >= 5) {
        r.netFn = bytes[0];
        r.lun = bytes[1];
        r.cmd = bytes[2];
        r.target = bytes[3];
        r.data.assign(bytes + 5, bytes + 5 + std::min<size_t>(bytes[4], size - 5));
    }
    return r;
}

}  // namespace

PortPtr State::_NewPort(const std::string& name, uint16_t vendor, uint16_t product, int slot) {
    auto port = std::make_shared<Port>();
    port->name = name;
    port->vendor = vendor;
    port->product = product;
    port->slot = slot;
    port->address = nextAddress;
    nextAddress = nextAddress >= 127 ? 2 : static_cast<uint8_t>(nextAddress + 1);
    return port;
}

void State::Install(ChassisModel model) {
    for (auto& [slot, port] : slotPorts)
        port->connected = false;
    for (auto& port : extraPorts)
        port->connected = false;
    slotPorts.clear();
    extraPorts.clear();
    chassis = std::move(model);
    rules.clear();
    for (const auto& fault : chassis.faults)
        AddRule(fault);
    rng.seed(chassis.seed);
    requests.clear();
    events.clear();
    powerLog.clear();
    if (!hub) {
        hub = _NewPort("hub", 0x0000, 0x0002, -1);
        hub->deviceClass = LIBUSB_CLASS_HUB;
        hub->address = 1;
    }
    for (const auto& extra : chassis.extras)
        extraPorts.push_back(_NewPort(extra.name, extra.vendor, extra.product, -1));
    SyncPorts();
    arrived.notify_all();
}

void State::SyncPorts() {
    for (const auto& [slot, board] : chassis.boards) {
        const bool visible = board.mngPower && board.usbPort;
        const auto found = slotPorts.find(slot);
        if (visible && found == slotPorts.end()) {
            slotPorts[slot] = _NewPort("slot" + std::to_string(slot), chassis.vendor,
                                       ProductIdForSlot(slot), slot);
        } else if (!visible && found != slotPorts.end()) {
            found->second->connected = false;
            found->second->tx.clear();
            slotPorts.erase(found);
            arrived.notify_all();
        }
    }
    bus.clear();
    bus.push_back(hub);
    for (size_t i = 0; i < extraPorts.size(); ++i)
        if (chassis.extras[i].first)
            bus.push_back(extraPorts[i]);
    for (const auto& [slot, port] : slotPorts)
        bus.push_back(port);
    for (size_t i = 0; i < extraPorts.size(); ++i)
        if (!chassis.extras[i].first)
            bus.push_back(extraPorts[i]);
}

void State::AddRule(const Fault& fault) {
    rules.push_back(FaultRule{fault, 0, 0});
}

bool State::_Matches(const FaultRule& rule, const Port* port, const Request* request) const {
    const Fault& f = rule.fault;
    if (port != nullptr) {
        if (f.slot >= 0 && port->slot != f.slot)
            return false;
        if (!f.device.empty() && port->name != f.device)
            return false;
    }
    if (request != nullptr) {
        if (request->frame.size() < 5)
            return false;
        if (f.netFn >= 0 && request->netFn != f.netFn)
            return false;
        if (f.cmd >= 0 && request->cmd != f.cmd)
            return false;
        if (f.data.size() > request->data.size() ||
            !std::equal(f.data.begin(), f.data.end(), request->data.begin()))
            return false;
    }
    return true;
}

bool State::_Fire(FaultRule& rule) {
    const Fault& f = rule.fault;
    if (++rule.seen <= f.skip)
        return false;
    if (f.count >= 0 && rule.fired >= f.count)
        return false;
    // Drawn from the generator's raw output, so a seed gives the same run on every library.
    if (f.probability < 1.0 && static_cast<double>(rng()) / 4294967296.0 >= f.probability)
        return false;
    ++rule.fired;
    return true;
}

std::optional<int> State::FireTransport(FaultKind_e kind, const Port* port, int defaultValue) {
    for (auto& rule : rules)
        if (rule.fault.kind == kind && _Matches(rule, port, nullptr) && _Fire(rule))
            return rule.fault.value == -1 ? defaultValue : rule.fault.value;
    return std::nullopt;
}

std::vector<const Fault*> State::_FireRequest(const Port& port, const Request& request, bool write) {
    std::vector<const Fault*> fired;
    for (auto& rule : rules) {
        const FaultKind_e kind = rule.fault.kind;
        if (!IsRequestKind(kind) || (kind == FaultKind_e::eWriteError) != write)
            continue;
        if (_Matches(rule, &port, &request) && _Fire(rule))
            fired.push_back(&rule.fault);
    }
    return fired;
}

void State::Log(UsbEvent event) {
    if (logFile != nullptr) {
        std::ostringstream line;
        line << EventName(event.kind);
        if (!event.device.empty())
            line << ' ' << event.device;
        line << " result=";
        if (event.result > 0)
            line << event.result;
        else
            line << ResultName(event.result);
        if (event.kind == UsbEvent::eWrite || event.kind == UsbEvent::eRead)
            line << " ep=0x" << std::hex << event.endpoint << std::dec << " timeout="
                 << event.timeout << " bytes=" << Hex(event.bytes);
        line << '\n';
        std::fputs(line.str().c_str(), logFile);
        std::fflush(logFile);
    }
    Keep(events, std::move(event));
}

int State::Open(Port& port) {
    int result = LIBUSB_SUCCESS;
    if (!port.connected)
        result = LIBUSB_ERROR_NO_DEVICE;
    else if (auto code = FireTransport(FaultKind_e::eOpen, &port, LIBUSB_ERROR_ACCESS))
        result = *code;
    Log({UsbEvent::eOpen, port.name, port.slot, 0, result, 0, {}});
    return result;
}

int State::Claim(Port& port, const void* handle, int interfaceNumber) {
    int result = LIBUSB_SUCCESS;
    if (!port.connected)
        result = LIBUSB_ERROR_NO_DEVICE;
    else if (interfaceNumber != 0)
        result = LIBUSB_ERROR_NOT_FOUND;
    else if (port.claimedBy != nullptr && port.claimedBy != handle)
        result = LIBUSB_ERROR_BUSY;
    else if (auto code = FireTransport(FaultKind_e::eClaim, &port, LIBUSB_ERROR_BUSY))
        result = *code;
    if (result == LIBUSB_SUCCESS) {
        port.claimedBy = handle;
        if (auto count = FireTransport(FaultKind_e::ePending, &port, 1))
            for (int i = 0; i < *count; ++i)
                port.tx.push_back(StaleFrame(port));
    }
    Log({UsbEvent::eClaim, port.name, port.slot, 0, result, 0, {}});
    return result;
}

int State::Release(Port& port, const void* handle, int interfaceNumber) {
    int result = LIBUSB_SUCCESS;
    if (!port.connected)
        result = LIBUSB_ERROR_NO_DEVICE;
    else if (interfaceNumber != 0 || port.claimedBy != handle)
        result = LIBUSB_ERROR_NOT_FOUND;
    else if (auto code = FireTransport(FaultKind_e::eRelease, &port, LIBUSB_ERROR_IO))
        result = *code;
    if (result == LIBUSB_SUCCESS)
        port.claimedBy = nullptr;
    Log({UsbEvent::eRelease, port.name, port.slot, 0, result, 0, {}});
    return result;
}

void State::Closed(Port& port, const void* handle) {
    if (port.claimedBy == handle)
        port.claimedBy = nullptr;
    Log({UsbEvent::eClose, port.name, port.slot, 0, LIBUSB_SUCCESS, 0, {}});
}

int State::Write(Port& port, const uint8_t* data, int length, int* transferred, unsigned timeout) {
    *transferred = 0;
    if (!port.connected) {
        Log({UsbEvent::eWrite, port.name, port.slot, c_outEndpoint, LIBUSB_ERROR_NO_DEVICE, timeout, {}});
        return LIBUSB_ERROR_NO_DEVICE;
    }
    // Full-speed bulk packets carry 64 bytes: a longer write reaches the controller as several frames.
    size_t done = 0;
    const auto total = static_cast<size_t>(length);
    do {
        const size_t size = std::min(c_frameSize, total - done);
        const Request request = ParseFrame(port, data + done, size);
        const auto fired = _FireRequest(port, request, true);
        if (!fired.empty()) {
            const int code = fired.front()->value == -1 ? LIBUSB_ERROR_IO : fired.front()->value;
            Log({UsbEvent::eWrite, port.name, port.slot, c_outEndpoint, code, timeout, request.frame});
            return code;
        }
        Log({UsbEvent::eWrite, port.name, port.slot, c_outEndpoint, LIBUSB_SUCCESS, timeout,
             request.frame});
        done += size;
        *transferred = static_cast<int>(done);
        // Frames too short to hold a header are dropped by the controller.
        if (port.slot >= 0 && size >= 5)
            _Answer(port, request, size - 5);
    } while (done < total);
    return LIBUSB_SUCCESS;
}

void State::_Answer(Port& port, const Request& request, size_t available) {
    BoardModel& board = chassis.boards.at(port.slot);
    Keep(requests, request);

    Modifiers modifiers;
    std::optional<uint8_t> ccode;
    bool timeout = false;
    int shortSize = -1;
    std::optional<uint8_t> wrongFn;
    int stale = 0;
    int length = -1;
    int truncate = -1;
    int readError = 0;
    for (const Fault* f : _FireRequest(port, request, false)) {
        switch (f->kind) {
        case FaultKind_e::eCompletionCode: ccode = static_cast<uint8_t>(f->value); break;
        case FaultKind_e::eTimeout: timeout = true; break;
        case FaultKind_e::eShortFrame: shortSize = f->value == -1 ? 32 : std::min(f->value, 64); break;
        case FaultKind_e::eWrongFn:
            wrongFn = static_cast<uint8_t>(f->value == -1 ? request.frame[0] : f->value);
            break;
        case FaultKind_e::eStale: stale += f->value == -1 ? 1 : f->value; break;
        case FaultKind_e::eDataLength: length = f->value; break;
        case FaultKind_e::eTruncate: truncate = f->value; break;
        case FaultKind_e::eUnavailable: modifiers.unavailable = true; break;
        case FaultKind_e::ePieces: modifiers.pieces = f->value; break;
        case FaultKind_e::eEraseLog: EraseLog(board); break;
        case FaultKind_e::eReadError: readError = f->value == -1 ? LIBUSB_ERROR_IO : f->value; break;
        default: break;
        }
    }

    Answer answer;
    const uint8_t declared = request.frame[4];
    if (ccode)
        answer.ccode = *ccode;
    else if (declared > c_frameData || declared > available)
        answer.ccode = 0xC7;
    else
        answer = Respond(chassis, board, powerLog, request, modifiers);
    SyncPorts();
    if (answer.ccode != 0)
        answer.data.clear();
    if (truncate >= 0 && answer.data.size() > static_cast<size_t>(truncate))
        answer.data.resize(static_cast<size_t>(truncate));
    answer.data.resize(std::min(answer.data.size(), c_frameData));

    std::vector<uint8_t> frame(c_frameSize, 0);
    frame[0] = static_cast<uint8_t>(request.frame[0] + 1);
    frame[1] = request.frame[1];
    frame[2] = request.frame[2];
    frame[3] = answer.ccode;
    frame[4] = static_cast<uint8_t>(length >= 0 ? length : static_cast<int>(answer.data.size()));
    std::copy(answer.data.begin(), answer.data.end(), frame.begin() + 5);
    if (timeout)
        return;
    for (int i = 0; i < stale; ++i)
        port.tx.push_back(StaleFrame(port));
    if (wrongFn) {
        auto wrong = frame;
        wrong[0] = *wrongFn;
        port.tx.push_back({std::move(wrong), 0});
    }
    port.lastAnswer = frame;
    if (shortSize >= 0)
        frame.resize(static_cast<size_t>(shortSize));
    port.tx.push_back({std::move(frame), readError});
    arrived.notify_all();
}

int State::Read(std::unique_lock<std::mutex>& lock, const PortPtr& port, uint8_t* data, int length,
                int* transferred, unsigned timeout) {
    *transferred = 0;
    const auto ready = [&] { return !port->tx.empty() || !port->connected; };
    // A scaled time-out of zero does not wait at all: even an expired timed wait costs the
    // kernel's timer slack.
    const double wait = timeout * timeScale;
    if (port->connected && timeout == 0)
        arrived.wait(lock, ready);
    else if (port->connected && wait > 0)
        arrived.wait_for(lock, std::chrono::duration<double, std::milli>(wait), ready);
    UsbEvent event{UsbEvent::eRead, port->name, port->slot, c_inEndpoint, LIBUSB_SUCCESS, timeout, {}};
    if (!port->connected) {
        event.result = LIBUSB_ERROR_NO_DEVICE;
    } else if (port->tx.empty()) {
        event.result = LIBUSB_ERROR_TIMEOUT;
    } else {
        Frame frame = std::move(port->tx.front());
        port->tx.pop_front();
        if (frame.error != 0) {
            event.result = frame.error;
        } else {
            const size_t n = std::min(frame.bytes.size(), static_cast<size_t>(length));
            std::memcpy(data, frame.bytes.data(), n);
            *transferred = static_cast<int>(n);
            event.bytes.assign(frame.bytes.begin(), frame.bytes.begin() + static_cast<long>(n));
            if (frame.bytes.size() > n)
                event.result = LIBUSB_ERROR_OVERFLOW;
        }
    }
    const int result = event.result;
    Log(std::move(event));
    return result;
}

State& GetState() {
    // Never destroyed: libusb calls may come from other libraries' static destructors.
    static State* const state = [] {
        auto* s = new State;
        std::lock_guard<std::mutex> lock(s->mutex);
        s->Install({});
        if (const char* scale = std::getenv("KAVREL_SIM_TIME_SCALE")) {
            char* end = nullptr;
            const double value = std::strtod(scale, &end);
            if (*scale == '\0' || *end != '\0' || !(value >= 0.0))
                s->loadError = std::string("KAVREL_SIM_TIME_SCALE is not a number >= 0: ") + scale;
            else
                s->timeScale = value;
        }
        if (const char* log = std::getenv("KAVREL_SIM_LOG"); log != nullptr && *log != '\0') {
            s->logFile = std::fopen(log, "a");
            if (s->logFile == nullptr)
                s->loadError = std::string("cannot open KAVREL_SIM_LOG file ") + log;
        }
        try {
            if (const char* path = std::getenv("KAVREL_SIM_CHASSIS"); path != nullptr && *path != '\0') {
                std::ifstream in(path);
                if (!in)
                    throw Error(std::string("cannot open chassis file ") + path);
                std::ostringstream text;
                text << in.rdbuf();
                const std::string p(path);
                const size_t slash = p.rfind('/');
                s->Install(ParseChassis(text.str(), p, slash == std::string::npos ? "" : p.substr(0, slash + 1)));
            }
            if (const char* faults = std::getenv("KAVREL_SIM_FAULTS")) {
                std::istringstream in(faults);
                std::string part;
                while (std::getline(in, part, ';'))
                    if (part.find_first_not_of(" \t") != std::string::npos)
                        s->AddRule(Fault::Parse(part));
            }
        } catch (const std::exception& e) {
            s->loadError = e.what();
        }
        return s;
    }();
    return *state;
}

}  // namespace sim::cmc::detail
