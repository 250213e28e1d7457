#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "common/test_nodes.h"
#include "istd/trace_capture.h"
#include "mci/mci.h"
#include "tests/support/error_of.h"

using mci::c_noRelPath;
using mci::Path;
using mci::TreeNode;
using mci::TreeNodePtr;
using mcitest::CountingNode;
using mcitest::ValueNode;
using testsupport::ErrorOf;

namespace {

TreeNodePtr Plain(const std::string& name, mci::Flags flags = TreeNode::c_defaultFlags)
{
    return mci::factory::Create<TreeNode>(name, flags);
}

std::vector<std::string> Names(const std::vector<TreeNodePtr>& nodes)
{
    std::vector<std::string> names;
    for (const TreeNodePtr& node : nodes) {
        names.push_back(node->GetName());
    }
    return names;
}

// root ─ a ─ b ─ c
//      └ h (hidden) ─ x
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = Plain("root");
        a = root->Add(Plain("a"));
        b = a->Add(Plain("b"));
        c = b->Add(Plain("c"));
        h = root->Add(Plain("h", mci::enums::eHidden));
        x = h->Add(Plain("x"));
    }
    TreeNodePtr root, a, b, c, h, x;
};

} // namespace

TEST(TreeNodeTypes, FlagsAndValueTypeTables)
{
    EXPECT_EQ(TreeNode().GetFlags(), 6u);
    EXPECT_EQ(TreeNode().GetName(), "");
    TreeNode node("n", 0);
    node.SetFlags(mci::enums::eHidden);
    node.SetFlags(mci::enums::eReadable);
    EXPECT_EQ(node.GetFlags(), 0x42u) << "SetFlags ORs the bits in";

    struct Row {
        mci::Flags flag;
        const char* name;
        bool (TreeNode::*predicate)(const Path&) const;
    };
    const Row rows[] = {
        {0x2, "readable", &TreeNode::IsReadable},   {0x4, "writable", &TreeNode::IsWritable},
        {0x8, "persistent", &TreeNode::IsPersistent}, {0x20, "constant", &TreeNode::IsConstant},
        {0x40, "hidden", &TreeNode::IsHidden},       {0x200, "array", &TreeNode::IsArray},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(istd::EnumCast<mci::enums::Flags_e>(row.name), row.flag) << row.name;
        for (const Row& other : rows) {
            TreeNode flagged("f", row.flag);
            EXPECT_EQ((flagged.*other.predicate)(c_noRelPath), row.flag == other.flag) << row.name << "/" << other.name;
        }
    }
    EXPECT_EQ(istd::EnumCast<mci::enums::Flags_e>("command"), 0x80u);
    EXPECT_EQ(istd::EnumCast<mci::enums::Flags_e>("signal"), 0x400u);
    EXPECT_EQ(istd::EnumCast<mci::enums::Flags_e>("64"), 0x40u);
    EXPECT_THROW(istd::EnumCast<mci::enums::Flags_e>("visible"), istd::Exception);

    const char* types[] = {"none", "bool", "int32", "uint32", "int64", "uint64", "double", "float", "string", "enumeration"};
    for (int code = 0; code < 10; ++code) {
        EXPECT_EQ(istd::EnumCast<mci::enums::NodeValType_e>(types[code]), code);
        EXPECT_STREQ(istd::EnumName(static_cast<mci::enums::NodeValType_e>(code)), types[code]);
    }
}

TEST(TreeNodeTypes, PathPrinting)
{
    using mci::operator<<;
    std::ostringstream os;
    os << Path{"a", "b"} << " " << c_noRelPath;
    EXPECT_EQ(os.str(), "/a/b /");
}

