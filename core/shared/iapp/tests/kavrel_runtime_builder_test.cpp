// The runtime registry builder: one table of descriptions and the nodes they make (or the exact
// refusal) over an aligned 4 KiB block, the nesting cap, the description files themselves
// (schema, missing root, refusals traced and passed on), and a registry built from the example
// description read, written, saved and loaded back into a second block.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "iapp/kavrel_runtime_builder.h"
#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_cstring_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "tests/support/element_recorder.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using testsupport::ErrorOf;
using testsupport::TempDir;

namespace {

constexpr size_t c_blockSize = 4096;

std::string SchemaPath()
{
    return std::filesystem::path(testsupport::TypesXsd()).replace_filename("runtime_config.xsd").string();
}

// A description file naming the build's schema, with these children of its root.
std::string Description(const std::string& children, const std::string& root = "runtime_config")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
           " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" +
           SchemaPath() + "\">" + children + "</" + root + ">\n";
}

std::string Hex(uint64_t value)
{
    std::ostringstream os;
    os << "0x" << std::hex << value;
    return os.str();
}

// One line per node below (not including) the root: "path kind@offset xsize flags", where
// the kind is the element type of a reference node, "bits<type> offset+size" of a bit node,
// "string<field bytes>" of a string node and "node" of a branch.
class Describer {
public:
    explicit Describer(const void* block) : m_block(static_cast<const char*>(block)) {}

    std::string operator()(const mci::TreeNodePtr& root) const
    {
        std::string out;
        for (const mci::TreeNodePtr& child : root->GetAllNodes()) {
            _Walk(child, "", out);
        }
        return out;
    }

private:
    void _Walk(const mci::TreeNodePtr& node, const std::string& prefix, std::string& out) const
    {
        const std::string path = prefix + "/" + node->GetName();
        out += path + " " + _Kind(*node) + " " + Hex(node->GetFlags()) + "\n";
        for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
            _Walk(child, path, out);
        }
    }

    std::string _At(const volatile void* address, size_t size) const
    {
        return "@" + Hex(static_cast<const volatile char*>(address) - m_block) + " x" + std::to_string(size);
    }

    template <class T>
    bool _Reference(const mci::TreeNode& node, const char* name, std::string& out) const
    {
        const auto* ref = dynamic_cast<const ireg::RegReferenceNode<T, volatile T>*>(&node);
        if (ref != nullptr) {
            out = name + _At(ref->GetReferent(), ref->GetSize());
        }
        return ref != nullptr;
    }

    template <class T>
    bool _Bits(const mci::TreeNode& node, const char* name, std::string& out) const
    {
        const auto* bits = dynamic_cast<const ireg::RegReferenceBitNode<T, volatile uint32_t>*>(&node);
        if (bits != nullptr) {
            out = std::string("bits<") + name + ">" + _At(bits->GetWords(), bits->GetSize()) + " " +
                  std::to_string(bits->GetBitOffset()) + "+" + std::to_string(bits->GetBitSize());
        }
        return bits != nullptr;
    }

    std::string _Kind(const mci::TreeNode& node) const
    {
        std::string out;
        if (_Reference<bool>(node, "bool", out) || _Reference<int32_t>(node, "int32", out) ||
            _Reference<uint32_t>(node, "uint32", out) || _Reference<int64_t>(node, "int64", out) ||
            _Reference<uint64_t>(node, "uint64", out) || _Reference<double>(node, "double", out) ||
            _Reference<float>(node, "float", out) || _Bits<bool>(node, "bool", out) ||
            _Bits<int32_t>(node, "int32", out) || _Bits<uint32_t>(node, "uint32", out) ||
            _Bits<int64_t>(node, "int64", out) || _Bits<uint64_t>(node, "uint64", out)) {
            return out;
        }
        if (const auto* text = dynamic_cast<const ireg::RegReferenceCStringNode*>(&node)) {
            return "string" + std::to_string(text->GetStringSize()) + _At(text->GetBase(), text->GetSize());
        }
        return node.GetValueType() == mci::enums::eNone ? "node" : "?";
    }

    const char* m_block;
};

// A builder over a 4 KiB block (allocated to its exact size, so that the sanitizer sees a
// byte beyond it) that takes element trees directly, read from snippets without a schema.
class RuntimeBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::WriteFile(m_dir / "empty.xml", Description(""));
        m_root = mci::factory::Create<ireg::RegNode>("root");
    }

    std::unique_ptr<iapp::KavrelRuntimeBuilder> Builder(size_t alignment)
    {
        return std::make_unique<iapp::KavrelRuntimeBuilder>(m_root, m_block.get(), c_blockSize, m_dir / "empty.xml",
                                                            alignment);
    }

    // The root element of a description with these children, as the document reads it.
    icfg::ElementPtr Elements(const std::string& children)
    {
        testsupport::WriteFile(m_dir / "snippet.xml", "<runtime_config>" + children + "</runtime_config>");
        iapp::RuntimeBuilderConfig document;
        document.OpenDocument(m_dir / "snippet.xml", false);
        testsupport::ElementRecorder recorder;
        EXPECT_TRUE(document.Read(recorder));
        return recorder.received.at(0);
    }

    std::string Nodes() const { return Describer(m_block.get())(m_root); }

    TempDir m_dir;
    std::unique_ptr<uint64_t[]> m_block{new uint64_t[c_blockSize / 8]()};
    mci::TreeNodePtr m_root;
};

