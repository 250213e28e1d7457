// The quad DAC and variable-gain amplifier wrappers on a simulated board, through the FPGA SPI
// core model in its memory, down to the chip models: the words each node write sends, what the
// nodes read back, the refusals that send nothing, and the notifications that keep the
// amplifier's five nodes in step.

#include <gtest/gtest.h>

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/bus_fixture.h"
#include "iapp/devices/spi_DAC7554.h"
#include "iapp/kavrel_spi_bus_device_LMH6518.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/lmh6518.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

namespace {

using testsupport::ErrorOf;
using Words = std::vector<uint64_t>;

// ------------------------------------------------------------------------------------- DAC7554

class Dac7554Test : public iapptest::BusBoard {
protected:
    void SetUp() override
    {
        BusBoard::SetUp();
        spi = MakeSpi(4);
        model = std::make_shared<sim::Dac7554Model>();
        spiCore->Attach(1, model);
        dac = iapp::Create<iapp::DAC7554>(*spi, "dac", bmc::BusDeviceId{1});
    }
    void AddNodes() { chip = AddRegistry(*spi)->GetNode("dac"); }

    iapp::KavrelSpiBusController* spi = nullptr;
    std::shared_ptr<sim::Dac7554Model> model;
    iapp::DAC7554* dac = nullptr;
};

TEST_F(Dac7554Test, EveryOutputStartsAtZeroAndTakesValuesUpTo4095)
{
    EXPECT_EQ(model->GetWords(), (Words{0x8000, 0x9000, 0xA000, 0xB000}));
    AddNodes();
    for (int n = 0; n < 4; ++n) {
        const std::string channel = "channel_" + std::to_string(n);
        EXPECT_EQ(ChipGet<uint32_t>(channel + "/value"), 0u);
        EXPECT_EQ(ChipGet<std::string>(channel + "/power_down_mode"), "Off");
        EXPECT_EQ(ChipNode(channel)->GetFlags(), 0u);
        EXPECT_EQ(ChipNode(channel + "/value")->GetFlags(), 6u);
    }
    std::string validator;
    ChipNode("channel_0/value")->GetValidatorExpression(validator);
    EXPECT_EQ(validator, "[0, 4095]");

    struct Case {
        const char* path;
        uint32_t value;
        const char* error;
    };
    const Case cases[] = {
        {"channel_2/value", 4095, "no error"},
        {"channel_0/value", 1, "no error"},
        {"channel_3/value", 2048, "no error"},
        {"channel_2/value", 4096, "ireg: value: Validation failed: [0, 4095] for 4096"},
        {"channel_2/value", 65636, "ireg: value: Validation failed: [0, 4095] for 65636"},
        {"channel_2/value", 70000, "ireg: value: Validation failed: [0, 4095] for 70000"},
    };
    std::map<int, uint16_t> outputs = {{0, 0}, {1, 0}, {2, 0}, {3, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.value));
        const int n = c.path[8] - '0';
        model->ClearWords();
        EXPECT_EQ(ChipSet(c.path, c.value), c.error);
        if (std::string(c.error) == "no error") {
            outputs[n] = static_cast<uint16_t>(c.value);
            EXPECT_EQ(model->GetWords(), (Words{0x8000u + n * 0x1000u + c.value}));
        } else {
            EXPECT_TRUE(model->GetWords().empty());
        }
        for (const auto& o : outputs) {
            EXPECT_EQ(model->GetOutput(o.first), o.second);
        }
        EXPECT_EQ(ChipGet<uint32_t>(c.path), outputs[n]);
    }
}

TEST_F(Dac7554Test, OnlyOffIsAPowerDownModeTheDriverApplies)
{
    AddNodes();
    EXPECT_EQ(ChipSet("channel_1/value", uint32_t{77}), "no error");
    std::vector<std::string> domain;
    ChipNode("channel_1/power_down_mode")->GetDomainValues(domain);
    EXPECT_EQ(domain, (std::vector<std::string>{"HiZ", "1K", "100K", "Off"}));

    // "Off" writes the output's value again.
    model->ClearWords();
    EXPECT_EQ(ChipSet("channel_1/power_down_mode", std::string("Off")), "no error");
    EXPECT_EQ(ChipSet("channel_1/power_down_mode", int32_t{3}), "no error");
    EXPECT_EQ(model->GetWords(), (Words{0x904D, 0x904D}));

    const std::pair<std::string, std::string> refusals[] = {
        {"HiZ", "ireg: power_down_mode: Invalid power down option 0"},
        {"1K", "ireg: power_down_mode: Invalid power down option 1"},
        {"100K", "ireg: power_down_mode: Invalid power down option 2"},
        {"off", "ireg: power_down_mode: Invalid integer value"},
        {"4", "ireg: power_down_mode: Invalid enum value"},
    };
    model->ClearWords();
    for (const auto& r : refusals) {
        EXPECT_EQ(ChipSet("channel_1/power_down_mode", r.first), r.second);
        EXPECT_EQ(ChipGet<std::string>("channel_1/power_down_mode"), "Off");
    }
    EXPECT_TRUE(model->GetWords().empty());
}

