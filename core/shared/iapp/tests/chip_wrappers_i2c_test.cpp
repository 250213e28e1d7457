// The I2C chip wrappers (LED dimmer, four-channel ADC, SFP module EEPROM and PHY, SPD EEPROM) on
// a simulated board, through the FPGA I2C core model in its memory, down to the chip models:
// what each node write puts into the chip, what each read gives, the refusals that change
// nothing, and the public setters before and after the registry is defined.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/bus_fixture.h"
#include "iapp/devices/i2c_SFP_EEPROM.h"
#include "iapp/devices/i2c_SFP_PHY.h"
#include "iapp/devices/i2c_SPD_EEPROM.h"
#include "iapp/kavrel_i2c_bus_device_ADS7924.h"
#include "iapp/kavrel_i2c_bus_device_PCA9532.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "istd/trace_capture.h"
#include "sim/chips/ads7924.h"
#include "sim/chips/pca9532.h"
#include "sim/chips/sfp_eeprom.h"
#include "sim/chips/sfp_phy.h"
#include "sim/chips/spd_eeprom.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

// One chip model at its address on bus 0 of the I2C controller component "i2c", its wrapper
// "chip" made on it, and the wrapper's nodes in the registry.
template <class Model>
class I2cChipTest : public iapptest::BusBoard {
protected:
    template <class Wrapper>
    Wrapper* Make(std::shared_ptr<Model> chipModel, uint8_t address)
    {
        i2c = MakeI2c(4);
        model = std::move(chipModel);
        i2cCore->Attach(0, address, model);
        return iapp::Create<Wrapper>(*i2c, "chip", bmc::BusDeviceId{0}, address, uint8_t{0});
    }
    void AddNodes() { chip = AddRegistry(*i2c)->GetNode("chip"); }

    std::string GetError(const std::string& path) const
    {
        return ErrorOf([&] { ChipGet<std::string>(path); });
    }
    std::string SetText(const std::string& path, const std::string& text) { return ChipSet(path, text); }

    iapp::KavrelI2cBusController* i2c = nullptr;
    std::shared_ptr<Model> model;
};

// ------------------------------------------------------------------------------------- PCA9532

class Pca9532Test : public I2cChipTest<sim::Pca9532Model> {
protected:
    void SetUp() override
    {
        I2cChipTest::SetUp();
        dimmer = Make<iapp::KavrelPCA9532>(std::make_shared<sim::Pca9532Model>(), sim::Pca9532Model::c_baseAddress);
    }
    std::vector<unsigned> Pins() const
    {
        std::vector<unsigned> modes;
        for (unsigned pin = 0; pin < 16; ++pin) {
            modes.push_back(model->GetLedMode(pin));
        }
        return modes;
    }

    iapp::KavrelPCA9532* dimmer = nullptr;
};

TEST_F(Pca9532Test, ByteRegistersKeepTheLowEightBitsOfAWrite)
{
    AddNodes();
    struct Case {
        const char* path;
        size_t reg;
        uint32_t value;
        uint8_t stored;
    };
    const Case cases[] = {
        {"prescaler_0", 2, 0, 0},     {"prescaler_0", 2, 151, 151}, {"pwm_0", 3, 255, 255},
        {"pwm_0", 3, 256, 0},         {"pwm_0", 3, 300, 44},        {"prescaler_1", 4, 0x1FF, 0xFF},
        {"pwm_1", 5, 0xFFFFFFFF, 0xFF}, {"pwm_1", 5, 7, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.value));
        EXPECT_EQ(ChipSet(c.path, c.value), "no error");
        EXPECT_EQ(model->Get(c.reg), c.stored);
        EXPECT_EQ(ChipGet<uint32_t>(c.path), c.stored);
        EXPECT_EQ(ChipNode(c.path)->GetFlags(), 6u);
    }
    // Every read asks the chip.
    model->Set(3, 0x5A);
    EXPECT_EQ(ChipGet<uint32_t>("pwm_0"), 0x5Au);

    model->SetInputs(0xFFFF);
    EXPECT_EQ(ChipGet<uint32_t>("pin_state"), 65535u);
    model->SetInputs(0x8001);
    EXPECT_EQ(ChipGet<uint32_t>("pin_state"), 0x8001u);
    EXPECT_EQ(ChipNode("pin_state")->GetFlags(), 2u);
    EXPECT_EQ(ChipSet("pin_state", uint32_t{1}), "Node is not writable.");
}

