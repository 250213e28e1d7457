// Subscriptions, Emit() and the bool-answering reads and writes that components use.

#include <gtest/gtest.h>

#include <any>

#include "common/ireg_test_util.h"
#include "ireg/reg_value_node.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::Make;
using iregtest::Recorder;
using iregtest::RejectOne;
using mci::c_noRelPath;

namespace {

using IntNode = ireg::RegValueNode<int32_t>;

// The storage an enumeration node keeps, with the enumeration's value type.
class EnumLikeNode : public IntNode {
public:
    using IntNode::IntNode;
    mci::enums::NodeValType_e OnGetValueType(const mci::Path&) const override { return mci::enums::eEnumeration; }
};

// A node whose reads deliver nothing.
class SilentNode : public IntNode {
public:
    using IntNode::IntNode;
    using IntNode::OnGet;
    size_t OnGet(int32_t*, size_t, size_t) const override { return 0; }
};

TEST(Subscription, AClientIsKeptOnce)
{
    auto node = Make<IntNode>("x", 1);
    const mci::ClientId client;
    EXPECT_TRUE(node->Subscribe(client));
    EXPECT_FALSE(node->Subscribe(client));
    EXPECT_TRUE(node->Unsubscribe(client));
    EXPECT_FALSE(node->Unsubscribe(client));
}

// Unsubscribing without unregistering drops the client from the node only: the dispatcher
// still has it, and the node sends it nothing more.
TEST(Subscription, UnsubscribeWithoutUnregisterLeavesTheDispatcher)
{
    auto node = Make<IntNode>("x", 1);
    Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(node));
    EXPECT_TRUE(node->Unsubscribe(recorder.Client()->GetId(), c_noRelPath, false));
    EXPECT_FALSE(node->EmitValue(2, 0));
    EXPECT_FALSE(node->Emit());
    EXPECT_TRUE(mci::Dispatcher::GetInstance().Unregister(recorder.Client()->GetId(), mci::Node(node, c_noRelPath)));
}

// A node that goes away takes its clients' records in the dispatcher with it.
TEST(Subscription, ADestroyedNodeUnregistersItsClients)
{
    Recorder recorder;
    const mci::ClientId& client = recorder.Client()->GetId();
    auto node = Make<IntNode>("x", 1);
    ASSERT_TRUE(recorder.Subscribe(node));
    const mci::TreeNodeId id = node->GetId();
    node.reset();
    EXPECT_FALSE(mci::Dispatcher::GetInstance().Unregister(id, c_noRelPath, {client}));

    // The same call finds a record while the node lives.
    auto living = Make<IntNode>("y", 1);
    ASSERT_TRUE(recorder.Subscribe(living));
    EXPECT_TRUE(mci::Dispatcher::GetInstance().Unregister(living->GetId(), c_noRelPath, {client}));
}

TEST(Subscription, ANodeWithoutOwnerCannotBeSubscribed)
{
    IntNode loose("x", 1);
    EXPECT_THROW(loose.Subscribe(mci::ClientId()), std::bad_weak_ptr);
    // Nobody listens, so a set needs no handle of the node and succeeds.
    loose.Set(5, 0, c_noRelPath);
    int32_t value = 0;
    loose.Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 5);
}

TEST(Emit, SendsTheCurrentValueByValueType)
{
    auto scalar = Make<IntNode>("s", 4);
    auto array = Make<ireg::RegValueNode<double>>("a", std::vector<double>{1.5, 2.5}, mci::Flags(6));
    auto enumLike = Make<EnumLikeNode>("e", 238);
    auto box = Make<ireg::RegNode>("box");
    Recorder recorder;
    for (const mci::TreeNodePtr& node : {mci::TreeNodePtr(scalar), mci::TreeNodePtr(array), mci::TreeNodePtr(enumLike),
                                         mci::TreeNodePtr(box)}) {
        ASSERT_TRUE(recorder.Subscribe(node));
    }
    EXPECT_TRUE(scalar->Emit());
    EXPECT_TRUE(array->Emit());
    EXPECT_TRUE(enumLike->Emit());
    EXPECT_FALSE(box->Emit());

    ASSERT_TRUE(recorder.WaitFor(3));
    const auto r = recorder.Received();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(std::any_cast<int32_t>(r[0].value), 4);
    EXPECT_EQ(std::any_cast<std::vector<double>>(r[1].value), (std::vector<double>{1.5, 2.5}));
    EXPECT_EQ(r[1].position, 0u);
    EXPECT_EQ(std::any_cast<int32_t>(r[2].value), 238);
}

