// Node values as configuration elements: the element of a node and of its descendants, the
// text of each value type, loading back with its logged refusals, and the nodes and values
// that are left out of a file rather than breaking it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "common/ireg_config_util.h"
#include "common/ireg_test_util.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_value_node.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::Make;
using iregtest::ValueAttr;
using mci::c_noRelPath;

namespace {

constexpr mci::Flags c_persistent = 0xE; // readable, writable, persistent

using LevelNode = ireg::RegValueEnumNode<istd::TraceLevel_e>;

mci::TreeNodePtr Level(const std::string& name, istd::TraceLevel_e level)
{
    return mci::factory::Create<LevelNode>(name, level, c_persistent);
}

template <class T>
std::vector<T> All(const mci::TreeNodePtr& node)
{
    std::vector<T> out;
    node->Get(out, 0, 0, c_noRelPath);
    return out;
}

ireg::RegNode& Reg(const mci::TreeNodePtr& node)
{
    return dynamic_cast<ireg::RegNode&>(*node);
}

// An element as the reader of a file would build it: name, attribute "value" and children.
icfg::ElementPtr Elem(const std::string& name, const char* value = nullptr, icfg::ElementList children = {})
{
    icfg::ElementPtr element = icfg::Element::Create(name);
    if (value != nullptr) {
        element->AddAttribute(icfg::Attribute::Create("value", value));
    }
    for (const icfg::ElementPtr& child : children) {
        element->AddChild(child);
    }
    return element;
}

icfg::ElementPtr ArrayElem(const std::string& name, const std::vector<const char*>& items)
{
    icfg::ElementList list;
    for (const char* item : items) {
        list.push_back(item == nullptr ? Elem("reg.item") : Elem("reg.item", item));
    }
    return Elem(name, nullptr, {Elem("reg.array", nullptr, list)});
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(RegNodeConfig, ScalarValueTextAndDataTypeOfEachType)
{
    struct Row {
        mci::TreeNodePtr node;
        const char* text;
        icfg::DataType_e type;
    };
    const Row rows[] = {
        {Make<ireg::RegValueNode<bool>>("n", true, c_persistent), "true", icfg::e_xsBoolean},
        {Make<ireg::RegValueNode<bool>>("n", false, c_persistent), "false", icfg::e_xsBoolean},
        {Make<ireg::RegValueNode<int32_t>>("n", -5, c_persistent), "-5", icfg::e_qarexInt},
        {Make<ireg::RegValueNode<uint32_t>>("n", 4000000000u, c_persistent), "4000000000", icfg::e_qarexUnsignedInt},
        {Make<ireg::RegValueNode<int64_t>>("n", std::numeric_limits<int64_t>::min(), c_persistent),
         "-9223372036854775808", icfg::e_qarexLong},
        {Make<ireg::RegValueNode<uint64_t>>("n", std::numeric_limits<uint64_t>::max(), c_persistent),
         "18446744073709551615", icfg::e_qarexUnsignedLong},
        {Make<ireg::RegValueNode<double>>("n", 0.1, c_persistent), "0.1", icfg::e_xsDouble},
        {Make<ireg::RegValueNode<double>>("n", 1e20, c_persistent), "1e+20", icfg::e_xsDouble},
        {Make<ireg::RegValueNode<float>>("n", 1234567.0f, c_persistent), "1234567", icfg::e_xsFloat},
        {Make<ireg::RegValueNode<std::string>>("n", std::string("a \"b\" <c>"), c_persistent), "a \"b\" <c>",
         icfg::e_xsString},
        {Make<ireg::RegValueNode<std::string>>("n", std::string(), c_persistent), "", icfg::e_xsString},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        icfg::ElementPtr element = Reg(row.node).Serialize();
        ASSERT_TRUE(element);
        EXPECT_EQ(element->GetName(), "n");
        EXPECT_EQ(element->GetType(), icfg::e_none);
        EXPECT_TRUE(element->GetChildren().empty());
        ASSERT_EQ(element->GetAttributes().size(), 1u);
        const icfg::AttributePtr& value = element->GetAttributes()[0];
        EXPECT_EQ(value->GetName(), "value");
        EXPECT_EQ(value->GetValue(), row.text);
        EXPECT_EQ(value->GetType(), row.type);
        EXPECT_TRUE(value->GetValidValues().empty()); // a plain string has no domain
    }
}

// Files hold the shortest text that reads back to the value; messages keep 15 and 6 digits.
TEST(RegNodeConfig, FloatingPointTextsReadBackExactly)
{
    const std::pair<double, const char*> doubles[] = {
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"},
        {1e20, "1e+20"},
        {100000.0, "100000"},   // as 15 digits wrote it, not "1e+05"
        {1e15, "1e+15"},
        {123456789012345678.0, "1.2345678901234568e+17"},
        {-0.0, "-0"},
        {5e-324, "4.94065645841247e-324"}, // subnormal: 15 digits read back, so they stay
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NaN"},
    };
    for (const auto& row : doubles) {
        EXPECT_EQ(ireg::ConfigText(row.first), row.second);
    }
    const std::pair<float, const char*> floats[] = {
        {1.0f / 3.0f, "0.33333334"}, {1234567.0f, "1234567"}, {0.5f, "0.5"}, {16777216.0f, "16777216"},
        {1e-45f, "1.4013e-45"},           {3.4028235e38f, "3.4028235e+38"},
    };
    for (const auto& row : floats) {
        EXPECT_EQ(ireg::ConfigText(row.first), row.second);
    }
    EXPECT_EQ(ireg::ValueText(1234567.0f), "1.23457e+06");
    EXPECT_EQ(ireg::ValueText(1.0 / 3.0), "0.333333333333333");

    // Random bit patterns: the file text reads back through the configuration library's reader
    // to the same value, and wherever the message text already read back, both are the same.
    std::mt19937_64 random(42);
    auto check = [](auto value) {
        using F = decltype(value);
        if (std::isnan(value)) {
            return;
        }
        const std::string text = ireg::ConfigText(value);
        F back = 0;
        ASSERT_TRUE(icfg::Attribute("value", text).GetValue(back)) << text;
        ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
        const std::string message = ireg::ValueText(value);
        F fromMessage = 0;
        if (icfg::Attribute("value", message).GetValue(fromMessage) && fromMessage == value) {
            ASSERT_EQ(text, message);
        }
    };
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = random();
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        check(d);
        const uint32_t bits32 = static_cast<uint32_t>(bits);
        float f = 0;
        std::memcpy(&f, &bits32, sizeof f);
        check(f);
        check(static_cast<double>(static_cast<int64_t>(bits % 2000001) - 1000000) / 1000.0); // short decimals
        check(static_cast<float>(static_cast<int32_t>(bits % 20001) - 10000) / 100.0f);
    }
}

TEST(RegNodeConfig, ArrayElementHoldsOneItemPerValue)
{
    auto ints = Make<ireg::RegValueNode<int32_t>>("a", std::vector<int32_t>{1, 2, 3}, c_persistent);
    icfg::ElementPtr element = Reg(ints).Serialize();
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->GetAttributes().empty()); // no "value" on the node's own element
    ASSERT_EQ(element->GetChildren().size(), 1u);
    const icfg::ElementPtr array = element->GetChildren()[0];
    EXPECT_EQ(array->GetName(), "reg.array");
    EXPECT_EQ(array->GetOrder(), icfg::Element::e_sequence);
    std::vector<std::string> texts;
    for (const icfg::ElementPtr& item : array->GetChildren()) {
        EXPECT_EQ(item->GetName(), "reg.item");
        EXPECT_EQ(item->GetAttributes().at(0)->GetType(), icfg::e_qarexInt);
        texts.push_back(ValueAttr(item));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"1", "2", "3"}));

    auto bools = Make<ireg::RegValueNode<bool>>("b", std::vector<bool>{true, false, true}, c_persistent);
    const icfg::ElementList items = Reg(bools).Serialize()->FindChild("reg.array")->GetChildren();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(ValueAttr(items[1]), "false");

    auto empty = Make<ireg::RegValueNode<double>>("e", std::vector<double>{}, c_persistent);
    icfg::ElementPtr emptyElement = Reg(empty).Serialize();
    ASSERT_TRUE(emptyElement && emptyElement->FindChild("reg.array"));
    EXPECT_TRUE(emptyElement->FindChild("reg.array")->GetChildren().empty());
}

