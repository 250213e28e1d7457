// The I2C protocol on the FPGA I2C core, against the register-level model of the core: the exact
// bus traffic and register accesses of register writes and reads, transfers of several bytes,
// the refusals of the bus and their texts, the clock and bus registers, and the same core reached
// through a board's AMBA register commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/board.h"
#include "bmc/i2c_bus_controller_fpga_spiamba.h"
#include "bmc/spi_bus_params.h"
#include "common/bus_rigs.h"
#include "sim/buscores/amba_connection.h"
#include "tests/support/error_of.h"

namespace {

using bmctest::I2cRig;
using bmctest::TestI2cChip;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testsupport::ErrorOf;

std::vector<std::string> Writes(const sim::I2cCoreModelPtr& core)
{
    return sim::RegisterTexts(core->GetRegisterAccesses(), false);
}

class I2cBusTest : public testing::Test {
protected:
    I2cBusTest() { m_chip = m_rig.AddChip("eeprom", 0, 0x50, 1, m_device); }

    bmc::I2cDevice& Device() { return static_cast<bmc::I2cDevice&>(*m_device); }

    I2cRig m_rig;
    bmc::BusDevicePtr m_device;
    std::shared_ptr<sim::I2cRegisterChip> m_chip;
};

TEST_F(I2cBusTest, SetAndGetPutTheRegisterAndTheByteOnTheBus)
{
    Device().Set(0x12, 0x34);
    EXPECT_EQ(m_chip->Get(0x12), 0x34);
    EXPECT_THAT(m_rig.core->GetEventTexts(),
                ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x12 ACK", "WRITE 0x34 ACK", "STOP", "STOP"));
    // Every step is a command and a wait on the status; the bus register is written once.
    EXPECT_THAT(sim::RegisterTexts(m_rig.core->GetRegisterAccesses()),
                ElementsAre("R control 0x00",                                             // idle?
                            "W prescaler 0x270",                                          // 100 kHz
                            "R bus 0x00", "W bus 0x01",                                   // route
                            "W control 0x50000000", "R control 0x00",                     // stop
                            "W data 0xa0", "W control 0xb0000000", "R control 0x4000000", // start
                            "R control 0x4000000",                                        //   acked?
                            "W data 0x12", "W control 0x30000000", "R control 0x4000000", // register
                            "R control 0x4000000",                                        //
                            "W data 0x34", "W control 0x70000000", "R control 0x4000000", // byte, stop
                            "R control 0x4000000",                                        //
                            "R control 0x4000000", "R control 0x4000000",                 // polling
                            "R bus 0x01", "W control 0x50000000", "R control 0x4000000")); // release

    m_rig.core->ClearTraces();
    EXPECT_EQ(Device().Get(0x12), 0x34);
    EXPECT_THAT(m_rig.core->GetEventTexts(), ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x12 ACK", "STOP",
                                                         "START 0xa1 ACK", "READ 0x34 NACK", "STOP"));
    EXPECT_THAT(Writes(m_rig.core), ElementsAre("W control 0x50000000", "W data 0xa0", "W control 0xb0000000",
                                                "W data 0x12", "W control 0x70000000", "W data 0xa1",
                                                "W control 0xb0000000", "W control 0x00", "W control 0x50000000"));
}

TEST_F(I2cBusTest, SeveralWordsAreOneMessageWithOneStartAndOneStop)
{
    const uint64_t bytes[] = {0x01, 0x02, 0x1FF};
    m_device->Write(0x20, bytes, 3);
    EXPECT_THAT(m_rig.core->GetEventTexts(), ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x20 ACK", "WRITE 0x01 ACK",
                                                         "WRITE 0x02 ACK", "WRITE 0xff ACK", "STOP", "STOP"));
    EXPECT_EQ(m_chip->Get(0x20), 0x01);
    EXPECT_EQ(m_chip->Get(0x22), 0xFF);

    m_rig.core->ClearTraces();
    uint64_t read[3] = {9, 9, 9};
    m_device->Read(0x20, read, 3);
    EXPECT_THAT(read, ElementsAre(0x01, 0x02, 0xFF));
    EXPECT_THAT(m_rig.core->GetEventTexts(),
                ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x20 ACK", "STOP", "START 0xa1 ACK", "READ 0x01 ACK",
                            "READ 0x02 ACK", "READ 0xff NACK", "STOP"));
    EXPECT_THAT(Writes(m_rig.core), testing::IsSupersetOf({"W control 0x8000000", "W control 0x00"}));
}