TEST_F(TreeTest, PathResolution)
{
    struct Row {
        Path path;
        TreeNodePtr* expected;
    };
    const Row rows[] = {
        {{}, &root}, {{"a"}, &a}, {{"a", "b", "c"}, &c}, {{"h", "x"}, &x}, {{"h"}, &h},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(mci::Node(root, row.path).GetTreeNode(), *row.expected);
        EXPECT_EQ(mci::Node(root, c_noRelPath).GetNode(row.path).GetTreeNode(), *row.expected);
    }
    // Operations on a node with a path act on the node it names.
    root->SetFlags(mci::enums::ePersistent, {"a", "b"});
    EXPECT_TRUE(b->IsPersistent());
    EXPECT_FALSE(a->IsPersistent());
    EXPECT_EQ(root->GetNode("c", {"a", "b"}), c);

    struct Missing {
        Path path;
        const char* text;
    };
    const Missing missing[] = {
        {{"x"}, "mci: node not found: /x"},
        {{"a", "x"}, "mci: node not found: /a/x"},
        {{"a", "b", "c", "d"}, "mci: node not found: /a/b/c/d"},
    };
    for (const Missing& row : missing) {
        EXPECT_EQ(ErrorOf([&] { root->GetFlags(row.path); }), row.text);
        EXPECT_EQ(ErrorOf([&] { mci::Node(root, c_noRelPath).GetNode(row.path); }), row.text);
        EXPECT_EQ(ErrorOf([&] { mci::Node(root, row.path).GetName(); }), row.text);
    }
    EXPECT_EQ(root->GetNode("nothing"), nullptr);
}

TEST_F(TreeTest, HooksReceiveTheEmptyPath)
{
    struct Recorder : TreeNode {
        using TreeNode::TreeNode;
        size_t OnGetSize(const Path& path) const override
        {
            seen = path;
            return 7;
        }
        mutable Path seen{"unset"};
    };
    auto recorder = std::make_shared<Recorder>("r", 6);
    c->Add(recorder);
    EXPECT_EQ(root->GetSize({"a", "b", "c", "r"}), 7u);
    EXPECT_TRUE(recorder->seen.empty());
}

TEST_F(TreeTest, HiddenChildrenAreFoundButNotCountedOrListed)
{
    EXPECT_EQ(root->GetNodeCount(), 1u);
    EXPECT_EQ(Names(root->GetAllNodes()), (std::vector<std::string>{"a", "h"}));
    EXPECT_FALSE(root->IsLeaf());

    mci::Node handle(root, c_noRelPath);
    EXPECT_EQ(handle.GetNodeCount(), 1u);
    ASSERT_EQ(handle.GetNodes().size(), 1u);
    EXPECT_EQ(handle.GetNodes()[0].GetName(), "a");
    EXPECT_EQ(handle.GetNode(0u).GetName(), "a");
    EXPECT_EQ(ErrorOf([&] { handle.GetNode(1u); }), "mci: root: no child at index 1");

    // A node whose only children are hidden is no leaf but counts none: it hides itself.
    TreeNodePtr onlyHidden = Plain("g");
    onlyHidden->Add(Plain("secret", mci::enums::eHidden));
    EXPECT_FALSE(onlyHidden->IsLeaf());
    EXPECT_EQ(onlyHidden->GetNodeCount(), 0u);
    EXPECT_TRUE(c->IsLeaf());
}

