// The SPI chip wrappers on a simulated board, through the FPGA SPI core model in its memory, down
// to the chip models: what each node write puts on the wire and into the chip, what each read
// asks the chip, the refusals that send nothing, and the public setters before and after the
// registry is defined.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/bus_fixture.h"
#include "iapp/devices/spi_CDCE72010.h"
#include "iapp/devices/spi_serial_flash.h"
#include "iapp/kavrel_spi_bus_device_AD9510.h"
#include "iapp/kavrel_spi_bus_device_DAC8552.h"
#include "iapp/kavrel_spi_bus_device_DAC8581.h"
#include "sim/chips/ad9510.h"
#include "sim/chips/cdce72010.h"
#include "sim/chips/dac8552.h"
#include "sim/chips/dac8581.h"
#include "sim/chips/spi_flash.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

// One chip model on chip select 0 of the SPI controller component "spi", its wrapper "chip" made
// on it, and the wrapper's nodes in the registry.
template <class Model>
class SpiChipTest : public iapptest::BusBoard {
protected:
    template <class Wrapper, class... A>
    Wrapper* Make(std::shared_ptr<Model> chip, A&&... args)
    {
        spi = MakeSpi(4);
        model = std::move(chip);
        spiCore->Attach(0, model);
        auto* wrapper = iapp::Create<Wrapper>(*spi, "chip", bmc::BusDeviceId{0}, std::forward<A>(args)...);
        return wrapper;
    }
    void AddNodes() { node = AddRegistry(*spi)->GetNode("chip"); }

    std::shared_ptr<ireg::RegNode> Node(const std::string& path) const
    {
        return TimingBlocks::Node<ireg::RegNode>(node, path);
    }
    template <class T>
    T Get(const std::string& path) const
    {
        T value{};
        Node(path)->Get(value, 0, mci::c_noRelPath);
        return value;
    }
    template <class T>
    std::string Set(const std::string& path, const T& value)
    {
        return ErrorOf([&] { Node(path)->Set(value, 0, mci::c_noRelPath); });
    }

    iapp::KavrelSpiBusController* spi = nullptr;
    std::shared_ptr<Model> model;
    mci::TreeNodePtr node;
};

// ------------------------------------------------------------------------------------ CDCE72010

using Cdce72010Test = SpiChipTest<sim::Cdce72010Model>;

TEST_F(Cdce72010Test, EachRegisterNodeWritesAndReadsItsRegisterInTheChipsWordLayout)
{
    Make<iapp::CDCE72010>(std::make_shared<sim::Cdce72010Model>());
    AddNodes();
    std::vector<std::string> names;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"reg_0", "reg_1", "reg_2", "reg_3", "reg_4", "reg_5", "reg_6", "reg_7",
                                               "reg_8", "reg_9", "reg_10", "reg_11"}));
    EXPECT_EQ(Node("reg_0")->GetFlags(), 6u);

    struct Case {
        unsigned number;
        uint32_t value;
    };
    const Case cases[] = {{0, 0}, {5, 0x0FFFFFFF}, {7, 0x1234567}, {11, 0x0ABCDEF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        model->ClearWords();
        const std::string name = "reg_" + std::to_string(c.number);
        EXPECT_EQ(Set(name, c.value), "no error");
        EXPECT_EQ(model->GetRegister(c.number), c.value);
        EXPECT_EQ(model->GetWords(), (std::vector<uint64_t>{uint64_t{c.value} << 4 | c.number}));

        // Every read asks the chip, which answers with its word: the value above the number.
        const size_t reads = model->GetReadCount();
        EXPECT_EQ(Get<uint32_t>(name), c.value << 4 | c.number);
        EXPECT_EQ(Get<uint32_t>(name), c.value << 4 | c.number);
        EXPECT_EQ(model->GetReadCount(), reads + 2);
    }

    model->ClearWords();
    EXPECT_EQ(Set("reg_5", uint32_t{0x10000000}), "ireg: reg_5: Invalid register value");
    EXPECT_EQ(Set("reg_5", uint32_t{0xFFFFFFFF}), "ireg: reg_5: Invalid register value");
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(model->GetRegister(5), 0x0FFFFFFFu);
}

