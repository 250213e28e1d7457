#include <gtest/gtest.h>

#include <signal.h>

#include "common/remote_signal_fixture.h"
#include "istd/trace_capture.h"
#include "tests/support/wait_until.h"

using inettest::ChildProcess;
using inettest::TestReceiver;
using testsupport::WaitUntil;
using isigtest::TestSource;

namespace {

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class RemoteSignalTest : public isigtest::RemoteSignalFixture {
protected:
    std::unique_ptr<ChildProcess> StartReceiver(const std::string& name, const std::string& what)
    {
        return std::make_unique<ChildProcess>(std::vector<std::string>{ISIG_TEST_RECEIVER, ToString(m_ref), name, what});
    }
};

TEST_F(RemoteSignalTest, ForwardsAtomsToAReceiverInAnotherProcess)
{
    auto child = StartReceiver("remote", "6");
    ASSERT_TRUE(WaitUntil([&] { return m_source.OpenClients() == 1; })) << child->Output();
    m_source.Dispatch({1, 100, 2, 200}, {{isig::eMetaTimestamp, 100}, {isig::eMetaSequence, 7}});
    m_source.Dispatch({3, 300});
    EXPECT_EQ(child->Wait(), 0) << child->Output();

    const std::string out = child->Output();
    EXPECT_TRUE(Contains(out, "describe name=zolt-1 owner=zolt-board atom=16 group=4 length=2 type=3 access=1 "
                              "components=code,timestamp\n"))
        << out;
    EXPECT_TRUE(Contains(out, "connect 0\n")) << out;
    EXPECT_TRUE(Contains(out, "values 1 100 2 200 3 300\n")) << out;
    EXPECT_TRUE(Contains(out, "meta 0=100 1=7\n")) << out;
    EXPECT_TRUE(Contains(out, "closed -4\n")) << out; // its own Disconnect
    // The client left the source and was deleted before Disconnect returned.
    EXPECT_EQ(m_source.AliveClients(), 0);
    EXPECT_EQ(m_servant->ConnectionCount(), 0u);
}

TEST_F(RemoteSignalTest, AReceiverThatDiesEndsOnlyItsOwnConnection)
{
    istd::TraceCapture capture(istd::eTraceError);
    auto doomed = StartReceiver("doomed", "hold");
    ASSERT_TRUE(WaitUntil([&] { return Contains(doomed->Output(), "connect 0\n"); })) << doomed->Output();
    doomed->Kill(SIGKILL);
    doomed->Wait();
    auto survivor = StartReceiver("survivor", "2");
    ASSERT_TRUE(WaitUntil([&] { return m_source.OpenClients() == 2; }));

    m_source.Dispatch({5, 500});
    EXPECT_EQ(survivor->Wait(), 0) << survivor->Output();
    EXPECT_TRUE(Contains(survivor->Output(), "values 5 500\n")) << survivor->Output();
    // The dead receiver's forwarding failed, its client closed and left.
    EXPECT_TRUE(WaitUntil([&] { return m_source.AliveClients() == 0; }));
    // A connection counts no more once its client has left.
    EXPECT_EQ(m_servant->ConnectionCount(), 0u);
    EXPECT_TRUE(capture.Contains("isig: zolt-1: receiver of doomed failed: CORBA::")) << capture.Text();
}

TEST_F(RemoteSignalTest, AReceiverThatStopsAnsweringIsDroppedAfterTheCallTimeOut)
{
    auto frozen = StartReceiver("frozen", "hold");
    ASSERT_TRUE(WaitUntil([&] { return Contains(frozen->Output(), "connect 0\n"); })) << frozen->Output();
    frozen->Kill(SIGSTOP);
    m_source.Dispatch({9, 900});
    // The forwarding call cannot complete; the ORB's client call time-out ends it, and with it
    // the connection, instead of holding the thread for ever.
    EXPECT_TRUE(WaitUntil([&] { return m_source.AliveClients() == 0; },
                          std::chrono::milliseconds(inet::OrbManager::c_clientCallTimeOutMs + 20000)));
    EXPECT_EQ(m_servant->ConnectionCount(), 0u);
    frozen->Kill(SIGKILL);
}

TEST_F(RemoteSignalTest, DispatchDeliversEveryBaseTypeAsItsOwnBuffer)
{
    // DoDispatch is for clients; this one only lends it to the test.
    struct Lender : isig::SignalClientBase {
        using isig::SignalClientBase::DoDispatch;
    };
    i_NET::SignalReceiver_var ref;
    TestReceiver* receiver = LocalReceiver(ref);
    const isig::SignalMeta meta{{isig::eMetaSequence, -9}};

    const double d[] = {0.5, -1.25};
    const float f[] = {2.5f};
    const uint64_t u64[] = {~0ull};
    const int64_t i64[] = {INT64_MIN};
    const uint32_t u32[] = {4000000000u};
    const int32_t i32[] = {-5};
    const uint16_t u16[] = {65535};
    const int16_t i16[] = {-32768};
    const uint8_t u8[] = {255, 0};
    const int8_t i8[] = {-128, 127};
    Lender::DoDispatch(ref, d, 2, meta);
    Lender::DoDispatch(ref, f, 1, meta);
    Lender::DoDispatch(ref, u64, 1, meta);
    Lender::DoDispatch(ref, i64, 1, meta);
    Lender::DoDispatch(ref, u32, 1, meta);
    Lender::DoDispatch(ref, i32, 1, meta);
    Lender::DoDispatch(ref, u16, 1, meta);
    Lender::DoDispatch(ref, i16, 1, meta);
    Lender::DoDispatch(ref, u8, 2, meta);
    Lender::DoDispatch(ref, i8, 2, meta);
    Lender::DoDispatch(ref, d, 0, isig::c_noMeta);

    const std::vector<CORBA::Any> values = receiver->Values();
    ASSERT_EQ(values.size(), 11u);
    const CORBA::TypeCode_ptr types[] = {i_NET::_tc_DoubleBuffer, i_NET::_tc_FloatBuffer, i_NET::_tc_UInt64Buffer,
                                         i_NET::_tc_Int64Buffer,  i_NET::_tc_UInt32Buffer, i_NET::_tc_Int32Buffer,
                                         i_NET::_tc_UInt16Buffer, i_NET::_tc_Int16Buffer,  i_NET::_tc_UInt8Buffer,
                                         i_NET::_tc_Int8Buffer,   i_NET::_tc_DoubleBuffer};
    for (size_t i = 0; i < values.size(); ++i) {
        CORBA::TypeCode_var type = values[i].type();
        EXPECT_TRUE(type->equal(types[i])) << i << ": " << type->id();
    }
    const i_NET::DoubleBuffer* dv = nullptr;
    ASSERT_TRUE(values[0] >>= dv);
    EXPECT_EQ(dv->length(), 2u);
    EXPECT_EQ((*dv)[1], -1.25);
    const i_NET::UInt64Buffer* u64v = nullptr;
    ASSERT_TRUE(values[2] >>= u64v);
    EXPECT_EQ((*u64v)[0], ~0ull);
    const i_NET::Int64Buffer* i64v = nullptr;
    ASSERT_TRUE(values[3] >>= i64v);
    EXPECT_EQ((*i64v)[0], INT64_MIN);
    const i_NET::Int16Buffer* i16v = nullptr;
    ASSERT_TRUE(values[7] >>= i16v);
    EXPECT_EQ((*i16v)[0], -32768);
    const i_NET::Int8Buffer* i8v = nullptr;
    ASSERT_TRUE(values[9] >>= i8v);
    ASSERT_EQ(i8v->length(), 2u);
    EXPECT_EQ(static_cast<int8_t>((*i8v)[0]), -128); // the octet carries the bits
    const i_NET::DoubleBuffer* empty = nullptr;
    ASSERT_TRUE(values[10] >>= empty);
    EXPECT_EQ(empty->length(), 0u);

    const auto metas = receiver->Metas();
    EXPECT_EQ(isig::FromCorbaMeta(metas[0]), meta);
    EXPECT_EQ(metas[10].length(), 0u);

    EXPECT_THROW(Lender::DoDispatch(i_NET::SignalReceiver::_nil(), d, 1, meta), istd::Exception);
}

TEST_F(RemoteSignalTest, DescriptionMatchesTheSourceAndFailuresAreClear)
{
    CORBA::String_var name = m_ref->GetName();
    EXPECT_STREQ(name.in(), "zolt-1");
    EXPECT_EQ(m_ref->GetAtomType(), isig::eAtomInt64);
    EXPECT_EQ(m_ref->GetAccessType(), isig::eAccessStream);
    i_NET::SignalStats_var stats = m_ref->GetStatistics();
    ASSERT_EQ(stats->length(), 1u);
    EXPECT_STREQ(stats[0].name.in(), "device");
    EXPECT_EQ(stats[0].count1, 7u);
    EXPECT_EQ(stats[0].atomSize, 16u);

    istd::TraceCapture capture(istd::eTraceWarning);
    m_source.throwOnStatistics = true;
    EXPECT_THROW(i_NET::SignalStats_var(m_ref->GetStatistics()), CORBA::BAD_OPERATION);
    EXPECT_TRUE(capture.Contains("isig: zolt-1: GetStatistics failed: statistics unavailable")) << capture.Text();
}

TEST_F(RemoteSignalTest, ConnectRefusalsLeaveNoClientBehind)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    i_NET::SignalReceiver_var ref;
    LocalReceiver(ref);
    EXPECT_THROW(m_ref->Connect(i_NET::SignalReceiver::_nil(), "nil", 4), CORBA::BAD_PARAM);

