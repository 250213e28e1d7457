// IPMI over USB against the simulated chassis management controller, which stands in for
// libusb: device search, claim, drain, frames, the transport's failures, and the commands of
// the connection end to end.

#include <gtest/gtest.h>
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/ipmi_exception.h"
#include "bmc/ipmi_usb_connection.h"
#include "sim/cmc/simulator.h"
#include "tests/support/error_of.h"

namespace {

using istd::AnyReference;
using sim::cmc::UsbEvent;
using testsupport::ErrorOf;

std::vector<unsigned int> g_sleeps;

void RecordSleep(unsigned int milliseconds)
{
    g_sleeps.push_back(milliseconds);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char item[4];
        std::snprintf(item, sizeof item, "%s%02x", i == 0 ? "" : " ", bytes[i]);
        text += item;
    }
    return text;
}

bmc::Uri SlotUri(int slot)
{
    return bmc::CreateLocalChassisUri(slot, bmc::Uri::eInterfaceIpmiUsb);
}

class IpmiUsb : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.Load(KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt");
        m_sim.SetTimeScale(0);
        g_sleeps.clear();
        bmc::IpmiUsbConnection::SetSleep(&RecordSleep);
    }

    void TearDown() override
    {
        bmc::IpmiUsbConnection::SetSleep(nullptr);
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    static ipm_devid_ext_rsp DeviceId(bmc::Connection& connection)
    {
        ipm_devid_ext_rsp id{};
        connection.Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, AnyReference(id));
        return id;
    }

    // The events of one kind, on the devices of one slot.
    std::vector<UsbEvent> Events(UsbEvent::Kind_e kind, int slot = 1) const
    {
        std::vector<UsbEvent> found;
        for (const UsbEvent& e : m_sim.UsbEvents()) {
            if (e.kind == kind && e.slot == slot) {
                found.push_back(e);
            }
        }
        return found;
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

TEST_F(IpmiUsb, ProductIdFromTheBoardId)
{
    struct Case {
        const char* id;
        int product;
    };
    for (const Case& c : {Case{"0", 0xABCD}, Case{"1", 0x101}, Case{"3", 0x103}, Case{"-1", 0xABCC}}) {
        const bmc::IpmiUsbConnection connection(bmc::Uri(bmc::Uri::eChassis, c.id, bmc::Uri::eInterfaceIpmiUsb));
        EXPECT_EQ(connection.GetUsbProductId(), c.product) << c.id;
    }
}

TEST_F(IpmiUsb, EachSlotIsReachedThroughItsOwnController)
{
    const std::vector<std::pair<int, uint8_t>> slots = {{0, 44}, {1, 62}, {2, 173}};
    for (const auto& [slot, type] : slots) {
        bmc::IpmiUsbConnection connection(SlotUri(slot));
        const ipm_devid_ext_rsp id = DeviceId(connection);
        EXPECT_EQ(id.deviceId, type) << slot;
        EXPECT_EQ(id.ManufacturerId(), m_sim.ManufacturerId()) << slot;
        EXPECT_EQ(id.deviceId, m_sim.Board(slot).identity[0]) << slot;
    }
    // The search runs once per connection: later commands reuse the device.
    bmc::IpmiUsbConnection connection(SlotUri(1));
    m_sim.ClearLogs();
    DeviceId(connection);
    DeviceId(connection);
    size_t lists = 0;
    for (const UsbEvent& e : m_sim.UsbEvents()) {
        lists += e.kind == UsbEvent::eList;
    }
    EXPECT_EQ(lists, 1u);
    EXPECT_EQ(Events(UsbEvent::eOpen).size(), 2u);
    EXPECT_EQ(Events(UsbEvent::eClose).size(), 2u);
}

TEST_F(IpmiUsb, TheFirstMatchingDeviceIsTaken)
{
    // A device with the controller's ids that never answers, listed before the slots.
    m_sim.LoadText("usb twin 0x6B76 0x101 first\nslot 0 KOZ\nslot 1 PAX\n");
    m_sim.SetTimeScale(0);
    bmc::IpmiUsbConnection connection(SlotUri(1));
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: Usb transfer failed. (while reading)");
    std::vector<std::string> written;
    for (const UsbEvent& e : m_sim.UsbEvents()) {
        if (e.kind == UsbEvent::eWrite) {
            written.push_back(e.device);
        }
    }
    EXPECT_EQ(written, std::vector<std::string>{"twin"});
}

TEST_F(IpmiUsb, SearchAndOpenFailures)
{
    struct Case {
        const char* fault;
        int slot;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"", 5, "bmc: couldn't find USB device"},
        {"list", 1, "bmc: couldn't find any USB device"},
        // An unreadable descriptor ends the walk, even before the device sought.
        {"descriptor device=hub", 1, "bmc: couldn't find USB device"},
        {"descriptor slot=2", 1, "no error"},
        {"open slot=1", 1, "bmc: couldn't open device"},
        {"init", 1, "bmc: USB context not available."},
    };
    for (const Case& c : cases) {
        m_sim.ClearFaults();
        if (*c.fault != '\0') {
            m_sim.AddFault(c.fault);
        }
        bmc::IpmiUsbConnection connection(SlotUri(c.slot));
        EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), c.text) << c.fault;
    }
}