TEST_F(Pca9532Test, ModesTakeNamesAndCodesAndARefusedTextChangesNoPin)
{
    AddNodes();
    EXPECT_EQ(ChipNode("modes")->GetFlags(), 0x206u);
    EXPECT_EQ(ChipNode("modes")->GetSize(), 16u);

    // By name and by code, one pin at a time.
    const std::pair<std::string, unsigned> writes[] = {{"2", 2}, {"Blink1", 3}, {"On", 1}, {"0", 0}, {"+1", 1},
                                                       {"Off", 0}, {"Blink0", 2}};
    const char* names[] = {"Off", "On", "Blink0", "Blink1"};
    for (const auto& w : writes) {
        SCOPED_TRACE(w.first);
        EXPECT_EQ(ChipSet("modes", w.first, 5), "no error");
        EXPECT_EQ(model->GetLedMode(5), w.second);
        EXPECT_EQ(ChipGet<std::string>("modes", 5), names[w.second]);
    }

    // Every refusal leaves every pin as it was.
    const std::vector<unsigned> before = Pins();
    const std::pair<std::vector<std::string>, std::pair<size_t, std::string>> refusals[] = {
        {{"blink0"}, {0, "ireg: modes: Invalid integer value"}},
        {{"4"}, {0, "ireg: modes: Invalid enum value"}},
        {{"-1"}, {0, "ireg: modes: Invalid enum value"}},
        {{"4294967297"}, {0, "ireg: modes: Invalid enum value"}}, // no wrap onto code 1
        {{" 1"}, {0, "ireg: modes: Invalid integer value"}},
        {{""}, {0, "ireg: modes: Invalid integer value"}},
        {{"On", "Blink1", "blink"}, {0, "ireg: modes: Invalid integer value"}},
        {{"On", "On"}, {15, "ireg: modes: Size too large"}},
        {{"On"}, {16, "ireg: modes: Position out of range"}},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.second.second);
        EXPECT_EQ(ChipSet("modes", r.first, r.second.first), r.second.second);
        EXPECT_EQ(Pins(), before);
    }

    // A run across two selector registers, then reads from any position.
    EXPECT_EQ(ChipSet("modes", std::vector<std::string>{"Blink1", "1", "Blink0"}, 2), "no error");
    EXPECT_EQ(ChipSet("modes", std::vector<std::string>{"On", "Blink0"}, 14), "no error");
    std::vector<std::string> tail;
    ChipNode("modes")->Get(tail, 14, 2, mci::c_noRelPath);
    EXPECT_EQ(tail, (std::vector<std::string>{"On", "Blink0"}));
    std::vector<std::string> all;
    ChipNode("modes")->Get(all, 0, 0, mci::c_noRelPath);
    EXPECT_EQ(all, (std::vector<std::string>{"Off", "Off", "Blink1", "On", "Blink0", "Blink0", "Off", "Off", "Off",
                                             "Off", "Off", "Off", "Off", "Off", "On", "Blink0"}));
}

TEST_F(Pca9532Test, OnePinSettersGoThroughTheNodeOnceItExists)
{
    // Before the registry: straight to the chip, with the driver's refusal past pin 15.
    EXPECT_TRUE(dimmer->SetMode("Blink1", 15));
    EXPECT_EQ(model->GetLedMode(15), 3u);
    std::string text;
    EXPECT_TRUE(dimmer->GetMode(text, 15));
    EXPECT_EQ(text, "Blink1");
    EXPECT_EQ(ErrorOf([&] { dimmer->SetMode("On", 16); }), "Start index is out of range");

    AddNodes();
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(ChipNode("modes")));
    EXPECT_TRUE(dimmer->SetMode("On", 3));
    EXPECT_EQ(model->GetLedMode(3), 1u);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.Received().front().position, 3u);
    EXPECT_EQ(ErrorOf([&] { dimmer->SetMode("On", 16); }), "ireg: modes: Position out of range");
    EXPECT_EQ(ErrorOf([&] { dimmer->SetMode("on", 3); }), "ireg: modes: Invalid integer value");
    EXPECT_TRUE(dimmer->GetMode(text, 3));
    EXPECT_EQ(text, "On");
}

