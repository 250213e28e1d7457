// Bad input that clients send to the chip wrappers' nodes, through the remote-node servant in
// this process as their requests reach it: values out of range, wrong types, positions and counts
// beyond arrays, and enumeration and command texts that are no names. Each is refused with its
// text before anything reaches a bus.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bus_fixture.h"
#include "common/remote_servant.h"
#include "iapp/devices/i2c_SI5338.h"
#include "iapp/devices/spi_CDCE72010.h"
#include "iapp/kavrel_i2c_bus_device_SI57x.h"
#include "iapp/kavrel_spi_bus_device_AD9510.h"
#include "iapp/kavrel_spi_bus_device_DAC8552.h"
#include "iapp/kavrel_spi_bus_device_DAC8581.h"
#include "sim/chips/ad9510.h"
#include "sim/chips/cdce72010.h"
#include "sim/chips/dac8552.h"
#include "sim/chips/dac8581.h"
#include "sim/chips/si5338.h"
#include "sim/chips/si57x.h"

namespace {

using iapptest::RemoteServant;

class RemoteBusDevices : public iapptest::BusBoard {
protected:
    void SetUp() override
    {
        BusBoard::SetUp();
        auto* spi = MakeSpi(4);
        dac8552 = std::make_shared<sim::Dac8552Model>();
        ad9510 = std::make_shared<sim::Ad9510Model>();
        dac8581 = std::make_shared<sim::Dac8581Model>();
        cdce = std::make_shared<sim::Cdce72010Model>();
        spiCore->Attach(0, dac8552);
        spiCore->Attach(1, ad9510);
        spiCore->Attach(2, dac8581);
        spiCore->Attach(3, cdce);
        iapp::Create<iapp::DAC8552>(*spi, "DAC8552", bmc::BusDeviceId{0});
        iapp::Create<iapp::AD9510>(*spi, "AD9510", bmc::BusDeviceId{1}, nullptr);
        iapp::Create<iapp::DAC8581>(*spi, "DAC8581", bmc::BusDeviceId{2});
        iapp::Create<iapp::CDCE72010>(*spi, "CDCE72010", bmc::BusDeviceId{3});
        AddRegistry(*spi);

        auto* i2c = MakeI2c(2);
        i2cCore->Attach(1, sim::Si5338Model::c_address, std::make_shared<sim::Si5338Model>());
        osc = std::make_shared<sim::Si57xModel>();
        i2cCore->Attach(2, sim::Si57xModel::c_address, osc);
        iapp::Create<iapp::SI5338>(*i2c, "SI5338", bmc::BusDeviceId{0}, uint8_t{0x70}, uint8_t{1});
        iapp::Create<iapp::SI57x>(*i2c, "SI57x", bmc::BusDeviceId{1}, uint8_t{0x55}, uint8_t{2});
        AddRegistry(*i2c);

        remote = std::make_unique<RemoteServant>(registry);
    }

    void TearDown() override
    {
        remote.reset();
        BusBoard::TearDown();
    }

    // Everything the buses carried so far.
    size_t BusSteps() const { return spiCore->GetEvents().size() + i2cCore->GetEvents().size(); }

    template <class T>
    static CORBA::Any U32(T v)
    {
        return RemoteServant::One<i_NET::UInt32Buffer>(CORBA::ULong(v));
    }
    static CORBA::Any I32(CORBA::Long v) { return RemoteServant::One<i_NET::Int32Buffer>(v); }
    static CORBA::Any I64(CORBA::LongLong v) { return RemoteServant::One<i_NET::Int64Buffer>(v); }
    static CORBA::Any U64(CORBA::ULongLong v) { return RemoteServant::One<i_NET::UInt64Buffer>(v); }
    static CORBA::Any F64(CORBA::Double v) { return RemoteServant::One<i_NET::DoubleBuffer>(v); }
    static CORBA::Any Text(const char* v) { return RemoteServant::One<i_NET::StringBuffer>(v); }
    static CORBA::Any Bool(bool v)
    {
        i_NET::BooleanBuffer values;
        values.length(1);
        values[0] = v;
        CORBA::Any any;
        any <<= values;
        return any;
    }

    struct WriteCase {
        const char* path;
        CORBA::Any value;
        CORBA::ULong position;
        const char* answer;
    };
    void ExpectAnswers(const std::vector<WriteCase>& cases)
    {
        for (const WriteCase& c : cases) {
            EXPECT_EQ(remote->Write(c.path, c.value, c.position), c.answer) << c.path;
        }
    }

