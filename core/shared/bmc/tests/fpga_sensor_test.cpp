// The FPGA sensors of a ZEK board: made by the board over its mapped monitor device, read through
// the simulated SPI cores and chips, classified against their limits; the multiplexer switched only
// when needed; wrong drivers refused; failures that add nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <typeinfo>
#include <vector>

#include "istd/time.h"
#include "bmc/fpga_sensor.h"
#include "bmc/sensor.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device_AD7787.h"
#include "bmc/spi_device_ADT7301.h"
#include "common/bus_rigs.h"
#include "common/zek_board.h"
#include "tests/support/error_of.h"

namespace {

using bmc::SensorId;
using bmc::SensorReading;
using bmctest::ZekBoard;

// Writes to the ADC core's output register, the multiplexer.
size_t MultiplexerWrites(const sim::SpiCoreModel& core)
{
    size_t writes = 0;
    for (const sim::RegisterAccess& a : core.GetRegisterAccesses()) {
        writes += a.write && a.offset == sim::SpiCoreModel::c_output;
    }
    return writes;
}

// Counts the waits of 10 ms and more; instant otherwise.
std::vector<uint32_t> g_longSleeps;
void CountingSleep(uint32_t microseconds)
{
    if (microseconds >= 10000) {
        g_longSleeps.push_back(microseconds);
    }
}

TEST(FpgaSensors, AZekBoardGetsItsEightSensors)
{
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    EXPECT_EQ(nextId, 8u);
    const std::vector<std::string> names = {"5-TS1", "5-TS2", "5-TS3", "5-TS4", "5-PT1", "5-PT2", "5-PT3", "5-PT4"};
    ASSERT_EQ(zek.board->GetSensorsIds().size(), 8u);
    for (int32_t id = 0; id < 8; ++id) {
        const bmc::Sensor* sensor = zek.board->GetSensor(SensorId(id));
        ASSERT_NE(sensor, nullptr);
        EXPECT_EQ(sensor->GetId(), SensorId(id));
        EXPECT_EQ(sensor->GetName(), names[static_cast<size_t>(id)]);
        EXPECT_EQ(sensor->GetUnits(), "degrees C");
        EXPECT_EQ(sensor->GetType(), bmc::eSensorTypeTemperature);
        EXPECT_EQ(sensor->HighCritical().Converted(), 80.0);
    }
    // The multiplexer was set to input 0 when made, and each temperature chip read once.
    EXPECT_EQ(MultiplexerWrites(*zek.site.adcCore), 1u);
    EXPECT_EQ(zek.site.MultiplexerInput(), 0u);
    for (const auto& chip : zek.site.adt7301) {
        EXPECT_EQ(chip->GetWords().size(), 1u);
    }
    EXPECT_EQ(zek.site.ad7787->GetMode(), 6);
    EXPECT_EQ(zek.device.GetOpenDescriptorCount(), 1u); // kept for the board's lifetime
}

TEST(FpgaSensors, AnotherBoardTypeGetsNoneAndKeepsTheCount)
{
    ZekBoard pax(0x400000, 62, 62);
    unsigned nextId = 0;
    nextId = 3;
    pax.board->AddFpgaSensors(nextId);
    EXPECT_EQ(nextId, 3u);
    EXPECT_TRUE(pax.board->GetSensorsIds().empty());
    EXPECT_EQ(pax.device.GetOpenDescriptorCount(), 0u);
}

TEST(FpgaSensors, ReadingsComeFromTheChips)
{
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    const double adt[4] = {30.5, -12.25, 70.0, 99.96875};
    for (size_t i = 0; i < 4; ++i) {
        zek.site.adt7301[i]->SetTemperature(adt[i]);
    }
    const double pt[4] = {20.0, 40.0, 60.0, 80.0};
    for (unsigned input = 0; input < 4; ++input) {
        zek.site.ad7787->SetInputVoltage(input, bmctest::ThermometerVolts(pt[input]));
    }
    for (int32_t id = 0; id < 8; ++id) {
        const SensorReading reading = zek.board->GetSensor(SensorId(id))->FetchSensorReading();
        ASSERT_TRUE(reading.IsValid()) << id;
        EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeTemperature);
        if (id < 4) {
            EXPECT_EQ(reading.Converted(), adt[id]) << id;
        } else {
            EXPECT_NEAR(reading.Converted(), pt[id - 4], 0.01) << id;
            EXPECT_EQ(zek.site.MultiplexerInput(), static_cast<uint32_t>(id - 4));
            EXPECT_EQ(zek.site.ad7787->GetLastInput(), static_cast<unsigned>(id - 4));
        }
    }
    // Chips that report errors give invalid readings: a word out of range, a conversion error,
    // and a conversion that never comes (the sensor must not report an unwritten value).
    zek.site.adt7301[1]->SetRawWord(0x4000);
    EXPECT_FALSE(zek.board->GetSensor(SensorId(1))->FetchSensorReading().IsValid());
    zek.site.ad7787->SetStatusBits(0x40);
    EXPECT_FALSE(zek.board->GetSensor(SensorId(5))->FetchSensorReading().IsValid());
    zek.site.ad7787->SetStatusBits(0);
    zek.site.ad7787->SetNeverReady(true);
    EXPECT_FALSE(zek.board->GetSensor(SensorId(6))->FetchSensorReading().IsValid());
    zek.site.ad7787->SetNeverReady(false);
    EXPECT_TRUE(zek.board->GetSensor(SensorId(6))->FetchSensorReading().IsValid());
}

