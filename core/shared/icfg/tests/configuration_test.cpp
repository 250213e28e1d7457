// Opening, validating, reading and writing configuration documents on real files.

#include "icfg/configuration.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/icfg_test.h"
#include "icfg/xml_io.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

// Counts the releases of libxml2's global state instead of performing them.
namespace {
int g_cleanups = 0;
}
extern "C" void xmlCleanupParser(void)
{
    ++g_cleanups;
}

namespace {

using icfg::Attribute;
using icfg::Element;
using icfg::ElementList;
using icfg::ElementPtr;
using icfg_test::CapturingConfiguration;
using icfg_test::DataFile;
using icfg_test::Dump;
using icfg_test::Recorder;
using testsupport::ErrorOf;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string SampleTree()
{
    return "configuration @noNamespaceSchemaLocation='sample.xsd' @version='2.8-171' ("
           "Boards (board @slot='0x3' @id='-1' @mask='0xFFFFFFFF' @serial='18446744073709551615', "
           "board @slot='7' @id='0xFFFFFFFF' @mask='0' @serial='0x10'), "
           "gain @value='0.1', label='12', note, script, "
           "Boards (board @slot='1' @id='2' @mask='3' @serial='4'))";
}

TEST(ConfigurationOpen, ValidSampleIsReadIntoOneRootElement)
{
    CapturingConfiguration document;
    document.OpenDocument(DataFile("sample.xml"), true);
    Recorder recorder;
    ASSERT_TRUE(document.Read(recorder));
    ASSERT_EQ(recorder.received.size(), 1u);
    // Comments, processing instructions and blank text make no elements; an element that
    // begins with a comment or a character-data section has no value.
    EXPECT_EQ(Dump(recorder.received[0]), SampleTree());
    std::string version;
    EXPECT_TRUE(document.GetDocVersion(version));
    EXPECT_EQ(version, "2.8-171");
    EXPECT_TRUE(document.Messages().empty()) << document.AllText();

    // The trees stay valid after the document is gone.
    document.CloseDocument();
    EXPECT_EQ(Dump(recorder.received[0]), SampleTree());
    EXPECT_FALSE(document.Read(recorder));
    EXPECT_FALSE(document.GetDocVersion(version));
}

TEST(ConfigurationOpen, ErrorPathsGiveTheirExactTexts)
{
    TempDir dir;
    const std::string fifo = dir / "fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir / "large.xml";
    WriteFile(large, "<configuration/>");
    ASSERT_EQ(truncate(large.c_str(), icfg::Configuration::c_maxFileSize + 1), 0);
    std::string deep = "<configuration>";
    for (int i = 0; i < 300; ++i) {
        deep += "<a>";
    }
    for (int i = 0; i < 300; ++i) {
        deep += "</a>";
    }
    WriteFile(dir / "deep.xml", deep + "</configuration>");
    WriteFile(dir / "lonely.xml", ReadFile(DataFile("sample.xml"))); // no sample.xsd beside it
    WriteFile(dir / "fifo_schema.xml", ReadFile(DataFile("remote_schema.xml")).replace(
        ReadFile(DataFile("remote_schema.xml")).find("http://127.0.0.1:9/types.xsd"), 28, "fifo.xml"));

    struct Case {
        std::string file;
        bool validate;
        std::string expected;
    };
    const std::string data = std::string(KAVREL_TEST_DATA_DIR) + "/";
    const std::string cannotRead = "Can't read configuration file: ";
    // Each ends with libxml2's first message, with its line when it has one.
    const std::vector<Case> cases = {
        {dir / "missing.xml", false,
         cannotRead + (dir / "missing.xml") + ". (failed to load external entity \"" + (dir / "missing.xml") + "\")"},
        {data + "malformed.xml", false,
         cannotRead + data + "malformed.xml. (line 4: Opening and ending tag mismatch: a line 3 and configuration)"},
        {fifo, false, cannotRead + fifo + ". (" + fifo + " is not a regular file)"},
        {"/dev/zero", false, cannotRead + "/dev/zero. (/dev/zero is not a regular file)"},
        {dir.Path(), false, cannotRead + dir.Path() + ". (" + dir.Path() + " is not a regular file)"},
        {large, false, cannotRead + large + ". (" + large + " is larger than 536870912 bytes)"},
        {dir / "deep.xml", false,
         cannotRead + (dir / "deep.xml") + ". (line 1: Excessive depth in document: 256 use XML_PARSE_HUGE option)"},
        {data + "entities.xml", false,
         cannotRead + data + "entities.xml. (line 3: entity declarations are not accepted)"},
        {data + "undeclared_prefix.xml", false,
         cannotRead + data +
             "undeclared_prefix.xml. (line 2: Namespace prefix xsi for noNamespaceSchemaLocation on configuration is "
             "not defined)"},
        {data + "no_schema.xml", true, "Unable to extract schema file from " + data + "no_schema.xml."},
        {data + "wrong_root.xml", true, "Unable to extract schema file from " + data + "wrong_root.xml."},
        {dir / "lonely.xml", true,
         "Unable to load schema " + (dir / "sample.xsd") + ". (failed to load external entity \"" +
             (dir / "sample.xsd") + "\")"},
        {data + "remote_schema.xml", true,
         "Unable to load schema http://127.0.0.1:9/types.xsd. (http://127.0.0.1:9/types.xsd is not a local file)"},
        {dir / "fifo_schema.xml", true, "Unable to load schema " + fifo + ". (" + fifo + " is not a regular file)"},
        {data + "not_a_schema.xml", true,
         "The schema is not valid " + data + "sample.xml. (The XML document '" + data +
             "sample.xml' is not a schema document.)"},
        {data + "invalid.xml", true,
         "XML document " + data + "invalid.xml is not valid against schema file " + data +
             "sample.xsd. (line 14, element board: Element 'board', attribute 'id': 'two' is not a valid value of "
             "the union type '{urn:kavrel:xsd:types}int'.)"},
    };
    for (const Case& c : cases) {
        CapturingConfiguration document;
        document.OpenDocument(DataFile("sample.xml"), false);
        EXPECT_EQ(ErrorOf([&] { document.OpenDocument(c.file, c.validate); }), c.expected);
        // No document is left open, and libxml2 said why.
        std::string version;
        EXPECT_FALSE(document.GetDocVersion(version)) << c.file;
        EXPECT_FALSE(document.Messages().empty() && c.expected.rfind("Unable to extract", 0) != 0) << c.file;
    }
}

// The messages of the error channel name the file and the line, one message a call.
TEST(ConfigurationOpen, RefusalsNameTheirReason)
{
    TempDir dir;
    CapturingConfiguration document;
    EXPECT_NE(ErrorOf([&] { document.OpenDocument("/dev/zero", false); }), "no error");
    EXPECT_NE(document.AllText().find("/dev/zero is not a regular file"), std::string::npos) << document.AllText();
    EXPECT_NE(ErrorOf([&] { document.OpenDocument(DataFile("entities.xml"), false); }), "no error");
    EXPECT_NE(document.AllText().find("line 3: entity declarations are not accepted"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { document.OpenDocument(DataFile("malformed.xml"), false); }), "no error");
    EXPECT_NE(document.AllText().find("malformed.xml:4: Opening and ending tag mismatch"), std::string::npos)
        << document.AllText();
}

TEST(ConfigurationOpen, NothingOutsideTheFileIsFetchedOrIncluded)
{
    CapturingConfiguration document;
    // The external DTD is neither loaded nor asked for.
    document.OpenDocument(DataFile("external_dtd.xml"), false);
    std::string value;
    EXPECT_TRUE(document.GetNodeValue("/configuration/x", value));
    EXPECT_EQ(value, "1");
    EXPECT_TRUE(document.Messages().empty()) << document.AllText();

    // An XInclude stays an element of its own.
    document.OpenDocument(DataFile("xinclude.xml"), false);
    Recorder recorder;
    ASSERT_TRUE(document.Read(recorder));
    EXPECT_EQ(Dump(recorder.received.at(0)), "configuration @version='1.0' (include @href='sample.xml' @parse='text')");
}

TEST(ConfigurationSchemaLocation, RelativeLocationsAreRelativeToTheDocument)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "cfg/sub");
    WriteFile(dir / "cfg/app.xml", ReadFile(DataFile("sample.xml")).replace(
        ReadFile(DataFile("sample.xml")).find("\"sample.xsd\""), 12, "\"sub/sample.xsd\""));
    // The copied schema finds the shared types through an absolute location.
    std::string schema = ReadFile(DataFile("sample.xsd"));
    schema.replace(schema.find("../../types.xsd"), 15, testsupport::TypesXsd());
    WriteFile(dir / "cfg/sub/sample.xsd", schema);

    CapturingConfiguration document;
    document.OpenDocument(dir / "cfg/app.xml", false);
    EXPECT_EQ(document.GetSchemaFileName(dir / "cfg/app.xml"), dir / "cfg/sub/sample.xsd");
    EXPECT_EQ(document.GetSchemaFileName("app.xml"), "sub/sample.xsd");
    document.OpenDocument(dir / "cfg/app.xml", true);

    // A schemaLocation serves when there is no noNamespaceSchemaLocation.
    document.OpenDocument(DataFile("schema_location.xml"), true);
    EXPECT_EQ(document.GetSchemaFileName(DataFile("schema_location.xml")), DataFile("sample.xsd"));
}

