#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bmc/board.h"
#include "bmc/clock.h"
#include "bmc/sensor.h"
#include "common/fake_clock.h"
#include "common/recording_connection.h"
#include "common/test_sensor.h"

namespace {

using bmc::SensorReading;
using bmctest::FakeClock;
using bmctest::TestSensor;
using bmctest::Thresholds;

constexpr double c_nan = std::numeric_limits<double>::quiet_NaN();

TEST(SensorReading, ConstructorsFillTheirFields)
{
    const istd::Time t(1000, 5);
    struct Case {
        const char* what;
        SensorReading reading;
        bool valid;
        bmc::SensorType_e type;
        unsigned int raw;
        std::string text;
        double converted;
        istd::Time timestamp;
    };
    const std::vector<Case> cases = {
        {"none", SensorReading(), false, bmc::eSensorTypeUnknown, 0, "", c_nan, istd::Time(0, 0)},
        {"time", SensorReading(t), false, bmc::eSensorTypeUnknown, 0, "", c_nan, t},
        {"type raw converted time", SensorReading(bmc::eSensorTypeVoltage, 7, 1.5, t), true, bmc::eSensorTypeVoltage,
         7, "", 1.5, t},
        {"type raw time", SensorReading(bmc::eSensorTypeFan, 9, t), true, bmc::eSensorTypeFan, 9, "", c_nan, t},
        {"text time", SensorReading("discrete value", t), true, bmc::eSensorTypeDiscrete, 0, "discrete value",
         c_nan, t},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.reading.IsValid(), c.valid) << c.what;
        EXPECT_EQ(c.reading.SensorType(), c.type) << c.what;
        EXPECT_EQ(c.reading.Raw(), c.raw) << c.what;
        EXPECT_EQ(c.reading.DiscreteValue(), c.text) << c.what;
        if (std::isnan(c.converted)) {
            EXPECT_TRUE(std::isnan(c.reading.Converted())) << c.what;
        } else {
            EXPECT_EQ(c.reading.Converted(), c.converted) << c.what;
        }
        EXPECT_EQ(c.reading.Timestamp(), c.timestamp) << c.what;
        // Readings show their time as a UTC date and time.
        EXPECT_EQ(c.reading.Timestamp().Presentation(), 2) << c.what;
        EXPECT_TRUE(c.reading.Timestamp().IsUtc()) << c.what;
    }
}

TEST(SensorReading, TheSensorFormIsConvertedByItsSensor)
{
    bmctest::RecordingConnection connection;
    bmc::Board board(bmc::DecomposeUri("kvr:///chassis/3"), &connection);
    const TestSensor sensor(board, bmc::SensorId(0));
    const SensorReading reading(bmc::eSensorTypeTemperature, 170, istd::Time(5, 0), &sensor);
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.Raw(), 170u);
    EXPECT_EQ(reading.Converted(), 85.0);
    EXPECT_EQ(reading.Timestamp(), istd::Time(5, 0));
    EXPECT_THROW(SensorReading(bmc::eSensorTypeTemperature, 1, istd::Time(5, 0), nullptr), istd::Exception);
}

TEST(SensorReading, TextForms)
{
    EXPECT_EQ(SensorReading().ToString(), "not valid");
    EXPECT_EQ(SensorReading("door open", istd::Time(1, 0)).ToString(), "door open");
    EXPECT_EQ(SensorReading(bmc::eSensorTypeTemperature, 170, 42.5, istd::Time(1, 0)).ToString(), "42.5 (170)");
    EXPECT_EQ(SensorReading(bmc::eSensorTypeUnknown, 12, istd::Time(1, 0)).ToString(), "nan (12)");

    std::ostringstream os;
    os << SensorReading() << " | " << SensorReading(bmc::eSensorTypeVoltage, 3, 1.25, istd::CreateTime("2010-04-30 12:00:00"));
    EXPECT_EQ(os.str(), "1970-01-01 00:00:00, not valid | 2010-04-30 12:00:00, 1.25 (3)");

    EXPECT_EQ(bmc::ToString(5u), "<5>");
    std::ostringstream id;
    id << bmc::SensorId(-3);
    EXPECT_EQ(id.str(), "-3");
}