TEST_F(IpmiUsb, ClaimIsRetriedWithGrowingWaits)
{
    m_sim.AddFault("claim slot=1 count=5");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
    EXPECT_EQ(Events(UsbEvent::eClaim).size(), 6u);
    ASSERT_EQ(g_sleeps.size(), 5u);
    EXPECT_EQ(g_sleeps[0], 6u);
    for (unsigned int k = 1; k < g_sleeps.size(); ++k) {
        EXPECT_GE(g_sleeps[k], 6u);
        EXPECT_LE(g_sleeps[k], 6u + 29u * k);
        EXPECT_EQ((g_sleeps[k] - 6) % k, 0u);
    }
}

TEST_F(IpmiUsb, ClaimGivesUpAfterFortyAttemptsAndClosesTheHandle)
{
    m_sim.AddFault("claim slot=1 count=forever");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: couldn't claim interface");
    EXPECT_EQ(Events(UsbEvent::eClaim).size(), 40u);
    EXPECT_EQ(g_sleeps.size(), 40u);
    EXPECT_EQ(Events(UsbEvent::eClose).size(), 1u);
    EXPECT_TRUE(Events(UsbEvent::eRelease).empty());
    m_sim.ClearFaults();
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
}

TEST_F(IpmiUsb, StaleFramesAreDrainedBeforeTheRequest)
{
    m_sim.AddFault("pending 2 slot=1");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    istd::TraceCapture capture(istd::eTraceInfo);
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
    size_t logged = 0;
    for (const std::string& line : capture.Lines()) {
        logged += line.find("USB communication - tx buffer on slave was not empty (workaround 2473)!") !=
                  std::string::npos;
    }
    EXPECT_EQ(logged, 2u);
    // Three drain reads of 10 ms (the third times out), then the answers' reads.
    std::vector<std::string> reads;
    for (const UsbEvent& e : Events(UsbEvent::eRead)) {
        reads.push_back(std::to_string(e.timeout) + (e.result == 0 ? "" : " timeout"));
    }
    EXPECT_EQ(reads, (std::vector<std::string>{"10", "10", "10 timeout", "5000", "5000"}));
}

TEST_F(IpmiUsb, ADeviceThatNeverStopsSendingIsGivenUp)
{
    m_sim.AddFault("pending 100 slot=1");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: couldn't drain stale frames");
    EXPECT_EQ(Events(UsbEvent::eRead).size(), 64u);
    EXPECT_EQ(Events(UsbEvent::eRelease).size(), 1u);
    EXPECT_EQ(Events(UsbEvent::eClose).size(), 1u);
    // The rest is drained by the next command.
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
}

TEST_F(IpmiUsb, AFrameOfAnotherFunctionCostsOneMoreReadAndFails)
{
    m_sim.AddFault("fn slot=1 netfn=6 cmd=1");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    istd::TraceCapture capture(istd::eTraceInfo);
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: Usb transfer failed. (fn mismatch)");
    EXPECT_TRUE(capture.Contains("USB communication - request/response fn mismatch. req.fn=6 rsp.fn=6 (workaround 2473)!"));
    std::vector<unsigned int> answerReads;
    for (const UsbEvent& e : Events(UsbEvent::eRead)) {
        if (e.timeout == bmc::IpmiUsbConnection::c_readTimeout) {
            answerReads.push_back(e.timeout);
        }
    }
    EXPECT_EQ(answerReads.size(), 2u);
    EXPECT_EQ(Events(UsbEvent::eWrite).size(), 1u);
    // The true answer was read with the mismatch and does not meet the next command.
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
}