TEST_F(TreeTest, ExposeHiddenRegistryShowsHiddenChildren)
{
    // The switch is process-wide and one-way, so it is tried in a child process.
    const auto exposeAndCount = [this] {
        mci::ExposeHiddenRegistry();
        mci::Node handle(root, c_noRelPath);
        const bool ok = mci::IsHiddenRegistryExposed() && root->GetNodeCount() == 2 &&
                        handle.GetNodes().size() == 2 && handle.GetNode(1u).GetName() == "h";
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(exposeAndCount(),
        ::testing::ExitedWithCode(0), "");
}

TEST_F(TreeTest, AddReplacesATakenNameInItsPlace)
{
    root->Add(Plain("z"));
    std::weak_ptr<TreeNode> oldA = a;
    TreeNodePtr newA = Plain("a");
    {
        istd::TraceCapture capture(istd::eTraceWarning);
        EXPECT_EQ(root->Add(newA), newA);
        EXPECT_TRUE(capture.Contains("child a replaced by a newer node"));
    }
    EXPECT_EQ(Names(root->GetAllNodes()), (std::vector<std::string>{"a", "h", "z"}));
    EXPECT_EQ(root->GetNode("a"), newA);
    EXPECT_EQ(newA->GetParent(), root);
    EXPECT_EQ(a->GetParent(), nullptr);
    a.reset();
    EXPECT_TRUE(oldA.expired()) << "the replaced node is released with its last owner";
    EXPECT_EQ(b->GetParent(), nullptr) << "and its subtree with it";

    // Adding a child that is already there changes nothing.
    EXPECT_EQ(root->Add(newA), newA);
    EXPECT_EQ(root->GetAllNodes().size(), 3u);
}

TEST_F(TreeTest, AddRefusesWhatWouldBreakTheTree)
{
    struct Row {
        TreeNodePtr parent;
        TreeNodePtr child;
        const char* text;
    };
    const Row rows[] = {
        {a, TreeNodePtr(), "mci: a: cannot attach an empty node"},
        {a, a, "mci: a: cannot attach a, it would contain itself"},
        {c, a, "mci: c: cannot attach a, it would contain itself"},
        {root, c, "mci: root: cannot attach c, it is a child of b"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ErrorOf([&] { row.parent->Add(row.child); }), row.text);
        EXPECT_EQ(ErrorOf([&] { row.parent->Merge(row.child); }), row.text);
    }
    EXPECT_EQ(c->GetParent(), b);
    EXPECT_TRUE(c->IsLeaf());
}

TEST_F(TreeTest, MergeJoinsSubtrees)
{
    // Newcomer a' { b' { q }, n } merges into a { b { c } }.
    TreeNodePtr a2 = Plain("a");
    TreeNodePtr b2 = a2->Add(Plain("b"));
    TreeNodePtr q = b2->Add(Plain("q"));
    TreeNodePtr n = a2->Add(Plain("n"));
    EXPECT_EQ(root->Merge(a2), a) << "the node already in the tree stays";
    EXPECT_EQ(Names(a->GetAllNodes()), (std::vector<std::string>{"b", "n"}));
    EXPECT_EQ(Names(b->GetAllNodes()), (std::vector<std::string>{"c", "q"}));
    EXPECT_EQ(q->GetParent(), b);
    EXPECT_EQ(n->GetParent(), a);
    EXPECT_TRUE(a2->IsLeaf());

    // A newcomer without children replaces the node of its name; a new name is added.
    TreeNodePtr c2 = Plain("c", 0);
    EXPECT_EQ(b->Merge(c2), c2);
    EXPECT_EQ(b->GetNode("c"), c2);
    TreeNodePtr fresh = Plain("fresh");
    EXPECT_EQ(root->Merge(fresh), fresh);
    EXPECT_EQ(Names(root->GetAllNodes()), (std::vector<std::string>{"a", "h", "fresh"}));
}

TEST(TreeNodeScale, WideNodeFindsEveryChildByName)
{
    TreeNodePtr wide = Plain("wide");
    const int count = 100000;
    for (int i = 0; i < count; ++i) {
        wide->Add(std::make_shared<TreeNode>("n" + std::to_string(i), 6));
    }
    EXPECT_EQ(wide->GetNodeCount(), static_cast<size_t>(count));
    for (int i : {0, 1, 4711, 99999}) {
        TreeNodePtr found = wide->GetNode("n" + std::to_string(i));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->GetName(), "n" + std::to_string(i));
    }
    EXPECT_EQ(wide->GetNode("n100000"), nullptr);
    // Replacing keeps the index right for the node after it.
    wide->Add(std::make_shared<TreeNode>("n5", 0));
    EXPECT_EQ(wide->GetAllNodes()[5]->GetFlags(), 0u);
    EXPECT_EQ(wide->GetNode("n6"), wide->GetAllNodes()[6]);
}