TEST(RegNodeConfig, EnumerationIsSavedByNameWithItsNamesAsValidValues)
{
    icfg::ElementPtr element = Reg(Level("mode", istd::eTraceWarning)).Serialize();
    ASSERT_TRUE(element);
    const icfg::AttributePtr value = element->GetAttributes().at(0);
    EXPECT_EQ(value->GetValue(), "warning");
    EXPECT_EQ(value->GetType(), icfg::e_xsString);
    EXPECT_EQ(value->GetValidValues(),
              (std::vector<std::string>{"none", "error", "warning", "info", "detail", "scope"}));

    auto array = mci::factory::Create<LevelNode>(
        "modes", std::vector<istd::TraceLevel_e>{istd::eTraceScope, istd::eTraceNone}, c_persistent);
    const icfg::ElementPtr items = Reg(array).Serialize()->FindChild("reg.array");
    ASSERT_EQ(items->GetChildren().size(), 2u);
    for (const icfg::ElementPtr& item : items->GetChildren()) {
        EXPECT_EQ(item->GetAttributes().at(0)->GetValidValues().size(), 6u);
    }
}

TEST(RegNodeConfig, OnlyPersistentNodesAndTheirAncestorsYieldElements)
{
    auto root = Make<ireg::RegNode>("root", mci::Flags(6));
    auto group = root->Add(Make<ireg::RegNode>("group", mci::Flags(6)));
    group->Add(Make<ireg::RegValueNode<int32_t>>("volatile", 1));
    group->Add(Make<ireg::RegValueNode<int32_t>>("kept", 2, c_persistent));
    auto quiet = root->Add(Make<ireg::RegNode>("quiet", mci::Flags(6)));
    quiet->Add(Make<ireg::RegValueNode<int32_t>>("x", 3));
    root->Add(Make<ireg::RegNode>("marker", c_persistent)); // no value: an empty element
    auto valued = root->Add(Make<ireg::RegValueNode<uint32_t>>("valued", 4u, c_persistent));
    valued->Add(Make<ireg::RegValueNode<bool>>("child", true, c_persistent));

    icfg::ElementPtr element = Reg(root).Serialize();
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->GetAttributes().empty());
    const icfg::ElementList& children = element->GetChildren();
    ASSERT_EQ(children.size(), 3u); // "quiet" yields nothing
    EXPECT_EQ(children[0]->GetName(), "group");
    EXPECT_EQ(ValueAttr(children[0]), "<none>");
    ASSERT_EQ(children[0]->GetChildren().size(), 1u);
    EXPECT_EQ(ValueAttr(children[0]->GetChildren()[0]), "2");
    EXPECT_EQ(children[1]->GetName(), "marker");
    EXPECT_TRUE(children[1]->GetAttributes().empty() && children[1]->GetChildren().empty());
    EXPECT_EQ(ValueAttr(children[2]), "4");
    EXPECT_EQ(ValueAttr(children[2]->FindChild("child")), "true");

    EXPECT_FALSE(Reg(quiet).Serialize());
}

