#include "icfg/element.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/icfg_test.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using icfg::Attribute;
using icfg::Element;
using icfg::ElementPtr;
using icfg_test::Dump;
using testsupport::ErrorOf;

// The typed read of an attribute text: "= value", or "false" when refused with the target
// unchanged.
template <class T>
std::string Convert(const std::string& text)
{
    T out{};
    if constexpr (std::is_same_v<T, std::string>) {
        out = "unchanged";
    } else if constexpr (!std::is_same_v<T, bool>) {
        out = T(77);
    }
    const T before = out;
    if (!Attribute("a", text).GetValue(out)) {
        return out == before ? "false" : "false, but the target changed";
    }
    std::ostringstream shown;
    shown.precision(17);
    shown << "= " << std::boolalpha << out;
    return shown.str();
}

struct ConversionCase {
    const char* text;
    const char* type;
    std::function<std::string(const std::string&)> convert;
    std::string expected;
};

#define ROW(text, T, expected) ConversionCase{text, #T, Convert<T>, expected}

TEST(ElementConversion, TextTimesTypeGivesValueOrFalse)
{
    const std::vector<ConversionCase> table = {
        // Empty text: false for every type, the string included.
        ROW("", bool, "false"),
        ROW("", int, "false"),
        ROW("", uint64_t, "false"),
        ROW("", double, "false"),
        ROW("", std::string, "false"),
        // "0x" forms: hexadecimal for every integer width; "0x" alone and "0X" are decimal texts.
        ROW("0x1F", unsigned int, "= 31"),
        ROW("0x1F", int, "= 31"),
        ROW("0x1F", int64_t, "= 31"),
        ROW("0x1f", uint64_t, "= 31"),
        ROW("0x", int, "false"),
        ROW("0X1F", int, "false"),
        ROW("0X1F", unsigned int, "false"),
        ROW("0x1G", int, "= 1"), // trailing characters of a hexadecimal text are ignored
        ROW("0x1F", double, "false"),
        ROW("0x1F", std::string, "= 0x1F"),
        // Signed hexadecimal keeps the bits of the unsigned twin; too many digits are refused.
        ROW("0xFFFFFFFF", int, "= -1"),
        ROW("0x80000000", int, "= -2147483648"),
        ROW("0xFFFFFFFF", unsigned int, "= 4294967295"),
        ROW("0x100000000", int, "false"),
        ROW("0x100000000", unsigned int, "false"),
        ROW("0x100000000", int64_t, "= 4294967296"),
        ROW("0xFFFFFFFFFFFFFFFF", int64_t, "= -1"),
        ROW("0xFFFFFFFFFFFFFFFF", long long, "= -1"),
        ROW("0xFFFFFFFFFFFFFFFF", uint64_t, "= 18446744073709551615"),
        ROW("0x10000000000000000", uint64_t, "false"),
        // Decimal: whole numbers of the type's range only; '-' is refused for unsigned types.
        ROW("-1", int, "= -1"),
        ROW("-1", unsigned int, "false"),
        ROW("-1", uint64_t, "false"),
        ROW("-0", unsigned int, "false"),
        ROW("2147483647", int, "= 2147483647"),
        ROW("2147483648", int, "false"),
        ROW("2147483648", int64_t, "= 2147483648"),
        ROW("4294967296", unsigned int, "false"),
        ROW("-9223372036854775808", int64_t, "= -9223372036854775808"),
        ROW("18446744073709551615", unsigned long long, "= 18446744073709551615"),
        ROW("+5", int, "= 5"),
        ROW("+5", unsigned int, "= 5"),
        ROW("007", uint64_t, "= 7"),
        ROW("1.5", int, "false"),
        ROW("12abc", int, "false"),
        ROW(" 12", int, "false"), // attribute values are not trimmed
        // Floating point.
        ROW("1.5", double, "= 1.5"),
        ROW("1.5", float, "= 1.5"),
        ROW("0.1", double, "= 0.10000000000000001"),
        ROW("1e+20", double, "= 1e+20"),
        ROW("-2.5e-3", float, "= -0.0024999999441206455"),
        ROW("1e400", double, "false"),
        ROW("abc", double, "false"),
        // The XML Schema texts of the special values read back.
        ROW("INF", double, "= inf"),
        ROW("-INF", float, "= -inf"),
        ROW("NaN", double, "= nan"),
        // Booleans.
        ROW("true", bool, "= true"),
        ROW("false", bool, "= false"),
        ROW("1", bool, "= true"),
        ROW("0", bool, "= false"),
        ROW("TRUE", bool, "= true"),
        ROW("maybe", bool, "false"),
        ROW("2", bool, "false"),
        // Text: exactly as stored.
        ROW("  a b ", std::string, "=   a b "),
    };
    for (const ConversionCase& row : table) {
        EXPECT_EQ(row.convert(row.text), row.expected) << "'" << row.text << "' as " << row.type;
    }
}

