#include "isig/stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/scripted_stream.h"
#include "istd/trace_capture.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

using isigtest::Codes;
using isigtest::Ptr;
using isigtest::ScriptedStream;
using isigtest::TestAtom;
using isigtest::TestClient;
using isigtest::TestTraits;
using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

// Opens with a read time-out, so that a read that should not wait fails the test instead of
// hanging it.
isig::SuccessCode_e OpenClient(TestClient& client)
{
    return client.Open(isig::eModeRead, 0, 10000);
}

// The codes of the next buffer the client reads, or its result code when it is not 0.
std::vector<int64_t> NextCodes(TestClient& client)
{
    Ptr buffer;
    const isig::SuccessCode_e result = client.GetQueue().Pop(buffer);
    if (result != isig::eSuccess) {
        return {result};
    }
    return Codes(buffer);
}

TEST(StreamTest, DescribesItsAtomsAndMakesClients)
{
    ScriptedStream stream(isig::eDispatchOnDemand, 32, "zolt");
    EXPECT_EQ(stream.GetName(), "zolt");
    EXPECT_EQ(stream.GetOwner(), "test-board");
    EXPECT_EQ(stream.AtomSize(), 16u);
    EXPECT_EQ(stream.GroupSize(), 32u);
    EXPECT_EQ(stream.Length(), 2u);
    EXPECT_EQ(stream.GetComponentNames(), (std::vector<std::string>{"code", "timestamp"}));
    EXPECT_EQ(stream.BaseEnumType(), isig::eAtomInt64);
    EXPECT_EQ(stream.AccessType(), isig::eAccessStream);
    EXPECT_EQ(stream.AtomType(), typeid(TestAtom));
    EXPECT_EQ(stream.GetState(), isig::eStreamIdle);

    std::unique_ptr<isig::SignalClientBase> client(stream.NewSignalClient("remote", 0));
    auto* streamClient = dynamic_cast<TestClient*>(client.get());
    ASSERT_NE(streamClient, nullptr);
    EXPECT_EQ(streamClient->GetQueue().GetLength(), 64u);
    EXPECT_EQ(client->GetName(), "remote");
    EXPECT_FALSE(client->IsOpen());
    EXPECT_EQ(stream.GetStatistics().size(), 0u);
}

TEST(StreamTest, TheFirstClientStartsAndTheLastStopsDispatchingByMode)
{
    struct Case {
        isig::DispatchMode_e mode;
        bool started;                // Start() before the first client
        isig::SuccessCode_e open;    // the first client's Open
        isig::StreamState running;   // state with the client open
        isig::StreamState afterLast; // state once it closed
        bool threaded;
    };
    const Case cases[] = {
        {isig::eDispatchPassive, false, isig::eSuccess, isig::eStreamRunning, isig::eStreamIdle, false},
        {isig::eDispatchOnDemand, false, isig::eSuccess, isig::eStreamRunning, isig::eStreamIdle, true},
        {isig::eDispatchContinuous, false, isig::eNotStarted, isig::eStreamIdle, isig::eStreamIdle, false},
        {isig::eDispatchContinuous, true, isig::eSuccess, isig::eStreamRunning, isig::eStreamRunning, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.started ? " started" : ""));
        ScriptedStream stream(c.mode);
        if (c.started) {
            ASSERT_EQ(stream.Start(), isig::eSuccess);
        }
        TestClient first(&stream, "first", 8);
        TestClient second(&stream, "second", 8);
        ASSERT_EQ(OpenClient(first), c.open);
        EXPECT_EQ(stream.GetState(), c.running);
        if (c.open != isig::eSuccess) {
            EXPECT_FALSE(first.IsOpen());
            EXPECT_EQ(stream.opens, 0);
            continue;
        }
        ASSERT_EQ(OpenClient(second), isig::eSuccess);
        EXPECT_EQ(stream.opens, 1);
        // A dispatch thread waits in the input; a passive stream reads nothing by itself.
        if (c.threaded) {
            EXPECT_TRUE(WaitUntil([&] { return stream.IsWaiting(); }));
            stream.Feed(1);
        } else {
            const int64_t values[] = {0, 0};
            stream.Dispatch(values, 2, isig::c_noMeta);
        }
        EXPECT_EQ(NextCodes(first), std::vector<int64_t>{0});
        EXPECT_EQ(NextCodes(second), std::vector<int64_t>{0});

        first.Close();
        EXPECT_EQ(stream.GetState(), c.running);
        second.Close();
        EXPECT_EQ(stream.GetState(), c.afterLast);
        EXPECT_EQ(stream.IsInputOpen(), c.afterLast == isig::eStreamRunning);
        EXPECT_EQ(stream.closes, c.afterLast == isig::eStreamRunning ? 0 : 1);
        EXPECT_EQ(stream.violations, 0);

        // Opening again starts a new period with a fresh input.
        ASSERT_EQ(OpenClient(first), isig::eSuccess);
        EXPECT_EQ(stream.GetState(), isig::eStreamRunning);
        EXPECT_EQ(stream.opens, c.afterLast == isig::eStreamRunning ? 1 : 2);
        first.Close();
    }
}