TEST(FpgaSensors, TheMultiplexerSwitchesAfterItsWaitOnlyForAnotherInput)
{
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    bmc::ScopedBusSleep counting(&CountingSleep);
    g_longSleeps.clear();
    const bmc::Sensor* pt2 = zek.board->GetSensor(SensorId(5));
    const size_t before = MultiplexerWrites(*zek.site.adcCore);
    pt2->FetchSensorReading();
    EXPECT_EQ(MultiplexerWrites(*zek.site.adcCore), before + 1);
    EXPECT_EQ(g_longSleeps, std::vector<uint32_t>{10000});
    pt2->FetchSensorReading();
    pt2->FetchSensorReading();
    EXPECT_EQ(MultiplexerWrites(*zek.site.adcCore), before + 1);
    EXPECT_EQ(g_longSleeps.size(), 1u);
    zek.board->GetSensor(SensorId(4))->FetchSensorReading();
    EXPECT_EQ(MultiplexerWrites(*zek.site.adcCore), before + 2);
    EXPECT_EQ(g_longSleeps.size(), 2u);
}

TEST(FpgaSensors, ReadingsAreClassifiedAgainstTheRecordsLimits)
{
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    const istd::Time now(100, 0);
    struct Case {
        double celsius;
        bmc::SensorLimit_e limit;
    };
    const std::vector<Case> cases = {{14.9, bmc::eLimitLnc}, {15.0, bmc::eLimitOk}, {50.0, bmc::eLimitOk},
                                     {75.0, bmc::eLimitHnc}, {80.0, bmc::eLimitHnc}, {80.5, bmc::eLimitHc}};
    for (int32_t id : {0, 7}) {
        const bmc::Sensor* sensor = zek.board->GetSensor(SensorId(id));
        for (const Case& c : cases) {
            EXPECT_EQ(sensor->ReadingLimit(SensorReading(bmc::eSensorTypeTemperature, 0, c.celsius, now)), c.limit)
                << id << " " << c.celsius;
        }
        EXPECT_EQ(sensor->ReadingLimit(SensorReading(now)), bmc::eLimitNa);
    }

    // A record without limits: every threshold is an invalid reading, every temperature ok.
    const double none = std::numeric_limits<double>::quiet_NaN();
    bmctest::SpiRig rig;
    rig.core->Attach(0, std::make_shared<sim::Adt7301Model>());
    const bmc::FpgaSensorADT7301 bare(*zek.board, SensorId(9),
                                      bmc::SDRfpga{"T", "degrees C", bmc::eSensorTypeTemperature, none, none, none},
                                      bmc::Create<bmc::ADT7301>(rig.bus, "ADT7301", 0));
    for (const SensorReading& limit : {bare.Nominal(), bare.LowNonCritical(), bare.LowCritical(),
                                       bare.LowNonRecover(), bare.HighNonCritical(), bare.HighCritical(),
                                       bare.HighNonRecover()}) {
        EXPECT_FALSE(limit.IsValid());
    }
    for (double celsius : {-100.0, 14.9, 200.0}) {
        EXPECT_EQ(bare.ReadingLimit(SensorReading(bmc::eSensorTypeTemperature, 0, celsius, now)), bmc::eLimitOk);
    }
    EXPECT_EQ(bare.GetName(), "5-T");
}