TEST(ConfigurationRead, ClassNamesSelectElementsUnderTheRoot)
{
    CapturingConfiguration document;
    document.OpenDocument(DataFile("sample.xml"), false);

    Recorder boards("Boards");
    EXPECT_EQ(document.GetPath(boards), "/configuration/Boards");
    ASSERT_TRUE(document.Read(boards));
    ASSERT_EQ(boards.received.size(), 1u);
    EXPECT_EQ(boards.received[0].size(), 2u);
    EXPECT_EQ(boards.received[0][1]->FindChild("board")->GetAttributes().at(0)->GetValue(), "1");

    Recorder missing("Missing");
    EXPECT_FALSE(document.Read(missing));
    EXPECT_TRUE(missing.received.empty());

    // A path that selects no element hands nothing over, whatever the object would answer.
    Recorder attribute("@version");
    EXPECT_FALSE(document.Read(attribute));
    EXPECT_TRUE(attribute.received.empty());

    Recorder refusing("Boards", false);
    EXPECT_FALSE(document.Read(refusing));
    EXPECT_EQ(refusing.received.size(), 1u);

    // With neither an application name nor a class name there is no path.
    class Nameless : public CapturingConfiguration {
        std::string GetApplicationName() override { return ""; }
    } nameless;
    nameless.OpenDocument(DataFile("sample.xml"), false);
    Recorder whole;
    EXPECT_EQ(nameless.GetPath(whole), "");
    EXPECT_FALSE(nameless.Read(whole));
    EXPECT_TRUE(nameless.Messages().empty()) << nameless.AllText();
}

