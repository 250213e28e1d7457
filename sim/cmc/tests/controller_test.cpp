// The controller's answers to the system's requests, frame by frame, against the sample chassis.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "common/usb_link.h"
#include "sim/cmc/simulator.h"

using simtest::Bytes;
using simtest::Hex;
using simtest::Link;

namespace {

struct Golden {
    const char* what;
    int slot;
    uint8_t netFn;
    uint8_t cmd;
    const char* request;   // data bytes
    const char* answer;    // answer frame up to the end of its data
};

// Requests in the order the table lists them, on a freshly loaded sample chassis.
const Golden c_golden[] = {
    {"device id, maker's firmware >= 2.4", 0, 0x06, 0x01, "",
     "07 00 01 00 0f 2c 81 02 04 02 29 de c0 00 2c 2c 03 02 10 01"},
    {"device id, extended record", 0, 0x06, 0x01, "0e",
     "07 00 01 00 16 2c 81 02 04 02 29 de c0 00 2c 2c 03 02 10 01 00 00 00 04 00 00 00"},
    {"device id of the processing board (red LED flag)", 2, 0x06, 0x01, "0e",
     "07 00 01 00 16 ad 81 02 05 02 00 de c0 00 ad ad 01 02 02 04 00 00 00 04 01 00 00"},
    {"device id with a field it cannot take", 0, 0x06, 0x01, "0f", "07 00 01 cc 00"},
    {"brief status: slots 1 and 2 present and powered", 0, 0x06, 0xA0, "",
     "07 00 a0 00 03 03 03 03"},
    {"brief status only from the chassis manager", 1, 0x06, 0xA0, "", "07 00 a0 c1 00"},
    {"sensor count", 0, 0x04, 0x20, "", "05 00 20 00 02 03 01"},
    {"sensor reading", 0, 0x04, 0x2D, "00", "05 00 2d 00 02 26 40"},
    {"reading of a device locator record", 0, 0x04, 0x2D, "02", "05 00 2d cb 00"},
    {"reading of a sensor that does not exist", 0, 0x04, 0x2D, "03", "05 00 2d cb 00"},
    {"SDR piece of 30 bytes", 0, 0x04, 0x21, "00 00 00 00 00 1e",
     "05 00 21 00 20 01 00 00 00 51 01 42 20 00 00 07 01 00 00 01 01 00 00 00 00 00 00 00 01 00 00 "
     "01 00 00 00 00 00"},
    {"SDR piece at offset 60, last 11 bytes", 0, 0x04, 0x21, "00 00 00 00 3c 0b",
     "05 00 21 00 0d 01 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"SDR piece that fits the frame exactly", 0, 0x04, 0x21, "00 00 01 00 00 39",
     "05 00 21 00 3b 02 00 01 00 51 01 42 20 00 01 07 01 00 00 02 01 00 00 00 00 00 00 00 04 00 00 "
     "02 00 00 00 00 e0 01 a5 00 00 ff 00 b9 b4 af 91 96 9b 00 00 00 00 00 c7 4b 4f 5a 2d 33 56 33 00 00"},
    {"SDR piece one byte too large", 0, 0x04, 0x21, "00 00 01 00 00 3a", "05 00 21 ca 00"},
    {"whole SDR at once does not fit", 0, 0x04, 0x21, "00 00 00 00 00 ff", "05 00 21 ca 00"},
    {"last SDR by id 0xFFFF", 0, 0x04, 0x21, "00 00 ff ff 0f 08",
     "05 00 21 00 0a ff ff c6 4b 4f 5a 2d 4d 43 00"},
    {"SDR that does not exist", 0, 0x04, 0x21, "00 00 03 00 00 10", "05 00 21 cb 00"},
    {"SDR request too short", 0, 0x04, 0x21, "00 00 03", "05 00 21 c7 00"},
    {"event log info", 0, 0x0A, 0x40, "",
     "0b 00 40 00 0e 51 03 00 c7 25 0a f1 53 65 00 00 00 00 00"},
    {"event log entry 2", 0, 0x0A, 0x43, "00 00 02 00 00 ff",
     "0b 00 43 00 15 03 00 02 00 e2 05 f1 53 65 fa 00 06 40 00 00 00 00 00 00 00 00"},
    {"last event log entry", 0, 0x0A, 0x43, "00 00 03 00 00 ff",
     "0b 00 43 00 15 ff ff 03 00 e2 0a f1 53 65 f4 01 0c 84 04 00 00 00 00 00 00 00"},
    {"event log entry 0 is the first", 0, 0x0A, 0x43, "00 00 00 00 00 ff",
     "0b 00 43 00 15 02 00 01 00 e2 00 f1 53 65 00 00 02 00 00 00 00 00 00 00 00 00"},
    {"event log entry past the end", 0, 0x0A, 0x43, "00 00 04 00 00 ff", "0b 00 43 cb 00"},
    {"clear event log without its key", 0, 0x0A, 0x47, "ff ff 43 4c 51 aa", "0b 00 47 cc 00"},
    {"FPGA SPI read", 1, 0x00, 0x02, "db 10 00 00 00 00 00 00 00 00 00 00",
     "01 00 02 00 03 00 3e 00"},
    {"FPGA SPI write", 1, 0x00, 0x02, "dc 20 00 34 12 00 00 00 00 00 00 00", "01 00 02 00 00"},
    {"FPGA SPI read of the written register", 1, 0x00, 0x02, "db 20 00 00 00 00 00 00 00 00 00 00",
     "01 00 02 00 03 00 34 12"},
    {"FPGA SPI read of an unset register", 1, 0x00, 0x02, "db 22 00 00 00 00 00 00 00 00 00 00",
     "01 00 02 00 03 00 00 00"},
    {"FPGA AMBA read", 1, 0x00, 0x02, "ab 00 00 00 00 00 00 00 00 00 00 00",
     "01 00 02 00 05 00 05 01 00 3e"},
    {"FPGA AMBA write", 1, 0x00, 0x02, "ac 10 00 00 80 78 56 34 12 00 00 00", "01 00 02 00 00"},
    {"FPGA AMBA read of the written register", 1, 0x00, 0x02, "ab 10 00 00 80 00 00 00 00 00 00 00",
     "01 00 02 00 05 00 78 56 34 12"},
    {"FPGA reboot", 1, 0x00, 0x02, "11", "01 00 02 00 00"},
    {"JTAG operation", 0, 0x00, 0x02, "0c", "01 00 02 00 00"},
    {"unknown chassis control code", 1, 0x00, 0x02, "77", "01 00 02 cc 00"},
    {"power control only by the chassis manager", 1, 0x00, 0x02, "01 01", "01 00 02 cc 00"},
    {"power control of an empty slot", 0, 0x00, 0x02, "01 03", "01 00 02 cc 00"},
    {"upgrade capabilities", 1, 0x2C, 0x2E, "00", "2d 00 2e 00 08 00 00 0a 0a 05 05 14 01"},
    {"upload block without initiate", 1, 0x2C, 0x32, "00 00 aa", "2d 00 32 d5 00"},
    {"image read-back with nothing held", 1, 0x2C, 0x2F, "00 00 0b 00 00 00", "2d 00 2f cb 00"},
    {"upgrade command without the PICMG identifier", 1, 0x2C, 0x2E, "01", "2d 00 2e cc 00"},
    {"unknown network function", 1, 0x08, 0x01, "", "09 00 01 c1 00"},
    {"unknown command", 1, 0x06, 0x55, "", "07 00 55 c1 00"},
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { simtest::LoadSample(); }
    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

TEST_F(ControllerTest, GoldenAnswers) {
    for (const Golden& g : c_golden) {
        Link link(g.slot);
        EXPECT_EQ(Hex(link.Ask(g.netFn, g.cmd, Bytes(g.request))), g.answer) << g.what;
    }
    EXPECT_EQ(m_sim.Board(1).fpgaReboots, 1u);
    EXPECT_EQ(m_sim.Board(0).jtagOperations, std::vector<uint8_t>{0x0C});
}

TEST_F(ControllerTest, RequestsAreLoggedAsReceived) {
    Link link(1);
    link.Ask(0x00, 0x02, Bytes("dc 20 00 34 12 00 00 00 00 00 00 00"));
    const auto requests = m_sim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].device, "slot1");
    EXPECT_EQ(requests[0].slot, 1);
    EXPECT_EQ(requests[0].netFn, 0x00);
    EXPECT_EQ(requests[0].cmd, 0x02);
    EXPECT_EQ(Hex(requests[0].data), "dc 20 00 34 12 00 00 00 00 00 00 00");
    EXPECT_EQ(requests[0].frame, simtest::RequestFrame(0x00, 0x02, requests[0].data));
}

