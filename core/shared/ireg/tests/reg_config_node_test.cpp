// The configuration node on real files: a registry written with its schema (xmllint as the
// outside judge), loaded back exactly, nested configuration nodes with files of their own, and
// the files that must never be overwritten: damaged ones and existing ones that cannot be read.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "common/ireg_config_util.h"
#include "common/ireg_test_util.h"
#include "icfg/tests/common/icfg_test.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using icfg_test::XmllintAccepts;
using testsupport::FilesIn;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using mci::c_noRelPath;

namespace {

constexpr mci::Flags c_persistent = 0xE;
constexpr double c_subnormal = 5e-324;

ireg::RegNode& Reg(const mci::TreeNodePtr& node)
{
    return dynamic_cast<ireg::RegNode&>(*node);
}

ireg::RegConfigNode& Config(const mci::TreeNodePtr& node)
{
    return dynamic_cast<ireg::RegConfigNode&>(*node);
}

mci::TreeNodePtr At(mci::TreeNodePtr node, const mci::Path& path)
{
    for (const std::string& name : path) {
        node = node->GetNode(name);
    }
    return node;
}

template <class T>
std::string TextsOf(const mci::TreeNodePtr& node)
{
    std::vector<T> values;
    node->Get(values, 0, 0, c_noRelPath);
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += ireg::ValueText(static_cast<T>(values[i])) + "|";
    }
    return text;
}

// The values of a node of one of the integer, boolean, string or enumeration types, as text.
std::string Text(const mci::TreeNodePtr& root, const mci::Path& path)
{
    const mci::TreeNodePtr node = At(root, path);
    switch (node->GetValueType()) {
    case mci::enums::eBool:
        return TextsOf<bool>(node);
    case mci::enums::eInt32:
        return TextsOf<int32_t>(node);
    case mci::enums::eUInt32:
        return TextsOf<uint32_t>(node);
    case mci::enums::eInt64:
        return TextsOf<int64_t>(node);
    case mci::enums::eUInt64:
        return TextsOf<uint64_t>(node);
    default:
        return TextsOf<std::string>(node);
    }
}

// The values of one registry: every value type, scalar and array (two of size 0), reference,
// function and bit-field nodes over variables of the registry's owner, a read-only and a
// constant node, a node that is not persistent, a group that is not persistent holding a
// persistent node, and a nested configuration node with its own file.
struct Values {
    bool b;
    int32_t i;
    uint32_t u;
    int64_t l;
    uint64_t ul;
    double d;
    float f;
    std::string s;
    istd::TraceLevel_e e;
    std::vector<bool> bs;
    std::vector<int32_t> is;
    std::vector<uint32_t> us;
    std::vector<int64_t> ls;
    std::vector<uint64_t> uls;
    std::vector<double> ds;
    std::vector<float> fs;
    std::vector<std::string> ss;
    std::vector<istd::TraceLevel_e> es;
    int32_t fixed; // read-only and constant
    double gain;   // in the group
    uint32_t count; // in the nested file
    istd::TraceLevel_e level;
};

const Values c_saved = {
    true, -2147483647 - 1, 4294967295u, -9000000000000000000, 18446744073709551615ull, 0.1, 1234567.0f,
    "tab\tline\ncr\r <&>\"' \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", istd::eTraceDetail,
    {true, false, true}, {1, -2, 3}, {0u, 7u}, {-1, 1}, {0, 18446744073709551615ull},
    {1.0 / 3.0, 1e-300, -2.5e300, c_subnormal, -0.0}, {1.0f / 3.0f, 3.4028235e38f, 1e-45f}, {"", " padded ", "x"},
    {istd::eTraceScope, istd::eTraceNone}, 42, 2.0 / 3.0, 17u, istd::eTraceInfo};

const Values c_builtIn = {
    false, 0, 0u, 0, 0, 0.0, 0.0f, "default", istd::eTraceError,
    {false, false, false}, {0, 0, 0}, {0u, 0u}, {0, 0}, {0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0}, {"a", "b", "c"},
    {istd::eTraceError, istd::eTraceError}, 5, 1.0, 1u, istd::eTraceError};

