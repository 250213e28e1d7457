// The board configuration record, its reader and its printers: golden records built from the
// fixture documents by the record's own offsets, the key edge cases, malformed values, and the
// printed text.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/config_doc.h"
#include "istd/trace_capture.h"
#include "bmc/config_mng.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace {

using bmc::BoardConfiguration;
using bmc::ConfigMng;
using bmctest::ConfigDocument;
using bmctest::ReadConfigFile;
using bmctest::ReadConfigText;

// A record written byte by byte at the offsets the controller's storage uses.
class Golden {
public:
    Golden() : m_bytes(13955, 0) {}
    Golden& U8(size_t at, uint8_t value)
    {
        m_bytes.at(at) = value;
        return *this;
    }
    Golden& U32(size_t at, uint32_t value)
    {
        for (size_t i = 0; i < 4; ++i) {
            m_bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
        }
        return *this;
    }
    Golden& Text(size_t at, const std::string& text)
    {
        for (size_t i = 0; i < text.size(); ++i) {
            m_bytes.at(at + i) = static_cast<uint8_t>(text[i]);
        }
        return *this;
    }
    Golden& Bytes(size_t at, const std::vector<uint8_t>& bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i) {
            m_bytes.at(at + i) = bytes[i];
        }
        return *this;
    }
    const std::vector<uint8_t>& Get() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Instruction bytes, as the controller reads them.
void Adwr(std::vector<uint8_t>& out, uint32_t address, uint32_t value)
{
    out.push_back(0x0F);
    for (uint32_t word : {address, value}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
    }
}

void Dly(std::vector<uint8_t>& out)
{
    out.insert(out.end(), {0x06, 0x02, 0x00});
}

void I2cWrite(std::vector<uint8_t>& out, uint32_t base, uint32_t reg, uint32_t value)
{
    Adwr(out, base + 8, 0x50000000);
    Adwr(out, base, 0xAA);
    Adwr(out, base + 8, 0xB0000000);
    Adwr(out, base, reg);
    Adwr(out, base + 8, 0x30000000);
    Adwr(out, base, value);
    Adwr(out, base + 8, 0x70000000);
}

std::vector<uint8_t> RecordBytes(const BoardConfiguration& config)
{
    return std::vector<uint8_t>(config.Data(), config.Data() + BoardConfiguration::c_recordSize);
}

// The first differing offset makes a failure readable.
void ExpectRecord(const BoardConfiguration& config, const Golden& golden)
{
    const std::vector<uint8_t> actual = RecordBytes(config);
    ASSERT_EQ(actual.size(), golden.Get().size());
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != golden.Get()[i]) {
            ADD_FAILURE() << "record offset " << i << ": " << int(actual[i]) << ", expected " << int(golden.Get()[i]);
            return;
        }
    }
}

std::vector<uint8_t> HwSpiwBytes(uint32_t base, uint32_t mask, uint32_t control, uint32_t data)
{
    std::vector<uint8_t> out;
    Dly(out);
    Adwr(out, base + 8, 0xFFFFFFFF);
    Adwr(out, base, control);
    Adwr(out, base + 8, ~mask);
    Adwr(out, base + 16, data);
    Adwr(out, base + 20, 0);
    Dly(out);
    Adwr(out, base + 8, 0xFFFFFFFF);
    return out;
}

Golden KozGolden()
{
    Golden g;
    g.U32(4, 0xC0F6B0AD).U8(8, 3).Text(9, " Rev 1.2 ").U32(145, 5000).U8(149, 44);
    g.Bytes(150, {0x00, 0x50, 0xC2, 0xA1, 0xB2, 0xC3}).U8(156, 0xFA);
    g.U8(406, 1).U8(407, 7).U8(408, 3).Text(409, "ACM").Text(413, "KZ-000123").Text(445, "2010-04-30 assembled");
    g.U8(2493, 0).U8(2494, 1);
    g.U32(2495, 4).Bytes(2499, {0x00, 0x06, 0x10, 0x00});
    g.U32(5571, 60).Bytes(5575, HwSpiwBytes(0x40000000, 1, 2, 3));
    g.U32(8651, 0xC0F6B0AD).U8(8655, 2).Text(8656, "sub rev");
    g.U8(8792, 2).U8(8793, 254).U8(8794, 1).Text(8795, "XY").Text(8799, "SB-1").Text(8831, "none");
    g.U32(10879, 1).U8(10883, 0x03);
    return g;
}

