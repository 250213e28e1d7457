// The programmable oscillator driver against the oscillator model: what the chip runs on after an
// enable (dividers, RFREQ, the DCO inside its window, written with the DCO frozen), the divider
// search's choices, refused factory sets and frequencies with nothing written, and the absent
// chip that makes an enable a traced no-op.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "istd/trace_capture.h"
#include "bmc/i2c_device_SI57x.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/si57x.h"
#include "tests/support/error_of.h"

namespace {

using Setting = sim::Si57xModel::Setting;
using testsupport::ErrorOf;

class Si57xTest : public testing::Test {
protected:
    bmc::Si57x& Osc() { return *m_rig.driver; }
    sim::Si57xModel& Model() { return *m_rig.model; }

    void Enable(uint32_t freq)
    {
        Osc().SetVcxoFreq(freq);
        Osc().SetDeviceState(bmc::eBusDeviceEnabled);
    }

    // Registers 7 to 12 as the driver reports them, register 7 in the low byte.
    static uint64_t Params(const Setting& s)
    {
        const uint64_t word = uint64_t{s.hsDivCode} << 45 | uint64_t{s.n1Code} << 38 | s.rfreq;
        uint64_t params = 0;
        for (int i = 0; i < 6; ++i) {
            params |= (word >> (40 - 8 * i) & 0xFF) << (8 * i);
        }
        return params;
    }

    bmctest::I2cChipRig<bmc::Si57x, sim::Si57xModel> m_rig;
};

TEST_F(Si57xTest, TheFactoryFrequencyKeepsTheFactoryDividers)
{
    const Setting factory = Model().GetFactory();
    ASSERT_EQ(factory.HsDiv(), 5u);
    ASSERT_EQ(factory.N1(), 10u);
    uint32_t freq = 0;
    ASSERT_TRUE(Osc().GetVcxoFreq(freq));
    EXPECT_EQ(freq, 100000000u);
    EXPECT_EQ(Osc().GetVcxoConfigParams(), 0u);

    Enable(100000000);

    const Setting out = Model().GetOutput();
    EXPECT_EQ(out.HsDiv(), 5u); // HS_DIV 4 with N1 14 comes first, but 5 is the factory's
    EXPECT_EQ(out.N1(), 10u);
    EXPECT_LE(std::llabs(static_cast<long long>(out.rfreq) - static_cast<long long>(factory.rfreq)), 1);
    EXPECT_EQ(Model().GetRecalls(), 1u);
    EXPECT_EQ(Model().GetApplies(), 1u);
    EXPECT_EQ(Model().GetUnfrozenWrites(), 0u);
    EXPECT_FALSE(Model().IsDcoFrozen());
    EXPECT_EQ(Model().Get(135), 0u);
    EXPECT_EQ(Osc().GetVcxoConfigParams(), Params(out));
}

TEST_F(Si57xTest, TargetsAcrossTheRangeRunTheDcoInsideItsWindow)
{
    struct Case {
        uint32_t freq;
        unsigned hsDiv;
        unsigned n1;
    };
    // The HS_DIV nearest the factory's 5 wins; of two as near, the smaller (found first).
    const Case cases[] = {{10000000, 5, 98},  {125000000, 5, 8}, {156250000, 4, 8},
                          {250000000, 5, 4}, {700000000, 4, 2}, {1400000000, 4, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq);
        Enable(c.freq);
        const Setting out = Model().GetOutput();
        EXPECT_EQ(out.HsDiv(), c.hsDiv);
        EXPECT_EQ(out.N1(), c.n1);
        EXPECT_GT(Model().GetDcoFrequency(), 4.85e9);
        EXPECT_LT(Model().GetDcoFrequency(), 5.67e9);
        EXPECT_NEAR(Model().GetOutputFrequency() / c.freq, 1.0, 1e-9);
        EXPECT_EQ(Model().GetUnfrozenWrites(), 0u);
        EXPECT_EQ(Osc().GetVcxoConfigParams(), Params(out));
    }
    // Every enable starts from the factory set.
    EXPECT_EQ(Model().GetRecalls(), std::size(cases));
}

TEST_F(Si57xTest, AChipRunningWithRegister7AtZeroCanBeProgrammedAgain)
{
    Enable(700000000); // HS_DIV 4 (code 0), N1 2 (code 1): register 7 reads 0
    ASSERT_EQ(Model().Get(7), 0u);
    EXPECT_TRUE(Osc().CheckVcxoPresence());
    Enable(125000000);
    EXPECT_EQ(Model().GetApplies(), 2u);
    EXPECT_NEAR(Model().GetOutputFrequency() / 125e6, 1.0, 1e-9);
}

TEST_F(Si57xTest, N1Of128IsCode127AcrossBothRegisters)
{
    Enable(3450000); // only HS_DIV 11 with N1 128 reaches the window
    EXPECT_EQ(Model().GetOutput().hsDivCode, 7u);
    EXPECT_EQ(Model().GetOutput().n1Code, 127u);
    EXPECT_EQ(Model().Get(7), 0xFFu);          // code 7, N1 bits 6..2 = 31
    EXPECT_EQ(Model().Get(8) >> 6, 3u);        // N1 bits 1..0
}

TEST_F(Si57xTest, SearchChoicesAtTheEdges)
{
    struct Case {
        uint64_t freq;
        int32_t factoryHsDiv;
        int32_t hsDiv;
        int32_t n1;
    };
    const Case cases[] = {
        {125000000, 6, 5, 8},  // 5 and 7 are as near to 6: the first found stays
        {121250000, 4, 7, 6},  // 4 × 10 and 5 × 8 give exactly 4.85 GHz: not inside
        {118125000, 4, 7, 6},  // 4 × 12 and 6 × 8 give exactly 5.67 GHz: not inside
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq);
        bmc::Si57x::dividerData old;
        old.hs_div = c.factoryHsDiv;
        old.n1_div = 10;
        old.rfreq = Setting(Model().GetFactory()).rfreq;
        bmc::Si57x::dividerData chosen;
        ASSERT_TRUE(Osc().CalcNewRfreq(c.freq, &old, &chosen));
        EXPECT_EQ(chosen.hs_div, c.hsDiv);
        EXPECT_EQ(chosen.n1_div, c.n1);
        EXPECT_DOUBLE_EQ(chosen.dco_freq, static_cast<double>(c.freq) * c.hsDiv * c.n1);
    }
}

