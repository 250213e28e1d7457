// The IPMI layer against a scripted transport: the request bytes of every builder, the parsing
// of the answers, the failure texts and Execute's open/close frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/ipmi_connection.h"
#include "bmc/ipmi_exception.h"
#include "common/fake_clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* bytes, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        char item[4];
        std::snprintf(item, sizeof item, "%s%02x", i == 0 ? "" : " ", bytes[i]);
        text += item;
    }
    return text;
}

std::string Hex(const Bytes& bytes)
{
    return Hex(bytes.data(), bytes.size());
}

struct Answer {
    uint8_t ccode = 0;
    Bytes data;
};

struct Sent {
    uint8_t netFn;
    uint8_t cmd;
    uint8_t target;
    Bytes data;

    // "nf cmd target | data"
    std::string Text() const
    {
        const uint8_t head[3] = {netFn, cmd, target};
        return Hex(head, 3) + " |" + (data.empty() ? "" : " " + Hex(data));
    }
};

// A transport that records each request and answers from a script or a rule.
class ScriptedConnection : public bmc::IpmiConnection {
public:
    explicit ScriptedConnection(const std::string& id = "1")
        : bmc::IpmiConnection(bmc::Uri(bmc::Uri::eChassis, id, bmc::Uri::eInterfaceIpmiUsb))
    {
    }

    void Open() override
    {
        events.push_back("open");
        if (openFailure != nullptr) {
            throw istd::Exception(openFailure, true);
        }
    }

    void Close() override
    {
        events.push_back("close");
        if (closeFailure != nullptr) {
            throw istd::Exception(closeFailure, true);
        }
    }

    int SendCommand(ipmi_rq& request, ipmi_rs& response) override
    {
        Sent sent{request.netFn, request.cmd, request.target, Bytes(request.data, request.data + request.dataLen)};
        this->sent.push_back(sent);
        events.push_back("send");
        Answer answer;
        if (rule) {
            answer = rule(sent);
        } else if (!script.empty()) {
            answer = script.front();
            script.pop_front();
        } else {
            throw istd::Exception("test: no answer scripted", true);
        }
        response.ccode = answer.ccode;
        response.dataLen = static_cast<int32_t>(answer.data.size());
        std::copy(answer.data.begin(), answer.data.end(), response.data);
        return 64;
    }

    std::deque<Answer> script;
    std::function<Answer(const Sent&)> rule;
    std::vector<Sent> sent;
    std::vector<std::string> events;
    const char* openFailure = nullptr;
    const char* closeFailure = nullptr;
};

Bytes Count(size_t n, uint8_t first = 0)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

// The 22-byte identity of a board of the system's maker; the standard answer is its first 15.
Bytes MakerIdentity()
{
    Bytes id = Count(22, 0x40);
    id[0] = 62;
    id[6] = 0xDE;
    id[7] = 0xC0;
    id[8] = 0x00;
    return id;
}

template <class Record>
std::string RecordHex(const Record& record)
{
    return Hex(reinterpret_cast<const uint8_t*>(&record), sizeof record);
}