ConfigMng ReaderFor(bmc::FirmwareType_e firmware, const std::string& target = ConfigMng::cDefault)
{
    ConfigMng reader(target);
    reader.boardConfig.firmwareType = firmware;
    return reader;
}

TEST(BoardConfigurationRecord, ConstructionAndInit)
{
    BoardConfiguration config;
    EXPECT_EQ(config.boardType, bmc::eBoardTypeInvalid);
    EXPECT_EQ(config.firmwareType, bmc::eFirmwareTypeInvalid);
    EXPECT_EQ(RecordBytes(config), std::vector<uint8_t>(13955, 0));
    EXPECT_EQ(BoardConfiguration::SectionOffset(bmc::eBoardSubsys), 8647u);
    EXPECT_EQ(BoardConfiguration::SectionSize(bmc::eBoardBase), 8647u);
    EXPECT_EQ(BoardConfiguration::SectionSize(bmc::eBoardSubsys), 5308u);

    ConfigMng reader;
    reader.boardConfig.boardType = bmc::eBoardTypePAX;
    reader.boardConfig.firmwareType = bmc::eFirmwareTypeHUMVA;
    std::memset(reader.boardConfig.Data(), 0x5A, BoardConfiguration::c_recordSize);
    reader.Init();
    EXPECT_EQ(RecordBytes(reader.boardConfig), std::vector<uint8_t>(13955, 0));
    EXPECT_EQ(reader.boardConfig.boardType, bmc::eBoardTypePAX);
    EXPECT_EQ(reader.boardConfig.firmwareType, bmc::eFirmwareTypeHUMVA);
    EXPECT_EQ(reader.target, "default");
    EXPECT_EQ(reader.GetClassName(), "HUMVA");
}

TEST(BoardConfigurationRecord, SectionChecksums)
{
    BoardConfiguration config;
    config.StoreChecksums();
    EXPECT_EQ(RecordBytes(config), std::vector<uint8_t>(13955, 0));

    uint8_t* bytes = config.Data();
    bytes[4] = 0xFF;
    bytes[8651] = 0x01;
    bytes[2494] = 1; // counts for the base section
    bytes[0] = 0x77; // the checksum field itself is not summed
    EXPECT_EQ(config.ComputeChecksum(bmc::eBoardBase), 256u);
    EXPECT_EQ(config.ComputeChecksum(bmc::eBoardSubsys), 1u);
    config.StoreChecksums();
    EXPECT_EQ(uint32_t{config.record.baseBoard.header.crcCode}, 256u);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[8647], 0x01);
    EXPECT_TRUE(config.IsSubsysPresent());
    bytes[2494] = 2;
    EXPECT_FALSE(config.IsSubsysPresent());

    // The sum wraps modulo 2^32 only far beyond a section's 8643 bytes of 255; it reaches
    // 8643 * 255 here.
    std::memset(bytes, 0xFF, BoardConfiguration::c_recordSize);
    EXPECT_EQ(config.ComputeChecksum(bmc::eBoardBase), 8643u * 255u);
    EXPECT_EQ(config.ComputeChecksum(bmc::eBoardSubsys), 5304u * 255u);
}

TEST(BoardConfigGolden, KozDocumentPerTarget)
{
    ConfigMng reader = ReaderFor(bmc::eFirmwareTypeKOZ);
    ASSERT_TRUE(ReadConfigFile(reader, "board_koz.xml"));
    ExpectRecord(reader.boardConfig, KozGolden());

    ConfigMng cfgA = ReaderFor(bmc::eFirmwareTypeKOZ, "cfgA");
    ASSERT_TRUE(ReadConfigFile(cfgA, "board_koz.xml"));
    Golden golden = KozGolden();
    golden.U32(2495, 13).Bytes(2499, {0x00, 0x06, 0x10, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00});
    ExpectRecord(cfgA.boardConfig, golden);

    ConfigMng cfgC = ReaderFor(bmc::eFirmwareTypeKOZ, "cfgC");
    try {
        ReadConfigFile(cfgC, "board_koz.xml");
        ADD_FAILURE() << "an unknown target was accepted";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "Target configuration [cfgC] is not available inside configuration file!");
    }
    // The sections were compiled before the check.
    EXPECT_EQ(uint32_t{cfgC.boardConfig.record.subsysBoard.hwInitLength}, 1u);
}

