// Concurrent first users of an IPMI sensor share one record read, and all see the whole record.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bmc/board.h"
#include "bmc/ipmi_sensor.h"
#include "common/sdr_record.h"

namespace {

TEST(IpmiSensorThreads, ConcurrentFirstUsersReadTheRecordOnce)
{
    bmctest::Sdr fields;
    fields.name = "FPGA";
    fields.unit = 4;
    fields.m = 2;
    fields.thresholds[1] = 40; // upper critical
    const sensor_record record = bmctest::Record(fields);
    bmctest::RecordingConnection connection;
    connection.SetHandler([&](unsigned int command, const std::vector<istd::AnyReference>&, istd::AnyReference& result) {
        if (command == bmc::eCmdReadSDR) {
            // A slow transport, so that the first users overlap the read.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            result = record;
        }
    });
    bmc::Board board(bmc::DecomposeUri("kvr:///chassis/3"), &connection);
    const bmc::IpmiSensor sensor(board, bmc::SensorId(0));

    std::vector<std::thread> users;
    std::vector<std::string> names(8);
    std::vector<double> limits(8);
    for (size_t i = 0; i < names.size(); ++i) {
        users.emplace_back([&, i] {
            if (i % 2 == 0) {
                names[i] = sensor.GetName() + " " + sensor.GetUnits();
                limits[i] = sensor.HighCritical().Converted();
            } else {
                limits[i] = sensor.HighCritical().Converted();
                names[i] = sensor.GetName() + " " + sensor.GetUnits();
            }
        });
    }
    for (std::thread& user : users) {
        user.join();
    }
    EXPECT_EQ(connection.Count(bmc::eCmdReadSDR), 1u);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], "3-FPGA Volts") << i;
        EXPECT_DOUBLE_EQ(limits[i], 80.0) << i;
    }
}

} // namespace
