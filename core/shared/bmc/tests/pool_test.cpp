// The connection and board pools against the simulated chassis: connection kinds, the
// enumeration of the host and the chassis slots, boards made on demand, re-enumeration, and a
// chassis board mapping its simulated monitor device.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"
#include "bmc/ipmi_usb_connection.h"
#include "bmc/os_connection.h"
#include "bmc/test_connection.h"
#include "common/board_helpers.h"
#include "common/host_commands.h"
#include "sim/cmc/simulator.h"
#include "sim/devices/chassis_devices.h"
#include "tests/support/error_of.h"

namespace {

using bmc::BoardPool;
using bmc::ConnectionPool;
using bmc::DecomposeUri;

const std::string c_sampleChassis = KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt";

std::vector<std::string> Texts(const std::vector<bmc::Uri>& uris)
{
    std::vector<std::string> texts;
    for (const bmc::Uri& uri : uris) {
        texts.push_back(uri.ToString());
    }
    return texts;
}

class Pool : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.SetTimeScale(0);
        Load(c_sampleChassis);
        // The first use enumerates; each test then enumerates when it says so.
        ::testing::internal::CaptureStdout();
        BoardPool::Instance();
        ::testing::internal::GetCapturedStdout();
    }

    // Loads a chassis file, or a chassis text (one with a line end).
    void Load(const std::string& chassis)
    {
        if (chassis.find('\n') == std::string::npos) {
            m_sim.Load(chassis);
        } else {
            m_sim.LoadText(chassis);
        }
    }

    void TearDown() override
    {
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    // Enumerates the chassis loaded now; returns what was written to standard output.
    static std::string Enumerate()
    {
        ::testing::internal::CaptureStdout();
        BoardPool::Instance().Update();
        return ::testing::internal::GetCapturedStdout();
    }

    static std::vector<std::string> LocalUris() { return Texts(BoardPool::Instance().GetAllLocalBoardUris()); }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

enum Kind_e { eNone, eIpmiUsb, eOs, eHpi, eTest };

Kind_e KindOf(bmc::Connection* connection)
{
    if (dynamic_cast<bmc::IpmiUsbConnection*>(connection) != nullptr) {
        return eIpmiUsb;
    }
    if (dynamic_cast<bmc::OsConnection*>(connection) != nullptr) {
        return eOs;
    }
    if (dynamic_cast<bmc::HpiConnection*>(connection) != nullptr) {
        return eHpi;
    }
    return dynamic_cast<bmc::TestConnection*>(connection) != nullptr ? eTest : eNone;
}

TEST_F(Pool, TheConnectionKindFollowsSubsystemAndInterface)
{
    const std::vector<std::pair<std::string, Kind_e>> cases = {
        {"kvr:///chassis/1", eIpmiUsb},
        {"kvr:///chassis;ipmi-usb/2", eIpmiUsb},
        {"kvr:///chassis;ipmi-i2c/1", eNone},
        {"kvr:///chassis;hpi/1", eNone},
        {"kvr:///chassis;ipmi-lan/1", eNone},
        {"kvr:///amc;ipmi-usb/1", eNone},
        {"kvr:///amc;ipmi-i2c/1", eNone},
        {"kvr:///amc;ipmi-lan/1", eNone},
        {"kvr:///os/", eOs},
        {"kvr:///os;hpi/2", eOs},
        {"kvr://rack2/chassis/1", eNone}, // not local
        {"kvr://rack2/os/", eNone},
        {"kvr:///amc/1", eHpi},
        {"kvr:///amc;hpi/1", eHpi},
        {"kvr:///trm/2", eHpi},
        {"kvr:///cu;ipmi-lan/1", eHpi},
        {"kvr:///ps;ipmi-i2c/1", eHpi},
        {"kvr:///mch;ipmi-usb/1", eHpi},
        {"kvr://rack2/amc/1", eNone},
        {"kvr:///test/1", eTest},
        {"kvr:///test;hpi/Os", eTest},
        {"kvr://rack2/test/1", eNone},
    };
    ConnectionPool& pool = ConnectionPool::Instance();
    for (const auto& c : cases) {
        bmc::Connection* connection = pool.GetConnection(DecomposeUri(c.first));
        EXPECT_EQ(KindOf(connection), c.second) << c.first;
        // Made once and kept; a URI without a kind is tried again and stays without.
        EXPECT_EQ(pool.GetConnection(DecomposeUri(c.first)), connection) << c.first;
    }
    EXPECT_EQ(pool.GetConnection(bmc::Uri(bmc::Uri::eUnknown, "1", bmc::Uri::eInterfaceDefault)), nullptr);

    // Equal texts share one connection.
    EXPECT_EQ(pool.GetConnection(DecomposeUri("kvr://local/chassis/1")), pool.GetConnection(DecomposeUri("1")));
    auto* koz = dynamic_cast<bmc::IpmiUsbConnection*>(pool.GetLocalKOZConnection());
    ASSERT_NE(koz, nullptr);
    EXPECT_EQ(koz, pool.GetConnection(DecomposeUri("kvr:///chassis/0")));
    EXPECT_EQ(koz->GetBoardId(), 0);
}

TEST_F(Pool, TheSampleChassisGivesTheHostAndItsThreeBoards)
{
    EXPECT_EQ(Enumerate(), "");
    EXPECT_EQ(LocalUris(),
              (std::vector<std::string>{"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///chassis/2", "kvr:///os/"}));
    struct Expected {
        const char* uri;
        const char* name;
        bmc::BoardType_e type;
    };
    for (const Expected& e : {Expected{"kvr:///chassis/0", "koz0", bmc::eBoardTypeKOZ},
                              Expected{"kvr:///chassis/1", "pax1", bmc::eBoardTypePAX},
                              Expected{"kvr:///chassis/2", "mokve2", bmc::eBoardTypeMOKVE},
                              Expected{"kvr:///os/", "os", bmc::eBoardTypeOS}}) {
        bmc::Board* board = BoardPool::Instance().GetBoard(DecomposeUri(e.uri));
        ASSERT_NE(board, nullptr) << e.uri;
        EXPECT_EQ(board->GetName(), e.name);
        EXPECT_EQ(board->GetType(), e.type) << e.uri;
        EXPECT_EQ(board->GetPowerStatus(), bmc::eBoardPowerMngMain) << e.uri;
    }
    bmc::Board* host = BoardPool::Instance().GetBoard(bmc::c_localOSUri);
    EXPECT_GE(host->GetSensorsIds().size(), 9u);
    std::ostringstream text;
    text << *host;
    EXPECT_EQ(text.str(), "Board: os, name: os, type: OS (), st: Running(4)");
}

TEST_F(Pool, EveryOccupiedSlotGetsABoardWithItsPowerStatus)
{
    struct Case {
        const char* chassis;
        std::vector<std::string> uris;
        std::vector<std::pair<std::string, bmc::BoardPowerStatus_e>> power;
    };
    const std::vector<Case> cases = {
        // The brief status answer names no slot: the chassis manager alone.
        {"slot 0 KOZ\n", {"kvr:///chassis/0", "kvr:///os/"}, {{"koz0", bmc::eBoardPowerMngMain}}},
        // Answer bits 0 and 2: slots 1 and 3.
        {"slot 0 KOZ\nslot 1 PAX\nslot 3 MOKVE\n",
         {"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///chassis/3", "kvr:///os/"},
         {{"pax1", bmc::eBoardPowerMngMain}, {"mokve3", bmc::eBoardPowerMngMain}}},
        // A board powered off gets a board too, asked nothing.
        {"slot 0 KOZ\nslot 2 PAX\npower off\nslot 4 MOKVE\npower mng\n",
         {"kvr:///chassis/0", "kvr:///chassis/2", "kvr:///chassis/4", "kvr:///os/"},
         {{"chassis:2", bmc::eBoardPowerOff}, {"mokve4", bmc::eBoardPowerMng}}},
    };
    for (const Case& c : cases) {
        Load(c.chassis);
        EXPECT_EQ(Enumerate(), "") << c.chassis;
        EXPECT_EQ(LocalUris(), c.uris) << c.chassis;
        for (const auto& expected : c.power) {
            bool found = false;
            for (const bmc::Uri& uri : BoardPool::Instance().GetAllLocalBoardUris()) {
                bmc::Board* board = BoardPool::Instance().GetBoard(uri);
                if (board->GetName() == expected.first) {
                    found = true;
                    EXPECT_EQ(board->GetPowerStatus(), expected.second) << expected.first;
                }
            }
            EXPECT_TRUE(found) << expected.first;
        }
    }
}

TEST_F(Pool, ASlotWhoseBoardFailsIsLeftOut)
{
    struct Case {
        const char* what;
        std::string chassis;
        std::string fault;
        std::string output;
        std::vector<std::string> uris;
    };
    const std::vector<Case> cases = {
        {"sensor count refused", "", "ccode 0xC0 slot=2 netfn=0x04 cmd=0x20", "exception 2\n",
         {"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///os/"}},
        {"type without a name", "slot 0 KOZ\nslot 1 1\nslot 2 PAX\n", "", "exception 1\n",
         {"kvr:///chassis/0", "kvr:///chassis/2", "kvr:///os/"}},
    };
    for (const Case& c : cases) {
        Load(c.chassis.empty() ? c_sampleChassis : c.chassis);
        if (!c.fault.empty()) {
            m_sim.AddFault(c.fault);
        }
        EXPECT_EQ(Enumerate(), c.output) << c.what;
        EXPECT_EQ(LocalUris(), c.uris) << c.what;
    }
}

TEST_F(Pool, WithoutTheChassisManagerThePoolHoldsTheHostAlone)
{
    struct Case {
        const char* what;
        std::function<void(sim::cmc::Simulator&)> setup;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {"no controller", [](sim::cmc::Simulator& sim) { sim.Clear(); }, "bmc: Error communicating to local KOZ: "},
        {"request lost", [](sim::cmc::Simulator& sim) { sim.AddFault("write-error slot=0 netfn=0x06 cmd=0xA0"); },
         "bmc: Error communicating to local KOZ: bmc: Usb transfer failed. (while writing)"},
    };
    for (const Case& c : cases) {
        Load(c_sampleChassis);
        c.setup(m_sim);
        istd::TraceCapture trace(istd::eTraceError);
        EXPECT_EQ(Enumerate(), "") << c.what;
        EXPECT_EQ(LocalUris(), std::vector<std::string>{"kvr:///os/"}) << c.what;
        EXPECT_TRUE(trace.Contains(c.trace)) << c.what << "\n" << trace.Text();
    }
}

TEST_F(Pool, TheChassisStepReadsTheMasksOfTheChassisManager)
{
    bmctest::RecordingConnection koz(bmc::c_localKozUri);
    bmc::BoardBriefStatusMap status;
    koz.SetHandler([&](unsigned int command, const std::vector<istd::AnyReference>&, istd::AnyReference& result) {
        if (command == bmc::eCmdGetBoardBriefStatus) {
            result = status;
        }
    });

    {
        istd::TraceCapture trace(istd::eTraceError);
        EXPECT_TRUE(bmc::EnumerateArchBBoards(koz).empty());
        EXPECT_TRUE(trace.Contains("No chassis boards available on platform B."));
    }

    // Slots 0, 2 and 31; slot 2 has management power, so its board (of the sample chassis)
    // is asked who it is.
    status.presenceMask = (1u << 0) | (1u << 2) | (1u << 31);
    status.mngMask = 1u << 2;
    bmc::BoardMap boards = bmc::EnumerateArchBBoards(koz);
    std::vector<std::string> found;
    for (const auto& entry : boards) {
        found.push_back(entry.first.ToString() + " " + entry.second->GetName() + " " +
                        std::to_string(entry.second->GetPowerStatus()));
        bmc::DeleteBoard(entry.second);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"kvr:///chassis/0 chassis:0 0", "kvr:///chassis/2 mokve2 1",
                                               "kvr:///chassis/31 chassis:31 0"}));
    EXPECT_EQ(koz.Commands(), std::vector<unsigned int>(2, bmc::eCmdGetBoardBriefStatus));
}

