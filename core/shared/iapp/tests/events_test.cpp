// The events feature on a simulated board's event device: per-event nodes, the callback, the
// board's machine time, and how the reader starts and ends.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "common/board_streams.h"
#include "iapp/features/events.h"
#include "ireg/reg_node.h"
#include "ireg/tests/common/ireg_test_util.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

using Call = std::tuple<uint64_t, uint64_t, uint64_t>;

const std::vector<ifeature::Events::Description> c_table = {{2, "trigger"}, {16, "sync"}};

class EventsTest : public iapptest::EventBoard {
protected:
    void SetUp() override { StartBoard(); }

    // The feature with the table, a recording callback (or none) and its registry.
    void Make(bool withCallback = true, const std::vector<ifeature::Events::Description>& table = c_table)
    {
        ifeature::Events::Callback callback;
        if (withCallback) {
            callback = [this](uint64_t id, uint64_t timestamp, uint64_t value) {
                std::lock_guard<std::mutex> lock(m_callsMutex); // the reader thread
                m_calls.emplace_back(id, timestamp, value);
            };
        }
        events = iapp::Create<ifeature::Events>(*board, "events", eventStream.get(), table, callback);
        events->AddRegistry(top);
        node = events->GetRegistryNode();
        ASSERT_TRUE(node);
    }

    mci::Node At(const mci::Path& path) const { return mci::Node(node, path); }
    uint64_t Value(const mci::Path& path) const
    {
        uint64_t value = 0;
        At(path).Get(value);
        return value;
    }

    // Subscribes the recorder to the four event nodes; notifications read as "trigger/count=1".
    void Watch()
    {
        for (const char* event : {"trigger", "sync"}) {
            for (const char* leaf : {"count", "timestamp"}) {
                const mci::TreeNodePtr leafNode = At({event, leaf}).GetTreeNode();
                labels[leafNode.get()] = std::string(event) + "/" + leaf;
                ASSERT_TRUE(recorder.Subscribe(leafNode));
            }
        }
    }
    std::vector<std::string> Seen()
    {
        std::vector<std::string> seen;
        for (const mci::NotificationData& d : recorder.Received()) {
            seen.push_back(labels[d.node.GetTreeNode().get()] + "=" + std::to_string(std::any_cast<uint64_t>(d.value)));
        }
        return seen;
    }

    // The callback's calls once there are count of them (what there is after ten seconds).
    std::vector<Call> Calls(size_t count = 0)
    {
        WaitUntil([&] {
            std::lock_guard<std::mutex> lock(m_callsMutex);
            return m_calls.size() >= count;
        });
        std::lock_guard<std::mutex> lock(m_callsMutex);
        return m_calls;
    }

    mci::TreeNodePtr top = mci::factory::Create<ireg::RegNode>("registry");
    mci::TreeNodePtr node;
    ifeature::Events* events = nullptr;
    iregtest::Recorder recorder;
    std::map<const mci::TreeNode*, std::string> labels;

private:
    std::mutex m_callsMutex;
    std::vector<Call> m_calls;
};

TEST_F(EventsTest, EventsOfTheTableAreCountedAndTimeStampedInArrivalOrder)
{
    Make();
    Watch();
    root->SetState(3);
    root->PostConfig();
    ASSERT_TRUE(devices->event.WaitForOpen());
    ASSERT_TRUE(devices->event.WriteEvent(2, 7, 100));
    ASSERT_TRUE(devices->event.WriteEvent(40, 1, 150)); // in no description: dropped
    ASSERT_TRUE(devices->event.WriteEvent(16, 8, 200));
    ASSERT_TRUE(devices->event.WriteEvent(2, 9, 300));
    ASSERT_TRUE(recorder.WaitFor(6));
    EXPECT_EQ(Seen(), (std::vector<std::string>{"trigger/count=1", "trigger/timestamp=100", "sync/count=1",
                                                "sync/timestamp=200", "trigger/count=2", "trigger/timestamp=300"}));
    EXPECT_EQ(Calls(3), (std::vector<Call>{{2, 100, 7}, {16, 200, 8}, {2, 300, 9}}));
    EXPECT_EQ(Value({"trigger", "count"}), 2u);
    EXPECT_EQ(Value({"trigger", "timestamp"}), 300u);
    EXPECT_EQ(Value({"sync", "count"}), 1u);

    uint64_t lmt = 77;
    events->GetLastLMT(2, lmt);
    EXPECT_EQ(lmt, 300u);
    events->GetLastLMT(40, lmt); // no record: unchanged
    EXPECT_EQ(lmt, 300u);

    // A client resets a count; the next event counts from there.
    At({"trigger", "count"}).Set(uint64_t{0});
    ASSERT_TRUE(devices->event.WriteEvent(2, 0, 400));
    ASSERT_TRUE(recorder.WaitFor(9));
    EXPECT_EQ(Seen().back(), "trigger/timestamp=400");
    EXPECT_EQ(Value({"trigger", "count"}), 1u);
    EXPECT_EQ(Calls(4).size(), 4u);
}