// A failed read has no value to send: Emit() sends nothing rather than a value it never read.
TEST(Emit, AFailedReadSendsNothing)
{
    auto silent = Make<SilentNode>("quiet", 3);
    auto unreadable = Make<IntNode>("hidden", 3, mci::Flags(mci::enums::eWritable));
    auto marker = Make<IntNode>("marker", 0);
    Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(silent));
    ASSERT_TRUE(recorder.Subscribe(unreadable));
    ASSERT_TRUE(recorder.Subscribe(marker));

    EXPECT_FALSE(silent->Emit());
    EXPECT_FALSE(unreadable->Emit());
    EXPECT_TRUE(marker->Emit());
    ASSERT_TRUE(recorder.WaitFor(1));
    const auto r = recorder.Received();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].node.GetName(), "marker");
}

TEST(Emit, WithoutSubscribersNothingIsSent)
{
    auto node = Make<IntNode>("x", 1);
    EXPECT_FALSE(node->Emit());
    EXPECT_FALSE(node->EmitValue(3, 0));
    EXPECT_NO_THROW(node->Set(3, 0, c_noRelPath));
}

TEST(BoolTwins, GetValueAnswersFalseAndTraces)
{
    auto node = Make<IntNode>("x", 9, mci::Flags(mci::enums::eWritable));
    istd::TraceCapture capture(istd::eTraceError);
    int32_t value = 0;
    std::vector<int32_t> values;
    EXPECT_FALSE(node->GetValue(value));
    EXPECT_FALSE(node->GetValue(values, 0, 0));
    EXPECT_TRUE(capture.Contains("Cannot get value ireg node x: TreeNode is not readable."));

    auto readable = Make<IntNode>("y", 9);
    EXPECT_TRUE(readable->GetValue(value));
    EXPECT_EQ(value, 9);
}

// SetValue is for the program's own writes: it refuses a constant node but writes a read-only
// one, validates, notifies, and answers false where the typed set throws.
TEST(BoolTwins, SetValueWritesReadOnlyNodesButNotConstants)
{
    auto readOnly = Make<IntNode>("ro", 1, mci::Flags(mci::enums::eReadable));
    auto constant = Make<IntNode>("c", 1, mci::Flags(mci::enums::eReadable | mci::enums::eConstant));
    readOnly->SetValidator(std::make_shared<RejectOne<int32_t>>(13));
    Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(readOnly));

    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_TRUE(readOnly->SetValue(7));
    EXPECT_FALSE(readOnly->SetValue(13));
    EXPECT_FALSE(readOnly->SetValue(1, 1));
    EXPECT_FALSE(constant->SetValue(7));
    EXPECT_TRUE(capture.Contains("Cannot set value ireg: ro: Validation failed: T[reject] for 13"));
    EXPECT_TRUE(capture.Contains("Cannot set value ireg: ro: Position out of range"));
    EXPECT_TRUE(capture.Contains("Cannot set value ireg: c: Node is a constant."));

    int32_t value = 0;
    readOnly->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 7);
    constant->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(std::any_cast<int32_t>(recorder.Received().at(0).value), 7);
}

TEST(BoolTwins, ApplyAndEmitValueSkipsTheAccessTestsAndKeepsTheCause)
{
    auto constant = Make<IntNode>("c", 1, mci::Flags(mci::enums::eReadable | mci::enums::eConstant));
    constant->ApplyAndEmitValue(5, 0);
    constant->ApplyAndEmitValue(std::vector<int32_t>{6}, 0);
    int32_t value = 0;
    constant->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(ErrorOf([&] { constant->ApplyAndEmitValue(5, 1); }), "Position out of range");
}

} // namespace