TEST(StreamTest, CancelRemovesEveryClientAndStopsDispatchingByModeAndCode)
{
    struct Case {
        isig::DispatchMode_e mode;
        isig::SuccessCode_e code;
        isig::StreamState after;
    };
    const Case cases[] = {
        {isig::eDispatchPassive, isig::eNoData, isig::eStreamRunning},
        {isig::eDispatchPassive, isig::eTerminated, isig::eStreamRunning},
        {isig::eDispatchOnDemand, isig::eNoData, isig::eStreamIdle},
        {isig::eDispatchOnDemand, isig::SuccessCode_e(-7), isig::eStreamIdle},
        {isig::eDispatchContinuous, isig::eNoData, isig::eStreamRunning},
        {isig::eDispatchContinuous, isig::eTerminated, isig::eStreamIdle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.code));
        ScriptedStream stream(c.mode);
        stream.Start();
        TestClient first(&stream, "first", 8);
        TestClient second(&stream, "second", 8);
        ASSERT_EQ(OpenClient(first), isig::eSuccess);
        ASSERT_EQ(OpenClient(second), isig::eSuccess);
        stream.Cancel(c.code);
        EXPECT_EQ(stream.GetQueueCount(), 0u);
        EXPECT_EQ(stream.GetState(), c.after);
        EXPECT_EQ(stream.closes, c.after == isig::eStreamIdle ? 1 : 0);
        TestAtom atom{};
        EXPECT_EQ(first.Read(atom), c.code);
        EXPECT_EQ(NextCodes(second), std::vector<int64_t>{c.code});
        // The code stays: the queue left the stream, so nothing would ever wake a read.
        EXPECT_EQ(first.Read(atom), c.code);
        EXPECT_TRUE(first.IsOpen()); // the stream does not close its clients
        EXPECT_EQ(stream.violations, 0);
    }
}

TEST(StreamTest, CancelByNameRemovesEveryClientOfThatName)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    TestClient a1(&stream, "a", 8);
    TestClient a2(&stream, "a", 8);
    TestClient b(&stream, "b", 8);
    for (TestClient* client : {&a1, &a2, &b}) {
        ASSERT_EQ(OpenClient(*client), isig::eSuccess);
    }
    stream.Cancel("a"); // as the events feature cancels its reader
    EXPECT_EQ(stream.GetQueueCount(), 1u);
    EXPECT_EQ(a1.GetQueue().GetStatus(), isig::eCancelled);
    EXPECT_EQ(a2.GetQueue().GetStatus(), isig::eCancelled);
    stream.Feed(1);
    EXPECT_EQ(NextCodes(b), std::vector<int64_t>{0});
    EXPECT_EQ(stream.GetState(), isig::eStreamRunning);

    // The last one cancelled by name stops dispatching, as a last client leaving does.
    stream.Cancel(std::string("b"));
    EXPECT_EQ(stream.GetState(), isig::eStreamIdle);
    EXPECT_EQ(stream.closes, 1);
    // A cancelled client is used again by Close and Open.
    a1.Close();
    EXPECT_EQ(OpenClient(a1), isig::eSuccess);
    EXPECT_EQ(stream.opens, 2);
}