// --------------------------------------------------------------------------------- Serial flash

using SerialFlashTest = SpiChipTest<sim::SpiFlashModel>;

TEST_F(SerialFlashTest, TheIdentificationIsReadAfreshForEachNode)
{
    Make<iapp::SerialFlash>(sim::SpiFlashModel::Make(sim::SpiFlashModel::c_layoutB), false);
    AddNodes();
    const auto idReads = [&] {
        size_t n = 0;
        for (uint8_t opcode : model->GetOpcodes()) {
            n += opcode == 0x9F;
        }
        return n;
    };
    const size_t before = idReads();
    EXPECT_EQ(Get<uint32_t>("id"), 0x20u);
    EXPECT_EQ(Get<uint32_t>("mem_type"), 0x20u);
    EXPECT_EQ(Get<uint32_t>("capacity"), 0x18u);
    EXPECT_EQ(Get<uint32_t>("capacity"), 0x18u);
    EXPECT_EQ(idReads(), before + 4);
    for (const char* name : {"id", "mem_type", "capacity"}) {
        EXPECT_EQ(Node(name)->GetFlags(), 2u);
        EXPECT_EQ(Set(name, uint32_t{1}), "Node is not writable.");
    }

    // A flash that stops answering fails the read; nothing was kept, so the next read asks again.
    model->SetAnswering(false);
    EXPECT_EQ(ErrorOf([&] { Get<uint32_t>("capacity"); }), "ireg node capacity: Unable to get value.");
    model->SetAnswering(true);
    EXPECT_EQ(Get<uint32_t>("capacity"), 0x18u);
}

TEST_F(SerialFlashTest, AFlashTheDriverDoesNotKnowGetsNoWrapper)
{
    // Manufacturer 0x20, memory type 0xBA, capacity 0x18: the driver knows flashes whose
    // manufacturer and memory type bytes are equal only.
    EXPECT_EQ(ErrorOf([&] { Make<iapp::SerialFlash>(std::make_shared<sim::SpiFlashModel>(0x20, 0xBA, 0x18, 1 << 24, 1 << 18), false); }),
              "Serial flash not supported or inaccessible.");
    EXPECT_TRUE(spi->GetChildren().empty());
    EXPECT_EQ(spi->GetController()->GetDeviceCount(), 0u);
}

// ------------------------------------------------------------------------------------- DAC8552

using Dac8552Test = SpiChipTest<sim::Dac8552Model>;

TEST_F(Dac8552Test, WritesLoadTheirOwnOutputAndAModeTravelsWithTheNextWrite)
{
    Make<iapp::DAC8552>(std::make_shared<sim::Dac8552Model>());
    AddNodes();
    EXPECT_EQ(Node("mode")->GetFlags(), 6u);
    EXPECT_EQ(Node("output")->GetFlags(), 0u);
    std::string validator;
    Node("output/A")->GetValidatorExpression(validator);
    EXPECT_EQ(validator, "[0, 65535]");

    struct Step {
        const char* path;
        std::string value; // by text: the enumeration's names, or a number
        uint64_t word;     // the 24-bit word the chip receives; 0: none
        uint16_t a, b;     // the chip's outputs after the step
        const char* mode;  // "mode" after the step
    };
    const Step steps[] = {
        {"output/A", "65535", 0x10FFFF, 65535, 0, "normal"},
        {"output/B", "1", 0x240001, 65535, 1, "normal"},
        {"mode", "power_down_100K", 0, 65535, 1, "normal"}, // stored only
        {"output/A", "0", 0x120000, 0, 1, "power_down_100K"},
        {"mode", "normal", 0, 0, 1, "power_down_100K"},
        {"output/B", "40000", 0x249C40, 0, 40000, "normal"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.path) + " " + s.value);
        model->ClearWords();
        if (std::string(s.path) == "mode") {
            EXPECT_EQ(Set(s.path, s.value), "no error");
        } else {
            EXPECT_EQ(Set(s.path, static_cast<uint32_t>(std::stoul(s.value))), "no error");
        }
        EXPECT_EQ(model->GetWords(), s.word ? std::vector<uint64_t>{s.word} : std::vector<uint64_t>{});
        EXPECT_EQ(model->GetOutput(0), s.a);
        EXPECT_EQ(model->GetOutput(1), s.b);
        EXPECT_EQ(Get<uint32_t>("output/A"), s.a);
        EXPECT_EQ(Get<uint32_t>("output/B"), s.b);
        EXPECT_EQ(Get<std::string>("mode"), s.mode);
    }

    model->ClearWords();
    EXPECT_EQ(Set("output/B", uint32_t{65536}), "ireg: B: Validation failed: [0, 65535] for 65536");
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(Get<uint32_t>("output/B"), 40000u);
}