struct Registry {
    mci::TreeNodePtr root;
    icfg_test::CapturingConfiguration document;
    icfg_test::CapturingConfiguration nestedDocument;
    int64_t referenced;
    uint64_t behindFunctions;
    volatile uint32_t word;

    Registry(const std::string& dir, const Values& v, const std::string& name = "app")
        : referenced(v.l), behindFunctions(v.ul), word(v.count << 4 | 0xF000000F)
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", dir + "/" + name + ".xml", &document);
        auto add = [this](mci::TreeNodePtr node) { return root->Add(node); };
        using namespace ireg;
        using Level = RegValueEnumNode<istd::TraceLevel_e>;
        add(mci::factory::Create<RegValueNode<bool>>("b", v.b, c_persistent));
        add(mci::factory::Create<RegValueNode<int32_t>>("i", v.i, c_persistent));
        add(mci::factory::Create<RegValueNode<uint32_t>>("u", v.u, c_persistent));
        add(mci::factory::Create<RegValueNode<int64_t>>("l", v.l, c_persistent));
        add(mci::factory::Create<RegValueNode<uint64_t>>("ul", v.ul, c_persistent));
        add(mci::factory::Create<RegValueNode<double>>("d", v.d, c_persistent));
        add(mci::factory::Create<RegValueNode<float>>("f", v.f, c_persistent));
        add(mci::factory::Create<RegValueNode<std::string>>("s", v.s, c_persistent));
        add(mci::factory::Create<Level>("e", v.e, c_persistent));
        add(mci::factory::Create<RegValueNode<bool>>("bs", v.bs, c_persistent));
        add(mci::factory::Create<RegValueNode<int32_t>>("is", v.is, c_persistent));
        add(mci::factory::Create<RegValueNode<uint32_t>>("us", v.us, c_persistent));
        add(mci::factory::Create<RegValueNode<int64_t>>("ls", v.ls, c_persistent));
        add(mci::factory::Create<RegValueNode<uint64_t>>("uls", v.uls, c_persistent));
        add(mci::factory::Create<RegValueNode<double>>("ds", v.ds, c_persistent));
        add(mci::factory::Create<RegValueNode<float>>("fs", v.fs, c_persistent));
        add(mci::factory::Create<RegValueNode<std::string>>("ss", v.ss, c_persistent));
        add(mci::factory::Create<Level>("es", v.es, c_persistent));
        add(mci::factory::Create<RegValueNode<double>>("none", std::vector<double>{}, c_persistent));
        add(mci::factory::Create<RegValueNode<bool>>("nobits", std::vector<bool>{}, c_persistent));
        add(mci::factory::Create<RegValueNode<int32_t>>("readonly", v.fixed, mci::Flags(0xA)));
        add(mci::factory::Create<RegValueNode<int32_t>>("constant", v.fixed, mci::Flags(0x2E)));
        add(mci::factory::Create<RegValueNode<int32_t>>("scratch", v.fixed));
        add(mci::factory::Create<RegReferenceNode<int64_t>>("ref", referenced, c_persistent));
        uint64_t* held = &behindFunctions;
        add(mci::factory::Create<RegFncNode<uint64_t>>(
            "fnc", [held](const uint64_t& value) { return *held = value, true; },
            [held](uint64_t& value) { return value = *held, true; }, c_persistent));
        add(mci::factory::Create<RegReferenceBitNode<uint32_t, volatile uint32_t>>("field", word, 4u, 8u,
                                                                                  c_persistent));
        auto group = add(mci::factory::Create<RegNode>("group", mci::Flags(6)));
        group->Add(mci::factory::Create<RegValueNode<double>>("gain", v.gain, c_persistent));
        group->Add(mci::factory::Create<RegValueNode<double>>("temporary", v.gain));
        auto nested = group->Add(
            mci::factory::Create<RegConfigNode>("board", dir + "/" + name + "_board.xml", &nestedDocument));
        nested->Add(mci::factory::Create<RegValueNode<uint32_t>>("count", v.count, c_persistent));
        nested->Add(mci::factory::Create<Level>("level", v.level, c_persistent));
    }
    ~Registry() { root.reset(); } // released without clean-up: writes nothing

    // Every value, floating-point ones by their bits.
    std::string Dump() const
    {
        std::string text;
        for (const char* name : {"b", "i", "u", "l", "ul", "s", "e", "bs", "is", "us", "ls", "uls", "ss", "es",
                                 "none", "nobits", "readonly", "constant", "scratch", "ref", "fnc", "field"}) {
            text += std::string(name) + "=" + Text(root, {name}) + " ";
        }
        text += "count=" + Text(root, {"group", "board", "count"}) + " level=" + Text(root, {"group", "board", "level"});
        return text + " d=" + Bits<double, uint64_t>({"d"}) + " ds=" + Bits<double, uint64_t>({"ds"}) +
               " gain=" + Bits<double, uint64_t>({"group", "gain"}) + " f=" + Bits<float, uint32_t>({"f"}) +
               " fs=" + Bits<float, uint32_t>({"fs"});
    }

    // Floating-point values by their bits: -0 and 0 differ, the subnormal counts.
    template <class F, class W>
    std::string Bits(const mci::Path& path) const
    {
        std::vector<F> values;
        At(root, path)->Get(values, 0, 0, c_noRelPath);
        std::string out;
        for (F value : values) {
            W word = 0;
            std::memcpy(&word, &value, sizeof word);
            out += std::to_string(word) + ",";
        }
        return out;
    }
};