// A board in chassis slot 3 whose connection answers command 3 with the raw value the test
// sets, stamped by the library's clock, or fails as the test asks.
class SensorCache : public ::testing::Test {
protected:
    enum Mode { eAnswer, eIstdFailure, eOtherFailure };

    void SetUp() override
    {
        connection.SetHandler([this](unsigned int command, const std::vector<istd::AnyReference>& args,
                                     istd::AnyReference& result) {
            ASSERT_EQ(command, bmc::eCmdReadSensor);
            const bmc::SensorId& id = args.at(0);
            EXPECT_EQ(id, bmc::SensorId(4));
            if (mode == eIstdFailure) {
                throw istd::Exception("bmc: ReadSensor failed reading sensor data.", true);
            }
            if (mode == eOtherFailure) {
                throw std::runtime_error("not an istd failure");
            }
            result = bmc::NewReading(args.at(1), raw, bmc::Clock::Now(3));
        });
    }

    void TearDown() override { bmc::Sensor::SetReadingInterval(istd::Time(10, 0)); }

    size_t Fetches() const { return connection.Count(bmc::eCmdReadSensor); }

    FakeClock clock;
    bmctest::RecordingConnection connection;
    bmc::Board board{bmc::DecomposeUri("kvr:///chassis/3"), &connection};
    TestSensor sensor{board, bmc::SensorId(4)};
    Mode mode = eAnswer;
    unsigned int raw = 80;
};

TEST_F(SensorCache, TheFirstReadFetchesAndConverts)
{
    const SensorReading reading = sensor.Read();
    EXPECT_EQ(Fetches(), 1u);
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeTemperature);
    EXPECT_EQ(reading.Raw(), 80u);
    EXPECT_EQ(reading.Converted(), 40.0);
    EXPECT_EQ(reading.Timestamp(), FakeClock::Now());
}

TEST_F(SensorCache, AReadingNoOlderThanTheIntervalIsServedFromTheCache)
{
    const SensorReading first = sensor.Read();
    raw = 90;
    FakeClock::Advance(5, 0);
    EXPECT_EQ(sensor.Read().Timestamp(), first.Timestamp());
    FakeClock::Advance(5, 0); // exactly the interval
    EXPECT_EQ(sensor.Read().Raw(), 80u);
    EXPECT_EQ(Fetches(), 1u);

    FakeClock::Advance(0, 1);
    const SensorReading second = sensor.Read();
    EXPECT_EQ(Fetches(), 2u);
    EXPECT_EQ(second.Raw(), 90u);
    EXPECT_EQ(second.Timestamp(), FakeClock::Now());
}

TEST_F(SensorCache, AnIstdFailureIsCachedAsAnInvalidReading)
{
    mode = eIstdFailure;
    const istd::Time callTime = FakeClock::Now();
    const SensorReading failed = sensor.Read();
    EXPECT_FALSE(failed.IsValid());
    EXPECT_EQ(failed.Timestamp(), callTime);
    EXPECT_EQ(failed.ToString(), "not valid");
    EXPECT_EQ(sensor.ReadingLimit(failed), bmc::eLimitNa);

    mode = eAnswer;
    FakeClock::Advance(10, 0);
    EXPECT_FALSE(sensor.Read().IsValid());
    EXPECT_EQ(Fetches(), 1u);

    FakeClock::Advance(0, 1);
    EXPECT_TRUE(sensor.Read().IsValid());
    EXPECT_EQ(Fetches(), 2u);
}

TEST_F(SensorCache, OtherFailuresPassAndKeepTheLastReading)
{
    sensor.Read();
    FakeClock::Advance(11, 0);
    mode = eOtherFailure;
    EXPECT_THROW(sensor.Read(), std::runtime_error);

    // Nothing was cached for the failure: the next read fetches again.
    mode = eAnswer;
    raw = 20;
    EXPECT_EQ(sensor.Read().Raw(), 20u);
    EXPECT_EQ(Fetches(), 3u);
}

