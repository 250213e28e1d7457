// A board of the simulated chassis end to end, over IPMI on USB: its sensors listed, their
// records read (also in pieces), readings converted and classified, readings unavailable; its
// event log read, decoded and cleared, also while the controller erases it.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bmc/board.h"
#include "bmc/ipmi_exception.h"
#include "bmc/ipmi_sensor.h"
#include "bmc/system_event_log.h"
#include "common/fake_clock.h"
#include "common/host_commands.h"
#include "sim/cmc/simulator.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

const char c_chassis[] = R"(clock 1700001000
slot 0 KOZ
slot 2 MOKVE
  identity format=ext fw=2.5 status=4
  sensor full name=MOKVE-TEMP stype=1 unit=1 format=2 m=1 lnr=0xEC lc=0xF6 lnc=0 unc=70 uc=80 unr=90 raw=52
  sensor full name=MOKVE-12V stype=2 unit=4 m=6 k2=-2 nominal=200 lnr=170 lc=180 lnc=185 unc=215 uc=220 unr=230 raw=199
  sensor full name=MOKVE-I stype=3 unit=5 m=-512 k2=-1 lnr=255 lc=255 lnc=255 raw=1
  sensor full name=MOKVE-FAN stype=4 unit=18 modunit=23 usage=1 m=30 lnr=1 lc=2 lnc=3 unc=200 uc=210 unr=220 raw=100
  sensor full name=MOKVE-HS stype=0xF2 format=3 raw=1
  sensor mcloc name=MOKVE-MC
  event time=1700000200 ms=250 word=0x4006
  event time=1700000300 code=19 ptype=3 sev=Error params=3,1,2
  event time=1700000400 type=0x02 word=0x0007
  event time=1700000500 code=48 ptype=9 sev=Warning params=0x34,0x12
)";

