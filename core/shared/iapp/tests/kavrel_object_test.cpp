// The component tree: ownership, Create, the phase walkers, type look-ups and AddRegistry.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/component_fixture.h"
#include "iapp/kavrel_feature.h"
#include "iapp/kavrel_object.h"
#include "ireg/reg_node.h"
#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "tests/support/error_of.h"

namespace iapptest {
namespace {

using testsupport::ErrorOf;
using Record = std::vector<std::string>;

// A feature that writes "<name>.<hook>" for each hook it runs; destroyed ones write "~<name>".
class Probe : public iapp::KavrelFeature {
public:
    Probe(iapp::KavrelObject& parent, const std::string& name, Record& record)
        : iapp::KavrelFeature(parent, name), m_record(record)
    {
    }
    ~Probe() override { m_record.push_back("~" + GetName()); }

    void OnPreInit() override { Note("PreInit"); }
    void OnPostInit() override { Note("PostInit"); }
    void OnPreConfig() override { Note("PreConfig"); }
    void OnPostConfig() override { Note("PostConfig"); }
    void OnStartRunning() override { Note("StartRunning"); }
    void OnAcceptRequests() override { Note("AcceptRequests"); }
    void OnShutdown() override { Note("Shutdown"); }

    void OnRegistryAdd(mci::TreeNodePtr& node) override
    {
        Note("OnRegistryAdd");
        for (const std::string& leaf : m_leaves) {
            node->Add(mci::factory::Create<ireg::RegNode>(leaf, m_leafFlags));
        }
    }

    std::function<void()> m_throwIn; // runs in OnPreInit before the note when set
    std::vector<std::string> m_leaves;
    mci::Flags m_leafFlags = mci::TreeNode::c_defaultFlags;

private:
    void Note(const char* hook)
    {
        if (m_throwIn && std::string(hook) == "PreInit") {
            m_throwIn();
        }
        m_record.push_back(GetName() + "." + hook);
    }

    Record& m_record;
};

// A plain component: accepts no children.
class Plain : public iapp::KavrelObject {
public:
    Plain(iapp::KavrelObject& parent, const std::string& name, Record& record)
        : iapp::KavrelObject(parent, name), m_record(record)
    {
    }
    ~Plain() override { m_record.push_back("~" + GetName()); }

private:
    Record& m_record;
};

// Derived from Probe, so that exact-type look-ups can be told from derived ones.
class SubProbe : public Probe {
public:
    using Probe::Probe;
};

// Throws from its own constructor, after the base has joined the parent.
class Throwing : public Probe {
public:
    Throwing(iapp::KavrelObject& parent, const std::string& name, Record& record) : Probe(parent, name, record)
    {
        throw std::runtime_error("constructor failed");
    }
};

class Renamed : public iapp::KavrelFeature {
public:
    Renamed(iapp::KavrelObject& parent, const std::string& name) : iapp::KavrelFeature(parent, name) {}
    const std::string& OnGetName() const override { return m_shown; }

private:
    std::string m_shown = "shown";
};

std::vector<std::string> Names(const std::vector<iapp::KavrelObjectPtr>& list)
{
    std::vector<std::string> names;
    for (const auto& object : list) {
        names.push_back(object->GetName());
    }
    return names;
}

std::vector<std::string> ChildNames(const mci::TreeNodePtr& node)
{
    std::vector<std::string> names;
    for (const auto& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    return names;
}

// top with the children a, b (with b1) and c, under a test root.
class ComponentTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = MakeRoot();
        m_top = iapp::Create<Probe>(*m_root, "top", m_record);
        m_a = iapp::Create<Probe>(*m_top, "a", m_record);
        m_b = iapp::Create<Probe>(*m_top, "b", m_record);
        m_b1 = iapp::Create<Probe>(*m_b, "b1", m_record);
        m_c = iapp::Create<Probe>(*m_top, "c", m_record);
    }