// A value that cannot be read is left out, with an error, instead of being written as 0, false
// or "" over the last good setting.
TEST(RegNodeConfig, UnreadableValueIsLeftOutWithAnError)
{
    using Failing = iregtest::FailingReadNode<int32_t>;
    for (Failing::How_e how : {Failing::e_zero, Failing::e_istd, Failing::e_other}) {
        auto parent = Make<ireg::RegNode>("p", mci::Flags(6));
        parent->Add(mci::factory::Create<Failing>("scalar", c_persistent, how));
        parent->Add(mci::factory::Create<Failing>("array", c_persistent | 0x200, how, size_t(3)));
        parent->Add(Make<ireg::RegValueNode<int32_t>>("good", 5, c_persistent));
        istd::TraceCapture capture(istd::eTraceError);
        icfg::ElementPtr element = Reg(parent).Serialize();
        ASSERT_TRUE(element);
        EXPECT_TRUE(element->FindChild("scalar")->GetAttributes().empty());
        EXPECT_TRUE(element->FindChild("array")->GetChildren().empty());
        EXPECT_EQ(ValueAttr(element->FindChild("good")), "5");
        EXPECT_TRUE(capture.Contains("Storing configuration: Cannot read value from node scalar"));
        EXPECT_TRUE(capture.Contains("Storing configuration: Cannot read values from node array"));
    }

    // An enumeration holding a code outside its table reads as no name.
    istd::TraceLevel_e variable = static_cast<istd::TraceLevel_e>(99);
    auto mode = mci::factory::Create<ireg::RegReferenceEnumNode<istd::TraceLevel_e>>("mode", variable, c_persistent);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_TRUE(Reg(mode).Serialize()->GetAttributes().empty());
    EXPECT_TRUE(capture.Contains("Cannot read value from node mode"));
}