TEST_F(IpmiUsb, TransferFaults)
{
    struct Case {
        const char* fault;
        const char* text;
        const char* logged; // an unexpected-error log line, or null
    };
    const std::vector<Case> cases = {
        {"short slot=1", "bmc: Usb transfer failed. (wrong received data length)", nullptr},
        {"short 63 slot=1", "bmc: Usb transfer failed. (wrong received data length)", nullptr},
        {"length 60 slot=1", "bmc: Usb transfer failed. (wrong data length)", nullptr},
        {"length 255 slot=1", "bmc: Usb transfer failed. (wrong data length)", nullptr},
        {"write-error slot=1", "bmc: Usb transfer failed. (while writing)", "USB communication - unexpected error: -1"},
        {"read-error LIBUSB_ERROR_PIPE slot=1", "bmc: Usb transfer failed. (while reading)",
         "USB communication - unexpected error: -9"},
        {"timeout slot=1", "bmc: Usb transfer failed. (while reading)", nullptr},
    };
    for (const Case& c : cases) {
        m_sim.ClearFaults();
        m_sim.AddFault(c.fault);
        bmc::IpmiUsbConnection connection(SlotUri(1));
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), c.text) << c.fault;
        if (c.logged != nullptr) {
            EXPECT_TRUE(capture.Contains(c.logged)) << c.fault;
        } else {
            EXPECT_FALSE(capture.Contains("unexpected error")) << c.fault;
        }
        // Each failure left the device closed and the connection usable.
        m_sim.ClearFaults();
        EXPECT_EQ(DeviceId(connection).deviceId, 62) << c.fault;
    }
}

TEST_F(IpmiUsb, RequestFrames)
{
    bmc::IpmiUsbConnection connection(SlotUri(1));
    connection.Open();
    std::vector<uint8_t> data(60);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0xA0 + i);
    }
    ipmi_rs response;
    auto send = [&](uint8_t netFn, uint8_t cmd, uint8_t target, size_t length) {
        ipmi_rq request{};
        request.netFn = netFn;
        request.cmd = cmd;
        request.target = target;
        request.dataLen = static_cast<uint16_t>(length);
        request.data = data.data();
        return connection.SendCommand(request, response);
    };

    // 59 data bytes fill the frame exactly.
    EXPECT_EQ(send(0x2C, 0x55, 0x09, 59), 64);
    std::vector<uint8_t> expected{0x2C, 0x00, 0x55, 0x09, 59};
    expected.insert(expected.end(), data.begin(), data.begin() + 59);
    EXPECT_EQ(Hex(m_sim.Requests().back().frame), Hex(expected));
    EXPECT_EQ(response.ccode, 0xCC); // the controller knows no such PICMG command

    // No data: byte 4 is 0 and zeros follow.
    EXPECT_EQ(send(0x06, 0x01, 0, 0), 64);
    expected.assign(64, 0);
    expected[0] = 0x06;
    expected[2] = 0x01;
    EXPECT_EQ(Hex(m_sim.Requests().back().frame), Hex(expected));
    EXPECT_EQ(response.ccode, 0);
    EXPECT_EQ(response.dataLen, 15);

    // 60 data bytes do not fit: nothing is sent.
    const size_t sent = m_sim.Requests().size();
    EXPECT_EQ(ErrorOf([&] { send(0x06, 0x01, 0, 60); }), "bmc: Usb transfer failed. (wrong data length)");
    EXPECT_EQ(m_sim.Requests().size(), sent);
    connection.Close();
    EXPECT_EQ(ErrorOf([&] { send(0x06, 0x01, 0, 0); }), "bmc: Usb transfer failed. (device not open)");
}

TEST_F(IpmiUsb, ARefusalKeepsItsLengthButCarriesNoData)
{
    m_sim.AddFault("ccode 0xC1 slot=1 netfn=4 cmd=0x2d");
    m_sim.AddFault("length 3 slot=1 netfn=4 cmd=0x2d");
    bmc::IpmiUsbConnection connection(SlotUri(1));
    connection.Open();
    const uint8_t sensor = 0;
    ipmi_rq request{};
    request.netFn = 0x04;
    request.cmd = 0x2D;
    request.dataLen = 1;
    request.data = &sensor;
    ipmi_rs response;
    std::memset(&response, 0x77, sizeof response);
    connection.SendCommand(request, response);
    connection.Close();
    EXPECT_EQ(response.ccode, 0xC1);
    EXPECT_EQ(response.dataLen, 3);
    EXPECT_TRUE(std::all_of(std::begin(response.data), std::end(response.data), [](uint8_t b) { return b == 0; }));
}