// ---------------------------------------------------------------------------------------------

TEST(RegConfigNode, WrittenFilesValidateAndLoadBackExactly)
{
    TempDir dir;
    Registry saved(dir.Path(), c_saved);
    ASSERT_TRUE(Reg(saved.root).WriteConfiguration());
    for (const char* name : {"app", "app_board"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(XmllintAccepts(dir / (std::string(name) + ".xml"), dir / (std::string(name) + ".xsd")));
    }
    const std::string file = ReadFile(dir / "app.xml");
    EXPECT_EQ(file.find("board"), std::string::npos); // the nested node's subtree is in its own file
    EXPECT_EQ(file.find("scratch"), std::string::npos);
    EXPECT_EQ(file.find("temporary"), std::string::npos);
    EXPECT_NE(file.find("<gain value=\"0.6666666666666666\"/>"), std::string::npos);
    EXPECT_NE(file.find("<f value=\"1234567\"/>"), std::string::npos);
    EXPECT_NE(file.find("<e value=\"detail\"/>"), std::string::npos);

    // A second registry with other built-in values takes every value from the files, the
    // read-only and constant ones included; a value its validator refuses is logged and the
    // rest still loads.
    Registry loaded(dir.Path(), c_builtIn);
    auto validated = At(loaded.root, {"l"});
    Reg(validated).SetValidator(std::make_shared<iregtest::RejectOne<int64_t>>(c_saved.l));
    ASSERT_NE(loaded.Dump(), saved.Dump());
    istd::TraceCapture capture(istd::eTraceWarning);
    EXPECT_TRUE(Reg(loaded.root).LoadConfiguration());
    EXPECT_TRUE(capture.Contains("Cannot set value to node: l value: -9000000000000000000 reason: Validation failed"))
        << capture.Text();
    Reg(validated).SetValidator(nullptr);
    validated->Set(c_saved.l, 0, c_noRelPath);
    Reg(loaded.root->GetNode("scratch")).SetValue(c_saved.fixed); // not persistent: not in the file
    EXPECT_EQ(loaded.Dump(), saved.Dump());
}

TEST(RegConfigNode, MissingFileKeepsBuiltInValuesAndIsCreatedAtCleanUp)
{
    TempDir dir;
    Registry registry(dir.Path(), c_builtIn);
    const std::string before = registry.Dump();
    istd::TraceCapture capture(istd::eTraceWarning);
    EXPECT_FALSE(Reg(registry.root).LoadConfiguration());
    EXPECT_TRUE(capture.Contains("Can't read configuration file " + (dir / "app.xml") +
                                 ", error: No such file or directory. Will use default values."));
    EXPECT_EQ(registry.Dump(), before);
    EXPECT_TRUE(Config(registry.root).MayWrite());
    mci::DestroyNode(registry.root);
    ASSERT_TRUE(XmllintAccepts(dir / "app.xml", dir / "app.xsd"));
    ASSERT_TRUE(XmllintAccepts(dir / "app_board.xml", dir / "app_board.xsd"));
}

// A damaged file, or an existing one that cannot be opened, fails the load with the warning and
// the exception, and stays exactly as it is: the clean-up does not replace it with defaults.
TEST(RegConfigNode, DamagedOrUnopenableFileIsNeverOverwritten)
{
    struct Row {
        const char* what;
        std::function<void(const std::string&)> damage;
    };
    const Row rows[] = {
        {"malformed", [](const std::string& f) { WriteFile(f, "<configuration><b value=\"true\">"); }},
        {"empty", [](const std::string& f) { WriteFile(f, ""); }},
        {"not valid against its schema",
         [](const std::string& f) {
             WriteFile(f, "<?xml version=\"1.0\"?>\n<configuration xmlns:xsi=\"http://www.w3.org/2001/"
                          "XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"app.xsd\" version=\"1.0\">"
                          "<i value=\"twelve\"/></configuration>\n");
         }},
        {"a folder", [](const std::string& f) { std::filesystem::create_directory(f); }},
        {"a symbolic link loop", [](const std::string& f) { std::filesystem::create_symlink(f, f); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        {
            Registry saved(dir.Path(), c_saved);
            ASSERT_TRUE(Reg(saved.root).WriteConfiguration());
        }
        std::filesystem::remove(dir / "app.xml");
        row.damage(dir / "app.xml");
        const std::string damaged = ReadFile(dir / "app.xml");
        const auto kind = std::filesystem::symlink_status(dir / "app.xml").type();
        const std::string schema = ReadFile(dir / "app.xsd");
        Registry registry(dir.Path(), c_builtIn);
        const std::string before = registry.Dump();
        {
            istd::TraceCapture capture(istd::eTraceWarning);
            EXPECT_THROW(Reg(registry.root).LoadConfiguration(), istd::Exception);
            EXPECT_TRUE(capture.Contains("Can't parse configuration file " + (dir / "app.xml") + " - Error: "))
                << capture.Text();
        }
        EXPECT_EQ(registry.Dump(), before); // nothing applied, the nested file not loaded either
        EXPECT_FALSE(Config(registry.root).MayWrite());
        istd::TraceCapture capture(istd::eTraceWarning);
        mci::DestroyNode(registry.root);
        EXPECT_TRUE(capture.Contains("Registry cannot store persistent information to file " + (dir / "app.xml") +
                                     ". Parser reported errors at loading this file."));
        EXPECT_EQ(ReadFile(dir / "app.xml"), damaged);
        EXPECT_EQ(ReadFile(dir / "app.xsd"), schema);
        EXPECT_EQ(std::filesystem::symlink_status(dir / "app.xml").type(), kind);
    }
}

// A file the process may not read, in a folder where it may write: a naive "missing" would put
// the built-in values in its place at shutdown.
TEST(RegConfigNode, ExistingFileWithoutReadPermissionIsNeverOverwritten)
{
    TempDir dir;
    {
        Registry saved(dir.Path(), c_saved);
        ASSERT_TRUE(Reg(saved.root).WriteConfiguration());
    }
    const std::string content = ReadFile(dir / "app.xml");
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod((dir / "app.xml").c_str(), 0), 0);
    const int status = icfg_test::RunInChild(
        [&dir] {
            Registry registry(dir.Path(), c_builtIn);
            istd::TraceCapture capture(istd::eTraceWarning);
            try {
                Reg(registry.root).LoadConfiguration();
                return 1;
            } catch (const istd::Exception&) {
            }
            if (!capture.Contains("Can't read configuration file " + (dir / "app.xml") +
                                  ", error: Permission denied.")) {
                return 2;
            }
            if (Config(registry.root).MayWrite()) {
                return 3;
            }
            mci::DestroyNode(registry.root);
            return 0;
        },
        true);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(chmod((dir / "app.xml").c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(dir / "app.xml"), content);
}

// The nested node's file is loaded after the outer one; its failure is its own: a parse
// failure there leaves the outer file writable, and the outer write still writes the nested
// files of nodes whose load went well.
TEST(RegConfigNode, NestedFilesLoadAndFailOnTheirOwn)
{
    TempDir dir;
    {
        Registry saved(dir.Path(), c_saved);
        ASSERT_TRUE(Reg(saved.root).WriteConfiguration());
    }
    WriteFile(dir / "app_board.xml", "not xml");
    Registry registry(dir.Path(), c_builtIn);
    EXPECT_THROW(Reg(registry.root).LoadConfiguration(), istd::Exception);
    EXPECT_EQ(Text(registry.root, {"e"}), "detail|"); // the outer file was loaded first
    EXPECT_EQ(Text(registry.root, {"group", "board", "count"}), "1|");
    EXPECT_TRUE(Config(registry.root).MayWrite());
    EXPECT_FALSE(Config(At(registry.root, {"group", "board"})).MayWrite());
    EXPECT_FALSE(Reg(registry.root).WriteConfiguration()); // the nested file refused
    EXPECT_EQ(ReadFile(dir / "app_board.xml"), "not xml");

    // A nested file that is missing makes the whole load answer false, after loading the rest.
    std::filesystem::remove(dir / "app_board.xml");
    Registry second(dir.Path(), c_builtIn);
    EXPECT_FALSE(Reg(second.root).LoadConfiguration());
    EXPECT_EQ(Text(second.root, {"e"}), "detail|");
    // The summary adds the nested file's count to the outer one's: the nested values alone kept
    // their defaults.
    const ireg::RegConfigNode::LoadSummary nested = Config(At(second.root, {"group", "board"})).GetLoadSummary();
    const ireg::RegConfigNode::LoadSummary summary = Config(second.root).GetLoadSummary();
    EXPECT_GT(nested.values, 0u);
    EXPECT_EQ(nested.defaulted, nested.values);
    EXPECT_GT(summary.values, nested.values);
    EXPECT_EQ(summary.defaulted, nested.values);
    EXPECT_EQ(summary.refused, 1u); // "nobits": the saved values do not fit the built-in empty array
}

TEST(RegConfigNode, FailedWriteIsWarnedAndNestedFilesAreStillWritten)
{
    TempDir dir;
    icfg_test::CapturingConfiguration document(testsupport::TypesXsd());
    auto root = mci::factory::Create<ireg::RegConfigNode>("root", dir / "missing/app.xml", &document);
    root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("x", 1, c_persistent));
    auto nested = root->Add(mci::factory::Create<ireg::RegConfigNode>("n", dir / "n.xml", &document));
    nested->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("y", 2, c_persistent));
    istd::TraceCapture capture(istd::eTraceWarning);
    // The load finds at once that the file cannot be written, and the write says why again.
    EXPECT_FALSE(Reg(root).LoadConfiguration());
    EXPECT_TRUE(capture.Contains("Can't write configuration file " + (dir / "missing/app.xml") +
                                 ", error: No such file or directory. Settings changed from now on will be lost at stop."))
        << capture.Text();
    EXPECT_FALSE(capture.Contains("Can't write configuration file " + (dir / "n.xml"))) << capture.Text();
    EXPECT_FALSE(Reg(root).WriteConfiguration());
    EXPECT_TRUE(capture.Contains("Registry cannot store persistent information to file " + (dir / "missing/app.xml") +
                                 ". Error - Cannot store configuration file " + (dir / "missing/app.xml") +
                                 ": No such file or directory"))
        << capture.Text();
    EXPECT_TRUE(XmllintAccepts(dir / "n.xml", dir / "n.xsd"));
}

TEST(RegConfigNode, SchemaModeDecidesWhenTheSchemaIsWritten)
{
    TempDir dir;
    icfg_test::CapturingConfiguration document(testsupport::TypesXsd());
    auto root = mci::factory::Create<ireg::RegConfigNode>("root", dir / "app.xml", &document);
    root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("x", 1, c_persistent));
    EXPECT_EQ(&Config(root).CreateXsdFileOnSave(icfg::Configuration::e_xsdNever), &Config(root));
    ASSERT_TRUE(Reg(root).WriteConfiguration());
    EXPECT_FALSE(std::filesystem::exists(dir / "app.xsd"));
    Config(root).CreateXsdFileOnSave(icfg::Configuration::e_xsdIfMissing);
    ASSERT_TRUE(Reg(root).WriteConfiguration());
    WriteFile(dir / "app.xsd", ReadFile(dir / "app.xsd") + "<!-- kept -->\n");
    ASSERT_TRUE(Reg(root).WriteConfiguration());
    EXPECT_NE(ReadFile(dir / "app.xsd").find("kept"), std::string::npos);
}

