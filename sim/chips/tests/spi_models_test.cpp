// The SPI chip models on their own, driven word by word through the core model's registers: how
// a chip reads the wire, and the chip behaviour the drivers' tests rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/buscores/spi_core.h"
#include "sim/chips/ad7787.h"
#include "sim/chips/ad9510.h"
#include "sim/chips/cdce72010.h"
#include "sim/chips/dac8581.h"
#include "sim/chips/lmh6518.h"
#include "sim/chips/spi_flash.h"

namespace {

using Words = std::vector<uint64_t>;
using Bytes = std::vector<uint8_t>;

// One chip on line 0 of a core with active-high chip selects, driven through the core's registers.
struct Bus {
    explicit Bus(std::shared_ptr<sim::SpiChipModel> chip)
    {
        core->Attach(0, std::move(chip));
        Format(8);
    }
    void Format(unsigned bits, bool lsbFirst = false)
    {
        core->OnWrite64(sim::SpiCoreModel::c_control, uint64_t{bits} << 8 | (lsbFirst ? uint64_t{1} << 19 : 0));
    }
    // One selection: the words shifted out, and the answers.
    Words Command(const Words& words)
    {
        core->OnWrite64(sim::SpiCoreModel::c_chipSelect, 1);
        Words answers;
        for (uint64_t word : words) {
            core->OnWrite64(sim::SpiCoreModel::c_data, word);
            answers.push_back(core->OnRead64(sim::SpiCoreModel::c_data));
        }
        core->OnWrite64(sim::SpiCoreModel::c_chipSelect, 0);
        return answers;
    }