TEST_F(Pca9532Test, ADimmerThatRefusesDataKeepsItsRegisters)
{
    AddNodes();
    EXPECT_EQ(ChipSet("pwm_1", uint32_t{9}), "no error");
    model->SetNackData(true);
    const std::string pwm = ChipSet("pwm_1", uint32_t{10});
    EXPECT_EQ(pwm.rfind("ireg: pwm_1: ", 0), 0u) << pwm;
    EXPECT_NE(ChipSet("modes", std::string("On"), 0), "no error");
    model->SetNackData(false);
    EXPECT_EQ(model->Get(5), 9);
    EXPECT_EQ(model->GetLedMode(0), 0u);

    model->SetAnswering(false);
    EXPECT_EQ(ErrorOf([&] { ChipGet<uint32_t>("pwm_1"); }).rfind("ireg node pwm_1: ", 0), 0u);
}

// ------------------------------------------------------------------------------------- ADS7924

class Ads7924Test : public I2cChipTest<sim::Ads7924Model> {
protected:
    void SetUp() override
    {
        I2cChipTest::SetUp();
        auto adcModel = std::make_shared<sim::Ads7924Model>();
        adcModel->Set(1, 0x0F); // every alarm enabled before
        adc = Make<iapp::ADS7924>(adcModel, sim::Ads7924Model::c_address);
    }

    iapp::ADS7924* adc = nullptr;
};

TEST_F(Ads7924Test, ConstructionRoutesGroundAndDisablesTheAlarms)
{
    AddNodes();
    EXPECT_EQ(model->Get(0x15) & 0x80, 0x80);
    EXPECT_EQ(model->Get(1) & 0x0F, 0);
    EXPECT_EQ(ChipGet<std::string>("calibration_channel"), "gnd");
    for (const char* input : {"A", "B", "C", "D"}) {
        EXPECT_FALSE(ChipGet<bool>(std::string("channels/") + input + "/alarm/enabled")) << input;
    }
    EXPECT_EQ(ChipGet<uint32_t>("device_id"), sim::Ads7924Model::c_deviceId);

    // An ADC that does not answer makes no wrapper.
    auto absent = std::make_shared<sim::Ads7924Model>();
    absent->SetAnswering(false);
    i2cCore->Attach(0, 0x49, absent);
    EXPECT_NE(ErrorOf([&] { iapp::Create<iapp::ADS7924>(*i2c, "absent", bmc::BusDeviceId{1}, uint8_t{0x49}, uint8_t{0}); }),
              "no error");
    EXPECT_EQ(i2c->GetChildren().size(), 1u);
}

TEST_F(Ads7924Test, EachSettingChangesItsFieldAndKeepsTheRestOfItsRegister)
{
    AddNodes();
    struct Case {
        const char* path;
        const char* text;
        size_t reg;
        uint8_t mask;
        uint8_t bits;
    };
    // The bits of each register that the chip defines; the others are written 0.
    const auto defined = [](size_t reg) { return reg == 0x13 ? 0x77 : reg == 0x14 ? 0x1F : 0xFF; };
    const Case cases[] = {
        {"conv_mode", "single", 0x13, 0x40, 0x40},
        {"conv_mode", "continuous", 0x13, 0x40, 0x00},
        {"sleep_time", "640ms", 0x13, 0x37, 0x37},
        {"sleep_time", "625us", 0x13, 0x37, 0x20},
        {"sleep_time", "2560ms", 0x13, 0x37, 0x17},
        {"sleep_time", "5ms", 0x13, 0x37, 0x01},
        {"acquire_time", "36us", 0x14, 0x1F, 15},
        {"acquire_time", "6us", 0x14, 0x1F, 0},
        {"power/up_time", "30us", 0x15, 0x1F, 15},
        {"power/up_time", "4us", 0x15, 0x1F, 2},
        {"power/out_pin/polarity", "high", 0x15, 0x40, 0x40},
        {"power/out_pin/polarity", "low", 0x15, 0x40, 0x00},
        {"interrupt/alarm_counter", "7", 0x12, 0xE0, 0xE0},
        {"interrupt/alarm_counter", "every", 0x12, 0xE0, 0x00},
        {"interrupt/mode", "busy_all", 0x12, 0x1C, 0x1C},
        {"interrupt/mode", "single_single", 0x12, 0x1C, 0x08},
        {"interrupt/polarity", "high", 0x12, 0x02, 0x02},
        {"interrupt/polarity", "low", 0x12, 0x02, 0x00},
        {"interrupt/trigger_mode", "edge", 0x12, 0x01, 0x01},
        {"interrupt/trigger_mode", "level", 0x12, 0x01, 0x00},
    };
    for (const Case& c : cases) {
        for (uint8_t others : {uint8_t{0x00}, uint8_t{0xFF}}) {
            SCOPED_TRACE(std::string(c.path) + " " + c.text + " over " + std::to_string(others));
            // The power-up register's top bit is the mux output's, which only the calibration
            // channel changes.
            const uint8_t preset = static_cast<uint8_t>(others & ~c.mask);
            model->Set(c.reg, preset);
            EXPECT_EQ(SetText(c.path, c.text), "no error");
            EXPECT_EQ(model->Get(c.reg), (preset & defined(c.reg)) | c.bits);
            EXPECT_EQ(ChipGet<std::string>(c.path), c.text);
            EXPECT_EQ(ChipNode(c.path)->GetFlags(), 6u);
        }
    }

    // The pin's enable is the pin-mode bit.
    model->Set(0x15, 0xDF);
    EXPECT_EQ(ChipSet("power/out_pin/enable", false), "no error");
    EXPECT_EQ(model->Get(0x15), 0xDF);
    EXPECT_EQ(ChipSet("power/out_pin/enable", true), "no error");
    EXPECT_EQ(model->Get(0x15), 0xFF);
    EXPECT_TRUE(ChipGet<bool>("power/out_pin/enable"));
}