TEST(IpmiConnection, BuildersSendTheirRequests)
{
    struct Case {
        const char* what;
        std::function<void(bmc::IpmiConnection&)> call;
        Answer answer;
        const char* request;
    };
    const Bytes record71 = Count(73);
    const std::vector<Case> cases = {
        {"brief status", [](auto& c) { c.GetBoardBriefStatus(); }, {0, {1, 2, 3}}, "06 a0 00 |"},
        {"sensor reading", [](auto& c) { unsigned int raw; c.ReadSensor(bmc::SensorId(0x1234), raw); },
         {0, {7, 0x40}}, "04 2d 00 | 34"},
        {"device SDR", [](auto& c) { sensor_record r; c.ReadSDR(bmc::SensorId(0x51234), r); }, {0, record71},
         "04 21 00 | 00 00 34 12 00 47"},
        {"SDR info", [](auto& c) { c.GetSDRInfo(); }, {0, {5, 1}}, "04 20 00 |"},
        {"USB port on", [](auto& c) { c.SetPortStateUsb(true, 3); }, {0, {0}}, "2c 19 03 | 00 01 0c 2f 00 01 00"},
        {"USB port off", [](auto& c) { c.SetPortStateUsb(false, 0x107); }, {0, {0}},
         "2c 19 07 | 00 01 0c 2f 00 00 00"},
        {"power down", [](auto& c) { c.Power(bmc::ePowerDown, 2); }, {0, {}}, "00 02 00 | 00 02"},
        {"power up", [](auto& c) { c.Power(bmc::ePowerUp, 4); }, {0, {}}, "00 02 00 | 01 04"},
        {"power cycle", [](auto& c) { c.Power(bmc::ePowerCycle, 0x105); }, {0, {}}, "00 02 00 | 02 05"},
        {"SPI write", [](auto& c) { c.FpgaSpiWrite(0x1234, 0xABCD); }, {0, {}},
         "00 02 00 | dc 34 12 cd ab 00 00 00 00 00 00 00"},
        {"SPI read", [](auto& c) { chassis_ctl_fpgaread_rsp a; c.FpgaSpiRead(0x0102, a); }, {0, {0, 1, 2}},
         "00 02 00 | db 02 01 00 00 00 00 00 00 00 00 00"},
        {"AMBA write", [](auto& c) { c.FpgaAmbaWrite(0x11223344, 0xAABBCCDD); }, {0, {}},
         "00 02 00 | ac 44 33 22 11 dd cc bb aa 00 00 00"},
        {"AMBA read", [](auto& c) { chassis_ctl_ambaread_rsp a; c.FpgaAmbaRead(0x80000004, a); },
         {0, {0, 1, 2, 3, 4}}, "00 02 00 | ab 04 00 00 80 00 00 00 00 00 00 00"},
        {"FPGA reboot", [](auto& c) { c.FpgaReboot(); }, {0, {}}, "00 02 00 | 11"},
        {"JTAG chassis operation", [](auto& c) { c.JtagCmd(bmc::eJtagChassisOp23, 4); }, {0, {}}, "00 02 00 | 17"},
        {"SEL clear", [](auto& c) { c.SelClear(); }, {0, {1}}, "0a 47 00 | ff ff 43 4c 52 aa"},
        {"SEL entry", [](auto& c) { platformb_event_record r; c.SelRead(0x10203, r); }, {0, Count(21)},
         "0a 43 00 | 00 00 03 02 00 ff"},
        {"SEL info", [](auto& c) { sel_info i; c.GetSelInfo(i); }, {0, Count(14)}, "0a 40 00 |"},
        {"set time", [](auto& c) { c.SetTime(istd::Time(int64_t{0x01020304}, 999999999L)); }, {0, {}},
         "0a 49 00 | 04 03 02 01"},
        {"get time", [](auto& c) { c.GetTime(); }, {0, {1, 2, 3, 4}}, "0a 48 00 |"},
        {"device id", [](auto& c) { ipm_devid_ext_rsp a; c.GetDeviceId(a); }, {0, Count(15)}, "06 01 00 |"},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.script.push_back(c.answer);
        ASSERT_NO_THROW(c.call(connection)) << c.what;
        ASSERT_EQ(connection.sent.size(), 1u) << c.what;
        EXPECT_EQ(connection.sent[0].Text(), c.request) << c.what;
        EXPECT_TRUE(connection.events == std::vector<std::string>{"send"}) << c.what << ": builders do not open";
    }
}

TEST(IpmiConnection, AnswersFillTheResultRecords)
{
    ScriptedConnection c;
    c.script = {{0, {0, 0x34, 0x12}},
                {0, {0, 0x78, 0x56, 0x34, 0x12}},
                {0, {0x00, 0xA0, 0xB7, 0x5D}},
                {0, Count(14, 0x10)},
                {0, Count(25, 0x30)},
                {0, {9, 0x40}},
                {0, {12}}};
    chassis_ctl_fpgaread_rsp spi{};
    c.FpgaSpiRead(1, spi);
    EXPECT_EQ(spi.status, 0);
    EXPECT_EQ(spi.Value(), 0x1234);
    chassis_ctl_ambaread_rsp amba{};
    c.FpgaAmbaRead(1, amba);
    EXPECT_EQ(amba.Value(), 0x12345678u);
    const istd::Time time = c.GetTime();
    EXPECT_EQ(time.Sec(), 0x5DB7A000);
    EXPECT_TRUE(time.IsUtc());
    sel_info info{};
    c.GetSelInfo(info);
    EXPECT_EQ(RecordHex(info), Hex(Count(14, 0x10)));
    // The next record id comes before the record.
    platformb_event_record record{};
    c.SelRead(1, record);
    EXPECT_EQ(RecordHex(record), Hex(Count(19, 0x32)));
    unsigned int raw = 0;
    c.ReadSensor(bmc::SensorId(0), raw);
    EXPECT_EQ(raw, 9u);
    EXPECT_EQ(c.GetSDRInfo(), 12u);
}