struct BuildCase {
    const char* what;
    std::string xml;   // children of the root element
    std::string error; // "" when the whole description builds
    std::string nodes; // the nodes made (also those before a refused element)
    size_t alignment = 4;
};

TEST_F(RuntimeBuilderTest, DescriptionsAndTheNodesTheyMake)
{
    const std::string unsupported = "Registry node type not currently supported!";
    const std::string tooLarge = "ERROR: CalculateAddr - Offset too large!";
    const std::string nodeTooLarge = "ERROR: CalculateAddr - Node too large!";
    const std::string misaligned = "ERROR: CalculateAddr - Alignment exception";
    const std::string everyType =
        "/b bool@0x0 x1 0x6\n/i int32@0x4 x1 0x6\n/u uint32@0x8 x1 0x6\n/l int64@0x10 x1 0x6\n"
        "/ul uint64@0x18 x1 0x6\n/d double@0x20 x1 0x6\n/f float@0x28 x1 0x6\n/s string8@0x2c x1 0x6\n";
    const BuildCase cases[] = {
        // Types, by name and by code.
        {"every type by name",
         R"(<reg_node name="b" offset="0" type="bool"/><reg_node name="i" offset="4" type="int32"/>
            <reg_node name="u" offset="8" type="uint32"/><reg_node name="l" offset="16" type="int64"/>
            <reg_node name="ul" offset="24" type="uint64"/><reg_node name="d" offset="32" type="double"/>
            <reg_node name="f" offset="40" type="float"/><reg_node name="s" offset="44" type="string" string_size="8"/>)",
         "",
         everyType},
        {"every type by code",
         R"(<reg_node name="b" offset="0" type="1"/><reg_node name="i" offset="4" type="2"/>
            <reg_node name="u" offset="8" type="3"/><reg_node name="l" offset="16" type="4"/>
            <reg_node name="ul" offset="24" type="5"/><reg_node name="d" offset="32" type="6"/>
            <reg_node name="f" offset="40" type="7"/><reg_node name="s" offset="44" type="8" string_size="8"/>)",
         "",
         everyType},
        {"enumeration", R"(<reg_node name="e" type="enumeration"/>)", unsupported, ""},
        {"type 9", R"(<reg_node name="e" type="9"/>)", unsupported, ""},
        {"type none", R"(<reg_node name="e" type="0"/>)", unsupported, ""},
        {"no type", R"(<reg_node name="e"/>)", unsupported, ""},
        {"unknown type name", R"(<reg_node name="e" type="int33"/>)", "Invalid integer value", ""},
        {"unknown type code", R"(<reg_node name="e" type="10"/>)", "Invalid enum value", ""},
        {"a type code not cut to 32 bits", R"(<reg_node name="e" type="4294967298"/>)", "Invalid enum value", ""},
        // Arrays.
        {"size 1 is a scalar", R"(<reg_node name="a" type="uint32" size="1"/>)", "", "/a uint32@0x0 x1 0x6\n"},
        {"size 4 is an array", R"(<reg_node name="a" type="uint32" size="4" offset="8"/>)", "",
         "/a uint32@0x8 x4 0x206\n"},
        {"the array flag with size 1", R"(<reg_node name="a" type="double" flags="readable array" size="1"/>)", "",
         "/a double@0x0 x1 0x202\n"},
        {"the array flag alone is not flags 0", R"(<reg_node name="a" type="double" flags="array" size="2"/>)", "",
         "/a double@0x0 x2 0x200\n"},
        {"the array flag without size", R"(<reg_node name="a" type="double" flags="array"/>)",
         "ERROR: Array size missing!", ""},
        // Strings.
        {"one string field", R"(<reg_node name="s" type="string" string_size="16"/>)", "",
         "/s string16@0x0 x1 0x6\n"},
        {"three string fields", R"(<reg_node name="s" type="string" string_size="16" size="3"/>)", "",
         "/s string16@0x0 x3 0x206\n"},
        {"no string size", R"(<reg_node name="s" type="string" size="3"/>)", "ERROR: String size missing!", ""},
        {"strings keep no alignment", R"(<reg_node name="s" type="string" offset="5" string_size="3"/>)", "",
         "/s string3@0x5 x1 0x6\n"},
        // Bit fields.
        {"bit fields of every integer type",
         R"(<bit_node name="b" offset="4" type="bool" bit_offset="31" bit_size="1"/>
            <bit_node name="i" offset="4" type="int32" bit_offset="0" bit_size="32"/>
            <bit_node name="u" offset="8" type="uint32" bit_offset="4" bit_size="3"/>
            <bit_node name="l" offset="8" type="4" bit_offset="8" bit_size="8"/>
            <bit_node name="ul" offset="12" type="uint64" bit_offset="16" bit_size="16"/>)",
         "",
         "/b bits<bool>@0x4 x1 31+1 0x6\n/i bits<int32>@0x4 x1 0+32 0x6\n/u bits<uint32>@0x8 x1 4+3 0x6\n"
         "/l bits<int64>@0x8 x1 8+8 0x6\n/ul bits<uint64>@0xc x1 16+16 0x6\n"},
        {"a bit field of doubles", R"(<bit_node name="d" type="double" bit_size="1"/>)", unsupported, ""},
        {"a bit field of floats", R"(<bit_node name="f" type="float" bit_size="1"/>)", unsupported, ""},
        {"a bit field of strings", R"(<bit_node name="s" type="string" bit_size="1"/>)", unsupported, ""},
        {"a bit field without type", R"(<bit_node name="s" bit_size="1"/>)", unsupported, ""},
        {"a field past the word", R"(<bit_node name="f" type="uint32" bit_offset="30" bit_size="3"/>)",
         "size and offset are out of range", ""},
        {"an empty field", R"(<bit_node name="f" type="uint32" bit_offset="3"/>)", "size could not be zero", ""},
        {"a bool field of 9 bits", R"(<bit_node name="f" type="bool" bit_size="9"/>)", "size is of range", ""},
        {"a bit offset above 255", R"(<bit_node name="f" type="uint32" bit_offset="260" bit_size="1"/>)",
         "ERROR: Runtime builder - bit_offset too large in bit_node f!", ""},
        {"a bit size above 255", R"(<bit_node name="f" type="uint32" bit_size="0x104"/>)",
         "ERROR: Runtime builder - bit_size too large in bit_node f!", ""},
        // 255 still fits the node's 8 bits and reaches its own test; 256 would wrap to 0.
        {"a bit offset of 255", R"(<bit_node name="f" type="uint32" bit_offset="255" bit_size="1"/>)",
         "size and offset are out of range", ""},
        {"a bit offset of 256", R"(<bit_node name="f" type="uint32" bit_offset="256" bit_size="1"/>)",
         "ERROR: Runtime builder - bit_offset too large in bit_node f!", ""},
        {"a bit size of 255", R"(<bit_node name="f" type="uint32" bit_size="255"/>)",
         "size and offset are out of range", ""},
        {"a bit size of 256", R"(<bit_node name="f" type="uint32" bit_size="256"/>)",
         "ERROR: Runtime builder - bit_size too large in bit_node f!", ""},
        // Flags.
        {"flags by name", R"(<reg_node name="v" type="int32" flags="readable persistent"/>)", "",
         "/v int32@0x0 x1 0xa\n"},
        {"flags by number", R"(<reg_node name="v" type="int32" flags="2 8"/>)", "", "/v int32@0x0 x1 0xa\n"},
        {"flags by name and number", R"(<reg_node name="v" type="int32" flags="hidden 2 constant"/>)", "",
         "/v int32@0x0 x1 0x62\n"},
        {"flags empty", R"(<reg_node name="v" type="int32" flags=""/>)", "", "/v int32@0x0 x1 0x6\n"},
        {"flags 0", R"(<reg_node name="v" type="int32" flags="0"/>)", "", "/v int32@0x0 x1 0x6\n"},
        {"flags of a branch", R"(<node name="n" flags="readable hidden"/><node name="m"/>)", "",
         "/n node 0x42\n/m node 0x6\n"},
        {"flags of a bit node", R"(<bit_node name="b" type="bool" bit_size="1" flags="readable"/>)", "",
         "/b bits<bool>@0x0 x1 0+1 0x2\n"},
        {"several flags in one number", R"(<reg_node name="v" type="int32" flags="6"/>)", "Invalid enum value", ""},
        {"an unknown flag word", R"(<reg_node name="v" type="int32" flags="readable bogus"/>)",
         "Invalid integer value", ""},
        {"a negative flag", R"(<reg_node name="v" type="int32" flags="-2"/>)", "Invalid enum value", ""},
        {"a flag number not cut to 32 bits", R"(<reg_node name="v" type="int32" flags="4294967298"/>)",
         "Invalid enum value", ""},
        {"an unknown flag word in a branch", R"(<node name="n" flags="writeable"/>)", "Invalid integer value", ""},
        // Attributes and elements the builder does not know.
        {"an extra attribute skips the element",
         R"(<reg_node name="a" type="int32"/><reg_node name="b" type="int32" offset="4" unit="V"/>
            <bit_node name="c" type="bool" bit_size="1" comment="x"/><reg_node name="d" type="int32" offset="8"/>)",
         "", "/a int32@0x0 x1 0x6\n/d int32@0x8 x1 0x6\n"},
        {"an extra attribute before a bad value", R"(<reg_node extra="1" offset="-4"/>)", "", ""},
        {"a bad value before an extra attribute", R"(<reg_node offset="-4" extra="1"/>)",
         "Bad cast from -4 to unsigned int", ""},
        {"a branch ignores extra attributes", R"(<node name="n" colour="red"/>)", "", "/n node 0x6\n"},
        {"an unknown element is skipped",
         R"(<reg_node name="a" type="int32"/><register name="x"><reg_node name="y" type="int32"/></register>
            <reg_node name="b" type="int32" offset="4"/>)",
         "", "/a int32@0x0 x1 0x6\n/b int32@0x4 x1 0x6\n"},
        {"children of a leaf are not read",
         R"(<reg_node name="a" type="int32"><reg_node name="inner" type="int32"/></reg_node>)", "",
         "/a int32@0x0 x1 0x6\n"},
        // Numbers and offsets.
        {"hexadecimal offset", R"(<reg_node name="v" type="int32" offset="0x10"/>)", "", "/v int32@0x10 x1 0x6\n"},
        {"negative offset", R"(<reg_node name="v" type="int32" offset="-4"/>)", "Bad cast from -4 to unsigned int",
         ""},
        {"no number", R"(<reg_node name="v" type="int32" offset="four"/>)", "Bad cast from four to unsigned int", ""},
        {"hexadecimal with a wrong digit", R"(<reg_node name="v" type="int32" offset="0x1O"/>)",
         "Bad hex cast from 0x1O to unsigned int", ""},
        {"offset beyond 32 bits", R"(<reg_node name="v" type="int32" offset="4294967296"/>)",
         "Bad cast from 4294967296 to unsigned int", ""},
        {"the last word", R"(<reg_node name="v" type="uint32" offset="4092"/>)", "", "/v uint32@0xffc x1 0x6\n"},
        {"offset at the end", R"(<reg_node name="v" type="bool" offset="4096"/>)", tooLarge, ""},
        {"a 64-bit element across the end", R"(<reg_node name="v" type="int64" offset="4092"/>)", nodeTooLarge, ""},
        {"an array across the end", R"(<reg_node name="v" type="uint32" offset="4088" size="3"/>)", nodeTooLarge,
         ""},
        {"an array filling the block", R"(<reg_node name="v" type="uint64" size="512"/>)", "",
         "/v uint64@0x0 x512 0x206\n"},
        {"an array whose bytes overflow 32 bits", R"(<reg_node name="v" type="uint64" size="0xFFFFFFFF"/>)",
         nodeTooLarge, ""},
        {"a string at the end", R"(<reg_node name="s" type="string" offset="4096" string_size="1"/>)", tooLarge, ""},
        {"a string across the end", R"(<reg_node name="s" type="string" offset="4090" string_size="8"/>)",
         nodeTooLarge, ""},
        {"strings across the end", R"(<reg_node name="s" type="string" offset="4064" string_size="16" size="3"/>)",
         nodeTooLarge, ""},
        {"strings whose bytes overflow 32 bits",
         R"(<reg_node name="s" type="string" string_size="0x10000" size="0x10000"/>)", nodeTooLarge, ""},
        {"a bit word across the end", R"(<bit_node name="b" type="bool" offset="4094" bit_size="1"/>)", nodeTooLarge,
         "", 2},
        {"a bit word at the end", R"(<bit_node name="b" type="bool" offset="4096" bit_size="1"/>)", tooLarge, ""},
        // Alignment.
        {"offset 6 with alignment 4", R"(<reg_node name="v" type="int32" offset="6"/>)", misaligned, ""},
        {"a bit word off the alignment", R"(<bit_node name="b" type="bool" offset="2" bit_size="1"/>)", misaligned,
         ""},
        {"alignment 1 takes any offset", R"(<reg_node name="v" type="bool" offset="4095"/>)", "",
         "/v bool@0xfff x1 0x6\n", 1},
        {"alignment 8", R"(<reg_node name="v" type="int32" offset="12"/>)", misaligned, "", 8},
        // Structure.
        {"nested branches",
         R"(<node name="a"><node name="b"><reg_node name="v" type="int32" offset="8"/></node></node>
            <reg_node name="w" type="int32"/>)",
         "", "/a node 0x6\n/a/b node 0x6\n/a/b/v int32@0x8 x1 0x6\n/w int32@0x0 x1 0x6\n"},
        {"the third of five fails",
         R"(<reg_node name="a" type="int32"/><reg_node name="b" type="int32" offset="4"/>
            <reg_node name="c" type="int32" offset="4096"/><reg_node name="d" type="int32" offset="8"/>
            <reg_node name="e" type="int32" offset="12"/>)",
         tooLarge, "/a int32@0x0 x1 0x6\n/b int32@0x4 x1 0x6\n"},
        {"a taken name: the later node replaces the earlier",
         R"(<reg_node name="v" type="int32"/><reg_node name="w" type="int32" offset="4"/>
            <reg_node name="v" type="uint64" offset="8"/>)",
         "", "/v uint64@0x8 x1 0x6\n/w int32@0x4 x1 0x6\n"},
        {"an empty description", "", "", ""},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.what);
        m_root = mci::factory::Create<ireg::RegNode>("root");
        auto builder = Builder(c.alignment);
        const icfg::ElementPtr elements = Elements(c.xml);
        EXPECT_EQ(ErrorOf([&] { EXPECT_TRUE(builder->Deserialize({elements})); }),
                  c.error.empty() ? "no error" : c.error);
        EXPECT_EQ(Nodes(), c.nodes);
    }
}