TEST_F(ControllerTest, DeclaredDataMustFitTheFrame) {
    Link link(1);
    auto frame = simtest::RequestFrame(0x06, 0x01, {});
    frame[4] = 60;
    ASSERT_EQ(link.Write(frame), 0);
    std::vector<uint8_t> answer;
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Hex({answer.begin(), answer.begin() + 5}), "07 00 01 c7 00");
    // A frame of 10 bytes that declares 20 data bytes.
    std::vector<uint8_t> small(frame.begin(), frame.begin() + 10);
    small[4] = 20;
    ASSERT_EQ(link.Write(small), 0);
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Hex({answer.begin(), answer.begin() + 5}), "07 00 01 c7 00");
}

TEST_F(ControllerTest, IdentityFormats) {
    m_sim.LoadText(R"(
slot 5 ZOLT
  identity format=v22 rev=3 fwrev=0x0102 fpga=0x0304 ext=a1a2a3a4a5a6a7
slot 6 PAX
  identity format=std manufacturer=0x001234 fw=1.7 product=0x0042
)");
    Link zolt(5);
    EXPECT_EQ(Hex(zolt.Ask(0x06, 0x01)),
              "07 00 01 00 19 eb 82 03 04 02 00 de c0 00 eb 00 00 00 01 02 a4 00 a5 a6 a3 a7 a1 a2 "
              "03 00");
    EXPECT_EQ(Hex(zolt.Ask(0x06, 0x01, {0x0E})), "07 00 01 c7 00");
    Link other(6);
    EXPECT_EQ(Hex(other.Ask(0x06, 0x01)),
              "07 00 01 00 0f 3e 00 01 07 02 00 34 12 00 42 00 00 00 00 00");
    EXPECT_EQ(Hex(other.Ask(0x06, 0x01, {0x0E})), "07 00 01 c7 00");
}

