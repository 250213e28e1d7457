#include "devio/device_file.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "common/test_device.h"

namespace {

// Simulated and real descriptors are opened and closed at once, so freed numbers are reused at
// once by the other kind; a claim comes and goes meanwhile. No call may reach the wrong side.
TEST(DeviceFileThreadsTest, SimulatedAndRealDescriptorsNeverMix)
{
    const std::string path = "/dev/kavrel-devio-threads.monitor";
    auto device = std::make_shared<devio_test::TestDevice>();
    devio::ClaimDevice(path, device);
    std::atomic<size_t> misrouted{0}, simulatedOpens{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const int fd = devio::Open(path, O_RDWR);
                if (fd < 0) {
                    continue; // the claim is away just now; no such file exists
                }
                ++simulatedOpens;
                devio::MapInfo info;
                if (devio::Ioctl(fd, devio::c_mapInfoRequest, &info) != 0 || info.size != 4096) {
                    ++misrouted;
                }
                devio::Close(fd);
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const int fd = devio::Open("/dev/null", O_RDWR);
                devio::MapInfo info;
                if (fd < 0 || devio::Ioctl(fd, devio::c_mapInfoRequest, &info) != -1) {
                    ++misrouted;
                }
                devio::Close(fd);
            }
        });
    }
    threads.emplace_back([&] {
        // Churn only once the simulated path has been taken at least once, so the test always
        // exercises it however the threads are scheduled.
        while (simulatedOpens.load() == 0) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 500; ++i) {
            devio::ReleaseDevice(path);
            std::this_thread::yield();
            devio::ClaimDevice(path, device);
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    devio::ReleaseDevice(path);
    EXPECT_EQ(misrouted.load(), 0u);
    EXPECT_EQ(device->StrayCalls(), 0u);
    EXPECT_GT(simulatedOpens.load(), 0u);
}

} // namespace
