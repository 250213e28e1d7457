// The clock generator driver against the clock generator model: the register copy mirroring the
// chip after construction with the default set written, page selection only when the page
// changes, the write masks keeping the bits the driver does not own, field setters and getters,
// MultiSynth packing, the bounded array operations, and the start-up sequence with its polls (the
// waits counted, not slept), including an input that never comes and a PLL that never locks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/i2c_device_SI5338.h"
#include "common/i2c_chip_rig.h"
#include "sim/chips/si5338.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

class Si5338Test : public testing::Test {
protected:
    Si5338Test() : m_rig(false)
    {
        // Bits that the driver does not own, as the chip holds them.
        Model().Set(36, 0xE0); // mask 0x1F
        Model().Set(47, 0xC0); // mask 0x3F
        Model().Set(62, 0xC0); // MultiSynth 0's P3 top register, mask 0x3F
        Model().Set(96, 0x5A); // MultiSynth 3's last register, mask 0x00
        Model().Set(27, 0x14); // mask 0x80, never written
        m_rig.MakeDriver();
    }

    bmc::Si5338& Gen() { return *m_rig.driver; }
    sim::Si5338Model& Model() { return *m_rig.model; }
    std::vector<std::string> Events() const { return m_rig.core->GetEventTexts(); }

    bmctest::I2cChipRig<bmc::Si5338, sim::Si5338Model> m_rig;
};

TEST_F(Si5338Test, ConstructionDisablesTheOutputsAndWritesTheDefaultSet)
{
    struct Reg {
        uint16_t reg;
        uint8_t value;
    };
    const Reg expected[] = {
        {29, 0x42},  // in_1, P1 divider 4 (code 2)
        {30, 0xA0},  // P2 divider 1
        {31, 0xC0}, {32, 0xC0}, {33, 0xC0}, {34, 0xC0}, // R dividers 1
        {48, 49},    // KPHI
        {49, 0x00},  // VCO gain, R select, bandwidth select
        {50, 0xC4},  // MCal 4
        {53, 0x00}, {54, 0x01}, {55, 0x00}, // MultiSynth 0: P1 256, P2 0
        {59, 0x01}, {60, 0x00}, {61, 0x00}, {62, 0xC0}, // P3 1, reserved bits kept
        {97, 0x00}, {98, 0x25}, {99, 0x00}, // MultiSynth 4: P1 9472
        {230, 0x10}, // outputs disabled
        {241, 0xE5}, // loss of lock held off
        {27, 0x14},  // untouched
        {96, 0x5A},  // written back as read
    };
    for (const Reg& r : expected) {
        EXPECT_EQ(Model().Get(r.reg), r.value) << "register " << r.reg;
    }
    EXPECT_EQ(Model().Get(51) & 0x07, 0x07);
    // The copy mirrors the chip.
    for (uint16_t reg = 0; reg <= 350; ++reg) {
        ASSERT_EQ(Gen().GetRegCopy(reg), Model().Get(reg)) << "register " << reg;
    }
    bmc::_tSi5338DeviceStatus_e state = bmc::eSi5338Enabled;
    EXPECT_TRUE(Gen()._GetDeviceState(state));
    EXPECT_EQ(state, bmc::eSi5338Disabled);
    // Page 0 first (there was no page yet), page 1 for 256 up, page 0 again for the defaults.
    EXPECT_EQ(Model().GetPageWrites(), 3u);
}

TEST_F(Si5338Test, ThePageRegisterIsWrittenOnlyWhenThePageChanges)
{
    const size_t pages = Model().GetPageWrites();
    Gen().Si5338GetReg(100);
    Gen().Si5338GetReg(120);
    EXPECT_EQ(Model().GetPageWrites(), pages);
    Model().Set(300, 0x77);
    Gen().Si5338GetReg(300);
    Gen().Si5338GetReg(301);
    EXPECT_EQ(Model().GetPageWrites(), pages + 1);
    EXPECT_EQ(Model().Get(255), 1u);
    EXPECT_EQ(Gen().GetRegCopy(300), 0x77);
    Gen().Si5338GetReg(100);
    EXPECT_EQ(Model().GetPageWrites(), pages + 2);

    // Register 255 is the page selection's alone; 351 and up are refused before any transfer.
    const size_t messages = Model().GetMessageCount();
    Gen().Si5338GetReg(255);
    Gen().Si5338SetReg(255);
    EXPECT_EQ(ErrorOf([&] { Gen().Si5338GetReg(351); }), "par is out of range");
    EXPECT_EQ(ErrorOf([&] { Gen().Si5338SetReg(400); }), "par is out of range");
    EXPECT_EQ(Model().GetMessageCount(), messages);
}

