// libxml2's error channel is per thread: messages raised while a document works on any thread
// reach that document's ErrorCallback, and none reaches another document or a destroyed one.

#include "icfg/configuration.h"

#include <libxml/globals.h>
#include <libxml/parser.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/icfg_test.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using icfg_test::CapturingConfiguration;
using testsupport::ErrorOf;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ConfigurationThreads, MessagesOfASecondThreadReachTheDocumentCutTo1023Characters)
{
    TempDir dir;
    const std::string longName(2000, 'n');
    WriteFile(dir / "long.xml", "<configuration><" + longName + "></configuration>");

    CapturingConfiguration document;
    std::string error;
    std::thread::id worker;
    std::thread thread([&] {
        worker = std::this_thread::get_id();
        error = ErrorOf([&] { document.OpenDocument(dir / "long.xml", false); });
    });
    thread.join();

    EXPECT_EQ(error.rfind("Can't read configuration file: " + (dir / "long.xml") +
                              ". (line 1: Opening and ending tag mismatch: nnnn",
                          0),
              0u)
        << error;
    const std::vector<std::string> messages = document.Messages();
    ASSERT_FALSE(messages.empty());
    size_t longest = 0;
    for (const std::string& message : messages) {
        longest = std::max(longest, message.size());
    }
    EXPECT_EQ(longest, 1023u);
    for (const std::thread::id& id : document.Threads()) {
        EXPECT_EQ(id, worker);
    }
    EXPECT_NE(document.AllText().find("Opening and ending tag mismatch: " + longName.substr(0, 100)),
              std::string::npos);
    // The worker's binding ended with the operation; this thread never had one.
    EXPECT_NE(xmlGenericErrorContext, static_cast<void*>(&document));
}

TEST(ConfigurationThreads, DocumentsOnSeveralThreadsKeepTheirOwnMessages)
{
    TempDir dir;
    constexpr int c_threads = 4;
    std::vector<CapturingConfiguration> documents(c_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        const std::string file = dir / ("broken" + std::to_string(t) + ".xml");
        WriteFile(file, "<configuration><a></configuration>");
        threads.emplace_back([&documents, t, file] {
            for (int i = 0; i < 20; ++i) {
                (void)ErrorOf([&] { documents[t].OpenDocument(file, false); });
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < c_threads; ++t) {
        const std::vector<std::string> messages = documents[t].Messages();
        ASSERT_FALSE(messages.empty());
        for (const std::string& message : messages) {
            for (int other = 0; other < c_threads; ++other) {
                if (other != t) {
                    EXPECT_EQ(message.find("broken" + std::to_string(other) + ".xml"), std::string::npos) << message;
                }
            }
        }
        EXPECT_NE(documents[t].AllText().find("broken" + std::to_string(t) + ".xml"), std::string::npos);
    }
}

// Writers of one target on several threads: none sweeps away the side files another one is
// using, and none is left when they are done.
TEST(ConfigurationThreads, WritersOfOneTargetKeepTheirSideFiles)
{
    TempDir dir;
    const std::string file = dir / "app.xml";
    constexpr int c_threads = 4;
    std::vector<std::string> errors(c_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&errors, &file, t] {
            CapturingConfiguration document;
            icfg_test::Recorder object;
            icfg::ElementPtr element = icfg::Element::Create("value");
            element->AddAttribute(icfg::Attribute::Create("value", std::to_string(t), icfg::e_qarexInt));
            object.toWrite = {element};
            for (int i = 0; i < 30 && errors[t].empty(); ++i) {
                const std::string error = ErrorOf([&] { document.Write(object, file); });
                if (error != "no error") {
                    errors[t] = error;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::string& error : errors) {
        EXPECT_EQ(error, "");
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"app.xml", "app.xsd"}));
    CapturingConfiguration reader;
    reader.OpenDocument(file, true);
}

TEST(ConfigurationThreads, NoMessageReachesADestroyedDocument)
{
    TempDir dir;
    WriteFile(dir / "broken.xml", "<configuration><a></configuration>");
    std::thread thread([&] {
        {
            CapturingConfiguration document;
            (void)ErrorOf([&] { document.OpenDocument(dir / "broken.xml", false); });
            ASSERT_FALSE(document.Messages().empty());
        }
        // libxml2 used directly on the same thread after the document is gone: its messages go
        // to libxml2's default channel (standard error), not to the freed object, which the
        // sanitizers would report.
        EXPECT_EQ(xmlGenericErrorContext, nullptr);
        xmlDocPtr doc = xmlReadMemory("<a>", 3, "inline.xml", nullptr, 0);
        EXPECT_EQ(doc, nullptr);
    });
    thread.join();
}

} // namespace