TEST_F(Si57xTest, FrequenciesWithoutDividersThrowBeforeAnyDividerIsWritten)
{
    const Setting factory = Model().GetFactory();
    for (uint32_t freq : {0u, 3000000u, 1200000000u, 1500000000u}) {
        SCOPED_TRACE(freq);
        Osc().SetVcxoFreq(freq);
        EXPECT_EQ(ErrorOf([&] { Osc().SetDeviceState(bmc::eBusDeviceEnabled); }), "Si57x CalcNewRfreq fail!");
        EXPECT_EQ(Model().GetRegisters(), factory);
        EXPECT_EQ(Model().GetApplies(), 0u);
    }
    EXPECT_EQ(Osc().GetVcxoConfigParams(), 0u);
}

TEST_F(Si57xTest, InvalidFactorySetsThrowWithNothingWritten)
{
    const Setting good = sim::Si57xModel::SettingFor(100e6, 1, 9);
    Setting noHsDiv4 = good;
    noHsDiv4.hsDivCode = 4;
    Setting noHsDiv6 = good;
    noHsDiv6.hsDivCode = 6;
    Setting noRfreq = good;
    noRfreq.rfreq = 0;
    for (const Setting& factory : {noHsDiv4, noHsDiv6, noRfreq}) {
        SCOPED_TRACE(int{factory.hsDivCode});
        Model().PowerUp(sim::Si57xModel::c_defaultXtal, factory);
        bmc::Si57x::dividerData read;
        ASSERT_TRUE(Osc().ReadRfreq(&read));
        EXPECT_EQ(read.hs_div, factory.HsDiv() == 0 ? -1 : 5);
        EXPECT_EQ(read.rfreq, factory.rfreq);

        EXPECT_EQ(ErrorOf([&] { Osc().SetDeviceState(bmc::eBusDeviceEnabled); }), "Si57x CalcNewRfreq fail!");
        EXPECT_EQ(Model().GetRegisters(), factory);
        EXPECT_EQ(Model().GetApplies(), 0u);
        EXPECT_EQ(Model().GetUnfrozenWrites(), 0u);
        EXPECT_EQ(Osc().GetVcxoConfigParams(), 0u);
    }
}

TEST_F(Si57xTest, AnAbsentChipMakesEnableATracedNoOp)
{
    Enable(125000000);
    const uint64_t params = Osc().GetVcxoConfigParams();

    const auto expectNoOp = [&](const char* what) {
        SCOPED_TRACE(what);
        const size_t recalls = Model().GetRecalls();
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(Osc().CheckVcxoPresence());
        EXPECT_EQ(ErrorOf([&] { Osc().SetDeviceState(bmc::eBusDeviceEnabled); }), "no error");
        EXPECT_TRUE(capture.Contains("si57x: Si57x VCXO NOT present or INCORRECT slave address!"));
        EXPECT_EQ(Model().GetRecalls(), recalls);
        EXPECT_EQ(Osc().GetVcxoConfigParams(), params);
    };
    Model().SetAnswering(false); // the address goes unacknowledged
    expectNoOp("no acknowledge");
    Model().SetAnswering(true);
    Model().PowerUp(sim::Si57xModel::c_defaultXtal, Setting{}); // register 7 reads 0
    expectNoOp("register 7 reads 0");
}

TEST_F(Si57xTest, TheWantedFrequencyStaysInTheDriver)
{
    const size_t messages = Model().GetMessageCount();
    EXPECT_TRUE(Osc().SetVcxoFreq(156250000));
    uint32_t freq = 0;
    EXPECT_TRUE(Osc().GetVcxoFreq(freq));
    EXPECT_EQ(freq, 156250000u);
    EXPECT_EQ(Model().GetMessageCount(), messages);
    EXPECT_EQ(Model().GetOutput(), Model().GetFactory());
}

TEST_F(Si57xTest, TheAddressArgumentIsIgnored)
{
    bmctest::I2cChipRig<bmc::Si57x, sim::Si57xModel> rig(false);
    auto osc = std::static_pointer_cast<bmc::Si57x>(bmc::Create<bmc::Si57x>(rig.bus, "osc", 1, 0x10, 1));
    osc->SetVcxoFreq(125000000);
    osc->SetDeviceState(bmc::eBusDeviceEnabled);
    EXPECT_EQ(rig.model->GetApplies(), 1u);
}

} // namespace