TEST(RegNodeConfig, NodeWithAnInvalidNameIsLeftOutWithAnError)
{
    const char* const names[] = {"two words", "1st", "a:b", "-x", "bad\xC3", "tab\t", "<x>"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        auto root = Make<ireg::RegNode>("root", mci::Flags(6));
        root->Add(Make<ireg::RegValueNode<int32_t>>(name, 1, c_persistent));
        auto group = root->Add(Make<ireg::RegNode>(std::string(name) + "g", mci::Flags(6)));
        group->Add(Make<ireg::RegValueNode<int32_t>>("inner", 2, c_persistent));
        root->Add(Make<ireg::RegValueNode<int32_t>>("fine", 3, c_persistent));
        istd::TraceCapture capture(istd::eTraceError);
        icfg::ElementPtr element = Reg(root).Serialize();
        ASSERT_TRUE(element);
        ASSERT_EQ(element->GetChildren().size(), 1u);
        EXPECT_EQ(element->GetChildren()[0]->GetName(), "fine");
        EXPECT_TRUE(capture.Contains(std::string("Node name \"") + name + "\" is no valid XML name"));
        EXPECT_TRUE(capture.Contains(std::string("Node name \"") + name + "g\" is no valid XML name"));
    }
    for (const char* name : {"reg.array", "x-1", "_under", "\xC3\xA9t\xC3\xA9", "a.b"}) {
        EXPECT_TRUE(ireg::IsConfigName(name)) << name;
    }

    // A child named like the array's own values would repeat that element.
    auto array = Make<ireg::RegValueNode<int32_t>>("a", std::vector<int32_t>{1}, c_persistent);
    array->Add(Make<ireg::RegValueNode<int32_t>>("reg.array", 9, c_persistent));
    istd::TraceCapture capture(istd::eTraceError);
    icfg::ElementPtr element = Reg(array).Serialize();
    EXPECT_EQ(element->GetChildren().size(), 1u);
    EXPECT_TRUE(capture.Contains("Node a/reg.array has the name of its parent's values"));
}

// Text a file cannot hold never gets into a persistent string node, and one that got in behind
// the registry's back is left out of the file.
TEST(RegNodeConfig, TextXmlCannotHoldIsRefusedOnSetAndLoadAndLeftOutOnSave)
{
    const std::string bad[] = {std::string("a\x01", 2), std::string("nul\0", 4), "\x7F\xC3", "\xC1\x81",
                               "\xED\xA0\x80", "\xEF\xBF\xBE", "\xF4\x90\x80\x80", "\xE2\x82"};
    const std::string good[] = {"tab\tline\ncr\r", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "<&>\"'", ""};
    for (const std::string& text : bad) {
        EXPECT_FALSE(ireg::IsConfigText(text));
        auto node = Make<ireg::RegValueNode<std::string>>("s", std::string("old"), c_persistent);
        EXPECT_EQ(ErrorOf([&] { node->Set(text, 0, c_noRelPath); }),
                  "ireg: s: Invalid text: control characters and invalid UTF-8 cannot be kept in a configuration file");
        EXPECT_FALSE(Reg(node).SetValue(text));
        // Loading from elements built in memory meets the same refusal.
        istd::TraceCapture capture(istd::eTraceError);
        icfg::ElementPtr element = Elem("s");
        element->AddAttribute(icfg::Attribute::Create("value", text));
        Reg(node).Deserialize(element);
        EXPECT_EQ(All<std::string>(node), std::vector<std::string>{"old"});
        EXPECT_TRUE(capture.Contains("Cannot set value to node: s value: "));
        // A node that is not persistent never writes its text to a file, and keeps it.
        auto plain = Make<ireg::RegValueNode<std::string>>("p", std::string("old"));
        plain->Set(text, 0, c_noRelPath);
    }
    for (const std::string& text : good) {
        EXPECT_TRUE(ireg::IsConfigText(text));
        auto node = Make<ireg::RegValueNode<std::string>>("s", std::string("old"), c_persistent);
        node->Set(text, 0, c_noRelPath);
        EXPECT_EQ(ValueAttr(Reg(node).Serialize()), text);
    }

    std::vector<std::string> owned{"fine", "bad\x02"};
    auto array = Make<ireg::RegValueNode<std::string>>("list", owned, mci::Flags(6));
    auto scalar = Make<ireg::RegValueNode<std::string>>("one", std::string("x\x03"), mci::Flags(6));
    array->SetFlags(c_persistent);
    scalar->SetFlags(c_persistent);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_TRUE(Reg(array).Serialize()->GetChildren().empty());
    EXPECT_TRUE(Reg(scalar).Serialize()->GetAttributes().empty());
    EXPECT_TRUE(capture.Contains("The value of node list holds characters XML cannot carry"));
    EXPECT_TRUE(capture.Contains("The value of node one holds characters XML cannot carry"));
}