// Registers kept as bytes; every access is logged as "r32@56", "w64@88".
class ByteRegisters : public devio::RegisterModel {
public:
    ByteRegisters(size_t size, uint8_t fill) : bytes(size, fill) {}

    uint32_t OnRead32(size_t offset) override { return _Read<uint32_t>(offset); }
    void OnWrite32(size_t offset, uint32_t value) override { _Write(offset, value); }
    uint64_t OnRead64(size_t offset) override { return _Read<uint64_t>(offset); }
    void OnWrite64(size_t offset, uint64_t value) override { _Write(offset, value); }

    std::vector<uint8_t> bytes;
    std::vector<std::string> log;

private:
    template <class W>
    uint8_t* _At(char kind, size_t offset)
    {
        log.push_back(kind + std::to_string(sizeof(W) * 8) + "@" + std::to_string(offset));
        if (offset + sizeof(W) > bytes.size()) {
            throw std::out_of_range("register access past the block: " + log.back());
        }
        return bytes.data() + offset;
    }
    template <class W>
    W _Read(size_t offset)
    {
        W value;
        std::memcpy(&value, _At<W>('r', offset), sizeof(W));
        return value;
    }
    template <class W>
    void _Write(size_t offset, W value)
    {
        std::memcpy(_At<W>('w', offset), &value, sizeof(W));
    }
};

