#include "istd/enum_map.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "istd/trace.h"

#include "tests/support/error_of.h"

namespace shade {
enum Shade_e : int { eDark = -2, eNone = 0, eLight = 3, eWhite = 7 };
// Unsigned underlying type with the top bit set: still ordered as a signed 32-bit value.
enum Mask_e : unsigned int { eLow = 1, eHigh = 0x80000000u, eAll = 0xFFFFFFFFu };
} // namespace shade

ISTD_ENUM_TABLE_DECL(shade::Shade_e)
ISTD_ENUM_TABLE_DECL(shade::Mask_e)

// A repeated row keeps its first occurrence and the table still builds.
ISTD_ENUM_TABLE(shade::Shade_e,
                {shade::eLight, "light"},
                {shade::eDark, "dark"},
                {shade::eNone, "none"},
                {shade::eWhite, "white"},
                {shade::eLight, "light"});
ISTD_ENUM_TABLE(shade::Mask_e, {shade::eLow, "low"}, {shade::eHigh, "high"}, {shade::eAll, "all"});

namespace shade {
ISTD_ENUM_OUTPUT_OPERATOR(Shade_e)
ISTD_ENUM_INPUT_OPERATOR(Shade_e)
} // namespace shade

namespace {

using shade::Shade_e;

using testsupport::ErrorOf;

TEST(EnumMap, TableBuildingRejectsUnevenTables)
{
    using Row = istd::BiMap<Shade_e>::Row;
    // Two values, one name.
    EXPECT_EQ(ErrorOf([] { istd::BiMap<Shade_e>({Row{shade::eDark, "x"}, Row{shade::eLight, "x"}}); }),
              "invalid enum description table");
    // One value (the second row is ignored for it), two names.
    EXPECT_EQ(ErrorOf([] { istd::BiMap<Shade_e>({Row{shade::eDark, "x"}, Row{shade::eDark, "y"}}); }),
              "invalid enum description table");
    EXPECT_EQ(ErrorOf([] { istd::BiMap<Shade_e>({Row{shade::eDark, "x"}, Row{shade::eDark, "x"}}); }),
              "no error");
}

TEST(EnumMap, LookUpsAndSignedOrder)
{
    const auto& table = istd::EnumMap<Shade_e>::items;
    EXPECT_EQ(table.Size(), 4u);
    EXPECT_STREQ(table.FindName(shade::eWhite), "white");
    EXPECT_EQ(table.FindName(static_cast<Shade_e>(5)), nullptr);

    Shade_e v = shade::eNone;
    EXPECT_FALSE(table.FindValue("Light", v)); // case-sensitive
    EXPECT_FALSE(table.FindValue("ligh", v));
    EXPECT_EQ(v, shade::eNone);
    EXPECT_TRUE(table.FindValue("light", v));
    EXPECT_EQ(v, shade::eLight);

    std::vector<std::string> names;
    for (const auto& row : table) {
        names.push_back(row.second);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"dark", "none", "light", "white"}));

    std::vector<std::string> masks;
    for (const auto& row : istd::EnumMap<shade::Mask_e>::items) {
        masks.push_back(row.second);
    }
    EXPECT_EQ(masks, (std::vector<std::string>{"high", "all", "low"}));
}

TEST(EnumMap, PrintWritesTheNameOrFailsWithoutWriting)
{
    std::ostringstream os;
    os << shade::eDark << '|' << shade::eWhite;
    EXPECT_EQ(os.str(), "dark|white");

    std::ostringstream bad;
    EXPECT_EQ(ErrorOf([&] { bad << static_cast<Shade_e>(1); }), "invalid value");
    EXPECT_EQ(bad.str(), "");
    EXPECT_EQ(istd::EnumToString(shade::eLight), "light");
}

