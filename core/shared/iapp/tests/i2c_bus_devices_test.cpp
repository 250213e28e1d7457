// The I2C chip wrappers on a simulated board, through the FPGA I2C core model in its memory, down
// to the oscillator and clock-generator models: "frequency" and "apply" reprogramming the
// oscillator (and failing where the chip does not answer or the bus fails), the clock
// generator's nodes against its registers, their validators refusing before any transfer, the
// configuration load that is the way clients' settings reach it, and its start at PostConfig.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/bus_fixture.h"
#include "iapp/devices/i2c_SI5338.h"
#include "iapp/kavrel_i2c_bus_device_SI57x.h"
#include "icfg/attribute.h"
#include "icfg/element.h"
#include "istd/trace_capture.h"
#include "sim/chips/si5338.h"
#include "sim/chips/si57x.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

class I2cChipTest : public iapptest::BusBoard {
protected:
    std::shared_ptr<ireg::RegNode> Node(const std::string& path) const
    {
        return TimingBlocks::Node<ireg::RegNode>(node, path);
    }
    template <class T>
    T Get(const std::string& path, size_t pos = 0) const
    {
        T value{};
        Node(path)->Get(value, pos, mci::c_noRelPath);
        return value;
    }
    std::vector<uint32_t> GetAll(const std::string& path) const
    {
        std::vector<uint32_t> values;
        Node(path)->Get(values, 0, 0, mci::c_noRelPath);
        return values;
    }
    std::string Execute(const std::string& path)
    {
        return ErrorOf([&] { Node(path)->Set(std::string("Execute"), 0, mci::c_noRelPath); });
    }
    size_t BusSteps() const { return i2cCore->GetEvents().size(); }

    mci::TreeNodePtr node;
};

// ---------------------------------------------------------------------------------------- Si57x

class Si57xWrapperTest : public I2cChipTest {
protected:
    static constexpr uint8_t c_bus = 2;

    void SetUp() override
    {
        I2cChipTest::SetUp();
        auto* i2c = MakeI2c(2);
        model = std::make_shared<sim::Si57xModel>();
        i2cCore->Attach(c_bus, sim::Si57xModel::c_address, model);
        iapp::Create<iapp::SI57x>(*i2c, "SI57xSFP", bmc::BusDeviceId{0}, uint8_t{0x55}, c_bus);
        node = AddRegistry(*i2c)->GetNode("SI57xSFP");
    }

    std::shared_ptr<sim::Si57xModel> model;
};

TEST_F(Si57xWrapperTest, FrequencyIsStoredAloneAndApplyProgramsTheChipForIt)
{
    EXPECT_EQ(Node("frequency")->GetFlags(), 6u);
    EXPECT_EQ(Node("apply")->GetFlags(), 0xC4u);
    const size_t steps = BusSteps();
    EXPECT_EQ(ErrorOf([&] { Node("frequency")->Set(uint32_t{125000000}, 0, mci::c_noRelPath); }), "no error");
    EXPECT_EQ(Get<uint32_t>("frequency"), 125000000u);
    EXPECT_EQ(BusSteps(), steps);
    EXPECT_EQ(model->GetApplies(), 0u);

    // The dividers the driver's search picks (the HS_DIV nearest the factory's 5).
    struct Case {
        uint32_t freq;
        unsigned hsDiv;
        unsigned n1;
    };
    const Case cases[] = {{125000000, 5, 8}, {10000000, 5, 98}, {156250000, 4, 8}, {700000000, 4, 2}};
    size_t applies = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq);
        Node("frequency")->Set(c.freq, 0, mci::c_noRelPath);
        EXPECT_EQ(Execute("apply"), "no error");
        EXPECT_EQ(model->GetApplies(), ++applies);
        EXPECT_EQ(model->GetOutput().HsDiv(), c.hsDiv);
        EXPECT_EQ(model->GetOutput().N1(), c.n1);
        EXPECT_NEAR(model->GetOutputFrequency() / c.freq, 1.0, 1e-9);
        EXPECT_EQ(model->GetUnfrozenWrites(), 0u);
    }
    // Applying again programs the chip again, from its factory set.
    EXPECT_EQ(Execute("apply"), "no error");
    EXPECT_EQ(model->GetApplies(), applies + 1);
    EXPECT_EQ(model->GetRecalls(), applies + 1);
}

