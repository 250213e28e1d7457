// The short typed set and get of value and reference nodes against the general sequence: one
// script of sets and gets (every check of both, a validator set and removed, a subscriber added
// and removed between sets, tracing on) runs on a node of the very kind, which may take the
// short path, and on a node of a class derived from it without any change, which never does.
// Their texts, stored values and notifications must be the same. A subclass that overrides
// the store hook must have it called on every set.

#include <gtest/gtest.h>

#include <any>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/ireg_test_util.h"
#include "ireg/reg_reference_node.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"

using iregtest::Make;
using iregtest::Recorder;
using iregtest::RejectOne;
using mci::c_noRelPath;
using testsupport::ErrorOf;

namespace {

// The same kind, but another class: the short path refuses it.
template <class Node>
class Derived : public Node {
public:
    using Node::Node;
};

// A subclass whose store hook counts the values it is given.
template <class Node>
class Hooked : public Node {
public:
    using Node::Node;
    using Node::OnSet;
    void OnSet(const int32_t* values, size_t pos, size_t count) override
    {
        stored += count;
        Node::OnSet(values, pos, count);
    }
    size_t stored = 0;
};

using ValueNode = ireg::RegValueNode<int32_t>;
using ReferenceNode = ireg::RegReferenceNode<int32_t>;

// Makes a node of the kind (as it is, Derived or Hooked) with the flags; referents for
// reference nodes are kept by the caller.
enum Variant_e { eExact, eDerived, eHooked };
using Maker = std::function<std::shared_ptr<ireg::RegNode>(Variant_e, mci::Flags, std::deque<int32_t>&)>;

template <class Node, class... Extra>
std::shared_ptr<ireg::RegNode> MakeVariant(Variant_e variant, mci::Flags flags, Extra&&... extra)
{
    switch (variant) {
    case eExact:
        return Make<Node>("n", extra..., flags);
    case eDerived:
        return Make<Derived<Node>>("n", extra..., flags);
    default:
        return Make<Hooked<Node>>("n", extra..., flags);
    }
}

const Maker c_valueNode = [](Variant_e variant, mci::Flags flags, std::deque<int32_t>&) {
    return MakeVariant<ValueNode>(variant, flags, int32_t(1));
};
const Maker c_referenceNode = [](Variant_e variant, mci::Flags flags, std::deque<int32_t>& referents) {
    referents.push_back(1);
    return MakeVariant<ReferenceNode>(variant, flags, referents.back());
};

// What a script did: one line per step, then the notifications received.
struct Outcome {
    std::vector<std::string> steps;
    std::vector<std::string> notifications;
    size_t stores = 0; // successful sets
};

Outcome RunScript(const std::shared_ptr<ireg::RegNode>& node)
{
    Outcome out;
    auto set = [&](int32_t value, size_t pos) {
        const std::string error = ErrorOf([&] { node->Set(value, pos, c_noRelPath); });
        out.stores += error == "no error" ? 1 : 0;
        out.steps.push_back("set " + std::to_string(value) + " @" + std::to_string(pos) + ": " + error);
    };
    auto get = [&](size_t pos) {
        int32_t value = -1;
        const std::string error = ErrorOf([&] { node->Get(value, pos, c_noRelPath); });
        out.steps.push_back("get @" + std::to_string(pos) + ": " + error + " " + std::to_string(value));
    };
    // The checks: position on either side of the size; a vector too long for the node.
    set(5, 0);
    get(0);
    set(6, 1);
    get(1);
    out.steps.push_back("vector: " + ErrorOf([&] { node->Set(std::vector<int32_t>{1, 2}, 0, c_noRelPath); }));
    get(0);
    // A validator refuses one value, then is removed.
    node->SetValidator(std::make_shared<RejectOne<int32_t>>(7));
    set(7, 0);
    set(8, 0);
    get(0);
    node->SetValidator(nullptr);
    set(7, 0);
    get(0);
    // A subscriber for the first set only, then again for the third.
    Recorder recorder;
    const bool subscribed = recorder.Subscribe(node);
    set(9, 0);
    recorder.Client()->Unregister(mci::Node(node, c_noRelPath));
    set(10, 0);
    if (subscribed) {
        recorder.Subscribe(node);
    }
    set(11, 0);
    get(0);
    // With tracing on, the general sequence runs with its trace scopes.
    {
        istd::TraceCapture capture(istd::eTraceScope);
        set(12, 0);
        get(0);
        set(13, 1);
        const std::string text = capture.Text();
        for (const char* scope : {"-> void ireg::RegNode::Set(const int32_t&, size_t, const mci::Path&)",
                                  "-> void ireg::RegNode::Get(int32_t&, size_t, const mci::Path&) const"}) {
            size_t count = 0;
            for (size_t at = text.find(scope); at != std::string::npos; at = text.find(scope, at + 1)) {
                ++count;
            }
            out.steps.push_back(std::string(scope) + " x" + std::to_string(count));
        }
    }
    get(0);
    if (subscribed) {
        const size_t expected = (node->GetFlags() & mci::enums::eConstant) != 0 || !node->IsWritable() ? 0 : 3;
        recorder.WaitFor(expected);
    }
    for (const mci::NotificationData& data : recorder.Received()) {
        const int32_t* value = std::any_cast<int32_t>(&data.value);
        out.notifications.push_back((value ? std::to_string(*value) : std::string("?")) + " @" +
                                    std::to_string(data.position) +
                                    (data.node.GetTreeNode() == node ? "" : " from another node"));
    }
    return out;
}

TEST(RegNodePaths, ShortAndGeneralPathsAgree)
{
    struct Case {
        const char* kind;
        const Maker* make;
        mci::Flags flags;
    };
    using namespace mci::enums;
    const Case cases[] = {
        {"value", &c_valueNode, eReadable | eWritable},
        {"value", &c_valueNode, eReadable},
        {"value", &c_valueNode, eWritable},
        {"value", &c_valueNode, eReadable | eWritable | eConstant},
        {"value", &c_valueNode, eReadable | eConstant},
        {"value", &c_valueNode, eReadable | eWritable | ePersistent},
        {"reference", &c_referenceNode, eReadable | eWritable},
        {"reference", &c_referenceNode, eReadable},
        {"reference", &c_referenceNode, eWritable},
        {"reference", &c_referenceNode, eReadable | eWritable | eConstant},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " node, flags " + std::to_string(c.flags));
        std::deque<int32_t> referents;
        const Outcome general = RunScript((*c.make)(eDerived, c.flags, referents));
        const Outcome exact = RunScript((*c.make)(eExact, c.flags, referents));
        EXPECT_EQ(exact.steps, general.steps);
        EXPECT_EQ(exact.notifications, general.notifications);

        auto hooked = std::static_pointer_cast<ireg::RegNode>((*c.make)(eHooked, c.flags, referents));
        const Outcome withHook = RunScript(hooked);
        EXPECT_EQ(withHook.steps, general.steps);
        EXPECT_EQ(withHook.notifications, general.notifications);
        const size_t hookStores = c.kind == std::string("value")
                                      ? std::static_pointer_cast<Hooked<ValueNode>>(hooked)->stored
                                      : std::static_pointer_cast<Hooked<ReferenceNode>>(hooked)->stored;
        EXPECT_EQ(hookStores, withHook.stores);
    }
}