TEST(BoardConfigGolden, WrpAndHumvaDocuments)
{
    ConfigMng wrp = ReaderFor(bmc::eFirmwareTypeWRP);
    ASSERT_TRUE(ReadConfigFile(wrp, "board_wrp.xml"));
    Golden g;
    g.U32(4, 0xC0F6B0AD).U8(8, 1).Text(9, "wrp-2").U32(145, 500).U8(149, 46);
    g.U32(150, 0x85).U32(154, 0xFFF);
    g.U8(406, 2).U8(407, 12).U8(408, 255).Text(409, "Q").Text(413, "W-77").Text(445, "first run");
    g.U8(2493, 2).U8(2494, 0);
    ExpectRecord(wrp.boardConfig, g);
    EXPECT_TRUE(wrp.BoardAndFirmwareTypesMatch());

    ConfigMng humva = ReaderFor(bmc::eFirmwareTypeHUMVA);
    ASSERT_TRUE(ReadConfigFile(humva, "board_humva.xml"));
    std::vector<uint8_t> code;
    const uint32_t registers[11][2] = {{137, 0x10}, {135, 0x20}, {7, 0x08},   {8, 0x07}, {9, 0x06}, {10, 0x05},
                                       {11, 0x04},  {12, 0x03},  {137, 0x00}, {135, 0x40}, {135, 0x00}};
    for (const auto& r : registers) {
        I2cWrite(code, 0xFFFFFF, r[0], r[1]);
    }
    Golden h;
    h.U32(4, 0xC0F6B0AD).U8(8, 2).Text(9, "evr").U32(145, 100).U8(149, 235).U32(154, 0x800);
    h.U8(406, 5).U8(407, 0).U8(408, 7).Text(409, "ZZ").Text(413, "E-5");
    h.U8(2493, 8).U32(2495, 693).Bytes(2499, code);
    ExpectRecord(humva.boardConfig, h);
    EXPECT_TRUE(humva.BoardAndFirmwareTypesMatch());
}

TEST(BoardConfigDocument, ValidationAndMissingFiles)
{
    testing::internal::CaptureStdout();
    try {
        bmc::BoardConfig::Init(bmctest::ConfigDataPath("board_invalid.xml"));
        ADD_FAILURE() << "a document that breaks its schema was accepted";
    } catch (const istd::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("is not valid against schema file"), std::string::npos) << e.what();
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("PAX"), std::string::npos) << printed; // the XML layer's own text

    try {
        bmc::BoardConfig::Init(bmctest::ConfigDataPath("no_such_board.xml"));
        ADD_FAILURE() << "a missing file was accepted";
    } catch (const istd::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("Can't read configuration file: "), std::string::npos) << e.what();
    }

    // A FIFO in place of the document is refused before it is opened: nothing blocks.
    testsupport::TempDir dir;
    const std::string fifo = dir / "board.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(testsupport::ErrorOf([&] { bmc::BoardConfig::Init(fifo); }),
              "Can't read configuration file: " + fifo + ". (" + fifo + " is not a regular file)");

    // A document without the reader's firmware type has nothing to read; an empty list is
    // refused rather than read past.
    ConfigMng reader = ReaderFor(bmc::eFirmwareTypeJY);
    EXPECT_FALSE(ReadConfigFile(reader, "board_wrp.xml"));
    EXPECT_THROW(reader.Deserialize({}), istd::Exception);
}

// One key in a document and the bytes it leaves at a record offset.
struct KeyCase {
    const char* what;
    bmc::FirmwareType_e firmware;
    const char* body;
    size_t offset;
    std::vector<uint8_t> bytes;
};

