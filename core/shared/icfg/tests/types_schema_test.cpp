// The shared types schema that an application names, when that file does not exist (an install
// into a prefix of one's own, without /opt): the library's installed copy stands in for it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/icfg_test.h"
#include "icfg/configuration.h"
#include "icfg/xml_io.h"
#include "istd/log.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using icfg::Attribute;
using icfg::Element;
using icfg_test::CapturingConfiguration;
using icfg_test::Recorder;
using testsupport::ReadFile;

std::string Copy()
{
    return std::filesystem::canonical(testsupport::TypesXsd()).string();
}

class TypesSchemaTest : public ::testing::Test {
protected:
    // Writes dir/app.xml (one value of a type of the types schema, so that its schema validates
    // only with the types schema imported) and the schema beside it.
    void Write(icfg::Configuration& document)
    {
        Recorder recorder;
        auto gain = Element::Create("gain");
        gain->AddAttribute(Attribute::Create("value", "7", icfg::e_qarexInt));
        recorder.toWrite.push_back(gain);
        document.Write(recorder, dir / "app.xml");
    }

    testsupport::TempDir dir;
};

// The build keeps the copy where an install puts it, relative to the library's folder.
TEST(InstalledTypesSchema, IsFoundFromTheLibrarysFolder)
{
    EXPECT_EQ(icfg::detail::InstalledTypesSchema(), Copy());
}

TEST_F(TypesSchemaTest, MissingOneIsReplacedByTheCopyOnceInTheLog)
{
    const std::string named = dir / "opt/types.xsd";
    ASSERT_TRUE(istd::Log::Init(dir / "log"));
    CapturingConfiguration document(named);
    EXPECT_EQ(document.GetTypesSchemaPath(), named);
    Write(document);
    Write(document);
    istd::Log::Stop();

    EXPECT_NE(ReadFile(dir / "app.xsd").find("schemaLocation=\"" + Copy() + "\""), std::string::npos)
        << ReadFile(dir / "app.xsd");
    EXPECT_EQ(testsupport::ErrorOf([&] { document.OpenDocument(dir / "app.xml", true); }), "no error");
    EXPECT_EQ(document.AllText(), "");
    const std::string log = ReadFile(dir / "log");
    const std::string line =
        "INFO icfg: the types schema " + named + " does not exist; using " + Copy() + ", installed with the library\n";
    const size_t first = log.find(line);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
}

// A stored schema imports the types schema by its path. When that path is gone, a document that
// names the same types schema is validated against the copy; one that names another is not.
TEST_F(TypesSchemaTest, StoredSchemaThatImportsAMissingOne)
{
    const std::string gone = dir / "gone/types.xsd";
    std::filesystem::create_directory(dir / "gone");
    std::filesystem::copy_file(testsupport::TypesXsd(), gone);
    {
        icfg::Configuration writer("1.0", gone);
        Write(writer);
    }
    std::filesystem::remove_all(dir / "gone");
    ASSERT_NE(ReadFile(dir / "app.xsd").find("schemaLocation=\"" + gone + "\""), std::string::npos);

    struct Case {
        std::string named;
        std::string error;
        std::string messages;
    };
    const Case cases[] = {
        {gone, "no error", ""},
        {testsupport::TypesXsd(), "The schema is not valid " + dir / "app.xsd", "Failed to locate a schema at location"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        CapturingConfiguration document(c.named);
        EXPECT_EQ(testsupport::ErrorOf([&] { document.OpenDocument(dir / "app.xml", true); }).substr(0, c.error.size()),
                  c.error);
        EXPECT_NE(document.AllText().find(c.messages), std::string::npos) << document.AllText();
        if (c.messages.empty()) {
            EXPECT_EQ(document.AllText(), "");
        }
    }
}

} // namespace
