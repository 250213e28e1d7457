#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "bmc/board.h"
#include "bmc/clock.h"
#include "common/fake_clock.h"
#include "common/recording_connection.h"
#include "common/test_sensor.h"

namespace {

class SensorThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        connection.SetHandler([](unsigned int, const std::vector<istd::AnyReference>& args,
                                 istd::AnyReference& result) {
            // A slow transport, so that concurrent readers overlap the fetch.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            result = bmc::NewReading(args.at(1), 50, bmc::Clock::Now(3));
        });
    }
    void TearDown() override { bmc::Sensor::SetReadingInterval(istd::Time(10, 0)); }

    bmctest::FakeClock clock;
    bmctest::RecordingConnection connection;
    bmc::Board board{bmc::DecomposeUri("kvr:///chassis/3"), &connection};
    bmctest::TestSensor sensor{board, bmc::SensorId(0)};
};

TEST_F(SensorThreads, ConcurrentReadersShareOneFetch)
{
    std::vector<std::thread> readers;
    std::atomic<int> valid{0};
    for (int i = 0; i < 8; ++i) {
        readers.emplace_back([&] {
            if (sensor.Read().IsValid()) {
                ++valid;
            }
        });
    }
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(valid.load(), 8);
    EXPECT_EQ(connection.Count(bmc::eCmdReadSensor), 1u);
}

TEST_F(SensorThreads, TheIntervalMayChangeWhileSensorsAreRead)
{
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; !stop.load(); ++i) {
            bmc::Sensor::SetReadingInterval(istd::Time(i % 2, 0));
        }
    });
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            for (int n = 0; n < 5; ++n) {
                bmctest::FakeClock::Advance(1, 0);
                EXPECT_TRUE(sensor.Read().IsValid());
            }
        });
    }
    for (std::thread& t : readers) {
        t.join();
    }
    stop.store(true);
    changer.join();
}

} // namespace