TEST_F(Si57xWrapperTest, ApplyFailsWhereTheDriverWouldSilentlyDoNothing)
{
    const char* absent = "ireg: apply: SI57xSFP: the oscillator does not answer; the frequency was not applied";
    model->SetAnswering(false);
    EXPECT_EQ(Execute("apply"), absent);
    model->SetAnswering(true);
    model->PowerUp(sim::Si57xModel::c_defaultXtal, sim::Si57xModel::Setting{}); // registers 7 to 12 read 0
    EXPECT_EQ(Execute("apply"), absent);
    EXPECT_EQ(model->GetRecalls(), 0u);
    EXPECT_EQ(model->GetApplies(), 0u);
}

TEST_F(Si57xWrapperTest, ABusThatStopsAcknowledgingFailsApplyWithTheControllersText)
{
    // The presence checks (the wrapper's and the driver's) pass; the recall command's byte is not
    // acknowledged.
    i2cCore->SetFault(sim::I2cCoreModel::eFaultDataNack, 2);
    const std::string error = Execute("apply");
    i2cCore->SetFault(sim::I2cCoreModel::eFaultNone);
    EXPECT_EQ(error, "ireg: apply: i2c com. error (device with addr 0x55) data byte 1 was NACKed");
    EXPECT_EQ(model->GetRecalls(), 0u);
    EXPECT_EQ(model->GetApplies(), 0u);
    EXPECT_EQ(model->GetOutput(), model->GetFactory());
    EXPECT_EQ(Execute("apply"), "no error");
}

// --------------------------------------------------------------------------------------- Si5338

class Si5338WrapperTest : public I2cChipTest {
protected:
    static constexpr uint8_t c_bus = 1;

    void SetUp() override
    {
        I2cChipTest::SetUp();
        i2c = MakeI2c(2);
        model = std::make_shared<sim::Si5338Model>();
        i2cCore->Attach(c_bus, sim::Si5338Model::c_address, model);
        iapp::Create<iapp::SI5338>(*i2c, "clkgen", bmc::BusDeviceId{1}, uint8_t{0x70}, c_bus);
        node = AddRegistry(*i2c)->GetNode("clkgen");
    }

    // The chip's registers 0 to 350.
    std::vector<uint8_t> Registers() const
    {
        std::vector<uint8_t> regs;
        for (uint16_t r = 0; r <= 350; ++r) {
            regs.push_back(static_cast<uint8_t>(model->Get(r)));
        }
        return regs;
    }
    // A MultiSynth parameter as the chip holds it.
    uint32_t MsP1(size_t m) const
    {
        const uint16_t b = static_cast<uint16_t>(53 + 11 * m);
        return model->Get(b) | model->Get(b + 1) << 8 | (model->Get(b + 2) & 3u) << 16;
    }
    uint32_t MsP2(size_t m) const
    {
        const uint16_t b = static_cast<uint16_t>(53 + 11 * m);
        return model->Get(b + 2) >> 2 | model->Get(b + 3) << 6 | model->Get(b + 4) << 14 |
               (model->Get(b + 5) & 0xFFu) << 22;
    }
    uint32_t MsP3(size_t m) const
    {
        const uint16_t b = static_cast<uint16_t>(53 + 11 * m);
        return model->Get(b + 6) | model->Get(b + 7) << 8 | model->Get(b + 8) << 16 | (model->Get(b + 9) & 0x3Fu) << 24;
    }

    iapp::KavrelI2cBusController* i2c = nullptr;
    std::shared_ptr<sim::Si5338Model> model;
};

