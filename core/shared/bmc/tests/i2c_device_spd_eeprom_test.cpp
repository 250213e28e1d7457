// The DDR3 SPD EEPROM driver against the SPD model: the CRC-16, the image read one register at a
// time, and the check over the bytes that bit 7 of byte 0 selects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "istd/trace_capture.h"
#include "bmc/i2c_device_spd_eeprom.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/spd_eeprom.h"

namespace {

using Image = sim::SpdEepromModel::Image;

class SpdEepromTest : public testing::Test {
protected:
    bool ReadInto(const Image& image, bmc::tSpdEepromRegMap& map)
    {
        m_rig.model->SetImage(image);
        return m_rig.driver->SpdEepromReadDdrMemoryMap(map);
    }

    bmctest::I2cChipRig<bmc::SpdEeprom, sim::SpdEepromModel> m_rig;
};

TEST(SpdCrcTest, Crc16)
{
    EXPECT_EQ(bmc::SpdEeprom::Crc16("123456789", 9), 0x31C3);
    EXPECT_EQ(bmc::SpdEeprom::Crc16(nullptr, 0), 0);
    EXPECT_EQ(bmc::SpdEeprom::Crc16(nullptr, -5), 0);
    EXPECT_EQ(bmc::SpdEeprom::Crc16("\x80", 1), sim::SpdEepromModel::Crc16(reinterpret_cast<const uint8_t*>("\x80"), 1));
}

TEST_F(SpdEepromTest, TheImageIsReadWholeOneRegisterAtATime)
{
    const Image image = sim::SpdEepromModel::Ddr3Image(true);
    const size_t messages = m_rig.model->GetMessageCount();
    bmc::tSpdEepromRegMap map{};
    EXPECT_TRUE(m_rig.driver->SpdEepromIsPresent());
    EXPECT_TRUE(ReadInto(image, map));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), map.bytes));
    EXPECT_EQ(m_rig.model->GetMessageCount() - messages, 2u * 256); // register byte, then the read
}

TEST_F(SpdEepromTest, TheCheckCoversTheBytesByte0Names)
{
    struct Case {
        const char* what;
        bool over117;
        size_t byte;  // changed after sealing (256: none)
        bool accepted;
    };
    const Case cases[] = {
        {"sealed over 0-116", true, 256, true},
        {"sealed over 0-125", false, 256, true},
        {"byte 120 outside 0-116", true, 120, true},
        {"byte 125 outside 0-116", true, 125, true},
        {"byte 120 inside 0-125", false, 120, false},
        {"byte 10", true, 10, false},
        {"byte 0's other bits", true, 0, false},
        {"CRC high byte", true, 127, false},
        {"CRC low byte", false, 126, false},
        {"byte 200 beyond both", false, 200, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image image = sim::SpdEepromModel::Ddr3Image(c.over117);
        if (c.byte < 256) {
            image[c.byte] ^= 0x01;
        }
        istd::TraceCapture capture(istd::eTraceError);
        bmc::tSpdEepromRegMap map{};
        EXPECT_EQ(ReadInto(image, map), c.accepted);
        EXPECT_EQ(capture.Contains("SpdEeprom not present"), !c.accepted);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), map.bytes)); // kept as read either way
    }
}

TEST_F(SpdEepromTest, AnAllZeroImagePasses)
{
    // Kept as the layout has it: coverage 126 bytes, CRC 0, bytes 126 and 127 zero.
    bmc::tSpdEepromRegMap map{};
    EXPECT_TRUE(ReadInto(Image{}, map));
}

TEST_F(SpdEepromTest, SingleRegisters)
{
    m_rig.driver->SpdEepromWrite(0xF0, 0x5A);
    EXPECT_EQ(m_rig.model->Get(0xF0), 0x5A);
    EXPECT_EQ(m_rig.driver->SpdEepromRead(0xF0), 0x5A);
}

} // namespace