TEST(IpmiConnection, IdentityOfTheThreeKindsOfBoard)
{
    // Firmware 2.2 of the system's maker: 25 bytes, d1 = 0x82, rebuilt byte by byte.
    {
        ScriptedConnection c;
        Bytes answer = Count(25, 0x60);
        answer[1] = 0x82;
        answer[6] = answer[7] = answer[8] = 0xEE; // not consulted
        c.script = {{0, answer}};
        ipm_devid_ext_rsp id{};
        c.GetDeviceId(id);
        EXPECT_EQ(RecordHex(id), "60 f7 02 02 64 65 de c0 00 60 78 6e 6d 63 62 75 76 73 6f 71 72 74");
        EXPECT_EQ(id.ManufacturerId(), bmc::c_ipmiManufacturerId);
        EXPECT_EQ(c.sent.size(), 1u);
    }
    // Firmware 2.4 and later: the maker's id asks for the extended record.
    {
        ScriptedConnection c;
        const Bytes identity = MakerIdentity();
        c.script = {{0, Bytes(identity.begin(), identity.begin() + 15)}, {0, identity}};
        ipm_devid_ext_rsp id{};
        c.GetDeviceId(id);
        ASSERT_EQ(c.sent.size(), 2u);
        EXPECT_EQ(c.sent[1].Text(), "06 01 00 | 0e");
        EXPECT_EQ(RecordHex(id), Hex(identity));
        EXPECT_EQ(id.BoardStatus(), identity[18]);
    }
    // Another maker: the first 15 bytes, zeros after; a standard answer without the auxiliary
    // revision (11 bytes) leaves offsets 11 to 14 zero too.
    for (size_t length : {15u, 17u, 11u}) {
        ScriptedConnection c;
        c.script = {{0, Count(length, 0x81)}};
        ipm_devid_ext_rsp id{};
        std::memset(&id, 0xAA, sizeof id);
        c.GetDeviceId(id);
        Bytes expected = Count(std::min<size_t>(length, 15), 0x81);
        expected.resize(22, 0);
        EXPECT_EQ(RecordHex(id), Hex(expected)) << length;
        EXPECT_EQ(c.sent.size(), 1u);
    }
}

TEST(IpmiConnection, IdentityFailures)
{
    struct Case {
        const char* what;
        std::deque<Answer> script;
        bool ipmi;
        int code;
        std::string text;
    };
    const Bytes identity = MakerIdentity();
    const Bytes standard(identity.begin(), identity.begin() + 15);
    const std::vector<Case> cases = {
        {"refused", {{0xC1, {}}}, true, 0xC1, "bmc: GetDeviceId failed. (IPMI_CC_INV_CMD)"},
        {"no data", {{0, {}}}, true, 0, "bmc: GetDeviceId failed. (UNKNOWN)"},
        {"short", {{0, Count(10)}}, false, 0, "bmc: GetDeviceId failed. (short answer: 10 of 11 data bytes)"},
        {"extended refused", {{0, standard}, {0xCC, {}}}, true, 0xCC,
         "bmc: GetDeviceId (extended) failed for qarex board. (IPMI_CC_INV_DATA_FIELD_IN_REQ)"},
        {"extended empty", {{0, standard}, {0, {}}}, true, 0,
         "bmc: GetDeviceId (extended) failed for qarex board. (UNKNOWN)"},
        {"extended short", {{0, standard}, {0, Bytes(identity.begin(), identity.begin() + 21)}}, false, 0,
         "bmc: GetDeviceId (extended) failed for qarex board. (short answer: 21 of 22 data bytes)"},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.script = c.script;
        ipm_devid_ext_rsp id{};
        try {
            connection.GetDeviceId(id);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const bmc::IpmiException& e) {
            EXPECT_TRUE(c.ipmi) << c.what;
            EXPECT_EQ(e.GetCode(), c.code) << c.what;
            EXPECT_EQ(std::string(e.what()), c.text) << c.what;
        } catch (const istd::Exception& e) {
            EXPECT_FALSE(c.ipmi) << c.what;
            EXPECT_EQ(std::string(e.what()), c.text) << c.what;
        }
    }
}

TEST(IpmiConnection, BriefStatusMasks)
{
    struct Case {
        Answer answer;
        unsigned long presence, mng, main;
    };
    const std::vector<Case> cases = {
        {{0, {0x07, 0x05, 0x01}}, 0x0F, 0x0B, 0x03},
        {{0, {0x80, 0x00, 0x00}}, 0x101, 1, 1}, // slot 8
        {{0xC1, {}}, 1, 1, 1},                  // a refusal reports the chassis manager alone
        {{0, {}}, 1, 1, 1},                     // so does an empty answer
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.script = {c.answer};
        const bmc::BoardBriefStatusMap map = connection.GetBoardBriefStatus();
        EXPECT_EQ(map.presenceMask.to_ulong(), c.presence);
        EXPECT_EQ(map.mngMask.to_ulong(), c.mng);
        EXPECT_EQ(map.mainMask.to_ulong(), c.main);
    }
    // A partial answer is no answer for the missing slots.
    ScriptedConnection connection;
    connection.script = {{0, {0x07, 0x05}}};
    try {
        connection.GetBoardBriefStatus();
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException&) {
        ADD_FAILURE() << "a malformed answer is no refusal";
    } catch (const istd::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "bmc: GetBoardBriefStatus failed. (short answer: 2 of 3 data bytes)");
    }
}