TEST_F(Dac8552Test, ModesRoundTripByNameAndByNumber)
{
    Make<iapp::DAC8552>(std::make_shared<sim::Dac8552Model>());
    AddNodes();
    const char* names[] = {"normal", "power_down_1K", "power_down_100K", "power_down"};
    for (int32_t code = 0; code < 4; ++code) {
        SCOPED_TRACE(names[code]);
        EXPECT_EQ(Set("mode", std::string(names[code])), "no error");
        EXPECT_EQ(Set("output/A", uint32_t(code)), "no error");
        EXPECT_EQ(Get<std::string>("mode"), names[code]);
        EXPECT_EQ(Get<int32_t>("mode"), code);
        EXPECT_EQ(model->GetPowerDown(0), unsigned(code));

        EXPECT_EQ(Set("mode", int32_t{3 - code}), "no error");
        EXPECT_EQ(Set("output/B", uint32_t(code)), "no error");
        EXPECT_EQ(Get<std::string>("mode"), names[3 - code]);
    }
    std::vector<std::string> domain;
    Node("mode")->GetDomainValues(domain);
    EXPECT_EQ(domain, (std::vector<std::string>{"normal", "power_down_1K", "power_down_100K", "power_down"}));
}

TEST_F(Dac8552Test, TheSettersCheckThroughTheNodesOnceTheRegistryIsDefined)
{
    auto* dac = Make<iapp::DAC8552>(std::make_shared<sim::Dac8552Model>());
    // Before: straight to the driver, the low 16 bits of any value.
    EXPECT_TRUE(dac->SetMode(iapp::eDac8552PowerDown1K));
    EXPECT_TRUE(dac->SetValueA(70000));
    EXPECT_EQ(model->GetOutput(0), 70000 - 65536);
    EXPECT_EQ(model->GetPowerDown(0), 1u);

    AddNodes();
    model->ClearWords();
    EXPECT_FALSE(dac->SetValueB(70000));
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_TRUE(dac->SetMode(iapp::eDac8552Normal));
    EXPECT_TRUE(dac->SetValueB(65535));
    EXPECT_EQ(model->GetWords(), (std::vector<uint64_t>{0x24FFFF}));
    EXPECT_EQ(Get<std::string>("mode"), "normal");
}

// -------------------------------------------------------------------------------------- AD9510

using Ad9510Test = SpiChipTest<sim::Ad9510Model>;
using Writes = std::vector<std::pair<uint8_t, uint8_t>>;

const bmc::AD9510::ConfigurationItem c_table[] = {{0x45, 0x00}, {0x3C, 0x08}, {0, 0}};