TEST_F(ControllerTest, SdrFieldsOfSignedConstants) {
    m_sim.LoadText("slot 1 PAX\n sensor full name=X m=-512 b=-1 k1=1 k2=-1 format=1 usage=2 "
                   "unit=4 modunit=22 lin=3\n");
    Link link(1);
    const auto a = link.Ask(0x04, 0x21, Bytes("00 00 00 00 14 0a"));
    ASSERT_EQ(a.size(), 17u);
    // Record bytes 20 to 29, behind the header and the next record id.
    EXPECT_EQ(Hex({a.begin() + 7, a.end()}), "44 04 16 03 00 80 ff c0 00 f1");
}

TEST_F(ControllerTest, EventLogClearAndTime) {
    m_sim.LoadText("clock 1700000000\nslot 0 KOZ\n event time=1600000000 code=1\n");
    Link link(0);
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x48)), "0b 00 48 00 04 00 f1 53 65");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x49, Bytes("10 f1 53 65"))), "0b 00 49 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x48)), "0b 00 48 00 04 10 f1 53 65");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x47, Bytes("ff ff 43 4c 52 aa"))), "0b 00 47 00 01 01");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x40)), "0b 00 40 00 0e 51 00 00 00 26 00 10 5e 5f 10 f1 53 65 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x43, Bytes("00 00 01 00 00 ff"))), "0b 00 43 cb 00");
    EXPECT_EQ(m_sim.Board(0).selClears, 1u);
}