TEST_F(Dac7554Test, ValuesAboveTheRangeAreRefusedWholeBeforeAndAfterTheRegistry)
{
    // Before the registry the driver's text, with the value as given: never cut to 16 bits
    // (65636 would be 100) nor reported cut (70000 as 4464).
    model->ClearWords();
    for (uint32_t value : {4096u, 65636u, 70000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ErrorOf([&] { dac->Set(2, value); }), "Specified value " + std::to_string(value) + " is out of range");
    }
    EXPECT_EQ(ErrorOf([&] { dac->Set(4, 100); }), "Invalid channel 4");
    EXPECT_TRUE(model->GetWords().empty());
    dac->Set(2, 4095);
    EXPECT_EQ(model->GetWords(), (Words{0xAFFF}));

    AddNodes();
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(ChipNode("channel_3/value")));
    model->ClearWords();
    dac->Set(3, 100);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(std::any_cast<uint32_t>(recorder.Received().front().value), 100u);
    EXPECT_EQ(ErrorOf([&] { dac->Set(3, 65636); }), "ireg: value: Validation failed: [0, 4095] for 65636");
    EXPECT_EQ(ErrorOf([&] { dac->Set(4, 100); }), "Invalid channel 4");
    EXPECT_EQ(model->GetWords(), (Words{0xB064}));
    EXPECT_EQ(ChipGet<uint32_t>("channel_3/value"), 100u);
    EXPECT_EQ(ChipGet<uint32_t>("channel_2/value"), 4095u);
}

TEST_F(Dac7554Test, ACoreThatStaysBusyFailsTheSetAndTheOutputKeepsItsValue)
{
    AddNodes();
    EXPECT_EQ(ChipSet("channel_0/value", uint32_t{5}), "no error");
    spi->GetController()->SetIdleTimeout(5);
    spiCore->SetBusyStuck(true);
    model->ClearWords();
    EXPECT_EQ(ChipSet("channel_0/value", uint32_t{6}), "ireg: value: Timeout 5 ms expired");
    spiCore->SetBusyStuck(false);
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(model->GetOutput(0), 5);
    EXPECT_EQ(ChipGet<uint32_t>("channel_0/value"), 5u);
}

// ------------------------------------------------------------------------------------- LMH6518

class Lmh6518Test : public iapptest::BusBoard {
protected:
    void SetUp() override
    {
        BusBoard::SetUp();
        spi = MakeSpi(4);
        model = std::make_shared<sim::Lmh6518Model>();
        spiCore->Attach(0, model);
        amp = iapp::Create<iapp::LMH6518>(*spi, "amp", bmc::BusDeviceId{0}, true);
    }
    void AddNodes() { chip = AddRegistry(*spi)->GetNode("amp"); }

    // What the five nodes read, in one line.
    std::string Fields() const
    {
        return std::to_string(ChipGet<uint32_t>("value")) + " " + (ChipGet<bool>("full_power") ? "full" : "low") +
               " " + (ChipGet<bool>("high_gain") ? "high" : "normal") + " " + ChipGet<std::string>("bandwidth") +
               " " + ChipGet<std::string>("attenuation");
    }

    // The notifications received, as "node=value", enumerations by code.
    static std::vector<std::string> Seen(iregtest::Recorder& recorder)
    {
        std::vector<std::string> seen;
        for (const mci::NotificationData& d : recorder.Received()) {
            const std::string name = d.node.GetName();
            std::string value;
            if (d.value.type() == typeid(uint32_t)) {
                value = std::to_string(std::any_cast<uint32_t>(d.value));
            } else if (d.value.type() == typeid(bool)) {
                value = std::any_cast<bool>(d.value) ? "true" : "false";
            } else {
                value = std::to_string(std::any_cast<int32_t>(d.value));
            }
            seen.push_back(name + "=" + value);
        }
        return seen;
    }
    void SubscribeAll(iregtest::Recorder& recorder)
    {
        for (const char* name : {"value", "full_power", "high_gain", "bandwidth", "attenuation"}) {
            ASSERT_TRUE(recorder.Subscribe(ChipNode(name)));
        }
    }