TEST_F(I2cBusTest, RefusalsOfTheBusAndTheirTexts)
{
    struct Case {
        const char* name;
        std::function<void(I2cRig&)> arrange;
        std::function<void(bmc::I2cDevice&)> act;
        const char* text;
    };
    const auto set = [](bmc::I2cDevice& d) { d.Set(0x12, 0x34); };
    const auto get = [](bmc::I2cDevice& d) { d.Get(0x12); };
    const std::vector<Case> cases = {
        {"nobody at the address", [](I2cRig& r) { r.core->Detach(1, 0x50); }, set,
         "i2c com. error (device with addr 0x50) addr +W was NACKed"},
        {"address refused, get", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultAddressNack); }, get,
         "i2c com. error (device with addr 0x50) addr +W was NACKed"},
        {"register byte refused", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultDataNack); }, set,
         "i2c com. error (device with addr 0x50) data byte 34 was NACKed"},
        {"data byte refused", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultDataNack, 1); },
         [](bmc::I2cDevice& d) { d.Write(0x12, uint64_t{0x1AB}); },
         "i2c com. error (device with addr 0x50) data byte 1ab was NACKed"},
        {"register byte of a read refused", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultDataNack); },
         get, "i2c com. error (device with addr 0x50) data byte 0 was NACKed"},
        {"read address refused", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultAddressNack, 1); }, get,
         "i2c read. error (device with addr 0x50"},
        {"core stuck at the first stop", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultBusyStuck); },
         set, "i2c com. error failure while stoping sequence"},
        {"core stuck at the receive", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultBusyStuck, 4); },
         get, "i2c read. error while waiting for data and busy flag to be cleared (device: 0x50)"},
        {"core stuck at the release", [](I2cRig& r) { r.core->SetFault(sim::I2cCoreModel::eFaultBusyStuck, 4); },
         set, "i2c com. error failure while stoping sequence"},
    };
    for (const Case& c : cases) {
        I2cRig rig;
        bmc::BusDevicePtr device;
        rig.AddChip("eeprom", 0, 0x50, 1, device);
        c.arrange(rig);
        EXPECT_EQ(ErrorOf([&] { c.act(static_cast<bmc::I2cDevice&>(*device)); }), c.text) << c.name;
    }
}

TEST_F(I2cBusTest, AStuckCoreIsWaitedForOnlyAsLongAsTheLimitSays)
{
    m_rig.core->SetFault(sim::I2cCoreModel::eFaultBusyStuck);
    EXPECT_THROW(Device().Set(1, 1), istd::Exception);
    m_rig.bus->SetIdleTimeout(5);
    EXPECT_EQ(ErrorOf([&] { Device().Set(1, 1); }), "Timeout 5 ms expired");
    // A core that comes back is used again.
    m_rig.core->SetFault(sim::I2cCoreModel::eFaultNone);
    m_rig.core->SetBusyReads(3);
    Device().Set(1, 7);
    EXPECT_EQ(Device().Get(1), 7);
}

TEST_F(I2cBusTest, TheBusRegisterIsWrittenOnlyWhenTheBusChanges)
{
    bmc::BusDevicePtr neighbour;
    bmc::BusDevicePtr elsewhere;
    m_rig.AddChip("neighbour", 1, 0x51, 1, neighbour);
    const auto other = m_rig.AddChip("elsewhere", 2, 0x50, 2, elsewhere);
    const auto busWrites = [&] {
        std::vector<std::string> writes;
        for (const std::string& w : Writes(m_rig.core)) {
            if (w.rfind("W bus", 0) == 0) {
                writes.push_back(w);
            }
        }
        return writes;
    };
    Device().Set(0, 1);
    static_cast<bmc::I2cDevice&>(*neighbour).Set(0, 2);
    Device().Set(0, 3);
    EXPECT_THAT(busWrites(), ElementsAre("W bus 0x01"));
    static_cast<bmc::I2cDevice&>(*elsewhere).Set(0, 4);
    Device().Set(0, 5);
    EXPECT_THAT(busWrites(), ElementsAre("W bus 0x01", "W bus 0x02", "W bus 0x01"));
    // The same address on another bus is another chip.
    EXPECT_EQ(m_chip->Get(0), 5);
    EXPECT_EQ(other->Get(0), 4);
}

