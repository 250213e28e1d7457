// "devices" read by a client's thread while the start-up thread adds chip wrappers: the add runs
// under the controller's mutex and the read holds the node's lock while it visits the controller,
// so the two must never wait for each other (under ThreadSanitizer a lock-order inversion
// between them is reported even when the run does not hang).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/bus_fixture.h"
#include "iapp/kavrel_spi_bus_device_DAC8581.h"

namespace {

class BusControllerThreads : public iapptest::BusBoard {};

TEST_F(BusControllerThreads, ReadsOfDevicesWhileWrappersAreAddedSeeSortedPrefixesOfTheList)
{
    constexpr unsigned c_devices = 24;
    auto* spi = MakeSpi(c_devices);
    mci::TreeNodePtr devices = AddRegistry(*spi)->GetNode("devices");

    std::atomic<bool> done{false};
    std::atomic<size_t> reads{0};
    std::vector<std::string> problems;
    std::thread reader([&] {
        do {
            std::vector<std::string> names;
            devices->Get(names, 0, 0, mci::c_noRelPath);
            ++reads;
            // Ids are added from the highest down, and names sort as their ids: every read is the
            // list of the ids added so far, in order.
            if (!std::is_sorted(names.begin(), names.end()) || names.size() > c_devices) {
                problems.push_back(std::to_string(names.size()) + " names out of order");
            }
        } while (!done.load());
    });
    while (reads.load() == 0) {
        std::this_thread::yield();
    }
    for (unsigned id = c_devices; id-- > 0;) {
        const std::string name = std::string("dac") + char('a' + id);
        iapp::Create<iapp::DAC8581>(*spi, name, static_cast<bmc::BusDeviceId>(id));
    }
    done = true;
    reader.join();

    EXPECT_TRUE(problems.empty()) << problems.front();
    std::vector<std::string> names;
    devices->Get(names, 0, 0, mci::c_noRelPath);
    ASSERT_EQ(names.size(), c_devices);
    EXPECT_EQ(names.front(), "daca");
    EXPECT_EQ(names.back(), "dacx");
}

} // namespace