TEST_F(Ads7924Test, SleepTimesReadAsTheTimeTheChipsCodeAndFlagsGive)
{
    AddNodes();
    const std::pair<uint8_t, const char*> cases[] = {
        {0x12, "80ms"},   // code 2, × 8
        {0x20, "625us"},  // code 0, / 4
        {0x33, "40ms"},   // code 3, × 8 / 4
        {0x07, "320ms"},  {0x00, "2500us"}, {0x47, "320ms"}, // conversion mode bit aside
    };
    for (const auto& c : cases) {
        model->Set(0x13, c.first);
        EXPECT_EQ(ChipGet<std::string>("sleep_time"), c.second) << int(c.first);
    }
    // A time that is no row of the table is refused before the chip is touched.
    model->Set(0x13, 0x40);
    EXPECT_EQ(SetText("sleep_time", "3000"), "ireg: sleep_time: Invalid enum value");
    EXPECT_EQ(model->Get(0x13), 0x40);
}

TEST_F(Ads7924Test, ModesChannelsAndCalibration)
{
    AddNodes();
    const char* modes[] = {"idle", "awake", "manual_single", "manual_scan", "auto_single", "auto_scan",
                           "auto_single_sleep", "auto_scan_sleep", "auto_burst_sleep"};
    const unsigned codes[] = {0, 32, 48, 50, 49, 51, 57, 59, 63};
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(SetText("mode", modes[i]), "no error");
        EXPECT_EQ(model->GetMode(), codes[i]);
        EXPECT_EQ(ChipGet<std::string>("mode"), modes[i]);
    }
    EXPECT_EQ(model->GetModeViolations(), 0u);
    EXPECT_EQ(SetText("mode", "IDLE"), "ireg: mode: Invalid integer value");
    EXPECT_EQ(SetText("mode", "33"), "ireg: mode: Invalid enum value");

    EXPECT_EQ(SetText("calibration_channel", "channel_2"), "no error");
    EXPECT_EQ(model->Get(0x15) & 0x80, 0);
    EXPECT_EQ(model->GetMuxChannel(), 2u);
    EXPECT_EQ(ChipGet<std::string>("calibration_channel"), "channel_2");
    EXPECT_EQ(SetText("calibration_channel", "gnd"), "no error");
    EXPECT_EQ(model->Get(0x15) & 0x80, 0x80);
    EXPECT_EQ(model->GetMuxChannel(), 2u);

    // A conversion of input C, read through its node.
    model->SetInput(2, 0xABC);
    EXPECT_EQ(SetText("mode", "awake"), "no error");
    EXPECT_EQ(ChipGet<uint32_t>("channels/C/data"), 0xABCu);
    EXPECT_EQ(ChipGet<std::string>("last_acquired_channel"), "channel_2");
    EXPECT_EQ(ChipNode("last_acquired_channel")->GetFlags(), 2u);
    EXPECT_EQ(ChipSet("channels/C/data", uint32_t{1}), "Node is not writable.");

    // A code without a name reads as "invalid value".
    model->Set(0x14, 20);
    EXPECT_EQ(GetError("acquire_time"), "ireg node acquire_time: invalid value");
}