TEST_F(Ad9510Test, InitWritesTheTableInOrderThenUpdates)
{
    Make<iapp::AD9510>(std::make_shared<sim::Ad9510Model>(), c_table);
    // The driver loads the table when it is made.
    EXPECT_EQ(model->GetWrites(), (Writes{{0x45, 0x00}, {0x3C, 0x08}, {0x5A, 0x01}}));
    AddNodes();
    model->ClearWrites();
    model->SetRegister(0x3C, 0x0B);
    EXPECT_EQ(Set("init", std::string("Execute")), "no error");
    EXPECT_EQ(model->GetWrites(), (Writes{{0x45, 0x00}, {0x3C, 0x08}, {0x5A, 0x01}}));
    EXPECT_EQ(model->GetActive(0x3C), 0x08);
    EXPECT_EQ(Node("init")->GetFlags(), 0x84u);
    EXPECT_EQ(Node("register")->GetFlags(), 0u);
}

TEST_F(Ad9510Test, NodeWritesReachTheirRegisters)
{
    Make<iapp::AD9510>(std::make_shared<sim::Ad9510Model>(), nullptr);
    AddNodes();
    model->SetRegister(0x0A, 0x4E); // PLL running (2), other bits set
    model->ClearWrites();

    struct Step {
        const char* path;
        uint32_t value; // bool nodes: 0 or 1
        Writes writes;
    };
    const Step steps[] = {
        {"enable", 0, {{0x0A, 0x4D}, {0x5A, 1}}},
        {"enable", 1, {{0x0A, 0x4E}, {0x5A, 1}}},
        {"divA", 63, {{0x04, 0x3F}, {0x5A, 1}}},
        {"divB", 0x1234, {{0x05, 0x12}, {0x06, 0x34}, {0x5A, 1}}},
        {"divB", 8191, {{0x05, 0x1F}, {0x06, 0xFF}, {0x5A, 1}}},
        {"divR", 0x3FFF, {{0x0B, 0x3F}, {0x0C, 0xFF}, {0x5A, 1}}},
        {"register/addr", 0x0A, {}},
        {"register/value", 0x4F, {{0x0A, 0x4F}}}, // effective only after "flush"
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.path) + " " + std::to_string(s.value));
        model->ClearWrites();
        if (std::string(s.path) == "enable") {
            EXPECT_EQ(Set(s.path, s.value != 0), "no error");
            EXPECT_EQ(Get<bool>(s.path), s.value != 0);
        } else {
            EXPECT_EQ(Set(s.path, s.value), "no error");
            EXPECT_EQ(Get<uint32_t>(s.path), s.value);
        }
        EXPECT_EQ(model->GetWrites(), s.writes);
    }
    EXPECT_EQ(model->GetActive(0x0A), 0x4E);
    EXPECT_EQ(Set("register/flush", std::string("Execute")), "no error");
    EXPECT_EQ(model->GetActive(0x0A), 0x4F);
    // The power-down field 3 stops the PLL as 1 does.
    EXPECT_FALSE(Get<bool>("enable"));

    // "addr" 0x0A reads the PLL register with its power-down bits.
    model->SetRegister(0x0A, 0x4C);
    EXPECT_EQ(Get<uint32_t>("register/value"), 0x4Cu);
    EXPECT_TRUE(Get<bool>("enable"));
}

