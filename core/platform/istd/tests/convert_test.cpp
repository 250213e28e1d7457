#include "istd/convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

// One row: a conversion of a text and the text it must produce, either the value written
// back with ToString or the exact failure text.
struct ConversionCase {
    const char* what;
    std::function<std::string()> convert;
    std::string expected;
};

template <class T>
std::function<std::string()> From(const std::string& text)
{
    return [text] {
        try {
            return "= " + istd::ToString(istd::FromString<T>(text));
        } catch (const istd::Exception& e) {
            return std::string(e.what());
        }
    };
}

template <class T>
std::function<std::string()> Hex(const std::string& text)
{
    return [text] {
        try {
            return "= " + istd::ToString(istd::HexTo<T>(text));
        } catch (const istd::Exception& e) {
            return std::string(e.what());
        }
    };
}

TEST(Convert, TextToValueTable)
{
    const std::vector<ConversionCase> cases = {
        // decimal integers: the whole text must be a number of the type's range
        {"int", From<int>("-42"), "= -42"},
        {"int plus", From<int>("+7"), "= 7"},
        {"int max", From<int>("2147483647"), "= 2147483647"},
        {"int overflow", From<int>("2147483648"), "Bad cast from 2147483648 to int"},
        {"int trailing", From<int>("12abc"), "Bad cast from 12abc to int"},
        {"int blank", From<int>(" 12"), "Bad cast from  12 to int"},
        {"int empty", From<int>(""), "Bad cast from  to int"},
        {"int64", From<int64_t>("-9223372036854775808"), "= -9223372036854775808"},
        {"uint", From<unsigned>("4294967295"), "= 4294967295"},
        {"uint overflow", From<unsigned>("4294967296"), "Bad cast from 4294967296 to unsigned int"},
        {"uint negative", From<unsigned>("-1"), "Bad cast from -1 to unsigned int"},
        {"uint64 negative", From<uint64_t>("-0"), "Bad cast from -0 to unsigned long"},
        {"uint64 max", From<uint64_t>("18446744073709551615"), "= 18446744073709551615"},
        {"uint8 as number", From<uint8_t>("200"), "= 200"},
        {"uint8 overflow", From<uint8_t>("256"), "Bad cast from 256 to unsigned char"},
        {"int8 negative", From<int8_t>("-128"), "= -128"},
        // "0x" with more than two characters goes through HexTo; signed types keep the bits
        {"hex uint", From<unsigned>("0x1F"), "= 31"},
        {"hex int all ones", From<int>("0xffffffff"), "= -1"},
        {"hex int64", From<int64_t>("0x8000000000000000"), "= -9223372036854775808"},
        {"hex too wide", From<unsigned>("0x100000000"), "Bad hex cast from 0x100000000 to unsigned int"},
        {"hex no digits", From<unsigned>("0xg"), "Bad hex cast from 0xg to unsigned int"},
        {"hex trailing ignored", From<unsigned>("0x12zz"), "= 18"},
        {"bare 0x is decimal", From<unsigned>("0x"), "Bad cast from 0x to unsigned int"},
        // floating point, text and bool
        {"double", From<double>("1.5e3"), "= 1500"},
        {"double bad", From<double>("1.5.3"), "Bad cast from 1.5.3 to double"},
        {"float", From<float>("-0.25"), "= -0.25"},
        {"string", From<std::string>(" as is "), "=  as is "},
        {"bool", From<bool>("Yes"), "= 1"},
        {"bool bad", From<bool>("maybe"), "Invalid boolean text: maybe"},
        // HexTo directly: optional 0x, leading blanks skipped, trailing characters ignored
        {"HexTo plain", Hex<unsigned>("ff"), "= 255"},
        {"HexTo upper prefix", Hex<unsigned>("0X10"), "= 16"},
        {"HexTo blank", Hex<unsigned>("  a"), "= 10"},
        {"HexTo int bits", Hex<int>("80000000"), "= -2147483648"},
        {"HexTo uint16 range", Hex<uint16_t>("10000"), "Bad hex cast from 10000 to unsigned short"},
        {"HexTo uint8", Hex<uint8_t>("ff"), "= 255"},
        {"HexTo negative", Hex<unsigned>("-1"), "Bad hex cast from -1 to unsigned int"},
        {"HexTo empty", Hex<uint64_t>(""), "Bad hex cast from  to unsigned long"},
        {"HexTo 65 bits", Hex<uint64_t>("10000000000000000"),
         "Bad hex cast from 10000000000000000 to unsigned long"},
    };
    for (const ConversionCase& c : cases) {
        EXPECT_EQ(c.convert(), c.expected) << c.what;
    }
}