TEST_F(EventsTest, EventsWithTheLowestAndTheTopIdAreCounted)
{
    Make(true, {{0, "first"}, {isig::c_maxEventId, "top"}});
    root->PostConfig();
    ASSERT_TRUE(devices->event.WaitForOpen());
    ASSERT_TRUE(devices->event.WriteEvent(isig::c_maxEventId, 5, 10));
    ASSERT_TRUE(devices->event.WriteEvent(0, 6, 20));
    ASSERT_TRUE(devices->event.WriteEvent(isig::c_maxEventId, 7, 30));
    EXPECT_EQ(Calls(3), (std::vector<Call>{{63, 10, 5}, {0, 20, 6}, {63, 30, 7}}));
    EXPECT_EQ(Value({"top", "count"}), 2u);
    EXPECT_EQ(Value({"top", "timestamp"}), 30u);
    EXPECT_EQ(Value({"first", "count"}), 1u);
    EXPECT_EQ(eventStream->GetEventCounter(isig::c_maxEventId), 2u);
}

TEST_F(EventsTest, TheNodeTreeAndTheCurrentMachineTime)
{
    Make();
    EXPECT_EQ(At({"current_time"}).GetFlags(), 2u);
    EXPECT_EQ(At({"trigger"}).GetFlags(), 0u);
    EXPECT_EQ(At({"trigger", "timestamp"}).GetFlags(), 2u);
    EXPECT_EQ(At({"trigger", "count"}).GetFlags(), 6u);
    std::vector<std::string> names;
    for (const mci::Node& child : At({}).GetNodes()) {
        names.push_back(child.GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"current_time", "trigger", "sync"}));

    // "current_time" reads the device's clock, moved by the device's offset, through a client of
    // its own that is closed again.
    uint64_t clock = 5000;
    devices->event.SetClock([&clock] { return clock; });
    EXPECT_EQ(Value({"current_time"}), 5000u);
    clock = 123456789;
    EXPECT_EQ(Value({"current_time"}), 123456789u);
    eventStream->AdjustMachineTime(-9);
    EXPECT_EQ(Value({"current_time"}), 123456780u);
    EXPECT_EQ(devices->event.GetOpenDescriptorCount(), 0u);
    EXPECT_EQ(ErrorOf([&] { At({"current_time"}).Set(uint64_t{1}); }), "Node is not writable.");

    // Without a stream that opens, the read fails.
    devices->event.SetOpenFailure(ENODEV);
    EXPECT_THROW(Value({"current_time"}), istd::Exception);
}

TEST_F(EventsTest, WithoutACallbackEventsAreStillCounted)
{
    Make(false);
    root->PostConfig();
    ASSERT_TRUE(devices->event.WriteEvent(16, 1, 10));
    ASSERT_TRUE(devices->event.WriteEvent(16, 1, 20));
    ASSERT_TRUE(WaitUntil([&] { return Value({"sync", "count"}) == 2; }));
    EXPECT_EQ(Value({"sync", "timestamp"}), 20u);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(EventsTest, AReaderThatCannotOpenFailsPostConfig)
{
    Make();
    devices->event.SetOpenFailure(ENODEV);
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_EQ(ErrorOf([&] { root->PostConfig(); }), "pax3.event was not opened in a reasonable time of 2000 ms.");
    EXPECT_TRUE(capture.Contains("event_client: can't open: ")) << capture.Text();

    // Neither is there a stream at all.
    auto* none = iapp::Create<ifeature::Events>(*board, "none", nullptr, c_table, nullptr);
    EXPECT_EQ(ErrorOf([&] { none->OnPostConfig(); }), "none was not opened in a reasonable time of 2000 ms.");
    EXPECT_TRUE(capture.Contains("event_client: can't open: terminated(-5)")) << capture.Text();
}

TEST_F(EventsTest, AReadFailureEndsTheReaderWhichForgetsTheStream)
{
    Make();
    root->PostConfig();
    ASSERT_TRUE(devices->event.WaitForOpen());
    istd::TraceCapture capture(istd::eTraceError);
    devices->event.WriteError(EIO);
    ASSERT_TRUE(WaitUntil([&] { return events->GetStream() == nullptr; }));
    EXPECT_TRUE(WaitUntil([&] { return capture.Contains("event_client: can't read: failure(-1)"); })) << capture.Text();
    EXPECT_TRUE(WaitUntil([&] { return devices->event.GetOpenDescriptorCount() == 0; }));
    // Shutdown has nothing to cancel; the nodes keep their values.
    events->OnShutdown();
    EXPECT_EQ(Value({"trigger", "count"}), 0u);
}

TEST_F(EventsTest, DescriptionsNeedNames)
{
    EXPECT_EQ(ErrorOf([&] {
                  iapp::Create<ifeature::Events>(*board, "events", eventStream.get(),
                                                 std::vector<ifeature::Events::Description>{{3, nullptr}}, nullptr);
              }),
              "ifeature: events: the description of event 3 has no name");
    EXPECT_EQ(board->GetChildren().size(), 1u); // "info" alone
}

} // namespace