TEST(StreamTest, AfterShutDownEveryClientReadsTerminatedAndNoneIsAdded)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    TestClient client(&stream, "client", 8);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    stream.ShutDown();
    EXPECT_EQ(stream.GetState(), isig::eStreamShutDown);
    EXPECT_EQ(stream.closes, 1);
    stream.ShutDown(); // again: nothing
    EXPECT_EQ(stream.closes, 1);

    TestAtom atom{};
    EXPECT_EQ(client.Read(atom), isig::eTerminated);
    client.Close(); // the stream removed it already
    EXPECT_EQ(client.Open(), isig::eTerminated);
    TestClient late(&stream, "late", 8);
    EXPECT_EQ(late.Open(), isig::eTerminated);
    EXPECT_EQ(stream.Start(), isig::eFailure); // not a continuous stream
    EXPECT_EQ(stream.GetQueueCount(), 0u);
    EXPECT_EQ(stream.opens, 1);
}

TEST(StreamTest, AQueueTerminatedByACancelIsNeverAddedAgain)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    TestClient client(&stream, "client", 8);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    stream.Cancel(isig::eTerminated);
    EXPECT_EQ(stream.GetState(), isig::eStreamIdle);
    EXPECT_EQ(client.Open(), isig::eSuccess); // still open: the stream never closes a client
    client.Close();
    EXPECT_EQ(client.Open(), isig::eTerminated);
    EXPECT_EQ(ErrorOf([&] { stream.AddQueue(client.GetQueue()); }), "isig: Can't connect to terminated stream.");

    // The stream itself goes on: a new client starts it again.
    TestClient fresh(&stream, "fresh", 8);
    EXPECT_EQ(OpenClient(fresh), isig::eSuccess);
    EXPECT_EQ(stream.opens, 2);
}

TEST(StreamTest, AnInputThatCannotOpenLeavesTheClientClosedAndOutOfTheStream)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    stream.failOpen = true;
    TestClient client(&stream, "client", 8);
    EXPECT_EQ(ErrorOf([&] { client.Open(); }), "scripted: cannot open");
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(stream.GetQueueCount(), 0u);
    EXPECT_EQ(stream.GetState(), isig::eStreamIdle);
    stream.failOpen = false;
    EXPECT_EQ(OpenClient(client), isig::eSuccess);
    EXPECT_EQ(stream.GetState(), isig::eStreamRunning);
}

