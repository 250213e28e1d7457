// Bus-controller components on a simulated board: "devices" as the controller's device list
// (sorted by id, windows of it, growing after the registry was built), the controller's refusals,
// children of the wrong bus kind, chip-select polarity on the wire, and a component destroyed
// while its controller lives on.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bmc/bus_controller.h"
#include "bmc/spi_device_DAC8581.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "iapp/kavrel_spi_bus_device_DAC8581.h"
#include "common/bus_fixture.h"
#include "sim/chips/dac8581.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

class BusControllerTest : public iapptest::BusBoard {
protected:
    iapp::DAC8581* Dac(iapp::KavrelSpiBusController& spi, const std::string& name, bmc::BusDeviceId id)
    {
        return iapp::Create<iapp::DAC8581>(spi, name, id);
    }

    // The names "devices" gives from pos (count 0: all from there).
    static std::vector<std::string> Devices(const mci::TreeNodePtr& controller, size_t pos = 0, size_t count = 0)
    {
        std::vector<std::string> names;
        controller->GetNode("devices")->Get(names, pos, count, mci::c_noRelPath);
        return names;
    }
};

TEST_F(BusControllerTest, DevicesListsTheChipsByIdWhateverTheOrderTheyCameIn)
{
    auto* spi = MakeSpi(4);
    mci::TreeNodePtr node = AddRegistry(*spi);
    const mci::TreeNodePtr devices = node->GetNode("devices");
    ASSERT_TRUE(devices);
    EXPECT_EQ(devices->GetFlags(), 0x202u);
    EXPECT_EQ(devices->GetSize(), 0u);
    EXPECT_TRUE(Devices(node).empty());

    // Made after the registry: each grows the array.
    Dac(*spi, "third", 3);
    EXPECT_EQ(devices->GetSize(), 1u);
    Dac(*spi, "first", 0);
    Dac(*spi, "second", 1);
    EXPECT_EQ(devices->GetSize(), 3u);
    EXPECT_EQ(Devices(node), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(Devices(node, 1, 1), (std::vector<std::string>{"second"}));
    EXPECT_EQ(Devices(node, 2, 5), (std::vector<std::string>{"third"}));
    EXPECT_EQ(ErrorOf([&] { Devices(node, 3, 1); }), "ireg node devices: Position out of range");
    EXPECT_EQ(ErrorOf([&] { devices->Set(std::vector<std::string>{"x"}, 0, mci::c_noRelPath); }),
              "Node is not writable.");
}

TEST_F(BusControllerTest, DevicesMadeBeforeTheRegistryAreCounted)
{
    auto* spi = MakeSpi(4);
    Dac(*spi, "b", 2);
    Dac(*spi, "a", 1);
    mci::TreeNodePtr node = AddRegistry(*spi);
    EXPECT_EQ(Devices(node), (std::vector<std::string>{"a", "b"}));
    // The wrappers' own nodes sit beside "devices".
    EXPECT_TRUE(node->GetNode("a") && node->GetNode("a")->GetNode("value"));
}

TEST_F(BusControllerTest, TheControllerRefusesAThirdChipAndATakenId)
{
    auto* spi = MakeSpi(2);
    mci::TreeNodePtr node = AddRegistry(*spi);
    Dac(*spi, "one", 0);
    EXPECT_EQ(ErrorOf([&] { Dac(*spi, "again", 0); }),
              "bus controller 'spi' already controls device 'one' with the same id as specified 'again' device.");
    Dac(*spi, "two", 1);
    EXPECT_EQ(ErrorOf([&] { Dac(*spi, "three", 2); }), "bus controller 'spi' supports only 2 device(s) on the same bus.");

    EXPECT_EQ(spi->GetChildren().size(), 2u);
    EXPECT_EQ(Devices(node), (std::vector<std::string>{"one", "two"}));
}

TEST_F(BusControllerTest, EachControllerTakesWrappersOfItsOwnBusOnly)
{
    auto* spi = MakeSpi(4);
    auto* i2c = MakeI2c(4);
    const auto offer = [](iapp::KavrelObject& parent, iapp::KavrelObject* child) {
        return ErrorOf([&] { parent.QueryChild(child); });
    };
    // Drivers that touch no bus when they are made: only the components' bus kinds differ.
    auto* spiOnI2c = new iapp::KavrelSpiBusDevice(*i2c, bmc::Create<bmc::DAC8581>(i2c->GetController(), "dac", 0));
    EXPECT_EQ(offer(*i2c, spiOnI2c), "dac can not be instantiated as child of i2c");
    auto* i2cOnSpi = new iapp::KavrelI2cBusDevice(*spi, bmc::Create<bmc::DAC8581>(spi->GetController(), "chip", 0));
    EXPECT_EQ(offer(*spi, i2cOnSpi), "chip can not be instantiated as child of spi");
    auto* onBoard = new iapp::KavrelSpiBusDevice(*board, bmc::Create<bmc::DAC8581>(spi->GetController(), "loose", 1));
    EXPECT_EQ(offer(*board, onBoard), "loose can not be instantiated as child of pax3");
    EXPECT_TRUE(i2c->GetChildren().empty());
    EXPECT_TRUE(spi->GetChildren().empty());

    auto* accepted = new iapp::KavrelSpiBusDevice(*spi, bmc::Create<bmc::DAC8581>(spi->GetController(), "ok", 2));
    EXPECT_EQ(offer(*spi, accepted), "no error");
    EXPECT_EQ(spi->GetChildren().size(), 1u);
    // A bus-device component takes no children, not even another chip.
    auto* nested = new iapp::KavrelSpiBusDevice(*accepted, bmc::Create<bmc::DAC8581>(spi->GetController(), "in", 3));
    EXPECT_EQ(offer(*accepted, nested), "in can not be instantiated as child of ok");
}

TEST_F(BusControllerTest, ChipSelectPolarityReachesTheChipOnlyWhenItMatchesTheWiring)
{
    struct Case {
        bool csPolarity;
        bool wiredActiveHigh;
        bool reached;
    };
    const Case cases[] = {{false, false, true}, {true, true, true}, {false, true, false}, {true, false, false}};
    size_t offset = c_spiCore;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "polarity " << c.csPolarity << ", wiring " << c.wiredActiveHigh);
        offset += 0x100;
        auto* spi = MakeSpiWired(4, c.csPolarity, c.wiredActiveHigh, offset, "spi" + std::to_string(offset));
        auto chip = std::make_shared<sim::Dac8581Model>();
        spiCore->Attach(2, chip);
        iapp::DAC8581* dac = Dac(*spi, "dac", 2);
        ASSERT_TRUE(dac->SetValue(0x1234));
        EXPECT_EQ(chip->GetWords(), c.reached ? std::vector<uint64_t>{0x1234} : std::vector<uint64_t>{});
    }
}

TEST_F(BusControllerTest, ADestroyedComponentLeavesNoCallbackOnTheController)
{
    auto* spi = MakeSpi(4);
    AddRegistry(*spi);
    const bmc::BusControllerPtr controller = spi->GetController();
    board->RemoveChild(spi);
    // The controller lives on; adding a device must not call into the freed component.
    bmc::Create<bmc::DAC8581>(controller, "late", 0);
    EXPECT_EQ(controller->GetDeviceCount(), 1u);
}

} // namespace
