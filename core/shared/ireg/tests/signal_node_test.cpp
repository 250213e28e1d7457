#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/ireg_kinds_util.h"
#include "common/ireg_test_util.h"
#include "inet/orb_manager.h"
#include "inet/tests/support/orb_test_support.h"
#include "ireg/signal_node.h"
#include "isig/tests/common/test_source.h"
#include "istd/trace_capture.h"
#include "mci/mci.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using iregtest::MakeKind;

namespace {

// The test source, with faults on demand.
class Source : public isigtest::TestSource {
public:
    Source() : TestSource("acq-1", "acq-board") {}

    isig::AccessType_e AccessType() const override
    {
        if (failAccessType) {
            throw istd::Exception("no access type");
        }
        return TestSource::AccessType();
    }
    std::vector<std::string> GetComponentNames() const override
    {
        if (failNames) {
            throw istd::Exception("no names");
        }
        return names;
    }

    bool failAccessType = false;
    bool failNames = false;
    std::vector<std::string> names{"code", "timestamp"};
};

// A signal node made as the factory makes it, kept also when Init answers false.
std::shared_ptr<ireg::SignalNode> Unchecked(Source& source, bool& initResult)
{
    auto node = std::make_shared<ireg::SignalNode>("sig", &source);
    node->SetNodeStructure(new mci::LocalNodeStructure(node.get()));
    initResult = node->Init();
    return node;
}

std::vector<std::string> Names(const mci::TreeNodePtr& node)
{
    std::vector<std::string> names;
    for (const auto& child : node->GetAllNodes()) {
        names.push_back(child->GetName());
    }
    return names;
}

template <class T>
T Read(const mci::TreeNodePtr& node, const std::string& child)
{
    T value{};
    node->GetNode(child)->Get(value, 0, mci::c_noRelPath);
    return value;
}

TEST(SignalNodeTest, DescribesTheSourceInSixConstantChildren)
{
    Source source;
    auto node = MakeKind<ireg::SignalNode>("sig", &source);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetFlags(), 0x402u);
    EXPECT_EQ(node->GetValueType(), mci::enums::eNone);
    EXPECT_EQ(Names(node), (std::vector<std::string>{mci::c_accessType, mci::c_atomSize, mci::c_groupSize,
                                                     mci::c_compNames, mci::c_compNum, mci::c_compType}));
    for (const auto& child : node->GetAllNodes()) {
        EXPECT_EQ(child->GetFlags(), child->GetName() == mci::c_compNames ? 0x222u : 0x22u) << child->GetName();
        EXPECT_EQ(ErrorOf([&] { child->Set(std::string("1"), 0, mci::c_noRelPath); }), "Node is not writable.");
    }
    EXPECT_EQ(node->GetNode(mci::c_accessType)->GetValueType(), mci::enums::eEnumeration);
    EXPECT_EQ(Read<std::string>(node, mci::c_accessType), "stream");
    EXPECT_EQ(Read<uint32_t>(node, mci::c_atomSize), 16u);
    EXPECT_EQ(Read<uint32_t>(node, mci::c_groupSize), 4u);
    std::vector<std::string> names;
    node->GetNode(mci::c_compNames)->Get(names, 0, 0, mci::c_noRelPath);
    EXPECT_EQ(names, (std::vector<std::string>{"code", "timestamp"}));
    EXPECT_EQ(Read<uint32_t>(node, mci::c_compNum), 2u);
    EXPECT_EQ(Read<std::string>(node, mci::c_compType), "int64");
    EXPECT_EQ(Read<int32_t>(node, mci::c_compType), isig::eAtomInt64);

    // Copies taken once: later changes of the source do not show.
    source.names = {"x"};
    EXPECT_EQ(node->GetNode(mci::c_compNames)->GetSize(), 2u);
    // The node itself has no value.
    EXPECT_NE(ErrorOf([&] {
                  int32_t value = 0;
                  node->Get(value, 0, mci::c_noRelPath);
              }),
              "no error");
    EXPECT_EQ(MakeKind<ireg::SignalNode>("sig4", &source, mci::Flags(4))->GetFlags(), 0x406u);
}