// ---------------------------------------------------------------------------------------------
// Loading

TEST(RegNodeConfig, EachTypeLoadsItsText)
{
    auto root = Make<ireg::RegNode>("root", mci::Flags(6));
    auto b = root->Add(Make<ireg::RegValueNode<bool>>("b", false, c_persistent));
    auto i = root->Add(Make<ireg::RegValueNode<int32_t>>("i", 0, c_persistent));
    auto u = root->Add(Make<ireg::RegValueNode<uint32_t>>("u", 0u, c_persistent));
    auto l = root->Add(Make<ireg::RegValueNode<int64_t>>("l", int64_t(0), c_persistent));
    auto ul = root->Add(Make<ireg::RegValueNode<uint64_t>>("ul", uint64_t(0), c_persistent));
    auto d = root->Add(Make<ireg::RegValueNode<double>>("d", 0.0, c_persistent));
    auto f = root->Add(Make<ireg::RegValueNode<float>>("f", 0.0f, c_persistent));
    auto s = root->Add(Make<ireg::RegValueNode<std::string>>("s", std::string("x"), c_persistent));
    auto e = root->Add(Level("e", istd::eTraceNone));
    auto ia = root->Add(Make<ireg::RegValueNode<int32_t>>("ia", std::vector<int32_t>{0, 0, 0}, c_persistent));
    auto ba = root->Add(Make<ireg::RegValueNode<bool>>("ba", std::vector<bool>{false, false}, c_persistent));

    istd::TraceCapture capture(istd::eTraceWarning);
    EXPECT_TRUE(Reg(root).Deserialize(
        Elem("root", nullptr,
             {Elem("b", "true"), Elem("i", "-7"), Elem("u", "0x10"), Elem("l", "-9000000000"),
              Elem("ul", "18446744073709551615"), Elem("d", "0.1"), Elem("f", "1234567"), Elem("s", ""),
              Elem("e", "info"), ArrayElem("ia", {"1", "0x2", "-3"}), ArrayElem("ba", {"yes", "0"}),
              Elem("gone", "1"), Elem("reg.x", "1")})));
    EXPECT_TRUE(capture.Lines().empty()) << capture.Text();
    EXPECT_EQ(All<bool>(b), std::vector<bool>{true});
    EXPECT_EQ(All<int32_t>(i), std::vector<int32_t>{-7});
    EXPECT_EQ(All<uint32_t>(u), std::vector<uint32_t>{16});
    EXPECT_EQ(ValueAttr(Reg(u).Serialize()), "16"); // read in hexadecimal, written in decimal
    EXPECT_EQ(All<int64_t>(l), std::vector<int64_t>{-9000000000});
    EXPECT_EQ(All<uint64_t>(ul), std::vector<uint64_t>{std::numeric_limits<uint64_t>::max()});
    EXPECT_EQ(All<double>(d), std::vector<double>{0.1});
    EXPECT_EQ(All<float>(f), std::vector<float>{1234567.0f});
    EXPECT_EQ(All<std::string>(s), std::vector<std::string>{""});
    EXPECT_EQ(All<std::string>(e), std::vector<std::string>{"info"});
    EXPECT_EQ(All<int32_t>(ia), (std::vector<int32_t>{1, 2, -3}));
    EXPECT_EQ(All<bool>(ba), (std::vector<bool>{true, false}));
}