TEST(StreamTest, AFailedReadEndsDispatchingWithItsCodeAndClosesTheInput)
{
    struct Case {
        ScriptedStream::Step step;
        isig::SuccessCode_e code;
        std::string logged;
    };
    // A failure carries atoms it read: they are not dispatched. A throw is a failure (-1): nothing
    // it held is dispatched "once more".
    const Case cases[] = {
        {{isig::SuccessCode_e(-7), 2, false}, isig::SuccessCode_e(-7), "scripted: Terminating dispatch thread. Cause: code(-7)"},
        {{isig::eFailure, 0, false}, isig::eFailure, "scripted: Terminating dispatch thread. Cause: failure(-1)"},
        {{isig::eSuccess, 1, true}, isig::eFailure, "scripted: Dispatching thread error: scripted: read failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        istd::TraceCapture capture(istd::eTraceWarning);
        ScriptedStream stream(isig::eDispatchOnDemand, 4);
        TestClient first(&stream, "first", 8);
        TestClient second(&stream, "second", 8);
        ASSERT_EQ(OpenClient(first), isig::eSuccess);
        ASSERT_EQ(OpenClient(second), isig::eSuccess);
        stream.Script(c.step);
        EXPECT_EQ(NextCodes(first), std::vector<int64_t>{c.code});
        EXPECT_EQ(NextCodes(second), std::vector<int64_t>{c.code});
        EXPECT_EQ(first.GetQueue().GetCounters().pushed, 0u);
        // The thread closes the input itself and leaves the stream idle.
        EXPECT_TRUE(WaitUntil([&] { return stream.GetState() == isig::eStreamIdle; }));
        EXPECT_EQ(stream.closes, 1);
        EXPECT_FALSE(stream.IsInputOpen());
        EXPECT_TRUE(capture.Contains(c.logged)) << capture.Text();

        // The next first client opens a fresh input and a new thread (the old one joined first).
        first.Close();
        second.Close();
        ASSERT_EQ(OpenClient(first), isig::eSuccess);
        EXPECT_EQ(stream.opens, 2);
        EXPECT_TRUE(capture.Contains("scripted: join thread.")) << capture.Text();
        const int64_t next = stream.NextCode();
        stream.Feed(2);
        EXPECT_EQ(NextCodes(first), (std::vector<int64_t>{next, next + 1}));
        EXPECT_EQ(stream.violations, 0);
    }
}

TEST(StreamTest, OnlyTheAtomsAReadDeliveredAreDispatched)
{
    ScriptedStream stream(isig::eDispatchOnDemand, 8);
    TestClient client(&stream, "client", 8);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    stream.Script({isig::eNoData, 3, false}); // incomplete: three atoms of a group of eight
    stream.Script({isig::eNoData, 0, false});
    stream.Feed(8);
    EXPECT_EQ(NextCodes(client), (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(NextCodes(client), (std::vector<int64_t>{3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(client.GetQueue().GetCounters().pushed, 11u);
}

TEST(StreamTest, APassiveStreamDispatchesWhatItsProducerGives)
{
    ScriptedStream stream(isig::eDispatchPassive);
    isig::Array<TestTraits> array(TestTraits(), 1);
    EXPECT_EQ(ErrorOf([&] { stream.CallReadInput(array); }), "scripted: Running in passive mode.");

    TestClient client(&stream, "client", 8);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    EXPECT_EQ(stream.GetState(), isig::eStreamRunning);
    EXPECT_EQ(stream.reads, 0);
    // Five values are two atoms and a half: the half is left out.
    const int64_t values[] = {1, 10, 2, 20, 3};
    stream.Dispatch(values, 5, {{isig::eMetaSequence, 9}});
    Ptr buffer;
    ASSERT_EQ(client.GetQueue().Pop(buffer), isig::eSuccess);
    EXPECT_EQ(Codes(buffer), (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(buffer->data[1].timestamp, 20);
    EXPECT_EQ(buffer->meta, (isig::SignalMeta{{isig::eMetaSequence, 9}}));
    // Other base types are not this stream's.
    const double doubles[] = {1.0, 2.0};
    EXPECT_EQ(ErrorOf([&] { static_cast<isig::SignalDispatchBase&>(stream).Dispatch(doubles, 2, isig::c_noMeta); }),
              "isig: Dispatch of double not supported");
}

TEST(StreamTest, OneDispatchSharesOneBufferWithEveryClient)
{
    ScriptedStream stream(isig::eDispatchPassive);
    TestClient first(&stream, "first", 8);
    TestClient second(&stream, "second", 8);
    ASSERT_EQ(OpenClient(first), isig::eSuccess);
    ASSERT_EQ(OpenClient(second), isig::eSuccess);
    isig::Array<TestTraits> array(TestTraits(), 2);
    const TestAtom* storage = array.Data();
    stream.Dispatch(std::move(array), isig::c_noMeta);
    EXPECT_EQ(array.GetLength(), 0u);
    Ptr a;
    Ptr b;
    ASSERT_EQ(first.GetQueue().Pop(a), isig::eSuccess);
    ASSERT_EQ(second.GetQueue().Pop(b), isig::eSuccess);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->data.Data(), storage); // not even copied once
}

// The stream keeps the memory of the buffers it copies for the next ones, but takes a buffer's
// back only once every client has let go of it: small groups (in the buffer's own block) and
// larger ones alike.
TEST(StreamTest, ABufferIsReusedOnlyAfterEveryClientLetGoOfIt)
{
    for (const unsigned atoms : {2u, 40u}) {
        SCOPED_TRACE(atoms);
        ScriptedStream stream(isig::eDispatchPassive);
        TestClient first(&stream, "first", 8);
        TestClient second(&stream, "second", 8);
        ASSERT_EQ(OpenClient(first), isig::eSuccess);
        ASSERT_EQ(OpenClient(second), isig::eSuccess);
        const auto dispatch = [&](int64_t code) {
            std::vector<int64_t> values(2 * atoms, code);
            stream.Dispatch(values.data(), static_cast<unsigned>(values.size()), isig::c_noMeta);
        };
        const auto pop = [](TestClient& client) {
            Ptr buffer;
            EXPECT_EQ(client.GetQueue().Pop(buffer), isig::eSuccess);
            return buffer;
        };
        dispatch(1);
        Ptr held = pop(second);
        pop(first).reset(); // one client is done, the other still reads it
        const TestAtom* storage = held->data.Data();
        dispatch(2);
        Ptr next = pop(first);
        const TestAtom* nextStorage = next->data.Data();
        EXPECT_NE(nextStorage, storage);
        EXPECT_EQ(Codes(held), std::vector<int64_t>(atoms, 1));
        held.reset();
        pop(second).reset();
        next.reset();
        // Both blocks are free now; the next group takes one of them.
        dispatch(3);
        Ptr third = pop(first);
        EXPECT_EQ(Codes(third), std::vector<int64_t>(atoms, 3));
        EXPECT_EQ(Codes(pop(second)), std::vector<int64_t>(atoms, 3));
        EXPECT_TRUE(third->data.Data() == storage || third->data.Data() == nextStorage);
    }
}

TEST(StreamClientTest, OpenCloseAndReadFollowTheClientsState)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    TestClient client(&stream, "client", 8);
    TestAtom atom{};
    EXPECT_EQ(client.Read(atom), isig::eCancelled); // not open
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    EXPECT_EQ(stream.GetQueueCount(), 1u);
    stream.Feed(1);
    EXPECT_EQ(client.Read(atom), isig::eSuccess);
    EXPECT_EQ(atom.code, 0);
    client.Close();
    client.Close();
    EXPECT_EQ(stream.GetQueueCount(), 0u);
    EXPECT_EQ(client.Read(atom), isig::eCancelled);

    TestClient orphan(nullptr, "orphan", 8);
    EXPECT_EQ(orphan.Open(), isig::eTerminated);
    EXPECT_EQ(ErrorOf([&] { orphan.ForwardTo(nullptr); }), "isig: Stream client does't have a stream associated.");
}

TEST(StreamClientTest, ASingleAtomReadOnAGroupedStreamFailsWithoutTakingAnything)
{
    ScriptedStream stream(isig::eDispatchPassive, 32);
    TestClient client(&stream, "client", 8);
    ASSERT_EQ(OpenClient(client), isig::eSuccess);
    const int64_t values[] = {1, 10};
    stream.Dispatch(values, 2, isig::c_noMeta);
    TestAtom atom{};
    istd::TraceCapture capture(istd::eTraceError);
    EXPECT_EQ(client.Read(atom), isig::eFailure);
    EXPECT_TRUE(capture.Contains("stream: Can't use this function for group size: 32")) << capture.Text();
    EXPECT_EQ(client.GetQueue().GetQueued(), 1u);
}

TEST(StreamClientTest, ForwardingEndsWithTheCodeThatEndedTheQueue)
{
    ScriptedStream stream(isig::eDispatchPassive);
    TestClient cancelled(&stream, "cancelled", 8);
    TestClient terminated(&stream, "terminated", 8);
    ASSERT_EQ(OpenClient(cancelled), isig::eSuccess);
    ASSERT_EQ(OpenClient(terminated), isig::eSuccess);
    stream.Cancel(std::string("cancelled"));
    stream.Cancel(isig::eTerminated);
    EXPECT_EQ(cancelled.ForwardTo(nullptr), isig::eCancelled);
    EXPECT_EQ(terminated.ForwardTo(nullptr), isig::eTerminated);
}

TEST(StreamClientTest, StatisticsListTheStreamsItemsThenTheFilterAndTheQueue)
{
    class DropAll : public isig::StreamFilter<TestTraits> {
    public:
        Ptr Filter(const Ptr&) override { return nullptr; }
    };
    ScriptedStream stream(isig::eDispatchPassive);
    TestClient plain(&stream, "plain", 1);
    TestClient filtered(&stream, "filtered", 1);
    filtered.GetQueue().SetFilter(std::make_shared<DropAll>());
    ASSERT_EQ(OpenClient(plain), isig::eSuccess);
    ASSERT_EQ(OpenClient(filtered), isig::eSuccess);
    for (int i = 0; i < 3; ++i) {
        const int64_t values[] = {i, 0, i, 0};
        stream.Dispatch(values, 4, isig::c_noMeta);
    }
    const isig::SignalStats stats = plain.GetStatistics();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].name, "plain");
    EXPECT_EQ(stats[0].count1, 6u); // pushed
    EXPECT_EQ(stats[0].count2, 4u); // dropped: the queue holds one buffer
    EXPECT_EQ(stats[0].atomSize, 16u);
    const isig::SignalStats filteredStats = filtered.GetStatistics();
    ASSERT_EQ(filteredStats.size(), 2u);
    EXPECT_EQ(filteredStats[0].name, "filtered_filt");
    EXPECT_EQ(filteredStats[0].count1, 6u);
    EXPECT_EQ(filteredStats[0].count2, 6u);
    EXPECT_EQ(filteredStats[1].name, "filtered");
    EXPECT_EQ(filteredStats[1].count1, 0u);
}

} // namespace