// With alignment 1 elements lie off their own alignment; their nodes read and write them without
// undefined behaviour (the dev preset's sanitizer stops at a misaligned access) and change only
// their own bytes, in memory and in a simulated register space. Elements on their alignment stay
// one access of their width.
TEST_F(RuntimeBuilderTest, NodesAtOddOffsetsMoveOnlyTheirOwnBytes)
{
    const std::string description = R"(<reg_node name="i" type="int32" offset="57"/>
        <reg_node name="d" type="double" offset="67"/>
        <bit_node name="b" type="uint32" offset="75" bit_offset="4" bit_size="8"/>
        <reg_node name="a" type="int32" offset="80"/><reg_node name="w" type="double" offset="88"/>)";
    constexpr uint8_t c_fill = 0xA5;
    const mci::Path here;
    for (const bool simulated : {false, true}) {
        SCOPED_TRACE(simulated ? "simulated registers" : "memory");
        std::memset(m_block.get(), c_fill, c_blockSize);
        auto registers = std::make_shared<ByteRegisters>(c_blockSize, c_fill);
        devio::RangeClaim claim;
        if (simulated) {
            claim = devio::RangeClaim(m_block.get(), c_blockSize, registers);
        }
        m_root = mci::factory::Create<ireg::RegNode>("root");
        auto builder = Builder(1);
        ASSERT_TRUE(builder->Deserialize({Elements(description)}));
        EXPECT_EQ(Nodes(), "/i int32@0x39 x1 0x6\n/d double@0x43 x1 0x6\n/b bits<uint32>@0x4b x1 4+8 0x6\n"
                           "/a int32@0x50 x1 0x6\n/w double@0x58 x1 0x6\n");

        m_root->GetNode("i")->Set(int32_t(-2), 0, here);
        m_root->GetNode("d")->Set(1.5, 0, here);
        m_root->GetNode("b")->Set(uint32_t(0x3C), 0, here);
        m_root->GetNode("a")->Set(int32_t(7), 0, here);
        m_root->GetNode("w")->Set(-0.25, 0, here);
        int32_t i = 0;
        double d = 0;
        uint32_t b = 0;
        int32_t a = 0;
        double w = 0;
        m_root->GetNode("i")->Get(i, 0, here);
        m_root->GetNode("d")->Get(d, 0, here);
        m_root->GetNode("b")->Get(b, 0, here);
        m_root->GetNode("a")->Get(a, 0, here);
        m_root->GetNode("w")->Get(w, 0, here);
        EXPECT_EQ(i, -2);
        EXPECT_EQ(d, 1.5);
        EXPECT_EQ(b, 0x3Cu);
        EXPECT_EQ(a, 7);
        EXPECT_EQ(w, -0.25);

        std::vector<uint8_t> expected(c_blockSize, c_fill);
        const auto put = [&expected](size_t offset, const auto& value) {
            std::memcpy(&expected[offset], &value, sizeof(value));
        };
        put(57, int32_t(-2));
        put(67, 1.5);
        put(75, uint32_t(0xA5A5A3C5)); // bits 4-11 of 0xA5A5A5A5 replaced by 0x3C
        put(80, int32_t(7));
        put(88, -0.25);
        const auto* memory = reinterpret_cast<const uint8_t*>(m_block.get());
        const std::vector<uint8_t> held =
            simulated ? registers->bytes : std::vector<uint8_t>(memory, memory + c_blockSize);
        EXPECT_EQ(held, expected);
        if (!simulated) {
            continue;
        }
        EXPECT_EQ(std::vector<uint8_t>(memory, memory + c_blockSize), std::vector<uint8_t>(c_blockSize, c_fill))
            << "the registers were served, the memory behind them untouched";
        for (const std::string& access : registers->log) {
            EXPECT_EQ(std::stoul(access.substr(access.find('@') + 1)) % 4, 0u) << access;
        }
        for (const char* whole : {"w32@80", "r32@80", "w64@88", "r64@88"}) {
            EXPECT_EQ(std::count(registers->log.begin(), registers->log.end(), whole), 1) << whole;
        }
        EXPECT_EQ(std::count(registers->log.begin(), registers->log.end(), "r32@88"), 0);
    }
}