TEST_F(I2cBusTest, TheClockPrescalerFollowsTheFrequency)
{
    struct Case {
        uint32_t khz;
        uint32_t prescaler;
    };
    for (const Case& c : std::vector<Case>{{100, 624}, {400, 155}, {1000, 61}, {62500, 0}, {0, 0}}) {
        I2cRig rig;
        bmc::BusDevicePtr device;
        rig.AddChip("chip", 0, 0x50, 0, device, c.khz);
        static_cast<bmc::I2cDevice&>(*device).Set(0, 0);
        EXPECT_EQ(rig.core->GetPrescaler(), c.prescaler) << c.khz;
    }
    // Above half the core's clock no prescaler exists: refused before anything is written.
    I2cRig rig;
    bmc::BusDevicePtr device;
    rig.AddChip("fast", 0, 0x50, 0, device, 62501);
    EXPECT_EQ(ErrorOf([&] { static_cast<bmc::I2cDevice&>(*device).Set(0, 0); }),
              "i2c: i2c clock frequency (62501 kHz) is out of range (62500 kHz).");
    EXPECT_THAT(Writes(rig.core), ElementsAre());
}

TEST_F(I2cBusTest, DevicesTheControllerCannotServe)
{
    // An id at the maximum is registered but cannot be selected.
    I2cRig rig(2);
    bmc::BusDevicePtr device;
    rig.AddChip("last", 2, 0x50, 0, device);
    EXPECT_EQ(ErrorOf([&] { static_cast<bmc::I2cDevice&>(*device).Set(0, 0); }), "Device ID is not supported");

    // Parameters missing or of another bus.
    const auto bare = bmc::Create<bmc::I2cDevice>(m_rig.bus, "bare", 3);
    EXPECT_THROW(static_cast<bmc::I2cDevice&>(*bare).Get(0), std::bad_cast);
    bare->SetParams(std::make_shared<bmc::SpiBusParams>());
    EXPECT_THROW(static_cast<bmc::I2cDevice&>(*bare).Get(0), std::bad_cast);
    // The chip that was set up keeps working.
    Device().Set(3, 3);
    EXPECT_EQ(Device().Get(3), 3);
}

TEST_F(I2cBusTest, AddressAboveSevenBitsLosesItsTopBit)
{
    const auto chip = std::make_shared<sim::I2cRegisterChip>();
    m_rig.core->Attach(0, 0x50, chip);
    const auto wide = bmc::Create<TestI2cChip>(m_rig.bus, "wide", 4, 0xD0, 0);
    static_cast<bmc::I2cDevice&>(*wide).Set(1, 9);
    EXPECT_EQ(chip->Get(1), 9);
    EXPECT_THAT(m_rig.core->GetEventTexts(), testing::Contains("START 0xa0 ACK"));
}

TEST_F(I2cBusTest, OutputLines)
{
    EXPECT_TRUE(m_rig.bus->SetOutput(0xDEADBEEF));
    uint32_t value = 0;
    EXPECT_TRUE(m_rig.bus->GetOutput(value));
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(m_rig.core->GetOutput(), 0xDEADBEEFu);
}

TEST_F(I2cBusTest, TracesOfTheProtocolAndTheCore)
{
    istd::TraceCapture trace(istd::eTraceDetail);
    Device().Set(0x12, 0x41);
    EXPECT_EQ(Device().Get(0x12), 0x41);
    for (const char* text : {"I2C FpgaAmpba: Prescaler set to: 624", "I2C FpgaAmpba: Selected bus was changed from 0x0 to 0x1",
                             "I2C FpgaAmpba: Control register <-- 0x50000000", "i2c select device: 0x50 id: 0x0 W",
                             "I2C FpgaAmpba: Check busy flag in CTRL reg: 0x", "I2C FpgaAmpba: Ack flag in CTRL reg: 0x4000000",
                             "i2c data write: 0x41", "i2c data read: 0x41", "I2C FpgaAmpba: Data register --> A",
                             " CalcPrescaler prescaler: 624 a_freq_khz: 100 m_prescaler_factor: 125000",
                             "BusController::Write to eeprom", "BusController::Read from eeprom"}) {
        EXPECT_TRUE(trace.Contains(text)) << text;
    }
    // Tracing adds register reads, not bus traffic.
    EXPECT_THAT(m_rig.core->GetEventTexts(),
                ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x12 ACK", "WRITE 0x41 ACK", "STOP", "STOP", "STOP",
                            "START 0xa0 ACK", "WRITE 0x12 ACK", "STOP", "START 0xa1 ACK", "READ 0x41 NACK", "STOP"));
}