TEST_F(SensorCache, AReadingStampedAfterNowIsNotServed)
{
    sensor.Read();
    FakeClock::Advance(-3600, 0); // the host clock was set back an hour
    raw = 60;
    EXPECT_EQ(sensor.Read().Raw(), 60u);
    EXPECT_EQ(Fetches(), 2u);
    EXPECT_EQ(sensor.Read().Raw(), 60u);
    EXPECT_EQ(Fetches(), 2u);
}

TEST_F(SensorCache, TheIntervalCanBeChangedForAllOrOverriddenByAKind)
{
    bmc::Sensor::SetReadingInterval(istd::Time(1, 0));
    EXPECT_EQ(sensor.MinReadInterval(), istd::Time(1, 0));
    sensor.Read();
    FakeClock::Advance(1, 500000000);
    sensor.Read();
    EXPECT_EQ(Fetches(), 2u);

    class UncachedSensor : public TestSensor {
    public:
        using TestSensor::TestSensor;
        istd::Time MinReadInterval() const override { return istd::Time(0, 0); }
    };
    bmc::Sensor::SetReadingInterval(istd::Time(10, 0));
    UncachedSensor uncached(board, bmc::SensorId(4));
    uncached.Read();
    FakeClock::Advance(0, 1);
    uncached.Read();
    EXPECT_EQ(Fetches(), 4u);
}

TEST_F(SensorCache, ABoardWithoutConnectionGivesInvalidReadings)
{
    bmc::Board lonely(bmc::DecomposeUri("kvr:///chassis;hpi/3"), nullptr);
    TestSensor orphan(lonely, bmc::SensorId(0));
    EXPECT_FALSE(orphan.Read().IsValid());
    try {
        orphan.FetchSensorReading();
        ADD_FAILURE() << "fetched without a connection";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "bmc: board has no connection");
    }
    EXPECT_EQ(&sensor.Connection(), &connection);
}

struct LimitCase {
    double value;
    bmc::SensorLimit_e limit;
};

void ExpectLimits(const bmc::Sensor& sensor, const std::vector<LimitCase>& cases)
{
    for (const LimitCase& c : cases) {
        const SensorReading reading(bmc::eSensorTypeTemperature, 0, c.value, istd::Time(1, 0));
        EXPECT_EQ(sensor.ReadingLimit(reading), c.limit) << "value " << c.value;
    }
}

class SensorLimits : public ::testing::Test {
protected:
    bmctest::RecordingConnection connection;
    bmc::Board board{bmc::DecomposeUri("kvr:///chassis/3"), &connection};
};

TEST_F(SensorLimits, EachThresholdBandAtAndAroundItsLimits)
{
    Thresholds t;
    t.lowNonRecover = -20;
    t.lowCritical = -10;
    t.lowNonCritical = 0;
    t.highNonCritical = 50;
    t.highCritical = 60;
    t.highNonRecover = 70;
    const TestSensor sensor(board, bmc::SensorId(0), bmc::eSensorTypeTemperature, t);
    ExpectLimits(sensor, {{-20.5, bmc::eLimitLnr}, {-20, bmc::eLimitLc},   {-10.5, bmc::eLimitLc},
                          {-10, bmc::eLimitLnc},   {-0.5, bmc::eLimitLnc}, {0, bmc::eLimitOk},
                          {25, bmc::eLimitOk},     {50, bmc::eLimitOk},    {50.5, bmc::eLimitHnc},
                          {60, bmc::eLimitHnc},    {60.5, bmc::eLimitHc},  {70, bmc::eLimitHc},
                          {70.5, bmc::eLimitHnr},  {c_nan, bmc::eLimitOk}});
    EXPECT_EQ(sensor.ReadingLimit(SensorReading(istd::Time(1, 0))), bmc::eLimitNa);
}