TEST(ElementConversion, RefusalsAreTracedAtLevelTwoAndEmptyTextIsNot)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    unsigned int u = 5;
    bool b = false;
    EXPECT_FALSE(Attribute("a", "-1").GetValue(u));
    EXPECT_FALSE(Attribute("a", "maybe").GetValue(b));
    EXPECT_TRUE(capture.Contains("Cannot cast from config value: Bad cast from -1 to unsigned int"))
        << capture.Text();
    EXPECT_TRUE(capture.Contains("Cannot cast from config value: Wrong bool value maybe .Error: "))
        << capture.Text();
    const size_t lines = capture.Lines().size();

    ElementPtr element = Element::Create("node");
    element->AddAttribute(Attribute::Create("empty", ""));
    EXPECT_FALSE(element->GetAttrValue("empty", u));
    EXPECT_FALSE(element->GetAttrValue("missing", u));
    EXPECT_FALSE(element->GetValue(u));
    EXPECT_EQ(capture.Lines().size(), lines);
    EXPECT_EQ(u, 5u);
}

TEST(ElementConversion, ElementValuesAreTrimmedAndAttributeValuesAreNot)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "c.xml", "<configuration><v a=' 7 '>  12 </v><w>x</w></configuration>");
    icfg::Configuration document("1.0", testsupport::TypesXsd());
    document.OpenDocument(dir / "c.xml", false);
    icfg_test::Recorder recorder;
    ASSERT_TRUE(document.Read(recorder));
    const ElementPtr v = recorder.received.at(0).at(0)->FindChild("v");
    ASSERT_TRUE(v);

    std::string text;
    EXPECT_EQ(v->GetValue(), "12");
    EXPECT_TRUE(v->GetUntrimedValue(text));
    EXPECT_EQ(text, "  12 ");
    int number = 0;
    EXPECT_TRUE(v->GetValue(number));
    EXPECT_EQ(number, 12);
    EXPECT_FALSE(v->GetAttrValue("a", number)); // " 7 " is no whole number
    std::string attribute;
    EXPECT_TRUE(v->GetAttrValue("a", attribute));
    EXPECT_EQ(attribute, " 7 ");

    const ElementPtr root = recorder.received[0][0];
    EXPECT_TRUE(root->GetUntrimedValue("w", text));
    EXPECT_EQ(text, "x");
    text = "kept";
    EXPECT_FALSE(root->GetUntrimedValue("nothing", text));
    EXPECT_EQ(text, "kept");
}

// The tree of the search cases: root holding A (holding B, holding Q) and D (holding Q).
struct SearchTree {
    ElementPtr root = Element::Create("root");
    ElementPtr a = Element::Create("A");
    ElementPtr b = Element::Create("B");
    ElementPtr deepQ = Element::Create("Q");
    ElementPtr d = Element::Create("D");
    ElementPtr shallowQ = Element::Create("Q");
    SearchTree()
    {
        root->AddChild(a);
        a->AddChild(b);
        b->AddChild(deepQ);
        root->AddChild(d);
        d->AddChild(shallowQ);
    }
};