class BoardChassis : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.LoadText(c_chassis);
        m_sim.SetTimeScale(0);
        m_board = std::make_unique<bmc::Board>(bmc::DecomposeUri("kvr:///chassis/2"), bmc::eBoardPowerMngMain, "");
    }

    void TearDown() override
    {
        m_board.reset();
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    // Requests of one kind to slot 2 since the logs were cleared.
    size_t Requests(uint8_t netFn, uint8_t cmd) const
    {
        size_t count = 0;
        for (const sim::cmc::Request& r : m_sim.Requests()) {
            count += r.slot == 2 && r.netFn == netFn && r.cmd == cmd;
        }
        return count;
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    bmctest::FakeClock m_clock;
    std::unique_ptr<bmc::Board> m_board;
};

TEST_F(BoardChassis, SensorsAreListedReadConvertedAndClassified)
{
    struct Case {
        std::string name;
        std::string units;
        bmc::SensorType_e type;
        bool valid;
        std::string reading; // ToString
        bmc::SensorLimit_e limit;
    };
    const std::vector<Case> cases = {
        {"2-MOKVE-TEMP", "degrees C", bmc::eSensorTypeTemperature, true, "52 (52)", bmc::eLimitOk},
        {"2-MOKVE-12V", "Volts", bmc::eSensorTypeVoltage, true, "11.94 (199)", bmc::eLimitOk},
        {"2-MOKVE-I", "Amps", bmc::eSensorTypeCurrent, true, "-51.2 (1)", bmc::eLimitOk},
        {"2-MOKVE-FAN", "RPM/minute", bmc::eSensorTypeFan, true, "3000 (100)", bmc::eLimitOk},
        {"2-MOKVE-HS", "unspecified", bmc::eSensorTypeDiscrete, true, "discrete value", bmc::eLimitOk},
        // A device locator has no reading: the controller refuses it.
        {"2-MOKVE-MC", "", bmc::eSensorTypeMcDevLoc, false, "not valid", bmc::eLimitNa},
    };
    ASSERT_EQ(m_board->GetType(), bmc::eBoardTypeMOKVE);
    const std::vector<bmc::SensorId> ids = m_board->GetSensorsIds();
    ASSERT_EQ(ids.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        bmc::Sensor* sensor = m_board->GetSensor(ids[i]);
        ASSERT_NE(dynamic_cast<bmc::IpmiSensor*>(sensor), nullptr);
        EXPECT_EQ(sensor->GetName(), c.name);
        EXPECT_EQ(sensor->GetUnits(), c.units) << c.name;
        EXPECT_EQ(sensor->GetType(), c.type) << c.name;
        const bmc::SensorReading reading = sensor->Read();
        EXPECT_EQ(reading.IsValid(), c.valid) << c.name;
        EXPECT_EQ(reading.ToString(), c.reading) << c.name;
        EXPECT_EQ(sensor->ReadingLimit(reading), c.limit) << c.name;
        std::ostringstream printed;
        printed << *sensor;
        EXPECT_NE(printed.str().find(c.name), std::string::npos);
    }

    // New raw values on the controller, read once the cached readings are old enough.
    struct Change {
        size_t sensor;
        uint8_t raw;
        bmc::SensorLimit_e limit;
    };
    const std::vector<Change> changes = {
        {0, 0xF0, bmc::eLimitLc},  {0, 0xE0, bmc::eLimitLnr}, {0, 0xFF, bmc::eLimitLnc}, {0, 75, bmc::eLimitHnc},
        {0, 85, bmc::eLimitHc},    {0, 95, bmc::eLimitHnr},   {1, 181, bmc::eLimitLnc},  {1, 216, bmc::eLimitHnc},
        {1, 231, bmc::eLimitHnr},  {2, 0, bmc::eLimitOk},     {3, 0, bmc::eLimitLnr},    {3, 205, bmc::eLimitHnc},
    };
    for (const Change& c : changes) {
        m_sim.Modify(2, [&](sim::cmc::BoardModel& b) { b.sensors[c.sensor].raw = c.raw; });
        bmc::Sensor* sensor = m_board->GetSensor(ids[c.sensor]);
        bmctest::FakeClock::Advance(11, 0);
        const bmc::SensorReading reading = sensor->Read();
        EXPECT_EQ(reading.Raw(), c.raw) << c.sensor;
        EXPECT_EQ(sensor->ReadingLimit(reading), c.limit) << c.sensor << " " << +c.raw;
    }

    // Each record was read once, for all the names, conversions and thresholds.
    for (size_t i = 0; i < ids.size(); ++i) {
        size_t reads = 0;
        for (const sim::cmc::Request& r : m_sim.Requests()) {
            reads += r.slot == 2 && r.netFn == 0x04 && r.cmd == 0x21 && r.data.size() >= 4 && r.data[2] == i;
        }
        // 71 (twice) and 62 bytes do not fit a frame; then pieces of 30, 30 and 11.
        EXPECT_EQ(reads, 6u) << i;
    }
}

TEST_F(BoardChassis, ReadingUnavailableAndRecordsInPieces)
{
    bmc::Sensor* temperature = m_board->GetSensor(bmc::SensorId(0));
    m_sim.AddFault("unavailable slot=2 netfn=4 cmd=0x2D");
    const bmc::SensorReading unavailable = temperature->Read();
    EXPECT_FALSE(unavailable.IsValid());
    EXPECT_EQ(unavailable.Timestamp(), bmctest::FakeClock::Now());
    EXPECT_EQ(temperature->ReadingLimit(unavailable), bmc::eLimitNa);
    EXPECT_FALSE(temperature->Read().IsValid()); // cached for the interval
    bmctest::FakeClock::Advance(11, 0);
    EXPECT_EQ(temperature->Read().ToString(), "52 (52)");

    // Records that come in pieces of at most 10 bytes are read whole.
    m_sim.AddFault("pieces 10 slot=2 netfn=4 cmd=0x21 count=forever");
    bmc::Sensor* voltage = m_board->GetSensor(bmc::SensorId(1));
    m_sim.ClearLogs();
    EXPECT_EQ(voltage->GetName(), "2-MOKVE-12V");
    EXPECT_DOUBLE_EQ(voltage->HighCritical().Converted(), 13.2);
    // 71, 71, 62, 30 and 14 bytes refused, then 6-byte pieces.
    EXPECT_EQ(Requests(0x04, 0x21), 5u + 12u);

    // A controller that refuses every piece: the read fails, and the sensor reads again later.
    m_sim.ClearFaults();
    m_sim.AddFault("pieces 1 slot=2 netfn=4 cmd=0x21 count=forever");
    bmc::Sensor* current = m_board->GetSensor(bmc::SensorId(2));
    try {
        current->GetName();
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xCA);
        EXPECT_EQ(std::string(e.what()).rfind("bmc: ReadSDR failed reading SDR.", 0), 0u) << e.what();
    }
    EXPECT_FALSE(current->Read().IsValid());
    m_sim.ClearFaults();
    EXPECT_EQ(current->GetName(), "2-MOKVE-I");
    bmctest::FakeClock::Advance(11, 0);
    EXPECT_EQ(current->Read().ToString(), "-51.2 (1)");
}