    iapp::KavrelSpiBusController* spi = nullptr;
    std::shared_ptr<sim::Lmh6518Model> model;
    iapp::LMH6518* amp = nullptr;
};

TEST_F(Lmh6518Test, TheNodesShowTheCachedWordBeforeAnythingIsSent)
{
    AddNodes();
    EXPECT_EQ(Fields(), "10 full normal full -20");
    EXPECT_TRUE(model->GetWords().empty());
    for (const char* name : {"value", "full_power", "high_gain", "bandwidth", "attenuation"}) {
        EXPECT_EQ(ChipNode(name)->GetFlags(), 6u) << name;
    }
    std::vector<std::string> domain;
    ChipNode("bandwidth")->GetDomainValues(domain);
    EXPECT_EQ(domain, (std::vector<std::string>{"full", "20Mhz", "100Mhz", "200Mhz", "350Mhz", "650Mhz", "750Mhz"}));
}

TEST_F(Lmh6518Test, EachNodeWriteSendsTheWholeWordWithItsBitsChanged)
{
    AddNodes();
    struct Step {
        const char* path;
        std::string text; // enumerations by name, bools "true"/"false", words in decimal
        uint16_t word;
        const char* fields;
    };
    const Step steps[] = {
        {"attenuation", "-6", 0x0003, "3 full normal full -6"},
        {"bandwidth", "650Mhz", 0x0143, "323 full normal 650Mhz -6"},
        {"high_gain", "true", 0x0153, "339 full high 650Mhz -6"},
        {"full_power", "false", 0x0553, "1363 low high 650Mhz -6"},
        {"value", "1104", 0x0450, "1104 low high 20Mhz 0"}, // 0x0450
        {"attenuation", "-20", 0x045A, "1114 low high 20Mhz -20"},
        {"bandwidth", "full", 0x041A, "1050 low high full -20"},
        {"full_power", "true", 0x001A, "26 full high full -20"},
        {"high_gain", "false", 0x000A, "10 full normal full -20"},
        {"value", "65535", 0xFFFF, ""},
        {"value", "0", 0x0000, "0 full normal full 0"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.path) + " " + s.text);
        model->ClearWords();
        const std::string path = s.path;
        if (path == "value") {
            EXPECT_EQ(ChipSet(s.path, static_cast<uint32_t>(std::stoul(s.text))), "no error");
        } else if (path == "high_gain" || path == "full_power") {
            EXPECT_EQ(ChipSet(s.path, s.text == "true"), "no error");
        } else {
            EXPECT_EQ(ChipSet(s.path, s.text), "no error");
        }
        EXPECT_EQ(model->GetWords(), (Words{s.word}));
        EXPECT_EQ(model->GetControl(), s.word);
        if (*s.fields) {
            EXPECT_EQ(Fields(), s.fields);
        }
    }

    // Every name of both tables round trips.
    const char* attenuations[] = {"0", "-2", "-4", "-6", "-8", "-10", "-12", "-14", "-16", "-18", "-20"};
    for (int code = 0; code <= 10; ++code) {
        EXPECT_EQ(ChipSet("attenuation", std::string(attenuations[code])), "no error");
        EXPECT_EQ(model->GetControl() & 0x0F, code);
        EXPECT_EQ(ChipGet<std::string>("attenuation"), attenuations[code]);
        EXPECT_EQ(ChipGet<int32_t>("attenuation"), code);
    }
    const char* bandwidths[] = {"full", "20Mhz", "100Mhz", "200Mhz", "350Mhz", "650Mhz", "750Mhz"};
    for (int code = 0; code <= 6; ++code) {
        EXPECT_EQ(ChipSet("bandwidth", std::string(bandwidths[code])), "no error");
        EXPECT_EQ(model->GetControl() >> 6 & 7, code);
        EXPECT_EQ(ChipGet<std::string>("bandwidth"), bandwidths[code]);
    }
}