TEST(FpgaSensors, ASensorOfTheWrongDriverIsRefused)
{
    ZekBoard zek;
    bmctest::SpiRig rig;
    rig.core->Attach(0, std::make_shared<sim::Adt7301Model>());
    rig.core->Attach(1, std::make_shared<sim::Ad7787Model>());
    const bmc::BusDevicePtr adt = bmc::Create<bmc::ADT7301>(rig.bus, "ADT7301", 0);
    const bmc::BusDevicePtr adc = bmc::Create<bmc::AD7787>(rig.bus, "AD7787", 1, 2.5);
    uint32_t muxRegister = 0;
    const bmc::AnalogMux mux(reinterpret_cast<volatile bmc::FPGAMem_t*>(&muxRegister), "mux", 4);
    const bmc::SDRfpga record = bmc::c_zekDevSdr[0];
    EXPECT_THROW(bmc::FpgaSensorADT7301(*zek.board, SensorId(0), record, adc), std::bad_cast);
    EXPECT_THROW(bmc::FpgaSensorADT7301(*zek.board, SensorId(0), record, nullptr), std::bad_cast);
    EXPECT_THROW(bmc::FpgaSensorAD7787Mux(*zek.board, SensorId(0), record, adt, mux, 0), std::bad_cast);
    EXPECT_THROW(bmc::FpgaSensorAD7787Mux(*zek.board, SensorId(0), record, nullptr, mux, 0), std::bad_cast);
    EXPECT_NO_THROW(bmc::FpgaSensorAD7787Mux(*zek.board, SensorId(0), record, adc, mux, 0));
}

TEST(FpgaSensors, AFailureAddsNothingAndReleasesTheMapping)
{
    struct Case {
        const char* what;
        size_t memory;
        uint8_t firmware;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"memory without the temperature core", 0x300150, ZekBoard::c_zek,
         "bmc: mapped area of 3146064 bytes has no window of 32 bytes at offset 0x300180"},
        {"no device files", 0x400000, 0, "Can't open device: . ("},
    };
    for (const Case& c : cases) {
        ZekBoard zek(c.memory, ZekBoard::c_zek, c.firmware);
        unsigned nextId = 0;
        const std::string error = testsupport::ErrorOf([&] { zek.board->AddFpgaSensors(nextId); });
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
        EXPECT_EQ(nextId, 0u) << c.what;
        EXPECT_TRUE(zek.board->GetSensorsIds().empty()) << c.what;
        EXPECT_EQ(zek.device.GetOpenDescriptorCount(), 0u) << c.what;
        EXPECT_EQ(zek.device.GetMappedAreaCount(), 0u) << c.what;
    }

    // The board gives its mapping back when it goes.
    ZekBoard zek;
    unsigned nextId = 0;
    zek.board->AddFpgaSensors(nextId);
    EXPECT_EQ(zek.device.GetMappedAreaCount(), 1u);
    zek.board.reset();
    EXPECT_EQ(zek.device.GetOpenDescriptorCount(), 0u);
    EXPECT_EQ(zek.device.GetMappedAreaCount(), 0u);
}

} // namespace
