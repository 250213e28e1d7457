// Boards: construction, identity, sensors, the routing of every operation to the board's own
// connection (a recording one) or to the chassis manager's (the simulated chassis), the
// hardware identification and the printer.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/board.h"
#include "bmc/board_pool.h"
#include "bmc/os_connection.h"
#include "bmc/sensor.h"
#include "common/board_helpers.h"
#include "common/host_commands.h"
#include "sim/cmc/simulator.h"
#include "tests/support/error_of.h"

namespace {

using bmc::Board;
using bmc::DecomposeUri;
using testsupport::ErrorOf;
using bmctest::Identity;
using bmctest::IdentityConnection;

// The chassis manager answers power and port requests only for slots that hold a board.
const char c_chassis[] = "slot 0 KOZ\nslot 3 PAX\nslot 10 MOKVE\n";

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.LoadText(c_chassis);
        m_sim.SetTimeScale(0);
    }

    void TearDown() override
    {
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    // The requests the chassis manager's controller received.
    std::vector<sim::cmc::Request> KozRequests() const
    {
        std::vector<sim::cmc::Request> found;
        for (const sim::cmc::Request& r : m_sim.Requests()) {
            if (r.slot == 0) {
                found.push_back(r);
            }
        }
        return found;
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

TEST_F(BoardTest, ConstructionNamesTheBoardAndAsksOnlyAPoweredOne)
{
    struct Case {
        const char* what;
        const char* uri;
        bmc::BoardPowerStatus_e power;
        std::string name;
        bool answers;
        ipm_devid_ext_rsp identity;
        std::string expectedName;
        std::string expectedShortName;
        int type;
        int status;
        std::vector<unsigned int> commands;
    };
    const std::vector<Case> cases = {
        {"powered off", "kvr:///chassis/7", bmc::eBoardPowerOff, "given", true, Identity(62), "chassis:7", "", 255,
         255, {}},
        {"identity unreadable", "kvr:///chassis/4", bmc::eBoardPowerMng, "", false, Identity(62), "inva4", "inva4",
         255, 255, {bmc::eCmdGetDeviceId}},
        {"timing board", "kvr:///chassis/3", bmc::eBoardPowerMngMain, "", true, Identity(62), "pax3", "pax3", 62, 4,
         {bmc::eCmdGetDeviceId, bmc::eCmdGetSDRInfo}},
        {"timing board named", "kvr:///chassis/3", bmc::eBoardPowerMngMain, "timing", true, Identity(62), "timing",
         "pax3", 62, 4, {bmc::eCmdGetDeviceId, bmc::eCmdGetSDRInfo}},
        {"defective status", "kvr:///chassis/3", bmc::eBoardPowerMngMain, "", true, Identity(62, 0, 255), "pax3",
         "pax3", 62, 255, {bmc::eCmdGetDeviceId}},
        {"host without id", "kvr:///os/", bmc::eBoardPowerMngMain, "", true, Identity(243, 255), "os", "os", 243, 4,
         {bmc::eCmdGetDeviceId, bmc::eCmdGetSDRInfo}},
    };
    istd::TraceCapture trace(istd::eTraceError);
    for (const Case& c : cases) {
        IdentityConnection connection(c.identity);
        if (!c.answers) {
            connection.SetHandler([](unsigned int, const std::vector<istd::AnyReference>&, istd::AnyReference&) {
                throw istd::Exception("bmc: no answer");
            });
        }
        const Board board(DecomposeUri(c.uri), c.power, c.name, &connection);
        EXPECT_EQ(board.GetName(), c.expectedName) << c.what;
        EXPECT_EQ(board.GetShortName(), c.expectedShortName) << c.what;
        EXPECT_EQ(board.GetType(), c.type) << c.what;
        EXPECT_EQ(board.GetStatus(), c.status) << c.what;
        EXPECT_EQ(board.GetPowerStatus(), c.power) << c.what;
        EXPECT_EQ(connection.Commands(), c.commands) << c.what;
    }
    EXPECT_TRUE(trace.Contains("bmc: Error communicating to board: bmc: no answer"));
}

TEST_F(BoardTest, ATypeWithoutANameFailsTheConstruction)
{
    IdentityConnection connection(Identity(1));
    EXPECT_EQ(ErrorOf([&] { Board(DecomposeUri("kvr:///chassis/3"), bmc::eBoardPowerMngMain, "", &connection); }),
              "invalid value");
}

TEST_F(BoardTest, TheHostBoardMakesOneHostSensorPerId)
{
    bmc::OsConnection connection(bmc::c_localOSUri);
    Board board(bmc::c_localOSUri, bmc::eBoardPowerMngMain, bmc::c_defaultBoardName, &connection);
    const unsigned int count = bmctest::SensorCount(connection);
    ASSERT_GE(count, 9u);
    const std::vector<bmc::SensorId> ids = board.GetSensorsIds();
    ASSERT_EQ(ids.size(), count);
    for (unsigned int i = 0; i < count; ++i) {
        EXPECT_EQ(ids[i], bmc::SensorId(static_cast<int32_t>(i)));
        EXPECT_NE(dynamic_cast<bmc::OsSensor*>(board.GetSensor(ids[i])), nullptr) << i;
    }
    EXPECT_EQ(board.GetSensor(bmc::SensorId(static_cast<int32_t>(count))), nullptr);
    EXPECT_EQ(board.GetSensor(bmc::SensorId(-1)), nullptr);
    EXPECT_EQ(board.GetSensor(bmc::SensorId(0))->GetName(), "TOTAL");

    // Updating again rebuilds the list; the sensors it replaces are freed (the sanitizer run's
    // leak check sees it).
    board.Update();
    EXPECT_EQ(board.GetSensorsIds().size(), count);
}

// A sensor that fails while the list is built fails the construction, and the sensors made
// before it are freed with the rest of the board (the leak check of the sanitizer run sees it).
TEST_F(BoardTest, AConstructionThatFailsLeavesNothingBehind)
{
    IdentityConnection connection(Identity(243, 255), 3);
    connection.SetHandler([](unsigned int command, const std::vector<istd::AnyReference>& args,
                             istd::AnyReference& result) {
        switch (command) {
        case bmc::eCmdGetDeviceId:
            result = Identity(243, 255);
            break;
        case bmc::eCmdGetSDRInfo:
            result = 3u;
            break;
        case bmc::eCmdReadSDRos: {
            const bmc::SensorId& id = bmctest::RecordingConnection::_Argument(command, args, 0);
            if (id.Value() == 2) {
                throw istd::Exception("bmc: reading unavailable sensor.");
            }
            result = bmc::SDRos(0, "S" + std::to_string(id.Value()), "Bytes", bmc::eSensorTypeMemory);
            break;
        }
        default:
            break;
        }
    });
    EXPECT_EQ(ErrorOf([&] { Board(bmc::c_localOSUri, bmc::eBoardPowerMngMain, "", &connection); }),
              "bmc: reading unavailable sensor.");
}

TEST_F(BoardTest, ABoardWithoutConnectionIsDefectiveAndRefusesItsOwnCommands)
{
    // No kind of connection fits "chassis" with "hpi": the pool gives none.
    Board board(DecomposeUri("kvr:///chassis;hpi/3"), bmc::eBoardPowerMngMain, "");
    EXPECT_EQ(board.GetConnection(), nullptr);
    EXPECT_EQ(board.GetStatus(), bmc::eBoardStatusDefective);
    EXPECT_EQ(board.GetName(), "inva3");
    const std::vector<std::function<void()>> calls = {
        [&] { board.FpgaReboot(); },
        [&] { board.GetTime(); },
        [&] { board.FpgaAmbaRead(0); },
        [&] { board.ReadConfiguration(); },
        [&] { board.SetConnectionCallback(nullptr); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(ErrorOf(calls[i]), "bmc: board has no connection") << i;
    }
    EXPECT_EQ(board.GetRedLighStatus(), bmc::eRedLedUnknown);
}

TEST_F(BoardTest, IdentityGettersReadTheirBytes)
{
    const uint8_t bytes[22] = {62,   0xF5, 0xC2, 7, 0x51, 0x29, 0xDE, 0xC0, 0x00, 0x3E, 0xAD,
                               0x03, 0x02, 0x10, 0x01, 0, 0, 0, 4, 0x01, 0x00, 0};
    ipm_devid_ext_rsp identity;
    std::memcpy(&identity, bytes, sizeof identity);
    IdentityConnection connection(identity);
    const Board board(DecomposeUri("kvr:///chassis/1"), bmc::eBoardPowerMngMain, "", &connection);
    EXPECT_EQ(board.GetDeviceId(), 62);
    EXPECT_EQ(board.GetType(), bmc::eBoardTypePAX);
    EXPECT_EQ(board.GetDeviceRevision(), 5);
    EXPECT_EQ(board.GetMajorVer(), 2);
    EXPECT_EQ(board.GetMinorVer(), 7);
    EXPECT_EQ(board.GetIpmiVersion(), 0x51);
    EXPECT_EQ(board.GetDeviceSupport(), 0x29);
    EXPECT_EQ(board.GetManufacturerId(), 0x00C0DEu);
    EXPECT_EQ(board.GetProductId(), 0xAD3E);
    EXPECT_EQ(board.GetFirmwareType(), bmc::eFirmwareTypeMOKVE);
    EXPECT_EQ(board.GetFwRevision(), 0x0203);
    EXPECT_EQ(board.GetFpgaRevision(), 0x0110);
    EXPECT_EQ(board.GetStatus(), bmc::eBoardStatusRunning);
    EXPECT_TRUE(board.IsValid());
}

// The arguments of a command as the IPMI connection reads them (exact types), as text.
std::string Describe(unsigned int command, const std::vector<istd::AnyReference>& args)
{
    const auto arg = [&](size_t i) -> const istd::AnyReference& {
        return bmctest::RecordingConnection::_Argument(command, args, i);
    };
    std::ostringstream text;
    text << command;
    switch (command) {
    case bmc::eCmdPower: {
        bmc::Power_e& operation = arg(0);
        int& slot = arg(1);
        text << " " << operation << " " << slot;
        break;
    }
    case bmc::eCmdSetTime: {
        const istd::Time& time = arg(0);
        text << " " << time.Sec();
        break;
    }
    case bmc::eCmdFpgaSpiWrite: {
        unsigned short& address = arg(0);
        unsigned short& value = arg(1);
        text << " " << address << " " << value;
        break;
    }
    case bmc::eCmdFpgaSpiRead: {
        unsigned short& address = arg(0);
        text << " " << address;
        break;
    }
    case bmc::eCmdFpgaAmbaWrite: {
        unsigned int& address = arg(0);
        unsigned int& value = arg(1);
        text << " " << address << " " << value;
        break;
    }
    case bmc::eCmdFpgaAmbaRead: {
        unsigned int& address = arg(0);
        text << " " << address;
        break;
    }
    case bmc::eCmdInitHwInit: {
        bmc::Board_e& section = arg(0);
        text << " " << section;
        break;
    }
    case bmc::eCmdWriteConfiguration: {
        bmc::BoardConfiguration& configuration = arg(0);
        text << " " << static_cast<int>(configuration.record.baseBoard.boardType);
        break;
    }
    default:
        break;
    }
    return text.str();
}

TEST_F(BoardTest, OperationsOnTheBoardItselfGoToItsOwnConnection)
{
    IdentityConnection connection(Identity(44, 44));
    Board board(bmc::c_localKozUri, bmc::eBoardPowerMngMain, "", &connection);
    std::vector<std::string> sent;
    connection.SetHandler([&](unsigned int command, const std::vector<istd::AnyReference>& args,
                              istd::AnyReference& result) {
        sent.push_back(Describe(command, args));
        if (command == bmc::eCmdFpgaAmbaRead) {
            result = chassis_ctl_ambaread_rsp{0, {0x78, 0x56, 0x34, 0x12}};
        } else if (command == bmc::eCmdFpgaSpiRead) {
            result = chassis_ctl_fpgaread_rsp{0, {0x34, 0x12}};
        } else if (command == bmc::eCmdGetTime) {
            result = istd::Time(1234, 0);
        } else if (command == bmc::eCmdGetDeviceId) {
            result = Identity(44, 44, 4, 1);
        } else if (command == bmc::eCmdInitHwInit) {
            result = storage_hwstorage_hwinit_rsp{{1, 2, 3, 4}};
        }
    });
    m_sim.ClearLogs();
    bmc::BoardConfiguration configuration;
    configuration.record.baseBoard.boardType = 44;
    struct Case {
        std::function<void()> call;
        std::string sent;
    };
    const std::vector<Case> cases = {
        {[&] { board.FpgaReboot(); }, "7"},
        {[&] { board.ShutDown(); }, "4 0 0"},
        {[&] { board.PowerCycle(); }, "4 2 0"},
        {[&] { board.FpgaSpiWrite(0x20, 0x55); }, "12 32 85"},
        {[&] { EXPECT_EQ(board.FpgaSpiRead(0x21).Value(), 0x1234); }, "13 33"},
        {[&] { board.FpgaAmbaWrite(0x100, 0xCAFE); }, "14 256 51966"},
        {[&] { EXPECT_EQ(board.FpgaAmbaRead(0x104).Value(), 0x12345678u); }, "15 260"},
        {[&] { board.SetTime(istd::Time(1700000000, 0)); }, "6 1700000000"},
        {[&] { EXPECT_EQ(board.GetTime(), istd::Time(1234, 0)); }, "5"},
        {[&] { EXPECT_EQ(board.InitHwInit(bmc::eBoardSubsys).data[3], 4); }, "22 1"},
        {[&] { board.WriteConfiguration(configuration); }, "21 44"},
        {[&] { EXPECT_EQ(board.GetRedLighStatus(), bmc::eRedLedOn); }, "9"},
    };
    for (const Case& c : cases) {
        sent.clear();
        c.call();
        EXPECT_EQ(sent, std::vector<std::string>{c.sent});
    }
    EXPECT_TRUE(KozRequests().empty());
}

TEST_F(BoardTest, SlotOperationsGoToTheChassisManagerWithTheSlotFromTheId)
{
    struct Case {
        const char* id;
        std::function<void(Board&)> call;
        uint8_t netFn;
        uint8_t cmd;
        uint8_t target;
        std::vector<uint8_t> data;
    };
    const std::vector<Case> cases = {
        {"3", [](Board& b) { b.Power(bmc::ePowerCycle); }, 0x00, 0x02, 0, {2, 3}},
        {"0x0A", [](Board& b) { b.PowerUp(); }, 0x00, 0x02, 0, {1, 10}},
        {"3", [](Board& b) { b.PowerDown(); }, 0x00, 0x02, 0, {0, 3}},
        {"10", [](Board& b) { b.SetPortStateUsb(false); }, 0x2C, 0x19, 10, {0x00, 0x01, 0x0C, 0x2F, 0x00, 0, 0x00}},
        {"0x3", [](Board& b) { b.SetPortStateUsb(true); }, 0x2C, 0x19, 3, {0x00, 0x01, 0x0C, 0x2F, 0x00, 1, 0x00}},
        {"3", [](Board& b) { b.JtagCmd(bmc::eJtagChassisOp12, 5); }, 0x00, 0x02, 0, {12}},
        {"3", [](Board& b) { b.ReadPowerStatus(); }, 0x06, 0xA0, 0, {}},
    };
    for (const Case& c : cases) {
        IdentityConnection own(Identity(62));
        Board board(bmc::Uri(bmc::Uri::eChassis, c.id, bmc::Uri::eInterfaceDefault), bmc::eBoardPowerOff, "", &own);
        m_sim.ClearLogs();
        c.call(board);
        const std::vector<sim::cmc::Request> requests = KozRequests();
        ASSERT_EQ(requests.size(), 1u) << c.id;
        EXPECT_EQ(requests[0].netFn, c.netFn) << c.id;
        EXPECT_EQ(requests[0].cmd, c.cmd) << c.id;
        EXPECT_EQ(requests[0].target, c.target) << c.id;
        EXPECT_EQ(requests[0].data, c.data) << c.id;
        EXPECT_EQ(m_sim.Requests().size(), 1u) << c.id;
        EXPECT_TRUE(own.Commands().empty()) << c.id;
    }
    EXPECT_FALSE(m_sim.Board(3).mngPower);
    EXPECT_TRUE(m_sim.Board(3).usbPort);
    EXPECT_FALSE(m_sim.Board(10).usbPort);
}

TEST_F(BoardTest, ThePowerStatusComesFromTheSlotMasks)
{
    IdentityConnection own(Identity(62));
    Board board(DecomposeUri("kvr:///chassis/3"), bmc::eBoardPowerOff, "", &own);
    const std::vector<std::pair<std::function<void(sim::cmc::BoardModel&)>, bmc::BoardPowerStatus_e>> cases = {
        {[](sim::cmc::BoardModel& b) { b.mngPower = b.mainPower = true; }, bmc::eBoardPowerMngMain},
        {[](sim::cmc::BoardModel& b) { b.mainPower = false; }, bmc::eBoardPowerMng},
        {[](sim::cmc::BoardModel& b) { b.mngPower = false; }, bmc::eBoardPowerOff},
    };
    for (const auto& c : cases) {
        m_sim.Modify(3, c.first);
        board.ReadPowerStatus();
        EXPECT_EQ(board.GetPowerStatus(), c.second);
    }
}

TEST_F(BoardTest, SlotOperationsRefuseBoardsOutsideAChassisSlot)
{
    struct Case {
        const char* uri;
        std::function<void(Board&)> call;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"kvr:///amc/3", [](Board& b) { b.PowerUp(); }, "bmc: invalid board id"},
        {"kvr:///amc/3", [](Board& b) { b.SetPortStateUsb(true); }, "bmc: invalid board id"},
        {"kvr:///chassis/x3", [](Board& b) { b.PowerDown(); }, "Bad cast from x3 to int"},
        {"kvr:///chassis/2", [](Board& b) { b.ShutDown(); }, "bmc: invalid board id"},
        {"kvr:///chassis/2", [](Board& b) { b.PowerCycle(); }, "bmc: invalid board id"},
        // Shutting down and reading the power status take the id in decimal only.
        {"kvr:///chassis/0x00", [](Board& b) { b.ShutDown(); }, "Bad cast from 0x00 to int"},
        {"kvr:///chassis/0x03", [](Board& b) { b.ReadPowerStatus(); }, "Bad cast from 0x03 to int"},
    };
    for (const Case& c : cases) {
        IdentityConnection own(Identity(62));
        Board board(DecomposeUri(c.uri), bmc::eBoardPowerOff, "", &own);
        m_sim.ClearLogs();
        EXPECT_EQ(ErrorOf([&] { c.call(board); }), c.failure) << c.uri;
        EXPECT_TRUE(m_sim.Requests().empty()) << c.uri;
        EXPECT_TRUE(own.Commands().empty()) << c.uri;
    }
}

TEST_F(BoardTest, HardwareIdentificationComesFromTheConfigurationRecord)
{
    bmc::BoardConfiguration stored;
    stored.record.baseBoard.header.magicCode = bmc::c_configMagic;
    std::strcpy(stored.record.baseBoard.header.revisionStr, "rev 1.2");
    hwidentification& base = stored.record.baseBoard.hwId;
    base.applicationIdentifier = 2;
    base.subsystemIdentifier = 7;
    base.hwRevisionNumber = 3;
    std::memcpy(base.customerIdString, "ABCD", 4); // fills the field: no zero byte ends it
    std::strcpy(base.serialNoString, "SN-0001");
    stored.record.subsysBoard.header.magicCode = bmc::c_configMagic;
    stored.record.subsysBoard.hwId.subsystemIdentifier = 9;
    std::strcpy(stored.record.subsysBoard.hwId.serialNoString, "SUB-1");

    IdentityConnection connection(Identity(173, 173));
    Board board(DecomposeUri("kvr:///chassis/2"), bmc::eBoardPowerMngMain, "", &connection);
    connection.SetHandler([&](unsigned int command, const std::vector<istd::AnyReference>&,
                              istd::AnyReference& result) {
        if (command == bmc::eCmdReadConfiguration) {
            result = stored;
        }
    });

    const bmc::BoardConfiguration read = board.ReadConfiguration();
    EXPECT_EQ(read.boardType, bmc::eBoardTypeMOKVE);
    EXPECT_EQ(read.firmwareType, bmc::eFirmwareTypeMOKVE);
    EXPECT_EQ(read.uri.ToString(), "kvr:///chassis/2");

    const bmc::HwIdentification id = board.GetHardwareId();
    EXPECT_TRUE(id.valid);
    EXPECT_EQ(id.applicationId, eAppIdOrvalisPlus);
    EXPECT_EQ(id.subsystemId, 7u);
    EXPECT_EQ(id.hwRevision, eHwRevC);
    EXPECT_EQ(id.customerId, "ABCD");
    EXPECT_EQ(id.serialId, "SN-0001");
    EXPECT_EQ(id.revision, "rev 1.2");

    // The subsystem section counts only when the record says the board has one.
    EXPECT_FALSE(board.GetSubsysHardwareId().valid);
    stored.record.baseBoard.subsysPresent = 1;
    const bmc::HwIdentification sub = board.GetSubsysHardwareId();
    EXPECT_TRUE(sub.valid);
    EXPECT_EQ(sub.subsystemId, 9u);
    EXPECT_EQ(sub.serialId, "SUB-1");

    stored.record.baseBoard.header.magicCode = 0xFFFFFFFF;
    const bmc::HwIdentification none = board.GetHardwareId();
    EXPECT_FALSE(none.valid);
    EXPECT_EQ(none.subsystemId, 0u);
    EXPECT_EQ(none.serialId, "");
}

TEST_F(BoardTest, ThePrinterDescribesTheBoardOnOneLine)
{
    struct Case {
        const char* uri;
        bmc::BoardPowerStatus_e power;
        ipm_devid_ext_rsp identity;
        bool answers;
        std::string text;
        size_t identityReads;
    };
    const std::vector<Case> cases = {
        {"kvr:///chassis/7", bmc::eBoardPowerOff, Identity(62), true,
         "Board: chassis:7, name: chassis:7, type: INVA (), st: Defective (inaccessible)(255), pwr: Off(0)", 0},
        {"kvr:///chassis/2", bmc::eBoardPowerMngMain, Identity(173, 173, 4, 1), true,
         "Board: chassis:2, name: mokve2, type: MOKVE (/dev/kavrel2), st: Running(4), pwr: Mng + Main(2), RL: On", 2},
        {"kvr:///chassis/3", bmc::eBoardPowerMng, Identity(62), true,
         "Board: chassis:3, name: pax3, type: PAX (), st: Running(4), pwr: Mng(1), RL: Off", 2},
        {"kvr:///chassis/4", bmc::eBoardPowerMngMain, Identity(62), false,
         "Board: chassis:4, name: inva4, type: INVA (), st: Defective (inaccessible)(255), pwr: Mng + Main(2), "
         "RL: Unknown",
         1},
        {"kvr:///os/", bmc::eBoardPowerMngMain, Identity(243, 255), true,
         "Board: os, name: os, type: OS (), st: Running(4)", 1},
    };
    for (const Case& c : cases) {
        IdentityConnection connection(c.identity);
        if (!c.answers) {
            connection.SetHandler([](unsigned int, const std::vector<istd::AnyReference>&, istd::AnyReference&) {
                throw istd::Exception("bmc: no answer");
            });
        }
        const Board board(DecomposeUri(c.uri), c.power, "", &connection);
        std::ostringstream text;
        text << board;
        EXPECT_EQ(text.str(), c.text);
        EXPECT_EQ(connection.Count(bmc::eCmdGetDeviceId), c.identityReads) << c.uri;
    }

    // A status without a name fails and writes nothing.
    IdentityConnection odd(Identity(62, 0, 7));
    const Board board(DecomposeUri("kvr:///chassis/3"), bmc::eBoardPowerMngMain, "", &odd);
    std::ostringstream text;
    EXPECT_EQ(ErrorOf([&] { text << board; }), "invalid value");
    EXPECT_EQ(text.str(), "");
}

} // namespace