    Record m_record;
    std::shared_ptr<TestRoot> m_root;
    Probe* m_top = nullptr;
    Probe* m_a = nullptr;
    Probe* m_b = nullptr;
    Probe* m_b1 = nullptr;
    Probe* m_c = nullptr;
};

struct PhaseCase {
    const char* phase;
    std::function<void(iapp::KavrelObject&)> walk;
    Record hooks; // in the order they must run
};

TEST_F(ComponentTree, WalkersVisitWholeSubtreesInOrderAndRunTheOwnHookLast)
{
    const Record forward = {"a", "b1", "b", "c", "top"};
    const Record backward = {"c", "b1", "b", "a", "top"};
    const PhaseCase cases[] = {
        {"PreInit", [](iapp::KavrelObject& o) { o.PreInit(); }, forward},
        {"PostInit", [](iapp::KavrelObject& o) { o.PostInit(); }, forward},
        {"PreConfig", [](iapp::KavrelObject& o) { o.PreConfig(); }, forward},
        {"PostConfig", [](iapp::KavrelObject& o) { o.PostConfig(); }, forward},
        {"StartRunning", [](iapp::KavrelObject& o) { o.StartRunning(); }, forward},
        {"AcceptRequests", [](iapp::KavrelObject& o) { o.AcceptRequests(); }, forward},
        {"Shutdown", [](iapp::KavrelObject& o) { o.Shutdown(); }, backward},
    };
    for (const PhaseCase& c : cases) {
        SCOPED_TRACE(c.phase);
        m_record.clear();
        istd::TraceCapture trace(istd::eTraceWarning);
        c.walk(*m_top);
        Record expected;
        for (const std::string& name : c.hooks) {
            expected.push_back(name + "." + c.phase);
        }
        EXPECT_EQ(m_record, expected);
        const std::string phase = c.phase;
        EXPECT_TRUE(trace.Contains(phase + "(): top."));
        EXPECT_TRUE(trace.Contains(phase + "(): b1."));
        EXPECT_TRUE(trace.Contains("Calling " + phase + "() for " + c.hooks.front()));
        EXPECT_TRUE(trace.Contains("Calling " + phase + "() for b1"));
    }
    // No memory of having run: a second walk calls every hook again.
    m_record.clear();
    m_top->PreInit();
    EXPECT_EQ(m_record.size(), forward.size());
}

TEST_F(ComponentTree, AnExceptionInAHookEndsTheWalkThere)
{
    m_b1->m_throwIn = [] { throw istd::Exception("b1 failed", true); };
    EXPECT_EQ(ErrorOf([&] { m_root->PreInit(); }), "b1 failed");
    EXPECT_EQ(m_record, (Record{"a.PreInit"})); // neither b, c nor top ran
}

TEST_F(ComponentTree, ChildrenAreDestroyedInInsertionOrderWithTheirParent)
{
    m_record.clear();
    m_root.reset();
    EXPECT_EQ(m_record, (Record{"~top", "~a", "~b", "~b1", "~c"}));
}

TEST_F(ComponentTree, CreateUnderAParentThatRefusesDestroysTheChild)
{
    Plain* plain = iapp::Create<Plain>(*m_root, "plain", m_record);
    m_record.clear();
    EXPECT_EQ(ErrorOf([&] { iapp::Create<Probe>(*plain, "feature", m_record); }),
              "feature can not be instantiated as child of plain");
    EXPECT_TRUE(plain->GetChildren().empty());
    EXPECT_EQ(m_record, (Record{"~feature"}));

    // A feature refuses a plain component too; AddToParent refuses without destroying.
    EXPECT_EQ(ErrorOf([&] { iapp::Create<Plain>(*m_a, "plain2", m_record); }),
              "plain2 can not be instantiated as child of a");
    EXPECT_EQ(ErrorOf([&] { m_c->AddToParent(*plain); }), "c can not be instantiated as child of plain");
    EXPECT_EQ(m_top->GetChildren().size(), 3u);
}

TEST_F(ComponentTree, AThrowingDerivedConstructorLeavesTheParentAsItWas)
{
    const std::vector<iapp::KavrelObjectPtr> before = m_top->GetChildren();
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_THROW(iapp::Create<Throwing>(*m_top, "bad", m_record), std::runtime_error);
    EXPECT_EQ(m_top->GetChildren(), before);
    EXPECT_TRUE(trace.Contains("Detached child because of exception in the constructor of derived classes: bad"));
}

TEST_F(ComponentTree, DetachHandsTheChildOverAndRemoveDeletesIt)
{
    m_record.clear();
    iapp::KavrelObjectPtr detached = m_top->DetachChild(m_a);
    ASSERT_EQ(detached.get(), m_a);
    EXPECT_TRUE(m_record.empty());
    EXPECT_EQ(Names(m_top->GetChildren()), (std::vector<std::string>{"b", "c"}));
    EXPECT_FALSE(m_top->DetachChild(m_a)); // no longer a child
    m_top->RemoveChild(m_a);               // ignored

    // Moved under another parent.
    m_a->AddToParent(*m_c);
    m_a->SetParent(*m_c);
    detached.reset();
    EXPECT_TRUE(m_record.empty());
    EXPECT_EQ(m_a->GetParent().get(), m_c);
    m_c->AddChild(m_a); // held at most once
    EXPECT_EQ(m_c->GetChildren().size(), 1u);

    m_b->RemoveChild(m_b1);
    EXPECT_EQ(m_record, (Record{"~b1"}));
}

TEST_F(ComponentTree, GetObjectsMatchesTheExactTypeAndAppends)
{
    SubProbe* sub = iapp::Create<SubProbe>(*m_b, "sub", m_record);
    std::vector<iapp::KavrelObjectPtr> list{m_root};
    EXPECT_TRUE(m_top->GetObjects(typeid(Probe), list));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"root", "top", "a", "b", "b1", "c"}));

    list.clear();
    m_root->GetObjects(typeid(SubProbe), list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].get(), sub);
    list.clear();
    m_root->GetObjects(typeid(iapp::KavrelFeature), list);
    EXPECT_TRUE(list.empty());
}

