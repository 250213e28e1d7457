#include "sim/boards/chassis.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "istd/exception.h"
#include "sim/cmc/simulator.h"
#include "sim/devices/chassis_devices.h"

namespace sim::boards {

namespace {

// Accesses to a window reach the board's memory, one at a time, as the FPGA's bus serves them:
// threads that share a register see whole words in one order. The model holds the device
// weakly: a mapping that outlives the chassis gets an exception, not freed memory.
class MemoryModel : public devio::RegisterModel {
public:
    MemoryModel(std::weak_ptr<MonitorDevice> device, size_t base) : m_device(std::move(device)), m_base(base) {}

    uint32_t OnRead32(size_t offset) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return _Device()->ReadMemory32(m_base + offset);
    }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _Device()->WriteMemory32(m_base + offset, value);
    }
    uint64_t OnRead64(size_t offset) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return _Device()->ReadMemory64(m_base + offset);
    }
    void OnWrite64(size_t offset, uint64_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        _Device()->WriteMemory64(m_base + offset, value);
    }

private:
    std::shared_ptr<MonitorDevice> _Device() const
    {
        std::shared_ptr<MonitorDevice> device = m_device.lock();
        if (!device) {
            throw istd::Exception("sim: the simulated board of this window is gone");
        }
        return device;
    }

    const std::weak_ptr<MonitorDevice> m_device;
    const size_t m_base;
    std::mutex m_mutex;
};

} // namespace

std::string SampleChassisPath()
{
    return KAVREL_SIM_BOARDS_DATA "/chassis.txt";
}

Board::Board(int slot, const std::string& path, size_t size)
    : m_slot(slot), m_device(std::make_shared<MonitorDevice>(path, size))
{
}

void Board::Attach(size_t offset, size_t length, devio::RegisterModelPtr model)
{
    m_device->AttachModel(offset, length, std::move(model));
}

std::shared_ptr<AccessLog> Board::Log(size_t offset, size_t length, devio::RegisterModelPtr model)
{
    auto log = std::make_shared<AccessLog>(model ? std::move(model) : Memory(offset));
    Attach(offset, length, log);
    return log;
}

devio::RegisterModelPtr Board::Memory(size_t offset)
{
    return std::make_shared<MemoryModel>(m_device, offset);
}

Chassis::Chassis(const std::string& path, size_t memorySize)
{
    cmc::Simulator::Instance().Load(path);
    _MakeBoards(memorySize);
}

std::unique_ptr<Chassis> Chassis::OfSimulator(size_t memorySize)
{
    std::unique_ptr<Chassis> chassis(new Chassis(AdoptTag{}));
    chassis->_MakeBoards(memorySize);
    return chassis;
}

void Chassis::_MakeBoards(size_t memorySize)
{
    const cmc::Simulator& simulator = cmc::Simulator::Instance();
    for (int slot : simulator.Slots()) {
        if (ChassisMonitorDevices::HasDeviceFiles(simulator.Board(slot))) {
            m_boards[slot] = std::make_unique<Board>(slot, ChassisMonitorDevices::PathForSlot(slot), memorySize);
        }
    }
}

Chassis::~Chassis() = default;

Board* Chassis::Find(int slot)
{
    const auto found = m_boards.find(slot);
    return found == m_boards.end() ? nullptr : found->second.get();
}

Board& Chassis::Get(int slot)
{
    Board* board = Find(slot);
    if (board == nullptr) {
        throw std::out_of_range("sim: the chassis has no board with memory in slot " + std::to_string(slot));
    }
    return *board;
}

std::vector<int> Chassis::Slots() const
{
    std::vector<int> slots;
    for (const auto& entry : m_boards) {
        slots.push_back(entry.first);
    }
    return slots;
}

} // namespace sim::boards