TEST_F(Si5338Test, WriteMasksDecideWhetherTheChipIsReadFirst)
{
    m_rig.core->ClearTraces();
    Gen()._SetPllKphi(60); // register 48: mask 0xFF, no read
    EXPECT_THAT(Events(), testing::Not(testing::Contains("START 0xe1 ACK")));
    EXPECT_EQ(Model().Get(48), 60u);

    m_rig.core->ClearTraces();
    Model().Set(96, 0x3C);
    Gen().Si5338ReadModifiedWrite(96, 0xFF, 0xFF); // mask 0x00: the chip's value goes back
    EXPECT_THAT(Events(), testing::Contains("START 0xe1 ACK"));
    EXPECT_EQ(Model().Get(96), 0x3C);

    Gen().Si5338ReadModifiedWrite(36, 0x0F, 0xFF); // mask 0x1F: bits 7..5 are the chip's
    EXPECT_EQ(Model().Get(36), 0xEF);
    Gen().Si5338ReadModifiedWrite(36, 0x00, 0x03); // a narrower mask of the caller
    EXPECT_EQ(Model().Get(36), 0xEC);
    EXPECT_EQ(bmc::Si5338::GetWriteMask(255), 0xFF);
    EXPECT_EQ(bmc::Si5338::GetWriteMask(351), 0x00);
}

TEST_F(Si5338Test, FieldSettersAndGettersKeepTheirNeighbours)
{
    ASSERT_TRUE(Gen()._SetVcoGain(5));
    ASSERT_TRUE(Gen()._SetRSel(2));
    ASSERT_TRUE(Gen()._SetBwSel(1));
    Gen().Si5338OverrideFreqCalForVco(true);
    EXPECT_EQ(Model().Get(49), 0x80 | 5 << 4 | 2 << 2 | 1);
    uint32_t value = 0;
    EXPECT_TRUE(Gen()._GetVcoGain(value));
    EXPECT_EQ(value, 5u);
    EXPECT_TRUE(Gen()._GetRSel(value));
    EXPECT_EQ(value, 2u);
    EXPECT_TRUE(Gen()._GetBwSel(value));
    EXPECT_EQ(value, 1u);

    ASSERT_TRUE(Gen()._SetMCal(63));
    EXPECT_TRUE(Gen()._GetMCal(value));
    EXPECT_EQ(value, 63u);
    EXPECT_EQ(Model().Get(50), 0xFF);
    ASSERT_TRUE(Gen()._SetPllKphi(0xFF)); // bit 7 is written 0
    EXPECT_EQ(Model().Get(48), 0x7F);

    ASSERT_TRUE(Gen()._SetInputClkSel(bmc::eSi5338ClkIn2));
    ASSERT_TRUE(Gen()._SetInputDividerP1(32));
    EXPECT_EQ(Model().Get(29), 0x65);
    bmc::_tSi5338ClkIn_e in = bmc::eSi5338ClkIn1;
    EXPECT_TRUE(Gen()._GetInputClkSel(in));
    EXPECT_EQ(in, bmc::eSi5338ClkIn2);
    EXPECT_TRUE(Gen()._GetInputDividerP1(value));
    EXPECT_EQ(value, 32u);
    ASSERT_TRUE(Gen()._SetInputDividerP2(16));
    EXPECT_EQ(Model().Get(30), 0xA4);
    EXPECT_TRUE(Gen()._GetInputDividerP2(value));
    EXPECT_EQ(value, 16u);
}

TEST_F(Si5338Test, DividerAndSelectRefusals)
{
    const uint8_t reg29 = Model().Get(29);
    for (uint32_t div : {0u, 3u, 64u}) {
        EXPECT_EQ(ErrorOf([&] { Gen()._SetInputDividerP1(div); }), "si5338: wrong div. code value");
    }
    EXPECT_EQ(Model().Get(29), reg29);
    uint32_t value = 99;
    Model().Set(29, 0x46); // code 6
    EXPECT_TRUE(Gen()._GetInputDividerP1(value));
    EXPECT_EQ(value, 0u);
    Model().Set(29, 0x02); // neither input
    bmc::_tSi5338ClkIn_e in;
    EXPECT_EQ(ErrorOf([&] { Gen()._GetInputClkSel(in); }), "si5338: invalid input clock sel.");
}