TEST_F(ControllerTest, ClockFollowsTheHostAfterSetTime) {
    Link link(1);
    ASSERT_EQ(Hex(link.Ask(0x0A, 0x49, Bytes("00 00 00 10"))), "0b 00 49 00 00");
    const auto a = link.Ask(0x0A, 0x48);
    ASSERT_EQ(a.size(), 9u);
    const uint32_t seconds = a[5] | a[6] << 8 | a[7] << 16 | static_cast<uint32_t>(a[8]) << 24;
    EXPECT_GE(seconds, 0x10000000u);
    EXPECT_LE(seconds, 0x10000002u);
}

TEST_F(ControllerTest, PowerAndUsbPortOfSlots) {
    Link koz(0);
    EXPECT_EQ(Hex(koz.Ask(0x00, 0x02, Bytes("00 02"))), "01 00 02 00 00");
    EXPECT_FALSE(m_sim.Board(2).mngPower);
    EXPECT_EQ(Hex(koz.Ask(0x06, 0xA0)), "07 00 a0 00 03 03 01 01");
    EXPECT_THROW(Link(2), std::runtime_error);
    EXPECT_EQ(Hex(koz.Ask(0x00, 0x02, Bytes("02 02"))), "01 00 02 00 00");
    EXPECT_EQ(Hex(koz.Ask(0x06, 0xA0)), "07 00 a0 00 03 03 03 03");
    EXPECT_NO_THROW(Link(2));
    // The manager's own shutdown is recorded; it stays reachable.
    EXPECT_EQ(Hex(koz.Ask(0x00, 0x02, Bytes("00 00"))), "01 00 02 00 00");
    EXPECT_TRUE(m_sim.Board(0).mngPower);
    const auto power = m_sim.PowerCommands();
    ASSERT_EQ(power.size(), 3u);
    EXPECT_EQ(power[1].slot, 2);
    EXPECT_EQ(power[1].operation, 2);
    EXPECT_EQ(power[2].slot, 0);

    EXPECT_EQ(Hex(koz.Ask(0x2C, 0x19, Bytes("00 01 0c 2f 00 00 00"), 1)), "2d 00 19 00 01 00");
    EXPECT_FALSE(m_sim.Board(1).usbPort);
    EXPECT_THROW(Link(1), std::runtime_error);
    EXPECT_EQ(Hex(koz.Ask(0x2C, 0x19, Bytes("00 01 0c 2f 00 01 00"), 1)), "2d 00 19 00 01 00");
    EXPECT_NO_THROW(Link(1));
    EXPECT_EQ(Hex(koz.Ask(0x2C, 0x19, Bytes("00 01 0c 2f 00 01 00"), 3)), "2d 00 19 cc 00");
}