TEST(TreeNodeAccess, DefaultEntryPointsRefuseOrForwardAlongThePath)
{
    TreeNodePtr root = Plain("root");
    auto number = std::make_shared<ValueNode<int32_t>>("number", std::vector<int32_t>{1});
    auto text = std::make_shared<ValueNode<std::string>>("text", std::vector<std::string>{"old"});
    root->Add(number);
    root->Add(text);

    int32_t value = 0;
    EXPECT_EQ(ErrorOf([&] { root->Get(value, 0, c_noRelPath); }), "root: unsupported operation");
    EXPECT_EQ(ErrorOf([&] { root->Set(std::vector<double>{1.0}, 0, c_noRelPath); }), "root: unsupported operation");
    EXPECT_EQ(ErrorOf([&] { number->Set(2.5, 0, c_noRelPath); }), "number: unsupported operation");

    root->Set(int32_t(42), 0, {"number"});
    root->Get(value, 0, {"number"});
    EXPECT_EQ(value, 42);
    // A text literal goes to the string entry point, not to the bool one.
    root->Set("new", 0, {"text"});
    std::string got;
    text->Get(got, 0, c_noRelPath);
    EXPECT_EQ(got, "new");
    EXPECT_EQ(ErrorOf([&] { root->Set(int32_t(1), 0, {"missing"}); }), "mci: node not found: /missing");
}

TEST(TreeNodeAccess, LocksAreRecursive)
{
    TreeNode node("n", 6);
    auto outer = node.Lock();
    auto inner = node.LockRead();
    EXPECT_TRUE(outer.owns_lock());
    EXPECT_TRUE(inner.owns_lock());
}

TEST(TreeNodeAccess, EmitValueNeedsASharedNode)
{
    ValueNode<int32_t> loose("loose", {1});
    EXPECT_THROW(loose.OnEmitValue(istd::Any(1), 0), std::bad_weak_ptr);
}

namespace {

struct Validator {};

// A node kind that takes a validator, as registry nodes do.
class ValidatedNode : public TreeNode {
public:
    ValidatedNode(const std::string& name, mci::Flags flags, bool init = true) : TreeNode(name, flags), m_init(init) {}
    bool Init() override
    {
        initCalls++;
        return TreeNode::Init() && m_init;
    }
    void SetValidator(const std::shared_ptr<Validator>& validator) { this->validator = validator; }

    std::shared_ptr<Validator> validator;
    int initCalls = 0;

private:
    bool m_init;
};

class ThrowingInitNode : public TreeNode {
public:
    explicit ThrowingInitNode(const char* name) : TreeNode(name, 6) {}
    bool Init() override { throw istd::Exception("init failed"); }
};

} // namespace

TEST(Factory, CreatesUnattachedInitialisedNodes)
{
    TreeNodePtr node = mci::factory::Create<ValidatedNode>("n", 0x22);
    ASSERT_NE(node, nullptr);
    auto* made = dynamic_cast<ValidatedNode*>(node.get());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->initCalls, 1);
    EXPECT_EQ(node->GetFlags(), 0x22u);
    EXPECT_EQ(node->GetParent(), nullptr);
    EXPECT_EQ(node->shared_from_this(), node) << "the node owns its weak self-reference";

    // The validator overload, with a non-const validator variable.
    auto validator = std::make_shared<Validator>();
    TreeNodePtr validated = mci::factory::Create<ValidatedNode>(validator, std::string("v"), mci::Flags(6));
    ASSERT_NE(validated, nullptr);
    EXPECT_EQ(dynamic_cast<ValidatedNode&>(*validated).validator, validator);

    // Init() answering false drops the node; an exception passes.
    const int releasesBefore = CountingNode::releases;
    EXPECT_EQ(mci::factory::Create<CountingNode>("refused", true, false), nullptr);
    EXPECT_EQ(CountingNode::releases, releasesBefore + 1);
    EXPECT_EQ(ErrorOf([] { mci::factory::Create<ThrowingInitNode>("t"); }), "init failed");
}

TEST(Factory, SetNodeStructureKeepsThePlaceInTheTree)
{
    TreeNodePtr parent = Plain("p");
    auto child = std::make_shared<TreeNode>("c", 6); // hand-made: its structure is made on first use
    parent->Add(child);
    TreeNodePtr grandChild = child->Add(Plain("g"));
    child->SetNodeStructure(new mci::LocalNodeStructure(child.get()));
    EXPECT_EQ(child->GetParent(), parent);
    EXPECT_EQ(child->GetNode("g"), grandChild);
}

