// The board configuration record's transfer and the start of the hardware initialisation over
// IPMI, against the simulated chassis management controller: the pieces each way, the sections
// and their checksums, the refusals, and the initialisation answer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/ipmi_exception.h"
#include "bmc/ipmi_usb_connection.h"
#include "sim/cmc/simulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using istd::AnyReference;

constexpr int c_slot = 1;
constexpr size_t c_baseSize = 8647;
constexpr size_t c_subsysSize = 5308;

// A record with every byte set, the subsystem-present byte as given.
bmc::BoardConfiguration PatternRecord(uint8_t subsysPresent)
{
    bmc::BoardConfiguration record;
    uint8_t* bytes = record.Data();
    for (size_t i = 0; i < bmc::BoardConfiguration::c_recordSize; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    bytes[bmc::BoardConfiguration::c_subsysPresentOffset] = subsysPresent;
    return record;
}

Bytes Section(const bmc::BoardConfiguration& record, bmc::Board_e section)
{
    const uint8_t* data = record.SectionData(section);
    return Bytes(data, data + bmc::BoardConfiguration::SectionSize(section));
}

uint32_t StoredChecksum(const bmc::BoardConfiguration& record, bmc::Board_e section)
{
    uint32_t sum = 0;
    std::memcpy(&sum, record.SectionData(section), sizeof sum);
    return sum;
}

// One configuration storage request as the controller received it.
struct Storage {
    int section;
    int operation;
    size_t offset;
    size_t count;
};

class IpmiConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.LoadText("slot 0 KOZ\nslot 1 PAX\n");
        m_sim.SetTimeScale(0);
    }

    void TearDown() override
    {
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    void Write(bmc::BoardConfiguration& record)
    {
        m_connection.Execute(bmc::eCmdWriteConfiguration, {AnyReference(record)}, bmc::Connection::m_noResult);
    }

    bmc::BoardConfiguration Read()
    {
        bmc::BoardConfiguration record;
        record.boardType = bmc::eBoardTypePAX; // the command hands back a fresh record
        m_connection.Execute(bmc::eCmdReadConfiguration, bmc::Connection::m_noArgs, AnyReference(record));
        return record;
    }

    std::vector<Storage> Requests() const
    {
        std::vector<Storage> found;
        for (const sim::cmc::Request& r : m_sim.Requests()) {
            if (r.slot == c_slot && r.netFn == 0x0A && r.cmd == 0x70) {
                EXPECT_EQ(r.data.size(), 59u) << "every storage request declares a whole frame";
                found.push_back({r.data.at(0), r.data.at(1), size_t{r.data.at(2)} | size_t{r.data.at(3)} << 8,
                                 r.data.at(4)});
            }
        }
        return found;
    }

    // The requests as "<section>/<operation>" with repeats counted: "0/3 x161".
    std::vector<std::string> Sequence() const
    {
        std::vector<std::string> sequence;
        std::string last;
        size_t repeats = 0;
        auto flush = [&] {
            if (repeats > 0) {
                sequence.push_back(last + (repeats > 1 ? " x" + std::to_string(repeats) : ""));
            }
        };
        for (const Storage& s : Requests()) {
            const std::string item = std::to_string(s.section) + "/" + std::to_string(s.operation);
            if (item != last) {
                flush();
                last = item;
                repeats = 0;
            }
            ++repeats;
        }
        flush();
        return sequence;
    }

    // The last piece of one section and operation.
    Storage LastPiece(int section, int operation) const
    {
        Storage last{};
        for (const Storage& s : Requests()) {
            if (s.section == section && s.operation == operation) {
                last = s;
            }
        }
        return last;
    }

    Bytes Stored(int section) const { return m_sim.Board(c_slot).config[static_cast<size_t>(section)]; }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    bmc::IpmiUsbConnection m_connection{bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb)};
};