TEST_F(Si5338Test, MultiSynthParametersRoundTrip)
{
    Gen().Si5338MultiSynthSet(bmc::eSi5338Ms4, bmc::eSi5338MsP1, 9472);
    EXPECT_EQ(Model().Get(97), 0x00);
    EXPECT_EQ(Model().Get(98), 0x25);
    EXPECT_EQ(Model().Get(99) & 0x03, 0x00);

    struct Case {
        bmc::_tSi5338MsX_e ms;
        uint32_t p1, p2, p3;
    };
    const Case cases[] = {
        {bmc::eSi5338Ms0, 0x3FFFF, 0x3FFFFFFF, 0x3FFFFFFF},
        {bmc::eSi5338Ms1, 0x20001, 0x00000001, 0x20000000},
        {bmc::eSi5338Ms3, 1536, 0x2AAAAAAA, 0x15555555},
        {bmc::eSi5338Ms4, 0x10000, 0x3F, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        // P1 and P2 share register B+2: setting one keeps the other.
        Gen().Si5338MultiSynthSet(c.ms, bmc::eSi5338MsP2, c.p2);
        Gen().Si5338MultiSynthSet(c.ms, bmc::eSi5338MsP1, c.p1);
        Gen().Si5338MultiSynthSet(c.ms, bmc::eSi5338MsP3, c.p3);
        EXPECT_EQ(Gen().Si5338MultiSynthGet(c.ms, bmc::eSi5338MsP1), c.p1);
        EXPECT_EQ(Gen().Si5338MultiSynthGet(c.ms, bmc::eSi5338MsP2), c.p2);
        EXPECT_EQ(Gen().Si5338MultiSynthGet(c.ms, bmc::eSi5338MsP3), c.p3);
    }
    EXPECT_EQ(Model().Get(62) & 0xC0, 0xC0); // P3's register keeps its reserved bits
    EXPECT_EQ(Model().Get(96), 0x5A);

    // The high bits of a P3 beyond its 30 go where the write mask lets them: nowhere here.
    Gen().Si5338MultiSynthSet(bmc::eSi5338Ms0, bmc::eSi5338MsP3, 0xFFFFFFFF);
    EXPECT_EQ(Gen().Si5338MultiSynthGet(bmc::eSi5338Ms0, bmc::eSi5338MsP3), 0x3FFFFFFFu);
    EXPECT_EQ(Model().Get(62), 0xFF);

    EXPECT_EQ(ErrorOf([&] { Gen().Si5338MultiSynthGet(bmc::eSi5338Ms0, static_cast<bmc::_tSi5338MsPx_e>(3)); }),
              "si5338: wrong input parameters Si5338MultiSynthGet");
    EXPECT_NE(ErrorOf([&] { Gen().Si5338MultiSynthSet(bmc::eSi5338Ms0, static_cast<bmc::_tSi5338MsPx_e>(3), 1); }),
              "no error");
}

TEST_F(Si5338Test, ArrayOperationsStayInsideTheMultiSynthsAndOutputs)
{
    const uint32_t values[] = {1, 2, 4, 8, 16};
    ASSERT_TRUE(Gen()._SetRxDivider(values, 0, 4));
    for (uint16_t out = 0; out < 4; ++out) {
        EXPECT_EQ(Model().Get(31 + out), 0xC0 | out << 2) << "output " << out;
    }
    uint32_t read[5] = {};
    EXPECT_EQ(Gen()._GetRxDivider(read, 1, 3), 3u);
    EXPECT_EQ(read[0], 2u);
    EXPECT_EQ(read[2], 8u);
    EXPECT_EQ(Gen()._GetRxDivider(read, 0, 0), 0u);

    ASSERT_TRUE(Gen()._SetMultiSynthMsP1(values, 2, 3));
    EXPECT_EQ(Gen()._GetMultiSynthMsP1(read, 0, 5), 5u);
    EXPECT_THAT(std::vector<uint32_t>(read, read + 5), testing::ElementsAre(256, 256, 1, 2, 4));

    // Past the last MultiSynth or output nothing is written, and a bad value anywhere stops
    // the whole write.
    const size_t messages = Model().GetMessageCount();
    EXPECT_NE(ErrorOf([&] { Gen()._SetMultiSynthMsP2(values, 3, 3); }), "no error");
    EXPECT_NE(ErrorOf([&] { Gen()._GetMultiSynthMsP3(read, 5, 1); }), "no error");
    EXPECT_NE(ErrorOf([&] { Gen()._SetRxDivider(values, 2, 3); }), "no error");
    EXPECT_NE(ErrorOf([&] { Gen()._GetRxDivider(read, 4, 1); }), "no error");
    const uint32_t bad[] = {1, 3};
    EXPECT_EQ(ErrorOf([&] { Gen()._SetRxDivider(bad, 0, 2); }), "si5338: wrong div. code value");
    EXPECT_EQ(Model().GetMessageCount(), messages);
}

TEST_F(Si5338Test, StatusBits)
{
    struct Case {
        uint8_t status;
        bmc::_tSi5338PllLock_e pll;
        bmc::_tSi5338ClkPresent_e in1, in2;
        bool any;
    };
    const Case cases[] = {
        {0x00, bmc::eSi5338PllLocked, bmc::eSi5338ClkPresent, bmc::eSi5338ClkPresent, false},
        {0x10, bmc::eSi5338PllNotLocked, bmc::eSi5338ClkPresent, bmc::eSi5338ClkPresent, true},
        {0x04, bmc::eSi5338PllLocked, bmc::eSi5338ClkNotPresent, bmc::eSi5338ClkPresent, true},
        {0x08, bmc::eSi5338PllLocked, bmc::eSi5338ClkPresent, bmc::eSi5338ClkNotPresent, true},
        {0x01, bmc::eSi5338PllLocked, bmc::eSi5338ClkPresent, bmc::eSi5338ClkPresent, true},
        {0xE2, bmc::eSi5338PllLocked, bmc::eSi5338ClkPresent, bmc::eSi5338ClkPresent, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.status});
        Model().SetStatusScript({c.status});
        bmc::_tSi5338PllLock_e pll;
        bmc::_tSi5338ClkPresent_e in1, in2;
        EXPECT_TRUE(Gen()._GetPllStatus(pll));
        EXPECT_TRUE(Gen()._GetIn1ClkStatus(in1));
        EXPECT_TRUE(Gen()._GetIn2ClkStatus(in2));
        EXPECT_EQ(pll, c.pll);
        EXPECT_EQ(in1, c.in1);
        EXPECT_EQ(in2, c.in2);
        EXPECT_EQ(Gen().Si5338ClockStatusGet(bmc::eSi5338AnyAlarm), c.any);
        EXPECT_EQ(Gen().Si5338ClockStatusGet(bmc::eSi5338Calibrating), (c.status & 1) != 0);
        EXPECT_FALSE(Gen().Si5338ClockStatusGet(static_cast<bmc::_tSi5338ClkStatus_e>(5)));
    }
    EXPECT_STREQ(istd::EnumName(bmc::eSi5338PllLocked), "pll_locked");
    EXPECT_STREQ(istd::EnumName(bmc::eSi5338PllNotLocked), "pll_not_locked");
    EXPECT_STREQ(istd::EnumName(bmc::eSi5338ClkNotPresent), "clock_not_present");
    EXPECT_STREQ(istd::EnumName(bmc::eSi5338ClkIn2), "in_2");
    EXPECT_EQ(istd::EnumCast<bmc::_tSi5338DeviceStatus_e>("enabled"), bmc::eSi5338Enabled);
}