TEST(RegNodeConfig, ReadOnlyAndConstantNodesLoadAndNotify)
{
    auto readOnly = Make<ireg::RegValueNode<int32_t>>("r", 1, mci::Flags(0xA));
    auto constant = Make<ireg::RegValueNode<int32_t>>("c", 1, mci::Flags(0x2E));
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(readOnly));
    Reg(readOnly).Deserialize(Elem("r", "5"));
    Reg(constant).Deserialize(Elem("c", "6"));
    EXPECT_EQ(All<int32_t>(readOnly), std::vector<int32_t>{5});
    EXPECT_EQ(All<int32_t>(constant), std::vector<int32_t>{6});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(std::any_cast<int32_t>(recorder.Received()[0].value), 5);
}

// Every value the load cannot store is logged with its reason, the node keeps its value, nothing
// is sent, and the load goes on with the next element.
TEST(RegNodeConfig, RefusedValuesAreLoggedAndTheLoadGoesOn)
{
    auto validated = Make<ireg::RegValueNode<int32_t>>("v", 1, c_persistent);
    Reg(validated).SetValidator(std::make_shared<iregtest::RejectOne<int32_t>>(5));
    auto validatedArray = Make<ireg::RegValueNode<int32_t>>("va", std::vector<int32_t>{1, 1, 1}, c_persistent);
    Reg(validatedArray).SetValidator(std::make_shared<iregtest::RejectOne<int32_t>>(5));
    auto ints = [] { return Make<ireg::RegValueNode<int32_t>>("a", std::vector<int32_t>{1, 1, 1}, c_persistent); };
    struct Row {
        const char* what;
        mci::TreeNodePtr node;
        icfg::ElementPtr element;
        std::string message;
    };
    const Row rows[] = {
        {"empty integer", Make<ireg::RegValueNode<int32_t>>("n", 1, c_persistent), Elem("n", ""),
         "Invalid config value for node: n"},
        {"no value", Make<ireg::RegValueNode<int32_t>>("n", 1, c_persistent), Elem("n"),
         "Invalid config value for node: n"},
        {"not a number", Make<ireg::RegValueNode<double>>("n", 1.0, c_persistent), Elem("n", "one"),
         "Invalid config value for node: n"},
        {"negative unsigned", Make<ireg::RegValueNode<uint32_t>>("n", 1u, c_persistent), Elem("n", "-1"),
         "Invalid config value for node: n"},
        {"validator", validated, Elem("v", "5"), "Cannot set value to node: v value: 5 reason: Validation failed"},
        {"enumeration name", Level("e", istd::eTraceError), Elem("e", "bogus"),
         "Cannot set value to node: e value: bogus reason: Invalid integer value"},
        {"enumeration number beyond 32 bits", Level("e", istd::eTraceError), Elem("e", "4294967299"),
         "Cannot set value to node: e value: 4294967299 reason: Invalid enum value"}, // not level 3
        {"no reg.array", ints(), Elem("a", "1"), "Invalid config element for node: a"},
        {"item without value", ints(), ArrayElem("a", {"2", nullptr, "2"}), "Invalid config value for node: a"},
        {"too many items", ints(), ArrayElem("a", {"2", "2", "2", "2"}),
         "Cannot set values to node: a reason: Size too large"},
        {"empty bool array", Make<ireg::RegValueNode<bool>>("b", std::vector<bool>{}, c_persistent),
         ArrayElem("b", {}), "Cannot set values to node: b reason: Position out of range"},
        {"validator on the third item", validatedArray, ArrayElem("va", {"2", "3", "5"}),
         "Cannot set values to node: va reason: Validation failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const icfg::ElementPtr before = Reg(row.node).Serialize();
        auto parent = Make<ireg::RegNode>("p", mci::Flags(6));
        parent->Add(row.node);
        auto sibling = parent->Add(Make<ireg::RegValueNode<int32_t>>("sibling", 0, c_persistent));
        iregtest::Recorder recorder;
        ASSERT_TRUE(recorder.Subscribe(row.node));
        ASSERT_TRUE(recorder.Subscribe(sibling));
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_TRUE(Reg(parent).Deserialize(Elem("p", nullptr, {row.element, Elem("sibling", "9")})));
        EXPECT_TRUE(capture.Contains(row.message)) << capture.Text();
        EXPECT_EQ(All<int32_t>(sibling), std::vector<int32_t>{9});
        ASSERT_TRUE(recorder.WaitFor(1));
        EXPECT_EQ(recorder.Received().size(), 1u); // the sibling's value alone
        const icfg::ElementPtr after = Reg(row.node).Serialize();
        EXPECT_EQ(ValueAttr(after), ValueAttr(before));
        if (const icfg::ElementPtr array = after->FindChild("reg.array")) {
            for (const icfg::ElementPtr& item : array->GetChildren()) {
                EXPECT_EQ(ValueAttr(item), "1");
            }
        }
    }
}

// The array is never resized: fewer items store from position 0 and leave the rest.
TEST(RegNodeConfig, ShortArrayStoresItsItemsAndSendsOneNotification)
{
    auto node = Make<ireg::RegValueNode<int32_t>>("a", std::vector<int32_t>{1, 1, 1}, c_persistent);
    iregtest::Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(node));
    Reg(node).Deserialize(ArrayElem("a", {"7", "8"}));
    EXPECT_EQ(All<int32_t>(node), (std::vector<int32_t>{7, 8, 1}));
    Reg(node).Deserialize(ArrayElem("a", {})); // nothing stored, nothing sent
    ASSERT_TRUE(recorder.WaitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto received = recorder.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::any_cast<std::vector<int32_t>>(received[0].value), (std::vector<int32_t>{7, 8}));
    EXPECT_EQ(received[0].position, 0u);
}