TEST_F(IpmiConfig, ARecordWithSubsystemGoesBothWays)
{
    bmc::BoardConfiguration record = PatternRecord(1);
    Write(record);

    // Both erases first, then each section begun, written in pieces of 54 and ended.
    EXPECT_EQ(Sequence(), (std::vector<std::string>{"0/4", "1/4", "0/0", "0/3 x161", "0/1", "1/0", "1/3 x99", "1/1"}));
    EXPECT_EQ(LastPiece(0, 3).offset, 8640u);
    EXPECT_EQ(LastPiece(0, 3).count, 7u);
    EXPECT_EQ(LastPiece(1, 3).offset, 5292u);
    EXPECT_EQ(LastPiece(1, 3).count, 16u);

    // The caller's record received the checksums, and went to the controller with them.
    EXPECT_EQ(StoredChecksum(record, bmc::eBoardBase), record.ComputeChecksum(bmc::eBoardBase));
    EXPECT_EQ(StoredChecksum(record, bmc::eBoardSubsys), record.ComputeChecksum(bmc::eBoardSubsys));
    EXPECT_EQ(Stored(0), Section(record, bmc::eBoardBase));
    EXPECT_EQ(Stored(1), Section(record, bmc::eBoardSubsys));
    EXPECT_TRUE(sim::cmc::ConfigChecksumOk(Stored(0)));
    EXPECT_TRUE(sim::cmc::ConfigChecksumOk(Stored(1)));

    m_sim.ClearLogs();
    const bmc::BoardConfiguration read = Read();
    // Pieces of 59: 146 and one of 33, then 89 and one of 57.
    EXPECT_EQ(Sequence(), (std::vector<std::string>{"0/2 x147", "1/2 x90"}));
    EXPECT_EQ(LastPiece(0, 2).count, 33u);
    EXPECT_EQ(LastPiece(1, 2).count, 57u);
    EXPECT_EQ(std::memcmp(read.Data(), record.Data(), bmc::BoardConfiguration::c_recordSize), 0);
    EXPECT_EQ(read.boardType, bmc::eBoardTypeInvalid);
    EXPECT_EQ(read.firmwareType, 0);
    EXPECT_TRUE(read.uri.GetId().empty());
}

TEST_F(IpmiConfig, WithoutSubsystemOnlyTheBaseSectionMoves)
{
    for (uint8_t present : {0, 2}) {
        m_sim.LoadText("slot 0 KOZ\nslot 1 PAX\n");
        m_sim.SetTimeScale(0);
        bmc::IpmiUsbConnection connection(bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb));
        bmc::BoardConfiguration record = PatternRecord(present);
        connection.Execute(bmc::eCmdWriteConfiguration, {AnyReference(record)}, bmc::Connection::m_noResult);
        EXPECT_EQ(Sequence(), (std::vector<std::string>{"0/4", "0/0", "0/3 x161", "0/1"})) << int{present};
        EXPECT_EQ(Stored(0), Section(record, bmc::eBoardBase));
        EXPECT_EQ(Stored(1), Bytes(c_subsysSize, 0xFF)) << "the subsystem section stays erased";

        m_sim.ClearLogs();
        bmc::BoardConfiguration read;
        connection.Execute(bmc::eCmdReadConfiguration, bmc::Connection::m_noArgs, AnyReference(read));
        EXPECT_EQ(Sequence(), std::vector<std::string>{"0/2 x147"}) << int{present};
        EXPECT_EQ(Section(read, bmc::eBoardBase), Section(record, bmc::eBoardBase));
        EXPECT_EQ(Section(read, bmc::eBoardSubsys), Bytes(c_subsysSize, 0));
    }
}

TEST_F(IpmiConfig, ChecksumsOfBothSectionsAreStoredWhicheverIsWritten)
{
    struct Case {
        size_t base4;
        size_t subsys4;
        uint8_t present;
        uint32_t baseSum;
        uint32_t subsysSum;
    };
    // Record byte 4 (first after the base checksum) and 8651 (first after the subsystem one).
    for (const Case& c : {Case{0, 0, 0, 0, 0}, Case{0xFF, 0x01, 0, 255, 1}, Case{0xFF, 0x01, 1, 256, 1}}) {
        bmc::BoardConfiguration record;
        record.Data()[4] = static_cast<uint8_t>(c.base4);
        record.Data()[c_baseSize + 4] = static_cast<uint8_t>(c.subsys4);
        record.Data()[bmc::BoardConfiguration::c_subsysPresentOffset] = c.present;
        Write(record);
        EXPECT_EQ(StoredChecksum(record, bmc::eBoardBase), c.baseSum);
        EXPECT_EQ(StoredChecksum(record, bmc::eBoardSubsys), c.subsysSum);
        EXPECT_TRUE(sim::cmc::ConfigChecksumOk(Stored(0)));
    }
}