TEST_F(IpmiUsb, CloseAlwaysReleasesTheHandle)
{
    bmc::IpmiUsbConnection connection(SlotUri(1));
    connection.Close(); // not open: nothing happens
    EXPECT_TRUE(Events(UsbEvent::eRelease).empty());
    EXPECT_TRUE(Events(UsbEvent::eClose).empty());

    // A failing release after a successful command is reported, and the handle is gone.
    m_sim.AddFault("release slot=1");
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: couldn't release interface");
    EXPECT_EQ(Events(UsbEvent::eClose).size(), 1u);
    EXPECT_EQ(DeviceId(connection).deviceId, 62);

    // After a refusal, a failing release does not hide the refusal.
    m_sim.AddFault("release slot=1");
    m_sim.AddFault("ccode 0xC3 slot=1 netfn=6 cmd=1");
    try {
        DeviceId(connection);
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xC3);
    }
    EXPECT_EQ(Events(UsbEvent::eClose).size(), 3u);
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
}

TEST_F(IpmiUsb, AControllerThatReturnsToTheBusIsFoundAgain)
{
    bmc::IpmiUsbConnection connection(SlotUri(1));
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
    // The board's USB port goes off and on, or the whole chassis is loaded anew: the controller
    // comes back as a new device, which the very next command finds.
    const std::vector<std::function<void()>> returns = {
        [&] {
            m_sim.Modify(1, [](sim::cmc::BoardModel& b) { b.usbPort = false; });
            m_sim.Modify(1, [](sim::cmc::BoardModel& b) { b.usbPort = true; });
        },
        [&] {
            m_sim.Load(KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt");
            m_sim.SetTimeScale(0);
        },
    };
    for (size_t i = 0; i < returns.size(); ++i) {
        returns[i]();
        m_sim.ClearLogs();
        EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "no error") << i;
        // The old device's open fails, the new one's succeeds.
        const std::vector<UsbEvent> opens = Events(UsbEvent::eOpen);
        ASSERT_EQ(opens.size(), 2u) << i;
        EXPECT_EQ(opens[0].result, LIBUSB_ERROR_NO_DEVICE) << i;
        EXPECT_EQ(opens[1].result, LIBUSB_SUCCESS) << i;
    }

    // A device that left for good: the search fails, and so does the command.
    m_sim.Modify(1, [](sim::cmc::BoardModel& b) { b.usbPort = false; });
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: couldn't find USB device");
    m_sim.Modify(1, [](sim::cmc::BoardModel& b) { b.usbPort = true; });
    EXPECT_EQ(DeviceId(connection).deviceId, 62);

    // A device that leaves in the middle of a command is forgotten when the command closes.
    m_sim.AddFault("write-error LIBUSB_ERROR_NO_DEVICE slot=1");
    EXPECT_EQ(ErrorOf([&] { DeviceId(connection); }), "bmc: Usb transfer failed. (while writing)");
    m_sim.ClearLogs();
    EXPECT_EQ(DeviceId(connection).deviceId, 62);
    size_t lists = 0;
    for (const UsbEvent& e : m_sim.UsbEvents()) {
        lists += e.kind == UsbEvent::eList;
    }
    EXPECT_EQ(lists, 1u);
}

TEST_F(IpmiUsb, FramesAreDumpedAtDetailLevel)
{
    bmc::IpmiUsbConnection connection(SlotUri(1));
    istd::TraceCapture capture(istd::eTraceDetail);
    unsigned int sensors = 0;
    connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, AnyReference(sensors));
    EXPECT_EQ(sensors, 2u);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("bmc: found device with product id 101"), std::string::npos);
    EXPECT_NE(text.find("bmc : request\nfn : 4\nlun : 0\ncmd : 20\nslave address : 0\ndatalength : 0\nreq.data : "),
              std::string::npos);
    EXPECT_NE(text.find("bmc : response\nfn : 5\nlun : 0\ncmd : 20\nccode : 0\ndatalength : 2\ndata : \n0000: 02 01"),
              std::string::npos);
}