    m_source.newMode = TestSource::eThrow;
    EXPECT_EQ(m_ref->Connect(ref, "thrown", 4), isig::eFailure);
    EXPECT_TRUE(capture.Contains("isig: zolt-1: connection of thrown failed: no clients today")) << capture.Text();
    m_source.newMode = TestSource::eNull;
    EXPECT_EQ(m_ref->Connect(ref, "null", 4), isig::eFailure);
    m_source.newMode = TestSource::eMake;
    m_source.openCode = isig::eNotStarted;
    EXPECT_EQ(m_ref->Connect(ref, "refused", 4), isig::eNotStarted);
    EXPECT_EQ(m_source.AliveClients(), 0);
    EXPECT_EQ(m_servant->ConnectionCount(), 0u);
    m_source.openCode = isig::eSuccess;

    // Disconnect of a receiver that is not connected, and of nil, does nothing.
    m_ref->Disconnect(ref);
    m_ref->Disconnect(i_NET::SignalReceiver::_nil());

    // One receiver more than a signal serves at once is refused until another leaves.
    std::vector<i_NET::SignalReceiver_var> full(isig::i_RemoteSignal_impl::c_maxConnections);
    for (auto& one : full) {
        LocalReceiver(one);
        ASSERT_EQ(m_ref->Connect(one, "many", 1), isig::eSuccess);
    }
    EXPECT_EQ(m_ref->Connect(ref, "one too many", 4), isig::eFailure);
    EXPECT_TRUE(capture.Contains("connection of one too many failed: 256 connections run already")) << capture.Text();
    EXPECT_EQ(m_source.AliveClients(), int(isig::i_RemoteSignal_impl::c_maxConnections));
    m_ref->Disconnect(full.front());
    EXPECT_EQ(m_ref->Connect(ref, "in its place", 4), isig::eSuccess);
}