TEST_F(RuntimeBuilderTest, TakesExactlyOneElement)
{
    auto builder = Builder(4);
    const icfg::ElementPtr one = Elements(R"(<reg_node name="v" type="int32"/>)");
    EXPECT_FALSE(builder->Deserialize({}));
    EXPECT_FALSE(builder->Deserialize({one, one}));
    EXPECT_FALSE(builder->Deserialize({nullptr}));
    EXPECT_EQ(Nodes(), "");
}

TEST_F(RuntimeBuilderTest, NestingIsCapped)
{
    // A chain of `node` elements, depth levels deep, under a root element: built directly, as
    // the parser of a file would never let it become this deep.
    auto chain = [](size_t depth) {
        icfg::ElementPtr root = icfg::Element::Create("runtime_config");
        icfg::ElementPtr parent = root;
        for (size_t i = 0; i < depth; ++i) {
            icfg::ElementPtr node = icfg::Element::Create("node");
            node->AddAttribute(icfg::Attribute::Create("name", "n"));
            parent->AddChild(node);
            parent = node;
        }
        return root;
    };
    const size_t cap = iapp::KavrelRuntimeBuilder::c_maxNodeDepth;
    auto builder = Builder(4);
    EXPECT_EQ(ErrorOf([&] { builder->Deserialize({chain(cap)}); }), "no error");
    size_t depth = 0;
    for (mci::TreeNodePtr node = m_root->GetNode("n"); node; node = node->GetNode("n")) {
        ++depth;
    }
    EXPECT_EQ(depth, cap);
    m_root = mci::factory::Create<ireg::RegNode>("root");
    auto again = Builder(4);
    EXPECT_EQ(ErrorOf([&] { again->Deserialize({chain(cap + 1)}); }),
              "ERROR: Runtime builder - nodes nested deeper than 256!");
    // The depth is counted afresh on the next walk.
    EXPECT_EQ(ErrorOf([&] { again->Deserialize({chain(2)}); }), "no error");
}