class Si5338StartTest : public Si5338Test {
protected:
    void Start(bmc::_tSi5338DeviceStatus_e state = bmc::eSi5338Enabled) { Gen().Si5338DevStateSet(state); }
    bmc::_tSi5338DeviceStatus_e State()
    {
        bmc::_tSi5338DeviceStatus_e state;
        Gen()._GetDeviceState(state);
        return state;
    }
    bool OutputsDisabled() { return (Model().Get(230) & 0x10) != 0; }

    bmctest::CountedSleeps m_sleeps;
};

TEST_F(Si5338StartTest, AStartRunsTheSequenceAndEnablesTheOutputs)
{
    Model().Set(235, 0x12);
    Model().Set(236, 0x34);
    Model().Set(237, 0xFE);
    Model().SetStatusScript({0x04, 0x04, 0x00, 0x11, 0x11, 0x00}); // input after 2 polls, lock after 2
    const size_t reads = Model().GetStatusReads();
    istd::TraceCapture capture(istd::eTraceError);
    Start();
    EXPECT_EQ(State(), bmc::eSi5338Enabled);
    EXPECT_EQ(Model().Get(230), 0x00);
    EXPECT_EQ(Model().Get(241), 0x65);
    EXPECT_EQ(Model().Get(28), 0x00);
    EXPECT_EQ(Model().Get(35), 0x00);
    EXPECT_EQ(Model().Get(36), 0xE4); // driver setting 0x04 within mask 0x1F
    EXPECT_EQ(Model().Get(40), 0xEF);
    EXPECT_EQ(Model().Get(45), 0x12);
    EXPECT_EQ(Model().Get(46), 0x34);
    EXPECT_EQ(Model().Get(47), 0xC0 | 0x14 | 0x02);
    EXPECT_EQ(Model().Get(49) & 0x80, 0x80);
    EXPECT_EQ(Model().GetSoftResets(), 1u);
    EXPECT_EQ(Model().GetStatusReads() - reads, 6u);
    EXPECT_EQ(m_sleeps.Count(100000), 1u);
    EXPECT_EQ(m_sleeps.Count(25000), 1u);
    EXPECT_EQ(m_sleeps.Count(1000), 6u);
    EXPECT_TRUE(capture.Contains("Si5338: PLL locked in 2 ms"));
    EXPECT_TRUE(capture.Contains("Si5338: started"));

    Start(bmc::eSi5338Disabled);
    EXPECT_EQ(State(), bmc::eSi5338Disabled);
    EXPECT_TRUE(OutputsDisabled());
    EXPECT_EQ(Model().Get(241), 0xE5);
}

