// The host connection over stand-ins of libsensors and libstatgrab: monitoring chips this
// machine does not have, and the failure paths of both libraries. No test here reads a CPU
// figure from a working sampler (that starts its thread): see os_connection_threads_test.cpp.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <sensors/error.h>

#include "istd/trace_capture.h"
#include "bmc/board.h"
#include "bmc/ipmi_connection.h"
#include "bmc/os_connection.h"
#include "common/fake_clock.h"
#include "common/fake_lm_sensors.h"
#include "common/fake_statgrab.h"
#include "common/host_commands.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;
using bmctest::FakeLmSensors;
using bmctest::FakeStatgrab;
using bmctest::ReadHostSensor;
using bmctest::SensorCount;
using bmctest::SensorRecord;
using Feature = FakeLmSensors::Feature;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint64_t GiB = 1ull << 30;

// Two chips: the first with a feature of every type, the second without a printable name and
// with inputs that cannot be read. Their features get ids 9 to 18 and 19 to 20.
std::vector<FakeLmSensors::Chip> Chips()
{
    return {
        {"acpitz-acpi-0",
         {
             Feature{SENSORS_FEATURE_TEMP,
                     "temp1",
                     {{SENSORS_SUBFEATURE_TEMP_INPUT, 42.5},
                      {SENSORS_SUBFEATURE_TEMP_MIN, 5},
                      {SENSORS_SUBFEATURE_TEMP_MAX, 80},
                      {SENSORS_SUBFEATURE_TEMP_CRIT, 95}},
                     {}},
             Feature{SENSORS_FEATURE_FAN,
                     std::nullopt,
                     {{SENSORS_SUBFEATURE_FAN_INPUT, 1200},
                      {SENSORS_SUBFEATURE_FAN_MIN, 300},
                      {SENSORS_SUBFEATURE_FAN_MAX, 5000}},
                     {}},
             Feature{SENSORS_FEATURE_IN,
                     "Vcore",
                     {{SENSORS_SUBFEATURE_IN_INPUT, 1.2},
                      {SENSORS_SUBFEATURE_IN_MIN, 0.8},
                      {SENSORS_SUBFEATURE_IN_MAX, 1.5}},
                     {}},
             Feature{SENSORS_FEATURE_POWER,
                     "power1",
                     {{SENSORS_SUBFEATURE_POWER_INPUT, 65}, {SENSORS_SUBFEATURE_POWER_MAX, 100}},
                     {}},
             Feature{SENSORS_FEATURE_ENERGY, "energy1", {{SENSORS_SUBFEATURE_ENERGY_INPUT, 1000}}, {}},
             Feature{SENSORS_FEATURE_CURR,
                     "curr1",
                     {{SENSORS_SUBFEATURE_CURR_INPUT, 2.5},
                      {SENSORS_SUBFEATURE_CURR_MIN, 0.5},
                      {SENSORS_SUBFEATURE_CURR_MAX, 3},
                      {SENSORS_SUBFEATURE_CURR_CRIT, 4}},
                     {}},
             Feature{SENSORS_FEATURE_HUMIDITY, "humidity1", {{SENSORS_SUBFEATURE_HUMIDITY_INPUT, 40}}, {}},
             Feature{SENSORS_FEATURE_VID, "cpu0_vid", {{SENSORS_SUBFEATURE_VID, 1.1}}, {}},
             Feature{SENSORS_FEATURE_INTRUSION, "intrusion0", {{SENSORS_SUBFEATURE_INTRUSION_ALARM, 0}}, {}},
             Feature{SENSORS_FEATURE_BEEP_ENABLE, "beep_enable", {{SENSORS_SUBFEATURE_BEEP_ENABLE, 1}}, {}},
         }},
        {std::nullopt,
         {
             Feature{SENSORS_FEATURE_TEMP,
                     "temp2",
                     {{SENSORS_SUBFEATURE_TEMP_MAX, 70}},
                     {SENSORS_SUBFEATURE_TEMP_INPUT}},
             Feature{SENSORS_FEATURE_TEMP, "temp3", {}, {SENSORS_SUBFEATURE_TEMP_MIN}},
         }},
    };
}

void ExpectLimit(double actual, double expected, const std::string& what)
{
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << what << ": " << actual;
    } else {
        EXPECT_DOUBLE_EQ(actual, expected) << what;
    }
}

class OsConnectionFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeStatgrab::Reset();
        FakeLmSensors::Reset(Chips());
    }

    std::unique_ptr<bmc::OsConnection> Make()
    {
        return std::make_unique<bmc::OsConnection>(bmc::c_localOSUri, libraries);
    }

    bmctest::FakeClock clock;
    const bmc::OsConnection::Libraries libraries = FakeLmSensors::Libraries();
};