TEST_F(RuntimeBuilderTest, TracesWhatItBuildsAndRefuses)
{
    auto builder = Builder(4);
    istd::TraceCapture trace(istd::eTraceDetail);
    builder->Deserialize({Elements(R"(<node name="n" flags="2 4"><reg_node name="v" type="int32" offset="16"/>
        <bit_node name="b" type="uint32" offset="4" bit_offset="3" bit_size="5"/></node><bogus/>
        <reg_node name="v" type="uint64" offset="24"/><reg_node name="v" type="uint64" offset="24"/>)")});
    EXPECT_TRUE(trace.Contains("AddNode() adding new node: /root/n (flags: 6 )"));
    EXPECT_TRUE(trace.Contains("Adding reg_node (v ,16 , 6 ) on node: /root/n"));
    EXPECT_TRUE(trace.Contains("AddBitNode() adding bit_node (b ,4 , 6 ) on node: /root/n bits=(3 , 5 )"));
    EXPECT_TRUE(trace.Contains("ERROR: Runtime builder - unknown entry while parsing node!"));
    EXPECT_TRUE(trace.Contains("ERROR: Runtime builder - name v taken twice under /root"));
    const auto refused = [&](const std::string& xml) {
        ErrorOf([&] { builder->Deserialize({Elements(xml)}); });
    };
    refused(R"(<reg_node name="v" type="int32" offset="4096"/>)");
    EXPECT_TRUE(trace.Contains("ERROR: CalculateAddr - Offset too large: 4096 >= 4096"));
    refused(R"(<reg_node name="v" type="int32" offset="6"/>)");
    EXPECT_TRUE(trace.Contains("ERROR: CalculateAddr - Alignment exception: offset 6 is not multiple of 4"));
    refused(R"(<reg_node name="v" type="uint32" offset="4088" size="3"/>)");
    EXPECT_TRUE(trace.Contains("ERROR: CalculateAddr - Node too large: offset 4088 + 3 x 4 bytes > 4096"));
    refused(R"(<reg_node name="v" type="9"/>)");
    EXPECT_TRUE(trace.Contains("ERROR: Registry node type not currently  supported!"));
    refused(R"(<bit_node name="f" type="int32" bit_offset="300" bit_size="1"/>)");
    EXPECT_TRUE(trace.Contains("ERROR: Runtime builder - bit_offset too large in bit_node f: 300 > 255"));
}

// ---------------------------------------------------------------------------------------------
// Description files.

class RuntimeFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_root = mci::factory::Create<ireg::RegNode>("root"); }

    std::string Write(const std::string& text)
    {
        testsupport::WriteFile(m_dir / "board.xml", text);
        return m_dir / "board.xml";
    }

    TempDir m_dir;
    std::unique_ptr<uint64_t[]> m_block{new uint64_t[c_blockSize / 8]()};
    mci::TreeNodePtr m_root;
};

