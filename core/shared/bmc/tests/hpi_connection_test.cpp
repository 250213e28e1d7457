// The OpenHPI connection against a real daemon (openhpid with the dynamic simulator) serving a
// MicroTCA shelf: the modules it lists, their boards and identity, the commands the connection
// refuses, the data-record listing, and the board pool that lists the modules with the host.
// One daemon serves the whole program; the pool's connections keep one session open in it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "istd/time.h"
#include "istd/trace_capture.h"
#include "bmc/board.h"
#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"
#include "bmc/system_event_log.h"
#include "common/host_commands.h"
#include "common/hpi_daemon.h"
#include "common/hpi_seam.h"
#include "tests/support/error_of.h"

namespace {

using bmc::Connection;
using istd::AnyReference;

// The boards of one enumeration, deleted at the end.
struct Boards {
    bmc::BoardMap map;

    ~Boards()
    {
        for (auto& entry : map) {
            bmc::DeleteBoard(entry.second);
        }
    }

    std::vector<std::string> Uris() const
    {
        std::vector<std::string> uris;
        for (const auto& entry : map) {
            uris.push_back(entry.first.ToString());
        }
        return uris;
    }

    bmc::Board* Get(const char* uri) const
    {
        const auto found = map.find(bmc::DecomposeUri(uri));
        return found == map.end() ? nullptr : found->second;
    }
};

const std::vector<std::string> c_moduleUris = {"kvr:///amc/10", "kvr:///amc/5", "kvr:///amc/6",
                                               "kvr:///amc/7",  "kvr:///amc/8", "kvr:///cu/1",
                                               "kvr:///mch/1",  "kvr:///ps/1",  "kvr:///trm/5"};

std::string TagOf(const SaHpiRptEntryT& entry)
{
    return std::string(reinterpret_cast<const char*>(entry.ResourceTag.Data), entry.ResourceTag.DataLength);
}

// The entry of the daemon's table whose first path element is the given one; the last of
// several.
SaHpiRptEntryT EntryOf(SaHpiEntityTypeT type, SaHpiEntityLocationT location)
{
    SaHpiRptEntryT found{};
    for (const SaHpiRptEntryT& entry : bmctest::ResourceTable()) {
        if (entry.ResourceEntity.Entry[0].EntityType == type && entry.ResourceEntity.Entry[0].EntityLocation == location) {
            found = entry;
        }
    }
    return found;
}

class HpiChassis : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_daemon = std::make_unique<bmctest::HpiDaemon>(); }
    static void TearDownTestSuite() { s_daemon.reset(); }

    static std::unique_ptr<bmctest::HpiDaemon> s_daemon;
};

std::unique_ptr<bmctest::HpiDaemon> HpiChassis::s_daemon;

