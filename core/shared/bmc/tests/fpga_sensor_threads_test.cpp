// Sensors behind one multiplexer read from several threads: each switch and its conversion stay
// together, so every reading is of the sensor's own input.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bmc/fpga_sensor.h"
#include "bmc/sensor.h"
#include "common/zek_board.h"

namespace {

using bmc::SensorId;
using bmctest::ZekBoard;

TEST(FpgaSensorThreads, EachMultiplexedSensorReadsItsOwnInput)
{
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    const double pt[4] = {10.0, 45.0, 90.0, 135.0};
    for (unsigned input = 0; input < 4; ++input) {
        zek.site.ad7787->SetInputVoltage(input, bmctest::ThermometerVolts(pt[input]));
    }
    zek.site.adt7301[2]->SetTemperature(33.0);

    constexpr int c_readings = 150;
    std::atomic<int> wrong{0};
    std::atomic<int> invalid{0};
    std::vector<std::thread> threads;
    // PT1 to PT4 on four threads, and a temperature chip of the other bus beside them.
    for (int32_t id = 4; id < 8; ++id) {
        threads.emplace_back([&, id] {
            const bmc::Sensor* sensor = zek.board->GetSensor(SensorId(id));
            for (int i = 0; i < c_readings; ++i) {
                const bmc::SensorReading reading = sensor->FetchSensorReading();
                if (!reading.IsValid()) {
                    ++invalid;
                } else if (std::abs(reading.Converted() - pt[id - 4]) > 0.01) {
                    ++wrong;
                }
            }
        });
    }
    threads.emplace_back([&] {
        const bmc::Sensor* sensor = zek.board->GetSensor(SensorId(2));
        for (int i = 0; i < c_readings; ++i) {
            const bmc::SensorReading reading = sensor->FetchSensorReading();
            wrong += !reading.IsValid() || reading.Converted() != 33.0;
        }
    });
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(invalid.load(), 0);
    // Every reading took two conversions.
    EXPECT_EQ(zek.site.ad7787->GetConversionCount(), 4u * c_readings * 2u);
}

} // namespace