TEST(BoardConfigKeys, StoredBytes)
{
    const std::string longSerial(32, 'S');
    const std::string fourChars = "<bb_hw_id_data_common><customer_id_string>ABCD</customer_id_string>"
                                  "<serial_no_string>" + longSerial + "</serial_no_string></bb_hw_id_data_common>";
    const bmc::FirmwareType_e KOZ = bmc::eFirmwareTypeKOZ;
    const bmc::FirmwareType_e WRP = bmc::eFirmwareTypeWRP;
    const std::vector<KeyCase> cases = {
        {"subsys_present true", KOZ, "<bb_hw_id_data><subsys_present> true </subsys_present></bb_hw_id_data>", 2494, {1}},
        {"subsys_present TRUE", KOZ, "<bb_hw_id_data><subsys_present>TRUE</subsys_present></bb_hw_id_data>", 2494, {0}},
        {"subsys_present 1", KOZ, "<bb_hw_id_data><subsys_present>1</subsys_present></bb_hw_id_data>", 2494, {0}},
        {"customer id, 3 of 4 stored", KOZ, fourChars.c_str(), 409, {'A', 'B', 'C', 0}},
        {"serial, 31 of 32 stored", KOZ, fourChars.c_str(), 413 + 30, {'S', 0}},
        {"subsystem id 254", KOZ,
         "<bb_hw_id_data_common><subsystem_identifier>254</subsystem_identifier></bb_hw_id_data_common>", 407, {254}},
        {"subsystem id with text", KOZ,
         "<bb_hw_id_data_common><subsystem_identifier>7,abc</subsystem_identifier></bb_hw_id_data_common>", 407, {7}},
        {"platform B list", WRP,
         "<base_board><platform_b_crate_compatible_slots>1, 3,8</platform_b_crate_compatible_slots></base_board>", 150,
         {0x85, 0, 0, 0}},
        {"platform B all", WRP,
         "<base_board><platform_b_crate_compatible_slots>all</platform_b_crate_compatible_slots></base_board>", 150,
         {0xFF, 0, 0, 0}},
        {"platform B none", WRP,
         "<base_board><platform_b_crate_compatible_slots>none</platform_b_crate_compatible_slots></base_board>", 150,
         {0, 0, 0, 0}},
        {"uTCA slot 12 by tab and blank", WRP,
         "<base_board><utca_crate_compatible_slots>\t12  1</utca_crate_compatible_slots></base_board>", 154,
         {0x01, 0x08, 0, 0}},
        {"ignore satellites none", KOZ, "<base_board><ignore_satellites>none</ignore_satellites></base_board>", 156,
         {0xFF}},
        {"ignore satellites all", KOZ, "<base_board><ignore_satellites>all</ignore_satellites></base_board>", 156, {0}},
        {"ignore satellites list", KOZ, "<base_board><ignore_satellites>1,3</ignore_satellites></base_board>", 156,
         {0xFA}},
        {"KOZ ignores platform B", KOZ,
         "<base_board><platform_b_crate_compatible_slots>all</platform_b_crate_compatible_slots></base_board>", 150,
         {0, 0, 0, 0}},
        {"WRP ignores the MAC", WRP,
         "<base_board><management_ethernet_MAC>001122334455</management_ethernet_MAC></base_board>", 150,
         {0, 0, 0, 0, 0, 0}},
        {"board type by name", KOZ, "<base_board><board_type>PAX</board_type></base_board>", 149, {62}},
        {"board type by number", KOZ, "<base_board><board_type>62</board_type></base_board>", 149, {62}},
        {"structure version keeps 8 bits", KOZ, "<base_board><structure_version>0x1FF</structure_version></base_board>",
         8, {0xFF}},
        {"negative structure version", KOZ, "<base_board><structure_version>-1</structure_version></base_board>", 8,
         {0xFF}},
        {"startup order keeps 8 bits", KOZ, "<bb_hw_id_data><startup_order>300</startup_order></bb_hw_id_data>", 2493,
         {44}},
        {"magic with upper-case X", KOZ, "<base_board><magic_code>0XC0F6B0AD</magic_code></base_board>", 4,
         {0xAD, 0xB0, 0xF6, 0xC0}},
        {"timeout in hexadecimal", KOZ,
         "<base_board><fpga_image_read_timeout>0xFFFFFFFF</fpga_image_read_timeout></base_board>", 145,
         {0xFF, 0xFF, 0xFF, 0xFF}},
        {"later key wins, text padded", KOZ,
         "<base_board><revision_str>abcdef</revision_str><revision_str>xy</revision_str></base_board>", 9,
         {'x', 'y', 0, 0, 0, 0, 0}},
        {"untrimmed history", KOZ,
         "<bb_hw_id_data_common><hystory_record_string> a </hystory_record_string></bb_hw_id_data_common>", 445,
         {' ', 'a', ' ', 0}},
        {"keys found deep in the tree", KOZ,
         "<x><y><base_board><board_type>WRP</board_type></base_board></y></x>", 149, {46}},
        {"subsystem header keys", KOZ,
         "<subsystem_board><magic_code>1</magic_code><board_type>WRP</board_type></subsystem_board>", 8651,
         {1, 0, 0, 0}},
    };
    for (const KeyCase& c : cases) {
        ConfigMng reader = ReaderFor(c.firmware);
        ASSERT_TRUE(ReadConfigText(reader, ConfigDocument(istd::EnumToString(c.firmware), c.body))) << c.what;
        const std::vector<uint8_t> record = RecordBytes(reader.boardConfig);
        EXPECT_EQ(std::vector<uint8_t>(record.begin() + c.offset, record.begin() + c.offset + c.bytes.size()), c.bytes)
            << c.what;
        // Only the base-board type byte is the board type: the subsystem section has none.
        EXPECT_EQ(record[149] == 46, std::string(c.what) == "keys found deep in the tree") << c.what;
    }
}