// A node kind whose load throws, and one that counts the loads and writes that reach it.
class ThrowingNode : public ireg::RegNode {
public:
    using ireg::RegNode::RegNode;
    bool OnDeserialize(const icfg::ElementPtr&) override { throw istd::Exception("broken element", true); }
};

class CountingNode : public ireg::RegNode {
public:
    CountingNode(const std::string& name, bool answer) : ireg::RegNode(name, mci::Flags(6)), m_answer(answer) {}
    bool OnLoadConfiguration() override { return ++loads, m_answer; }
    bool OnWriteConfiguration() override { return ++writes, m_answer; }
    int loads = 0;
    int writes = 0;

private:
    bool m_answer;
};

TEST(RegNodeConfig, ChildFailuresAreWarnedAndEveryChildStillRuns)
{
    auto parent = Make<ireg::RegNode>("p", mci::Flags(6));
    parent->Add(Make<ThrowingNode>("bad", mci::Flags(6)));
    auto good = parent->Add(Make<ireg::RegValueNode<int32_t>>("good", 0, c_persistent));
    istd::TraceCapture capture(istd::eTraceWarning);
    EXPECT_FALSE(Reg(parent).Deserialize(Elem("p", nullptr, {Elem("bad"), Elem("good", "3")})));
    EXPECT_TRUE(capture.Contains("Loading value for node \"p/bad\". Error: broken element"));
    EXPECT_EQ(All<int32_t>(good), std::vector<int32_t>{3});

    auto root = Make<ireg::RegNode>("root", mci::Flags(6));
    std::vector<std::shared_ptr<CountingNode>> children;
    for (bool answer : {false, true, true}) {
        children.push_back(Make<CountingNode>("c" + std::to_string(children.size()), answer));
        root->Add(children.back());
    }
    EXPECT_FALSE(Reg(root).LoadConfiguration());
    EXPECT_FALSE(Reg(root).WriteConfiguration());
    for (const auto& child : children) {
        EXPECT_EQ(child->loads, 1);
        EXPECT_EQ(child->writes, 1);
    }
    EXPECT_TRUE(Reg(Make<ireg::RegNode>("leaf", mci::Flags(6))).LoadConfiguration());
}

} // namespace
