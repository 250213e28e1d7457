// The SFP module's drivers against the module models at their 7-bit addresses 0x50 and 0x56: the
// vendor text from the identification EEPROM, and the PHY's 16-bit registers written and its
// latched status read twice.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "bmc/i2c_device_SFP_EEPROM.h"
#include "bmc/i2c_device_SFP_PHY.h"
#include "common/bus_rigs.h"
#include "sim/chips/sfp_eeprom.h"
#include "sim/chips/sfp_phy.h"
#include "tests/support/error_of.h"

namespace {

using testing::ElementsAre;
using testsupport::ErrorOf;

class SfpTest : public testing::Test {
protected:
    SfpTest()
        : m_eepromModel(std::make_shared<sim::SfpEepromModel>()), m_phyModel(std::make_shared<sim::SfpPhyModel>())
    {
        m_rig.core->Attach(2, sim::SfpEepromModel::c_address, m_eepromModel);
        m_rig.core->Attach(2, sim::SfpPhyModel::c_address, m_phyModel);
        // The address arguments are not used: module documentation's 8-bit forms are passed here.
        m_eeprom = std::static_pointer_cast<bmc::SfpEeprom>(bmc::Create<bmc::SfpEeprom>(m_rig.bus, "id", 0, 0xA0, 2));
        m_phy = std::static_pointer_cast<bmc::SfpPhy>(bmc::Create<bmc::SfpPhy>(m_rig.bus, "phy", 1, 0xAC, 2));
    }

    std::string Vendor(bool expected)
    {
        std::string vendor = "old";
        EXPECT_EQ(m_eeprom->GetVendor(vendor), expected);
        return vendor;
    }

    bmctest::I2cRig m_rig;
    std::shared_ptr<sim::SfpEepromModel> m_eepromModel;
    std::shared_ptr<sim::SfpPhyModel> m_phyModel;
    std::shared_ptr<bmc::SfpEeprom> m_eeprom;
    std::shared_ptr<bmc::SfpPhy> m_phy;
};

TEST_F(SfpTest, VendorNameAndPartNumberFollowEachOther)
{
    EXPECT_EQ(Vendor(true), "SIMULATED       SFP-SIM-1G      1.0 "); // spaces kept
    EXPECT_EQ(m_rig.core->GetEvents().at(1).ToString(), "START 0xa0 ACK");

    m_eepromModel->SetField(20, 16, "ACME OPTICS LTD.");            // all 16 bytes
    m_eepromModel->SetField(40, 20, "XYZ-1000", '\0');
    EXPECT_EQ(Vendor(true), "ACME OPTICS LTD.XYZ-1000");

    m_eepromModel->SetField(20, 16, std::string("AB\0CD", 5), ' '); // a zero cuts its field only
    m_eepromModel->SetField(40, 20, "PART REV", ' ');
    EXPECT_EQ(Vendor(true), "ABPART REV            ");

    m_eepromModel->SetField(20, 16, std::string("\0NAME", 5), '\0');
    m_eepromModel->SetField(40, 20, "", '\0');
    EXPECT_EQ(Vendor(false), "");
}

TEST_F(SfpTest, AFailureInThePartNumberLeavesTheVendorName)
{
    // Each byte is a read of its own: two STARTs. The 33rd START is the part number's first.
    m_rig.core->SetFault(sim::I2cCoreModel::eFaultAddressNack, 32);
    std::string vendor;
    EXPECT_NE(ErrorOf([&] { m_eeprom->GetVendor(vendor); }), "no error");
    EXPECT_EQ(vendor, "SIMULATED       ");
}

TEST_F(SfpTest, PhyRegistersAreSixteenBitWordsHighByteFirst)
{
    m_phy->IsolateDisable();
    EXPECT_EQ(m_phyModel->GetWord(0), 0x4011);
    EXPECT_THAT(m_rig.core->GetEventTexts(), ElementsAre("STOP", "START 0xac ACK", "WRITE 0x00 ACK", "WRITE 0x40 ACK",
                                                         "WRITE 0x11 ACK", "STOP", "STOP"));
    m_phy->SetSgmii();
    EXPECT_EQ(m_phyModel->GetWord(27), 0x8490);
    EXPECT_EQ(m_phyModel->GetWord(0), 0x4091);
}

TEST_F(SfpTest, StatusIsTheSecondOfTwoReadings)
{
    // The link bit latches low: after the link was down the first reading still shows it down.
    m_phyModel->SetLink(true);
    uint16_t status = 0;
    EXPECT_TRUE(m_phy->GetStatus(status));
    EXPECT_EQ(status, 0x7949 | 0x0004);
    EXPECT_EQ(m_phyModel->GetStatusReads(), 2u);

    // Two readings also when the first already shows the link.
    EXPECT_TRUE(m_phy->GetStatus(status));
    EXPECT_EQ(status, 0x794D);
    EXPECT_EQ(m_phyModel->GetStatusReads(), 4u);

    m_phyModel->SetLink(false);
    EXPECT_TRUE(m_phy->GetStatus(status));
    EXPECT_EQ(status, 0x7949);
}

} // namespace