TEST(ConfigurationRead, WrongRootFindsNothing)
{
    CapturingConfiguration document;
    document.OpenDocument(DataFile("wrong_root.xml"), false);
    Recorder recorder;
    EXPECT_FALSE(document.Read(recorder));
    std::string version;
    EXPECT_FALSE(document.GetDocVersion(version));
}

TEST(ConfigurationRead, RepeatedAttributeNamesOfTwoNamespacesAreRefused)
{
    TempDir dir;
    WriteFile(dir / "c.xml", "<configuration xmlns:p='urn:p'><a x='1' p:x='2'/></configuration>");
    CapturingConfiguration document;
    document.OpenDocument(dir / "c.xml", false);
    Recorder recorder;
    EXPECT_EQ(ErrorOf([&] { document.Read(recorder); }), "Duplicate configuration attribute name");
    EXPECT_TRUE(recorder.received.empty());
    std::string value;
    EXPECT_TRUE(document.GetAttributeValue("/configuration/a", "x", value)); // the lock was released
}

TEST(ConfigurationValues, OneNodeGivesItsTrimmedText)
{
    istd::TraceCapture capture(istd::eTraceError);
    CapturingConfiguration document;
    document.OpenDocument(DataFile("sample.xml"), false);
    std::string value = "unchanged";
    EXPECT_TRUE(document.GetNodeValue("/configuration/label", value));
    EXPECT_EQ(value, "12");
    EXPECT_TRUE(document.GetAttributeValue("/configuration/gain", "value", value));
    EXPECT_EQ(value, "0.1");

    value = "unchanged";
    EXPECT_FALSE(document.GetNodeValue("/configuration/Boards", value));
    EXPECT_FALSE(document.GetAttributeValue("/configuration/gain", "missing", value));
    EXPECT_FALSE(document.GetNodeValue("", value));
    EXPECT_FALSE(document.GetNodeValue("/configuration/[", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_TRUE(capture.Contains("Cannot get value for node: /configuration/Boards")) << capture.Text();
    EXPECT_TRUE(capture.Contains("Cannot get value for node: /configuration/["));
}

// A tree of every kind the registry writes: typed values, valid values, lists and nesting.
ElementList RegistryLikeTree()
{
    ElementPtr gain = Element::Create("gain");
    gain->AddAttribute(Attribute::Create("value", "0.333333333333333", icfg::e_xsDouble));
    ElementPtr mode = Element::Create("mode");
    icfg::AttributePtr modeValue = Attribute::Create("value", "slow", icfg::e_xsString);
    modeValue->SetValidValues({"fast", "slow"});
    mode->AddAttribute(modeValue);
    ElementPtr offsets = Element::Create("offsets");
    ElementPtr array = Element::Create("reg.array");
    array->SetOrder(Element::e_sequence);
    for (const char* v : {"-1", "0", "2147483647"}) {
        ElementPtr item = Element::Create("reg.item");
        item->AddAttribute(Attribute::Create("value", v, icfg::e_qarexInt));
        array->AddChild(item);
    }
    offsets->AddChild(array);
    ElementPtr board = Element::Create("board");
    ElementPtr serial = Element::Create("serial");
    serial->AddAttribute(Attribute::Create("value", "18446744073709551615", icfg::e_qarexUnsignedLong));
    ElementPtr enabled = Element::Create("enabled");
    enabled->AddAttribute(Attribute::Create("value", "true", icfg::e_xsBoolean));
    ElementPtr note = Element::Create("note");
    note->AddAttribute(Attribute::Create("value", " a<b & \"c\"\n\t ", icfg::e_xsString));
    board->AddChild(serial);
    board->AddChild(enabled);
    board->AddChild(note);
    return {gain, mode, offsets, board, Element::Create("empty")};
}

TEST(ConfigurationWrite, RoundTripThroughTheGeneratedSchema)
{
    TempDir dir;
    CapturingConfiguration writer(testsupport::TypesXsd(), "2.8-171");
    Recorder object;
    object.toWrite = RegistryLikeTree();
    writer.Write(object, dir / "app.xml", icfg::Configuration::e_xsdAlways);

    const std::string text = ReadFile(dir / "app.xml");
    EXPECT_EQ(text.substr(0, text.find("  <gain")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
              "xsi:noNamespaceSchemaLocation=\"" + (dir / "app.xsd") + "\" version=\"2.8-171\">\n");
    EXPECT_TRUE(icfg_test::XmllintAccepts(dir / "app.xml", dir / "app.xsd"));

    CapturingConfiguration reader;
    reader.OpenDocument(dir / "app.xml", true);
    Recorder back;
    ASSERT_TRUE(reader.Read(back));
    ASSERT_EQ(back.received.size(), 1u);
    EXPECT_EQ(Dump(back.received[0][0]->GetChildren()), Dump(object.toWrite));
    std::string version;
    EXPECT_TRUE(reader.GetDocVersion(version));
    EXPECT_EQ(version, "2.8-171");
    EXPECT_TRUE(writer.Messages().empty() && reader.Messages().empty()) << writer.AllText() << reader.AllText();

    // After Write no document is open.
    EXPECT_FALSE(writer.Read(back));
}

TEST(ConfigurationWrite, HexadecimalTextsPassTheSharedTypes)
{
    TempDir dir;
    CapturingConfiguration writer;
    Recorder object;
    object.toWrite = RegistryLikeTree();
    writer.Write(object, dir / "app.xml");
    std::string text = ReadFile(dir / "app.xml");
    auto replace = [&](const std::string& from, const std::string& to) { text.replace(text.find(from), from.size(), to); };
    replace("\"-1\"", "\"0xFFFFFFFF\"");
    replace("\"18446744073709551615\"", "\"0xffffffffffffffff\"");
    WriteFile(dir / "app.xml", text);
    writer.OpenDocument(dir / "app.xml", true);
    EXPECT_TRUE(icfg_test::XmllintAccepts(dir / "app.xml", dir / "app.xsd"));

    for (const char* bad : {"\"0x1FFFFFFFF\"", "\"0x\"", "\"0X1\"", "\"-\""}) {
        WriteFile(dir / "bad.xml", std::string(text).replace(text.find("\"0xFFFFFFFF\""), 12, bad));
        EXPECT_NE(ErrorOf([&] { writer.OpenDocument(dir / "bad.xml", true); }), "no error") << bad;
    }
    WriteFile(dir / "bad.xml", std::string(text).replace(text.find("\"0xffffffffffffffff\""), 20, "\"-0\""));
    EXPECT_NE(ErrorOf([&] { writer.OpenDocument(dir / "bad.xml", true); }), "no error");
}

TEST(ConfigurationWrite, RelativeFileNamesFindTheirSchemaFromAnyDirectory)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "cfg");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    CapturingConfiguration document;
    Recorder object;
    object.toWrite = RegistryLikeTree();
    const std::string error = ErrorOf([&] { document.Write(object, "cfg/app.xml"); });
    std::filesystem::current_path(before);
    ASSERT_EQ(error, "no error");
    EXPECT_NE(ReadFile(dir / "cfg/app.xml").find("xsi:noNamespaceSchemaLocation=\"app.xsd\""), std::string::npos);
    document.OpenDocument(dir / "cfg/app.xml", true);
}

TEST(ConfigurationWrite, SchemaModesAndSerializeAnswers)
{
    TempDir dir;
    CapturingConfiguration document;
    Recorder object;
    object.toWrite = RegistryLikeTree();

    WriteFile(dir / "app.xsd", "kept");
    document.Write(object, dir / "app.xml", icfg::Configuration::e_xsdIfMissing);
    EXPECT_EQ(ReadFile(dir / "app.xsd"), "kept");
    document.Write(object, dir / "other.xml", icfg::Configuration::e_xsdNever);
    EXPECT_FALSE(std::filesystem::exists(dir / "other.xsd"));
    document.Write(object, dir / "other.xml", icfg::Configuration::e_xsdIfMissing);
    EXPECT_TRUE(std::filesystem::exists(dir / "other.xsd"));
    document.Write(object, dir / "app.xml", icfg::Configuration::CreateXsd_e(7));
    EXPECT_NE(ReadFile(dir / "app.xsd"), "kept");

    // Serialize answering false: nothing written, the open document stays open.
    document.OpenDocument(DataFile("sample.xml"), false);
    Recorder refusing;
    refusing.serializeResult = false;
    document.Write(refusing, dir / "none.xml");
    EXPECT_FALSE(std::filesystem::exists(dir / "none.xml"));
    std::string version;
    EXPECT_TRUE(document.GetDocVersion(version));

    // Nothing to write: the root alone.
    Recorder empty;
    document.Write(empty, dir / "empty.xml");
    EXPECT_EQ(ReadFile(dir / "empty.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" +
                  (dir / "empty.xsd") + "\" version=\"1.0\"/>\n");
    EXPECT_TRUE(icfg_test::XmllintAccepts(dir / "empty.xml", dir / "empty.xsd"));
    EXPECT_FALSE(document.GetDocVersion(version));
}

class FailedWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        object.toWrite = RegistryLikeTree();
        CapturingConfiguration document;
        document.Write(object, file);
        oldFile = ReadFile(file);
        oldSchema = ReadFile(schema);
        // The next write would change both files.
        object.toWrite.push_back(Element::Create("added"));
    }
    // A disk that fills up: a child process that may write only limit bytes into any file
    // writes the object and must fail with the expected text.
    void ExpectFullDiskFailure(rlim_t limit, const std::string& expected)
    {
        const int status = icfg_test::RunInChild(
            [&] {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit small{limit, limit};
                if (setrlimit(RLIMIT_FSIZE, &small) != 0) {
                    return 2;
                }
                CapturingConfiguration document;
                return ErrorOf([&] { document.Write(object, file); }) == expected ? 0 : 1;
            },
            false);
        EXPECT_EQ(status, 0);
        ExpectOldFilesUntouched();
    }
    void ExpectOldFilesUntouched()
    {
        EXPECT_EQ(ReadFile(file), oldFile);
        EXPECT_EQ(ReadFile(schema), oldSchema);
        EXPECT_EQ(testsupport::FilesIn(dir.Path()), (std::vector<std::string>{"app.xml", "app.xsd"}));
    }

    TempDir dir;
    std::string file = dir / "app.xml";
    std::string schema = dir / "app.xsd";
    std::string oldFile;
    std::string oldSchema;
    Recorder object;
};