TEST_F(Ads7924Test, AlarmLimitsEnablesAndStatus)
{
    AddNodes();
    EXPECT_EQ(ChipSet("channels/A/alarm/limits/upper", uint32_t{300}), "no error");
    EXPECT_EQ(model->Get(0x0A), 44);
    EXPECT_EQ(ChipGet<uint32_t>("channels/A/alarm/limits/upper"), 44u);
    EXPECT_EQ(ChipSet("channels/D/alarm/limits/lower", uint32_t{0x7F}), "no error");
    EXPECT_EQ(model->Get(0x11), 0x7F);

    EXPECT_EQ(ChipSet("channels/B/alarm/enabled", true), "no error");
    EXPECT_EQ(ChipSet("channels/D/alarm/enabled", true), "no error");
    EXPECT_EQ(model->Get(1) & 0x0F, 0x0A);
    EXPECT_EQ(ChipSet("channels/B/alarm/enabled", false), "no error");
    EXPECT_EQ(model->Get(1) & 0x0F, 0x08);
    EXPECT_TRUE(ChipGet<bool>("channels/D/alarm/enabled"));

    model->Set(1, 0x28); // input B in alarm
    EXPECT_TRUE(ChipGet<bool>("channels/B/alarm/status"));
    EXPECT_FALSE(ChipGet<bool>("channels/D/alarm/status"));

    EXPECT_EQ(ChipSet("reset", std::string("Execute")), "no error");
    EXPECT_EQ(model->GetResets(), 1u);
}

TEST_F(Ads7924Test, PublicSettersGoThroughTheNodesOnceTheRegistryIsDefined)
{
    // Before: straight to the chip; a sleep time outside the table touches nothing.
    adc->SetMode(bmc::ADS7924::eAwake);
    EXPECT_EQ(model->GetMode(), 32u);
    adc->SetPwrPinEnable(true);
    EXPECT_EQ(model->Get(0x15) & 0x20, 0x20);
    model->Set(0x13, 0x40);
    EXPECT_EQ(ErrorOf([&] { adc->SetSleepTime(iapp::ADS7924::tSleepTime(3000)); }),
              "Sleep time 3000 is not supported.");
    EXPECT_EQ(model->Get(0x13), 0x40);

    AddNodes();
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(ChipNode("mode")));
    ASSERT_TRUE(recorder.Subscribe(ChipNode("power/out_pin/enable")));
    adc->SetMode(bmc::ADS7924::eIdle);
    adc->SetPwrPinEnable(false);
    adc->SetCalibrationChannel(iapp::ADS7924::eCalChannel1);
    adc->SetSleepTime(iapp::ADS7924::tSleepTime(1280000));
    adc->SetConversionMode(bmc::ADS7924::tConversionMode(0));
    adc->SetAcquireTime(bmc::ADS7924::tAcquireTime(3));
    adc->SetPwrUpTime(bmc::ADS7924::tPwrUpTime(4));
    adc->SetPwrPinPolarity(bmc::ADS7924::tPwrPinPolarity(1));
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(model->GetMode(), 0u);
    EXPECT_EQ(model->Get(0x13), 0x16);
    EXPECT_EQ(model->Get(0x14), 3);
    EXPECT_EQ(model->Get(0x15), 0x44);
    EXPECT_EQ(model->GetMuxChannel(), 1u);
    EXPECT_EQ(ErrorOf([&] { adc->SetSleepTime(iapp::ADS7924::tSleepTime(3000)); }),
              "ireg: sleep_time: invalid value");

    // The power pin's setter refuses a constant node with the node's prefix, and passes a
    // bus failure on with it.
    model->SetNackData(true);
    EXPECT_EQ(ErrorOf([&] { adc->SetPwrPinEnable(true); }).rfind("ireg: enable: ", 0), 0u);
    model->SetNackData(false);
    ChipNode("power/out_pin/enable")->SetFlags(mci::enums::eConstant);
    EXPECT_EQ(ErrorOf([&] { adc->SetPwrPinEnable(true); }), "ireg: enable: Node is a constant.");
    EXPECT_EQ(model->Get(0x15) & 0x20, 0);
}