TEST(DestroyNode, CleansEveryNodeUpAndReleasesTheTree)
{
    CountingNode::cleanups = 0;
    const int releasesBefore = CountingNode::releases;
    TreeNodePtr root = mci::factory::Create<CountingNode>("root");
    std::vector<std::weak_ptr<TreeNode>> watched{root};
    for (int i = 0; i < 3; ++i) {
        TreeNodePtr child = root->Add(mci::factory::Create<CountingNode>("c" + std::to_string(i), i != 1));
        watched.push_back(child);
        for (int j = 0; j < 2; ++j) {
            watched.push_back(child->Add(mci::factory::Create<CountingNode>("g" + std::to_string(j))));
        }
    }
    TreeNodePtr kept = root->GetNode("c2"); // held outside the tree: released later, but detached now

    mci::DestroyNode(root);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(CountingNode::cleanups, 10) << "one failing clean-up does not stop the others";
    EXPECT_EQ(CountingNode::releases, releasesBefore + 9);
    EXPECT_EQ(kept->GetParent(), nullptr);
    EXPECT_TRUE(kept->IsLeaf());
    kept.reset();
    for (const auto& node : watched) {
        EXPECT_TRUE(node.expired());
    }

    TreeNodePtr empty;
    mci::DestroyNode(empty); // nothing to do
}

TEST(DestroyNode, ReleasesTheTreeWhenACleanUpThrows)
{
    struct Throwing : TreeNode {
        using TreeNode::TreeNode;
        bool OnCleanup(const Path&) override { throw istd::Exception("disk full"); }
    };
    TreeNodePtr root = mci::factory::Create<Throwing>("root", mci::Flags(6));
    std::weak_ptr<TreeNode> child = root->Add(Plain("child"));
    istd::TraceCapture capture(istd::eTraceError);
    mci::DestroyNode(root);
    EXPECT_TRUE(child.expired());
    EXPECT_TRUE(capture.Contains("clean-up of root failed: disk full"));
}