// Releasing a configuration node writes nothing; an ancestor's file never holds its subtree.
TEST(RegConfigNode, OnlyCleanUpAndAnExplicitWriteWrite)
{
    TempDir dir;
    {
        Registry registry(dir.Path(), c_saved);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "app.xml"));
    icfg::ElementList elements;
    Registry registry(dir.Path(), c_saved);
    auto nested = At(registry.root, {"group", "board"});
    EXPECT_FALSE(Reg(nested).Serialize());
    EXPECT_TRUE(Reg(nested).Deserialize(icfg::Element::Create("board")));
    EXPECT_FALSE(Config(registry.root).Deserialize(elements)); // not the one root element
}

// A FIFO, a folder or a device where the file should be is refused at once, before anything
// opens it (a FIFO would block the start for ever), and nothing is written in its place.
TEST(RegConfigNode, SpecialFilesAreRefusedBeforeTheyAreOpened)
{
    struct Row {
        const char* what;
        std::function<void(const std::string&)> make;
    };
    const Row rows[] = {
        {"a FIFO", [](const std::string& f) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }},
        {"a folder", [](const std::string& f) { std::filesystem::create_directory(f); }},
        {"/dev/zero", [](const std::string& f) { std::filesystem::create_symlink("/dev/zero", f); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        row.make(dir / "app.xml");
        // In a child that an alarm ends, so that a load that blocks fails the test.
        const int status = icfg_test::RunInChild(
            [&dir] {
                alarm(20);
                icfg_test::CapturingConfiguration document(testsupport::TypesXsd());
                auto root = mci::factory::Create<ireg::RegConfigNode>("root", dir / "app.xml", &document);
                root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("x", 1, c_persistent));
                istd::TraceCapture capture(istd::eTraceWarning);
                const std::string expected =
                    "Can't read configuration file " + (dir / "app.xml") + ", error: not a regular file.";
                try {
                    Reg(root).LoadConfiguration();
                    return 1;
                } catch (const istd::Exception& e) {
                    if (e.what() != expected) {
                        return 2;
                    }
                }
                if (!capture.Contains("Can't parse configuration file " + (dir / "app.xml") + " - Error: " + expected)) {
                    return 3;
                }
                mci::DestroyNode(root);
                return 0;
            },
            false);
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(std::filesystem::exists(dir / "app.xsd"));
        EXPECT_FALSE(std::filesystem::is_regular_file(dir / "app.xml"));
    }
}