TEST(ElementSearch, FindSubtreeTakesDirectChildrenFirstThenBranchesInOrder)
{
    SearchTree tree;
    // The earlier branch wins although the later one holds Q nearer the top.
    EXPECT_EQ(tree.root->FindSubtree("Q"), tree.deepQ);
    EXPECT_EQ(tree.root->FindSubtree("B"), tree.b);
    EXPECT_EQ(tree.d->FindSubtree("Q"), tree.shallowQ);

    // A direct child wins over every descendant, even when added last.
    ElementPtr directQ = Element::Create("Q");
    tree.root->AddChild(directQ);
    EXPECT_EQ(tree.root->FindSubtree("Q"), directQ);

    // Whole names only; a slash is part of a name, not a path.
    EXPECT_FALSE(tree.root->FindSubtree("A/B"));
    EXPECT_FALSE(tree.root->FindSubtree("q"));
    EXPECT_FALSE(tree.root->FindSubtree(""));
    ElementPtr slashed = Element::Create("A/B");
    tree.b->AddChild(slashed);
    EXPECT_EQ(tree.root->FindSubtree("A/B"), slashed);
}

TEST(ElementSearch, FindChildComparesWholeNamesAndKeepsRepeatedNames)
{
    ElementPtr root = Element::Create("root");
    ElementPtr first = Element::Create("value");
    ElementPtr second = Element::Create("value");
    root->AddChild(first);
    root->AddChild(second);
    EXPECT_EQ(root->GetChildren().size(), 2u);
    EXPECT_EQ(root->FindChild("value"), first);
    EXPECT_FALSE(root->FindChild("valu"));
    EXPECT_FALSE(root->FindChild("values"));
    EXPECT_FALSE(first->FindChild("value"));
}

TEST(ElementAttributes, DuplicateNamesAreRefusedAndTheElementKeepsOne)
{
    ElementPtr element = Element::Create("node");
    element->AddAttribute(Attribute::Create("value", "1", icfg::e_qarexInt));
    EXPECT_EQ(ErrorOf([&] { element->AddAttribute(Attribute::Create("value", "2")); }),
              "Duplicate configuration attribute name");
    ASSERT_EQ(element->GetAttributes().size(), 1u);
    icfg::AttributePtr found;
    ASSERT_TRUE(element->FindAttr("value", found));
    EXPECT_EQ(found->GetValue(), "1");
    EXPECT_EQ(found->GetType(), icfg::e_qarexInt);
    EXPECT_FALSE(element->FindAttr("valu", found));
}

// Many attributes and children (beyond what an element scans): the same answers as with few,
// the first of repeated child names, duplicates refused, and a renamed child found by its new
// name only.
TEST(ElementSearch, ManyAttributesAndChildrenAnswerAsFewDo)
{
    for (const size_t count : {3, 9, 200}) {
        SCOPED_TRACE(count);
        ElementPtr element = Element::Create("node");
        std::vector<ElementPtr> children;
        for (size_t i = 0; i < count; ++i) {
            element->AddAttribute(Attribute::Create("a" + std::to_string(i), std::to_string(i)));
            children.push_back(Element::Create("c" + std::to_string(i % (count / 2 + 1))));
            element->AddChild(children.back());
        }
        EXPECT_EQ(ErrorOf([&] { element->AddAttribute(Attribute::Create("a0", "again")); }),
                  "Duplicate configuration attribute name");
        EXPECT_EQ(ErrorOf([&] { element->AddAttribute(Attribute::Create("a" + std::to_string(count - 1), "x")); }),
                  "Duplicate configuration attribute name");
        ASSERT_EQ(element->GetAttributes().size(), count);
        icfg::AttributePtr found;
        for (size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(element->FindAttr("a" + std::to_string(i), found));
            EXPECT_EQ(found->GetValue(), std::to_string(i));
            EXPECT_EQ(element->FindChild("c" + std::to_string(i % (count / 2 + 1))), children[i % (count / 2 + 1)]);
        }
        EXPECT_FALSE(element->FindAttr("a" + std::to_string(count), found));
        EXPECT_FALSE(element->FindChild("c" + std::to_string(count)));

        children[0]->SetName("renamed");
        EXPECT_EQ(element->FindChild("renamed"), children[0]);
        const ElementPtr second = count / 2 + 1 < count ? children[count / 2 + 1] : ElementPtr();
        EXPECT_EQ(element->FindChild("c0"), second) << "the next child of the old name, if any";
    }
}