TEST(IpmiConnection, PowerStatusFromTheMasks)
{
    bmc::BoardBriefStatusMap all{1, 1, 1};
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(all, 0), bmc::eBoardPowerMngMain);
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(all, 1), bmc::eBoardPowerOff);
    // The presence mask plays no part.
    bmc::BoardBriefStatusMap map{0, 0x0B, 0x03};
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(map, 1), bmc::eBoardPowerMngMain);
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(map, 3), bmc::eBoardPowerMng);
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(map, 2), bmc::eBoardPowerOff);
    EXPECT_THROW(bmc::ConvPwrBitmaskToStat(map, 32), std::out_of_range);
    EXPECT_THROW(bmc::ConvPwrBitmaskToStat(map, -1), std::out_of_range);
}

TEST(IpmiConnection, SensorReadingStatusBits)
{
    struct Case {
        Answer answer;
        const char* failure; // null: the reading is d0
        bool ipmi;
    };
    const std::vector<Case> cases = {
        {{0, {0x55, 0x40}}, nullptr, false},
        {{0, {0x55, 0xC0}}, nullptr, false},
        {{0, {0x55, 0x60}}, "bmc: Sensor reading unavailable", false},
        {{0, {0x55, 0x20}}, "bmc: Sensor reading unavailable", false},
        {{0, {0x55, 0x00}}, "bmc: Sensor Scanning Disabled.", false},
        {{0, {0x55}}, "bmc: ReadSensor failed reading sensor data. (short answer: 1 of 2 data bytes)", false},
        {{0xCB, {}}, "bmc: ReadSensor failed reading sensor data. (IPMI_CC_REQ_DATA_NOT_PRESENT)", true},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.script = {c.answer};
        unsigned int raw = 1000;
        try {
            connection.ReadSensor(bmc::SensorId(3), raw);
            EXPECT_EQ(c.failure, nullptr);
            EXPECT_EQ(raw, 0x55u);
        } catch (const istd::Exception& e) {
            ASSERT_NE(c.failure, nullptr) << e.what();
            EXPECT_EQ(std::string(e.what()), c.failure);
            EXPECT_EQ(dynamic_cast<const bmc::IpmiException*>(&e) != nullptr, c.ipmi) << c.failure;
            EXPECT_EQ(raw, 1000u) << c.failure;
        }
    }
}

// The controller of the sample chassis: it answers Get Device SDR with the asked piece of a
// record of bytes 0..70, and 0xCA when more than limit bytes are asked for.
std::function<Answer(const Sent&)> SdrPieces(size_t limit)
{
    return [limit](const Sent& s) -> Answer {
        const size_t offset = s.data[4];
        const size_t count = s.data[5];
        if (count > limit) {
            return {0xCA, {}};
        }
        Bytes answer{0xFF, 0xFF};
        const Bytes piece = Count(count, static_cast<uint8_t>(offset));
        answer.insert(answer.end(), piece.begin(), piece.end());
        return {0, answer};
    };
}

TEST(IpmiConnection, SdrIsReadInPiecesThatFit)
{
    ScriptedConnection c;
    c.rule = SdrPieces(30);
    sensor_record record{};
    c.ReadSDR(bmc::SensorId(2), record);
    std::vector<std::string> asked;
    for (const Sent& s : c.sent) {
        asked.push_back(std::to_string(s.data[4]) + "+" + std::to_string(s.data[5]));
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"0+71", "0+71", "0+62", "0+30", "30+30", "60+11"}));
    EXPECT_EQ(RecordHex(record), Hex(Count(71)));
}