TEST_F(FailedWriteTest, ReadOnlyDirectory)
{
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    const int status = icfg_test::RunInChild(
        [&] {
            CapturingConfiguration document;
            return ErrorOf([&] { document.Write(object, file); }) ==
                           "Cannot store configuration file " + file + ": Permission denied"
                       ? 0
                       : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    ExpectOldFilesUntouched();
}

TEST_F(FailedWriteTest, FullDiskWhileWritingTheDocument)
{
    ExpectFullDiskFailure(64, "Cannot store configuration file " + file + ": File too large");
}

TEST_F(FailedWriteTest, FullDiskWhileWritingTheSchema)
{
    // A small document whose schema is large.
    ElementPtr choice = Element::Create("choice");
    icfg::AttributePtr value = Attribute::Create("value", "v0", icfg::e_xsString);
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        names.push_back("v" + std::to_string(i));
    }
    value->SetValidValues(names);
    choice->AddAttribute(value);
    object.toWrite = {choice};
    ExpectFullDiskFailure(2048, "Cannot store xsd file " + schema + ": File too large");
}

TEST_F(FailedWriteTest, SchemaPathTakenByADirectory)
{
    std::filesystem::remove(schema);
    std::filesystem::create_directory(schema);
    CapturingConfiguration document;
    EXPECT_EQ(ErrorOf([&] { document.Write(object, file); }), "Cannot store xsd file " + schema + ": not a regular file");
    EXPECT_EQ(ReadFile(file), oldFile);
    EXPECT_TRUE(std::filesystem::is_directory(schema));
}

TEST_F(FailedWriteTest, TreesThatCannotBeWritten)
{
    CapturingConfiguration document;
    Recorder bad;
    bad.toWrite = {Element::Create("a b")};
    EXPECT_EQ(ErrorOf([&] { document.Write(bad, file); }),
              "Cannot store configuration file " + file + ": invalid element name \"a b\"");
    ElementPtr control = Element::Create("text");
    control->AddAttribute(Attribute::Create("value", std::string("a\x01z")));
    bad.toWrite = {control};
    EXPECT_EQ(ErrorOf([&] { document.Write(bad, file); }),
              "Cannot store configuration file " + file +
                  ": the attribute value of \"text/@value\" holds characters XML cannot carry");
    bad.toWrite = {Element::Create("2nd")};
    EXPECT_EQ(ErrorOf([&] { document.Write(bad, file); }),
              "Cannot store configuration file " + file + ": invalid element name \"2nd\"");
    bad.toWrite = {Element::Create("twice"), Element::Create("twice")};
    EXPECT_EQ(ErrorOf([&] { document.Write(bad, file); }), "invalid value");
    ExpectOldFilesUntouched();
    EXPECT_EQ(ErrorOf([&] { document.Write(object, dir / "missing/app.xml"); }),
              "Cannot store configuration file " + (dir / "missing/app.xml") + ": No such file or directory");
}

// What a program can learn at its start about the file it will write at its stop: the reason a
// Write would give, and nothing left behind either way.
TEST_F(FailedWriteTest, CanWriteAnswersWithTheReasonOfTheWrite)
{
    std::filesystem::create_directory(dir / "folder");
    const struct {
        std::string file;
        bool unprivileged;
        std::string reason; // "" for writable
    } cases[] = {
        {file, false, ""},
        {dir / "new.xml", false, ""},
        {dir / "missing/app.xml", false, "No such file or directory"},
        {dir / "folder", false, "not a regular file"},
        {"/proc/x.xml", false, "No such file or directory"},
        {file, true, "Permission denied"},
    };
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + (c.unprivileged ? " (unprivileged)" : ""));
        const int status = icfg_test::RunInChild(
            [&] {
                std::string reason;
                const bool writable = icfg::Configuration::CanWrite(c.file, reason);
                return writable == c.reason.empty() && reason == c.reason ? 0 : 1;
            },
            c.unprivileged);
        EXPECT_EQ(status, 0);
        if (!c.reason.empty()) {
            // The Write itself fails for the same reason.
            const int written = icfg_test::RunInChild(
                [&] {
                    CapturingConfiguration document;
                    const std::string error = ErrorOf([&] { document.Write(object, c.file); });
                    return error.size() >= c.reason.size() &&
                                   error.compare(error.size() - c.reason.size(), c.reason.size(), c.reason) == 0
                               ? 0
                               : 1;
                },
                c.unprivileged);
            EXPECT_EQ(written, 0);
        }
    }
    EXPECT_EQ(testsupport::FilesIn(dir.Path()), (std::vector<std::string>{"app.xml", "app.xsd", "folder"}));
    EXPECT_EQ(ReadFile(file), oldFile);
}