TEST_F(Pool, BoardsAreMadeOnDemandAndFailuresAreKeptUntilTheNextUpdate)
{
    Enumerate();
    BoardPool& pool = BoardPool::Instance();

    // Another text of slot 1 is another URI: its board is made when asked for.
    const bmc::Uri usb1 = DecomposeUri("kvr:///chassis;ipmi-usb/1");
    bmc::Board* board = pool.GetBoard(usb1);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->GetType(), bmc::eBoardTypePAX);
    EXPECT_EQ(pool.GetBoard(usb1), board);

    // An empty slot, and a URI without a connection, give defective boards: null, and no new
    // attempt until the next update.
    for (const char* text : {"kvr:///chassis/5", "kvr:///chassis;hpi/3", "kvr://rack2/chassis/1"}) {
        EXPECT_EQ(pool.GetBoard(DecomposeUri(text)), nullptr) << text;
        const size_t events = m_sim.UsbEvents().size();
        EXPECT_EQ(pool.GetBoard(DecomposeUri(text)), nullptr) << text;
        EXPECT_EQ(m_sim.UsbEvents().size(), events) << text;
    }

    // A test board is kept whatever its status.
    bmc::Board* test = pool.GetBoard(DecomposeUri("kvr:///test/1"));
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(pool.GetBoard(DecomposeUri("kvr:///test/1")), test);

    EXPECT_EQ(LocalUris(), (std::vector<std::string>{"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///chassis/2",
                                                     "kvr:///chassis;ipmi-usb/1", "kvr:///os/", "kvr:///test/1"}));

    // Update starts afresh: the empty slot is tried again.
    Enumerate();
    EXPECT_EQ(LocalUris(),
              (std::vector<std::string>{"kvr:///chassis/0", "kvr:///chassis/1", "kvr:///chassis/2", "kvr:///os/"}));
    const size_t events = m_sim.UsbEvents().size();
    EXPECT_EQ(pool.GetBoard(DecomposeUri("kvr:///chassis/5")), nullptr);
    EXPECT_GT(m_sim.UsbEvents().size(), events);
}

