// The system event log over a recording connection: the summary, index errors, the orders of
// ReadMany, the decoding of the controller's records (messages, severities, parameter formats,
// unknown codes, other record types, times) and the printers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/board.h"
#include "bmc/system_event_log.h"
#include "common/host_commands.h"
#include "common/recording_connection.h"
#include "tests/support/error_of.h"

namespace {

using testsupport::ErrorOf;

platformb_event_record Event(uint16_t word, std::vector<uint8_t> params = {}, uint8_t type = 0xE2,
                             uint32_t seconds = 1700000005, uint16_t milliseconds = 0)
{
    platformb_event_record r{};
    r.recordType = type;
    for (int i = 0; i < 4; ++i) {
        r.timestamp[i] = static_cast<uint8_t>(seconds >> (8 * i));
    }
    r.milliseconds[0] = static_cast<uint8_t>(milliseconds);
    r.milliseconds[1] = static_cast<uint8_t>(milliseconds >> 8);
    r.eventWord[0] = static_cast<uint8_t>(word);
    r.eventWord[1] = static_cast<uint8_t>(word >> 8);
    std::copy(params.begin(), params.begin() + static_cast<long>(std::min(params.size(), sizeof r.parameters)),
              r.parameters);
    return r;
}

// A controller's log: the summary answers command 17, entry k (from 1) answers command 19,
// command 18 empties it.
class LogConnection : public bmctest::RecordingConnection {
public:
    LogConnection()
    {
        SetHandler([this](unsigned int command, const std::vector<istd::AnyReference>& args,
                          istd::AnyReference& result) {
            switch (command) {
            case bmc::eCmdGetSelInfo: {
                sel_info info{};
                info.entries[0] = static_cast<uint8_t>(entries.size());
                info.entries[1] = static_cast<uint8_t>(entries.size() >> 8);
                info.freeSpace[0] = static_cast<uint8_t>(freeSpace);
                info.freeSpace[1] = static_cast<uint8_t>(freeSpace >> 8);
                std::memcpy(info.lastAddition, &lastAddition, 4);
                std::memcpy(info.lastErase, &lastErase, 4);
                result = info;
                break;
            }
            case bmc::eCmdSelClear:
                entries.clear();
                break;
            case bmc::eCmdSelRead: {
                int& index = _Argument(command, args, 0);
                asked.push_back(index);
                platformb_event_record record = entries.at(static_cast<size_t>(index - 1));
                record.recordId[0] = static_cast<uint8_t>(index);
                result = record;
                break;
            }
            default:
                break;
            }
        });
    }

    std::vector<platformb_event_record> entries;
    uint16_t freeSpace = 0x1234;
    uint32_t lastAddition = 1700000000;
    uint32_t lastErase = 1600000000;
    std::vector<int> asked;
};

class SelTest : public ::testing::Test {
protected:
    std::vector<int> Ids(const std::vector<bmc::SelReading>& readings) const
    {
        std::vector<int> ids;
        for (const bmc::SelReading& r : readings) {
            ids.push_back(r.GetId());
            EXPECT_EQ(r.GetLog(), &log);
        }
        return ids;
    }

