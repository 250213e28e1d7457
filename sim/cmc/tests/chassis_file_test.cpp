// Chassis files: the sample, the statements' effects, and the errors of bad files.

#include <gtest/gtest.h>

#include "common/usb_link.h"
#include "sim/cmc/simulator.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using simtest::Hex;
using simtest::Link;

namespace {

class ChassisFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_sim.SetTimeScale(0); }

    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = m_dir / name;
        testsupport::WriteFile(path, content);
        return path;
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    testsupport::TempDir m_dir;
};

TEST_F(ChassisFileTest, Sample) {
    simtest::LoadSample();
    EXPECT_EQ(m_sim.Slots(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m_sim.VendorId(), 0x6B76);
    EXPECT_EQ(m_sim.ManufacturerId(), 0x00C0DEu);
    const auto koz = m_sim.Board(0);
    EXPECT_EQ(koz.type, 44);
    EXPECT_EQ(koz.sensors.size(), 3u);
    EXPECT_FALSE(koz.sensors[2].readable);
    EXPECT_EQ(koz.sel.size(), 3u);
    const auto pax = m_sim.Board(1);
    EXPECT_EQ(pax.type, 62);
    EXPECT_EQ(pax.identity[10], 0) << "a timing board carries no firmware type of its own";
    EXPECT_EQ(pax.ambaRegisters.at(0), 0x3E000105u);
    const auto mokve = m_sim.Board(2);
    EXPECT_EQ(mokve.type, 173);
    EXPECT_EQ(mokve.identity[19], 1) << "red LED";
    EXPECT_EQ(mokve.sensors.size(), 3u);
    EXPECT_EQ(mokve.config[0], std::vector<uint8_t>(8647, 0xFF));
    EXPECT_THROW(m_sim.Board(3), sim::cmc::Error);
}

TEST_F(ChassisFileTest, PowerStatesAndHiddenPorts) {
    m_sim.LoadText("slot 0 KOZ\nslot 1 PAX\n power off\nslot 2 PAX\n power mng\nslot 3 PAX\n"
                   " usb off\nslot 9 PAX\n");
    Link koz(0);
    EXPECT_EQ(Hex(koz.Ask(0x06, 0xA0)), "07 00 a0 00 03 07 06 04");
    EXPECT_THROW(Link(1), std::runtime_error);
    EXPECT_NO_THROW(Link(2));
    EXPECT_THROW(Link(3), std::runtime_error);
    EXPECT_NO_THROW(Link(9));
}

TEST_F(ChassisFileTest, FilesRelativeToTheChassisFile) {
    Write("image.bin", std::string("\x01\x02\x03", 3));
    Write("base.bin", std::string("\x10\x20", 2));
    const std::string path = Write("chassis.txt", "slot 1 PAX\n image image.bin\n config base base.bin\n");
    m_sim.Load(path);
    const auto board = m_sim.Board(1);
    EXPECT_EQ(board.image, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(board.config[0][0], 0x10);
    EXPECT_EQ(board.config[0][1], 0x20);
    EXPECT_EQ(board.config[0][2], 0xFF);
}

TEST_F(ChassisFileTest, ClockAppliesToEveryBoard) {
    m_sim.LoadText("slot 1 PAX\nslot 2 PAX\nclock 1234\n");
    EXPECT_TRUE(m_sim.Board(1).clockFrozen);
    EXPECT_EQ(m_sim.Board(2).Clock(), 1234u);
}

TEST_F(ChassisFileTest, EventsAndHpmStatements) {
    m_sim.LoadText("slot 1 PAX\n event type=2 time=5 ms=7 code=0x3ff ptype=15 sev=3 "
                   "params=1,2,3,4,5 extra=6,7,8\n sel capacity=0\n"
                   " hpm version=1 caps=0x80 timeouts=1,2,3,4 components=0x03\n");
    const auto b = m_sim.Board(1);
    ASSERT_EQ(b.sel.size(), 1u);
    EXPECT_EQ(Hex({b.sel[0].begin(), b.sel[0].end()}),
              "01 00 02 05 00 00 00 07 00 ff ff 01 02 03 04 05 06 07 08");
    EXPECT_EQ(b.selLastAddition, 5u);
    EXPECT_EQ(Hex({b.hpmCapabilities.begin(), b.hpmCapabilities.end()}), "00 01 80 01 02 03 04 03");
    Link link(1);
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x40)), "0b 00 40 00 0e 51 01 00 00 00 05 00 00 00 00 00 00 00 00");
}

