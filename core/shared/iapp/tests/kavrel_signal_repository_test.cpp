// The signal repository in the registry: the process's signal sources copied, in id order, under
// the application's node when the application starts running, or under the registry root when
// the application has no node.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/test_application.h"
#include "isig/signal_source.h"
#include "isig/tests/common/test_source.h"
#include "istd/trace_capture.h"
#include "mci/node.h"
#include "tests/support/temp_dir.h"

namespace iapptest {
namespace {

class SignalRepositoryTest : public ::testing::Test {
protected:
    // Starts the application without plug-ins.
    void Start(TestApplication& app)
    {
        Argv argv(AppArgs(1, {"-P", m_dir.Path()}));
        ASSERT_TRUE(app.ProcessProgramOptions(argv.Count(), argv.Get()));
        ASSERT_TRUE(app.Setup());
    }

    static std::vector<std::string> Children(const mci::Node& node)
    {
        std::vector<std::string> names;
        for (const mci::TreeNodePtr& child : node.GetTreeNode()->GetAllNodes()) {
            names.push_back(child->GetName());
        }
        return names;
    }

    testsupport::TempDir m_dir{"iapp-signals"};
};

// Ids 10 and 2, made in that order: the nodes follow the ids, in decimal without leading zeros.
TEST_F(SignalRepositoryTest, SourcesUnderTheApplicationInIdOrder)
{
    using Counter = istd::Id<isig::IdSignalSource>;
    Counter::m_lastValue = 9;
    auto ten = std::make_unique<isigtest::TestSource>("history", "pax4");
    Counter::m_lastValue = 1;
    auto two = std::make_unique<isigtest::TestSource>("events", "pax3");
    ASSERT_EQ(ten->GetId(), 10u);
    ASSERT_EQ(two->GetId(), 2u);

    TestApplication app;
    app.AddSetting("label", "x");
    Start(app);
    const mci::Node signals = app.GetRegistry().GetNode({"application", "signals"});
    EXPECT_EQ(signals.GetFlags(), mci::Flags(0x40));
    EXPECT_EQ(Children(signals), (std::vector<std::string>{"signal_2", "signal_10"}));
    EXPECT_EQ(signals.GetNode({"signal_2", "name"}).ToString(), "events");
    EXPECT_EQ(signals.GetNode({"signal_2", "owner"}).ToString(), "pax3");
    EXPECT_EQ(signals.GetNode({"signal_10", "name"}).ToString(), "history");
    EXPECT_EQ(signals.GetNode({"signal_10", "owner"}).ToString(), "pax4");
    EXPECT_EQ(Children(signals.GetNode({"signal_10"})), (std::vector<std::string>{"name", "owner"}));

    // Copies: a source that goes later leaves its nodes as they were.
    two.reset();
    EXPECT_EQ(signals.GetNode({"signal_2", "name"}).ToString(), "events");
    app.Shutdown();
    app.Destroy();
}

// An application that adds no node of its own has no node "application": the subtree goes under
// the root, with the warning. An empty repository gives the node alone.
TEST_F(SignalRepositoryTest, UnderTheRootWhenTheParentHasNoNode)
{
    TestApplication app;
    istd::TraceCapture capture(istd::eTraceError);
    Start(app);
    EXPECT_TRUE(capture.Contains("Warning: Parent object of KavrelSignalRepository module does not have registry "
                                 "interface. Signal repository is exposed under registry root node."));
    const mci::Node root = app.GetRegistry();
    EXPECT_EQ(root.GetTreeNode()->GetNode("application"), nullptr);
    EXPECT_EQ(root.GetNode({"signals"}).GetFlags(), mci::Flags(0x40));
    EXPECT_TRUE(root.GetNode({"signals"}).IsLeaf());
    app.Shutdown();
    app.Destroy();
}

} // namespace
} // namespace iapptest