TEST(Convert, ToBoolAcceptsCommonWordsInAnyCase)
{
    for (const char* t : {"true", "TRUE", "1", "yes", "On"}) {
        EXPECT_TRUE(istd::ToBool(t)) << t;
    }
    for (const char* t : {"false", "False", "0", "NO", "off"}) {
        EXPECT_FALSE(istd::ToBool(t)) << t;
    }
    for (const char* t : {"", " true", "2", "truee", "y"}) {
        EXPECT_THROW(istd::ToBool(t), istd::Exception) << t;
    }
}

TEST(Convert, TrimStringStripsWhiteSpaceAtBothEnds)
{
    EXPECT_EQ(istd::TrimString(" \t\r\n\f\vab c\v\f\n\r\t "), "ab c");
    EXPECT_EQ(istd::TrimString("abc"), "abc");
    EXPECT_EQ(istd::TrimString(" \t\n"), "");
    EXPECT_EQ(istd::TrimString(""), "");
}

TEST(Convert, TokenizeStringDropsEmptyPieces)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(istd::TokenizeString("a b  c", " "), (V{"a", "b", "c"}));
    EXPECT_EQ(istd::TokenizeString("  lead;trail; ", " ;"), (V{"lead", "trail"}));
    EXPECT_EQ(istd::TokenizeString("chassis;eth/1", ";"), (V{"chassis", "eth/1"}));
    EXPECT_EQ(istd::TokenizeString("", " "), V{});
    EXPECT_EQ(istd::TokenizeString("   ", " "), V{});
    EXPECT_EQ(istd::TokenizeString("no separators", ""), V{"no separators"});
    EXPECT_EQ(istd::TokenizeString(nullptr, " "), V{});
    EXPECT_EQ(istd::TokenizeString(std::string("x,y"), std::string(",")), (V{"x", "y"}));
    // Bytes above 0x7F separate and are kept like any other.
    EXPECT_EQ(istd::TokenizeString("a\xff\xff" "b\xfe", "\xff"), (V{"a", "b\xfe"}));
}

TEST(Convert, HexDumpLinesAndOffsets)
{
    const unsigned char bytes[] = {0x00, 0x01, 0xab, 0xff, 0x10, 0x7f, 0x80, 0x20, 0x99};
    EXPECT_EQ(istd::HexDump(bytes, 9, 4, false), "00 01 ab ff\n10 7f 80 20\n99");
    EXPECT_EQ(istd::HexDump(bytes, 9, 4, true), "0000: 00 01 ab ff\n0004: 10 7f 80 20\n0008: 99");
    EXPECT_EQ(istd::HexDump(bytes, 4, 4, false), "00 01 ab ff");
    EXPECT_EQ(istd::HexDump(bytes, 0, 16, true), "");
    EXPECT_EQ(istd::HexDump(nullptr, 5, 16, true), "");
    // 0 bytes a line would never end a line; it means 16.
    std::vector<unsigned char> block(17, 0xee);
    EXPECT_EQ(istd::HexDump(block.data(), block.size(), 0, false).find('\n'), 16 * 3 - 1);
}

TEST(Convert, CppNameIsReadable)
{
    EXPECT_EQ(istd::CppName(typeid(int)), "int");
    EXPECT_EQ(istd::CppName<unsigned long long>(), "unsigned long long");
    EXPECT_EQ(istd::CppName<std::string>(), "std::string");
    EXPECT_EQ(istd::CppName<std::vector<std::string>>(), "std::vector<std::string, std::allocator<std::string> >");
}

TEST(Convert, NumericToTextual)
{
    static const istd::Literal_t table[] = {{0xC1, "IPMI_CC_INV_CMD"}, {0, "zero"}, {-5, "minus five"}, {0, nullptr}};
    EXPECT_EQ(istd::NumericToTextual(table, 0xC1), "IPMI_CC_INV_CMD");
    EXPECT_EQ(istd::NumericToTextual(table, 0), "zero");
    EXPECT_EQ(istd::NumericToTextual(table, -5), "minus five");
    // No row: a fallback text, never one built from the closing null pointer.
    EXPECT_EQ(istd::NumericToTextual(table, 0x89), "UNKNOWN");
    static const istd::Literal_t empty[] = {{0, nullptr}};
    EXPECT_EQ(istd::NumericToTextual(empty, 0), "UNKNOWN");
    EXPECT_EQ(istd::NumericToTextual(nullptr, 1), "UNKNOWN");
}

enum Unregistered_e : int { eSome = 12 };
enum class Small_e : int8_t { eMinus = -3 };

TEST(Convert, ToStringWritesEnumerationsAndBytesAsNumbers)
{
    EXPECT_EQ("Unsupported type: " + istd::ToString(eSome), "Unsupported type: 12");
    EXPECT_EQ(istd::ToString(Small_e::eMinus), "-3");
    EXPECT_EQ(istd::ToString(uint8_t{200}), "200");
    EXPECT_EQ(istd::ToString(std::string("text")), "text");
    EXPECT_EQ(istd::ToString(2.5), "2.5");
}

} // namespace