TEST_F(IpmiUsb, EveryCommandAgainstTheSimulatedChassis)
{
    bmc::IpmiUsbConnection manager(bmc::c_localKozUri);
    bmc::IpmiUsbConnection pax(SlotUri(1));
    using bmc::Connection;

    // The road of a sensor reading: the record in pieces, then the raw reading.
    unsigned int sensors = 0;
    pax.Execute(bmc::eCmdGetSDRInfo, Connection::m_noArgs, AnyReference(sensors));
    EXPECT_EQ(sensors, 2u);
    const bmc::SensorId id(0);
    sensor_record record{};
    pax.Execute(bmc::eCmdReadSDR, {AnyReference(id)}, AnyReference(record));
    const std::vector<uint8_t> model = m_sim.Board(1).sensors[0].record;
    EXPECT_EQ(Hex({record.data, record.data + 71}), Hex(model));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data + 48)), "PAX-FPGA");
    bmc::SensorType_e type = bmc::eSensorTypeTemperature;
    bmc::SensorReading reading;
    pax.Execute(bmc::eCmdReadSensor, {AnyReference(id), AnyReference(type)}, AnyReference(reading));
    EXPECT_EQ(reading.Raw(), 47u);

    // Event log.
    sel_info info{};
    pax.Execute(bmc::eCmdGetSelInfo, Connection::m_noArgs, AnyReference(info));
    EXPECT_EQ(info.entries[0], 1);
    int entry = 1;
    platformb_event_record event{};
    pax.Execute(bmc::eCmdSelRead, {AnyReference(entry)}, AnyReference(event));
    EXPECT_EQ(event.recordId[0], 1);
    EXPECT_EQ(event.recordType, 0xE2);
    EXPECT_EQ(event.timestamp[0] | event.timestamp[1] << 8 | event.timestamp[2] << 16 | event.timestamp[3] << 24,
              1700000100);
    pax.Execute(bmc::eCmdSelClear, Connection::m_noArgs, Connection::m_noResult);
    EXPECT_TRUE(m_sim.Board(1).sel.empty());

    // Time.
    const istd::Time set(int64_t{1800000000}, 0);
    pax.Execute(bmc::eCmdSetTime, {AnyReference(set)}, Connection::m_noResult);
    istd::Time time;
    pax.Execute(bmc::eCmdGetTime, Connection::m_noArgs, AnyReference(time));
    EXPECT_GE(time.Sec(), 1800000000);
    EXPECT_LE(time.Sec(), 1800000000 + 60);

    // FPGA registers.
    unsigned short spiAddress = 0x44, spiValue = 0xBEEF;
    pax.Execute(bmc::eCmdFpgaSpiWrite, {AnyReference(spiAddress), AnyReference(spiValue)}, Connection::m_noResult);
    chassis_ctl_fpgaread_rsp spi{};
    pax.Execute(bmc::eCmdFpgaSpiRead, {AnyReference(spiAddress)}, AnyReference(spi));
    EXPECT_EQ(spi.status, 0);
    EXPECT_EQ(spi.Value(), 0xBEEF);
    unsigned int ambaAddress = 0;
    chassis_ctl_ambaread_rsp amba{};
    pax.Execute(bmc::eCmdFpgaAmbaRead, {AnyReference(ambaAddress)}, AnyReference(amba));
    EXPECT_EQ(amba.Value(), 0x3E000105u);
    unsigned int ambaValue = 0xCAFEF00D;
    ambaAddress = 0x20;
    pax.Execute(bmc::eCmdFpgaAmbaWrite, {AnyReference(ambaAddress), AnyReference(ambaValue)}, Connection::m_noResult);
    EXPECT_EQ(m_sim.Board(1).ambaRegisters.at(0x20), 0xCAFEF00Du);
    pax.Execute(bmc::eCmdFpgaReboot, Connection::m_noArgs, Connection::m_noResult);
    EXPECT_EQ(m_sim.Board(1).fpgaReboots, 1u);

    // The chassis manager's slot commands.
    bmc::BoardBriefStatusMap map;
    manager.Execute(bmc::eCmdGetBoardBriefStatus, Connection::m_noArgs, AnyReference(map));
    EXPECT_EQ(map.presenceMask.to_ulong(), 0x07u);
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(map, 2), bmc::eBoardPowerMngMain);
    bmc::JTAG_e jtag = bmc::eJtagEnableSlot;
    int n = 3;
    manager.Execute(bmc::eCmdJtagCmd, {AnyReference(jtag), AnyReference(n)}, Connection::m_noResult);
    EXPECT_EQ(m_sim.Board(0).spiRegisters.at(0x1A), 0x04);
    bool on = false;
    int slot = 2;
    manager.Execute(bmc::eCmdSetPortStateUsb, {AnyReference(on), AnyReference(slot)}, Connection::m_noResult);
    EXPECT_FALSE(m_sim.Board(2).usbPort);
    bmc::Power_e power = bmc::ePowerDown;
    manager.Execute(bmc::eCmdPower, {AnyReference(power), AnyReference(slot)}, Connection::m_noResult);
    ASSERT_EQ(m_sim.PowerCommands().size(), 1u);
    EXPECT_EQ(m_sim.PowerCommands()[0].slot, 2);
    manager.Execute(bmc::eCmdGetBoardBriefStatus, Connection::m_noArgs, AnyReference(map));
    EXPECT_EQ(bmc::ConvPwrBitmaskToStat(map, 2), bmc::eBoardPowerOff);
}

} // namespace