TEST_F(OsConnectionFake, TheFixedFiguresComeFirstAndEveryFeatureFollows)
{
    istd::TraceCapture capture(istd::eTraceError);
    auto connection = Make();
    ASSERT_EQ(SensorCount(*connection), 21u);

    struct Row {
        const char* name;
        const char* units;
        bmc::SensorType_e type;
        double lowNonCritical, highNonCritical, highCritical;
    };
    const Row rows[] = {
        {"TOTAL", "Bytes", bmc::eSensorTypeMemory, NaN, NaN, NaN},
        {"USED", "Bytes", bmc::eSensorTypeMemory, NaN, NaN, NaN},
        {"CASHED", "Bytes", bmc::eSensorTypeMemory, NaN, NaN, NaN},
        {"IDLE", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"USER", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"KERNEL", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"IOWAIT", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"SWAP", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"NICE", "Percentages", bmc::eSensorTypeCpu, NaN, NaN, NaN},
        {"acpitz-acpi-0::temp1", "Degrees C", bmc::eSensorTypeTemperature, 5, 80, 95},
        {"acpitz-acpi-0::Unknown", "RPM", bmc::eSensorTypeFan, 300, NaN, NaN},
        {"acpitz-acpi-0::Vcore", "Volts", bmc::eSensorTypeVoltage, 0.8, 1.5, NaN},
        {"acpitz-acpi-0::power1", "Watt", bmc::eSensorTypePower, NaN, NaN, NaN},
        {"acpitz-acpi-0::energy1", "Joule", bmc::eSensorTypeEnergy, NaN, NaN, NaN},
        {"acpitz-acpi-0::curr1", "Ampere", bmc::eSensorTypeCurrent, 0.5, 3, NaN},
        {"acpitz-acpi-0::humidity1", "UNKNOWN", bmc::eSensorTypeUnknown, NaN, NaN, NaN},
        {"acpitz-acpi-0::cpu0_vid", "Volts", bmc::eSensorTypeVoltage, NaN, NaN, NaN},
        {"acpitz-acpi-0::intrusion0", "UNKNOWN", bmc::eSensorTypeUnknown, NaN, NaN, NaN},
        {"acpitz-acpi-0::beep_enable", "UNKNOWN", bmc::eSensorTypeUnknown, NaN, NaN, NaN},
        {"Unknown::temp2", "Degrees C", bmc::eSensorTypeTemperature, NaN, 70, NaN},
        {"Unknown::temp3", "Degrees C", bmc::eSensorTypeTemperature, NaN, NaN, NaN},
    };
    for (int id = 0; id < 21; ++id) {
        const Row& row = rows[id];
        const bmc::SDRos record = SensorRecord(*connection, id);
        EXPECT_EQ(record.figure, id < 9 ? id : 9) << row.name;
        EXPECT_EQ(record.name, row.name);
        EXPECT_EQ(record.units, row.units) << row.name;
        EXPECT_EQ(record.type, row.type) << row.name;
        ExpectLimit(record.lowNonCritical, row.lowNonCritical, std::string(row.name) + " low non-critical");
        ExpectLimit(record.highNonCritical, row.highNonCritical, std::string(row.name) + " high non-critical");
        ExpectLimit(record.highCritical, row.highCritical, std::string(row.name) + " high critical");
    }
    for (const char* trace : {"bmc: Failed to get chip name", "bmc: Failed to get feature name",
                              "bmc: feature type converted to unknown. Original type is 6",
                              "bmc: feature type converted to unknown. Original type is 17",
                              "bmc: feature type converted to unknown. Original type is 24"}) {
        EXPECT_TRUE(capture.Contains(trace)) << trace;
    }
}

