// IPMI sensors over a recording connection: the linear conversion over the record formats,
// names and units, the type mapping, thresholds and their classification, and the loading of
// the record (once, and again after a failed read).

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bmc/board.h"
#include "bmc/ipmi_sensor.h"
#include "common/board_helpers.h"
#include "common/fake_clock.h"
#include "common/host_commands.h"
#include "common/sdr_record.h"
#include "tests/support/error_of.h"

namespace {

using bmctest::Record;
using bmctest::Sdr;
using bmctest::SdrConnection;

// A sensor of the board with URI id 3 over a connection that answers with the record.
struct Fixture {
    explicit Fixture(const Sdr& fields, unsigned int raw = 0, int id = 7)
        : connection(Record(fields), raw), sensor(board, bmc::SensorId(id))
    {
    }

    SdrConnection connection;
    bmc::Board board{bmc::DecomposeUri("kvr:///chassis/3"), &connection};
    bmc::IpmiSensor sensor;
};

TEST(IpmiSensorConvert, LinearFormulaOverTheRecordFormats)
{
    struct Case {
        const char* what;
        Sdr record;
        unsigned char raw;
        double expected;
    };
    const auto with = [](auto change) {
        Sdr s;
        change(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"unsigned, B and both exponents",
         with([](Sdr& s) { s.m = 2, s.b = 10, s.k1 = 1, s.k2 = -1; }), 50, 20.0},
        {"unsigned raw 255 stays positive", with([](Sdr& s) { s.m = 1; }), 255, 255.0},
        {"two's complement", with([](Sdr& s) { s.format = 2; }), 0xFE, -2.0},
        {"two's complement -128", with([](Sdr& s) { s.format = 2; }), 0x80, -128.0},
        {"one's complement", with([](Sdr& s) { s.format = 1; }), 0xFE, -1.0},
        {"one's complement negative zero", with([](Sdr& s) { s.format = 1; }), 0xFF, 0.0},
        {"one's complement -127", with([](Sdr& s) { s.format = 1; }), 0x80, -127.0},
        {"M = -512", with([](Sdr& s) { s.m = -512; }), 1, -512.0},
        {"M = 511", with([](Sdr& s) { s.m = 511; }), 2, 1022.0},
        {"negative B", with([](Sdr& s) { s.b = -3; }), 10, 7.0},
        {"B = -512 with K1 = -8", with([](Sdr& s) { s.b = -512, s.k1 = -8; }), 0, -512e-8},
        {"K2 = -1, K1 = 1", with([](Sdr& s) { s.b = 1, s.k1 = 1, s.k2 = -1; }), 3, 1.3},
        {"K2 = 7", with([](Sdr& s) { s.k2 = 7; }), 3, 3e7},
        {"no analog reading", with([](Sdr& s) { s.format = 3, s.m = 5; }), 9, 0.0},
        {"log2 of 8", with([](Sdr& s) { s.m = 8, s.linearisation = 3; }), 1, 3.0},
        {"OEM linearisation leaves y", with([](Sdr& s) { s.linearisation = 0x70; }), 42, 42.0},
        {"bit 7 of the linearisation byte is not part of it", with([](Sdr& s) { s.linearisation = 0x88; }), 3, 9.0},
    };
    for (const Case& c : cases) {
        const sensor_record record = Record(c.record);
        EXPECT_NEAR(bmc::Convert(&record, c.raw), c.expected, std::abs(c.expected) * 1e-12) << c.what;
    }

    // The bytes of the record as the standard lays them out: M from bytes 24 and 25, the two
    // exponents from byte 29.
    sensor_record bytes{};
    bytes.data[25] = 0x80; // M = -512
    bytes.data[29] = 0xF1; // K2 = -1, K1 = 1
    bytes.data[26] = 1;    // B = 1
    EXPECT_DOUBLE_EQ(bmc::Convert(&bytes, 1), (-512 + 10) * 0.1);
}

TEST(IpmiSensorConvert, EachLinearisationOfFour)
{
    const std::vector<double> expected = {4.0,          std::log(4.0), std::log10(4.0), 2.0,  std::exp(4.0), 1e4,
                                          16.0,         0.25,          16.0,            64.0, 2.0,
                                          std::cbrt(4.0), 4.0 /* 12: unchanged */};
    for (size_t l = 0; l < expected.size(); ++l) {
        Sdr s;
        s.m = 4;
        s.linearisation = static_cast<uint8_t>(l);
        const sensor_record record = Record(s);
        EXPECT_DOUBLE_EQ(bmc::Convert(&record, 1), expected[l]) << l;
    }
    // 1/y of 0 is infinite rather than a failure; the reading says what the record makes of it.
    Sdr inverse;
    inverse.linearisation = 7;
    const sensor_record record = Record(inverse);
    EXPECT_TRUE(std::isinf(bmc::Convert(&record, 0)));
}

TEST(IpmiSensor, NamesAndUnitsFromTheRecord)
{
    struct Case {
        const char* what;
        Sdr record;
        std::string name;
        std::string units;
    };
    const auto with = [](auto change) {
        Sdr s;
        change(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"ID string", with([](Sdr& s) { s.name = "TEMP1"; }), "3-TEMP1", "degrees C"},
        {"no ID string", with([](Sdr&) {}), "3-7", "degrees C"},
        {"ID string that fills its field", with([](Sdr& s) { s.name = "ABCDEFGHIJKLMNOP"; }), "3-ABCDEFGHIJKLMNOP",
         "degrees C"},
        // The bytes of the units are part of the device's name in a device locator record.
        {"device locator", with([](Sdr& s) { s.recordType = 0x12, s.name = "KOZ-MC-12345678"; }), "3-KOZ-MC-12345678",
         ""},
        {"device locator without string", with([](Sdr& s) { s.recordType = 0x12; }), "3-7", ""},
        {"another record type has neither string nor units", with([](Sdr& s) { s.recordType = 0x02, s.name = "X"; }),
         "3-7", ""},
        {"rate modifier", with([](Sdr& s) { s.unit = 4, s.modifierUnit = 22, s.usage = 1; }), "3-7",
         "Volts/second"},
        {"product modifier", with([](Sdr& s) { s.unit = 4, s.modifierUnit = 22, s.usage = 2; }), "3-7",
         "Volts * second"},
        {"usage 3 adds nothing", with([](Sdr& s) { s.unit = 4, s.modifierUnit = 22, s.usage = 3; }), "3-7",
         "Volts"},
        {"last unit of the table", with([](Sdr& s) { s.unit = 90; }), "3-7", "uncorrectable error"},
        {"unit without a name", with([](Sdr& s) { s.unit = 91; }), "3-7", ""},
        {"unit code 255", with([](Sdr& s) { s.unit = 255; }), "3-7", ""},
        {"modifier without a name", with([](Sdr& s) { s.unit = 4, s.modifierUnit = 200, s.usage = 1; }), "3-7",
         "Volts/"},
    };
    for (const Case& c : cases) {
        Fixture f(c.record);
        EXPECT_EQ(f.sensor.GetName(), c.name) << c.what;
        EXPECT_EQ(f.sensor.GetUnits(), c.units) << c.what;
    }

    // An ID string with no zero byte anywhere after it ends with its 16-byte field.
    sensor_record full{};
    full.data[3] = 0x01;
    full.data[47] = 0xDF;
    std::memset(full.data + 48, 'Z', sizeof full.data - 48);
    SdrConnection connection(full);
    bmc::Board board(bmc::DecomposeUri("kvr:///chassis/3"), &connection);
    EXPECT_EQ(bmc::IpmiSensor(board, bmc::SensorId(0)).GetName(), "3-" + std::string(16, 'Z'));
}

TEST(IpmiSensor, TypesFromTheRecord)
{
    struct Case {
        uint8_t recordType;
        uint8_t sensorType;
        unsigned format;
        bmc::SensorType_e type;
    };
    const std::vector<Case> cases = {
        {0x01, 1, 0, bmc::eSensorTypeTemperature}, {0x01, 2, 2, bmc::eSensorTypeVoltage},
        {0x01, 3, 1, bmc::eSensorTypeCurrent},     {0x01, 4, 0, bmc::eSensorTypeFan},
        {0x01, 0xF2, 0, bmc::eSensorTypeHotSwapHandle}, {0x01, 8, 0, bmc::eSensorTypeOtherAnalog},
        {0x01, 1, 3, bmc::eSensorTypeDiscrete},    {0x12, 1, 0, bmc::eSensorTypeMcDevLoc},
        {0x02, 1, 0, bmc::eSensorTypeUnknown},     {0x00, 1, 0, bmc::eSensorTypeUnknown},
    };
    for (const Case& c : cases) {
        Sdr s;
        s.recordType = c.recordType;
        s.sensorType = c.sensorType;
        s.format = c.format;
        Fixture f(s);
        EXPECT_EQ(f.sensor.GetType(), c.type) << +c.recordType << " " << +c.sensorType << " " << c.format;
        EXPECT_EQ(f.sensor.GetRecordType(), c.recordType);
    }
}

TEST(IpmiSensor, ThresholdsAreTheRecordsBytesConvertedAndClassifyReadings)
{
    Sdr s;
    s.m = 2;
    s.k2 = -1; // 0.2 per step
    s.nominal = 250;
    // upper non-recoverable, critical, non-critical; lower non-recoverable, critical, non-critical
    const uint8_t thresholds[6] = {90, 80, 70, 10, 20, 30};
    std::memcpy(s.thresholds, thresholds, sizeof thresholds);
    bmctest::FakeClock clock;
    Fixture f(s);

    const std::vector<std::pair<bmc::SensorReading, double>> limits = {
        {f.sensor.Nominal(), 50.0},         {f.sensor.HighNonRecover(), 18.0}, {f.sensor.HighCritical(), 16.0},
        {f.sensor.HighNonCritical(), 14.0}, {f.sensor.LowNonRecover(), 2.0},   {f.sensor.LowCritical(), 4.0},
        {f.sensor.LowNonCritical(), 6.0},
    };
    for (const auto& [reading, value] : limits) {
        EXPECT_TRUE(reading.IsValid()) << value;
        EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeTemperature) << value;
        EXPECT_DOUBLE_EQ(reading.Converted(), value);
        EXPECT_EQ(reading.Timestamp(), bmctest::FakeClock::Now());
    }