TEST_F(RuntimeFileTest, BuildsFromAValidFile)
{
    const std::string file = Write(Description(R"(<node name="n"><reg_node name="v" type="int32" offset="0x8"/>
        <other anything="goes"/></node>)"));
    iapp::KavrelRuntimeBuilder builder(m_root, m_block.get(), c_blockSize, file, 4);
    EXPECT_EQ(builder.GetFileName(), file);
    EXPECT_TRUE(builder.BuildRegistry());
    EXPECT_EQ(Describer(m_block.get())(m_root), "/n node 0x6\n/n/v int32@0x8 x1 0x6\n");
}

TEST_F(RuntimeFileTest, AnEmptyDescriptionBuildsNothing)
{
    iapp::KavrelRuntimeBuilder builder(m_root, m_block.get(), c_blockSize, Write(Description("")), 4);
    EXPECT_TRUE(builder.BuildRegistry());
    EXPECT_TRUE(m_root->IsLeaf());
}

TEST_F(RuntimeFileTest, ADocumentOfAnotherRootIsRefused)
{
    // The schema is found on the root element "runtime_config", so a document of another root
    // cannot be validated and never reaches BuildRegistry.
    const std::string file = Write(Description(R"(<reg_node name="v" type="int32"/>)", "node"));
    EXPECT_THAT(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, file, 4); }),
                ::testing::StartsWith("Unable to extract schema file from " + file));
    EXPECT_TRUE(m_root->IsLeaf());
}

TEST_F(RuntimeFileTest, ARefusedElementIsTracedWithTheFileAndPassedOn)
{
    const std::string file = Write(Description(R"(<reg_node name="a" type="int32"/>
        <reg_node name="b" type="int32" offset="4096"/><reg_node name="c" type="int32" offset="4"/>)"));
    iapp::KavrelRuntimeBuilder builder(m_root, m_block.get(), c_blockSize, file, 4);
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_EQ(ErrorOf([&] { builder.BuildRegistry(); }), "ERROR: CalculateAddr - Offset too large!");
    EXPECT_TRUE(trace.Contains("ERROR: Runtime builder cannot parse  configuration file " + file +
                               " - Error: ERROR: CalculateAddr - Offset too large!"));
    EXPECT_EQ(Describer(m_block.get())(m_root), "/a int32@0x0 x1 0x6\n");
}

TEST_F(RuntimeFileTest, RefusesWhatCannotBeBuilt)
{
    const std::string valid = Write(Description(""));
    mci::TreeNodePtr none;
    EXPECT_EQ(ErrorOf([&] { iapp::KavrelRuntimeBuilder(none, m_block.get(), c_blockSize, valid, 4); }),
              "ERROR: Runtime builder - no root node!");
    EXPECT_EQ(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, valid, 0); }),
              "ERROR: Runtime builder - alignment must be at least 1!");
    const std::string missing = m_dir / "missing.xml";
    // The document's own refusals (icfg may add what the parser or the validator said).
    EXPECT_THAT(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, missing, 4); }),
                ::testing::StartsWith("Can't read configuration file: " + missing + "."));
}

TEST_F(RuntimeFileTest, TheSchemaChecksTheFrame)
{
    // Numbers must be decimal or hexadecimal; the builder's own rules come after.
    const std::string file = Write(Description(R"(<reg_node name="v" type="int32" offset="-4"/>)"));
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_THAT(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, file, 4); }),
                ::testing::StartsWith("XML document " + file + " is not valid against schema file " + SchemaPath()));
    EXPECT_TRUE(trace.Contains("Runtime configuration error: "));
    // Nodes nest, attributes and elements of other names pass, leaves may hold anything.
    const std::string open = Write(Description(R"(<node name="a" x="1"><node name="b"><bit_node name="c"
        type="bool" bit_size="0x1" note="n"><doc>text</doc></bit_node><unknown/></node></node>
        <reg_node name="s" type="string" string_size="8" size="2" flags="readable writable"/>)"));
    EXPECT_EQ(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, open, 4); }), "no error");
    // A bit size that is no number.
    const std::string badNumber = Write(Description(R"(<bit_node name="c" type="bool" bit_size="one"/>)"));
    EXPECT_NE(ErrorOf([&] { iapp::KavrelRuntimeBuilder(m_root, m_block.get(), c_blockSize, badNumber, 4); }),
              "no error");
}

// ---------------------------------------------------------------------------------------------
// The example description: a registry that reads and writes its block, saved and loaded back.

class RuntimeRegistryTest : public ::testing::Test {
protected:
    // A registry persisted to registry.xml, built from the example description over the block.
    struct Registry {
        icfg::Configuration document{"1.0", testsupport::TypesXsd()};
        mci::TreeNodePtr root;

        Registry(const TempDir& dir, void* block)
        {
            root = mci::factory::Create<ireg::RegConfigNode>("root", dir / "registry.xml", &document);
            iapp::KavrelRuntimeBuilder builder(root, block, c_blockSize, dir / "runtime_example.xml", 4);
            EXPECT_TRUE(builder.BuildRegistry());
        }
        ~Registry() { mci::DestroyNode(root); }