    std::shared_ptr<sim::Dac8552Model> dac8552;
    std::shared_ptr<sim::Ad9510Model> ad9510;
    std::shared_ptr<sim::Dac8581Model> dac8581;
    std::shared_ptr<sim::Cdce72010Model> cdce;
    std::shared_ptr<sim::Si57xModel> osc;
    std::unique_ptr<RemoteServant> remote;
};

TEST_F(RemoteBusDevices, ValuesOutOfRangeAreRefusedBeforeAnyTransfer)
{
    const size_t steps = BusSteps();
    ExpectAnswers({
        {"spi/DAC8552/output/A", U32(65536), 0, "ValueException: ireg: A: Validation failed: [0, 65535] for 65536"},
        {"spi/DAC8552/output/B", U32(0xFFFFFFFFu), 0,
         "ValueException: ireg: B: Validation failed: [0, 65535] for 4294967295"},
        {"spi/DAC8581/value", I32(32768), 0, "ValueException: ireg: value: Validation failed: [-32768, 32767] for 32768"},
        {"spi/DAC8581/value", I32(-32769), 0,
         "ValueException: ireg: value: Validation failed: [-32768, 32767] for -32769"},
        {"spi/AD9510/register/addr", U32(91), 0, "ValueException: ireg: addr: Validation failed: [0, 90] for 91"},
        {"spi/AD9510/register/addr", U32(0x2000), 0, "ValueException: ireg: addr: Validation failed: [0, 90] for 8192"},
        {"spi/AD9510/register/value", U32(256), 0, "ValueException: ireg: value: Validation failed: [0, 255] for 256"},
        {"spi/AD9510/divA", U32(64), 0, "ValueException: ireg: divA: Validation failed: [0, 63] for 64"},
        {"spi/AD9510/divR", U32(16384), 0, "ValueException: ireg: divR: Validation failed: [0, 16383] for 16384"},
        {"spi/CDCE72010/reg_5", U32(0x10000000), 0, "ValueException: ireg: reg_5: Invalid register value"},
        // The clock generator's settings come from the configuration file, not from clients.
        {"i2c/SI5338/pll_kphi", U32(0), 0, "ValueException: Node is not writable."},
        {"i2c/SI5338/pll_kphi", U32(50), 0, "ValueException: Node is not writable."},
    });
    EXPECT_EQ(BusSteps(), steps);
    EXPECT_EQ(remote->Read("spi/AD9510/register/addr"), "0");
}

TEST_F(RemoteBusDevices, ValuesOfAnotherTypeAreRefused)
{
    const size_t steps = BusSteps();
    ExpectAnswers({
        {"spi/DAC8552/output/A", I64(5), 0,
         "ValueException: ireg: A: [...]: Invalid type int64_t in validation."},
        {"spi/DAC8552/output/A", Text("5"), 0,
         "ValueException: ireg: A: [...]: Invalid type std::string in validation."},
        {"spi/DAC8581/value", U32(5), 0, "ValueException: ireg: value: [...]: Invalid type uint32_t in validation."},
        {"spi/DAC8581/value", F64(5.0), 0, "ValueException: ireg: value: [...]: Invalid type double in validation."},
        {"spi/CDCE72010/reg_1", I32(5), 0,
         "ValueException: ireg: reg_1: reg_1: unsupported argument type while setting a node value"},
        {"spi/CDCE72010/reg_1", U64(5), 0,
         "ValueException: ireg: reg_1: reg_1: unsupported argument type while setting a node value"},
        {"spi/AD9510/enable", I32(1), 0,
         "ValueException: ireg: enable: enable: unsupported argument type while setting a node value"},
        {"spi/AD9510/enable", Text("true"), 0,
         "ValueException: ireg: enable: enable: unsupported argument type while setting a node value"},
        {"i2c/SI57x/frequency", Bool(true), 0,
         "ValueException: ireg: frequency: frequency: unsupported argument type while setting a node value"},
        {"spi/DAC8552/mode", F64(1.0), 0,
         "ValueException: ireg: mode: mode: unsupported argument type while setting a node value"},
        {"spi/devices", Text("x"), 0, "ValueException: Node is not writable."},
    });
    EXPECT_EQ(BusSteps(), steps);
}

TEST_F(RemoteBusDevices, PositionsAndCountsBeyondTheArrays)
{
    // Reads give what lies inside the array; a position beyond it is refused.
    EXPECT_EQ(remote->Read("spi/devices"), "[DAC8552, AD9510, DAC8581, CDCE72010]");
    EXPECT_EQ(remote->Read("spi/devices", 1, 1), "[AD9510]");
    EXPECT_EQ(remote->Read("spi/devices", 3, 9), "[CDCE72010]");
    EXPECT_EQ(remote->Read("spi/devices", 4, 1), "ValueException: ireg node devices: Position out of range");
    EXPECT_EQ(remote->Read("i2c/devices", 2), "ValueException: ireg node devices: Position out of range");
    for (const char* array : {"Ms_P1", "Ms_P2", "Ms_P3"}) {
        const std::string path = std::string("i2c/SI5338/") + array;
        EXPECT_EQ(remote->Read(path, 4, 3).front(), '[') << path;
        EXPECT_EQ(remote->Read(path, 5, 1), std::string("ValueException: ireg node ") + array + ": Position out of range");
    }
    EXPECT_EQ(remote->Read("i2c/SI5338/out_Dx"), "[1, 1, 1, 1]");
    EXPECT_EQ(remote->Read("i2c/SI5338/out_Dx", 4, 1), "ValueException: ireg node out_Dx: Position out of range");
    // Scalars have one position.
    EXPECT_EQ(remote->Read("spi/DAC8581/value", 1), "ValueException: ireg node value: Position out of range");

    const size_t steps = BusSteps();
    ExpectAnswers({
        {"spi/DAC8581/value", I32(1), 1, "ValueException: ireg: value: Position out of range"},
        {"spi/DAC8552/output/A", RemoteServant::Values<i_NET::UInt32Buffer>(std::vector<CORBA::ULong>{1, 2}), 0,
         "ValueException: ireg: A: Size too large"},
        {"spi/devices", Text("x"), 9, "ValueException: Node is not writable."},
        {"i2c/SI5338/Ms_P1", U32(1), 5, "ValueException: Node is not writable."},
    });
    EXPECT_EQ(BusSteps(), steps);
}

TEST_F(RemoteBusDevices, EnumerationAndCommandTextsThatAreNoNames)
{
    ASSERT_EQ(remote->Write("spi/DAC8552/mode", Text("power_down")), "ok");
    const size_t steps = BusSteps();
    ExpectAnswers({
        {"spi/DAC8552/mode", Text("Normal"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("POWER_DOWN"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text(" 1"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("1 "), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("1e3"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("0x1"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text(""), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("99999999999999999999"), 0, "ValueException: Invalid integer value"},
        {"spi/DAC8552/mode", Text("4"), 0, "ValueException: Invalid enum value"},
        {"spi/DAC8552/mode", Text("-1"), 0, "ValueException: Invalid enum value"},
        {"spi/DAC8552/mode", Text("+7"), 0, "ValueException: Invalid enum value"},
        {"spi/DAC8552/mode", Text("4294967296"), 0, "ValueException: Invalid enum value"},
        {"spi/DAC8552/mode", I32(4), 0, "ValueException: ireg: mode: invalid value"},
        {"spi/DAC8552/mode", I64(4294967296 + 1), 0, "ValueException: ireg: mode: invalid value"},
        {"spi/AD9510/init", Text("execute"), 0, "ValueException: Invalid integer value"},
        {"spi/AD9510/init", Text("237"), 0, "ValueException: Invalid enum value"},
        {"spi/AD9510/register/flush", I32(1), 0, "ValueException: ireg: flush: invalid value"},
        {"i2c/SI57x/apply", Text("Apply"), 0, "ValueException: Invalid integer value"},
    });
    EXPECT_EQ(BusSteps(), steps);
    EXPECT_EQ(remote->Read("spi/DAC8552/mode"), "0"); // nothing was written since: still "normal"

    // A decimal text with a sign is a number of the table, as the registry reads enumeration texts.
    EXPECT_EQ(remote->Write("spi/DAC8552/mode", Text("+1")), "ok");
    EXPECT_EQ(remote->Write("spi/DAC8552/output/A", U32(7)), "ok");
    EXPECT_EQ(dac8552->GetPowerDown(0), 1u);

    // The commands run from their name and number.
    EXPECT_EQ(remote->Write("i2c/SI57x/apply", Text("Execute")), "ok");
    EXPECT_EQ(osc->GetApplies(), 1u);
    EXPECT_EQ(remote->Write("i2c/SI57x/apply", I32(238)), "ok");
    EXPECT_EQ(osc->GetApplies(), 2u);
}

} // namespace