TEST_F(IpmiConfig, RefusedAndShortAnswersFailTheTransfer)
{
    struct Case {
        const char* what;
        const char* fault;
        bool write;
        int code;
        const char* text;
        std::vector<std::string> sequence;
    };
    const std::vector<Case> cases = {
        {"erase refused", "ccode 0xD5 slot=1 netfn=0x0a cmd=0x70 data=0,4", true, 0xD5,
         "bmc: hw init.: failed ! (IPMI_CC_NOT_SUPPORTED_PRESENT_STATE)", {"0/4"}},
        {"second piece refused", "ccode 0xC0 slot=1 netfn=0x0a cmd=0x70 data=0,3 skip=1", true, 0xC0,
         "bmc: hw init.: write failed ! (IPMI_CC_NODE_BUSY)", {"0/4", "0/0", "0/3 x2"}},
        {"end refused", "ccode 0xFF slot=1 netfn=0x0a cmd=0x70 data=0,1", true, 0xFF,
         "bmc: hw init.: failed ! (IPMI_CC_UNSPECIFIED_ERROR)", {"0/4", "0/0", "0/3 x161", "0/1"}},
        {"read refused", "ccode 0xC9 slot=1 netfn=0x0a cmd=0x70 data=0,2 skip=3", false, 0xC9,
         "bmc: hw init.: reading failed ! (IPMI_CC_PARAM_OUT_OF_RANGE)", {"0/2 x4"}},
        {"short piece", "truncate 58 slot=1 netfn=0x0a cmd=0x70 data=0,2", false, 0,
         "bmc: hw init.: read failed ! (UNKNOWN)", {"0/2"}},
    };
    for (const Case& c : cases) {
        m_sim.ClearFaults();
        m_sim.ClearLogs();
        m_sim.AddFault(c.fault);
        bmc::BoardConfiguration record = PatternRecord(0);
        istd::TraceCapture capture(istd::eTraceError);
        try {
            if (c.write) {
                Write(record);
            } else {
                Read();
            }
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const bmc::IpmiException& e) {
            EXPECT_EQ(e.GetCode(), c.code) << c.what;
            EXPECT_STREQ(e.what(), c.text) << c.what;
        }
        EXPECT_EQ(Sequence(), c.sequence) << c.what;
        if (c.code == 0xC0) {
            // The failed piece counts as sent; the checksums already stand in the record.
            EXPECT_TRUE(capture.Contains("bmc: hw init.: 108 bytes send of total: 8647"));
            EXPECT_EQ(StoredChecksum(record, bmc::eBoardBase), record.ComputeChecksum(bmc::eBoardBase));
        }
    }
}

TEST_F(IpmiConfig, TheInitialisationOfASectionIsStarted)
{
    for (bmc::Board_e section : {bmc::eBoardSubsys, bmc::eBoardBase}) {
        storage_hwstorage_hwinit_rsp answer;
        std::memset(&answer, 0xEE, sizeof answer);
        m_connection.Execute(bmc::eCmdInitHwInit, {AnyReference(section)}, AnyReference(answer));
        EXPECT_EQ(Bytes(answer.data, answer.data + 4), Bytes(4, 0));
    }
    EXPECT_EQ(m_sim.Board(c_slot).hwInitStarts, (std::vector<int>{1, 0}));
    EXPECT_EQ(Sequence(), (std::vector<std::string>{"1/5", "0/5"}));

    m_sim.AddFault("ccode 0xC1 slot=1 netfn=0x0a cmd=0x70 data=0,5");
    bmc::Board_e section = bmc::eBoardBase;
    storage_hwstorage_hwinit_rsp answer{};
    try {
        m_connection.Execute(bmc::eCmdInitHwInit, {AnyReference(section)}, AnyReference(answer));
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xC1);
        EXPECT_STREQ(e.what(), "bmc: hw init.: failed ! (IPMI_CC_INV_CMD)");
    }
    EXPECT_EQ(m_sim.Board(c_slot).hwInitStarts.size(), 2u);
}

// The controller always answers the initialisation with 4 bytes; a transport that hands back
// other lengths, with stale bytes behind them, stands in for one that does not.
class FixedAnswerConnection : public bmc::IpmiConnection {
public:
    FixedAnswerConnection() : bmc::IpmiConnection(bmc::Uri(bmc::Uri::eChassis, "1", bmc::Uri::eInterfaceIpmiUsb)) {}

    int SendCommand(ipmi_rq&, ipmi_rs& response) override
    {
        std::memset(response.data, 0x5A, sizeof response.data);
        std::copy(answer.begin(), answer.end(), response.data);
        response.ccode = 0;
        response.dataLen = static_cast<int32_t>(answer.size());
        return 64;
    }

    Bytes answer;
};

TEST(IpmiConfigAnswer, TheInitialisationAnswerFillsAtMostFourBytes)
{
    struct Case {
        Bytes answer;
        Bytes result;
    };
    const std::vector<Case> cases = {
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4}},
        {{1, 2, 3, 4}, {1, 2, 3, 4}},
        {{9, 8}, {9, 8, 0, 0}},
        {{}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        FixedAnswerConnection connection;
        connection.answer = c.answer;
        const storage_hwstorage_hwinit_rsp answer = connection.InitHwInit(bmc::eBoardBase);
        EXPECT_EQ(Bytes(answer.data, answer.data + 4), c.result) << c.answer.size();
    }
}

} // namespace