    struct Case {
        unsigned int raw;
        bmc::SensorLimit_e limit;
    };
    for (const Case& c : {Case{5, bmc::eLimitLnr}, Case{15, bmc::eLimitLc}, Case{25, bmc::eLimitLnc},
                          Case{30, bmc::eLimitOk}, Case{50, bmc::eLimitOk}, Case{70, bmc::eLimitOk},
                          Case{75, bmc::eLimitHnc}, Case{85, bmc::eLimitHc}, Case{95, bmc::eLimitHnr}}) {
        const bmc::SensorReading reading =
            f.sensor.Transform(bmc::SensorReading(bmc::eSensorTypeTemperature, c.raw, bmc::Clock::Now(3)));
        EXPECT_EQ(f.sensor.ReadingLimit(reading), c.limit) << c.raw;
    }

    // The printer shows them in its widths.
    std::ostringstream text;
    text << f.sensor;
    EXPECT_EQ(text.str(), " 7, " + std::string(23, ' ') + "3-7,  Temperature [   degrees C],      50,       6,       4,"
                                                         "      18,      16,      14 ");
    // The record was read once for all of it.
    EXPECT_EQ(f.connection.Count(bmc::eCmdReadSDR), 1u);
}

TEST(IpmiSensor, ADiscreteSensorReadsAndLimitsAsDiscreteValues)
{
    Sdr s;
    s.format = 3;
    s.thresholds[0] = 9;
    Fixture f(s, 0x55);
    const bmc::SensorReading reading = f.sensor.Read();
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeDiscrete);
    EXPECT_EQ(reading.ToString(), "discrete value");
    EXPECT_EQ(f.sensor.HighNonRecover().ToString(), "discrete value");
    EXPECT_EQ(f.sensor.ReadingLimit(reading), bmc::eLimitOk);
}

