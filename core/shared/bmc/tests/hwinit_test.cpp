// The hardware-initialisation script compiler: each instruction's encoding, both macros, the
// area limit, comments and statement splitting, the messages of script errors, and through
// documents the choice of code blocks by target and the parameters.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/config_doc.h"
#include "bmc/config_mng.h"

namespace {

using bmc::ConfigMng;
using Bytes = std::vector<uint8_t>;

// An area of exactly the controller's size, so that any write past it is a sanitizer report.
struct Area {
    std::vector<unsigned char> data = std::vector<unsigned char>(bmc::c_hwInitAreaSize, 0);
    unsigned int length = 0;
    Bytes Used() const { return Bytes(data.begin(), data.begin() + length); }
};

struct Compiled {
    bool result = false;
    Bytes bytes;
    std::string printed;
    std::string error; // what() of the exception, empty when none
};

Compiled Compile(const std::string& script)
{
    Area area;
    Compiled out;
    std::string code = script;
    testing::internal::CaptureStdout();
    try {
        out.result = ConfigMng::HwInitParser(code, area.data.data(), &area.length);
    } catch (const istd::Exception& e) {
        out.error = e.what();
    }
    out.printed = testing::internal::GetCapturedStdout();
    EXPECT_LE(area.length, bmc::c_hwInitAreaSize);
    out.bytes = area.Used();
    return out;
}

Bytes Adwr(uint32_t address, uint32_t value)
{
    Bytes out{0x0F};
    for (uint32_t word : {address, value}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
    }
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(HwInitCompiler, Instructions)
{
    struct Case {
        const char* script;
        Bytes bytes;
    };
    const Case cases[] = {
        {"NOP;NOTA;", {0x00, 0x03}},
        {"ANDA 0x1;", {0x01, 0x01, 0x00}},
        {"ORA 0xFFFF;", {0x02, 0xFF, 0xFF}},
        {"WRA 0x1234;", {0x04, 0x34, 0x12}},
        {"WRA 0x12345;", {0x04, 0x45, 0x23}},
        {"WRB 0x0;", {0x05, 0x00, 0x00}},
        {"DLY 0x2;", {0x06, 0x02, 0x00}},
        {"FRDA 0xab;", {0x07, 0xAB, 0x00}},
        {"FWRA 0x10;", {0x08, 0x10, 0x00}},
        {"FDWR 0x1 0x2;", {0x09, 0x01, 0x00, 0x02, 0x00}},
        {"FWBS 0x1 0x2;", {0x0A, 0x01, 0x00, 0x02, 0x00}},
        {"FWBC 0x1 0x2;", {0x0B, 0x01, 0x00, 0x02, 0x00}},
        {"ARDAB 0x12345678;", {0x0C, 0x78, 0x56, 0x34, 0x12}},
        {"AWRAB 0xFFFFFFFF;", {0x0D, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"AWRADR 0x1;", {0x0E, 0x01, 0x00, 0x00, 0x00}},
        {"ADWR 0x10 0x20;", {0x0F, 0x10, 0, 0, 0, 0x20, 0, 0, 0}},
        // Characters after the number are ignored; no ";" after the last statement is needed.
        {"WRA 0x12zz", {0x04, 0x12, 0x00}},
        // White space, line ends, digits and punctuation before the mnemonic disappear.
        {"  \n\t NOP;1 NOP;", {0x00, 0x00}},
        {"/* start */NOP;", {0x00}},
        {"NOP /* a */; NOTA /* b */;", {0x00, 0x03}},
        {"NOP;/* NOTA; WRA 0x1; */NOTA;", {0x00, 0x03}},
        // Runs of blanks are one separator; an empty statement is skipped.
        {"ADWR   0x1    0x2;;;NOP", Join({Adwr(1, 2), {0x00}})},
        // Removing a comment joins "/" and "*" into a comment that counts too.
        {"NOP;//*x*/*NOTA;*/WRA 0x1;", {0x00, 0x04, 0x01, 0x00}},
        // An unclosed comment at the start of a statement goes with the other leading characters.
        {"NOP;/* NOTA;", {0x00, 0x03}},
    };
    for (const Case& c : cases) {
        const Compiled out = Compile(c.script);
        EXPECT_TRUE(out.result) << c.script;
        EXPECT_EQ(out.error, "") << c.script;
        EXPECT_EQ(out.bytes, c.bytes) << c.script;
    }
}

TEST(HwInitCompiler, TextsWithoutStatements)
{
    for (const char* script : {"", ";", ";;;", "/* all comment */"}) {
        const Compiled out = Compile(script);
        EXPECT_FALSE(out.result) << script;
        EXPECT_EQ(out.error, "") << script;
        EXPECT_TRUE(out.bytes.empty()) << script;
    }
    // Statements that hold no mnemonic compile to nothing, successfully.
    EXPECT_TRUE(Compile(" 12 ;--;\n").result);
}

TEST(HwInitCompiler, ScriptErrors)
{
    struct Case {
        const char* script;
        const char* printed;
        size_t compiled; // bytes that stay written before the failure
    };
    const Case cases[] = {
        {"WRA 1234;", "Hw AddNativer: invalid parameter: 1234\nHW init error: Parser at line 0\n", 1},
        {"WRA 0X12;", "Hw AddNativer: invalid parameter: 0X12\nHW init error: Parser at line 0\n", 1},
        {"WRA 0x100000000;", "Hw AddNativer: invalid parameter: 0x100000000\nHW init error: Parser at line 0\n", 1},
        {"WRA 0x1 0x2;", "Hw init error: wrong number of parameters: line 0: WRA\n", 0},
        {"NOP; NOP;\nADWR 0x1;", "Hw init error: wrong number of parameters: line 2: ADWR\n", 2},
        {"wra 0x1;", "Hw init error: wrong operand: line 0: wra\n", 0},
        {"WRA\t0x1;", "Hw init error: wrong operand: line 0: WRA\t0x1\n", 0},
        {"NOP;NOP /* WRA 0x1;", "Hw init error: wrong number of parameters: line 1: NOP\n", 1},
        {"HWSPIW_m 0x1 0x2 zz 0x4;", "Hw HWSPIWMacro: invalid parameter-1: zz\nHW init error: Parser at line 0\n", 0},
        {"HWSI57XFREQ_m 5 0x1;",
         "Hw HwExpandHWSI57XFREQMacro: invalid parameter-1: 5\nHW init error: Parser at line 0\n", 0},
        {"HWSI57XFREQ_m 0x5 1;",
         "Hw HwExpandHWSI57XFREQMacro: invalid parameter-2: 1\nHW init error: Parser at line 0\n", 0},
        {"HWSI57XFREQ_m 0x5 0x1000000;",
         "Hw HwExpandHWSI57XFREQMacro: parameter-2 is out of range: 0x1000000\nHW init error: Parser at line 0\n", 0},
    };
    for (const Case& c : cases) {
        const Compiled out = Compile(c.script);
        EXPECT_EQ(out.error, "cli: config mng error") << c.script;
        EXPECT_EQ(out.printed, c.printed) << c.script;
        EXPECT_EQ(out.bytes.size(), c.compiled) << c.script;
    }
}

TEST(HwInitCompiler, Macros)
{
    const Compiled spi = Compile("HWSPIW_m 0x100 0x4 0x12 0xA5;");
    ASSERT_EQ(spi.error, "");
    const Bytes delay{0x06, 0x02, 0x00};
    EXPECT_EQ(spi.bytes, Join({delay, Adwr(0x108, 0xFFFFFFFF), Adwr(0x100, 0x12), Adwr(0x108, 0xFFFFFFFB),
                               Adwr(0x110, 0xA5), Adwr(0x114, 0), delay, Adwr(0x108, 0xFFFFFFFF)}));
    EXPECT_EQ(spi.bytes.size(), 60u);

    const Compiled si57x = Compile("HWSI57XFREQ_m 0xAABB060504030201 0xFFFFFF;");
    ASSERT_EQ(si57x.error, "");
    ASSERT_EQ(si57x.bytes.size(), 693u);
    // Eleven register writes of seven direct writes each: start, device address, register,
    // value, stop. Bytes 6 and 7 of the value are not written.
    const uint32_t base = 0xFFFFFF;
    const uint32_t writes[11][2] = {{137, 0x10}, {135, 0x20}, {7, 1},  {8, 2},    {9, 3},   {10, 4},
                                    {11, 5},     {12, 6},     {137, 0}, {135, 0x40}, {135, 0}};
    Bytes expected;
    for (const auto& w : writes) {
        expected = Join({expected, Adwr(base + 8, 0x50000000), Adwr(base, 0xAA), Adwr(base + 8, 0xB0000000),
                         Adwr(base, w[0]), Adwr(base + 8, 0x30000000), Adwr(base, w[1]), Adwr(base + 8, 0x70000000)});
    }
    EXPECT_EQ(si57x.bytes, expected);
}

TEST(HwInitCompiler, AreaLimit)
{
    std::string full;
    for (int i = 0; i < 1024; ++i) {
        full += "WRA 0x1;";
    }
    const Compiled exact = Compile(full);
    EXPECT_TRUE(exact.result);
    EXPECT_EQ(exact.bytes.size(), 3072u);

    const Compiled over = Compile(full + "NOP;");
    EXPECT_EQ(over.error, "cli: config mng error");
    EXPECT_EQ(over.printed, "Hw init error: hw init. data overflow !! \n");
    EXPECT_EQ(over.bytes.size(), 3072u);

    // A macro that does not fit stops at the last instruction that does.
    std::string nearlyFull;
    for (int i = 0; i < 1005; ++i) {
        nearlyFull += "WRA 0x1;";
    }
    const Compiled macro = Compile(nearlyFull + "HWSPIW_m 0x0 0x0 0x0 0x0;");
    EXPECT_EQ(macro.error, "cli: config mng error");
    EXPECT_EQ(macro.printed, "Hw init error: hw init. data overflow !! \n");
    // 3015 + 51 bytes of whole instructions, then the opcode and address of the last write.
    EXPECT_EQ(macro.bytes.size(), 3015u + 51 + 5);

    Area area;
    area.length = 3071;
    EXPECT_TRUE(bmc::HwInitDataAddUint8(0x7E, area.data.data(), &area.length));
    EXPECT_EQ(area.data[3071], 0x7E);
    testing::internal::CaptureStdout();
    EXPECT_THROW(bmc::HwInitDataAddUint16(1, area.data.data(), &area.length), istd::Exception);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(area.length, 3072u);
}

TEST(HwInitCompiler, TableAndParameterReading)
{
    ConfigMng::CmdList_t row{};
    ASSERT_TRUE(bmc::IsValidCmd(bmc::cmdList, "HWSI57XFREQ_m", row));
    EXPECT_EQ(row.opcode, 0xFFFFFFFFu);
    EXPECT_EQ(row.params, 2u);
    EXPECT_EQ(row.size, 8u);
    EXPECT_TRUE(static_cast<bool>(row.expander));
    EXPECT_FALSE(bmc::IsValidCmd(bmc::cmdList, "", row));
    EXPECT_FALSE(bmc::IsValidCmd(bmc::cmdList, "NOP ", row));

    unsigned int v32 = 7;
    uint64_t v64 = 7;
    EXPECT_TRUE(bmc::ParseCommandParams("0xFFFFFFFF", v32));
    EXPECT_EQ(v32, 0xFFFFFFFFu);
    EXPECT_FALSE(bmc::ParseCommandParams("0x100000000", v32));
    EXPECT_TRUE(bmc::ParseCommandParams("0x100000000", v64));
    EXPECT_EQ(v64, 0x100000000u);
    for (const char* bad : {"", "0", "0x", "x10", "10", "0X10"}) {
        EXPECT_FALSE(bmc::ParseCommandParams(bad, v32)) << bad;
    }
}

TEST(HwInitCompiler, ParameterSubstitution)
{
    struct Case {
        const char* text;
        const char* name;
        const char* value;
        const char* result;
    };
    const Case cases[] = {
        {"ADWR BASE 0x1;", "BASE", "0x40000000", "ADWR 0x40000000 0x1;"},
        {"SPI_BASE BASE2", "BASE", "B", "SPI_B B2"},            // also inside longer words
        {"AAA", "AA", "x", "xA"},                               // left to right, no overlap
        {"A A", "A", "AA", "AA AA"},                            // the value is not searched again
        {"none here", "BASE", "1", "none here"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        bmc::SubstituteHwInitParameter(text, c.name, c.value);
        EXPECT_EQ(text, c.result) << c.text;
    }
    // A few short parameters with long values would multiply the text without end.
    std::string text(1000, 'A');
    EXPECT_THROW(bmc::SubstituteHwInitParameter(text, "A", std::string(2000, 'A')), istd::Exception);
    EXPECT_EQ(text, std::string(1000, 'A'));
}

// The document's hw_init_data with the given content, under firmware type KOZ.
std::string HwInitDocument(const std::string& content)
{
    return bmctest::ConfigDocument("KOZ", "<hw_init_data>" + content + "</hw_init_data>");
}

Bytes BaseInit(const ConfigMng& reader)
{
    const bmc::BaseBoardConfig_t& base = reader.boardConfig.record.baseBoard;
    return Bytes(base.hwInitData, base.hwInitData + base.hwInitLength);
}

ConfigMng Read(const std::string& target, const std::string& content)
{
    ConfigMng reader(target);
    reader.boardConfig.firmwareType = bmc::eFirmwareTypeKOZ;
    bmctest::ReadConfigText(reader, HwInitDocument(content));
    return reader;
}

TEST(HwInitDocument, CodeBlocksByTarget)
{
    const std::string blocks = "<bb_hw_init_data>"
                               "<code>NOP;</code>"
                               "<code configurations=\"cfgA&#10;cfgB\">WRA 0x1;</code>"
                               "<code configurations=\"all cfgC\">NOTA;</code>"
                               "<code configurations=\"cfgD\tall\">WRB 0x2;</code>"
                               "<code configurations=\"CFGA\">ORA 0x3;</code>"
                               "<code configurations=\"\">ANDA 0x4;</code>"
                               "</bb_hw_init_data>";
    EXPECT_EQ(BaseInit(Read("default", blocks)), Bytes({0x00, 0x03, 0x05, 0x02, 0x00}));
    EXPECT_EQ(BaseInit(Read("cfgB", blocks)), Bytes({0x00, 0x04, 0x01, 0x00, 0x03, 0x05, 0x02, 0x00}));
    EXPECT_NO_THROW(Read("cfgD", blocks)); // named first, so specific

    // "all" first: the block is taken but does not make the target known.
    try {
        Read("cfgC", blocks);
        ADD_FAILURE() << "cfgC was taken as named";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "Target configuration [cfgC] is not available inside configuration file!");
    }
    // Named in another section is enough.
    EXPECT_NO_THROW(
        Read("cfgE", "<bb_hw_init_data><code>NOP;</code></bb_hw_init_data>"
                     "<sb_hw_init_data><code configurations=\"cfgE\">NOP;</code></sb_hw_init_data>"));
}

TEST(HwInitDocument, BlocksJoinAndParametersApply)
{
    // No separator is added between blocks: a block without a final ";" joins the next one.
    EXPECT_EQ(BaseInit(Read("default", "<bb_hw_init_data><code>NOP</code><code>;NOTA;</code></bb_hw_init_data>")),
              Bytes({0x00, 0x03}));
    testing::internal::CaptureStdout();
    EXPECT_THROW(Read("default", "<bb_hw_init_data><code>WRA 0x1</code><code>WRB 0x2;</code></bb_hw_init_data>"),
                 istd::Exception);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Hw init error: wrong number of parameters: line 0: WRA\n");

    const ConfigMng withParams =
        Read("default", "<x><hw_init_params><BASE> 0x40000000 </BASE><VAL>0x1</VAL></hw_init_params></x>"
                        "<bb_hw_init_data><code>ADWR BASE VAL;</code></bb_hw_init_data>");
    EXPECT_EQ(BaseInit(withParams), Adwr(0x40000000, 1));

    // Each parameter works on the result of the ones before it.
    const ConfigMng chained = Read("default", "<hw_init_params><P1>P2 0x5</P1><P2>WRA</P2></hw_init_params>"
                                              "<bb_hw_init_data><code>P1;</code></bb_hw_init_data>");
    EXPECT_EQ(BaseInit(chained), Bytes({0x04, 0x05, 0x00}));
}

TEST(HwInitDocument, SectionsAndAreas)
{
    const ConfigMng reader =
        Read("default", "<bb_hw_init_data><code>NOP;NOTA;NOP;NOTA;</code></bb_hw_init_data>"
                        "<bb_hw_postinit_data><code>NOTA;</code></bb_hw_postinit_data>"
                        "<sb_hw_init_data><code>DLY 0x1;</code></sb_hw_init_data>"
                        "<bb_hw_init_data><code>WRA 0x9;</code></bb_hw_init_data>"
                        "<other><code>WRB 0x1;</code></other>");
    const bmc::BoardConfigRecord_t& record = reader.boardConfig.record;
    EXPECT_EQ(BaseInit(reader), Bytes({0x04, 0x09, 0x00})); // given twice: the later one, alone
    EXPECT_EQ(record.baseBoard.hwInitData[3], 0);
    EXPECT_EQ(uint32_t{record.baseBoard.hwPostInitLength}, 1u);
    EXPECT_EQ(record.baseBoard.hwPostInitData[0], 0x03);
    EXPECT_EQ(uint32_t{record.subsysBoard.hwInitLength}, 3u);
    EXPECT_EQ(Bytes(record.subsysBoard.hwInitData, record.subsysBoard.hwInitData + 3), Bytes({0x06, 0x01, 0x00}));

    // Without hw_init_data the areas stay as they are, and no target is checked.
    ConfigMng kept("cfgX");
    kept.boardConfig.firmwareType = bmc::eFirmwareTypeKOZ;
    kept.boardConfig.record.baseBoard.hwInitLength = 2;
    kept.boardConfig.record.baseBoard.hwInitData[0] = 0x42;
    ASSERT_TRUE(bmctest::ReadConfigText(kept, bmctest::ConfigDocument("KOZ", "<base_board/>")));
    EXPECT_EQ(uint32_t{kept.boardConfig.record.baseBoard.hwInitLength}, 2u);
    EXPECT_EQ(kept.boardConfig.record.baseBoard.hwInitData[0], 0x42);

    // A failed compilation leaves what it wrote, counted, and the area cleared behind it.
    ConfigMng failed;
    failed.boardConfig.firmwareType = bmc::eFirmwareTypeKOZ;
    failed.boardConfig.record.baseBoard.hwInitData[5] = 0x42;
    testing::internal::CaptureStdout();
    EXPECT_THROW(bmctest::ReadConfigText(
                     failed, HwInitDocument("<bb_hw_init_data><code>NOP; NOTA; BAD;</code></bb_hw_init_data>")),
                 istd::Exception);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Hw init error: wrong operand: line 2: BAD\n");
    EXPECT_EQ(BaseInit(failed), Bytes({0x00, 0x03}));
    EXPECT_EQ(failed.boardConfig.record.baseBoard.hwInitData[5], 0);
}

} // namespace