TEST_F(Ads7924Test, AnAdcThatRefusesDataKeepsItsConfiguration)
{
    AddNodes();
    model->Set(0x12, 0x55);
    model->SetNackData(true);
    EXPECT_NE(SetText("interrupt/polarity", "low"), "no error");
    EXPECT_NE(ChipSet("channels/A/alarm/limits/upper", uint32_t{3}), "no error");
    model->SetNackData(false);
    EXPECT_EQ(model->Get(0x12), 0x55);
    EXPECT_EQ(model->Get(0x0A), 0);
}

// ------------------------------------------------------------------------------------------ SFP

using SfpEepromTest = I2cChipTest<sim::SfpEepromModel>;

TEST_F(SfpEepromTest, TheVendorIsTheNameAndThePartUpToTheirZeroBytes)
{
    auto* sfp = Make<iapp::SFP_EEPROM>(std::make_shared<sim::SfpEepromModel>(), 0x11); // the address is not used
    i2cCore->Detach(0, 0x11);
    i2cCore->Attach(0, sim::SfpEepromModel::c_address, model);
    // No node of its own: the controller's node shows only "devices".
    EXPECT_EQ(AddRegistry(*i2c)->GetAllNodes().size(), 1u);

    std::string vendor;
    EXPECT_TRUE(sfp->GetVendor(vendor));
    EXPECT_EQ(vendor, "SIMULATED       SFP-SIM-1G      1.0 ");

    // No zero byte anywhere: the two fields whole, 36 bytes.
    model->SetField(20, 16, std::string(16, 'V'));
    model->SetField(40, 20, std::string(20, 'P'));
    EXPECT_TRUE(sfp->GetVendor(vendor));
    EXPECT_EQ(vendor, std::string(16, 'V') + std::string(20, 'P'));

    model->SetField(20, 16, "AB", '\0');
    model->SetField(40, 20, "", '\0');
    EXPECT_TRUE(sfp->GetVendor(vendor));
    EXPECT_EQ(vendor, "AB");
    model->SetField(20, 16, "", '\0');
    EXPECT_FALSE(sfp->GetVendor(vendor));
    EXPECT_EQ(vendor, "");

    model->SetAnswering(false);
    EXPECT_NE(ErrorOf([&] { sfp->GetVendor(vendor); }), "no error");
}

using SfpPhyTest = I2cChipTest<sim::SfpPhyModel>;

TEST_F(SfpPhyTest, SetUpWritesTheControlWordsAndTheStatusIsTheSecondReading)
{
    auto* phy = Make<iapp::SFP_PHY>(std::make_shared<sim::SfpPhyModel>(), sim::SfpPhyModel::c_address);
    EXPECT_EQ(AddRegistry(*i2c)->GetAllNodes().size(), 1u);
    EXPECT_EQ(model->GetMessageCount(), 0u);

    i2cCore->ClearTraces();
    phy->IsolateDisable();
    phy->SetSgmii();
    EXPECT_EQ(model->GetWord(0), 0x4091);
    EXPECT_EQ(model->GetWord(27), 0x8490);
    // One message per word: the register, then the word high byte first.
    std::vector<std::string> writes;
    for (const sim::I2cEvent& e : i2cCore->GetEvents()) {
        if (e.kind == sim::I2cEvent::eStart || e.kind == sim::I2cEvent::eWrite) {
            writes.push_back(e.ToString());
        }
    }
    const std::vector<std::string> sequence = {
        "START 0xac ACK", "WRITE 0x00 ACK", "WRITE 0x40 ACK", "WRITE 0x11 ACK",
        "START 0xac ACK", "WRITE 0x1b ACK", "WRITE 0x84 ACK", "WRITE 0x90 ACK",
        "START 0xac ACK", "WRITE 0x00 ACK", "WRITE 0x40 ACK", "WRITE 0x91 ACK",
    };
    EXPECT_EQ(writes, sequence);

    // The link bit latches low: after the link came up the first reading still shows it down.
    model->SetLink(true);
    uint16_t status = 0;
    EXPECT_TRUE(phy->GetStatus(status));
    EXPECT_EQ(status & 0x04, 0x04);
    EXPECT_EQ(model->GetStatusReads(), 2u);

    model->SetNackData(true);
    EXPECT_NE(ErrorOf([&] { phy->IsolateDisable(); }), "no error");
    model->SetNackData(false);
    EXPECT_EQ(model->GetWord(0), 0x4091);
}