TEST(IpmiSensor, ADeviceLocatorHasNoThresholdsAndNoConversion)
{
    // Its name runs over the bytes where a full record keeps its conversion and thresholds.
    Sdr s;
    s.recordType = 0x12;
    s.name = "ABCDEFGHIJKLMNOP";
    Fixture f(s);
    EXPECT_EQ(f.sensor.GetType(), bmc::eSensorTypeMcDevLoc);
    for (const bmc::SensorReading& limit : {f.sensor.Nominal(), f.sensor.HighCritical(), f.sensor.LowNonCritical()}) {
        EXPECT_FALSE(limit.IsValid());
    }
    const bmc::SensorReading reading = f.sensor.Transform(bmc::SensorReading(bmc::eSensorTypeMcDevLoc, 5, istd::Time(1, 0)));
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.Raw(), 5u);
    EXPECT_TRUE(std::isnan(reading.Converted()));
    EXPECT_EQ(f.sensor.ReadingLimit(reading), bmc::eLimitOk);
}

TEST(IpmiSensor, AReadingIsConvertedFromItsLowByteAndKeepsItsTime)
{
    Sdr s;
    s.m = 3;
    Fixture f(s);
    const istd::Time when(1000, 5);
    // The argument's valid flag plays no part: the raw value is what is converted.
    const bmc::SensorReading reading = f.sensor.Transform(bmc::SensorReading(bmc::eSensorTypeFan, 0x1FF, when));
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeFan);
    EXPECT_EQ(reading.Raw(), 0x1FFu);
    EXPECT_DOUBLE_EQ(reading.Converted(), 3.0 * 0xFF);
    EXPECT_EQ(reading.Timestamp(), when);
}

