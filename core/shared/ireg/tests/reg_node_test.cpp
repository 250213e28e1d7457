// The typed get and set of the registry node, over the eight value types: the order of the
// checks, the texts and their prefixes, slices of vector reads, validation of every element,
// refused types, and the notifications a set sends.

#include <gtest/gtest.h>

#include <any>
#include <limits>

#include "common/ireg_test_util.h"
#include "ireg/reg_value_node.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::Make;
using iregtest::Recorder;
using iregtest::RejectOne;
using iregtest::Sample;
using mci::c_noRelPath;

namespace {

constexpr mci::Flags c_rw = mci::enums::eReadable | mci::enums::eWritable;

template <class T>
class RegNodeTypes : public ::testing::Test {
protected:
    using Node = ireg::RegValueNode<T>;
    using Other = typename Sample<T>::Other;

    const std::vector<T> v = Sample<T>::Values();

    std::shared_ptr<Node> Scalar(mci::Flags flags = c_rw)
    {
        return Make<Node>("x", v[0], flags);
    }
    std::shared_ptr<Node> Array(mci::Flags flags = c_rw)
    {
        return Make<Node>("x", std::vector<T>{v[0], v[1], v[0]}, flags);
    }
    std::vector<T> All(const std::shared_ptr<Node>& node)
    {
        std::vector<T> out;
        node->Get(out, 0, 0, c_noRelPath);
        return out;
    }
};

using ValueTypes = ::testing::Types<bool, int32_t, uint32_t, int64_t, uint64_t, double, float, std::string>;
TYPED_TEST_SUITE(RegNodeTypes, ValueTypes);

TYPED_TEST(RegNodeTypes, ScalarAndVectorValuesRoundTrip)
{
    auto node = this->Array();
    node->Set(this->v[2], 1, c_noRelPath);
    TypeParam one{};
    node->Get(one, 1, c_noRelPath);
    EXPECT_EQ(one, this->v[2]);

    node->Set(std::vector<TypeParam>{this->v[1], this->v[2]}, 0, c_noRelPath);
    EXPECT_EQ(this->All(node), (std::vector<TypeParam>{this->v[1], this->v[2], this->v[0]}));
}

// Not writable is tested first and travels without prefix; every later failure of a set
// carries "ireg: x: ", every failure of a get "ireg node x: ".
TYPED_TEST(RegNodeTypes, ChecksComeInOrderWithTheirPrefixes)
{
    using T = TypeParam;
    const T value = this->v[1];
    const std::vector<T> values{value};

    auto constantReadOnly = this->Scalar(mci::enums::eReadable | mci::enums::eConstant);
    EXPECT_EQ(ErrorOf([&] { constantReadOnly->Set(value, 0, c_noRelPath); }), "Node is not writable.");
    EXPECT_EQ(ErrorOf([&] { constantReadOnly->Set(values, 0, c_noRelPath); }), "Node is not writable.");

    auto constant = this->Scalar(c_rw | mci::enums::eConstant);
    EXPECT_EQ(ErrorOf([&] { constant->Set(value, 0, c_noRelPath); }), "ireg: x: Node is a constant.");
    EXPECT_EQ(ErrorOf([&] { constant->Set(values, 0, c_noRelPath); }), "ireg: x: Node is a constant.");

    auto writeOnly = this->Scalar(mci::enums::eWritable);
    T out{};
    std::vector<T> outs;
    EXPECT_EQ(ErrorOf([&] { writeOnly->Get(out, 0, c_noRelPath); }), "ireg node x: TreeNode is not readable.");
    EXPECT_EQ(ErrorOf([&] { writeOnly->Get(outs, 0, 1, c_noRelPath); }), "ireg node x: TreeNode is not readable.");

    // Nothing above changed a value.
    EXPECT_EQ(this->All(constant), std::vector<T>{this->v[0]});
}

TYPED_TEST(RegNodeTypes, PositionsAndSizesAreChecked)
{
    using T = TypeParam;
    auto node = this->Array(); // size 3
    const std::vector<T> before = this->All(node);
    T out{};
    std::vector<T> outs;

    EXPECT_EQ(ErrorOf([&] { node->Set(this->v[2], 3, c_noRelPath); }), "ireg: x: Position out of range");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<T>{this->v[2]}, 3, c_noRelPath); }), "ireg: x: Position out of range");
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<T>(3, this->v[2]), 1, c_noRelPath); }), "ireg: x: Size too large");
    EXPECT_EQ(ErrorOf([&] { node->Get(out, 3, c_noRelPath); }), "ireg node x: Position out of range");
    EXPECT_EQ(ErrorOf([&] { node->Get(outs, 3, 1, c_noRelPath); }), "ireg node x: Position out of range");
    EXPECT_EQ(this->All(node), before);
}