TEST_F(OsConnectionFake, FeaturesReadTheirInputOrFail)
{
    auto connection = Make();
    const std::string unsupported = "bmc: ReadSensor failed - unsupported sensor type.";
    const std::string unreadable = "bmc: ReadSensor failed reading value.";
    struct Row {
        int id;
        double value;       // when error is empty
        std::string error;
    };
    const Row rows[] = {
        {9, 42.5, ""},  {10, 1200, ""},       {11, 1.2, ""},  {12, 65, ""},
        {13, 0, unsupported}, {14, 2.5, ""},  {15, 0, unsupported}, {16, 1.1, ""},
        {17, 0, unsupported}, {18, 0, unsupported},
        // An input that cannot be read, and one that is missing, fail rather than read NaN.
        {19, 0, unreadable}, {20, 0, unreadable},
    };
    for (const Row& row : rows) {
        if (!row.error.empty()) {
            EXPECT_EQ(ErrorOf([&] { ReadHostSensor(*connection, row.id); }), row.error) << row.id;
            continue;
        }
        const bmc::SensorReading reading = ReadHostSensor(*connection, row.id, bmc::eSensorTypeOtherAnalog);
        EXPECT_TRUE(reading.IsValid()) << row.id;
        EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeOtherAnalog) << "the type comes from the request";
        EXPECT_EQ(reading.Raw(), 0u) << row.id;
        EXPECT_DOUBLE_EQ(reading.Converted(), row.value) << row.id;
        EXPECT_EQ(reading.Timestamp(), bmctest::FakeClock::Now()) << row.id;
    }
    FakeLmSensors::SetValue(0, 0, SENSORS_SUBFEATURE_TEMP_INPUT, 51.25);
    EXPECT_DOUBLE_EQ(ReadHostSensor(*connection, 9).Converted(), 51.25) << "values are read on every request";
}

TEST_F(OsConnectionFake, IdsPastTheListAreRefused)
{
    auto connection = Make();
    EXPECT_EQ(SensorRecord(*connection, 20).name, "Unknown::temp3");
    for (const int id : {21, 22, -1, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
        EXPECT_EQ(ErrorOf([&] { ReadHostSensor(*connection, id); }), "bmc: reading unavailable sensor.") << id;
        EXPECT_EQ(ErrorOf([&] { SensorRecord(*connection, id); }), "bmc: reading unavailable sensor.") << id;
    }
}

TEST_F(OsConnectionFake, WithoutLibsensorsTheNineFiguresAreTheSensors)
{
    FakeLmSensors::SetInitResult(-SENSORS_ERR_KERNEL);
    {
        istd::TraceCapture capture(istd::eTraceError);
        auto connection = Make();
        EXPECT_TRUE(
            capture.Contains("bmc: Failed to initialize sensors. OS system statistics for sensors will not work!"));
        EXPECT_EQ(SensorCount(*connection), 9u);
        EXPECT_EQ(SensorRecord(*connection, 8).name, "NICE");
        EXPECT_EQ(ErrorOf([&] { SensorRecord(*connection, 9); }), "bmc: reading unavailable sensor.");
    }
    // What the failed initialisation left is released once; the next connection tries again.
    EXPECT_EQ(FakeLmSensors::Calls("sensorsCleanup"), 1u);
    FakeLmSensors::SetInitResult(0);
    EXPECT_EQ(SensorCount(*Make()), 21u);
    EXPECT_EQ(FakeLmSensors::Calls("sensorsInit"), 2u);
}

TEST_F(OsConnectionFake, OneConnectionsCleanUpLeavesTheOthersHandlesValid)
{
    auto first = Make();
    auto second = Make();
    EXPECT_EQ(FakeLmSensors::Calls("sensorsInit"), 1u);
    first.reset();
    EXPECT_EQ(FakeLmSensors::Calls("sensorsCleanup"), 0u);
    EXPECT_DOUBLE_EQ(ReadHostSensor(*second, 9).Converted(), 42.5);
    EXPECT_EQ(FakeLmSensors::StaleUses(), 0u);
    second.reset();
    EXPECT_EQ(FakeLmSensors::Calls("sensorsCleanup"), 1u);
    // Once the last user has gone, a new connection initialises the library afresh.
    EXPECT_EQ(SensorCount(*Make()), 21u);
    EXPECT_EQ(FakeLmSensors::Calls("sensorsInit"), 2u);
    EXPECT_EQ(FakeLmSensors::StaleUses(), 0u);
}

TEST_F(OsConnectionFake, MemoryFiguresCarryTheWholeCountAndSaturateTheRawField)
{
    auto connection = Make();
    EXPECT_EQ(ErrorOf([&] { ReadHostSensor(*connection, 0); }), "bmc: Cannot get memory statistics");
    struct Row {
        uint64_t bytes;
        unsigned int raw;
    };
    const Row rows[] = {{3 * GiB, 3u << 30},
                        {(4 * GiB) - 1, 0xFFFFFFFFu},
                        {4 * GiB, 0xFFFFFFFFu},
                        {24 * GiB + 12345, 0xFFFFFFFFu},
                        {0, 0}};
    for (const Row& row : rows) {
        for (int id = 0; id < 3; ++id) {
            sg_mem_stats memory{};
            memory.total = id == 0 ? row.bytes : 1;
            memory.used = id == 1 ? row.bytes : 2;
            memory.cache = id == 2 ? row.bytes : 3;
            FakeStatgrab::SetMemory(memory);
            const bmc::SensorReading reading = ReadHostSensor(*connection, id, bmc::eSensorTypeMemory);
            EXPECT_TRUE(reading.IsValid());
            EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeMemory);
            EXPECT_EQ(reading.Raw(), row.raw) << "figure " << id << " of " << row.bytes;
            EXPECT_EQ(reading.Converted(), static_cast<double>(row.bytes)) << "figure " << id;
        }
    }
}