// A small registry for the files below: a count its validator keeps from 500, a table of three,
// a gain, and (only when asked) a node "gone".
struct SmallRegistry {
    icfg_test::CapturingConfiguration document{testsupport::TypesXsd()};
    mci::TreeNodePtr root;
    std::string label = "text";

    SmallRegistry(const std::string& file, bool withGone, int32_t count, double gain)
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", file, &document);
        auto counter = root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("count", count, c_persistent));
        Reg(counter).SetValidator(std::make_shared<iregtest::RejectOne<int32_t>>(500));
        root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("table", std::vector<int32_t>{1, 2, 3},
                                                                     c_persistent));
        root->Add(mci::factory::Create<ireg::RegValueNode<double>>("gain", gain, c_persistent));
        root->Add(mci::factory::Create<ireg::RegReferenceNode<std::string>>("label", label, c_persistent));
        if (withGone) {
            root->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>("gone", 1, c_persistent));
        }
    }
};

// Values the registry refuses on load are not lost at the next write: the file as it was is
// kept beside it first, byte for byte, and the log names both files and every refused value.
TEST(RegConfigNode, AFileWithRefusedValuesIsKeptBeforeItIsWrittenAgain)
{
    TempDir dir;
    const std::string file = dir / "app.xml";
    {
        SmallRegistry writer(file, true, 7, 0.5);
        ASSERT_TRUE(Reg(writer.root).WriteConfiguration());
    }
    // A count the validator refuses and a table one element too long, in a file its schema
    // still accepts.
    std::string stored = ReadFile(file);
    stored.replace(stored.find("<count value=\"7\"/>"), 19, "<count value=\"500\"/>");
    const std::string lastItem = "<reg.item value=\"3\"/>";
    stored.insert(stored.find(lastItem) + lastItem.size(), lastItem);
    WriteFile(file, stored);

    SmallRegistry registry(file, false, 1, 0.0);
    istd::TraceCapture capture(istd::eTraceWarning);
    Reg(registry.root).LoadConfiguration();
    EXPECT_EQ(Text(registry.root, {"count"}), "1|");
    EXPECT_EQ(Text(registry.root, {"table"}), "1|2|3|");
    double gain = 0;
    registry.root->GetNode("gain")->Get(gain, 0, c_noRelPath);
    EXPECT_EQ(gain, 0.5);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"app.xml", "app.xsd"})) << "kept when written, not before";

    ASSERT_TRUE(Reg(registry.root).WriteConfiguration());
    const std::vector<std::string> files = FilesIn(dir.Path());
    ASSERT_EQ(files.size(), 3u);
    const std::string kept = dir / files[1];
    EXPECT_EQ(files[1].rfind("app.xml.refused-", 0), 0u) << files[1];
    EXPECT_EQ(ReadFile(kept), stored);
    EXPECT_NE(ReadFile(file).find("<count value=\"1\"/>"), std::string::npos);
    const std::string warning = "Configuration file " + file + " held 3 values the registry refused when it was loaded; it is kept as " +
                                kept + " before it is written again. Refused: /count = '500' (Validation failed";
    EXPECT_TRUE(capture.Contains(warning)) << capture.Text();
    EXPECT_TRUE(capture.Contains("/table = '[1, 2, 3, 3]' (Size too large)")) << capture.Text();
    EXPECT_TRUE(capture.Contains("/gone (no such node)")) << capture.Text();

    // Kept once: the next write has nothing left to keep, and a clean file never gets a copy.
    ASSERT_TRUE(Reg(registry.root).WriteConfiguration());
    Reg(registry.root).LoadConfiguration();
    ASSERT_TRUE(Reg(registry.root).WriteConfiguration());
    EXPECT_EQ(FilesIn(dir.Path()).size(), 3u);
}