// A malformed value is refused by an exception that says what was wrong.
struct BadCase {
    bmc::FirmwareType_e firmware;
    const char* body;
    const char* message; // contained in what()
    std::function<void(const std::exception&)> type;
};

template <class X>
std::function<void(const std::exception&)> Is()
{
    return [](const std::exception& e) { EXPECT_NE(dynamic_cast<const X*>(&e), nullptr) << e.what(); };
}

TEST(BoardConfigKeys, MalformedValuesAreRefused)
{
    const bmc::FirmwareType_e KOZ = bmc::eFirmwareTypeKOZ;
    const bmc::FirmwareType_e WRP = bmc::eFirmwareTypeWRP;
    const auto mac = [](const std::string& text) {
        return "<base_board><management_ethernet_MAC>" + text + "</management_ethernet_MAC></base_board>";
    };
    const std::string mac10 = mac("0050C2A1B2"), mac11 = mac("0050C2A1B2C"), mac13 = mac("0050C2A1B2C3D"),
                      macBad = mac("0050C2A1B2ZZ"), macColons = mac("00:50:C2:A1:B2:C3");
    const std::vector<BadCase> cases = {
        {KOZ, "<base_board><board_type>300</board_type></base_board>", "Invalid enum value", Is<istd::Exception>()},
        {KOZ, "<base_board><board_type>pax</board_type></base_board>", "Invalid integer value", Is<istd::Exception>()},
        {KOZ, "<bb_hw_id_data_common><hw_revision_number>c</hw_revision_number></bb_hw_id_data_common>",
         "Invalid integer value", Is<istd::Exception>()},
        {KOZ, "<bb_hw_id_data_common><subsystem_identifier>255</subsystem_identifier></bb_hw_id_data_common>",
         "bmc: Invalid subsystem ID: 255", Is<istd::Exception>()},
        {KOZ, "<bb_hw_id_data_common><subsystem_identifier>x,7</subsystem_identifier></bb_hw_id_data_common>",
         "bmc: Invalid subsystem ID: x,7", Is<istd::Exception>()},
        {KOZ, "<bb_hw_id_data_common><subsystem_identifier/></bb_hw_id_data_common>", "bmc: Invalid subsystem ID: ",
         Is<istd::Exception>()},
        {KOZ, "<base_board><structure_version>three</structure_version></base_board>",
         "\"structure_version\": 'three'", Is<istd::Exception>()},
        {KOZ, "<base_board><structure_version/></base_board>", "\"structure_version\"", Is<istd::Exception>()},
        {KOZ, "<base_board><fpga_image_read_timeout>4294967295</fpga_image_read_timeout></base_board>",
         "\"fpga_image_read_timeout\": '4294967295'", Is<istd::Exception>()},
        {KOZ, "<bb_hw_id_data><startup_order>1st</startup_order></bb_hw_id_data>", "\"startup_order\": '1st'",
         Is<istd::Exception>()},
        {KOZ, "<base_board><magic_code>zz</magic_code></base_board>", "\"magic_code\": 'zz'", Is<istd::Exception>()},
        {KOZ, "<base_board><magic_code>0x1C0F6B0AD</magic_code></base_board>", "\"magic_code\"", Is<istd::Exception>()},
        {KOZ, mac10.c_str(), "\"management_ethernet_MAC\": '0050C2A1B2'", Is<istd::Exception>()},
        {KOZ, mac11.c_str(), "\"management_ethernet_MAC\"", Is<istd::Exception>()},
        {KOZ, mac13.c_str(), "\"management_ethernet_MAC\"", Is<istd::Exception>()},
        {KOZ, macBad.c_str(), "\"management_ethernet_MAC\"", Is<istd::Exception>()},
        {KOZ, macColons.c_str(), "\"management_ethernet_MAC\"", Is<istd::Exception>()},
        {WRP, "<base_board><platform_b_crate_compatible_slots>0</platform_b_crate_compatible_slots></base_board>",
         "platform_b_crate_compatible_slots", Is<std::out_of_range>()},
        {WRP, "<base_board><platform_b_crate_compatible_slots>65</platform_b_crate_compatible_slots></base_board>",
         "platform_b_crate_compatible_slots", Is<std::out_of_range>()},
        {WRP, "<base_board><utca_crate_compatible_slots>1,33</utca_crate_compatible_slots></base_board>",
         "utca_crate_compatible_slots", Is<std::overflow_error>()},
        {WRP, "<base_board><utca_crate_compatible_slots>1,two</utca_crate_compatible_slots></base_board>", "two",
         Is<istd::Exception>()},
        {KOZ, "<base_board><ignore_satellites>-1</ignore_satellites></base_board>", "-1", Is<istd::Exception>()},
    };
    for (const BadCase& c : cases) {
        ConfigMng reader = ReaderFor(c.firmware);
        try {
            ReadConfigText(reader, ConfigDocument(istd::EnumToString(c.firmware), c.body));
            ADD_FAILURE() << "accepted: " << c.body;
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what() << " / " << c.body;
            c.type(e);
        }
    }
}