TEST_F(BoardChassis, TheEventLogIsReadDecodedAndCleared)
{
    bmc::SystemEventLog& log = *m_board->GetSel();
    const std::vector<bmc::SelReading> entries = log.ReadMany(-1, true);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(log.GetEntries(), 4);
    EXPECT_EQ(log.GetFreeSpace(), (512 - 4) * 19);
    EXPECT_EQ(log.GetLastAddition(), istd::Time(1700000500, 0));

    struct Case {
        uint16_t id;
        istd::Time time;
        uint16_t code;
        std::string description;
        std::string severity;
        std::string parameter;
    };
    const std::vector<Case> cases = {
        {4, istd::Time(1700000500, 0), 48, "unknown code (idx): 25648 (30)", "Warning", "(4660)"},
        {3, istd::Time(1700000400, 0), 7, "", "", ""}, // a standard record: not decoded
        {2, istd::Time(1700000300, 0), 19, "Board post-power initialization failed. (BoardId,Status1,Status2)",
         "Error", "(3,1,2)"},
        {1, istd::Time(1700000200, 250000000), 6, "Time stamp synchronization. (Time)", "Warning", ""},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const bmc::SelReading& e = entries[i];
        EXPECT_TRUE(e.IsValid());
        EXPECT_EQ(e.GetId(), c.id);
        EXPECT_EQ(e.GetTime(), c.time) << c.id;
        EXPECT_EQ(e.GetEventCode(), c.code) << c.id;
        EXPECT_EQ(e.GetDescription(), c.description) << c.id;
        EXPECT_EQ(e.GetSeverity(), c.severity) << c.id;
        EXPECT_EQ(e.GetParameter(), c.parameter) << c.id;
    }
    std::ostringstream printed;
    printed << log << entries[3];
    EXPECT_NE(printed.str().find("Entries              :   4\n"), std::string::npos);
    EXPECT_NE(printed.str().find("2023-11-14 22:16:40.250000     6         Warning"), std::string::npos);

    // Single entries and lists by index.
    EXPECT_EQ(log.Read(2).GetEventCode(), 19);
    EXPECT_EQ(log.ReadMany(std::vector<int>{3, 1}).at(1).GetId(), 1);
    EXPECT_EQ(ErrorOf([&] { log.Read(5); }), "bmc:: SEL index too big.");

    // Cleared: the controller's log is empty and the erase time is its clock.
    log.Clear();
    EXPECT_TRUE(m_sim.Board(2).sel.empty());
    EXPECT_EQ(log.GetEntries(), 4); // until the summary is read again
    log.UpdateInfo();
    EXPECT_EQ(log.GetEntries(), 0);
    EXPECT_EQ(log.GetLastErase(), istd::Time(1700001000, 0));
    EXPECT_TRUE(log.ReadMany(-1, false).empty());
    EXPECT_EQ(ErrorOf([&] { log.Read(1); }), "bmc:: SEL index too big.");
}

TEST_F(BoardChassis, AnEventLogErasedWhileItIsRead)
{
    bmc::SystemEventLog& log = *m_board->GetSel();
    // The controller erases its log just before it answers the second entry.
    m_sim.AddFault("erase slot=2 netfn=0x0a cmd=0x43 skip=1");
    try {
        log.ReadMany(-1, false);
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xCB);
        EXPECT_EQ(std::string(e.what()).rfind("bmc: SelRead command failed.", 0), 0u) << e.what();
    }
    EXPECT_EQ(m_sim.Board(2).selClears, 1u);
    // Read again, the log is what the controller now holds.
    EXPECT_TRUE(log.ReadMany(-1, true).empty());

    // Entries the controller cannot give whole fail the same way and leave the log usable.
    m_sim.Modify(2, [](sim::cmc::BoardModel& b) { b.sel.resize(2); });
    m_sim.AddFault("pieces 10 slot=2 netfn=0x0a cmd=0x43");
    EXPECT_EQ(ErrorOf([&] { log.Read(1); }).rfind("bmc: SelRead command failed.", 0), 0u);
    EXPECT_EQ(log.ReadMany(-1, false).size(), 2u);
}

} // namespace