TEST_F(FailedWriteTest, SideFilesOfAKilledSaveGoWithTheNextSaveOfTheirTarget)
{
    // A saver that a full disk kills (SIGXFSZ) while it writes the schema: its temporary
    // files of both targets stay behind.
    pid_t killed = 0;
    const int status = icfg_test::RunInChild(
        [&] {
            const rlimit none{0, 0};
            const rlimit small{2048, 2048};
            if (setrlimit(RLIMIT_CORE, &none) != 0 || setrlimit(RLIMIT_FSIZE, &small) != 0) {
                return 2;
            }
            CapturingConfiguration document;
            document.Write(object, file);
            return 1;
        },
        false, &killed);
    ASSERT_EQ(status, -1);
    const std::string dead = std::to_string(killed);
    const std::vector<std::string> left = testsupport::FilesIn(dir.Path());
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(left[0].rfind(".app.xml.tmp." + dead + ".", 0), 0u) << left[0];
    EXPECT_EQ(left[1].rfind(".app.xsd.tmp." + dead + ".", 0), 0u) << left[1];
    // A kill between keeping the old file aside and the rename leaves its second name; one of
    // an earlier process with this process's id is stale too.
    ASSERT_EQ(link(file.c_str(), (dir / (".app.xml.old." + dead + ".2")).c_str()), 0);
    WriteFile(dir / (".app.xml.tmp." + std::to_string(getpid()) + ".4294967295"), "x");
    // Files of a writer that still runs, of other targets, and names that only look alike.
    const std::vector<std::string> others = {
        ".app.xml.tmp.1.5",          ".app.xml.old.1.6",          ".other.xml.tmp." + dead + ".0",
        "app.xml.tmp." + dead + ".0", ".app.xml.tmp." + dead + ".00", ".app.xml.tmp.0" + dead + ".0",
        ".app.xml.tmp." + dead,      ".app.xml.tmp." + dead + ".0.1", ".app.xml.bak." + dead + ".0",
        ".app.xml.tmp." + dead + ".-1", ".app.xml.tmp.4294967296.0", ".app.xml.tmp." + dead + ".4294967296",
        ".app.xm.tmp." + dead + ".0", ".app.xml.xml.tmp." + dead + ".0",
    };
    for (const std::string& name : others) {
        WriteFile(dir / name, "x");
    }
    std::filesystem::create_directory(dir / (".app.xml.tmp." + dead + ".9"));

    CapturingConfiguration document;
    document.Write(object, file);
    std::vector<std::string> expected = others;
    expected.insert(expected.end(), {".app.xml.tmp." + dead + ".9", "app.xml", "app.xsd"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(testsupport::FilesIn(dir.Path()), expected);
    document.OpenDocument(file, true);
}

// True when libxml2 reads a document that holds text as an element's text and as an attribute
// value.
bool Libxml2Reads(const std::string& text)
{
    const std::string xml = "<a v=\"" + text + "\">" + text + "</a>";
    xmlDocPtr document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "text.xml", "UTF-8",
                                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(document);
    return document != nullptr;
}

TEST_F(FailedWriteTest, TextIsWrittenExactlyWhenLibxml2ReadsIt)
{
    const std::vector<std::string> refused = {
        "\xC1\x81",             // 'A' in two bytes
        "\xC0\x80",             // NUL in two bytes
        "\xE0\x9F\xBF",         // U+07FF in three bytes
        "\xF0\x8F\xBF\xBF",     // U+FFFF in four bytes
        "\xED\xA0\x80",         // surrogates
        "\xED\xBF\xBF",
        "\xF4\x90\x80\x80",     // above U+10FFFF
        "\xF7\xBF\xBF\xBF",
        "\xF8\x88\x80\x80\x80", // five bytes
        "\xEF\xBF\xBE",         // U+FFFE and U+FFFF
        "\xEF\xBF\xBF",
        "\x80",                 // a stray continuation byte
        "\xE2\x82",             // a cut sequence
        "\xC2\x41",
        "\x01",
        std::string(1, '\0'),
    };
    CapturingConfiguration document;
    Recorder bad;
    for (const std::string& text : refused) {
        SCOPED_TRACE(::testing::PrintToString(text));
        EXPECT_FALSE(Libxml2Reads("a" + text + "z"));
        bad.toWrite = {Element::Create("text")};
        bad.toWrite[0]->AddAttribute(Attribute::Create("value", "a" + text + "z"));
        EXPECT_EQ(ErrorOf([&] { document.Write(bad, file); }),
                  "Cannot store configuration file " + file +
                      ": the attribute value of \"text/@value\" holds characters XML cannot carry");
        bad.toWrite = {Element::Create("a" + text + "z")};
        EXPECT_NE(ErrorOf([&] { document.Write(bad, file); }).find(": invalid element name"), std::string::npos);
    }
    ExpectOldFilesUntouched();

    // Their neighbours are written and read back as they were.
    const std::vector<std::string> accepted = {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                                               "\xEF\xBF\xBD", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\x7F"};
    ElementPtr text = Element::Create("text");
    for (size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_TRUE(Libxml2Reads(accepted[i])) << i;
        text->AddAttribute(Attribute::Create("v" + std::to_string(i), accepted[i], icfg::e_xsString));
    }
    Recorder good;
    good.toWrite = {text};
    document.Write(good, file);
    document.OpenDocument(file, true);
    Recorder back;
    ASSERT_TRUE(document.Read(back));
    EXPECT_EQ(Dump(back.received.at(0).at(0)->GetChildren()), Dump(good.toWrite));
}

// libxml2 reads no name above 50 000 bytes, and no tag or text of about 10 000 000 bytes (a
// tag with its escaped attribute values); the writer refuses what would not come back.
std::string Repeat(const std::string& unit, size_t count)
{
    std::string text;
    text.reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
}

TEST_F(FailedWriteTest, NamesAndValuesTooLongToBeReadBack)
{
    CapturingConfiguration document;
    const std::string tooLarge = "Cannot store configuration file " + file + ": it would be too large to be read back";
    const std::string longest(50000, 'n');
    struct Case {
        ElementPtr element;
        std::string expected;
    };
    std::vector<Case> cases;
    cases.push_back({Element::Create(longest + "n"), "invalid element name"});
    cases.push_back({Element::Create("text"), "invalid attribute name"});
    cases.back().element->AddAttribute(Attribute::Create(longest + "n", "1"));
    cases.push_back({Element::Create("text"), tooLarge});
    cases.back().element->AddAttribute(Attribute::Create("value", std::string(10000000, 'v')));
    // Each quote is written as six bytes.
    cases.push_back({Element::Create("text"), tooLarge});
    cases.back().element->AddAttribute(Attribute::Create("value", std::string(1700000, '"')));
    cases.push_back({Element::Create("text"), tooLarge});
    cases.back().element->AddAttribute(Attribute::Create("a", std::string(5000000, 'v')));
    cases.back().element->AddAttribute(Attribute::Create("b", std::string(5000000, 'v')));
    Recorder bad;
    for (const Case& c : cases) {
        bad.toWrite = {c.element};
        const std::string error = ErrorOf([&] { document.Write(bad, file); });
        EXPECT_EQ(error.rfind(c.expected == tooLarge ? tooLarge : "Cannot store configuration file " + file + ": " + c.expected, 0), 0u)
            << error.substr(0, 200);
    }
    ExpectOldFilesUntouched();

    // Whatever IsReadableTag accepts is written and read back; one byte more is refused, with
    // the escapes a value is written with counted.
    for (const std::string unit : {"v", "<&\"\n\t\r>"}) {
        size_t repeat = 1;
        while (icfg::IsReadableTag("text", "value", Repeat(unit, repeat * 2))) {
            repeat *= 2;
        }
        for (size_t step = repeat / 2; step > 0; step /= 2) {
            repeat += icfg::IsReadableTag("text", "value", Repeat(unit, repeat + step)) ? step : 0;
        }
        for (const size_t n : {repeat, repeat + 1}) {
            ElementPtr text = Element::Create("text");
            text->AddAttribute(Attribute::Create("value", Repeat(unit, n)));
            Recorder one;
            one.toWrite = {text};
            const std::string error = ErrorOf([&] { document.Write(one, file); });
            if (n == repeat) {
                ASSERT_EQ(error, "no error") << unit;
                document.OpenDocument(file, true);
                Recorder back;
                ASSERT_TRUE(document.Read(back));
                EXPECT_EQ(back.received.at(0).at(0)->GetChildren().at(0)->GetAttributes().at(0)->GetValue().size(),
                          unit.size() * n);
            } else {
                EXPECT_EQ(error.rfind(tooLarge, 0), 0u) << unit;
            }
        }
    }

    // The longest name, and a long value, are written and read back.
    ElementPtr element = Element::Create(longest);
    element->AddAttribute(Attribute::Create(longest, std::string(8000000, 'v')));
    Recorder good;
    good.toWrite = {element};
    document.Write(good, file);
    document.OpenDocument(file, true);
    Recorder back;
    ASSERT_TRUE(document.Read(back));
    EXPECT_TRUE(Dump(back.received.at(0).at(0)->GetChildren()) == Dump(good.toWrite));
}

TEST_F(FailedWriteTest, FilesAboveTheSizeThatIsReadAreNotWritten)
{
    xmlDocPtr document = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
    ASSERT_NE(document, nullptr);
    {
        icfg::detail::PendingFile pending(file);
        EXPECT_FALSE(pending.Save(document, oldFile.size() - 1));
        EXPECT_TRUE(pending.TooLarge());
        EXPECT_FALSE(pending.Commit());
    }
    ExpectOldFilesUntouched();
    icfg::detail::PendingFile pending(file);
    EXPECT_TRUE(pending.Save(document, oldFile.size()));
    EXPECT_FALSE(pending.TooLarge());
    EXPECT_TRUE(pending.Commit());
    xmlFreeDoc(document);
    EXPECT_EQ(ReadFile(file), oldFile);
}

// A chain of depth elements; the deepest carries a string attribute with valid values.
ElementList Chain(size_t depth)
{
    ElementPtr top = Element::Create("level");
    ElementPtr current = top;
    for (size_t i = 1; i < depth; ++i) {
        ElementPtr next = Element::Create("level");
        current->AddChild(next);
        current = next;
    }
    icfg::AttributePtr value = Attribute::Create("value", "b", icfg::e_xsString);
    value->SetValidValues({"a", "b"});
    current->AddAttribute(value);
    return {top};
}

TEST(ConfigurationWrite, WhatIsWrittenCanBeReadBackHoweverDeep)
{
    TempDir dir;
    CapturingConfiguration document;
    Recorder object;
    // The deepest tree whose schema can still be read back.
    object.toWrite = Chain(83);
    document.Write(object, dir / "a.xml");
    document.OpenDocument(dir / "a.xml", true);
    object.toWrite = Chain(84);
    EXPECT_EQ(ErrorOf([&] { document.Write(object, dir / "a.xml"); }), "invalid value");
    // Without a schema the document itself may hold up to libxml2's limit.
    object.toWrite = Chain(256);
    document.Write(object, dir / "b.xml", icfg::Configuration::e_xsdNever);
    document.OpenDocument(dir / "b.xml", false);
    Recorder back;
    ASSERT_TRUE(document.Read(back));
    EXPECT_EQ(Dump(back.received.at(0).at(0)->GetChildren()), Dump(object.toWrite));
    object.toWrite = Chain(257);
    EXPECT_EQ(ErrorOf([&] { document.Write(object, dir / "b.xml", icfg::Configuration::e_xsdNever); }),
              "Cannot store configuration file " + (dir / "b.xml") + ": elements nested deeper than 257 levels");
}

TEST(ConfigurationWrite, NamesOfTheNewerXmlRulesAreWrittenWithoutSchema)
{
    TempDir dir;
    CapturingConfiguration document;
    Recorder object;
    ElementPtr element = Element::Create("reg\xCB\x96item");
    element->AddAttribute(Attribute::Create("xmlnsx", "1"));
    object.toWrite = {element, Element::Create("xmlns")};
    EXPECT_EQ(ErrorOf([&] { document.Write(object, dir / "a.xml"); }), "invalid value");
    document.Write(object, dir / "a.xml", icfg::Configuration::e_xsdNever);
    document.OpenDocument(dir / "a.xml", false);
    Recorder back;
    ASSERT_TRUE(document.Read(back));
    EXPECT_EQ(Dump(back.received.at(0).at(0)->GetChildren()), Dump(object.toWrite));
}

TEST(ConfigurationWrite, ReplacedFilesKeepTheirPermissionsAndLinks)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "real");
    CapturingConfiguration document;
    Recorder object;
    object.toWrite = RegistryLikeTree();
    document.Write(object, dir / "real/app.xml");
    ASSERT_EQ(chmod((dir / "real/app.xml").c_str(), 0640), 0);
    std::filesystem::create_symlink(dir / "real/app.xml", dir / "app.xml");
    std::filesystem::create_symlink(dir / "real/app.xsd", dir / "app.xsd");

    object.toWrite.push_back(Element::Create("added"));
    document.Write(object, dir / "app.xml");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "app.xml"));
    EXPECT_NE(ReadFile(dir / "real/app.xml").find("<added/>"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat((dir / "real/app.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    document.OpenDocument(dir / "app.xml", true);
}

// Groups of 100 values as a registry's persistent nodes write them: int, double, string,
// enumeration of six names and bool in turn.
ElementList RegistryOfNodes(size_t groups)
{
    const icfg::DataType_e types[] = {icfg::e_qarexInt, icfg::e_xsDouble, icfg::e_xsString, icfg::e_xsString,
                                      icfg::e_xsBoolean};
    const char* values[] = {"-7", "0.25", "text", "info", "true"};
    ElementList tree;
    for (size_t g = 0; g < groups; ++g) {
        ElementPtr group = Element::Create("group" + std::to_string(g));
        for (size_t n = 0; n < 100; ++n) {
            ElementPtr node = Element::Create("value" + std::to_string(n));
            icfg::AttributePtr value = Attribute::Create("value", values[n % 5], types[n % 5]);
            if (n % 5 == 3) {
                value->SetValidValues({"none", "error", "warning", "info", "detail", "scope"});
            }
            node->AddAttribute(value);
            group->AddChild(node);
        }
        tree.push_back(group);
    }
    return tree;
}

TEST(ConfigurationWrite, GeneratedSchemaOfAHundredThousandNodesLoads)
{
    TempDir dir;
    CapturingConfiguration document;
    Recorder object;
    object.toWrite = RegistryOfNodes(1000);
    document.Write(object, dir / "app.xml");
    // Larger than 32 MiB, the cap that once refused it.
    EXPECT_GT(std::filesystem::file_size(dir / "app.xsd"), size_t{32} << 20);
    document.OpenDocument(dir / "app.xml", true);
    Recorder back;
    ASSERT_TRUE(document.Read(back));
    EXPECT_EQ(back.received.at(0).at(0)->GetChildren().size(), 1000u);
}

TEST(ConfigurationLifetime, OnlyTheLastCleanupReleasesLibxml2)
{
    g_cleanups = 0;
    icfg::Configuration::Initialize();
    icfg::Configuration::Initialize();
    icfg::Configuration::Cleanup();
    EXPECT_EQ(g_cleanups, 0);
    CapturingConfiguration document;
    document.OpenDocument(DataFile("sample.xml"), true);
    icfg::Configuration::Cleanup();
    EXPECT_EQ(g_cleanups, 1);
    icfg::Configuration::Cleanup(); // one too many changes nothing
    EXPECT_EQ(g_cleanups, 1);
}

TEST(ConfigurationLifetime, DefaultTypesSchemaPathFollowsTheVersion)
{
    icfg::Configuration document("1.0", "");
    EXPECT_EQ(document.GetTypesSchemaPath(), "/opt/kavrel/xsd/2.8/types.xsd");
    EXPECT_EQ(document.GetApplicationName(), "configuration");
}

} // namespace