// A text too long for the file to be read back is refused when it is set on a persistent node
// (a node that is not persistent takes it); one that still reaches a save (a variable changed
// behind the registry) is left out alone, and every other value is saved.
TEST(RegConfigNode, TextsTooLongToBeReadBackAreRefusedWhenSetAndLeftOutWhenSaved)
{
    TempDir dir;
    const std::string file = dir / "app.xml";
    SmallRegistry registry(file, false, 1, 0.0);
    auto text = registry.root->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("text", std::string("t"), c_persistent));
    auto texts = registry.root->Add(
        mci::factory::Create<ireg::RegValueNode<std::string>>("texts", std::vector<std::string>{"a", "b"}, c_persistent));
    auto scratch = registry.root->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("scratch", std::string()));
    const std::string huge(11 * 1000 * 1000, 'x');
    EXPECT_EQ(testsupport::ErrorOf([&] { text->Set(huge, 0, c_noRelPath); }),
              "ireg: text: Invalid text: 11000000 bytes are too long to be read back from a configuration file");
    EXPECT_EQ(testsupport::ErrorOf([&] { texts->Set(huge, 1, c_noRelPath); }),
              "ireg: texts: Invalid text: 11000000 bytes are too long to be read back from a configuration file");
    scratch->Set(huge, 0, c_noRelPath);
    registry.root->GetNode("count")->Set(int32_t(9), 0, c_noRelPath);

    registry.label = huge;
    istd::TraceCapture capture(istd::eTraceError);
    ASSERT_TRUE(Reg(registry.root).WriteConfiguration());
    EXPECT_TRUE(capture.Contains("Storing configuration: The value of node label (11000000 bytes) is too long to be "
                                 "read back. The node's value is left out of the file."))
        << capture.Text();
    const std::string saved = ReadFile(file);
    EXPECT_NE(saved.find("<count value=\"9\"/>"), std::string::npos);
    EXPECT_EQ(saved.find("xxxx"), std::string::npos);

    // The longest text that is taken is written and read back whole.
    size_t longest = 9 * 1000 * 1000;
    while (icfg::IsReadableTag("text", "value", std::string(longest + 1, 'y'))) {
        ++longest;
    }
    while (!icfg::IsReadableTag("text", "value", std::string(longest, 'y'))) {
        --longest;
    }
    text->Set(std::string(longest, 'y'), 0, c_noRelPath);
    EXPECT_NE(testsupport::ErrorOf([&] { text->Set(std::string(longest + 1, 'y'), 0, c_noRelPath); }), "no error");
    registry.label = "short";
    ASSERT_TRUE(Reg(registry.root).WriteConfiguration());
    SmallRegistry loaded(file, false, 1, 0.0);
    auto loadedText = loaded.root->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("text", std::string(), c_persistent));
    loaded.root->Add(
        mci::factory::Create<ireg::RegValueNode<std::string>>("texts", std::vector<std::string>{"", ""}, c_persistent));
    EXPECT_TRUE(Reg(loaded.root).LoadConfiguration());
    std::string back;
    loadedText->Get(back, 0, c_noRelPath);
    EXPECT_EQ(back.size(), longest);
}