TEST_F(ComponentTree, GetAncestorFindsTheNearestOfTheExactType)
{
    EXPECT_FALSE(m_root->GetAncestor(typeid(TestRoot)));
    EXPECT_EQ(m_b1->GetAncestor(typeid(Probe)).get(), m_b);
    EXPECT_EQ(m_b1->GetAncestor(typeid(TestRoot)), m_root);
    EXPECT_FALSE(m_b1->GetAncestor(typeid(iapp::KavrelFeature)));
}

TEST_F(ComponentTree, NamesAndDecoratedNames)
{
    Renamed* renamed = iapp::Create<Renamed>(*m_top, "stored");
    const struct {
        const iapp::KavrelObject* object;
        const char* suffix;
        const char* expected;
    } cases[] = {
        {m_a, "gain", "a.gain"},
        {m_a, "", "a."},
        {m_a, "x.y", "a.x.y"},
        {renamed, "gain", "shown.gain"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.object->GetDecoratedName(c.suffix), c.expected);
    }
    // The refusal names the child through GetName.
    Plain* plain = iapp::Create<Plain>(*m_root, "plain", m_record);
    EXPECT_EQ(ErrorOf([&] { iapp::Create<Renamed>(*plain, "stored"); }),
              "shown can not be instantiated as child of plain");
}

TEST_F(ComponentTree, ApplicationStateComesFromTheCurrentProvider)
{
    m_root->SetState(4);
    EXPECT_EQ(m_b1->GetApplicationState(), 4);
    TestRoot other; // never given an owner; registering is enough
    other.SetState(2);
    EXPECT_EQ(m_b1->GetApplicationState(), 2);
    iapp::ApplicationStateProvider::ResetCurrent(m_root.get()); // not the current one: no change
    EXPECT_EQ(m_b1->GetApplicationState(), 2);
    iapp::ApplicationStateProvider::ResetCurrent(&other);
    EXPECT_EQ(m_b1->GetApplicationState(), 0);
}

// ---- roots and ownership ------------------------------------------------------------------

TEST(KavrelObjectRoot, AComponentNeedsAParentWithAnOwner)
{
    Record record;
    TestRoot unowned;
    EXPECT_THROW(Probe(unowned, "orphan", record), std::bad_weak_ptr);
    EXPECT_TRUE(unowned.GetChildren().empty());
    EXPECT_THROW(unowned.shared_from_this(), std::bad_weak_ptr);
}

TEST(KavrelObjectRoot, TheRootHandleIsSeatedAgainAfterItWasReleased)
{
    Record record;
    TestRoot root;
    iapp::KavrelObjectPtr first = root.MakeRootHandle([](iapp::KavrelObject*) {});
    EXPECT_EQ(root.shared_from_this(), first);
    // While it is alive a second call gives the same owner group, not a second one.
    iapp::KavrelObjectPtr again = root.MakeRootHandle([](iapp::KavrelObject*) {});
    EXPECT_FALSE(again.owner_before(first) || first.owner_before(again));

    Probe* child = iapp::Create<Probe>(root, "child", record);
    EXPECT_EQ(child->GetParent().get(), &root);
    first.reset();
    again.reset();
    EXPECT_FALSE(child->GetParent()); // the old handle expired with its owners

    iapp::KavrelObjectPtr second = root.MakeRootHandle([](iapp::KavrelObject*) {});
    EXPECT_EQ(root.shared_from_this(), second);
    EXPECT_FALSE(child->GetParent());
    {
        istd::TraceCapture trace(istd::eTraceError);
        root._RepointChildren();
        EXPECT_TRUE(trace.Contains("root is parent of child"));
    }
    EXPECT_EQ(child->GetParent(), second);
}

TEST(KavrelObjectRoot, DumyDeleterOfNothingOnlyTraces)
{
    istd::TraceCapture trace(istd::eTraceError);
    iapp::dumyDeleter(nullptr);
    EXPECT_TRUE(trace.Contains("Internal error: KavrelObject to be deleted is not specified."));
}