TEST_F(Lmh6518Test, CodesWithoutANameReadAsInvalidValueAndRefusalsSendNothing)
{
    AddNodes();
    for (uint32_t word : {0x000Bu, 0x000Fu}) {
        EXPECT_EQ(ChipSet("value", word), "no error");
        EXPECT_EQ(ErrorOf([&] { ChipGet<std::string>("attenuation"); }), "ireg node attenuation: invalid value");
        EXPECT_EQ(ErrorOf([&] { ChipGet<int32_t>("attenuation"); }), "ireg node attenuation: invalid value");
    }
    EXPECT_EQ(ChipSet("value", uint32_t{0x01C0}), "no error");
    EXPECT_EQ(ErrorOf([&] { ChipGet<std::string>("bandwidth"); }), "ireg node bandwidth: invalid value");
    EXPECT_EQ(ChipGet<std::string>("attenuation"), "0");

    model->ClearWords();
    const std::pair<const char*, std::string> refusals[] = {
        {"attenuation", "-22"}, {"attenuation", "11"}, {"attenuation", "-2dB"}, {"bandwidth", "20MHz"},
        {"bandwidth", "7"},
    };
    for (const auto& r : refusals) {
        EXPECT_NE(ChipSet(r.first, r.second), "no error") << r.second;
    }
    EXPECT_EQ(ChipSet("value", uint32_t{70000}), "ireg: value: Validation failed: [0, 65535] for 70000");
    EXPECT_EQ(ChipSet("value", uint32_t{65536}), "ireg: value: Validation failed: [0, 65535] for 65536");
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(model->GetControl(), 0x01C0);
}

TEST_F(Lmh6518Test, AFieldSetNotifiesTheWordAndAWordSetEveryField)
{
    AddNodes();
    iregtest::Recorder recorder;
    SubscribeAll(recorder);

    EXPECT_EQ(ChipSet("attenuation", std::string("-6")), "no error");
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(Seen(recorder), (std::vector<std::string>{"value=3", "attenuation=3"}));

    EXPECT_EQ(ChipSet("value", uint32_t{0x0450}), "no error");
    ASSERT_TRUE(recorder.WaitFor(7));
    EXPECT_EQ(Seen(recorder), (std::vector<std::string>{"value=3", "attenuation=3", "full_power=false",
                                                        "high_gain=true", "bandwidth=1", "attenuation=0",
                                                        "value=1104"}));

    // A refused set notifies nobody; a node nobody watches is not notified.
    EXPECT_NE(ChipSet("value", uint32_t{70000}), "no error");
    recorder.Client()->Unregister(mci::Node(ChipNode("value"), mci::c_noRelPath));
    EXPECT_EQ(ChipSet("high_gain", false), "no error");
    ASSERT_TRUE(recorder.WaitFor(8));
    EXPECT_EQ(Seen(recorder).back(), "high_gain=false");
    EXPECT_EQ(Seen(recorder).size(), 8u);
}

TEST_F(Lmh6518Test, AFailedTransferNotifiesNothingAndKeepsTheWord)
{
    AddNodes();
    EXPECT_EQ(ChipSet("value", uint32_t{0x0042}), "no error");
    iregtest::Recorder recorder;
    SubscribeAll(recorder);
    spi->GetController()->SetIdleTimeout(5);
    spiCore->SetBusyStuck(true);
    model->ClearWords();
    EXPECT_EQ(ChipSet("attenuation", std::string("-4")), "ireg: attenuation: Timeout 5 ms expired");
    EXPECT_EQ(ChipSet("value", uint32_t{1}), "ireg: value: Timeout 5 ms expired");
    spiCore->SetBusyStuck(false);
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_EQ(model->GetControl(), 0x0042);
    EXPECT_EQ(Fields(), "66 full normal 20Mhz -4");

    // The next set goes out and is notified; nothing of the failed ones came before it.
    EXPECT_EQ(ChipSet("high_gain", true), "no error");
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(Seen(recorder), (std::vector<std::string>{"value=82", "high_gain=true"}));
}

TEST_F(Lmh6518Test, SetGoesThroughTheNodeOnceTheRegistryIsDefined)
{
    // Before: straight to the chip, but never a word cut to 16 bits.
    EXPECT_FALSE(amp->Set(70000));
    EXPECT_TRUE(model->GetWords().empty());
    EXPECT_TRUE(amp->Set(0x0450));
    EXPECT_EQ(model->GetWords(), (Words{0x0450}));

    AddNodes();
    EXPECT_EQ(Fields(), "1104 low high 20Mhz 0");
    iregtest::Recorder recorder;
    SubscribeAll(recorder);
    EXPECT_FALSE(amp->Set(70000));
    EXPECT_TRUE(amp->Set(0x0003));
    ASSERT_TRUE(recorder.WaitFor(5));
    EXPECT_EQ(model->GetControl(), 0x0003);
    EXPECT_EQ(Seen(recorder).back(), "value=3");
}

} // namespace