TEST_F(Si5338WrapperTest, SixteenNodesWithTheirFlagsAndValidators)
{
    struct Row {
        const char* name;
        uint64_t flags;
        size_t size;
        const char* validator;
    };
    const Row rows[] = {
        {"state", 2, 1, ""},
        {"in_clk", 10, 1, ""},
        {"in_D1", 10, 1, "{1,2,4,8,16,32}"},
        {"in_D2", 10, 1, "{1,2,4,8,16,32}"},
        {"pll_kphi", 10, 1, "[1, 127]"},
        {"pll_vco_gain", 10, 1, "[0, 7]"},
        {"pll_rsel", 10, 1, "[0, 3]"},
        {"pll_bwsel", 10, 1, "[0, 2]"},
        {"pll_mcal", 10, 1, "[0, 63]"},
        {"Ms_P1", 0x20A, 5, "[1, 262143]"},
        {"Ms_P2", 0x20A, 5, "[0, 1073741823]"},
        {"Ms_P3", 0x20A, 5, "[1, 1073741823]"},
        {"out_Dx", 0x20A, 4, "{1,2,4,8,16,32}"},
        {"in1_clk_status", 2, 1, ""},
        {"in2_clk_status", 2, 1, ""},
        {"pll_status", 2, 1, ""},
    };
    const std::vector<mci::TreeNodePtr> children = node->GetAllNodes();
    ASSERT_EQ(children.size(), std::size(rows));
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(children[i]->GetName(), rows[i].name);
        EXPECT_EQ(children[i]->GetFlags(), rows[i].flags);
        EXPECT_EQ(children[i]->GetSize(), rows[i].size);
        std::string validator;
        children[i]->GetValidatorExpression(validator);
        EXPECT_EQ(validator, rows[i].validator);
    }
    EXPECT_EQ(iapp::SI5338::MaskOfBits(0), 0);
    EXPECT_EQ(iapp::SI5338::MaskOfBits(30), 1073741823);
}

TEST_F(Si5338WrapperTest, SettingsReachTheChipRegistersAndReadBackFromThem)
{
    using Field = std::function<uint32_t(size_t)>; // the chip's field for element i
    const auto reg = [&](uint16_t r, uint32_t mask, unsigned shift) {
        return Field([=](size_t) { return (model->Get(r) & mask) >> shift; });
    };
    struct Step {
        const char* path;
        std::vector<uint32_t> values;
        size_t pos;
        Field chip;
        std::vector<uint32_t> inChip;
    };
    const Step steps[] = {
        {"in_D1", {8}, 0, reg(29, 0x1F, 0), {3}},
        {"in_D2", {32}, 0, reg(30, 0xFF, 0), {0xA5}},
        {"pll_kphi", {127}, 0, reg(48, 0xFF, 0), {127}},
        {"pll_vco_gain", {7}, 0, reg(49, 0x70, 4), {7}},
        {"pll_rsel", {3}, 0, reg(49, 0x0C, 2), {3}},
        {"pll_bwsel", {2}, 0, reg(49, 0x03, 0), {2}},
        {"pll_mcal", {63}, 0, reg(50, 0x3F, 0), {63}},
        {"Ms_P1", {1, 262143}, 3, [&](size_t i) { return MsP1(i); }, {1, 262143}},
        {"Ms_P2", {0, 1073741823}, 0, [&](size_t i) { return MsP2(i); }, {0, 1073741823}},
        {"Ms_P3", {1073741823}, 4, [&](size_t i) { return MsP3(i); }, {1073741823}},
        {"out_Dx", {1, 2, 4, 8}, 0, [&](size_t i) { return (model->Get(31 + i) >> 2) & 7u; }, {0, 1, 2, 3}},
        {"out_Dx", {32}, 2, [&](size_t i) { return (model->Get(31 + i) >> 2) & 7u; }, {5}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.path);
        auto target = Node(s.path);
        EXPECT_TRUE(s.values.size() == 1 && !target->IsArray() ? target->SetValue(s.values[0])
                                                                : target->SetValue(s.values, s.pos));
        std::vector<uint32_t> inChip;
        std::vector<uint32_t> read;
        for (size_t i = 0; i < s.values.size(); ++i) {
            inChip.push_back(s.chip(s.pos + i));
            read.push_back(Get<uint32_t>(s.path, s.pos + i));
        }
        EXPECT_EQ(inChip, s.inChip);
        EXPECT_EQ(read, s.values);
    }
    EXPECT_EQ(GetAll("out_Dx"), (std::vector<uint32_t>{1, 2, 32, 8}));

    // The input selection by name and by number.
    for (const char* text : {"in_2", "in_1"}) {
        EXPECT_TRUE(Node("in_clk")->SetValue(std::string(text)));
        EXPECT_EQ(Get<std::string>("in_clk"), text);
    }
    EXPECT_EQ(model->Get(29) & 0xE0, 0x40u);
    EXPECT_TRUE(Node("in_clk")->SetValue(int32_t{1}));
    EXPECT_EQ(Get<std::string>("in_clk"), "in_2");
    EXPECT_EQ(model->Get(29) & 0xE0, 0x60u);
    EXPECT_TRUE(Node("in_clk")->SetValue(int64_t{0}));
    EXPECT_EQ(Get<int32_t>("in_clk"), 0);
}

