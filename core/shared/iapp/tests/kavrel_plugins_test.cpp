// Plug-ins loaded from a folder: the test plug-ins (tests/e2e/plugins) copied into a folder of the
// test beside entries that are no plug-in; which load, the refusals and their texts, what a
// failed plug-in leaves, and the plug-ins' registry nodes.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_application.h"
#include "iapp/kavrel_plugin_handler.h"
#include "iapp/kavrel_plugins.h"
#include "istd/convert.h"
#include "istd/log.h"
#include "istd/trace_capture.h"
#include "mci/node.h"
#include "tests/support/error_of.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testsupport::ErrorOf;

namespace iapptest {
namespace {

const std::string c_built = IAPP_TEST_PLUGINS_DIR;

size_t CountLines(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

size_t CountLines(const istd::TraceCapture& capture, const std::string& text)
{
    return CountLines(capture.Lines(), text);
}

class PluginsTest : public ::testing::Test {
protected:
    // The folder "plugins": five of the test plug-ins, a text file, a folder, a folder named like
    // a library, a link to nothing and a second name of the good plug-in.
    void SetUp() override
    {
        fs::create_directory(m_plugins);
        for (const char* name : {"good", "throws_istd", "throws_int", "no_entry", "unresolved"}) {
            fs::copy_file(c_built + "/" + name + ".so", Plugin(name));
        }
        testsupport::WriteFile(m_plugins + "/notes.txt", "no plug-in\n");
        fs::create_directory(m_plugins + "/sub");
        fs::create_directory(m_plugins + "/x.so");
        fs::create_symlink(m_dir / "missing.so", m_plugins + "/gone.so");
        fs::create_symlink(Plugin("good"), Plugin("alias"));
    }

    std::string Plugin(const std::string& name) const { return m_plugins + "/" + name + ".so"; }

    // The application's command line with the plug-in folder.
    static void Configure(TestApplication& app, const std::string& pluginDir)
    {
        Argv argv(AppArgs(1, {"-P", pluginDir}));
        ASSERT_TRUE(app.ProcessProgramOptions(argv.Count(), argv.Get()));
    }

    static iapp::KavrelPlugins& Plugins(TestApplication& app)
    {
        return dynamic_cast<iapp::KavrelPlugins&>(*app.GetChildren().at(0));
    }

    static std::vector<iapp::KavrelPluginHandler*> Handlers(TestApplication& app)
    {
        std::vector<iapp::KavrelPluginHandler*> handlers;
        for (const iapp::KavrelObjectPtr& child : Plugins(app).GetChildren()) {
            handlers.push_back(dynamic_cast<iapp::KavrelPluginHandler*>(child.get()));
        }
        return handlers;
    }

    // The probes alive in a plug-in library that stays loaded; -1 when it is not loaded.
    static int ProbesAlive(const std::string& path)
    {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr) {
            return -1;
        }
        auto* alive = reinterpret_cast<int (*)()>(::dlsym(handle, "TestPluginProbesAlive"));
        const int count = alive == nullptr ? -1 : alive();
        ::dlclose(handle);
        return count;
    }

    testsupport::TempDir m_dir{"iapp-plugins"};
    const std::string m_plugins = m_dir / "plugins";
};

// Only the good plug-in loads, whatever the order of the folder; the folder is named without its
// closing "/".
TEST_F(PluginsTest, OnlyTheGoodPluginOfAMixedFolderLoads)
{
    TestApplication app;
    Configure(app, m_plugins);
    const std::string log = m_dir / "app.log";
    ASSERT_TRUE(istd::Log::Init(log));
    istd::TraceCapture capture(istd::eTraceError);
    Plugins(app).Load();
    istd::Log::Stop();

    const std::vector<iapp::KavrelPluginHandler*> handlers = Handlers(app);
    ASSERT_EQ(handlers.size(), 1u);
    const iapp::KavrelPluginHandler& good = *handlers[0];
    EXPECT_EQ(good.GetName(), "good");
    EXPECT_EQ(good.GetVersion(), "2.1");
    EXPECT_EQ(good.GetInfo(), (iapp::KavrelPluginObject::Info{{"author", "kavrel tests"}, {"purpose", "fixture"}}));
    // Through whichever of its two names the folder listed first.
    EXPECT_TRUE(good.GetPath() == Plugin("good") || good.GetPath() == Plugin("alias")) << good.GetPath();
    ASSERT_EQ(good.GetChildren().size(), 1u);
    EXPECT_EQ(good.GetChildren()[0]->GetName(), "probe");

    EXPECT_EQ(CountLines(capture, " is loaded."), 1u);
    EXPECT_TRUE(capture.Contains("Kavrel plugin module " + good.GetPath() + " is loaded."));
    // Every other entry, "." and ".." among them, was a handler that left again.
    EXPECT_EQ(CountLines(capture, "Detached child because of exception in the constructor of derived classes: "), 11u);
    // The plug-ins that threw after making a feature left no feature behind.
    EXPECT_EQ(ProbesAlive(Plugin("throws_istd")), 0);
    EXPECT_EQ(ProbesAlive(Plugin("throws_int")), 0);
    EXPECT_EQ(ProbesAlive(good.GetPath()), 1);

    // Each library that failed is in the log with its reason, the loader's words among them;
    // entries that are no library (".", "..", "sub", "notes.txt") are not.
    const std::string logged = testsupport::ReadFile(log);
    EXPECT_EQ(CountLines(istd::TokenizeString(logged, "\n"), "WARNING Plug-in not loaded: "), 7u) << logged;
    EXPECT_NE(logged.find("WARNING Plug-in not loaded: Failed to load " + Plugin("unresolved") + ". Error Code: " +
                          Plugin("unresolved") + ": undefined symbol: KavrelTestFunctionNobodyDefines\n"),
              std::string::npos)
        << logged;
    EXPECT_EQ(logged.find("notes.txt"), std::string::npos) << logged;
    EXPECT_EQ(logged.find(m_plugins + "/sub"), std::string::npos) << logged;
}

TEST_F(PluginsTest, EachRefusalSaysWhy)
{
    TestApplication app;
    iapp::KavrelPlugins& plugins = Plugins(app);
    auto* good = iapp::Create<iapp::KavrelPluginHandler>(plugins, Plugin("good"));
    const struct {
        std::string entry;
        std::string text; // the whole text, or its beginning when loader text follows
        std::string loader;
    } cases[] = {
        {"sub", "Skipping directory folder " + m_plugins + "/sub", ""},
        {"x.so", "Skipping directory folder " + m_plugins + "/x.so", ""},
        {"notes.txt", "Skipping executable, which is not shared library " + m_plugins + "/notes.txt", ""},
        {"gone.so", "Failed to load " + Plugin("gone") + ". Error Code: ", "No such file or directory"},
        {"unresolved.so", "Failed to load " + Plugin("unresolved") + ". Error Code: ",
         "undefined symbol: KavrelTestFunctionNobodyDefines"},
        {"no_entry.so", "Invalid shared library " + Plugin("no_entry") + " (error= ",
         "undefined symbol: KavrelPluginInstantiate"},
        {"throws_istd.so", "Failed to instantiate kavrel plugin " + Plugin("throws_istd") + ": no licence for this chassis",
         ""},
        {"throws_int.so", "Unknown exception during instantiation of kavrel plugin " + Plugin("throws_int"), ""},
        {"alias.so", "Shared Library " + Plugin("alias") + " is already loaded", ""},
    };
    for (const auto& c : cases) {
        const std::string error =
            ErrorOf([&] { iapp::Create<iapp::KavrelPluginHandler>(plugins, m_plugins + "/" + c.entry); });
        if (c.loader.empty()) {
            EXPECT_EQ(error, c.text) << c.entry;
        } else {
            EXPECT_EQ(error.rfind(c.text, 0), 0u) << error;
            EXPECT_NE(error.find(c.loader), std::string::npos) << error;
        }
        EXPECT_EQ(Handlers(app), std::vector<iapp::KavrelPluginHandler*>{good}) << c.entry;
    }
    EXPECT_EQ(ErrorOf([&] { good->Load(); }), "Shared Library " + Plugin("good") + " is already loaded");
    EXPECT_TRUE(good->IsLoaded());
}

TEST_F(PluginsTest, AFolderThatCannotBeOpenedGivesNoPlugin)
{
    TestApplication app;
    const std::string missing = m_dir / "none/";
    Configure(app, missing);
    istd::TraceCapture capture(istd::eTraceError);
    Plugins(app).Load();
    EXPECT_TRUE(Handlers(app).empty());
    EXPECT_TRUE(
        capture.Contains("Failed to access folder " + missing + " while looking for kavrel application plugins."));
}

// The plug-ins' nodes under application/plugins: "version" and "file_name" read live, the info
// pairs, the features' nodes; a plug-in that never names itself has the empty name. Without a
// plug-in there is no "plugins" node (and here, no "application" node).
TEST_F(PluginsTest, RegistryOfThePlugins)
{
    const std::string only = m_dir / "only";
    fs::create_directory(only);
    fs::copy_file(c_built + "/good.so", only + "/good.so");
    fs::copy_file(c_built + "/nameless.so", only + "/nameless.so");
    const std::string empty = m_dir / "empty";
    fs::create_directory(empty);

    {
        TestApplication app;
        Configure(app, only + "/");
        ASSERT_TRUE(app.Setup());
        const mci::Node plugins = app.GetRegistry().GetNode({"application", "plugins"});
        std::vector<std::string> names;
        for (const mci::TreeNodePtr& node : plugins.GetTreeNode()->GetAllNodes()) {
            names.push_back(node->GetName());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"", "good"}));