        mci::TreeNodePtr operator()(const std::string& group, const std::string& name) const
        {
            return root->GetNode(group)->GetNode(name);
        }
        ireg::RegNode& Config() const { return dynamic_cast<ireg::RegNode&>(*root); }
    };

    void SetUp() override
    {
        std::filesystem::copy_file(std::string(KAVREL_TEST_DATA_DIR) + "/runtime_example.xml",
                                   m_dir / "runtime_example.xml");
        std::filesystem::copy_file(SchemaPath(), m_dir / "runtime_config.xsd");
    }

    template <class T>
    T At(const std::unique_ptr<uint64_t[]>& block, size_t offset) const
    {
        T value;
        std::memcpy(&value, reinterpret_cast<const char*>(block.get()) + offset, sizeof(T));
        return value;
    }

    TempDir m_dir;
    std::unique_ptr<uint64_t[]> m_first{new uint64_t[c_blockSize / 8]()};
    std::unique_ptr<uint64_t[]> m_second{new uint64_t[c_blockSize / 8]()};
};

TEST_F(RuntimeRegistryTest, ReadsAndWritesTheBlockAndPersistsIt)
{
    const mci::Path here;
    {
        Registry registry(m_dir, m_first.get());
        // What the board reports shows through the read-only status nodes.
        char* block = reinterpret_cast<char*>(m_first.get());
        const double reported = 21.5;
        const uint32_t status = 0x80000009; // state 9, error set
        block[0] = 1;
        std::memcpy(block + 0x8, &reported, sizeof(reported));
        std::memcpy(block + 0x28, &status, sizeof(status));
        bool ready = false;
        double temperature = 0;
        uint32_t state = 0;
        bool error = false;
        registry("status", "ready")->Get(ready, 0, here);
        registry("status", "temperature")->Get(temperature, 0, here);
        registry("status", "state")->Get(state, 0, here);
        registry("status", "error")->Get(error, 0, here);
        EXPECT_TRUE(ready);
        EXPECT_EQ(temperature, 21.5);
        EXPECT_EQ(state, 9u);
        EXPECT_TRUE(error);
        EXPECT_EQ(ErrorOf([&] { registry("status", "ready")->Set(false, 0, here); }), "Node is not writable.");

        // Settings written through the nodes land in the block.
        registry("control", "enable")->Set(true, 0, here);
        registry("control", "gain")->Set(1.25f, 0, here);
        registry("control", "offsets")->Set(std::vector<int32_t>{-3, 7}, 0, here);
        registry("control", "delay")->Set(int64_t(-5000000000), 0, here);
        registry("control", "setpoint")->Set(0.1, 0, here);
        registry("control", "mode")->Set(uint64_t(5), 0, here);
        registry("control", "trim")->Set(int32_t(-32), 0, here);
        registry("control", "phase")->Set(int64_t(-2), 0, here);
        registry("control", "label")->Set(std::string("board seven"), 0, here);
        registry("control", "channels")->Set(std::vector<std::string>{"ch-a", "ch-b", "", "ch-d"}, 0, here);
        EXPECT_EQ(At<uint8_t>(m_first, 0x40), 1);
        EXPECT_EQ(At<float>(m_first, 0x44), 1.25f);
        EXPECT_EQ(At<int32_t>(m_first, 0x48), -3);
        EXPECT_EQ(At<int32_t>(m_first, 0x4C), 7);
        EXPECT_EQ(At<int64_t>(m_first, 0x50), int64_t(-5000000000));
        EXPECT_EQ(At<double>(m_first, 0x58), 0.1);
        // mode 5 in bits 0-2, trim -32 (0b100000) in bits 8-13, phase 0xFFFE in bits 16-31.
        EXPECT_EQ(At<uint32_t>(m_first, 0x60), 0xFFFE2005u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_first.get()) + 0x100), "board seven");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_first.get()) + 0x130), "ch-b");
        EXPECT_EQ(ErrorOf([&] { registry("control", "label")->Set(std::string(32, 'x'), 0, here); }),
                  "ireg: label: String too long.");
        EXPECT_EQ(ErrorOf([&] { registry("control", "trim")->Set(int32_t(32), 0, here); }),
                  "ireg: trim: Value 32 is out of range for node trim");
        ASSERT_TRUE(registry.Config().WriteConfiguration());
    }
    // A second registry over a fresh block, loaded from the file: the settings are back, the
    // status is not (it is not persistent).
    {
        Registry registry(m_dir, m_second.get());
        ASSERT_TRUE(registry.Config().LoadConfiguration());
        const char* first = reinterpret_cast<const char*>(m_first.get());
        const char* second = reinterpret_cast<const char*>(m_second.get());
        EXPECT_EQ(std::memcmp(first + 0x40, second + 0x40, 0x64 - 0x40), 0);   // the values and the bit fields
        EXPECT_EQ(std::memcmp(first + 0x100, second + 0x100, 0x160 - 0x100), 0); // the strings
        EXPECT_EQ(At<uint64_t>(m_second, 0x0), 0u);
        EXPECT_EQ(At<double>(m_second, 0x8), 0.0);
        EXPECT_EQ(At<uint32_t>(m_second, 0x28), 0u);
    }
}

} // namespace