TEST_F(HpiChassis, EachModuleIsNamedByItsEntityAndTypedByItsTag)
{
    // Of the two resources of AMC slot 10, the board of the one the table lists later stays.
    const std::string laterTag = TagOf(EntryOf(SAHPI_ENT_AMC, 10));
    ASSERT_TRUE(laterTag == "NUSTA" || laterTag == "PELOX") << laterTag;

    istd::TraceCapture trace(istd::eTraceWarning);
    const Boards boards{bmc::EnumerateHpiBoards()};
    EXPECT_EQ(boards.Uris(), c_moduleUris);

    const struct {
        const char* uri;
        std::string name;
        bmc::BoardType_e type;
        bmc::FirmwareType_e firmware;
        const char* shortName;
    } cases[] = {
        {"kvr:///amc/5", "MOKVE", bmc::eBoardTypeMOKVE, bmc::eFirmwareTypeHUMVA, "mokve5"},
        {"kvr:///amc/6", "HUMVA", bmc::eBoardTypeHUMVA, bmc::eFirmwareTypeHUMVA, "humva6"}, // blanks trimmed
        {"kvr:///amc/7", "mokve", bmc::eBoardTypeUTCA, bmc::eFirmwareTypeUnknown, "utca7"}, // case counts
        {"kvr:///amc/8", "Vendor AMC 42", bmc::eBoardTypeUTCA, bmc::eFirmwareTypeUnknown, "utca8"},
        {"kvr:///amc/10", laterTag, laterTag == "NUSTA" ? bmc::eBoardTypeNUSTA : bmc::eBoardTypePELOX,
         bmc::eFirmwareTypeHUMVA, laterTag == "NUSTA" ? "nusta10" : "pelox10"},
        {"kvr:///mch/1", "MCH", bmc::eBoardTypeUTCA, bmc::eFirmwareTypeUnknown, "utca1"},
        {"kvr:///ps/1", "PM 1", bmc::eBoardTypeUTCA, bmc::eFirmwareTypeUnknown, "utca1"},
        {"kvr:///cu/1", "CU 1", bmc::eBoardTypeUTCA, bmc::eFirmwareTypeUnknown, "utca1"},
        {"kvr:///trm/5", "ZEK", bmc::eBoardTypeZEK, bmc::eFirmwareTypeHUMVA, "zek5"},
    };
    for (const auto& c : cases) {
        const bmc::Board* board = boards.Get(c.uri);
        ASSERT_NE(board, nullptr) << c.uri;
        EXPECT_EQ(board->GetName(), c.name) << c.uri;
        EXPECT_EQ(board->GetShortName(), c.shortName) << c.uri;
        EXPECT_EQ(board->GetType(), c.type) << c.uri;
        EXPECT_EQ(board->GetFirmwareType(), c.firmware) << c.uri;
        EXPECT_EQ(board->GetStatus(), bmc::eBoardStatusRunning) << c.uri;
        EXPECT_EQ(board->GetPowerStatus(), bmc::eBoardPowerMngMain) << c.uri;
    }

    // The identity a module reports: its type, firmware type and status; nothing else.
    ipm_devid_ext_rsp identity{};
    identity.deviceId = 0xEE;
    boards.Get("kvr:///amc/5")->GetConnection()->Execute(bmc::eCmdGetDeviceId, Connection::m_noArgs,
                                                        AnyReference(identity));
    std::vector<uint8_t> expected(sizeof identity);
    expected[0] = 173;
    expected[10] = 219;
    expected[18] = 4;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&identity);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof identity), expected);

    for (const char* line : {"HPI Entity: {AMC(65561)/5}{SYSTEM_CHASSIS(23)/1}", ": MOKVE: is accessible",
                             ": MOKVE: not accessible", ": HUMVA: is accessible",
                             "HPI ResourceInfo: rev: 1 dev sup: 2 man-id: 0xc0de prod-id: 0xad fw-rev: 1.2 aux-rev: 3 "
                             "guid: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff",
                             "Ignored HPI Entity of type: 23", "Ignored HPI Entity of type: 3",
                             "Detected board: kvr:///amc/5", "Detected board: kvr:///trm/5"}) {
        EXPECT_TRUE(trace.Contains(line)) << line << "\n" << trace.Text();
    }
    EXPECT_FALSE(trace.Contains("Detected board: kvr:///amc/9"));
}

TEST_F(HpiChassis, AModuleAnswersOnlyWhatDiscoveryGave)
{
    const Boards boards{bmc::EnumerateHpiBoards()};
    bmc::Board& board = *boards.Get("kvr:///amc/5");
    Connection& connection = *board.GetConnection();
    EXPECT_TRUE(board.GetSensorsIds().empty());

    unsigned int count = 7;
    connection.Execute(bmc::eCmdGetSDRInfo, Connection::m_noArgs, AnyReference(count));
    EXPECT_EQ(count, 0u);

    const istd::Time before = istd::Time::Now(3);
    bmc::SensorReading reading(bmc::eSensorTypeVoltage, 5, before);
    connection.Execute(bmc::eCmdReadSensor, Connection::m_noArgs, AnyReference(reading));
    EXPECT_FALSE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeUnknown);
    EXPECT_EQ(reading.Raw(), 0u);
    const istd::Time now = board.GetTime();
    EXPECT_TRUE(before <= reading.Timestamp() && reading.Timestamp() <= now);
    EXPECT_TRUE(now <= istd::Time::Now(3));

    // Power and SetTime are accepted, read nothing and change nothing.
    int untouched = 7;
    for (unsigned int command : {bmc::eCmdPower, bmc::eCmdSetTime}) {
        EXPECT_NO_THROW(connection.Execute(command, Connection::m_noArgs, AnyReference(untouched))) << command;
    }
    EXPECT_EQ(untouched, 7);
    board.SetTime(istd::CreateTime("2001-01-01 00:00:00"));
    EXPECT_GE(board.GetTime(), now);
    EXPECT_EQ(board.GetRedLighStatus(), bmc::eRedLedOff);

    // Everything else is refused, also through the board's and the event log's operations.
    for (unsigned int command : {1u, 2u, 7u, 8u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u,
                                 23u, 24u, 25u, 26u, 98u, 99u, 100u, 0xFFFFFFFFu}) {
        EXPECT_EQ(testsupport::ErrorOf(
                      [&] { connection.Execute(command, Connection::m_noArgs, AnyReference(untouched)); }),
                  "bmc: Unsupported command (HPI).")
            << command;
    }
    EXPECT_EQ(testsupport::ErrorOf([&] { board.ReadImage(); }), "bmc: Unsupported command (HPI).");
    EXPECT_EQ(testsupport::ErrorOf([&] { board.GetSel()->UpdateInfo(); }), "bmc: Unsupported command (HPI).");
    EXPECT_EQ(testsupport::ErrorOf([&] {
                  connection.Execute(bmc::eCmdGetDeviceId, Connection::m_noArgs, Connection::m_noResult);
              }),
              "AnyReference: nothing wrapped.");
}

