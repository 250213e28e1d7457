// The simulated bus cores on their own: command decoding beyond what the bus layer sends, the
// halves of the SPI core's 64-bit registers, several chips selected at once, the AMBA
// connection's refusals, and both cores placed in a monitor device's register window and driven
// by the bus layer through a real mapping.
#include <fcntl.h>
#include <sys/mman.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devio/device_file.h"
#include "istd/exception.h"
#include "bmc/bus_controller.h"
#include "bmc/connection.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "bmc/i2c_device.h"
#include "bmc/ipmi_connection.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device.h"
#include "sim/buscores/amba_connection.h"
#include "sim/buscores/register_chips.h"
#include "sim/devices/monitor_device.h"

namespace {

using testing::ElementsAre;

TEST(I2cCoreModelTest, CommandsTheBusLayerDoesNotSendAreDecodedToo)
{
    sim::I2cCoreModel core;
    auto chip = std::make_shared<sim::I2cRegisterChip>();
    chip->Set(7, 0x77);
    core.Attach(0, 0x20, chip);
    const auto command = [&](uint32_t word, uint32_t data = 0) {
        core.OnWrite32(sim::I2cCoreModel::c_data, data);
        core.OnWrite32(sim::I2cCoreModel::c_control, word);
    };
    command(0x30000000, 0x12);       // a byte with nobody addressed
    command(0x00000000);             // a receive with nobody addressed: the idle bus
    EXPECT_EQ(core.OnRead32(sim::I2cCoreModel::c_data), 0xFFu);
    command(0xB0000000, 0x40);       // START to the chip, writing
    command(0x30000000, 0x07);       // register pointer
    command(0xB0000000, 0x41);       // repeated START, reading, without a STOP
    command(0x40000000);             // receive, unacknowledged, and STOP
    EXPECT_EQ(core.OnRead32(sim::I2cCoreModel::c_data), 0x77u);
    command(0xB0000000, 0x42);       // nobody at 0x21
    EXPECT_EQ(core.OnRead32(sim::I2cCoreModel::c_control) & sim::I2cCoreModel::c_statusAck, 0u);
    EXPECT_THAT(core.GetEventTexts(), ElementsAre("WRITE 0x12 NACK", "READ 0xff NACK", "START 0x40 ACK", "WRITE 0x07 ACK",
                                                  "START 0x41 ACK", "READ 0x77 NACK", "STOP", "START 0x42 NACK"));

    core.SetBusyReads(2);
    command(0x50000000);
    EXPECT_THAT(std::vector<bool>({(core.OnRead32(8) & sim::I2cCoreModel::c_statusBusy) != 0,
                                   (core.OnRead32(8) & sim::I2cCoreModel::c_statusBusy) != 0,
                                   (core.OnRead32(8) & sim::I2cCoreModel::c_statusBusy) != 0}),
                ElementsAre(true, true, false));
    EXPECT_EQ(core.OnRead32(0x24), 0u);
    EXPECT_EQ(core.GetRegisterAccesses().back().ToString(), "R ? 0x00");

    EXPECT_THROW(core.Attach(0, 0x20, chip), std::invalid_argument);
    EXPECT_THROW(core.Attach(0, 0x80, chip), std::invalid_argument);
    EXPECT_THROW(core.Attach(0, 0x21, nullptr), std::invalid_argument);
    core.Attach(1, 0x20, chip); // another bus
}

// Records what it is shifted and answers a fixed word.
class EchoChip : public sim::SpiChipModel {
public:
    explicit EchoChip(uint64_t answer) : m_answer(answer) {}
    void OnSelect() override { log.push_back("select"); }
    uint64_t OnShift(uint64_t mosi, const sim::SpiShiftFormat& format) override
    {
        log.push_back("shift " + std::to_string(format.bits) + " " + std::to_string(mosi) +
                      (format.lsbFirst ? " lsb" : ""));
        return m_answer;
    }
    void OnDeselect() override { log.push_back("deselect"); }
    std::vector<std::string> log;

private:
    uint64_t m_answer;
};

TEST(SpiCoreModelTest, HalvesOfRegistersAndSeveralChipsSelected)
{
    sim::SpiCoreModel core(true);
    auto low = std::make_shared<EchoChip>(0x1234);
    auto high = std::make_shared<EchoChip>(0x5678);
    core.Attach(0, low);
    core.Attach(5, high);
    core.OnWrite32(sim::SpiCoreModel::c_control, 0x80000 | 12 << 8); // 12 bits, LSB first
    core.OnWrite32(sim::SpiCoreModel::c_control + 4, 0xFFFF);        // the upper half does nothing
    EXPECT_EQ(core.GetControl(), 0x80C00u);
    core.OnWrite64(sim::SpiCoreModel::c_chipSelect, 0x21);
    core.OnWrite64(sim::SpiCoreModel::c_data, 0xFFFFF);
    EXPECT_EQ(core.OnRead32(sim::SpiCoreModel::c_data), 0x234u) << "the first selected chip answers, in 12 bits";
    EXPECT_EQ(core.OnRead32(sim::SpiCoreModel::c_data + 4), 0u);
    core.OnWrite64(sim::SpiCoreModel::c_chipSelect, 0);
    EXPECT_THAT(low->log, ElementsAre("select", "shift 12 4095 lsb", "deselect"));
    EXPECT_THAT(high->log, ElementsAre("select", "shift 12 4095 lsb", "deselect"));
    EXPECT_THAT(core.GetEventTexts(), ElementsAre("CONTROL 0x80c00", "SELECT 0", "SELECT 5", "SHIFT 12 0xfff -> 0x234",
                                                  "DESELECT 0", "DESELECT 5"));

    EXPECT_THROW(core.Attach(0, low), std::invalid_argument);
    EXPECT_THROW(core.Attach(32, low), std::invalid_argument);
}

TEST(AmbaConnectionTest, RefusesWhatItCannotServe)
{
    sim::AmbaConnection connection;
    auto core = std::make_shared<sim::I2cCoreModel>();
    connection.Map(0x1000, sim::I2cCoreModel::c_windowSize, core);
    EXPECT_THROW(connection.Map(0x1020, 0x10, core), std::invalid_argument);
    EXPECT_THROW(connection.Map(0xFFFFFFF0, 0x20, core), std::invalid_argument);
    EXPECT_THROW(connection.Map(0x2000, 0, core), std::invalid_argument);

    unsigned int address = 0x1018;
    unsigned int value = 3;
    connection.Execute(bmc::eCmdFpgaAmbaWrite, {istd::AnyReference(address), istd::AnyReference(value)},
                       bmc::Connection::m_noResult);
    EXPECT_EQ(core->GetBus(), 3u);
    chassis_ctl_ambaread_rsp answer{};
    connection.Execute(bmc::eCmdFpgaAmbaRead, {istd::AnyReference(address)}, istd::AnyReference(answer));
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(answer.Value(), 3u);

    address = 0x2000;
    connection.Execute(bmc::eCmdFpgaAmbaRead, {istd::AnyReference(address)}, istd::AnyReference(answer));
    EXPECT_NE(answer.status, 0);
    EXPECT_THROW(connection.Execute(bmc::eCmdFpgaAmbaWrite, {istd::AnyReference(address), istd::AnyReference(value)},
                                    bmc::Connection::m_noResult),
                 istd::Exception);
    EXPECT_THROW(connection.Execute(bmc::eCmdGetTime, {}, bmc::Connection::m_noResult), istd::Exception);
    EXPECT_EQ(connection.GetCommandCount(), 4u);
}

class Chip8 : public bmc::I2cDevice {
public:
    Chip8(bmc::BusController& c, const std::string& name, bmc::BusDeviceId id) : I2cDevice(c, name, id)
    {
        bmc::SetBusParam<bmc::I2cBusParams>(*this, 0x53, 2, 400);
    }
};

class Spi16 : public bmc::SpiDevice {
public:
    Spi16(bmc::BusController& c, const std::string& name, bmc::BusDeviceId id) : SpiDevice(c, name, id)
    {
        bmc::SetBusParam<bmc::SpiBusParams>(*this, false, 16, false, false, false, true, 10000);
    }
};

TEST(BusCoresInAMonitorDeviceTest, TheBusLayerReachesCoresPlacedInTheRegisterWindow)
{
    const std::string path = "/dev/kavrel-buscores-test.monitor";
    sim::MonitorDevice device(path, 0x400000);
    auto i2c = std::make_shared<sim::I2cCoreModel>();
    auto spi = std::make_shared<sim::SpiCoreModel>(false);
    device.AttachModel(0x300000, sim::I2cCoreModel::c_windowSize, i2c);
    device.AttachModel(0x300100, sim::SpiCoreModel::c_windowSize, spi);
    auto eeprom = std::make_shared<sim::I2cRegisterChip>();
    auto registers = std::make_shared<sim::SpiRegisterChip>();
    i2c->Attach(2, 0x53, eeprom);
    spi->Attach(1, registers);

    const int fd = devio::Open(path, O_RDWR | O_DSYNC);
    ASSERT_GE(fd, 0);
    devio::MapInfo info;
    ASSERT_EQ(devio::Ioctl(fd, devio::c_mapInfoRequest, &info), 0);
    void* area = devio::Mmap(nullptr, info.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* base = static_cast<volatile uint8_t*>(area);
    {
        bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
        const bmc::BusControllerPtr i2cBus = bmc::Create<bmc::I2cBusControllerFpgaAmba>(
            "i2c", 4, reinterpret_cast<volatile bmc::tI2cBusController*>(base + 0x300000));
        const bmc::BusControllerPtr spiBus = bmc::Create<bmc::SpiBusControllerFpgaAmba>(
            "spi", 4, false, reinterpret_cast<volatile bmc::tSpiBusController*>(base + 0x300100));
        const auto chip = std::static_pointer_cast<bmc::I2cDevice>(bmc::Create<Chip8>(i2cBus, "eeprom", 0));
        chip->Set(0x10, 0xC3);
        EXPECT_EQ(chip->Get(0x10), 0xC3);
        EXPECT_EQ(eeprom->Get(0x10), 0xC3);
        EXPECT_EQ(i2c->GetPrescaler(), 155u);

        const bmc::BusDevicePtr dac = bmc::Create<Spi16>(spiBus, "dac", 1);
        const uint64_t words[] = {0x0003, 0xBEEF};
        dac->Write(0, words, 2);
        EXPECT_EQ(registers->Get(3), 0xBEEFu);
        EXPECT_EQ(spi->GetControl(), 0x1005u);
    }
    EXPECT_EQ(devio::Munmap(area, info.size), 0);
    EXPECT_EQ(devio::Close(fd), 0);
}

} // namespace