TEST_F(Pool, AConstructorFailureOnDemandStoresNothing)
{
    Enumerate();
    m_sim.AddFault("ccode 0xC0 slot=1 netfn=0x04 cmd=0x20");
    const bmc::Uri usb1 = DecomposeUri("kvr:///chassis;ipmi-usb/1");
    EXPECT_EQ(testsupport::ErrorOf([&] { BoardPool::Instance().GetBoard(usb1); }).rfind("bmc: GetSDRInfo failed", 0),
              0u);
    m_sim.ClearFaults();
    EXPECT_NE(BoardPool::Instance().GetBoard(usb1), nullptr);
}

TEST_F(Pool, AChassisBoardMapsItsSimulatedMonitorDevice)
{
    Enumerate();
    sim::ChassisMonitorDevices devices(0x10000, 0x1);
    // The sample chassis: the manager (firmware KOZ) and the processing board (firmware MOKVE)
    // have device files, the timing board carries no firmware type.
    EXPECT_EQ(devices.Slots(), (std::vector<int>{0, 2}));

    bmc::Board* timing = BoardPool::Instance().GetBoard(DecomposeUri("kvr:///chassis/1"));
    EXPECT_EQ(timing->GetDevicePrefix(), "");

    bmc::Board* board = BoardPool::Instance().GetBoard(DecomposeUri("kvr:///chassis/2"));
    EXPECT_EQ(board->CreateDeviceName(bmc::eMonitorDevice, 0), sim::ChassisMonitorDevices::PathForSlot(2));
    bmc::DeviceMapping_t mapping;
    board->MapDevice(mapping);
    EXPECT_EQ(mapping.size, 0x10000u);
    EXPECT_TRUE(board->IsFeatureSupported(mapping, bmc::c_featurePcieFlash));
    devices.Find(2)->SetFeatures(0);
    EXPECT_FALSE(board->IsFeatureSupported(mapping, bmc::c_featurePcieFlash));
    board->UnmapDevice(mapping);
    EXPECT_EQ(devices.Find(2)->GetOpenDescriptorCount(), 0u);
}

} // namespace