TEST(IpmiConnection, SdrFailures)
{
    struct Case {
        const char* what;
        std::function<Answer(const Sent&)> rule;
        size_t requests;
        int code; // -1: istd::Exception
        const char* text;
    };
    const std::vector<Case> cases = {
        // Refused at every size: the piece sizes run out instead of looping forever.
        {"0xCA forever", SdrPieces(0), 7, 0xCA, "bmc: ReadSDR failed reading SDR. (IPMI_CC_CANT_RET_NUM_REQ_BYTES)"},
        {"refused", [](const Sent&) { return Answer{0xCB, {}}; }, 1, 0xCB,
         "bmc: ReadSDR failed reading SDR. (IPMI_CC_REQ_DATA_NOT_PRESENT)"},
        {"no data", [](const Sent&) { return Answer{0, {}}; }, 1, -1, "bmc: ReadSDR failed reading SDR: no data returned"},
        {"short piece", [](const Sent&) { return Answer{0, Count(40)}; }, 1, -1,
         "bmc: ReadSDR failed reading SDR. (short answer: 40 of 73 data bytes)"},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.rule = c.rule;
        sensor_record record{};
        try {
            connection.ReadSDR(bmc::SensorId(0), record);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const bmc::IpmiException& e) {
            EXPECT_EQ(e.GetCode(), c.code) << c.what;
            EXPECT_EQ(std::string(e.what()), c.text) << c.what;
        } catch (const istd::Exception& e) {
            EXPECT_EQ(c.code, -1) << c.what;
            EXPECT_EQ(std::string(e.what()), c.text) << c.what;
        }
        EXPECT_EQ(connection.sent.size(), c.requests) << c.what;
    }
}

TEST(IpmiConnection, RefusalsCarryTheBuildersTextAndTheCodesName)
{
    struct Case {
        std::function<void(bmc::IpmiConnection&)> call;
        const char* text;
    };
    const std::vector<Case> cases = {
        {[](auto& c) { c.GetSDRInfo(); }, "bmc: GetSDRInfo failed getting the number of sensors."},
        {[](auto& c) { c.SetPortStateUsb(true, 1); }, "bmc: AMC port set (USB) failed !"},
        {[](auto& c) { c.Power(bmc::ePowerUp, 1); }, "bmc: Power command failed."},
        {[](auto& c) { c.FpgaSpiWrite(1, 2); }, "bmc: FPGA SPI write command failed."},
        {[](auto& c) { chassis_ctl_fpgaread_rsp a; c.FpgaSpiRead(1, a); }, "bmc: FPGA SPI read command failed."},
        {[](auto& c) { c.FpgaAmbaWrite(1, 2); }, "bmc: FPGA AMBA write command failed."},
        {[](auto& c) { chassis_ctl_ambaread_rsp a; c.FpgaAmbaRead(1, a); }, "bmc: FPGA AMBA read command failed."},
        {[](auto& c) { c.FpgaReboot(); }, "bmc: Fpga re-boot command failed."},
        {[](auto& c) { c.JtagCmd(bmc::eJtagChassisOp12, 0); }, "bmc: JTAG command failed"},
        {[](auto& c) { c.JtagCmd(bmc::eJtagSelectChain, 0); }, "bmc: FPGA SPI write command failed."},
        {[](auto& c) { c.SelClear(); }, "bmc: SelClear command failed."},
        {[](auto& c) { platformb_event_record r; c.SelRead(1, r); }, "bmc: SelRead command failed."},
        {[](auto& c) { sel_info i; c.GetSelInfo(i); }, "bmc: GetSelInfo command failed."},
        {[](auto& c) { c.SetTime(istd::Time(int64_t{1}, 0)); }, "bmc: SetTime failed."},
        {[](auto& c) { c.GetTime(); }, "bmc: GetTime failed."},
    };
    for (const Case& c : cases) {
        for (uint8_t code : {uint8_t{0xC1}, uint8_t{0x89}, uint8_t{0x42}}) {
            ScriptedConnection connection;
            connection.script = {{code, {}}};
            try {
                c.call(connection);
                ADD_FAILURE() << c.text << ": no exception";
            } catch (const bmc::IpmiException& e) {
                EXPECT_EQ(e.GetCode(), code);
                EXPECT_EQ(std::string(e.what()), bmc::IpmiException::CreateMessage(c.text, code));
            }
        }
    }
    ScriptedConnection connection;
    connection.script = {{0xFB, {}}};
    try {
        connection.SelClear();
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(std::string(e.what()), "bmc: SelClear command failed. (IPMI_TNKERNEL_TERR_WRONG_PARAM)");
    }
}