// ------------------------------------------------------------------------------------------ SPD

class SpdTest : public I2cChipTest<sim::SpdEepromModel> {
protected:
    using Image = sim::SpdEepromModel::Image;
    using Values = std::vector<std::pair<std::string, uint32_t>>;

    // The SPD with the bytes given (the rest zero), its CRC sealed unless told otherwise.
    static Image Spd(const std::vector<std::pair<size_t, uint8_t>>& bytes, bool seal = true)
    {
        Image image{};
        for (const auto& b : bytes) {
            image[b.first] = b.second;
        }
        if (seal) {
            sim::SpdEepromModel::SealImage(image);
        }
        return image;
    }

    Values Read()
    {
        i2c = MakeI2c(4);
        model = std::make_shared<sim::SpdEepromModel>();
        model->SetImage(image);
        i2cCore->Attach(0, sim::SpdEepromModel::c_address, model);
        iapp::Create<iapp::SPD_EEPROM>(*i2c, "chip", bmc::BusDeviceId{0}, uint8_t{0}, uint8_t{0});
        AddNodes();
        Values values;
        for (const mci::TreeNodePtr& child : chip->GetAllNodes()) {
            uint32_t value = 0;
            child->Get(value, 0, mci::c_noRelPath);
            values.emplace_back(child->GetName(), value);
        }
        return values;
    }

    Image image{};
};

// Bytes common to the two modules: DDR3-1333 timings.
const std::vector<std::pair<size_t, uint8_t>> c_timings = {
    {12, 0x0C}, {18, 0x6B}, {19, 0x30}, {20, 0x6B}, {21, 0x11}, {22, 0x20}, {24, 0x70},
    {25, 0x03}, {26, 0x3C}, {27, 0x3C}, {28, 0x00}, {29, 0xF0},
};

std::vector<std::pair<size_t, uint8_t>> With(std::vector<std::pair<size_t, uint8_t>> bytes)
{
    bytes.insert(bytes.end(), c_timings.begin(), c_timings.end());
    return bytes;
}

TEST_F(SpdTest, ModulesDecodeToTheirGeometryAndTimings)
{
    struct Case {
        const char* module;
        std::vector<std::pair<size_t, uint8_t>> bytes;
        uint32_t capacity, ranks, banks, rows, columns;
    };
    const Case cases[] = {
        // 2 Gb x8 dies, one rank, 64-bit bus: 2048 / 8 * 64 / 8 * 1.
        {"2 GiB", {{0, 0x92}, {4, 0x03}, {5, 0x19}, {7, 0x01}, {8, 0x03}}, 2048, 1, 3, 15, 10},
        // 4 Gb x8 dies, two ranks: 4096 / 8 * 64 / 8 * 2.
        {"8 GiB", {{0, 0x92}, {4, 0x04}, {5, 0x21}, {7, 0x09}, {8, 0x03}}, 8192, 2, 3, 16, 10},
        // 4 Gb x16 dies, two ranks.
        {"4 GiB", {{4, 0x04}, {5, 0x19}, {7, 0x0A}, {8, 0x03}}, 4096, 2, 3, 15, 10},
        // 8 Gb x4 dies with 16 banks, four ranks, 32-bit bus, the largest rows and columns.
        {"32 GiB", {{4, 0x15}, {5, 0x2B}, {7, 0x18}, {8, 0x02}}, 32768, 4, 4, 17, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module);
        image = Spd(With(c.bytes));
        const Values expected = {
            {"capacity", c.capacity}, {"rank_width", c.ranks}, {"bank_width", c.banks}, {"row_width", c.rows},
            {"column_width", c.columns}, {"Trcd", 0x6B * 125}, {"Tfaw", 240 * 125}, {"Tras", 288 * 125},
            {"Tck", 12 * 125}, {"Twtr", 60 * 125}, {"Trtp", 60 * 125}, {"Trrd", 48 * 125}, {"Trp", 0x6B * 125},
            {"Trfc", 880 * 125}, {"Trefi", 7800},
        };
        EXPECT_EQ(Read(), expected);
        TearDown();
        SetUp();
    }
}