TEST(BoardConfigKeys, ValidityChecks)
{
    ConfigMng m;
    EXPECT_TRUE(m.IsValidStartupOrder(0));
    EXPECT_TRUE(m.IsValidStartupOrder(8));
    EXPECT_FALSE(m.IsValidStartupOrder(9));
    EXPECT_FALSE(m.IsValidStartupOrder(-1));
    EXPECT_TRUE(m.IsValidSubsysBoardPresent(1));
    EXPECT_FALSE(m.IsValidSubsysBoardPresent(2));
    EXPECT_FALSE(m.IsValidSubsysBoardPresent(-1));
    EXPECT_TRUE(m.IsValidSerialId(std::string(32, 'a')));
    EXPECT_FALSE(m.IsValidSerialId(std::string(33, 'a')));
    EXPECT_TRUE(m.IsValidCustomerId("ABCD"));
    EXPECT_FALSE(m.IsValidCustomerId("ABCDE"));
    EXPECT_TRUE(m.IsValidMacAddr("0123456789aB"));
    EXPECT_FALSE(m.IsValidMacAddr("0123456789aG"));
    EXPECT_FALSE(m.IsValidMacAddr("0123456789a"));

    struct TypeCase {
        bmc::FirmwareType_e firmware;
        int board;
        bool match;
    };
    const TypeCase types[] = {
        {bmc::eFirmwareTypeHUMVA, 235, true}, {bmc::eFirmwareTypeHUMVA, 62, true},
        {bmc::eFirmwareTypeHUMVA, 175, true}, {bmc::eFirmwareTypeHUMVA, 219, false},
        {bmc::eFirmwareTypeMOKVE, 160, true}, {bmc::eFirmwareTypeMOKVE, 161, true},
        {bmc::eFirmwareTypeMOKVE, 173, false}, {bmc::eFirmwareTypeKOZ, 44, true},
        {bmc::eFirmwareTypeKOZ, 46, false},   {bmc::eFirmwareTypeJY, 236, true},
    };
    for (const TypeCase& t : types) {
        m.boardConfig.firmwareType = t.firmware;
        m.boardConfig.record.baseBoard.boardType = static_cast<uint8_t>(t.board);
        EXPECT_EQ(m.BoardAndFirmwareTypesMatch(), t.match) << t.firmware << " / " << t.board;
    }
}