TYPED_TEST(RegNodeTypes, VectorReadsAreClippedToWhatRemains)
{
    using T = TypeParam;
    auto node = this->Array(); // v0 v1 v0
    struct Case {
        size_t pos, count;
        std::vector<T> expected;
    };
    const std::vector<Case> cases{
        {0, 0, {this->v[0], this->v[1], this->v[0]}}, // count 0: the whole node
        {1, 0, {this->v[1], this->v[0]}},             // ... from the position on
        {1, 1, {this->v[1]}},
        {1, 10, {this->v[1], this->v[0]}}, // more than remains: what remains
        {2, std::numeric_limits<size_t>::max(), {this->v[0]}},
    };
    for (const Case& c : cases) {
        std::vector<T> out{this->v[2], this->v[2], this->v[2], this->v[2], this->v[2]};
        node->Get(out, c.pos, c.count, c_noRelPath);
        EXPECT_EQ(out, c.expected) << "pos " << c.pos << " count " << c.count;
    }
}

// A remote client chooses the count: the vector must be sized to what the node holds, or a
// count of 0xFFFFFFFF would allocate billions of elements before the position is even tested.
TYPED_TEST(RegNodeTypes, AHugeCountAllocatesOnlyWhatTheNodeHolds)
{
    using T = TypeParam;
    auto node = this->Array();
    std::vector<T> out;
    node->Get(out, 1, 0xFFFFFFFFu, c_noRelPath);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_LE(out.capacity(), 64u); // a packed bool vector holds at least one word

    std::vector<T> beyond;
    EXPECT_EQ(ErrorOf([&] { node->Get(beyond, 7, 0xFFFFFFFFu, c_noRelPath); }), "ireg node x: Position out of range");
    EXPECT_LE(beyond.capacity(), 64u);
}

TYPED_TEST(RegNodeTypes, AnEmptyNodeReadsEmptyReadableOrNot)
{
    using T = TypeParam;
    for (mci::Flags flags : {c_rw, mci::Flags(mci::enums::eWritable)}) {
        auto node = mci::factory::Create<ireg::RegValueNode<T>>("x", std::vector<T>{}, flags);
        std::vector<T> out{this->v[0]};
        node->Get(out, 0, 0, c_noRelPath);
        EXPECT_TRUE(out.empty());
    }
}

// The validator sees every element before anything is stored; the third one is refused, so
// the node keeps its values and sends nothing.
TYPED_TEST(RegNodeTypes, ARefusedElementStoresAndSendsNothing)
{
    using T = TypeParam;
    auto node = this->Array();
    node->SetValidator(std::make_shared<RejectOne<T>>(this->v[2]));
    Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(node));
    const std::vector<T> before = this->All(node);

    const std::string refused = std::string("ireg: x: Validation failed: T[reject] for ") + Sample<T>::c_thirdText;
    EXPECT_EQ(ErrorOf([&] { node->Set(std::vector<T>{this->v[1], this->v[0], this->v[2]}, 0, c_noRelPath); }), refused);
    EXPECT_EQ(ErrorOf([&] { node->Set(this->v[2], 2, c_noRelPath); }), refused);
    EXPECT_EQ(this->All(node), before);

    // Notifications arrive in order: if a refused set had sent one, it would come first.
    node->Set(this->v[1], 2, c_noRelPath);
    ASSERT_TRUE(recorder.WaitFor(1));
    const auto received = recorder.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::any_cast<std::vector<T>>(received[0].value), std::vector<T>{this->v[1]});
    EXPECT_EQ(received[0].position, 2u);
}