TEST_F(Ad9510Test, ValuesTheFieldsCannotHoldAreRefusedBeforeAnyTransfer)
{
    Make<iapp::AD9510>(std::make_shared<sim::Ad9510Model>(), nullptr);
    AddNodes();
    model->ClearWords();
    const std::pair<const char*, std::pair<uint32_t, const char*>> cases[] = {
        {"divA", {64, "ireg: divA: Validation failed: [0, 63] for 64"}},
        {"divB", {8192, "ireg: divB: Validation failed: [0, 8191] for 8192"}},
        {"divR", {16384, "ireg: divR: Validation failed: [0, 16383] for 16384"}},
        {"register/addr", {91, "ireg: addr: Validation failed: [0, 90] for 91"}},
        {"register/addr", {0x100, "ireg: addr: Validation failed: [0, 90] for 256"}},
        {"register/value", {256, "ireg: value: Validation failed: [0, 255] for 256"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Set(c.first, c.second.first), c.second.second);
    }
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(Get<uint32_t>("register/addr"), 0u);
}

TEST_F(Ad9510Test, TheSettersCheckThroughTheNodesOnceTheRegistryIsDefined)
{
    auto* pll = Make<iapp::AD9510>(std::make_shared<sim::Ad9510Model>(), nullptr);
    EXPECT_TRUE(pll->SetDividerA(65)); // before: the driver keeps the field's 6 bits
    EXPECT_EQ(model->GetActive(0x04), 1);
    AddNodes();
    EXPECT_FALSE(pll->SetDividerA(65));
    EXPECT_TRUE(pll->SetDividerR(300));
    EXPECT_TRUE(pll->SetPllEnabled(false));
    EXPECT_EQ(model->GetActive(0x0C), 300 - 256);
    EXPECT_EQ(model->GetActive(0x0B), 1);
    EXPECT_EQ(model->GetActive(0x0A) & 3, 1);
}

// ------------------------------------------------------------------------------------- DAC8581

using Dac8581Test = SpiChipTest<sim::Dac8581Model>;

TEST_F(Dac8581Test, ValueCoversTheSignedCodesAndRefusesTheRest)
{
    auto* dac = Make<iapp::DAC8581>(std::make_shared<sim::Dac8581Model>());
    // Before the registry: the low 16 bits of anything.
    EXPECT_TRUE(dac->Set(70000));
    EXPECT_EQ(model->GetOutput(), 4464);
    AddNodes();
    EXPECT_EQ(Get<int32_t>("value"), 4464);
    EXPECT_EQ(Node("value")->GetFlags(), 6u);

    struct Case {
        int32_t value;
        const char* error;
        uint64_t word; // on the wire when accepted
    };
    const Case cases[] = {
        {-32768, "no error", 0x8000},
        {32767, "no error", 0x7FFF},
        {-1, "no error", 0xFFFF},
        {32768, "ireg: value: Validation failed: [-32768, 32767] for 32768", 0},
        {-32769, "ireg: value: Validation failed: [-32768, 32767] for -32769", 0},
    };
    int32_t last = 4464;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        model->ClearWords();
        EXPECT_EQ(Set("value", c.value), c.error);
        if (c.word != 0) {
            last = c.value;
        }
        EXPECT_EQ(model->GetWords(), c.word ? std::vector<uint64_t>{c.word} : std::vector<uint64_t>{});
        EXPECT_EQ(model->GetOutput(), last);
        EXPECT_EQ(Get<int32_t>("value"), last);
    }

    model->ClearWords();
    EXPECT_FALSE(dac->Set(70000));
    EXPECT_TRUE(dac->Set(-1));
    EXPECT_EQ(model->GetWords(), (std::vector<uint64_t>{0xFFFF}));
    EXPECT_EQ(Get<int32_t>("value"), -1);
}

TEST_F(Dac8581Test, ACoreThatStaysBusyFailsTheSetWithTheControllersText)
{
    Make<iapp::DAC8581>(std::make_shared<sim::Dac8581Model>());
    AddNodes();
    EXPECT_EQ(Set("value", int32_t{100}), "no error");
    spi->GetController()->SetIdleTimeout(5);
    spiCore->SetBusyStuck(true);
    model->ClearWords();
    EXPECT_EQ(Set("value", int32_t{200}), "ireg: value: Timeout 5 ms expired");
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(model->GetOutput(), 100);
    EXPECT_EQ(Get<int32_t>("value"), 100);
    spiCore->SetBusyStuck(false);
    EXPECT_EQ(Set("value", int32_t{200}), "no error");
    EXPECT_EQ(model->GetOutput(), 200);
}

} // namespace