TEST(SignalNodeTest, ASourceWithoutComponentNamesGivesAnEmptyArray)
{
    Source source;
    source.names.clear();
    auto node = MakeKind<ireg::SignalNode>("sig", &source);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetNode(mci::c_compNames)->GetSize(), 0u);
    EXPECT_EQ(node->GetNode(mci::c_compNames)->GetFlags(), 0x222u);
}

TEST(SignalNodeTest, ASourceThatThrowsStopsTheChildrenWithAWarning)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    Source source;
    source.failAccessType = true;
    EXPECT_FALSE(mci::factory::Create<ireg::SignalNode>("sig", &source));
    EXPECT_TRUE(capture.Contains("Failed to add child nodes for signal node: sig")) << capture.Text();
    bool init = true;
    EXPECT_TRUE(Names(Unchecked(source, init)).empty());
    EXPECT_FALSE(init);

    source.failAccessType = false;
    source.failNames = true;
    auto node = Unchecked(source, init);
    EXPECT_FALSE(init);
    EXPECT_EQ(Names(node), (std::vector<std::string>{mci::c_accessType, mci::c_atomSize, mci::c_groupSize}));
}

TEST(SignalNodeTest, ANodeWithoutServantLeavesTheOrbAlone)
{
    istd::TraceCapture capture(istd::eTraceDetail);
    Source source;
    {
        auto node = MakeKind<ireg::SignalNode>("sig", &source);
        // Without an ORB the servant cannot be activated; nothing is kept of it.
        EXPECT_NE(ErrorOf([&] { CORBA::release(node->GetRemoteSignalRef()); }).find("not initialised"),
                  std::string::npos);
    }
    EXPECT_FALSE(capture.Contains("Deactivate")) << capture.Text();
    EXPECT_FALSE(capture.Contains("Signal node")) << capture.Text();
}

class SignalNodeOrbTest : public inettest::OrbTest {
protected:
    Source m_source;
};

TEST_F(SignalNodeOrbTest, MakesOneServantAndWithdrawsItWithTheNode)
{
    auto node = MakeKind<ireg::SignalNode>("sig", &m_source);
    i_NET::RemoteSignal_var first = node->GetRemoteSignalRef();
    i_NET::RemoteSignal_var second = node->GetRemoteSignalRef();
    EXPECT_TRUE(first->_is_equivalent(second));
    CORBA::String_var name = second->GetName();
    EXPECT_STREQ(name.in(), "acq-1");

    node.reset();
    EXPECT_THROW(first->GetName(), CORBA::OBJECT_NOT_EXIST);
}

TEST_F(SignalNodeOrbTest, ANodeOutlivingTheOrbStillReleasesItsServant)
{
    auto node = MakeKind<ireg::SignalNode>("sig", &m_source);
    CORBA::release(node->GetRemoteSignalRef());
    inet::OM().ORBDestroy();
    node.reset(); // the sanitizer reports a servant that is reached after it went, or never goes
}

// The destructor's release of the servant: shut down, then withdrawn in any case.
TEST_F(SignalNodeOrbTest, AFailedShutDownStillWithdrawsTheServant)
{
    const std::vector<std::pair<std::function<void()>, std::string>> faults{
        {[] { throw std::runtime_error("stuck"); }, "Signal node sig: deactivate error: stuck"},
        {[] { throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO); },
         "Signal node sig: deactivate error: CORBA::BAD_INV_ORDER"},
        {[] { throw 7; }, "Signal node sig: unknown deactivate error."},
    };
    for (const auto& fault : faults) {
        istd::TraceCapture capture(istd::eTraceError);
        auto* servant = new isig::i_RemoteSignal_impl(&m_source);
        servant->_add_ref(); // the test's own, beside the ORB's
        inet::OM().Activate(servant);
        i_NET::RemoteSignal_var ref = servant->_this();

        ireg::detail::StopRemoteSignal("sig", servant, fault.first);
        EXPECT_TRUE(capture.Contains(fault.second)) << capture.Text();
        EXPECT_THROW(ref->GetName(), CORBA::OBJECT_NOT_EXIST);
        EXPECT_FALSE(inet::OM().Deactivate(servant));
        servant->_remove_ref();
    }
}

} // namespace