TEST_F(ChassisFileTest, RawRecordsAndEmptySlots) {
    m_sim.LoadText("slot 4 empty\nslot 1 PAX\n sensor raw record=0102ff raw=9 status=0x00\n");
    EXPECT_EQ(m_sim.Slots(), std::vector<int>{1});
    const auto b = m_sim.Board(1);
    ASSERT_EQ(b.sensors.size(), 1u);
    EXPECT_EQ(b.sensors[0].record.size(), 71u);
    EXPECT_EQ(b.sensors[0].record[2], 0xFF);
    EXPECT_EQ(b.sensors[0].record[3], 0x00);
    EXPECT_EQ(b.sensors[0].raw, 9);
    EXPECT_EQ(b.sensors[0].status, 0x00);
}

TEST_F(ChassisFileTest, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"bogus 1", "line 1: unknown statement \"bogus\""},
        {"\nsensor full", "line 2: \"sensor\" belongs in a slot section"},
        {"slot 32 PAX", "line 1: slot out of range: 32"},
        {"slot 1 PAX\nslot 1 KOZ", "line 2: slot 1 defined twice"},
        {"slot 1 FOO", "line 1: bad number for board type: \"FOO\""},
        {"slot 1 PAX extra", "line 1: \"slot\" takes 2 argument(s)"},
        {"vendor 0x10000", "line 1: vendor id out of range: 0x10000"},
        {"vendor 12x", "line 1: bad number for vendor id: \"12x\""},
        {"slot 1 PAX\n power half", "line 2: power is off, mng or main"},
        {"slot 1 PAX\n sensor full m=512", "line 2: m out of range: 512"},
        {"slot 1 PAX\n sensor full k2=-9", "line 2: k2 out of range: -9"},
        {"slot 1 PAX\n sensor full name=ABCDEFGHIJKLMNOPQ", "line 2: sensor name longer than 16 characters"},
        {"slot 1 PAX\n sensor full colour=red", "line 2: unknown key \"colour\""},
        {"slot 1 PAX\n sensor full m=1 m=2", "line 2: key \"m\" given twice"},
        {"slot 1 PAX\n sensor full m", "line 2: expected key=value, found \"m\""},
        {"slot 1 PAX\n sensor", "line 2: sensor needs a kind: full, mcloc or raw"},
        {"slot 1 PAX\n sensor raw record=123", "line 2: odd number of hexadecimal digits in record"},
        {"slot 1 PAX\n sensor raw record=zz", "line 2: bad hexadecimal digits in record"},
        {"slot 1 PAX\n event word=1 code=2", "line 2: give either word or code, ptype and sev"},
        {"slot 1 PAX\n event params=1,2,3,4,5,6", "line 2: params holds at most 5 bytes"},
        {"slot 1 PAX\n event sev=Fatal", "line 2: bad number for sev: \"Fatal\""},
        {"slot 1 PAX\n image /nonexistent/image.bin", "line 2: cannot open \"/nonexistent/image.bin\""},
        {"slot 1 PAX\n config other x", "line 2: config section is base or subsystem"},
        {"slot 1 PAX\n hpm timeouts=1,2", "line 2: timeouts are 4 bytes"},
        {"slot 1 PAX\n identity fw=2", "line 2: fw is <major>.<minor>"},
        {"slot 1 PAX\n identity format=odd", "line 2: identity format is ext, v22 or std"},
        {"slot 1 PAX\n identity manufacturer=1", "line 2: identity manufacturer is for format std only"},
        {"slot 1 PAX\n identity ext=0102", "line 2: ext is 7 bytes"},
        {"slot 1 PAX\n identity\n identity", "line 3: identity given twice"},
        {"usb hub 1 2", "line 1: usb device name \"hub\" is reserved"},
        {"usb a 1 2\nusb a 3 4", "line 2: usb device \"a\" defined twice"},
        {"usb a 1 2 last", "line 1: usb takes a name, a vendor id, a product id and optionally \"first\""},
        {"fault ccode", "line 1: fault ccode needs a value"},
    };
    for (const Case& c : cases) {
        try {
            m_sim.LoadText(c.text, "test.txt");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const sim::cmc::Error& e) {
            EXPECT_EQ(e.what(), std::string("test.txt ") + c.message) << c.text;
        }
    }
    EXPECT_THROW(m_sim.Load(m_dir / "missing.txt"), sim::cmc::Error);
}

TEST_F(ChassisFileTest, FailedLoadKeepsTheChassis) {
    simtest::LoadSample();
    EXPECT_THROW(m_sim.LoadText("slot 1 PAX\nbogus"), sim::cmc::Error);
    EXPECT_EQ(m_sim.Slots(), (std::vector<int>{0, 1, 2}));
    EXPECT_NO_THROW(Link(2));
}

TEST_F(ChassisFileTest, CommentsAndBlankLines) {
    m_sim.LoadText("# chassis\n\n   \nslot 1 PAX   # timing\n  spi 1 2 # register\n");
    EXPECT_EQ(m_sim.Board(1).spiRegisters.at(1), 2);
}

}  // namespace