TEST(BoardConfigKeys, SubsystemIdPairAndTrace)
{
    istd::TraceCapture capture(istd::eTraceInfo);
    const bmc::SubsystemIdPair_t pair = ConfigMng::StrToSubsystemIdPair("7,abc");
    EXPECT_EQ(pair.first, 7);
    EXPECT_EQ(pair.second, "abc");
    EXPECT_TRUE(capture.Contains("Subsystem ID: '7,abc' --> 7/'abc'")) << capture.Text();
    EXPECT_EQ(ConfigMng::StrToSubsystemIdPair(" 9 ").first, 9);
    EXPECT_EQ(ConfigMng::StrToSubsystemIdPair("0").second, "");
    for (const char* bad : {"", ",", "-1", "+1", "0x10", "99999999999999999999", "25 4"}) {
        EXPECT_THROW(ConfigMng::StrToSubsystemIdPair(bad), istd::Exception) << bad;
    }
}

TEST(BoardConfigKeys, SecondDocumentOverlaysTheFirst)
{
    ConfigMng reader = ReaderFor(bmc::eFirmwareTypeKOZ);
    ASSERT_TRUE(ReadConfigFile(reader, "board_koz.xml"));
    ASSERT_TRUE(ReadConfigText(reader, ConfigDocument("KOZ", "<base_board><board_type>PAX</board_type></base_board>")));
    EXPECT_EQ(uint32_t{reader.boardConfig.record.baseBoard.boardType}, 62);
    EXPECT_EQ(uint32_t{reader.boardConfig.record.baseBoard.fpgaImageReadTimeout}, 5000u);
    reader.Init();
    ASSERT_TRUE(ReadConfigText(reader, ConfigDocument("KOZ", "<base_board><board_type>PAX</board_type></base_board>")));
    EXPECT_EQ(uint32_t{reader.boardConfig.record.baseBoard.fpgaImageReadTimeout}, 0u);
}

TEST(BoardConfigPrinter, SlotMasks)
{
    struct MaskCase {
        uint64_t mask;
        unsigned int count;
        bool inverted;
        const char* text;
    };
    const MaskCase cases[] = {
        {0, 8, false, "none"},      {0xFF, 8, false, "all"},  {0x85, 8, false, "1,3,8"}, {0, 8, true, "all"},
        {0xFF, 8, true, "none"},    {0xFA, 8, true, "1,3"},   {0x800, 12, false, "12"},  {0x1FF, 8, false, "1,2,3,4,5,6,7,8"},
        {0x5, 0, false, ""},
    };
    for (const MaskCase& c : cases) {
        std::ostringstream os;
        bmc::PrintSlotMask(os, "Slots", c.mask, c.count, c.inverted);
        EXPECT_EQ(os.str(), std::string("    Slots: ") + c.text + "\n") << c.mask;
    }
}

const char* const c_kozHeaderText = "Baseboard configuration:\n"
                                    "    CRC code: 0\n"
                                    "    Magic code: c0f6b0ad\n"
                                    "    Struct ver.: 3\n"
                                    "    Time create: 1970-01-01 00:00:00\n"
                                    "    Time modify: 1970-01-01 00:00:00\n"
                                    "    Revision:  Rev 1.2 \n";

