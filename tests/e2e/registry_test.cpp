// Browsing, reading and writing the example server's registry from another process: every value
// type and every kind of requested TypeCode, and the remote refusals with their texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/registry_e2e.h"
#include "inet/remote_path.h"

namespace e2e {
namespace {

std::vector<std::string> Names(const i_NET::NodeNames& names)
{
    return mci::RemoteNodeNamesToPath(names);
}

std::vector<std::string> Names(const i_NET::StringVec& values)
{
    std::vector<std::string> out(values.length());
    std::copy(values.get_buffer(), values.get_buffer() + values.length(), out.begin());
    return out;
}

class RegistryTest : public RegistryServerTest {
protected:
    void SetUp() override
    {
        RegistryServerTest::SetUp();
        m_node = Connect();
    }
    void TearDown() override
    {
        m_node = i_NET::RemoteNode::_nil();
        RegistryServerTest::TearDown();
    }

    std::string Get(const std::string& path, CORBA::TypeCode_ptr type, CORBA::ULong pos = 0, CORBA::ULong count = 0)
    {
        CORBA::Any_var value = m_node->GetValue(Path(path), pos, count, type);
        return Text(value.in());
    }

    i_NET::RemoteNode_var m_node;
};

TEST_F(RegistryTest, BrowsesTheTree)
{
    i_NET::NodeNames_var top = m_node->GetNodes(Path("/"));
    EXPECT_EQ(Names(top.in()),
              (std::vector<std::string>{"info", "settings", "tables", "registers", "apply", "applied", "signal"}));
    i_NET::NodeNames_var signal = m_node->GetNodes(Path("/signal"));
    EXPECT_EQ(Names(signal.in()), (std::vector<std::string>{"access_type", "atom_size", "group_size", "comp_names",
                                                            "comp_num", "comp_type"}));
    EXPECT_EQ(m_node->GetNodeCount(Path("/settings")), 11u);
    CORBA::String_var name = m_node->GetNameByIndex(Path("/settings"), 1);
    EXPECT_STREQ(name.in(), "count");
    name = m_node->GetName(Path("/tables/labels"));
    EXPECT_STREQ(name.in(), "labels");
    EXPECT_TRUE(m_node->IsLeaf(Path("/settings/count")));
    EXPECT_FALSE(m_node->IsLeaf(Path("/settings")));
    EXPECT_EQ(m_node->GetSize(Path("/tables/labels")), 3u);
    EXPECT_EQ(m_node->GetSize(Path("/registers/modes")), 3u);

    struct Case {
        const char* path;
        CORBA::Long type;
        uint64_t flags;
    };
    const Case cases[] = {
        {"/", 0, 0x6},
        {"/info/name", 8, 0x22},
        {"/info/uptime", 5, 0x2},
        {"/settings/enabled", 1, 0xe},
        {"/settings/count", 2, 0xe},
        {"/settings/limit", 3, 0xe},
        {"/settings/offset", 4, 0xe},
        {"/settings/total", 5, 0xe},
        {"/settings/gain", 6, 0xe},
        {"/settings/ratio", 7, 0xe},
        {"/settings/label", 8, 0xe},
        {"/settings/mode", 9, 0xe},
        {"/settings/threshold", 6, 0xe},
        {"/settings/led", 1, 0x6},
        {"/tables/counts", 2, 0x20e},
        {"/tables/modes", 9, 0x20e},
        {"/registers/words", 3, 0x206},
        {"/registers/modes", 9, 0x206},
        {"/apply", 9, 0x84},
        {"/applied", 3, 0x2},
        {"/signal", 0, 0x402},
        {"/signal/comp_names", 8, 0x222},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_node->GetValueType(Path(c.path)), c.type) << c.path;
        EXPECT_EQ(m_node->GetFlags(Path(c.path)), c.flags) << c.path;
    }
}

// Each value type read with its own kind, enumerations with each kind that matters, arrays as
// their buffers (a count far beyond the end is clipped there).
TEST_F(RegistryTest, ReadsEveryValueTypeAndKind)
{
    struct Case {
        const char* path;
        CORBA::TypeCode_ptr type;
        CORBA::ULong pos;
        CORBA::ULong count;
        const char* expected;
    };
    const Case cases[] = {
        {"/settings/enabled", CORBA::_tc_boolean, 0, 0, "boolean true"},
        {"/settings/count", CORBA::_tc_long, 0, 0, "long 10"},
        {"/settings/limit", CORBA::_tc_ulong, 0, 0, "ulong 1000"},
        {"/settings/offset", CORBA::_tc_longlong, 0, 0, "longlong -5"},
        {"/settings/total", CORBA::_tc_ulonglong, 0, 0, "ulonglong 0"},
        {"/settings/gain", CORBA::_tc_double, 0, 0, "double 1.5"},
        {"/settings/gain", CORBA::_tc_string, 0, 0, "double 1.5"},
        {"/settings/ratio", CORBA::_tc_float, 0, 0, "float 0.5"},
        {"/settings/label", CORBA::_tc_string, 0, 0, "string demo"},
        {"/settings/mode", CORBA::_tc_long, 0, 0, "long 1"},
        {"/settings/mode", CORBA::_tc_string, 0, 0, "string internal"},
        {"/settings/mode", CORBA::_tc_double, 0, 0, "longlong 1"},
        {"/settings/threshold", CORBA::_tc_double, 0, 0, "double 0.75"},
        {"/settings/led", CORBA::_tc_boolean, 0, 0, "boolean false"},
        {"/tables/flags", CORBA::_tc_boolean, 0, 0, "BooleanBuffer [true, false, true, false]"},
        {"/tables/counts", CORBA::_tc_long, 1, 2, "Int32Buffer [2, 3]"},
        {"/tables/counts", CORBA::_tc_long, 1, 0xFFFFFFFFu, "Int32Buffer [2, 3, 4]"},
        {"/tables/limits", CORBA::_tc_ulong, 0, 0, "UInt32Buffer [10, 20, 30, 4000000000]"},
        {"/tables/offsets", CORBA::_tc_longlong, 0, 0, "Int64Buffer [-1, 0, 1, -9000000000]"},
        {"/tables/totals", CORBA::_tc_ulonglong, 2, 0, "UInt64Buffer [2, 18446744073709551615]"},
        {"/tables/gains", CORBA::_tc_double, 0, 0, "DoubleBuffer [0.5, 1, 1.5, -2.25]"},
        {"/tables/ratios", CORBA::_tc_float, 0, 0, "FloatBuffer [0.25, 0.5, 0.75, 1]"},
        {"/tables/labels", CORBA::_tc_string, 0, 0, "StringBuffer [a, b, c]"},
        {"/tables/modes", CORBA::_tc_string, 0, 0, "StringBuffer [off, internal, external]"},
        {"/tables/modes", CORBA::_tc_long, 1, 0, "Int32Buffer [1, 2]"},
        {"/tables/modes", CORBA::_tc_ulong, 0, 0, "Int64Buffer [0, 1, 2]"},
        {"/registers/words", CORBA::_tc_ulong, 0, 0, "UInt32Buffer [0, 0, 0, 0]"},
        {"/registers/modes", CORBA::_tc_string, 0, 0, "StringBuffer [off, off, off]"},
        {"/signal/comp_names", CORBA::_tc_string, 0, 0, "StringBuffer [index, value]"},
        {"/signal/comp_type", CORBA::_tc_string, 0, 0, "string int64"},
        {"/signal/atom_size", CORBA::_tc_ulong, 0, 0, "ulong 16"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Get(c.path, c.type, c.pos, c.count), c.expected) << c.path << " pos " << c.pos;
    }
}

// Each value type written as its buffer (and enumerations by name and number) and read back.
TEST_F(RegistryTest, WritesEveryValueType)
{
    struct Case {
        const char* path;
        CORBA::Any value;
        CORBA::ULong pos;
        CORBA::TypeCode_ptr type;
        const char* expected;
    };
    const Case cases[] = {
        {"/settings/enabled", Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({0}), 0, CORBA::_tc_boolean, "boolean false"},
        {"/settings/led", Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({true}), 0, CORBA::_tc_boolean, "boolean true"},
        {"/settings/count", Buffer<i_NET::Int32Buffer, CORBA::Long>({42}), 0, CORBA::_tc_long, "long 42"},
        {"/settings/limit", Buffer<i_NET::UInt32Buffer, CORBA::ULong>({4000000000u}), 0, CORBA::_tc_ulong,
         "ulong 4000000000"},
        {"/settings/offset", Buffer<i_NET::Int64Buffer, CORBA::LongLong>({-9000000000}), 0, CORBA::_tc_longlong,
         "longlong -9000000000"},
        {"/settings/total", Buffer<i_NET::UInt64Buffer, CORBA::ULongLong>({UINT64_MAX}), 0, CORBA::_tc_ulonglong,
         "ulonglong 18446744073709551615"},
        {"/settings/gain", Buffer<i_NET::DoubleBuffer, CORBA::Double>({-0.125}), 0, CORBA::_tc_double, "double -0.125"},
        {"/settings/threshold", Buffer<i_NET::DoubleBuffer, CORBA::Double>({0.1}), 0, CORBA::_tc_double, "double 0.1"},
        {"/settings/ratio", Buffer<i_NET::FloatBuffer, CORBA::Float>({0.25f}), 0, CORBA::_tc_float, "float 0.25"},
        {"/settings/label", Strings({"two words"}), 0, CORBA::_tc_string, "string two words"},
        {"/settings/mode", Strings({"software"}), 0, CORBA::_tc_string, "string software"},
        {"/settings/mode", Buffer<i_NET::Int32Buffer, CORBA::Long>({2}), 0, CORBA::_tc_string, "string external"},
        {"/settings/mode", Buffer<i_NET::Int64Buffer, CORBA::LongLong>({0}), 0, CORBA::_tc_string, "string off"},
        {"/settings/mode", Strings({"3"}), 0, CORBA::_tc_string, "string software"},
        {"/tables/flags", Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({1, 1}), 2, CORBA::_tc_boolean,
         "BooleanBuffer [true, false, true, true]"},
        {"/tables/counts", Buffer<i_NET::Int32Buffer, CORBA::Long>({7, 8}), 2, CORBA::_tc_long,
         "Int32Buffer [1, 2, 7, 8]"},
        {"/tables/limits", Buffer<i_NET::UInt32Buffer, CORBA::ULong>({5}), 0, CORBA::_tc_ulong,
         "UInt32Buffer [5, 20, 30, 4000000000]"},
        {"/tables/offsets", Buffer<i_NET::Int64Buffer, CORBA::LongLong>({-2, -3}), 1, CORBA::_tc_longlong,
         "Int64Buffer [-1, -2, -3, -9000000000]"},
        {"/tables/totals", Buffer<i_NET::UInt64Buffer, CORBA::ULongLong>({9, 9, 9, 9}), 0, CORBA::_tc_ulonglong,
         "UInt64Buffer [9, 9, 9, 9]"},
        {"/tables/gains", Buffer<i_NET::DoubleBuffer, CORBA::Double>({3.5}), 3, CORBA::_tc_double,
         "DoubleBuffer [0.5, 1, 1.5, 3.5]"},
        {"/tables/ratios", Buffer<i_NET::FloatBuffer, CORBA::Float>({0.125f}), 0, CORBA::_tc_float,
         "FloatBuffer [0.125, 0.5, 0.75, 1]"},
        {"/tables/labels", Strings({"x"}), 1, CORBA::_tc_string, "StringBuffer [a, x, c]"},
        {"/tables/modes", Strings({"software", "off"}), 1, CORBA::_tc_string, "StringBuffer [off, software, off]"},
        // Fields of one register word, and the word itself.
        {"/registers/divider", Buffer<i_NET::UInt32Buffer, CORBA::ULong>({255}), 0, CORBA::_tc_ulong, "ulong 255"},
        {"/registers/enable", Buffer<i_NET::BooleanBuffer, CORBA::Boolean>({1}), 0, CORBA::_tc_boolean, "boolean true"},
        {"/registers/modes", Strings({"external"}), 2, CORBA::_tc_string, "StringBuffer [off, off, external]"},
        {"/registers/words", Buffer<i_NET::UInt32Buffer, CORBA::ULong>({0x10}), 1, CORBA::_tc_ulong,
         "UInt32Buffer [4081, 16, 0, 2]"},
        {"/apply", Strings({"Execute"}), 0, CORBA::_tc_null, nullptr},
        {"/applied", Buffer<i_NET::UInt32Buffer, CORBA::ULong>({}), 0, CORBA::_tc_ulong, "ulong 1"},
    };
    for (const Case& c : cases) {
        if (std::string(c.path) == "/applied") {
            EXPECT_EQ(Get(c.path, c.type), c.expected);
            continue;
        }
        EXPECT_EQ(Refusal([&] { m_node->SetValue(Path(c.path), c.value, c.pos); }), "no error") << c.path;
        if (c.expected != nullptr) {
            EXPECT_EQ(Get(c.path, c.type), c.expected) << c.path;
        }
    }
}

// The refusals a client sees, with their texts; nothing refused is stored.
TEST_F(RegistryTest, RefusesWithTheTexts)
{
    const CORBA::Any count500 = Buffer<i_NET::Int32Buffer, CORBA::Long>({500});
    CORBA::Any bareLong;
    bareLong <<= CORBA::Long(5);
    CORBA::Any aShort;
    aShort <<= CORBA::Short(5);
    CORBA::Any anOctet;
    anOctet <<= CORBA::Any::from_octet(5);
    struct Case {
        const char* what;
        std::function<void()> call;
        std::string expected;
    };
    const Case cases[] = {
        {"unknown path", [&] { m_node->GetValue(Path("/settings/nope"), 0, 0, CORBA::_tc_long); },
         "NotFound: mci: node not found: /settings/nope"},
        {"index beyond the children", [&] { CORBA::String_var n = m_node->GetNameByIndex(Path("/settings"), 11); },
         "NotFound: ireg: Index out of range."},
        {"read of a folder", [&] { m_node->GetValue(Path("/settings"), 0, 0, CORBA::_tc_long); },
         "InvalidType: Node doesn't contain any value."},
        {"write to a folder", [&] { m_node->SetValue(Path("/settings"), count500, 0); },
         "InvalidType: Node doesn't contain any value."},
        {"a value that is no sequence", [&] { m_node->SetValue(Path("/settings/count"), bareLong, 0); },
         "ValueException: Cannot convert corba to local type."},
        {"a short", [&] { m_node->SetValue(Path("/settings/count"), aShort, 0); }, "InvalidType: Unsupported type: 2"},
        {"an octet", [&] { m_node->SetValue(Path("/settings/gain"), anOctet, 0); }, "InvalidType: Unsupported type: 6"},
        {"the validator", [&] { m_node->SetValue(Path("/settings/count"), count500, 0); },
         "ValueException: ireg: count: Validation failed: [0, 100] for 500"},
        {"a constant", [&] { m_node->SetValue(Path("/info/name"), Strings({"x"}), 0); },
         "ValueException: Node is not writable."},
        {"a read-only node", [&] { m_node->SetValue(Path("/applied"), Buffer<i_NET::UInt32Buffer, CORBA::ULong>({3}), 0); },
         "ValueException: Node is not writable."},
        {"an unknown enumeration name", [&] { m_node->SetValue(Path("/settings/mode"), Strings({"sometimes"}), 0); },
         "ValueException: Invalid integer value"},
        {"an unknown enumeration number",
         [&] { m_node->SetValue(Path("/settings/mode"), Buffer<i_NET::Int32Buffer, CORBA::Long>({7}), 0); },
         "ValueException: ireg: mode: invalid value"},
        {"a field too small", [&] {
             m_node->SetValue(Path("/registers/divider"), Buffer<i_NET::UInt32Buffer, CORBA::ULong>({256}), 0);
         },
         "ValueException: ireg: divider: Too large value.256 for node divider"},
        {"past the end", [&] {
             m_node->SetValue(Path("/tables/counts"), Buffer<i_NET::Int32Buffer, CORBA::Long>({1, 2}), 3);
         },
         "ValueException: ireg: counts: Size too large"},
        {"read past the end", [&] { m_node->GetValue(Path("/tables/counts"), 4, 1, CORBA::_tc_long); },
         "ValueException: ireg node counts: Position out of range"},
        {"read of a write-only command", [&] { m_node->GetValue(Path("/apply"), 0, 1, CORBA::_tc_string); },
         "ValueException: ireg node apply: TreeNode is not readable."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Refusal(c.call), c.expected) << c.what;
    }
    EXPECT_EQ(Get("/settings/count", CORBA::_tc_long), "long 10");
    EXPECT_EQ(Get("/settings/mode", CORBA::_tc_string), "string internal");
    EXPECT_EQ(Get("/tables/counts", CORBA::_tc_long), "Int32Buffer [1, 2, 3, 4]");
}

TEST_F(RegistryTest, ShowsValidatorsAndDomainValues)
{
    CORBA::String_var text;
    EXPECT_TRUE(m_node->GetValidatorExpression(Path("/settings/count"), text.out()));
    EXPECT_STREQ(text.in(), "[0, 100]");
    EXPECT_TRUE(m_node->GetValidatorExpression(Path("/settings/gain"), text.out()));
    EXPECT_STREQ(text.in(), "");

    i_NET::StringVec_var domain;
    EXPECT_TRUE(m_node->GetDomainValues(Path("/settings/mode"), domain.out()));
    EXPECT_EQ(Names(domain.in()), (std::vector<std::string>{"off", "internal", "external", "software"}));
    EXPECT_FALSE(m_node->GetDomainValues(Path("/settings/count"), domain.out()));
    EXPECT_EQ(domain->length(), 0u);
    EXPECT_EQ(Refusal([&] { m_node->GetDomainValues(Path("/nope"), domain.out()); }),
              "NotFound: mci: node not found: /nope");
}

} // namespace
} // namespace e2e