bmc::CpuStats* g_cpuStats = nullptr;

bmc::CpuStats& TestCpuStats()
{
    return *g_cpuStats;
}

TEST_F(OsConnectionFake, CpuFiguresFailWhenTheSamplerCannotWork)
{
    FakeStatgrab::SetDropPrivilegesFails(true);
    bmc::CpuStats stats(FakeStatgrab::Api());
    g_cpuStats = &stats;
    const bmc::OsConnection::Libraries withSampler = FakeLmSensors::Libraries(&TestCpuStats);
    bmc::OsConnection connection(bmc::c_localOSUri, withSampler);
    for (int id = 3; id <= 8; ++id) {
        EXPECT_EQ(ErrorOf([&] { ReadHostSensor(connection, id); }), "bmc: Cannot get cpu statistics") << id;
    }
    g_cpuStats = nullptr;
}

TEST_F(OsConnectionFake, TheHostIdentifiesAsARunningBoardOfTypeOS)
{
    auto connection = Make();
    ipm_devid_ext_rsp identity;
    std::memset(&identity, 0xAA, sizeof identity);
    connection->Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, istd::AnyReference(identity));
    const auto* bytes = reinterpret_cast<const unsigned char*>(&identity);
    for (size_t i = 0; i < sizeof identity; ++i) {
        const unsigned expected = i == 0 ? 243u : i == 10 ? 255u : i == 18 ? 4u : 0u;
        EXPECT_EQ(bytes[i], expected) << "byte " << i;
    }

    bmc::BoardBriefStatusMap status;
    status.presenceMask.set();
    status.mngMask.set(3);
    status.mainMask.set(5);
    connection->Execute(bmc::eCmdGetBoardBriefStatus, bmc::Connection::m_noArgs, istd::AnyReference(status));
    EXPECT_TRUE(status.presenceMask.none() && status.mngMask.none() && status.mainMask.none());

    istd::Time time;
    connection->Execute(bmc::eCmdGetTime, bmc::Connection::m_noArgs, istd::AnyReference(time));
    EXPECT_EQ(time, bmctest::FakeClock::Now());
}

TEST_F(OsConnectionFake, CommandsTheHostDoesNotServeReturnWithoutEffect)
{
    auto connection = Make();
    std::vector<unsigned int> ids{1, 4, 6, 7, 8, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 98, 99, 100, 4096};
    for (unsigned int id = 10; id <= 15; ++id) {
        ids.push_back(id);
    }
    for (const unsigned int id : ids) {
        int untouched = 7;
        const std::string error = ErrorOf(
            [&] { connection->Execute(id, bmc::Connection::m_noArgs, istd::AnyReference(untouched)); });
        EXPECT_EQ(error, "no error") << id;
        EXPECT_EQ(untouched, 7) << id;
        connection->Execute(id, bmc::Connection::m_noArgs, bmc::Connection::m_noResult);
    }
}

TEST_F(OsConnectionFake, WronglyWrappedArgumentsAndResultsFail)
{
    auto connection = Make();
    using Args = std::vector<istd::AnyReference>;
    const auto error = [&](unsigned int command, const Args& args, istd::AnyReference result) {
        return ErrorOf([&] { connection->Execute(command, args, result); });
    };
    const bmc::SensorId id(9);
    bmc::SensorId mutableId(9);
    bmc::SensorType_e type = bmc::eSensorTypeTemperature;
    const bmc::SensorType_e constType = bmc::eSensorTypeTemperature;
    bmc::SensorReading reading;
    bmc::SDRos record;
    int wrong = 0;
    EXPECT_EQ(error(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, bmc::Connection::m_noResult),
              "AnyReference: nothing wrapped.");
    EXPECT_EQ(error(bmc::eCmdReadSDRos, bmc::Connection::m_noArgs, record), "bmc: command 2 needs argument 0.");
    EXPECT_EQ(error(bmc::eCmdReadSensor, {id}, reading), "bmc: command 3 needs argument 1.");
    const std::string mismatches[] = {
        error(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, wrong),
        error(bmc::eCmdReadSDRos, {mutableId}, record),
        error(bmc::eCmdReadSDRos, {id}, reading),
        error(bmc::eCmdReadSensor, {id, constType}, reading),
        error(bmc::eCmdReadSensor, {id, type}, record),
        error(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, wrong),
    };
    for (size_t i = 0; i < std::size(mismatches); ++i) {
        EXPECT_NE(mismatches[i].find("type mismatch"), std::string::npos) << "case " << i << ": " << mismatches[i];
    }
}