TYPED_TEST(RegNodeTypes, AnotherTypeIsRefusedWithTheNodesName)
{
    using Other = typename TestFixture::Other;
    auto node = this->Array();
    Other value{};
    std::vector<Other> values{Other{}};
    const std::string set = "ireg: x: x: unsupported argument type while setting a node value";
    const std::string get = "ireg node x: x: unsupported argument type while getting a node value";
    EXPECT_EQ(ErrorOf([&] { node->Set(value, 0, c_noRelPath); }), set);
    EXPECT_EQ(ErrorOf([&] { node->Set(values, 0, c_noRelPath); }), set);
    EXPECT_EQ(ErrorOf([&] { node->Get(value, 0, c_noRelPath); }), get);
    EXPECT_EQ(ErrorOf([&] { node->Get(values, 0, 1, c_noRelPath); }), get);
}

// What a set sends: the value on a scalar node, a one-element vector with its position on an
// array node, a vector with its position for a vector set, nothing for an empty vector.
TYPED_TEST(RegNodeTypes, ASetSendsTheValueShapedForTheNode)
{
    using T = TypeParam;
    auto scalar = this->Scalar();
    auto array = this->Array();
    Recorder recorder;
    ASSERT_TRUE(recorder.Subscribe(scalar));
    ASSERT_TRUE(recorder.Subscribe(array));

    scalar->Set(this->v[2], 0, c_noRelPath);
    array->Set(this->v[2], 2, c_noRelPath);
    array->Set(std::vector<T>{this->v[1], this->v[2]}, 1, c_noRelPath);
    scalar->Set(std::vector<T>{this->v[1]}, 0, c_noRelPath);
    array->Set(std::vector<T>{}, 1, c_noRelPath);
    scalar->Set(this->v[0], 0, c_noRelPath); // marker: nothing came between

    ASSERT_TRUE(recorder.WaitFor(5));
    const auto r = recorder.Received();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].node.GetTreeNode(), scalar);
    EXPECT_EQ(r[0].type, mci::enums::eValueChanged);
    EXPECT_EQ(std::any_cast<T>(r[0].value), this->v[2]);
    EXPECT_EQ(r[0].position, 0u);
    EXPECT_EQ(r[1].node.GetTreeNode(), array);
    EXPECT_EQ(std::any_cast<std::vector<T>>(r[1].value), std::vector<T>{this->v[2]});
    EXPECT_EQ(r[1].position, 2u);
    EXPECT_EQ(std::any_cast<std::vector<T>>(r[2].value), (std::vector<T>{this->v[1], this->v[2]}));
    EXPECT_EQ(r[2].position, 1u);
    EXPECT_EQ(std::any_cast<T>(r[3].value), this->v[1]);
    EXPECT_EQ(std::any_cast<T>(r[4].value), this->v[0]);
}

// ---------------------------------------------------------------------------------------------

// A function-like node whose read delivers nothing.
class SilentNode : public ireg::RegTypeNode<int32_t> {
public:
    explicit SilentNode(const std::string& name) : RegTypeNode(name) {}
    size_t OnGetSize(const mci::Path&) const override { return 4; }
    using RegTypeNode::OnGet;
    size_t OnGet(int32_t*, size_t, size_t) const override { return 0; }
};

TEST(RegNode, AReadThatDeliversNothingFails)
{
    auto node = mci::factory::Create<SilentNode>("s");
    int32_t value = 0;
    std::vector<int32_t> values;
    EXPECT_EQ(ErrorOf([&] { node->Get(value, 0, c_noRelPath); }), "ireg node s: Unable to get value.");
    EXPECT_EQ(ErrorOf([&] { node->Get(values, 1, 2, c_noRelPath); }), "ireg node s: Unable to get value.");
}