TEST(IpmiConnection, MalformedAnswersAreNoData)
{
    struct Case {
        std::function<void(bmc::IpmiConnection&)> call;
        Answer answer;
        const char* text;
    };
    const std::vector<Case> cases = {
        {[](auto& c) { c.GetSDRInfo(); }, {0, {}}, "bmc: GetSDRInfo failed getting the number of sensors."},
        {[](auto& c) { c.GetTime(); }, {0, {1, 2, 3}}, "bmc: GetTime failed."},
        {[](auto& c) { c.GetTime(); }, {0, {1, 2, 3, 4, 5}}, "bmc: GetTime failed."},
        {[](auto& c) { chassis_ctl_fpgaread_rsp a; c.FpgaSpiRead(1, a); }, {0, {0, 1}},
         "bmc: FPGA SPI read command failed. (short answer: 2 of 3 data bytes)"},
        {[](auto& c) { chassis_ctl_ambaread_rsp a; c.FpgaAmbaRead(1, a); }, {0, {0, 1, 2, 3}},
         "bmc: FPGA AMBA read command failed. (short answer: 4 of 5 data bytes)"},
        {[](auto& c) { sel_info i; c.GetSelInfo(i); }, {0, Count(13)},
         "bmc: GetSelInfo command failed. (short answer: 13 of 14 data bytes)"},
        {[](auto& c) { platformb_event_record r; c.SelRead(1, r); }, {0, Count(20)},
         "bmc: SelRead command failed. (short answer: 20 of 21 data bytes)"},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.script = {c.answer};
        try {
            c.call(connection);
            ADD_FAILURE() << c.text << ": no exception";
        } catch (const bmc::IpmiException& e) {
            ADD_FAILURE() << e.what() << ": a malformed answer is no refusal";
        } catch (const istd::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.text);
        }
    }
    istd::TraceCapture capture(istd::eTraceError);
    ScriptedConnection connection;
    connection.script = {{0, {1, 2, 3}}};
    EXPECT_THROW(connection.GetTime(), istd::Exception);
    EXPECT_TRUE(capture.Contains("IPMI_GET_SEL_TIME wrong data_len: 3"));
}

TEST(IpmiConnection, JtagOperations)
{
    struct Case {
        bmc::JTAG_e operation;
        int n;
        std::vector<std::string> requests;
    };
    const std::string spi = "00 02 00 | dc ";
    const std::string pad = " 00 00 00 00 00 00 00";
    const std::vector<Case> cases = {
        {bmc::eJtagSelectChain, 5, {spi + "20 00 04 00" + pad}},
        {bmc::eJtagSelectChain, -3, {spi + "20 00 00 00" + pad}},
        {bmc::eJtagEnableSlot, 0, {spi + "1a 00 01 00" + pad}},
        {bmc::eJtagEnableSlot, 1, {spi + "1a 00 01 00" + pad}},
        {bmc::eJtagEnableSlot, 8, {spi + "1a 00 80 00" + pad}},
        {bmc::eJtagDisableSlots, 6, {spi + "1a 00 00 00" + pad}},
        {bmc::eJtagChassisOp26, 6, {"00 02 00 | 1a"}},
        {static_cast<bmc::JTAG_e>(5), 3, {}},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        connection.rule = [](const Sent&) { return Answer{}; };
        connection.JtagCmd(c.operation, c.n);
        std::vector<std::string> requests;
        for (const Sent& s : connection.sent) {
            requests.push_back(s.Text());
        }
        EXPECT_EQ(requests, c.requests) << c.operation << " " << c.n;
    }
    ScriptedConnection connection;
    EXPECT_THROW(connection.JtagCmd(bmc::eJtagEnableSlot, 9), std::out_of_range);
    EXPECT_TRUE(connection.sent.empty());
}

TEST(IpmiConnection, UnknownPowerOperationSendsNothing)
{
    ScriptedConnection connection;
    EXPECT_THROW(connection.Power(static_cast<bmc::Power_e>(3), 1), istd::Exception);
    EXPECT_TRUE(connection.sent.empty());
}

TEST(IpmiConnection, BoardIdFromTheUri)
{
    EXPECT_EQ(ScriptedConnection("7").GetBoardId(), 7);
    EXPECT_EQ(ScriptedConnection("0x10").GetBoardId(), 16);
    EXPECT_EQ(ScriptedConnection("-1").GetBoardId(), -1);
    try {
        ScriptedConnection bad("slot");
        ADD_FAILURE() << "no exception";
    } catch (const istd::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Bad cast from slot to int");
    }
}

// Execute ------------------------------------------------------------------------------------