TEST_F(ControllerTest, FirmwareUploadAndReadBack) {
    std::vector<uint8_t> image(66);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 1);
    // An upload block: 0, the block number, then the image bytes [from, to). (Built by copy:
    // GCC 12 at -O3 sees a false out-of-bounds memcpy in a vector insert here.)
    const auto block = [&](uint8_t number, size_t from, size_t to) {
        std::vector<uint8_t> bytes(2 + to - from);
        bytes[1] = number;
        std::copy(image.begin() + from, image.begin() + to, bytes.begin() + 2);
        return bytes;
    };
    Link link(1);
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x31, Bytes("00 01 02"))), "2d 00 31 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x32, block(0, 0, 57))), "2d 00 32 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x32, Bytes("00 05 ff"))), "2d 00 32 cc 00");  // out of sequence
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x32, block(1, 57, image.size()))), "2d 00 32 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x33, Bytes("00 00 42 00 00 00"))), "2d 00 33 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x33, Bytes("00 00 42 00 00 00"))), "2d 00 33 d5 00");

    const auto board = m_sim.Board(1);
    EXPECT_EQ(board.image, image);
    ASSERT_EQ(board.uploads.size(), 1u);
    EXPECT_EQ(board.uploads[0], image);

    auto first = link.Ask(0x2C, 0x2F, Bytes("00 00 0b 00 00 00"));
    ASSERT_EQ(first.size(), 64u);
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 5, first.end()),
              std::vector<uint8_t>(image.begin(), image.begin() + 59));
    auto rest = link.Ask(0x2C, 0x2F, Bytes("00 00 0b 00 00 3b"));
    EXPECT_EQ(std::vector<uint8_t>(rest.begin() + 5, rest.end()),
              std::vector<uint8_t>(image.begin() + 59, image.end()));
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x2F, Bytes("00 00 0b 00 00 42"))), "2d 00 2f c9 00");

    // A finish whose length differs from what arrived ends the upload without keeping it.
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x31, Bytes("00 01 02"))), "2d 00 31 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x32, Bytes("00 00 01 02"))), "2d 00 32 00 01 00");
    EXPECT_EQ(Hex(link.Ask(0x2C, 0x33, Bytes("00 00 03 00 00 00"))), "2d 00 33 cc 00");
    EXPECT_EQ(m_sim.Board(1).uploads.size(), 1u);
    EXPECT_EQ(m_sim.Board(1).image, image);
}

TEST_F(ControllerTest, ConfigurationStorage) {
    Link link(2);
    const auto erased = link.Ask(0x0A, 0x70, Bytes("00 02 00 00 3b"));
    ASSERT_EQ(erased.size(), 64u);
    EXPECT_EQ(std::count(erased.begin() + 5, erased.end(), 0xFF), 59);
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 03 00 00 02 aa bb"))), "0b 00 70 d5 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 04"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 00"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 03 00 00 02 aa bb"))), "0b 00 70 00 00");
    // The last piece of the subsystem section, and one past it.
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 03 ba 14 02 01 02"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 03 bb 14 02 01 02"))), "0b 00 70 c9 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 03 00 00 37"))), "0b 00 70 c7 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 01"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 01"))), "0b 00 70 d5 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 02 00 00 04"))), "0b 00 70 00 04 aa bb ff ff");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 02 a6 14 3b"))), "0b 00 70 c9 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 02 00 00 3c"))), "0b 00 70 ca 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 02 a6 21 21"))).size(), 3u * (5 + 33) - 1);
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("02 02 00 00 01"))), "0b 00 70 cc 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 09"))), "0b 00 70 cc 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("01 05"))), "0b 00 70 00 04 00 00 00 00");

    const auto board = m_sim.Board(2);
    EXPECT_EQ(board.hwInitStarts, std::vector<int>{1});
    ASSERT_EQ(board.config[1].size(), sim::cmc::c_subsystemSectionSize);
    EXPECT_EQ(board.config[1][0], 0xAA);
    EXPECT_EQ(board.config[1][5306], 0x01);
    EXPECT_EQ(board.config[1][5307], 0x02);
    EXPECT_EQ(board.config[0][0], 0xFF);
}

TEST(ConfigChecksum, SumOfTheBytesAfterTheFirstFour) {
    std::vector<uint8_t> section(100, 0);
    EXPECT_TRUE(sim::cmc::ConfigChecksumOk(section));
    section[4] = 0xFF;
    section[99] = 0x02;
    EXPECT_FALSE(sim::cmc::ConfigChecksumOk(section));
    section[0] = 0x01;
    section[1] = 0x01;
    EXPECT_TRUE(sim::cmc::ConfigChecksumOk(section));
    EXPECT_FALSE(sim::cmc::ConfigChecksumOk({1, 2, 3}));
}

}  // namespace