// The same core behind a board's AMBA register commands.
class I2cAmbaTest : public testing::Test {
protected:
    static constexpr uint32_t c_base = 0xE00080;

    I2cAmbaTest()
    {
        m_connection.Map(c_base, sim::I2cCoreModel::c_windowSize, m_core);
        m_core->Attach(1, 0x50, m_chip);
        m_device = bmc::Create<TestI2cChip>(m_bus, "eeprom", 0, 0x50, 1);
    }

    bmc::I2cDevice& Device() { return static_cast<bmc::I2cDevice&>(*m_device); }

    bmc::ScopedBusSleep m_instant{&bmc::InstantBusSleep};
    sim::I2cCoreModelPtr m_core = std::make_shared<sim::I2cCoreModel>();
    std::shared_ptr<sim::I2cRegisterChip> m_chip = std::make_shared<sim::I2cRegisterChip>();
    sim::AmbaConnection m_connection;
    bmc::Board m_board{bmc::CreateLocalChassisUri(3, bmc::Uri::eInterfaceDefault), &m_connection};
    bmc::BusControllerPtr m_bus =
        bmc::Create<bmc::I2cBusControllerFpgaSPIAmba>("amba", 8, &m_board, size_t{c_base});
    bmc::BusDevicePtr m_device;
};

TEST_F(I2cAmbaTest, ARoundTripRunsTheSameBusTraffic)
{
    Device().Set(0x12, 0x34);
    EXPECT_EQ(Device().Get(0x12), 0x34);
    EXPECT_THAT(m_core->GetEventTexts(),
                ElementsAre("STOP", "START 0xa0 ACK", "WRITE 0x12 ACK", "WRITE 0x34 ACK", "STOP", "STOP", "STOP",
                            "START 0xa0 ACK", "WRITE 0x12 ACK", "STOP", "START 0xa1 ACK", "READ 0x34 NACK", "STOP"));
    // One board command per register access; the bus register is written at every selection.
    EXPECT_EQ(m_connection.GetCommandCount(), m_core->GetAccessCount());
    size_t busWrites = 0;
    for (const std::string& w : Writes(m_core)) {
        busWrites += w == "W bus 0x01" ? 1 : 0;
    }
    EXPECT_EQ(busWrites, 4u);
    EXPECT_TRUE(m_bus->SetOutput(0x55));
    uint32_t output = 0;
    EXPECT_TRUE(m_bus->GetOutput(output));
    EXPECT_EQ(output, 0x55u);
}

TEST_F(I2cAmbaTest, FailedReadsOfTheBoard)
{
    Device().Set(0x12, 0x34);
    // A received byte that could not be read is no byte.
    m_connection.SetReadStatus(c_base + 0x00, 3);
    EXPECT_EQ(ErrorOf([&] { Device().Get(0x12); }),
              "i2c read. error: the board failed to read the received byte (device: 0x50)");
    m_connection.SetReadStatus(c_base + 0x00, 0);
    EXPECT_EQ(Device().Get(0x12), 0x34);

    // A status that cannot be read looks busy: with a limit the wait ends.
    m_connection.SetReadStatus(c_base + 0x08, 1);
    m_bus->SetIdleTimeout(5);
    EXPECT_EQ(ErrorOf([&] { Device().Set(0, 0); }), "Timeout 5 ms expired");
    m_connection.SetReadStatus(c_base + 0x08, 0);

    m_connection.SetReadStatus(c_base + 0x20, 1);
    uint32_t output = 77;
    EXPECT_FALSE(m_bus->GetOutput(output));
    EXPECT_EQ(output, 77u);
}

TEST_F(I2cAmbaTest, TheBlockMustHaveA32BitAddress)
{
    EXPECT_NO_THROW(bmc::I2cBusControllerFpgaSPIAmba("top", 1, &m_board, size_t{0xFFFFFFD8}));
    for (const size_t base : {size_t{0xFFFFFFD9}, size_t{0x100000000}, ~size_t{0}}) {
        EXPECT_THROW(bmc::I2cBusControllerFpgaSPIAmba("far", 1, &m_board, base), istd::Exception) << base;
    }
    EXPECT_EQ(ErrorOf([&] { bmc::I2cBusControllerFpgaSPIAmba("far", 1, &m_board, size_t{0x100000000}); }),
              "far: the I2C core's AMBA address 0x100000000 is beyond 32 bits");
    EXPECT_THROW(bmc::I2cBusControllerFpgaSPIAmba("none", 1, nullptr, 0), istd::Exception);
}

} // namespace