TEST(ElementAttributes, ValidValuesOnlyOnStrings)
{
    icfg::Attribute flag("flag", "true", icfg::e_xsBoolean);
    EXPECT_EQ(ErrorOf([&] { flag.SetValidValues({"true"}); }),
              "Valid values are supported only for string types.");
    EXPECT_TRUE(flag.GetValidValues().empty());

    icfg::Attribute colour("colour", "red", icfg::e_xsString);
    colour.SetValidValues({"red", "green", "blue"});
    EXPECT_EQ(colour.GetValidValues(), (std::vector<std::string>{"red", "green", "blue"}));
    colour.SetValidValues({"cyan"});
    EXPECT_EQ(colour.GetValidValues(), std::vector<std::string>{"cyan"});
}

TEST(ElementTree, ParentLinkGoesEmptyWithTheParent)
{
    ElementPtr child = Element::Create("child");
    {
        ElementPtr parent = Element::Create("parent");
        parent->AddChild(child);
        EXPECT_EQ(child->GetParent(), parent);
        // The last AddChild wins the link.
        ElementPtr other = Element::Create("other");
        other->AddChild(child);
        EXPECT_EQ(child->GetParent(), other);
        EXPECT_EQ(parent->GetChildren().size(), 1u);
    }
    EXPECT_FALSE(child->GetParent());
    EXPECT_EQ(Dump(child), "child");
}

TEST(ElementTree, AnElementWithoutSharedOwnerTakesNoChild)
{
    Element plain("plain");
    EXPECT_THROW(plain.AddChild(Element::Create("child")), std::bad_weak_ptr);
    EXPECT_TRUE(plain.GetChildren().empty());
}

TEST(ElementTree, DefaultsAndSetters)
{
    ElementPtr element = Element::Create("a", icfg::e_xsInt);
    EXPECT_EQ(element->GetType(), icfg::e_xsInt);
    EXPECT_EQ(element->GetOrder(), Element::e_all);
    EXPECT_EQ(element->GetValue(), "");
    element->SetOrder(Element::e_sequence);
    element->SetName("b");
    EXPECT_EQ(element->GetOrder(), Element::e_sequence);
    EXPECT_EQ(element->GetName(), "b");
    EXPECT_EQ(Element().GetType(), icfg::e_none);
}

TEST(ElementTables, NamesOfDataTypesAndOrders)
{
    EXPECT_EQ(istd::EnumToString(icfg::e_xsBoolean), "xs:boolean");
    EXPECT_EQ(istd::EnumToString(icfg::e_xsUnsignedInt), "xs:unsignedInt");
    EXPECT_EQ(istd::EnumToString(icfg::e_qarexInt), "qarex:int");
    EXPECT_EQ(istd::EnumToString(icfg::e_qarexUnsignedLong), "qarex:unsignedLong");
    EXPECT_EQ(ErrorOf([] { istd::EnumToString(icfg::e_none); }), "invalid value");
    EXPECT_EQ(ErrorOf([] { istd::EnumToString(icfg::DataType_e(14)); }), "invalid value");
    EXPECT_EQ(istd::EnumMap<icfg::DataType_e>::items.Size(), 12u);
    EXPECT_EQ(istd::EnumToString(Element::e_choice), "choice");
    EXPECT_EQ(istd::EnumCast<Element::Order_e>("sequence"), Element::e_sequence);
}

} // namespace