TEST(IpmiSensor, TheRecordIsReadOnceOnFirstNeedAndAgainAfterAFailedRead)
{
    Sdr s;
    s.name = "VCC";
    s.unit = 4;
    s.m = 2;
    bmctest::FakeClock clock;
    SdrConnection connection(Record(s), 21);
    bmc::Board board(bmc::DecomposeUri("kvr:///chassis/3"), &connection);
    const bmc::IpmiSensor sensor(board, bmc::SensorId(4));
    EXPECT_TRUE(connection.Commands().empty()); // nothing read at construction

    // The first read fails: the caller sees the failure, and the sensor keeps no record.
    const bmctest::RecordingConnection::Handler good = [&](unsigned int command,
                                                           const std::vector<istd::AnyReference>& args,
                                                           istd::AnyReference& result) {
        const bmc::SensorId& id = bmctest::RecordingConnection::_Argument(command, args, 0);
        EXPECT_EQ(id, bmc::SensorId(4));
        if (command == bmc::eCmdReadSDR) {
            result = Record(s);
        } else if (command == bmc::eCmdReadSensor) {
            result = bmc::NewReading(bmctest::RecordingConnection::_Argument(command, args, 1), 21, bmc::Clock::Now(3));
        }
    };
    connection.SetHandler([](unsigned int, const std::vector<istd::AnyReference>&, istd::AnyReference&) {
        throw istd::Exception("bmc: ReadSDR failed reading SDR.");
    });
    EXPECT_EQ(testsupport::ErrorOf([&] { sensor.GetName(); }), "bmc: ReadSDR failed reading SDR.");
    // Inside Read the failure is an invalid reading, cached for the interval.
    EXPECT_FALSE(sensor.Read().IsValid());
    EXPECT_FALSE(sensor.Read().IsValid());
    EXPECT_EQ(connection.Count(bmc::eCmdReadSDR), 2u);

    // The next caller after the failure reads the record again; from then on it is kept.
    connection.SetHandler(good);
    EXPECT_EQ(sensor.GetName(), "3-VCC");
    EXPECT_EQ(sensor.GetUnits(), "Volts");
    bmctest::FakeClock::Advance(11, 0);
    const bmc::SensorReading reading = sensor.Read();
    EXPECT_TRUE(reading.IsValid());
    EXPECT_DOUBLE_EQ(reading.Converted(), 42.0);
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeTemperature);
    sensor.GetType();
    sensor.HighCritical();
    EXPECT_EQ(connection.Count(bmc::eCmdReadSDR), 3u);
    EXPECT_EQ(connection.Count(bmc::eCmdReadSensor), 1u);
}

TEST(IpmiSensor, BoardsOtherThanTheHostListIpmiSensors)
{
    bmctest::IdentityConnection connection(bmctest::Identity(62), 3);
    bmc::Board b(bmc::DecomposeUri("kvr:///chassis/3"), bmc::eBoardPowerMngMain, "", &connection);
    ASSERT_EQ(b.GetSensorsIds().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(dynamic_cast<bmc::IpmiSensor*>(b.GetSensor(bmc::SensorId(i))), nullptr) << i;
    }
    // Listing reads no record.
    EXPECT_EQ(connection.Count(bmc::eCmdReadSDR), 0u);
    EXPECT_NE(b.GetSel(), nullptr);
}

} // namespace