// The host board's sensors, on the board stand-in.

class OsSensorFake : public OsConnectionFake {
protected:
    void SetUp() override
    {
        OsConnectionFake::SetUp();
        connection = Make();
        board = std::make_unique<bmc::Board>(bmc::c_localOSUri, connection.get());
    }

    std::unique_ptr<bmc::OsConnection> connection;
    std::unique_ptr<bmc::Board> board;
};

TEST_F(OsSensorFake, ASensorTakesItsDescriptionAndLimitsFromItsRecord)
{
    const bmc::OsSensor temperature(*board, bmc::SensorId(9));
    EXPECT_EQ(temperature.GetName(), "acpitz-acpi-0::temp1");
    EXPECT_EQ(temperature.GetUnits(), "Degrees C");
    EXPECT_EQ(temperature.GetType(), bmc::eSensorTypeTemperature);
    struct Limit {
        bmc::SensorReading reading;
        double value;
    };
    for (const Limit& limit : {Limit{temperature.LowNonCritical(), 5}, Limit{temperature.HighNonCritical(), 80},
                               Limit{temperature.HighCritical(), 95}}) {
        EXPECT_TRUE(limit.reading.IsValid());
        EXPECT_EQ(limit.reading.SensorType(), bmc::eSensorTypeTemperature);
        EXPECT_EQ(limit.reading.Raw(), 0u);
        EXPECT_DOUBLE_EQ(limit.reading.Converted(), limit.value);
    }
    EXPECT_FALSE(temperature.LowCritical().IsValid());

    const bmc::OsSensor fan(*board, bmc::SensorId(10));
    EXPECT_DOUBLE_EQ(fan.LowNonCritical().Converted(), 300);
    for (const bmc::SensorReading& missing : {fan.HighNonCritical(), fan.HighCritical()}) {
        EXPECT_FALSE(missing.IsValid());
        EXPECT_EQ(missing.Timestamp(), bmctest::FakeClock::Now());
    }

    const bmc::OsSensor total(*board, bmc::SensorId(0));
    EXPECT_EQ(total.GetName(), "TOTAL");
    EXPECT_EQ(total.GetUnits(), "Bytes");
    EXPECT_EQ(total.GetType(), bmc::eSensorTypeMemory);
    EXPECT_FALSE(total.LowNonCritical().IsValid());

    EXPECT_EQ(ErrorOf([&] { bmc::OsSensor(*board, bmc::SensorId(21)); }), "bmc: reading unavailable sensor.");
}

TEST_F(OsSensorFake, ReadingsAreCachedForOneSecondAndClassifiedByTheLimits)
{
    const bmc::OsSensor temperature(*board, bmc::SensorId(9));
    EXPECT_EQ(temperature.MinReadInterval(), istd::Time(1, 0));
    const bmc::SensorReading first = temperature.Read();
    EXPECT_DOUBLE_EQ(first.Converted(), 42.5);
    EXPECT_EQ(first.SensorType(), bmc::eSensorTypeTemperature);
    EXPECT_EQ(temperature.ReadingLimit(first), bmc::eLimitOk);

    FakeLmSensors::SetValue(0, 0, SENSORS_SUBFEATURE_TEMP_INPUT, 96);
    bmctest::FakeClock::Advance(1, 0);
    EXPECT_DOUBLE_EQ(temperature.Read().Converted(), 42.5) << "a reading one second old is still served";
    bmctest::FakeClock::Advance(0, 1);
    const bmc::SensorReading hot = temperature.Read();
    EXPECT_DOUBLE_EQ(hot.Converted(), 96);
    EXPECT_EQ(temperature.ReadingLimit(hot), bmc::eLimitHc);

    // A failed read is an invalid reading: no limit band.
    const bmc::OsSensor energy(*board, bmc::SensorId(13));
    EXPECT_EQ(energy.ReadingLimit(energy.Read()), bmc::eLimitNa);
    const bmc::OsSensor broken(*board, bmc::SensorId(19));
    EXPECT_FALSE(broken.Read().IsValid());
}

} // namespace