// ---- registry -----------------------------------------------------------------------------

class ComponentRegistry : public ComponentTree {
protected:
    void SetUp() override
    {
        ComponentTree::SetUp();
        m_parentNode = mci::factory::Create<ireg::RegNode>("parent");
    }

    mci::TreeNodePtr m_parentNode;
};

TEST_F(ComponentRegistry, ChildrenAttachFirstAndEmptySubtreesLeaveNoNode)
{
    m_top->m_leaves = {"own"};
    m_b1->m_leaves = {"deep"};
    m_top->SetRegistryFlags(mci::enums::eReadable);
    m_record.clear();
    m_top->AddRegistry(m_parentNode);

    EXPECT_EQ(m_record, (Record{"a.OnRegistryAdd", "b1.OnRegistryAdd", "b.OnRegistryAdd", "c.OnRegistryAdd",
                                "top.OnRegistryAdd"}));
    const mci::TreeNodePtr top = m_parentNode->GetNode("top");
    ASSERT_TRUE(top);
    EXPECT_EQ(ChildNames(top), (std::vector<std::string>{"b", "own"}));
    EXPECT_EQ(top->GetFlags(), mci::Flags(mci::enums::eReadable));
    EXPECT_EQ(top->GetNode("b")->GetFlags(), mci::Flags(0)); // registry flags default to 0
    EXPECT_EQ(ChildNames(top->GetNode("b")), (std::vector<std::string>{"b1"}));
    EXPECT_EQ(m_top->GetRegistryNode(), top);
    EXPECT_EQ(mci::Node(m_b1->GetRegistryNode(), mci::c_noRelPath).GetFullPath(false),
              (mci::Path{"parent", "top", "b", "b1"}));
    // a and c added nothing: no node, no reference, but defined.
    EXPECT_FALSE(m_a->GetRegistryNode());
    EXPECT_TRUE(m_a->IsRegistryDefined());
    EXPECT_FALSE(top->GetNode("a"));

    // Once per component: a second call only traces.
    istd::TraceCapture trace(istd::eTraceWarning);
    m_record.clear();
    m_top->AddRegistry(m_parentNode, "again");
    EXPECT_TRUE(m_record.empty());
    EXPECT_FALSE(m_parentNode->GetNode("again"));
    EXPECT_TRUE(trace.Contains("AddRegistry(): registry for again object is already defined."));
}

TEST_F(ComponentRegistry, ANodeWithOnlyHiddenChildrenIsHiddenItself)
{
    m_a->m_leaves = {"secret"};
    m_a->m_leafFlags = mci::enums::eHidden;
    m_a->SetRegistryFlags(mci::enums::eReadable);
    m_a->AddRegistry(m_parentNode, "named");
    const mci::TreeNodePtr node = m_parentNode->GetNode("named");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetFlags(), mci::Flags(mci::enums::eReadable | mci::enums::eHidden));

    m_c->m_leaves = {"open"};
    m_c->AddRegistry(m_parentNode);
    EXPECT_EQ(m_parentNode->GetNode("c")->GetFlags(), mci::Flags(0));
}

TEST_F(ComponentRegistry, ANodeOfAnExistingNameIsMergedIntoIt)
{
    const mci::TreeNodePtr existing = m_parentNode->Add(mci::factory::Create<ireg::RegNode>("top"));
    existing->Add(mci::factory::Create<ireg::RegNode>("first"));
    m_top->m_leaves = {"own"};
    m_top->AddRegistry(m_parentNode);
    EXPECT_EQ(m_parentNode->GetNode("top"), existing);
    EXPECT_EQ(ChildNames(existing), (std::vector<std::string>{"first", "own"}));
    EXPECT_EQ(m_top->GetRegistryNode(), existing);
}

TEST_F(ComponentRegistry, AFailingOnRegistryAddAttachesNothingOfItsComponent)
{
    m_b1->m_leaves = {"deep"};
    m_c->m_leaves = {"leaf"};
    struct Failing : public Probe {
        using Probe::Probe;
        void OnRegistryAdd(mci::TreeNodePtr&) override { throw istd::Exception("no registry", true); }
    };
    auto* failing = iapp::Create<Failing>(*m_top, "failing", m_record);
    EXPECT_EQ(ErrorOf([&] { m_top->AddRegistry(m_parentNode); }), "no registry");
    EXPECT_FALSE(m_parentNode->GetNode("top"));
    EXPECT_FALSE(m_top->IsRegistryDefined());
    EXPECT_FALSE(failing->IsRegistryDefined());
    EXPECT_TRUE(m_b->IsRegistryDefined()); // attached into top's node, which was dropped
}

} // namespace
} // namespace iapptest