TEST(RegNode, AContainerHoldsNoValue)
{
    auto node = Make<ireg::RegNode>("box");
    EXPECT_EQ(node->GetFlags(), c_rw);
    EXPECT_EQ(node->GetValueType(), mci::enums::eNone);
    EXPECT_EQ(ErrorOf([&] { node->Set(1, 0, c_noRelPath); }), "ireg: box: Position out of range");
    std::vector<int32_t> out;
    node->Get(out, 0, 0, c_noRelPath);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(node->Emit());
}

TEST(RegNode, ArgumentChecksOfTheHooks)
{
    auto node = Make<ireg::RegValueNode<int32_t>>("a", size_t(5), 0, c_rw);
    EXPECT_NO_THROW(node->VerifySetArgs(4, 1));
    EXPECT_EQ(ErrorOf([&] { node->VerifySetArgs(5, 0); }), "Position out of range");
    EXPECT_EQ(ErrorOf([&] { node->VerifySetArgs(3, 3); }), "Size too large");
    EXPECT_EQ(node->VerifyGetArgs(2, 0), 0u);
    EXPECT_EQ(node->VerifyGetArgs(2, 10), 3u);
    EXPECT_EQ(ErrorOf([&] { node->VerifyGetArgs(5, 1); }), "Position out of range");
}

// A validator that does not take the node's type fails the set like a refusal.
TEST(RegNode, AValidatorOfAnotherTypeFailsTheSet)
{
    auto node = Make<ireg::RegValueNode<int32_t>>("x", 3);
    node->SetValidator(std::make_shared<RejectOne<uint32_t>>(9u));
    EXPECT_EQ(ErrorOf([&] { node->Set(4, 0, c_noRelPath); }), "ireg: x: reject: Invalid type int32_t in validation.");
    int32_t value = 0;
    node->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, 3);
}

TEST(RegNode, ValidatorIsKeptAndShownAsText)
{
    auto node = Make<ireg::RegValueNode<int32_t>>("x", 3);
    std::string text = "stale";
    EXPECT_TRUE(node->GetValidatorExpression(text));
    EXPECT_EQ(text, "");
    auto validator = std::make_shared<RejectOne<int32_t>>(5);
    node->SetValidator(validator);
    EXPECT_EQ(node->GetValidator(), validator);
    EXPECT_TRUE(node->GetValidatorExpression(text));
    EXPECT_EQ(text, "T[reject]");
    node->SetValidator(nullptr);
    EXPECT_EQ(node->GetValidator(), nullptr);
    node->Set(5, 0, c_noRelPath);
}

// The factory form that attaches a validator reaches SetValidator.
TEST(RegNode, TheFactoryAttachesAValidator)
{
    auto validator = std::make_shared<RejectOne<int32_t>>(5);
    auto node = mci::factory::Create<ireg::RegValueNode<int32_t>>(validator, "x", 3);
    EXPECT_EQ(ErrorOf([&] { node->Set(5, 0, c_noRelPath); }), "ireg: x: Validation failed: T[reject] for 5");
}

TEST(RegNode, BoolVectorSetTestsThePositionAlsoWhenEmpty)
{
    auto empty = mci::factory::Create<ireg::RegValueNode<bool>>("b", std::vector<bool>{}, c_rw);
    EXPECT_EQ(ErrorOf([&] { empty->Set(std::vector<bool>{}, 0, c_noRelPath); }), "ireg: b: Position out of range");
    auto ints = mci::factory::Create<ireg::RegValueNode<int32_t>>("i", std::vector<int32_t>{}, c_rw);
    EXPECT_NO_THROW(ints->Set(std::vector<int32_t>{}, 0, c_noRelPath));
}

// A text literal reaches the string overload, not the bool one.
TEST(RegNode, ATextLiteralIsAString)
{
    auto node = Make<ireg::RegValueNode<std::string>>("s", std::string("a"));
    node->Set("text", 0, c_noRelPath);
    EXPECT_TRUE(node->SetValue("more"));
    std::string value;
    node->Get(value, 0, c_noRelPath);
    EXPECT_EQ(value, "more");
}

} // namespace