TEST_F(Si5338WrapperTest, RefusedSettingsReachNeitherTheBusNorTheChip)
{
    Node("pll_bwsel")->SetValue(uint32_t{1});
    const std::vector<uint8_t> before = Registers();
    const size_t steps = BusSteps();

    struct Case {
        const char* path;
        std::vector<uint32_t> values;
        size_t pos;
        const char* error;
    };
    const Case cases[] = {
        {"pll_bwsel", {3}, 0, "Validation failed: [0, 2] for 3"},
        {"pll_kphi", {0}, 0, "Validation failed: [1, 127] for 0"},
        {"pll_kphi", {128}, 0, "Validation failed: [1, 127] for 128"},
        {"pll_mcal", {64}, 0, "Validation failed: [0, 63] for 64"},
        {"in_D1", {3}, 0, "Validation failed: {1,2,4,8,16,32} for 3"},
        {"in_D2", {64}, 0, "Validation failed: {1,2,4,8,16,32} for 64"},
        {"Ms_P1", {5, 0, 7}, 0, "Validation failed: [1, 262143] for 0"},
        {"Ms_P1", {262144}, 4, "Validation failed: [1, 262143] for 262144"},
        {"Ms_P2", {1073741824}, 0, "Validation failed: [0, 1073741823] for 1073741824"},
        {"Ms_P3", {7, 0}, 3, "Validation failed: [1, 1073741823] for 0"},
        {"out_Dx", {1, 3, 4, 8}, 0, "Validation failed: {1,2,4,8,16,32} for 3"},
        {"Ms_P1", {1, 1}, 4, "Size too large"},
        {"Ms_P2", {1, 1, 1, 1, 1, 1}, 0, "Size too large"},
        {"Ms_P3", {1}, 5, "Position out of range"},
        {"out_Dx", {1, 1}, 3, "Size too large"},
        {"out_Dx", {1}, 4, "Position out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        // The path a configuration load takes: position, validator, store; no writable test.
        EXPECT_EQ(ErrorOf([&] { Node(c.path)->ApplyAndEmitValue(c.values, c.pos); }), c.error);
        EXPECT_FALSE(Node(c.path)->SetValue(c.values, c.pos));
    }
    EXPECT_EQ(ErrorOf([&] { Node("in_clk")->ApplyAndEmitValue(std::string("IN_1"), 0); }), "Invalid integer value");
    EXPECT_EQ(ErrorOf([&] { Node("in_clk")->ApplyAndEmitValue(std::string("2"), 0); }), "Invalid enum value");
    EXPECT_EQ(ErrorOf([&] { Node("in_clk")->ApplyAndEmitValue(int32_t{2}, 0); }), "invalid value");
    // Clients read the settings but do not write them.
    EXPECT_EQ(ErrorOf([&] { Node("pll_kphi")->Set(uint32_t{50}, 0, mci::c_noRelPath); }), "Node is not writable.");
    EXPECT_EQ(ErrorOf([&] { Node("pll_status")->ApplyAndEmitValue(std::string("pll_locked"), 0); }),
              "ireg: Can't set value: setter function failed: pll_status");

    EXPECT_EQ(BusSteps(), steps);
    EXPECT_EQ(Registers(), before);
}

TEST_F(Si5338WrapperTest, TheConfigurationLoadWritesTheStoredSettingsAndRefusesWhatTheyCannotHold)
{
    Node("pll_kphi")->SetValue(uint32_t{100});
    Node("in_clk")->SetValue(std::string("in_2"));
    Node("Ms_P1")->SetValue(std::vector<uint32_t>{11, 12, 13, 14, 15}, 0);
    const auto wrapper = std::dynamic_pointer_cast<ireg::RegNode>(node);
    ASSERT_TRUE(wrapper);
    const icfg::ElementPtr saved = wrapper->Serialize();
    ASSERT_TRUE(saved);
    // The settings are saved, the status nodes not.
    EXPECT_TRUE(saved->FindChild("pll_kphi") && saved->FindChild("in_clk") && saved->FindChild("Ms_P1"));
    EXPECT_FALSE(saved->FindChild("state") || saved->FindChild("pll_status"));

    Node("pll_kphi")->SetValue(uint32_t{7});
    Node("in_clk")->SetValue(std::string("in_1"));
    Node("Ms_P1")->SetValue(std::vector<uint32_t>{1, 1, 1, 1, 1}, 0);
    EXPECT_TRUE(wrapper->Deserialize(saved));
    EXPECT_EQ(model->Get(48), 100u);
    EXPECT_EQ(model->Get(29) & 0xE0, 0x60u);
    EXPECT_EQ(MsP1(4), 15u);

    // A file value the validator refuses is reported and never reaches the chip.
    icfg::ElementPtr edited = icfg::Element::Create("clkgen");
    icfg::ElementPtr bwsel = icfg::Element::Create("pll_bwsel");
    bwsel->AddAttribute(icfg::Attribute::Create("value", "3"));
    edited->AddChild(bwsel);
    const uint32_t bwselBefore = model->Get(49) & 3u;
    ireg::LoadRefusals refusals;
    wrapper->Deserialize(edited);
    ASSERT_EQ(refusals.Entries().size(), 1u);
    EXPECT_EQ(refusals.Entries()[0].value, "3");
    EXPECT_NE(refusals.Entries()[0].reason.find("Validation failed: [0, 2] for 3"), std::string::npos)
        << refusals.Entries()[0].reason;
    EXPECT_EQ(model->Get(49) & 3u, bwselBefore);
}

TEST_F(Si5338WrapperTest, StatusNodesReadTheStatusRegister)
{
    struct Case {
        uint8_t status;
        const char* pll;
        const char* in1;
        const char* in2;
    };
    const Case cases[] = {
        {0x00, "pll_locked", "clock_present", "clock_present"},
        {0x10, "pll_not_locked", "clock_present", "clock_present"},
        {0x04, "pll_locked", "clock_not_present", "clock_present"},
        {0x08, "pll_locked", "clock_present", "clock_not_present"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.status});
        model->SetStatusScript({c.status});
        EXPECT_EQ(Get<std::string>("pll_status"), c.pll);
        EXPECT_EQ(Get<std::string>("in1_clk_status"), c.in1);
        EXPECT_EQ(Get<std::string>("in2_clk_status"), c.in2);
    }
    model->SetStatusScript({0x00});
    EXPECT_EQ(Get<int32_t>("pll_status"), 0);
}

TEST_F(Si5338WrapperTest, PostConfigStartsTheChipAndAFailedStartLeavesItDisabled)
{
    EXPECT_EQ(Get<std::string>("state"), "disabled");
    i2c->PostConfig();
    EXPECT_EQ(Get<std::string>("state"), "enabled");
    EXPECT_EQ(model->GetSoftResets(), 1u);

    // A PLL that never locks: the start fails, is logged, and start-up goes on.
    model->SetStatusScript({0x10});
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_EQ(ErrorOf([&] { i2c->PostConfig(); }), "no error");
    EXPECT_EQ(Get<std::string>("state"), "disabled");
    EXPECT_TRUE(capture.Contains("clkgen: the clock generator did not start: si5338: PLL did not lock"));
}

} // namespace