TEST(EnumMap, ParseTable)
{
    struct Case {
        const char* input;
        std::string expected; // the value's name, or the failure text
    };
    const std::vector<Case> cases = {
        {"light", "light"},
        {"  white  trailing", "white"},        // one token, leading blanks skipped
        {"-2", "dark"},                         // a number names its value
        {"+3", "light"},
        {"4294967303", "Invalid enum value"},   // 2^32 + 7: never cut to 32 bits
        {"Light", "Invalid integer value"},     // names are case-sensitive
        {"3x", "Invalid integer value"},
        {"", "Invalid integer value"},          // nothing left in the stream
        {"99999999999999999999", "Invalid integer value"}, // beyond 64 bits
        {"+-3", "Invalid integer value"},
        {"5", "Invalid enum value"},
        {"-1", "Invalid enum value"},
    };
    for (const Case& c : cases) {
        std::istringstream is(c.input);
        Shade_e v = shade::eNone;
        const std::string error = ErrorOf([&] { is >> v; });
        if (error == "no error") {
            EXPECT_EQ(istd::EnumToString(v), c.expected) << c.input;
        } else {
            EXPECT_EQ(error, c.expected) << c.input;
            EXPECT_EQ(v, shade::eNone) << "target changed on failure: " << c.input;
        }
    }
}

TEST(EnumMap, EnumCastUsesTheWholeText)
{
    EXPECT_EQ(istd::EnumCast<Shade_e>("dark"), shade::eDark);
    EXPECT_EQ(istd::EnumCast<Shade_e>("7"), shade::eWhite);
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<Shade_e>("dark "); }), "Invalid integer value");
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<Shade_e>(" 7"); }), "Invalid integer value");
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<Shade_e>("8"); }), "Invalid enum value");
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<Shade_e>(std::string("dark\0x", 6)); }), "Invalid integer value");
}

// Numbers in either 32-bit reading name a value; anything wider is refused, not cut.
TEST(EnumMap, EnumCastTakesNumbersOfThirtyTwoBitsOnly)
{
    using shade::Mask_e;
    struct Case {
        const char* text;
        std::string expected; // the value's name, or the failure text
    };
    const std::vector<Case> cases = {
        {"-2147483648", "high"}, {"2147483648", "high"}, {"4294967295", "all"}, {"-1", "all"},
        {"4294967296", "Invalid enum value"},  // 2^32 would be 0, which has no row either
        {"4294967297", "Invalid enum value"},  // 2^32 + 1: not "low"
        {"-4294967295", "Invalid enum value"}, // its low 32 bits are 1: not "low"
        {"-2147483649", "Invalid enum value"}, // its low 32 bits are 0x7FFFFFFF
        {"9223372036854775807", "Invalid enum value"},
        {"-9223372036854775808", "Invalid enum value"},
    };
    for (const Case& c : cases) {
        Mask_e value = shade::eLow;
        const std::string error = ErrorOf([&] { value = istd::EnumCast<Mask_e>(c.text); });
        EXPECT_EQ(error == "no error" ? istd::EnumToString(value) : error, c.expected) << c.text;
    }
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<istd::TraceLevel_e>("4294967299"); }), "Invalid enum value");
    EXPECT_EQ(ErrorOf([] { istd::EnumCast<istd::TraceLevel_e>("-4294967295"); }), "Invalid enum value");
}

TEST(EnumMap, TraceLevelTable)
{
    EXPECT_EQ(istd::EnumCast<istd::TraceLevel_e>("3"), istd::eTraceInfo);
    EXPECT_EQ(istd::EnumCast<istd::TraceLevel_e>("detail"), istd::eTraceDetail);
    EXPECT_EQ(istd::EnumMap<istd::TraceLevel_e>::items.Size(), 6u);
    std::ostringstream os;
    os << istd::eTraceWarning;
    EXPECT_EQ(os.str(), "warning");
    static_assert(sizeof(istd::TraceLevel_e) == 4);
    static_assert(std::is_unsigned_v<std::underlying_type_t<istd::TraceLevel_e>>);
}

} // namespace