std::string Dump(const std::vector<uint8_t>& head)
{
    std::vector<uint8_t> bytes(128, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return istd::HexDump(bytes.data(), bytes.size(), 16, true);
}

TEST(BoardConfigPrinter, KozRecord)
{
    ConfigMng reader = ReaderFor(bmc::eFirmwareTypeKOZ);
    ASSERT_TRUE(ReadConfigFile(reader, "board_koz.xml"));
    std::ostringstream os;
    os << reader.boardConfig;
    const std::string expected =
        std::string("Baseboard configuration:\n") + c_kozHeaderText +
        "    FPGA Image read timeout: 5000\n"
        "    BoardType: KOZ\n"
        "    ARM Ethernet controller MAC address: 00:50:c2:a1:b2:c3\n"
        "    Ignore satellites: 1,3\n"
        "    HW identification data:\n"
        "       Application identifier: Tesmar RF\n"
        "       Application specific subsystem identifier: 7\n"
        "       HW revision number: C\n"
        "       Unique customer identification string: ACM\n"
        "       Serial identification string: KZ-000123\n"
        "       Component history record string: 2010-04-30 assembled\n"
        "       Zero based board startup order: 0\n"
        "       Subsystem board present: 1\n"
        "    HW initialization data:\n"
        "       Size: 4\n"
        "       Memory dump: \n" +
        Dump({0x00, 0x06, 0x10, 0x00}) +
        "\n"
        "    HW post initialization data:\n"
        "       Size: 60\n"
        "       Memory dump: \n" +
        Dump(HwSpiwBytes(0x40000000, 1, 2, 3)) +
        "Subsystem board configuration:Baseboard configuration:\n"
        "    CRC code: 0\n"
        "    Magic code: c0f6b0ad\n"
        "    Struct ver.: 2\n"
        "    Time create: 1970-01-01 00:00:00\n"
        "    Time modify: 1970-01-01 00:00:00\n"
        "    Revision: sub rev\n"
        "    HW identification data:\n"
        "       Application identifier: Orvalis+\n"
        "       Application specific subsystem identifier: 254\n"
        "       HW revision number: A\n"
        "       Unique customer identification string: XY\n"
        "       Serial identification string: SB-1\n"
        "       Component history record string: none\n"
        "    HW initialization data:\n"
        "       Size: 1\n"
        "       Memory dump: \n" +
        Dump({0x03}) + "\n";
    EXPECT_EQ(os.str(), expected);
    EXPECT_EQ(os.flags(), std::ostringstream().flags()); // the caller's stream keeps decimal

    std::ostringstream header;
    header << reader.boardConfig.record.baseBoard.header;
    EXPECT_EQ(header.str(), c_kozHeaderText);
}

TEST(BoardConfigPrinter, WrpRecordAndShortForms)
{
    ConfigMng reader = ReaderFor(bmc::eFirmwareTypeWRP);
    ASSERT_TRUE(ReadConfigFile(reader, "board_wrp.xml"));
    std::ostringstream os;
    os << reader.boardConfig;
    const std::string text = os.str();
    EXPECT_NE(text.find("    BoardType: WRP\n    Platform B compatible slots: 1,3,8\n    uTCA compatible slots: all\n"
                        "    HW identification data:\n"),
              std::string::npos)
        << text;
    const std::string tail = "0070: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00Subsystem board is not present\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    BoardConfiguration config;
    config.firmwareType = bmc::eFirmwareTypeKOZ;
    std::ostringstream empty;
    empty << config;
    EXPECT_EQ(empty.str(), "Board has no configuration written yet!\n");
    for (bmc::FirmwareType_e firmware : {bmc::eFirmwareTypeInvalid, bmc::eFirmwareTypeUnknown}) {
        config.record.baseBoard.header.magicCode = bmc::c_configMagic;
        config.firmwareType = firmware;
        std::ostringstream unknown;
        unknown << config;
        EXPECT_EQ(unknown.str(), "Firmware type is unknown - can't read configuration!\n");
    }
}

// A record read back from a board need not hold a NUL in its text fields.
TEST(BoardConfigPrinter, TextsStayInsideTheirFields)
{
    BoardConfiguration config;
    std::memset(config.Data(), 'x', BoardConfiguration::c_recordSize);
    hwidentification& id = config.record.baseBoard.hwId;
    id.applicationIdentifier = 1;
    id.hwRevisionNumber = 2;
    std::ostringstream os;
    os << id << config.record.baseBoard.header;
    const std::string text = os.str();
    EXPECT_NE(text.find("string: " + std::string(3, 'x') + "\n"), std::string::npos);
    EXPECT_NE(text.find("string: " + std::string(31, 'x') + "\n"), std::string::npos);
    EXPECT_NE(text.find("string: " + std::string(2047, 'x') + "\n"), std::string::npos);
    EXPECT_NE(text.find("Revision: " + std::string(128, 'x') + "\n"), std::string::npos);

    // A code without a name fails before anything is written.
    id.applicationIdentifier = 77;
    std::ostringstream failed;
    EXPECT_THROW(failed << id, istd::Exception);
    EXPECT_EQ(failed.str(), "");
}

} // namespace
