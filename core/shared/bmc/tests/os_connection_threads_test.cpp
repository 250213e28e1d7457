// The host connection on this machine's own libstatgrab and libsensors (which may find no
// monitoring chip: then the nine fixed figures are the sensors), and the connection used from
// several threads.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bmc/board.h"
#include "bmc/os_connection.h"
#include "common/fake_lm_sensors.h"
#include "common/fake_statgrab.h"
#include "common/host_commands.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;
using bmctest::ReadHostSensor;
using bmctest::SensorCount;
using bmctest::SensorRecord;

uint64_t MemTotalFromProc()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string key;
        uint64_t kib = 0;
        if (fields >> key >> kib && key == "MemTotal:") {
            return kib * 1024;
        }
    }
    ADD_FAILURE() << "no MemTotal in /proc/meminfo";
    return 0;
}

TEST(OsConnectionReal, TheHostsFiguresAsSensors)
{
    bmc::OsConnection connection(bmc::c_localOSUri);
    const unsigned int count = SensorCount(connection);
    ASSERT_GE(count, 9u);
    const char* const names[] = {"TOTAL", "USED", "CASHED", "IDLE", "USER", "KERNEL", "IOWAIT", "SWAP", "NICE"};
    for (int id = 0; id < 9; ++id) {
        EXPECT_EQ(SensorRecord(connection, id).name, names[id]);
    }
    // Whatever chips libsensors finds here follow, named after their chip.
    for (unsigned int id = 9; id < count; ++id) {
        const bmc::SDRos record = SensorRecord(connection, static_cast<int>(id));
        EXPECT_EQ(record.figure, bmc::SDRos::c_lmSensorFigure);
        EXPECT_NE(record.name.find("::"), std::string::npos) << record.name;
    }
    EXPECT_EQ(ErrorOf([&] { SensorRecord(connection, static_cast<int>(count)); }),
              "bmc: reading unavailable sensor.");

    // Memory: the whole count in the value, the raw field saturated at 32 bits.
    const uint64_t total = MemTotalFromProc();
    const bmc::SensorReading memory = ReadHostSensor(connection, 0, bmc::eSensorTypeMemory);
    EXPECT_EQ(memory.Converted(), static_cast<double>(total));
    EXPECT_EQ(memory.Raw(), total > std::numeric_limits<unsigned int>::max()
                                ? std::numeric_limits<unsigned int>::max()
                                : static_cast<unsigned int>(total));
    const double used = ReadHostSensor(connection, 1).Converted();
    EXPECT_GT(used, 0.0);
    EXPECT_LE(used, memory.Converted());
    EXPECT_LE(ReadHostSensor(connection, 2).Converted(), memory.Converted());

    // CPU: the first values come with the sampler's first sample. Six reads may straddle a new
    // sample, so a set that does not add up is read again.
    std::array<double, 6> shares{};
    double sum = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        sum = 0;
        for (int id = 3; id <= 8; ++id) {
            const bmc::SensorReading reading = ReadHostSensor(connection, id, bmc::eSensorTypeCpu);
            EXPECT_TRUE(reading.IsValid());
            EXPECT_EQ(reading.Raw(), 0u);
            shares[static_cast<size_t>(id - 3)] = reading.Converted();
            sum += reading.Converted();
        }
        if (std::abs(sum - 100.0) < 1e-3) {
            break;
        }
    }
    EXPECT_NEAR(sum, 100.0, 1e-3);
    for (const double share : shares) {
        EXPECT_GE(share, 0.0);
        EXPECT_LE(share, 100.0);
    }
}

TEST(OsConnectionReal, SensorsOfOneHostBoardReadFromManyThreads)
{
    bmc::OsConnection connection(bmc::c_localOSUri);
    bmc::Board board(bmc::c_localOSUri, &connection);
    std::vector<std::unique_ptr<bmc::OsSensor>> sensors;
    for (int id = 0; id < 9; ++id) {
        sensors.push_back(std::make_unique<bmc::OsSensor>(board, bmc::SensorId(id)));
    }
    std::atomic<int> invalid{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 6; ++t) {
        readers.emplace_back([&, t] {
            for (int n = 0; n < 20; ++n) {
                const bmc::OsSensor& sensor = *sensors[static_cast<size_t>((t + n) % 9)];
                invalid += !sensor.Read().IsValid();
                invalid += !ReadHostSensor(connection, sensor.GetId().Value(), sensor.GetType()).IsValid();
            }
        });
    }
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(invalid.load(), 0);
}

// libsensors' shared state while connections come and go on other threads: the handles of a
// connection that lives on stay valid throughout.
TEST(OsConnectionThreads, ConnectionsComingAndGoingLeaveTheOthersHandlesValid)
{
    using Feature = bmctest::FakeLmSensors::Feature;
    bmctest::FakeStatgrab::Reset();
    bmctest::FakeLmSensors::Reset(
        {{"coretemp-isa-0000", {Feature{SENSORS_FEATURE_TEMP, "Core 0", {{SENSORS_SUBFEATURE_TEMP_INPUT, 40}}, {}}}}});
    const bmc::OsConnection::Libraries libraries = bmctest::FakeLmSensors::Libraries();
    bmc::OsConnection lasting(bmc::c_localOSUri, libraries);

    std::atomic<bool> stop{false};
    std::vector<std::thread> churn;
    for (int t = 0; t < 4; ++t) {
        churn.emplace_back([&] {
            for (int n = 0; n < 50; ++n) {
                bmc::OsConnection passing(bmc::c_localOSUri, libraries);
                EXPECT_EQ(SensorCount(passing), 10u);
            }
        });
    }
    std::thread reader([&] {
        while (!stop) {
            EXPECT_DOUBLE_EQ(ReadHostSensor(lasting, 9).Converted(), 40);
        }
    });
    for (std::thread& t : churn) {
        t.join();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bmctest::FakeLmSensors::StaleUses(), 0u);
    EXPECT_EQ(bmctest::FakeLmSensors::Calls("sensorsInit"), 1u);
    EXPECT_EQ(bmctest::FakeLmSensors::Calls("sensorsCleanup"), 0u);
}

} // namespace