TEST_F(RemoteSignalTest, StreamEndAndShutDownReachTheReceiverAndEndEverything)
{
    i_NET::SignalReceiver_var first;
    TestReceiver* ended = LocalReceiver(first);
    ASSERT_EQ(m_ref->Connect(first, "first", 4), isig::eSuccess);
    // The stream cancels its clients: forwarding ends with the stream's code.
    m_source.Cancel(static_cast<isig::SuccessCode_e>(-7));
    ASSERT_TRUE(ended->WaitForClosed());
    EXPECT_EQ(ended->ClosedCodes(), std::vector<int>{-7});
    EXPECT_TRUE(WaitUntil([&] { return m_servant->ConnectionCount() == 0; }));

    i_NET::SignalReceiver_var second;
    TestReceiver* stopped = LocalReceiver(second);
    ASSERT_EQ(m_ref->Connect(second, "second", 4), isig::eSuccess);
    ASSERT_EQ(m_ref->Connect(second, "again", 4), isig::eSuccess); // a receiver may connect twice
    EXPECT_EQ(m_source.AliveClients(), 2); // the ended first connection deleted its client
    m_servant->ShutDown();
    EXPECT_EQ(m_source.AliveClients(), 0);
    EXPECT_TRUE(WaitUntil([&] { return stopped->ClosedCodes().size() == 2; }));
    EXPECT_EQ(stopped->ClosedCodes(), (std::vector<int>{isig::eTerminated, isig::eTerminated}));

    EXPECT_EQ(m_ref->Connect(second, "late", 4), isig::eTerminated);
    EXPECT_THROW(CORBA::String_var(m_ref->GetName()), CORBA::OBJECT_NOT_EXIST);
    m_servant->ShutDown(); // again: nothing
}

// The ORB stops while the servant serves: the shutdown lets go of the servants, which the test
// keeps until its end.
class OrbShutdownTest : public RemoteSignalTest {
protected:
    void TearDown() override
    {
        RemoteSignalTest::TearDown();
        m_servant->_remove_ref();
    }
};

TEST_F(OrbShutdownTest, EndsEveryReceiverWithTerminatedFirst)
{
    // A program that stops its ORB before it lets go of its signals: the receivers still learn
    // of the end.
    m_servant->_add_ref();
    i_NET::SignalReceiver_var ref;
    TestReceiver* receiver = LocalReceiver(ref);
    receiver->_add_ref();
    ASSERT_EQ(m_ref->Connect(ref, "until-shutdown", 4), isig::eSuccess);
    inet::OM().ORBShutdown(true);
    EXPECT_EQ(receiver->ClosedCodes(), std::vector<int>{isig::eTerminated});
    EXPECT_TRUE(m_servant->IsShutDown());
    EXPECT_EQ(m_source.AliveClients(), 0);
    receiver->_remove_ref();
}

} // namespace