// The outcome that every row above is compared with, spelled out once for the plain node.
TEST(RegNodePaths, TheScriptOnAPlainNode)
{
    std::deque<int32_t> referents;
    const Outcome plain = RunScript(c_valueNode(eExact, mci::enums::eReadable | mci::enums::eWritable, referents));
    const std::vector<std::string> expected = {
        "set 5 @0: no error",
        "get @0: no error 5",
        "set 6 @1: ireg: n: Position out of range",
        "get @1: ireg node n: Position out of range -1",
        "vector: ireg: n: Size too large",
        "get @0: no error 5",
        "set 7 @0: ireg: n: Validation failed: T[reject] for 7",
        "set 8 @0: no error",
        "get @0: no error 8",
        "set 7 @0: no error",
        "get @0: no error 7",
        "set 9 @0: no error",
        "set 10 @0: no error",
        "set 11 @0: no error",
        "get @0: no error 11",
        "set 12 @0: no error",
        "get @0: no error 12",
        "set 13 @1: ireg: n: Position out of range",
        "-> void ireg::RegNode::Set(const int32_t&, size_t, const mci::Path&) x2",
        "-> void ireg::RegNode::Get(int32_t&, size_t, const mci::Path&) const x1",
        "get @0: no error 12",
    };
    EXPECT_EQ(plain.steps, expected);
    EXPECT_EQ(plain.notifications, (std::vector<std::string>{"9 @0", "11 @0", "12 @0"}));
}

} // namespace
