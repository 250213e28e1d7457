#pragma once
// The monitor devices of the simulated chassis: one sim::MonitorDevice for every board of the
// loaded chassis that has device files, so that such a board maps simulated FPGA memory through
// the system's own MapDevice.
//
//     sim::cmc::Simulator::Instance().Load(".../chassis.txt");
//     sim::ChassisMonitorDevices devices;          // claims the paths; released when destroyed
//     devices.Find(2)->SetFeatures(1);
//
// A board has device files when its identity names a firmware type (identity byte 10 neither 0
// nor 255, as the board's device prefix requires); its monitor device is
// "/dev/kavrel<slot>.monitor", the name the board pool's board of that slot gives it. The set is
// taken when the object is made: load the chassis first, and make a new object after loading
// another. Header only: a program that uses it links kavrelsimdevices and kavrelsimcmc.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/cmc/simulator.h"
#include "sim/devices/monitor_device.h"

namespace sim {

class ChassisMonitorDevices {
public:
    // Covers every register window the board objects lay over the space.
    static constexpr size_t c_defaultSize = 0x400000;

    static std::string PathForSlot(int slot) { return "/dev/kavrel" + std::to_string(slot) + ".monitor"; }

    // True when the board of the model has device files.
    static bool HasDeviceFiles(const cmc::BoardModel& board)
    {
        const uint8_t firmware = board.identity[10];
        return firmware != 0 && firmware != 255;
    }

    // Throws istd::Exception when a path is claimed already (another object still holds it).
    explicit ChassisMonitorDevices(size_t size = c_defaultSize, uint32_t features = 0,
                                   const cmc::Simulator& chassis = cmc::Simulator::Instance())
    {
        for (int slot : chassis.Slots()) {
            if (HasDeviceFiles(chassis.Board(slot))) {
                m_devices[slot] = std::make_unique<MonitorDevice>(PathForSlot(slot), size, features);
            }
        }
    }

    // The device of the slot's board; null when it has none.
    MonitorDevice* Find(int slot) const
    {
        const auto found = m_devices.find(slot);
        return found == m_devices.end() ? nullptr : found->second.get();
    }

    // The slots with a device, ascending.
    std::vector<int> Slots() const
    {
        std::vector<int> slots;
        for (const auto& entry : m_devices) {
            slots.push_back(entry.first);
        }
        return slots;
    }

private:
    std::map<int, std::unique_ptr<MonitorDevice>> m_devices;
};

} // namespace sim