TEST_F(HpiChassis, DataRecordsAreListedToTheTrace)
{
    const Boards boards{bmc::EnumerateHpiBoards()}; // keeps a session open
    istd::TraceCapture trace(istd::eTraceError);
    bmc::EnumerateSensors(EntryOf(SAHPI_ENT_SYSTEM_CHASSIS, 1));
    bmc::EnumerateSensors(EntryOf(SAHPI_ENT_AMC, 5)); // announces no records: nothing
    const size_t listed = trace.Lines().size();
    bmc::EnumerateSensors(EntryOf(SAHPI_ENT_AMC, 8)); // announces records and has none
    EXPECT_TRUE(trace.Contains("  SENSOR_RDR: \"Inlet temperature\"")) << trace.Text();
    EXPECT_TRUE(trace.Contains("  INVENTORY_RDR \"7\": \"Chassis FRU data\"")) << trace.Text();
    EXPECT_EQ(listed, 2u) << trace.Text();
    EXPECT_TRUE(trace.Contains("saHpiRdrGet error :NOT_PRESENT")) << trace.Text();
}

TEST_F(HpiChassis, AWalkThatFailsMidwayKeepsTheBoardsMadeBefore)
{
    istd::TraceCapture trace(istd::eTraceError);
    Boards boards;
    {
        bmctest::HpiSeam::Settings settings;
        settings.rptCallsBeforeError = 3; // the shelf and AMC 5 and 6
        bmctest::HpiSeam seam(settings);
        boards.map = bmc::EnumerateHpiBoards();
    }
    EXPECT_EQ(boards.Uris(), (std::vector<std::string>{"kvr:///amc/5", "kvr:///amc/6"}));
    EXPECT_TRUE(trace.Contains("saHpiRptEntryGet error :INTERNAL_ERROR")) << trace.Text();
}

TEST_F(HpiChassis, ATableThatLeadsBackIsWalkedOnce)
{
    istd::TraceCapture trace(istd::eTraceError);
    const SaHpiEntryIdT amc5 = EntryOf(SAHPI_ENT_AMC, 5).EntryId;
    Boards boards;
    {
        bmctest::HpiSeam::Settings settings;
        settings.rptLastLeadsTo = amc5;
        bmctest::HpiSeam seam(settings);
        boards.map = bmc::EnumerateHpiBoards();
        EXPECT_EQ(bmctest::HpiSeam::Calls().Get("rpt"), bmctest::ResourceTable().size());
    }
    EXPECT_EQ(boards.Uris(), c_moduleUris);
    EXPECT_TRUE(trace.Contains("bmc: HPI resource table leads back to entry " + std::to_string(amc5)))
        << trace.Text();
}

TEST_F(HpiChassis, ThePoolListsTheModulesWithTheHost)
{
    bmc::BoardPool& pool = bmc::BoardPool::Instance();
    std::vector<std::string> expected = c_moduleUris;
    expected.push_back("kvr:///os/");
    std::sort(expected.begin(), expected.end());
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> uris;
        for (const bmc::Uri& uri : pool.GetAllLocalBoardUris()) {
            uris.push_back(uri.ToString());
        }
        EXPECT_EQ(uris, expected) << round;
        bmc::Board* amc5 = pool.GetBoard(bmc::DecomposeUri("kvr:///amc/5"));
        ASSERT_NE(amc5, nullptr);
        EXPECT_EQ(amc5->GetType(), bmc::eBoardTypeMOKVE);
        EXPECT_EQ(pool.GetBoard(bmc::c_localOSUri)->GetType(), bmc::eBoardTypeOS);
        pool.Update();
    }

    // A module discovery never reported: its connection knows no type.
    bmc::Board* unknown = pool.GetBoard(bmc::DecomposeUri("kvr:///amc;hpi/3"));
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->GetType(), bmc::eBoardTypeInvalid);
    EXPECT_FALSE(unknown->IsValid());
    EXPECT_TRUE(unknown->GetSensorsIds().empty());
}

} // namespace
