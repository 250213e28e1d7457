#pragma once
// Simulated boards with FPGA memory: a chassis of timing boards for the simulated chassis
// management controller, and for each of its boards that has device files a monitor device
// large enough for the timing boards' whole address map (16 MiB), so that the board pool's
// boards map it through the system's own bmc::Board::MapDevice and devio.
//
//     sim::boards::Chassis chassis;                    // loads data/chassis.txt, claims devices
//     bmc::BoardPool::Instance().Update();             // the pool sees the new chassis
//     sim::boards::Board& pax = chassis.Get(3);
//     pax.WriteMemory32(0, 0x01020304);                // what the FPGA holds
//     auto rx = std::make_shared<sim::fpga::LvdsReceiverModel>();
//     auto log = pax.Log(0x800000, rx->c_windowSize, rx); // an FPGA block, its accesses logged
//
// Windows of a board's memory are served by register models (Attach, Log): later bus-core and
// stream models claim windows of their own beside them; windows must not overlap, and a window
// stays served until the chassis goes. The memory behind a window reached through Log without a
// model is the board's memory itself.
//
// Only one Chassis may be alive at a time (the device paths are the process's). It keeps the
// simulator's chassis when destroyed; a test that wants a clean simulator clears it.
//
// Programs run as a process of their own (end-to-end tests, the demo) get the same set-up, with
// the timing boards' models, at load time from KAVREL_SIM_CHASSIS: see sim/boards/environment.h.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "sim/boards/access_log.h"
#include "sim/devices/monitor_device.h"

namespace sim::boards {

// The chassis file of timing boards that comes with the library (sim/boards/data/chassis.txt).
std::string SampleChassisPath();

// One simulated board's FPGA memory.
class Board {
public:
    Board(int slot, const std::string& path, size_t size);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    int GetSlot() const { return m_slot; }
    MonitorDevice& Device() { return *m_device; }
    const MonitorDevice& Device() const { return *m_device; }

    // The memory itself (aligned words inside the space, else istd::Exception), past any model.
    uint32_t ReadMemory32(size_t offset) const { return m_device->ReadMemory32(offset); }
    uint64_t ReadMemory64(size_t offset) const { return m_device->ReadMemory64(offset); }
    void WriteMemory32(size_t offset, uint32_t value) { m_device->WriteMemory32(offset, value); }
    void WriteMemory64(size_t offset, uint64_t value) { m_device->WriteMemory64(offset, value); }

    // Serves [offset, offset + length) of every mapping by the model (MonitorDevice::AttachModel).
    void Attach(size_t offset, size_t length, devio::RegisterModelPtr model);
    // Records every access of the window; the accesses reach model, or the board's memory at
    // that window when model is null.
    std::shared_ptr<AccessLog> Log(size_t offset, size_t length, devio::RegisterModelPtr model = nullptr);
    // A model whose accesses reach the board's memory from offset on, one access at a time (what
    // Log uses without a model); attach it over a window that threads share. It throws
    // istd::Exception once the board is gone.
    devio::RegisterModelPtr Memory(size_t offset);

private:
    const int m_slot;
    std::shared_ptr<MonitorDevice> m_device;
};

class Chassis {
public:
    static constexpr size_t c_memorySize = 0x1000000;

    // Loads the chassis file into sim::cmc::Simulator::Instance() and makes a board, with a
    // monitor device of memorySize bytes, for every slot of it with device files. Throws
    // sim::cmc::Error for a file that does not load and istd::Exception when a device path is
    // taken (another Chassis is alive).
    explicit Chassis(const std::string& path = SampleChassisPath(), size_t memorySize = c_memorySize);
    // The boards of the chassis the simulator holds now (the one KAVREL_SIM_CHASSIS loaded),
    // loading nothing, so that the faults of KAVREL_SIM_FAULTS stay.
    static std::unique_ptr<Chassis> OfSimulator(size_t memorySize = c_memorySize);
    ~Chassis();
    Chassis(const Chassis&) = delete;
    Chassis& operator=(const Chassis&) = delete;

    // The board of the slot; null, or std::out_of_range from Get, when the slot has none.
    Board* Find(int slot);
    Board& Get(int slot);
    // The slots with a board, ascending.
    std::vector<int> Slots() const;

private:
    struct AdoptTag {};
    explicit Chassis(AdoptTag) {}
    void _MakeBoards(size_t memorySize);

    std::map<int, std::unique_ptr<Board>> m_boards;
};

} // namespace sim::boards