TEST(IpmiExecute, EveryCommandReadsItsArgumentsAndStoresItsResult)
{
    bmctest::FakeClock clock;
    ScriptedConnection c;
    c.rule = [](const Sent& s) -> Answer {
        switch (s.netFn << 8 | s.cmd) {
        case 0x0420: return {0, {4}};
        case 0x0421: return {0, Count(73)};
        case 0x042D: return {0, {77, 0x40}};
        case 0x0A48: return {0, {0x10, 0, 0, 0}};
        case 0x0601: return {0, Count(15, 0x90)};
        case 0x0602: return {0, {}};
        case 0x06A0: return {0, {1, 1, 0}};
        case 0x0A40: return {0, Count(14)};
        case 0x0A43: return {0, Count(21)};
        case 0x0002: return {0, s.data[0] == 0xDB ? Bytes{0, 0x22, 0x11} : Bytes{0, 4, 3, 2, 1}};
        default: return {0, {}};
        }
    };
    using istd::AnyReference;
    using bmc::Connection;

    unsigned int sensors = 0;
    c.Execute(bmc::eCmdGetSDRInfo, Connection::m_noArgs, AnyReference(sensors));
    EXPECT_EQ(sensors, 4u);

    const bmc::SensorId id(1);
    sensor_record record{};
    c.Execute(bmc::eCmdReadSDR, {AnyReference(id)}, AnyReference(record));
    EXPECT_EQ(record.data[70], 72);

    bmc::SensorType_e type = bmc::eSensorTypeVoltage;
    bmc::SensorReading reading;
    c.Execute(bmc::eCmdReadSensor, {AnyReference(id), AnyReference(type)}, AnyReference(reading));
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.Raw(), 77u);
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeVoltage);
    EXPECT_EQ(reading.Timestamp(), bmctest::FakeClock::Now());

    bmc::Power_e power = bmc::ePowerCycle;
    int slot = 3;
    c.Execute(bmc::eCmdPower, {AnyReference(power), AnyReference(slot)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().Text(), "00 02 00 | 02 03");

    istd::Time time;
    c.Execute(bmc::eCmdGetTime, Connection::m_noArgs, AnyReference(time));
    EXPECT_EQ(time.Sec(), 16);
    const istd::Time newTime(int64_t{0x100}, 0);
    c.Execute(bmc::eCmdSetTime, {AnyReference(newTime)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().Text(), "0a 49 00 | 00 01 00 00");

    c.Execute(bmc::eCmdFpgaReboot, Connection::m_noArgs, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().Text(), "00 02 00 | 11");

    ipm_devid_ext_rsp identity{};
    c.Execute(bmc::eCmdGetDeviceId, Connection::m_noArgs, AnyReference(identity));
    EXPECT_EQ(identity.deviceId, 0x90);

    unsigned short spiAddress = 0x30, spiValue = 0x4455;
    c.Execute(bmc::eCmdFpgaSpiWrite, {AnyReference(spiAddress), AnyReference(spiValue)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().data[3], 0x55);
    chassis_ctl_fpgaread_rsp spi{};
    c.Execute(bmc::eCmdFpgaSpiRead, {AnyReference(spiAddress)}, AnyReference(spi));
    EXPECT_EQ(spi.Value(), 0x1122);

    unsigned int ambaAddress = 0x40, ambaValue = 0x12345678;
    c.Execute(bmc::eCmdFpgaAmbaWrite, {AnyReference(ambaAddress), AnyReference(ambaValue)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().data[8], 0x12);
    chassis_ctl_ambaread_rsp amba{};
    c.Execute(bmc::eCmdFpgaAmbaRead, {AnyReference(ambaAddress)}, AnyReference(amba));
    EXPECT_EQ(amba.Value(), 0x01020304u);

    bmc::BoardBriefStatusMap map;
    c.Execute(bmc::eCmdGetBoardBriefStatus, Connection::m_noArgs, AnyReference(map));
    EXPECT_EQ(map.presenceMask.to_ulong(), 3u);
    EXPECT_EQ(map.mainMask.to_ulong(), 1u);

    sel_info info{};
    c.Execute(bmc::eCmdGetSelInfo, Connection::m_noArgs, AnyReference(info));
    EXPECT_EQ(info.operationSupport, 13);
    c.Execute(bmc::eCmdSelClear, Connection::m_noArgs, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().cmd, 0x47);
    int entry = 2;
    platformb_event_record event{};
    c.Execute(bmc::eCmdSelRead, {AnyReference(entry)}, AnyReference(event));
    EXPECT_EQ(c.sent.back().data[2], 2);
    EXPECT_EQ(event.extra[2], 20);

    bmc::JTAG_e jtag = bmc::eJtagChassisOp13;
    int n = 1;
    c.Execute(bmc::eCmdJtagCmd, {AnyReference(jtag), AnyReference(n)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().Text(), "00 02 00 | 0d");

    bool on = true;
    c.Execute(bmc::eCmdSetPortStateUsb, {AnyReference(on), AnyReference(slot)}, Connection::m_noResult);
    EXPECT_EQ(c.sent.back().Text(), "2c 19 03 | 00 01 0c 2f 00 01 00");

    // Each command ran in its own open/close frame.
    size_t opens = 0, closes = 0;
    for (const std::string& e : c.events) {
        opens += e == "open";
        closes += e == "close";
    }
    EXPECT_EQ(opens, 18u);
    EXPECT_EQ(closes, 18u);
}

TEST(IpmiExecute, IdsWithoutACommandOpenAndCloseOnly)
{
    for (unsigned int id : {2u, 8u, 24u, 26u, 30u, 99u, 1000u}) {
        ScriptedConnection c;
        int untouched = 5;
        c.Execute(id, bmc::Connection::m_noArgs, istd::AnyReference(untouched));
        EXPECT_EQ(c.events, (std::vector<std::string>{"open", "close"})) << id;
        EXPECT_EQ(untouched, 5);
    }
}

TEST(IpmiExecute, UploadAndConfigurationCommandsTakeTheirArgumentBeforeSending)
{
    for (unsigned int id : {11u, 21u, 22u}) {
        ScriptedConnection c;
        EXPECT_THROW(c.Execute(id, bmc::Connection::m_noArgs, bmc::Connection::m_noResult), istd::Exception) << id;
        EXPECT_EQ(c.events, (std::vector<std::string>{"open", "close"})) << id;
    }
}

TEST(IpmiExecute, EveryFailureClosesAndLeavesTheFirstError)
{
    using istd::AnyReference;
    struct Case {
        const char* what;
        std::function<void(ScriptedConnection&)> setUp;
        std::function<void(ScriptedConnection&)> run;
        std::vector<std::string> events;
        std::string text;
    };
    const auto deviceId = [](ScriptedConnection& c) {
        ipm_devid_ext_rsp id{};
        c.Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, AnyReference(id));
    };
    const auto refuse = [](ScriptedConnection& c) { c.script = {{0xC3, {}}}; };
    const std::vector<Case> cases = {
        {"refusal", refuse, deviceId, {"open", "send", "close"}, "bmc: GetDeviceId failed. (IPMI_CC_TIMEOUT)"},
        {"open fails", [](auto& c) { c.openFailure = "bmc: couldn't open device"; }, deviceId, {"open", "close"},
         "bmc: couldn't open device"},
        {"close fails after a refusal",
         [&](auto& c) {
             refuse(c);
             c.closeFailure = "bmc: couldn't release interface";
         },
         deviceId, {"open", "send", "close"}, "bmc: GetDeviceId failed. (IPMI_CC_TIMEOUT)"},
        {"close fails after success",
         [](auto& c) {
             c.script = {{0, Count(15)}};
             c.closeFailure = "bmc: couldn't release interface";
         },
         deviceId, {"open", "send", "close", "close"}, "bmc: couldn't release interface"},
        {"transport fails", [](auto&) {}, deviceId, {"open", "send", "close"}, "test: no answer scripted"},
        {"argument of another type",
         [](auto&) {},
         [](ScriptedConnection& c) {
             unsigned int address = 1;
             chassis_ctl_fpgaread_rsp answer{};
             c.Execute(bmc::eCmdFpgaSpiRead, {AnyReference(address)}, AnyReference(answer));
         },
         {"open", "close"}, ""},
        {"argument missing",
         [](auto&) {},
         [](ScriptedConnection& c) {
             bmc::Power_e power = bmc::ePowerUp;
             c.Execute(bmc::eCmdPower, {AnyReference(power)}, bmc::Connection::m_noResult);
         },
         {"open", "close"}, "bmc: command 4 needs argument 1."},
        {"no result wrapped, after the device answered", [](auto& c) { c.script = {{0, Count(15)}}; },
         [](ScriptedConnection& c) {
             c.Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, bmc::Connection::m_noResult);
         },
         {"open", "send", "close"}, "AnyReference: nothing wrapped."},
    };
    for (const Case& c : cases) {
        ScriptedConnection connection;
        c.setUp(connection);
        istd::TraceCapture capture(istd::eTraceWarning);
        try {
            c.run(connection);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const istd::Exception& e) {
            if (!c.text.empty()) {
                EXPECT_EQ(std::string(e.what()), c.text) << c.what;
            }
        }
        EXPECT_EQ(connection.events, c.events) << c.what;
        size_t traced = 0;
        for (const std::string& line : capture.Lines()) {
            traced += line.find("Error executing command ") != std::string::npos;
        }
        EXPECT_EQ(traced, 1u) << c.what;
    }
}

TEST(IpmiExecute, TheFailureIsTracedWithItsId)
{
    ScriptedConnection c;
    c.script = {{0, {0x55, 0x00}}};
    istd::TraceCapture capture(istd::eTraceWarning);
    const bmc::SensorId id(0);
    bmc::SensorType_e type = bmc::eSensorTypeFan;
    bmc::SensorReading reading;
    EXPECT_THROW(c.Execute(bmc::eCmdReadSensor, {istd::AnyReference(id), istd::AnyReference(type)},
                           istd::AnyReference(reading)),
                 istd::Exception);
    EXPECT_TRUE(capture.Contains("Error executing command 3: bmc: Sensor Scanning Disabled."));
    EXPECT_FALSE(reading.IsValid());
}

} // namespace
