#pragma once
// Inner state of the simulated controller, shared by the control API, the controller model and the
// libusb layer. Everything here is guarded by State::mutex.

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/cmc/simulator.h"

namespace sim::cmc::detail {

// A frame the device holds for the host; a read of it fails with error when error is not 0.
struct Frame {
    std::vector<uint8_t> bytes;
    int error = 0;
};

// One USB device on the host's bus. A slot's device is replaced by a new Port each time it comes
// back, so references to a device that left the bus stay disconnected.
struct Port {
    std::string name;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint8_t deviceClass = 0;
    int slot = -1;                  // the board it answers for; -1: it never answers
    uint8_t address = 0;
    bool connected = true;
    std::deque<Frame> tx;
    std::vector<uint8_t> lastAnswer;
    const void* claimedBy = nullptr;
};
using PortPtr = std::shared_ptr<Port>;

struct ExtraDevice {
    std::string name;
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool first = false;
};

struct ChassisModel {
    uint16_t vendor = c_defaultVendorId;
    uint32_t manufacturer = c_defaultManufacturerId;
    uint32_t seed = 1;
    std::map<int, BoardModel> boards;
    std::vector<ExtraDevice> extras;
    std::vector<Fault> faults;
};

// Reads a chassis file's text; baseDir resolves relative paths. Throws Error naming origin and line.
ChassisModel ParseChassis(const std::string& text, const std::string& origin,
                          const std::string& baseDir);

// What request faults change in the controller's own handling of a request.
struct Modifiers {
    bool unavailable = false;
    int pieces = -1;
};

struct Answer {
    uint8_t ccode = 0;
    std::vector<uint8_t> data;
};

// The controller of board answers one request (the chassis is needed for the manager's slot
// commands). The caller has checked that the declared data fit the frame.
Answer Respond(ChassisModel& chassis, BoardModel& board, std::vector<PowerCommand>& powerLog,
               const Request& request, const Modifiers& modifiers);

void EraseLog(BoardModel& board);

struct FaultRule {
    Fault fault;
    unsigned seen = 0;
    int fired = 0;
};

class State {
public:
    std::mutex mutex;
    std::condition_variable arrived;   // a frame was queued or a device left

    ChassisModel chassis;
    PortPtr hub;
    std::map<int, PortPtr> slotPorts;
    std::vector<PortPtr> extraPorts;
    std::vector<PortPtr> bus;          // the host's device list, in order
    uint8_t nextAddress = 2;

    std::vector<FaultRule> rules;
    std::mt19937 rng{1};
    double timeScale = 1.0;

    std::vector<Request> requests;
    std::vector<UsbEvent> events;
    std::vector<PowerCommand> powerLog;

    std::string loadError;             // why the environment's chassis could not be loaded
    std::FILE* logFile = nullptr;

    // Caller holds the mutex for all of these.
    void Install(ChassisModel model);
    void SyncPorts();
    void AddRule(const Fault& fault);
    // Fires the transport rule of kind for port (null: bus-wide); the rule's value or the default.
    std::optional<int> FireTransport(FaultKind_e kind, const Port* port, int defaultValue);
    void Log(UsbEvent event);

    int Open(Port& port);
    int Claim(Port& port, const void* handle, int interfaceNumber);
    int Release(Port& port, const void* handle, int interfaceNumber);
    void Closed(Port& port, const void* handle);
    int Write(Port& port, const uint8_t* data, int length, int* transferred, unsigned timeout);
    int Read(std::unique_lock<std::mutex>& lock, const PortPtr& port, uint8_t* data, int length,
             int* transferred, unsigned timeout);

private:
    PortPtr _NewPort(const std::string& name, uint16_t vendor, uint16_t product, int slot);
    std::vector<const Fault*> _FireRequest(const Port& port, const Request& request, bool write);
    bool _Matches(const FaultRule& rule, const Port* port, const Request* request) const;
    bool _Fire(FaultRule& rule);
    void _Answer(Port& port, const Request& request, size_t available);
};

// The process's state; on first use it applies the environment (KAVREL_SIM_...).
State& GetState();

// Libusb's name of a result code ("LIBUSB_ERROR_TIMEOUT"), for logs and fault texts.
const char* ResultName(int code);
// The libusb result code of a name, or of a number text; nullopt when neither.
std::optional<int> ResultCode(const std::string& text);

}  // namespace sim::cmc::detail