TEST_F(SensorLimits, MissingLimitsNeverMatch)
{
    const TestSensor none(board, bmc::SensorId(0));
    ExpectLimits(none, {{-1e300, bmc::eLimitOk}, {0, bmc::eLimitOk}, {1e300, bmc::eLimitOk}});

    Thresholds t; // no non-recoverable limits
    t.lowCritical = 5;
    t.lowNonCritical = 10;
    t.highNonCritical = 70;
    t.highCritical = 85;
    const TestSensor critical(board, bmc::SensorId(1), bmc::eSensorTypeTemperature, t);
    ExpectLimits(critical, {{-100, bmc::eLimitLc}, {7, bmc::eLimitLnc}, {100, bmc::eLimitHc}, {80, bmc::eLimitHnc}});

    Thresholds zek; // the limits of a board's FPGA temperature sensors
    zek.lowNonCritical = 15;
    zek.highNonCritical = 70;
    zek.highCritical = 80;
    const TestSensor fpga(board, bmc::SensorId(2), bmc::eSensorTypeTemperature, zek);
    ExpectLimits(fpga, {{14.9, bmc::eLimitLnc}, {75, bmc::eLimitHnc}, {80, bmc::eLimitHnc}, {80.5, bmc::eLimitHc}});
}

TEST_F(SensorLimits, ADiscreteSensorIsOkForEveryValidReading)
{
    Thresholds t;
    t.highNonCritical = 1;
    const TestSensor discrete(board, bmc::SensorId(0), bmc::eSensorTypeDiscrete, t);
    EXPECT_EQ(discrete.ReadingLimit(SensorReading("discrete value", istd::Time(1, 0))), bmc::eLimitOk);
    ExpectLimits(discrete, {{1000, bmc::eLimitOk}});
    EXPECT_EQ(discrete.ReadingLimit(SensorReading()), bmc::eLimitNa);
}

TEST_F(SensorLimits, TheBaseHasNoThresholds)
{
    FakeClock clock;
    const TestSensor sensor(board, bmc::SensorId(0));
    for (const SensorReading& limit : {sensor.Nominal(), sensor.LowNonRecover(), sensor.LowCritical(),
                                       sensor.LowNonCritical(), sensor.HighNonCritical(), sensor.HighCritical(),
                                       sensor.HighNonRecover()}) {
        EXPECT_FALSE(limit.IsValid());
        EXPECT_EQ(limit.Timestamp(), FakeClock::Now());
    }
}

TEST_F(SensorLimits, ASensorPrintsItsLimitsInFixedWidths)
{
    Thresholds t;
    t.nominal = 40;
    t.lowNonCritical = 10;
    t.lowCritical = 5;
    t.highNonCritical = 70;
    t.highCritical = 85;
    t.highNonRecover = 127;
    const TestSensor sensor(board, bmc::SensorId(4), bmc::eSensorTypeTemperature, t);
    std::ostringstream os;
    os << sensor;
    EXPECT_EQ(os.str(), " 4, " + std::string(23, ' ') + "TS1,  Temperature [   degrees C],      40,      10,       5,"
                        "     127,      85,      70 ");

    const TestSensor bare(board, bmc::SensorId(12), bmc::eSensorTypeCpu);
    std::ostringstream bareText;
    bareText << bare;
    EXPECT_EQ(bareText.str(), "12, " + std::string(23, ' ') + "TS1,          CPU [   degrees C],     nan,     nan,"
                              "     nan,     nan,     nan,     nan ");
}

TEST_F(SensorLimits, ASensorThatCannotBePrintedWritesNothing)
{
    const TestSensor noTypeName(board, bmc::SensorId(0), static_cast<bmc::SensorType_e>(13));
    std::ostringstream os;
    os << "before|";
    try {
        os << noTypeName;
        ADD_FAILURE() << "printed a type without a name";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid value");
    }
    EXPECT_EQ(os.str(), "before|");
}

} // namespace
