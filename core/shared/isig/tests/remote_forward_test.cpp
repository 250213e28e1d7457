// A stream's clients forwarding to remote receivers through the remote-signal servant, over a
// real ORB on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/scripted_stream.h"
#include "inet/tests/support/orb_test_support.h"
#include "isig/i_remote_signal_impl.h"
#include "tests/support/wait_until.h"

using isigtest::ScriptedStream;
using testsupport::WaitUntil;

namespace {

std::vector<int64_t> Values(const CORBA::Any& any)
{
    const i_NET::Int64Buffer* sequence = nullptr;
    std::vector<int64_t> values;
    if (any >>= sequence) {
        for (CORBA::ULong i = 0; i < sequence->length(); ++i) {
            values.push_back((*sequence)[i]);
        }
    }
    return values;
}

class RemoteForwardTest : public inettest::OrbTest {
protected:
    void SetUp() override
    {
        OrbTest::SetUp();
        m_servant = new isig::i_RemoteSignal_impl(&m_stream);
        inet::OM().Activate(m_servant);
        m_ref = m_servant->_this();
    }
    void TearDown() override
    {
        m_servant->ShutDown();
        inet::OM().Deactivate(m_servant);
        m_ref = i_NET::RemoteSignal::_nil();
        OrbTest::TearDown();
    }

    inettest::TestReceiver* Connect(const std::string& name, i_NET::SignalReceiver_var& ref)
    {
        auto* receiver = new inettest::TestReceiver;
        inet::OM().Activate(receiver);
        ref = receiver->_this();
        EXPECT_EQ(m_ref->Connect(ref, name.c_str(), 8), isig::eSuccess);
        return receiver;
    }

    void Dispatch(std::vector<int64_t> values, const isig::SignalMeta& meta = isig::c_noMeta)
    {
        m_stream.Dispatch(values.data(), static_cast<unsigned>(values.size()), meta);
    }

    ScriptedStream m_stream{isig::eDispatchPassive, 1, "zolt"};
    isig::i_RemoteSignal_impl* m_servant = nullptr;
    i_NET::RemoteSignal_var m_ref;
};

TEST_F(RemoteForwardTest, EveryReceiverGetsEveryBufferWithItsMetadata)
{
    i_NET::SignalReceiver_var firstRef;
    i_NET::SignalReceiver_var secondRef;
    inettest::TestReceiver* first = Connect("first", firstRef);
    inettest::TestReceiver* second = Connect("second", secondRef);
    ASSERT_EQ(m_stream.GetQueueCount(), 2u);
    EXPECT_EQ(m_ref->GetGroupSize(), 1u);
    EXPECT_EQ(m_ref->GetAtomType(), isig::eAtomInt64);

    Dispatch({1, 10, 2, 20}, {{isig::eMetaTimestamp, 10}});
    Dispatch({3, 30});
    for (inettest::TestReceiver* receiver : {first, second}) {
        ASSERT_TRUE(receiver->WaitForReceives(2));
        const std::vector<CORBA::Any> values = receiver->Values();
        EXPECT_EQ(Values(values[0]), (std::vector<int64_t>{1, 10, 2, 20}));
        EXPECT_EQ(Values(values[1]), (std::vector<int64_t>{3, 30}));
        const i_NET::SignalMeta meta = receiver->Metas()[0];
        ASSERT_EQ(meta.length(), 1u);
        EXPECT_EQ(meta[0].id, isig::eMetaTimestamp);
        EXPECT_EQ(meta[0].value, 10);
    }
    // The stream itself keeps none; each connection's queue follows: atoms pushed, dropped.
    i_NET::SignalStats_var stats = m_ref->GetStatistics();
    ASSERT_EQ(stats->length(), 2u);
    for (CORBA::ULong i = 0; i < 2; ++i) {
        EXPECT_STREQ(stats[i].name.in(), i == 0 ? "first" : "second");
        EXPECT_EQ(stats[i].count1, 3u);
        EXPECT_EQ(stats[i].count2, 0u);
    }

    m_ref->Disconnect(firstRef);
    EXPECT_EQ(first->ClosedCodes(), std::vector<int>{isig::eCancelled});
    EXPECT_EQ(m_stream.GetQueueCount(), 1u);
}

TEST_F(RemoteForwardTest, AStreamThatEndsItsClientsEndsTheirForwardingWithItsCode)
{
    i_NET::SignalReceiver_var ref;
    inettest::TestReceiver* receiver = Connect("remote", ref);
    m_stream.Cancel(isig::SuccessCode_e(-7));
    ASSERT_TRUE(receiver->WaitForClosed());
    EXPECT_EQ(receiver->ClosedCodes(), std::vector<int>{-7});
    EXPECT_TRUE(WaitUntil([&] { return m_servant->ConnectionCount() == 0; }));

    inettest::TestReceiver* late = Connect("late", ref);
    m_stream.ShutDown();
    ASSERT_TRUE(late->WaitForClosed());
    EXPECT_EQ(late->ClosedCodes(), std::vector<int>{isig::eTerminated});
    EXPECT_EQ(m_ref->Connect(ref, "refused", 8), isig::eTerminated);
}

} // namespace