TEST(NodeHandle, EmptyHandleThrowsButForGetTreeNode)
{
    const mci::Node empty;
    EXPECT_EQ(empty.GetTreeNode(), nullptr);
    const std::vector<std::function<void()>> calls = {
        [&] { empty.GetName(); },
        [&] { empty.GetNode(Path{"a"}); },
        [&] { empty.GetNode(0u); },
        [&] { empty.GetNodes(); },
        [&] { empty.GetNodeCount(); },
        [&] { empty.IsLeaf(); },
        [&] { empty.GetFlags(); },
        [&] { empty.GetSize(); },
        [&] { empty.GetFullPath(false); },
        [&] { empty.ToString(); },
        [&] {
            int32_t v;
            empty.Get(v);
        },
        [&] { empty.Set(int32_t(1)); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(ErrorOf(call), "mci: empty node handle");
    }
    EXPECT_FALSE(empty.SetValue(int32_t(1)));
}

TEST_F(TreeTest, HandleResolvesItsPathOnEveryCall)
{
    mci::Node handle(root, {"a", "b"});
    EXPECT_EQ(handle.GetTreeNode(), b);
    TreeNodePtr b2 = a->Add(Plain("b"));
    EXPECT_EQ(handle.GetTreeNode(), b2) << "the handle reaches the node now in that place";
    root->Add(Plain("a"));
    EXPECT_EQ(ErrorOf([&] { handle.GetName(); }), "mci: node not found: /a/b");
}

TEST_F(TreeTest, FullPath)
{
    EXPECT_EQ(mci::Node(root, {"a", "b", "c"}).GetFullPath(false), (Path{"root", "a", "b", "c"}));
    EXPECT_EQ(mci::Node(c, c_noRelPath).GetFullPath(true), (Path{"a", "b", "c"}));
    EXPECT_EQ(mci::Node(root, c_noRelPath).GetFullPath(false), (Path{"root"}));
    EXPECT_EQ(mci::Node(root, c_noRelPath).GetFullPath(true), Path{});
}

TEST(NodeHandle, TypedAccessSetValueAndExecute)
{
    TreeNodePtr root = Plain("root");
    root->Add(std::make_shared<ValueNode<int64_t>>("array", std::vector<int64_t>{1, 2, 3, 4}));
    root->Add(std::make_shared<ValueNode<int32_t>>("fixed", std::vector<int32_t>{5}, mci::Flags(0x22)));
    root->Add(std::make_shared<ValueNode<std::string>>("command", std::vector<std::string>{""}));
    const mci::Node top(root, c_noRelPath);

    const mci::Node array = top.GetNode(Path{"array"});
    array.Set(std::vector<int64_t>{20, 30}, 1);
    std::vector<int64_t> values;
    array.Get(values, 1, 2);
    EXPECT_EQ(values, (std::vector<int64_t>{20, 30}));
    int64_t one = 0;
    array.Get(one, 3);
    EXPECT_EQ(one, 4);
    EXPECT_EQ(array.GetSize(), 4u);
    EXPECT_TRUE(array.IsArray());
    EXPECT_EQ(array.GetValueType(), mci::enums::eInt64);

    const mci::Node fixed = top.GetNode(Path{"fixed"});
    EXPECT_THROW(fixed.Set(int32_t(6)), istd::Exception);
    {
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_FALSE(fixed.SetValue(int32_t(6)));
        EXPECT_TRUE(capture.Contains("mci: cannot set value: not writable"));
    }
    EXPECT_TRUE(array.SetValue(int64_t(9), 0));
    EXPECT_FALSE(array.SetValue(int64_t(9), 4)) << "position out of range";

    const mci::Node command = top.GetNode(Path{"command"});
    EXPECT_TRUE(command.Execute());
    std::string written;
    command.Get(written);
    EXPECT_EQ(written, "Execute");
    EXPECT_THROW(top.Execute(), istd::Exception) << "a node without values refuses the command";
}

TEST(NodeHandle, ValueText)
{
    TreeNodePtr root = Plain("root");
    std::vector<int32_t> many(100);
    for (int i = 0; i < 100; ++i) {
        many[i] = i;
    }
    root->Add(std::make_shared<ValueNode<int32_t>>("int", std::vector<int32_t>{-5}));
    root->Add(std::make_shared<ValueNode<uint64_t>>("big", std::vector<uint64_t>{18446744073709551615ull}));
    root->Add(std::make_shared<ValueNode<double>>("third", std::vector<double>{1.0 / 3}));
    root->Add(std::make_shared<ValueNode<float>>("fthird", std::vector<float>{1.0f / 3}));
    root->Add(std::make_shared<ValueNode<bool>>("bits", std::vector<bool>{true, false}));
    root->Add(std::make_shared<ValueNode<std::string>>("words", std::vector<std::string>{"x", "yz"}));
    root->Add(std::make_shared<ValueNode<int32_t>>("many", many));
    root->Add(std::make_shared<ValueNode<std::string>>("empties", std::vector<std::string>(50)));
    root->Add(std::make_shared<ValueNode<int32_t>>("secret", std::vector<int32_t>{1}, mci::Flags(0x4)));

    struct Row {
        const char* node;
        size_t max;
        const char* text;
    };
    const Row rows[] = {
        {"int", 64, "-5"},
        {"big", 64, "18446744073709551615"},
        {"third", 64, "0.333333333333333"},
        {"fthird", 64, "0.333333"},
        {"bits", 64, "[true, false]"},
        {"words", 64, "[x, yz]"},
        {"many", 20, "[0, 1, 2, 3, 4, 5..."},
        {"many", 3, "..."},
        {"empties", 10, "[, , , ..."},
        {"int", 2, "-5"},
        {"secret", 64, "<unreadable>"},
    };
    const mci::Node top(root, c_noRelPath);
    for (const Row& row : rows) {
        EXPECT_EQ(top.GetNode(Path{row.node}).ToString(row.max), row.text) << row.node;
    }
    EXPECT_EQ(top.ToString(), "") << "a node without values has no text";
    EXPECT_EQ(top.GetNode(Path{"many"}).ToString().size(), mci::Node::c_defMaxValueLen);
}