        const mci::Node good = plugins.GetNode({"good"});
        EXPECT_EQ(good.GetNode({"version"}).ToString(), "2.1");
        EXPECT_EQ(good.GetNode({"version"}).GetFlags(), mci::Flags(2));
        EXPECT_EQ(good.GetNode({"file_name"}).ToString(), only + "/good.so");
        EXPECT_EQ(good.GetNode({"author"}).ToString(), "kavrel tests");
        EXPECT_EQ(good.GetNode({"purpose"}).GetFlags(), mci::Flags(2));
        EXPECT_EQ(good.GetNode({"probe", "value"}).ToString(), "good probe");
        for (iapp::KavrelPluginHandler* handler : Handlers(app)) {
            if (handler->GetName() == "good") {
                handler->SetVersion("2.2");
            }
        }
        EXPECT_EQ(good.GetNode({"version"}).ToString(), "2.2");
        EXPECT_EQ(mci::Node(plugins.GetTreeNode()->GetNode(""), {"version"}).ToString(), "0.0");
        app.Shutdown();
        app.Destroy();
    }
    {
        TestApplication app;
        Configure(app, empty);
        ASSERT_TRUE(app.Setup());
        EXPECT_TRUE(Handlers(app).empty());
        EXPECT_EQ(app.GetRegistry().GetTreeNode()->GetNode("application"), nullptr);
        app.Shutdown();
        app.Destroy();
    }
}

} // namespace
} // namespace iapptest
