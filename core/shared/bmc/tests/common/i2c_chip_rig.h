#ifndef BMC_TESTS_I2C_CHIP_RIG_H
#define BMC_TESTS_I2C_CHIP_RIG_H

// A chip driver against its chip model on the simulated I2C core (bus 1), and a sleep that counts
// the waits instead of sleeping. Programs that include this link kavrelsimchips.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "bus_rigs.h"

namespace bmctest {

template <class Driver, class Model>
struct I2cChipRig : I2cRig {
    static constexpr uint8_t c_bus = 1;

    // The model at its address; the driver too unless the test prepares the model first.
    explicit I2cChipRig(bool makeDriver = true, uint8_t address = Model::c_address)
        : model(std::make_shared<Model>()), address(address)
    {
        core->Attach(c_bus, address, model);
        if (makeDriver) {
            MakeDriver();
        }
    }

    Driver& MakeDriver()
    {
        driver = std::static_pointer_cast<Driver>(bmc::Create<Driver>(bus, "chip", 0, address, c_bus));
        return *driver;
    }

    std::shared_ptr<Model> model;
    const uint8_t address;
    std::shared_ptr<Driver> driver;
};

// Installed for its lifetime in place of the rig's instant sleep: every wait returns at once and
// is counted by its length.
class CountedSleeps {
public:
    CountedSleeps() : m_previous(bmc::SetBusSleep(&_Sleep)) { Clear(); }
    ~CountedSleeps() { bmc::SetBusSleep(m_previous); }
    CountedSleeps(const CountedSleeps&) = delete;
    CountedSleeps& operator=(const CountedSleeps&) = delete;

    size_t Count(uint32_t microseconds) const
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        const auto it = s_counts.find(microseconds);
        return it == s_counts.end() ? 0 : it->second;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_counts.clear();
    }

private:
    static void _Sleep(uint32_t microseconds)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        ++s_counts[microseconds];
    }

    bmc::BusSleepFnc m_previous;
    static inline std::mutex s_mutex;
    static inline std::map<uint32_t, size_t> s_counts;
};

} // namespace bmctest

#endif