// Parse failures say what is wrong and where: libxml2's first message with its line, and the
// element for a schema violation, in the exception and in the log.
TEST(RegConfigNode, ParseErrorsNameTheLineAndTheElement)
{
    TempDir dir;
    const std::string file = dir / "app.xml";
    {
        SmallRegistry writer(file, false, 7, 0.5);
        ASSERT_TRUE(Reg(writer.root).WriteConfiguration());
    }
    const std::string good = ReadFile(file);
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Row {
        const char* what;
        std::string content;
        std::string detail;
    };
    const std::vector<Row> rows = {
        {"truncated", good.substr(0, good.find("<gain")), "(line 11: Premature end of data in tag configuration line 2)"},
        {"an entity declaration",
         replaced("<configuration", "<!DOCTYPE configuration [<!ENTITY x \"y\">]>\n<configuration"),
         "(line 2: entity declarations are not accepted)"},
        {"an unknown element", replaced("<gain", "<loss value=\"1\"/>\n  <gain"),
         "(line 11, element loss: Element 'loss': This element is not expected."},
        {"a wrong type", replaced("<count value=\"7\"/>", "<count value=\"seven\"/>"),
         "(line 3, element count: Element 'count', attribute 'value': 'seven' is not a valid value"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(file, row.content);
        SmallRegistry registry(file, false, 1, 0.0);
        istd::TraceCapture capture(istd::eTraceWarning);
        const std::string error = testsupport::ErrorOf([&] { Reg(registry.root).LoadConfiguration(); });
        EXPECT_NE(error.find(row.detail), std::string::npos) << error;
        EXPECT_TRUE(capture.Contains(row.detail)) << capture.Text();
    }
}

// A program whose start failed after the load keeps the clean-up from writing.
TEST(RegConfigNode, CleanUpWritesNothingWhenToldNot)
{
    TempDir dir;
    SmallRegistry registry(dir / "app.xml", false, 1, 0.0);
    Config(registry.root).SetWriteOnCleanup(false);
    mci::DestroyNode(registry.root);
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

} // namespace