TEST_F(Si5338StartTest, AnInputThatNeverComesTimesOutAfter301Polls)
{
    struct Case {
        bmc::_tSi5338ClkIn_e in;
        uint8_t status; // loss of signal of the selected input
    };
    for (const Case& c : {Case{bmc::eSi5338ClkIn1, 0x04}, Case{bmc::eSi5338ClkIn2, 0x08}}) {
        SCOPED_TRACE(c.in);
        Gen()._SetInputClkSel(c.in);
        Model().SetStatusScript({static_cast<uint8_t>(c.status | 0x10)});
        const size_t reads = Model().GetStatusReads();
        m_sleeps.Clear();
        EXPECT_EQ(ErrorOf([&] { Start(); }), "si5338: input clock is not valid or present");
        EXPECT_EQ(Model().GetStatusReads() - reads, 301u);
        EXPECT_EQ(m_sleeps.Count(1000), 301u); // about 301 ms of polling after the 100 ms wait
        EXPECT_EQ(m_sleeps.Count(100000), 1u);
        EXPECT_EQ(Model().GetSoftResets(), 0u);
        EXPECT_EQ(State(), bmc::eSi5338Disabled);
        EXPECT_TRUE(OutputsDisabled());
    }
    // The other input's loss of signal does not matter.
    Gen()._SetInputClkSel(bmc::eSi5338ClkIn2);
    Model().SetStatusScript({0x04, 0x00});
    Start();
    EXPECT_EQ(State(), bmc::eSi5338Enabled);
}

TEST_F(Si5338StartTest, APllThatNeverLocksThrowsAndLeavesTheOutputsOff)
{
    for (const auto before : {bmc::eSi5338Disabled, bmc::eSi5338Enabled}) {
        SCOPED_TRACE(before);
        Model().SetStatusScript({0x00});
        Start(before);
        ASSERT_EQ(State(), before);
        Model().SetStatusScript({0x00, 0x10});
        const size_t reads = Model().GetStatusReads();
        m_sleeps.Clear();
        EXPECT_EQ(ErrorOf([&] { Start(); }), "si5338: PLL did not lock");
        EXPECT_EQ(Model().GetStatusReads() - reads, 1u + 301u);
        EXPECT_EQ(m_sleeps.Count(1000), 1u + 301u);
        EXPECT_TRUE(OutputsDisabled());
        EXPECT_EQ(State(), bmc::eSi5338Disabled); // not a stale "enabled"
    }
}

} // namespace