    std::shared_ptr<sim::SpiCoreModel> core = std::make_shared<sim::SpiCoreModel>(true);
};

TEST(SpiChipModels, AChipReadsBitsInItsOwnOrderAndIgnoresFramesOfAnotherLength)
{
    auto cdce = std::make_shared<sim::Cdce72010Model>(); // LSB first, 32 bits
    Bus bus(cdce);
    bus.Format(32, true);
    bus.Command({0x12345671});
    EXPECT_EQ(cdce->GetRegister(1), 0x1234567u);
    // Shifted most significant bit first, the chip sees the word reversed: 0x8E6A2C48 names
    // register 8.
    bus.Format(32, false);
    bus.Command({0x12345671});
    EXPECT_EQ(cdce->GetRegister(8), 0x8E6A2C4u);
    EXPECT_EQ(cdce->GetWords(), (Words{0x12345671, 0x8E6A2C48}));

    auto dac = std::make_shared<sim::Dac8581Model>(); // 16 bits
    Bus dacBus(dac);
    dacBus.Format(24);
    EXPECT_EQ(dacBus.Command({0x1234}), Words{0xFFFFFF});
    EXPECT_EQ(dac->GetProtocolErrors(), 1u);
    EXPECT_EQ(dac->GetOutput(), 0);
    dacBus.Format(16);
    dac->SetAnswering(false);
    EXPECT_EQ(dacBus.Command({0x1234}), Words{0xFFFF});
    EXPECT_EQ(dac->GetOutput(), 0);
    dac->SetAnswering(true);
    dacBus.Command({0x1234});
    EXPECT_EQ(dac->GetOutput(), 0x1234);
}

TEST(SpiChipModels, TheFlashProgramsOnlyWithWriteEnableAndOnlyClearsBits)
{
    auto flash = std::make_shared<sim::SpiFlashModel>(0x20, 0x20, 0x17, 0x20000, 0x10000);
    Bus bus(flash);
    EXPECT_EQ(bus.Command({0x9F, 0, 0, 0, 0}), (Words{0xFF, 0x20, 0x20, 0x17, 0x00}));

    // Without the latch the program does nothing.
    bus.Command({0x02, 0x00, 0x01, 0x00, 0x0F});
    EXPECT_EQ(flash->Read(0x100, 1), Bytes{0xFF});
    bus.Command({0x06});
    EXPECT_EQ(bus.Command({0x05, 0})[1], 0x02);
    // The bytes wrap inside their page; a program only clears bits.
    bus.Command({0x02, 0x00, 0x01, 0xFE, 0x0F, 0xF0, 0x3C});
    EXPECT_EQ(flash->Read(0x1FE, 2), (Bytes{0x0F, 0xF0}));
    EXPECT_EQ(flash->Read(0x100, 1), Bytes{0x3C});
    EXPECT_EQ(bus.Command({0x05, 0})[1], 0x00); // the latch is gone
    bus.Command({0x06});
    bus.Command({0x02, 0x00, 0x01, 0xFE, 0xF0});
    EXPECT_EQ(flash->Read(0x1FE, 1), Bytes{0x00});
    EXPECT_EQ(flash->GetProgramCount(), 2u);

    // 32-bit words carry four bytes each, most significant first; a read wraps at the chip's end.
    bus.Format(32);
    flash->Load(0x1FFFE, {0xAA, 0xBB});
    EXPECT_EQ(bus.Command({0x0301FFFE, 0})[1], 0xAABBFFFFu);

    // Busy after an erase: only status reads are answered; other commands are dropped.
    bus.Format(8);
    flash->SetBusyReads(2);
    bus.Command({0x06});
    bus.Command({0xD8, 0x00, 0x01, 0x23});
    EXPECT_EQ(flash->GetErasedSectors(), std::vector<uint32_t>{0});
    EXPECT_EQ(flash->Read(0x1FE, 1), Bytes{0xFF});
    bus.Command({0x06});
    EXPECT_EQ(bus.Command({0x05, 0, 0}), (Words{0xFF, 0x01, 0x01}));
    EXPECT_EQ(bus.Command({0x05, 0}), (Words{0xFF, 0x00})); // and the write enable was dropped
    flash->SetBusyStuck(true);
    EXPECT_EQ(bus.Command({0x05, 0})[1], 0x01);
    EXPECT_EQ(bus.Command({0x9F, 0})[1], 0xFF);
}

TEST(SpiChipModels, Ad9510RegistersTakeEffectOnUpdateAndSoftResetClearsThem)
{
    auto chip = std::make_shared<sim::Ad9510Model>();
    Bus bus(chip);
    EXPECT_EQ(bus.Command({0x80, 0x00, 0x00})[2], 0x10);
    // Two bytes from address 0x3D down.
    bus.Command({0x20, 0x3D, 0x11, 0x22});
    EXPECT_EQ(chip->GetRegister(0x3D), 0x11);
    EXPECT_EQ(chip->GetRegister(0x3C), 0x22);
    EXPECT_EQ(chip->GetActive(0x3D), 0x00);
    bus.Command({0x00, 0x5A, 0x01});
    EXPECT_EQ(chip->GetActive(0x3D), 0x11);
    EXPECT_EQ(bus.Command({0x80, 0x5A, 0x00})[2], 0x00); // the update clears itself
    bus.Command({0x00, 0x00, 0x30});
    EXPECT_EQ(chip->GetRegister(0x3D), 0x00);
    EXPECT_EQ(chip->GetRegister(0x00), 0x30);
    EXPECT_EQ(chip->GetSoftResetCount(), 1u);
}

TEST(SpiChipModels, Ad7787ConversionsGetReadyAfterTheirStatusReads)
{
    auto adc = std::make_shared<sim::Ad7787Model>(2.5);
    Bus bus(adc);
    adc->SetInputVoltage(0.625);
    adc->SetConversionReads(2);
    EXPECT_EQ(bus.Command({0x08, 0})[1], 0x00);
    EXPECT_EQ(bus.Command({0x38, 0, 0, 0}), (Words{0xFF, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bus.Command({0x08, 0})[1], 0x80);
    EXPECT_EQ(bus.Command({0x08, 0})[1], 0x80);
    EXPECT_EQ(bus.Command({0x08, 0})[1], 0x00);
    // A byte with bit 7 set is not a communications byte.
    EXPECT_EQ(bus.Command({0x90, 0x10, 0x05})[2], 0xFF);
    EXPECT_EQ(adc->GetMode(), 0x05);
    EXPECT_EQ(adc->CodeFor(-1.0), 0u);
    EXPECT_EQ(adc->CodeFor(3.0), 0xFFFFFFu);
}

// Each frame is answered with the register as it stood before it; only a frame with the read bit
// clear and register 0 writes.
TEST(SpiChipModels, Lmh6518WritesOnlyWithTheReadBitClear)
{
    struct Case {
        uint64_t frame;
        uint16_t after;
    };
    const std::vector<Case> cases = {
        {0x800000, 0x04D5}, // read
        {0x80FFFF, 0x04D5}, // read: the data bits do not matter
        {0x000000, 0x0000}, // write of 0
        {0x0004C5, 0x04C5}, // write
        {0x0104C5, 0x04D5}, // another register: not modelled, nothing changes
    };
    for (const Case& c : cases) {
        auto chip = std::make_shared<sim::Lmh6518Model>();
        chip->SetControl(0x04D5);
        Bus bus(chip);
        bus.Format(24);
        EXPECT_EQ(bus.Command({c.frame}), Words{0x04D5}) << std::hex << c.frame;
        EXPECT_EQ(chip->GetControl(), c.after) << std::hex << c.frame;
    }
}

} // namespace