    LogConnection connection;
    bmc::Board board{bmc::DecomposeUri("kvr:///chassis/3"), &connection};
    bmc::SystemEventLog& log = *board.GetSel();
};

TEST_F(SelTest, TheSummaryIsReadByUpdateInfoAndNothingIsReadBeforeIt)
{
    connection.entries.assign(3, Event(0x0002));
    // Before the first summary the log counts nothing: every index is refused without a request.
    EXPECT_EQ(log.GetEntries(), 0);
    EXPECT_EQ(log.GetFreeSpace(), 0);
    EXPECT_EQ(ErrorOf([&] { log.GetEntry(1); }), "bmc:: SEL index too big.");
    EXPECT_TRUE(connection.Commands().empty());

    log.UpdateInfo();
    EXPECT_EQ(log.GetEntries(), 3);
    EXPECT_EQ(log.GetFreeSpace(), 0x1234);
    EXPECT_EQ(log.GetLastAddition(), istd::Time(1700000000, 0));
    EXPECT_EQ(log.GetLastErase(), istd::Time(1600000000, 0));
    EXPECT_EQ(log.GetEntry(2).GetId(), 2);

    // Clearing does not refresh the summary; the next UpdateInfo does.
    log.Clear();
    EXPECT_EQ(connection.Count(bmc::eCmdSelClear), 1u);
    EXPECT_EQ(log.GetEntries(), 3);
    log.UpdateInfo();
    EXPECT_EQ(log.GetEntries(), 0);
}

TEST_F(SelTest, IndexErrors)
{
    struct Case {
        size_t entries;
        int index;
        std::string failure;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {3, 0, "bmc:: SEL index < 1.", "SEL id out of range: 0 < 1."},
        {3, -5, "bmc:: SEL index < 1.", "SEL id out of range: -5 < 1."},
        {3, 4, "bmc:: SEL index too big.", "SEL id out of range: 4 > 3"},
        // The too-big test comes first, and 0 is not above 0.
        {0, 0, "bmc:: SEL index < 1.", "SEL id out of range: 0 < 1."},
        {0, 1, "bmc:: SEL index too big.", "SEL id out of range: 1 > 0"},
    };
    for (const Case& c : cases) {
        connection.entries.assign(c.entries, Event(0x0002));
        connection.asked.clear();
        istd::TraceCapture trace(istd::eTraceError);
        EXPECT_EQ(ErrorOf([&] { log.Read(c.index); }), c.failure) << c.index;
        EXPECT_TRUE(trace.Contains(c.trace)) << c.trace;
        EXPECT_TRUE(connection.asked.empty());
    }
}

TEST_F(SelTest, ReadManyOrders)
{
    connection.entries.assign(3, Event(0x0002));
    struct Case {
        int count;
        bool newestFirst;
        std::vector<int> ids;
    };
    for (const Case& c : {Case{-1, true, {3, 2, 1}}, Case{-1, false, {1, 2, 3}}, Case{2, false, {1, 2}},
                          Case{2, true, {3, 2}}, Case{10, false, {1, 2, 3}}, Case{0, true, {}}}) {
        EXPECT_EQ(Ids(log.ReadMany(c.count, c.newestFirst)), c.ids) << c.count << " " << c.newestFirst;
    }
    EXPECT_EQ(Ids(log.ReadMany(std::vector<int>{2, 3, 1, 2})), (std::vector<int>{2, 3, 1, 2}));

    // The first bad index ends the call: the entries asked before it are discarded.
    connection.asked.clear();
    EXPECT_EQ(ErrorOf([&] { log.ReadMany(std::vector<int>{1, 4, 2}); }), "bmc:: SEL index too big.");
    EXPECT_EQ(connection.asked, std::vector<int>{1});

    // ReadMany reads the summary first: entries added since count.
    connection.entries.push_back(Event(0x0007));
    EXPECT_EQ(Ids(log.ReadMany(1, true)), std::vector<int>{4});
    EXPECT_TRUE(log.ReadMany(-1, false).back().IsValid());
    connection.entries.clear();
    EXPECT_TRUE(log.ReadMany(-1, true).empty());
}

TEST_F(SelTest, ControllerRecordsAreDecoded)
{
    struct Case {
        uint16_t word;
        uint16_t code;
        std::string description;
        std::string severity;
        std::string parameter;
    };
    const std::vector<Case> cases = {
        {0x4006, 6, "Time stamp synchronization. (Time)", "Warning", ""},
        {0x8413, 19, "Board post-power initialization failed. (BoardId,Status1,Status2)", "Error", "(4)"},
        {0x0001, 1, "SEL event log full.", "Info", ""},
        {0x0023, 35, "FPGA AMBA read/write test failure. (Status1,Status2)", "Info", ""},
        {0x0020, 32, "Post power base board HW initialization failed. (Status1,Status2)", "Info", ""},
        // Codes without a message: the whole word and where the search ended.
        {0x0041, 65, "unknown code (idx): 65 (30)", "Info", ""},
        {0x001A, 26, "unknown code (idx): 26 (30)", "Info", ""},
        {0xFFFF, 1023, "unknown code (idx): 65535 (30)", "", "(Unknown!)"},
        {0x0000, 0, "null message for code (idx): 0 (29)", "Info", ""},
        {0xC000, 0, "null message for code (idx): 49152 (29)", "", ""},
    };
    for (const Case& c : cases) {
        const platformb_event_record record = Event(c.word, {4, 0, 0, 0, 0});
        const bmc::SelReading reading(log, record);
        EXPECT_TRUE(reading.IsValid());
        EXPECT_EQ(reading.GetRecordType(), 0xE2);
        EXPECT_EQ(reading.GetEventCode(), c.code) << c.word;
        EXPECT_EQ(reading.GetDescription(), c.description) << c.word;
        EXPECT_EQ(reading.GetSeverity(), c.severity) << c.word;
        EXPECT_EQ(reading.GetParameter(), c.parameter) << c.word;
    }
}

TEST_F(SelTest, EachParameterFormat)
{
    const std::vector<uint8_t> bytes = {0xFE, 0xFF, 0x05, 0x80, 0x9A};
    const std::vector<std::string> texts = {
        "",
        "(254)",
        "(254,255)",
        "(254,255,5)",
        "(254,255,5,128)",
        "(254,255,5,128,154)",
        "(-2)",
        "(-2,-32763)",
        "(-2147090434)",
        "(65534)",
        "(65534,32773)",
        "(2147876862)",
        "(254,1535,39552)",
        "(254,255,5,128,154)",
        "(Unknown!)",
        "(Unknown!)",
    };
    for (uint16_t format = 0; format < texts.size(); ++format) {
        const platformb_event_record record = Event(static_cast<uint16_t>(format << 10 | 0x0006), bytes);
        EXPECT_EQ(bmc::GetSelEventParameter(&record), texts[format]) << format;
    }
    const platformb_event_record example = Event(7 << 10, {0xFE, 0xFF, 0x05, 0x00});
    EXPECT_EQ(bmc::GetSelEventParameter(&example), "(-2,5)");
    EXPECT_EQ(bmc::GetSelEventParameter(nullptr), "");
    EXPECT_EQ(bmc::GetSelEventSeverity(nullptr), "");
}

TEST_F(SelTest, OtherRecordTypesKeepEmptyTextsAndAreTraced)
{
    struct Case {
        uint8_t type;
        const char* trace;
    };
    for (const Case& c : {Case{0x02, "SEL_STANDARD_RECORD Not yet implemented"},
                          Case{0xC2, "SEL_OEMTS_RECORD Not yet implemented"}, Case{0x10, nullptr}}) {
        istd::TraceCapture trace(istd::eTraceError);
        const platformb_event_record record = Event(0x4006, {1, 2, 3, 4, 5}, c.type);
        const bmc::SelReading reading(log, record);
        EXPECT_TRUE(reading.IsValid());
        EXPECT_EQ(reading.GetRecordType(), c.type);
        EXPECT_EQ(reading.GetEventCode(), 6);
        EXPECT_EQ(reading.GetTime(), istd::Time(1700000005, 0));
        EXPECT_EQ(reading.GetDescription(), "");
        EXPECT_EQ(reading.GetSeverity(), "");
        EXPECT_EQ(reading.GetParameter(), "");
        if (c.trace != nullptr) {
            EXPECT_TRUE(trace.Contains(c.trace)) << c.trace;
        } else {
            EXPECT_FALSE(trace.Contains("Not yet implemented"));
        }
    }
}

TEST_F(SelTest, TimesCarryTheirMilliseconds)
{
    struct Case {
        uint16_t milliseconds;
        istd::Time time;
    };
    // Milliseconds of 4295 and more make nanoseconds past 32 bits; a count above 999 carries
    // into the seconds.
    for (const Case& c : {Case{250, istd::Time(1700000005, 250000000)}, Case{999, istd::Time(1700000005, 999000000)},
                          Case{4295, istd::Time(1700000009, 295000000)},
                          Case{65535, istd::Time(1700000070, 535000000)}}) {
        const platformb_event_record record = Event(0x0002, {}, 0xE2, 1700000005, c.milliseconds);
        const bmc::SelReading reading(log, record);
        EXPECT_EQ(reading.GetTime(), c.time) << c.milliseconds;
        EXPECT_EQ(reading.GetTime().Presentation(), 6);
        EXPECT_TRUE(reading.GetTime().IsUtc());
    }
    EXPECT_EQ(bmc::FormatSelTime(10, 2500000000ul), istd::Time(12, 500000000));
}

TEST_F(SelTest, Printers)
{
    connection.entries = {Event(0x4006, {}, 0xE2, 1700000005, 250), Event(0x8413, {4, 1, 2})};
    connection.freeSpace = 0xFFFF;
    log.UpdateInfo();
    std::ostringstream summary;
    summary << log;
    EXPECT_EQ(summary.str(), "|                SEL Information                |\n"
                             "-------------------------------------------------\n"
                             "Entries              :   2\n"
                             "Free space           :   65535 (or more) bytes\n"
                             "Last Time Added      :   2023-11-14 22:13:20\n"
                             "Last Time Deleted    :   2020-09-13 12:26:40\n");
    connection.freeSpace = 0xFFFE;
    log.UpdateInfo();
    summary.str("");
    summary << log;
    EXPECT_NE(summary.str().find("Free space           :   65534\n"), std::string::npos);

    std::ostringstream entry;
    entry << log.GetEntry(1);
    const std::string description = "Time stamp synchronization. (Time)";
    EXPECT_EQ(entry.str(), "  1" "2023-11-14 22:13:25.250000" "     6" + std::string(16 - 7, ' ') + "Warning" +
                               std::string(55 - description.size(), ' ') + description + std::string(26, ' ') + "\n");
    entry.str("");
    entry << log.GetEntry(2);
    EXPECT_EQ(entry.str().substr(entry.str().size() - 27), std::string(26 - 3, ' ') + "(4)\n");

    // An invalid reading prints nothing.
    entry.str("");
    entry << bmc::SelReading();
    EXPECT_EQ(entry.str(), "");
    const bmc::SelReading none;
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(none.GetLog(), nullptr);
    EXPECT_EQ(none.GetTime(), istd::Time(0, 0));
}

TEST_F(SelTest, ABoardWithoutConnectionRefusesItsLog)
{
    bmc::Board lonely(bmc::DecomposeUri("kvr:///chassis/3"), nullptr);
    EXPECT_EQ(ErrorOf([&] { lonely.GetSel()->UpdateInfo(); }), "bmc: board has no connection");
    EXPECT_EQ(ErrorOf([&] { lonely.GetSel()->Clear(); }), "bmc: board has no connection");
}

} // namespace