TEST_F(SpdTest, ReservedCodesDecodeToZeroAndNeverDivide)
{
    struct Case {
        const char* what;
        std::vector<std::pair<size_t, uint8_t>> bytes;
        Values expected; // the first five nodes
    };
    const Case cases[] = {
        {"device width 4 (would be 0)", {{4, 0x03}, {5, 0x19}, {7, 0x04}, {8, 0x03}},
         {{"capacity", 0}, {"rank_width", 1}, {"bank_width", 3}, {"row_width", 15}, {"column_width", 10}}},
        {"ranks 5, bus width 7", {{4, 0x03}, {5, 0x19}, {7, 0x29}, {8, 0x07}},
         {{"capacity", 0}, {"rank_width", 0}, {"bank_width", 3}, {"row_width", 15}, {"column_width", 10}}},
        {"density 15, banks 15", {{4, 0xFF}, {5, 0x19}, {7, 0x01}, {8, 0x03}},
         {{"capacity", 0}, {"rank_width", 1}, {"bank_width", 0}, {"row_width", 15}, {"column_width", 10}}},
        {"rows 7, columns 7", {{4, 0x03}, {5, 0x3F}, {7, 0x01}, {8, 0x03}},
         {{"capacity", 2048}, {"rank_width", 1}, {"bank_width", 3}, {"row_width", 0}, {"column_width", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        image = Spd(c.bytes);
        istd::TraceCapture capture(istd::eTraceWarning);
        const Values values = Read();
        EXPECT_EQ(Values(values.begin(), values.begin() + 5), c.expected);
        EXPECT_EQ(values.back(), (std::pair<std::string, uint32_t>("Trefi", 7800)));
        EXPECT_TRUE(capture.Contains("SPD byte ")) << capture.Text();
        TearDown();
        SetUp();
    }
}

TEST_F(SpdTest, AnImageWhoseCrcFailsDescribesNoModule)
{
    image = Spd(With({{4, 0x03}, {5, 0x19}, {7, 0x01}, {8, 0x03}}));
    image[18] ^= 1;
    istd::TraceCapture capture(istd::eTraceError);
    const Values values = Read();
    EXPECT_TRUE(capture.Contains("SpdEeprom not present"));
    for (const auto& v : values) {
        EXPECT_EQ(v.second, v.first == "Trefi" ? 7800u : 0u) << v.first;
    }
    EXPECT_EQ(values.size(), 15u);
}

TEST_F(SpdTest, EveryNodeIsReadOnlyAndKeepsTheValueOfConstruction)
{
    image = sim::SpdEepromModel::Ddr3Image(true);
    const Values values = Read();
    EXPECT_EQ(values.front(), (std::pair<std::string, uint32_t>("capacity", 2048)));
    const size_t messages = model->GetMessageCount();
    model->SetImage(Spd({}));
    for (const mci::TreeNodePtr& child : chip->GetAllNodes()) {
        SCOPED_TRACE(child->GetName());
        EXPECT_EQ(child->GetFlags(), 2u);
        EXPECT_EQ(ChipSet(child->GetName(), uint32_t{1}), "Node is not writable.");
        EXPECT_EQ(ErrorOf([&] { child->Set(std::string("1"), 0, mci::c_noRelPath); }), "Node is not writable.");
    }
    EXPECT_EQ(ChipGet<uint32_t>("capacity"), 2048u);
    EXPECT_EQ(model->GetMessageCount(), messages);
}

TEST_F(SpdTest, AnEepromThatDoesNotAnswerMakesNoWrapper)
{
    i2c = MakeI2c(4);
    model = std::make_shared<sim::SpdEepromModel>();
    model->SetAnswering(false);
    i2cCore->Attach(0, sim::SpdEepromModel::c_address, model);
    EXPECT_NE(ErrorOf([&] { iapp::Create<iapp::SPD_EEPROM>(*i2c, "chip", bmc::BusDeviceId{0}, uint8_t{0}, uint8_t{0}); }),
              "no error");
    EXPECT_TRUE(i2c->GetChildren().empty());
}

} // namespace
