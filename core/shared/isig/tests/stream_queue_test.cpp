#include "isig/stream_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/scripted_stream.h"
#include "tests/support/error_of.h"

using isigtest::Codes;
using isigtest::MakeBuffer;
using isigtest::Ptr;
using isigtest::TestAtom;
using isigtest::TestQueue;
using isigtest::TestTraits;
using testsupport::ErrorOf;

namespace {

using TestArray = isig::Array<TestTraits>;

TEST(ArrayTest, OwnedArraysGrowKeepingTheirAtomsAndBorrowedOnesRefuse)
{
    TestArray owned(TestTraits(), 2);
    owned[0] = TestAtom{7, 70};
    owned[1] = TestAtom{8, 80};
    owned.Resize(1);
    EXPECT_EQ(owned.GetLength(), 1u);
    EXPECT_EQ(owned.GetCapacity(), 2u);
    owned.Resize(5);
    EXPECT_EQ(owned.GetCapacity(), 5u);
    EXPECT_EQ(owned[0].code, 7);
    EXPECT_EQ(ErrorOf([&] { owned[5]; }), "array: index out of range");

    TestAtom storage[3] = {};
    TestArray borrowed(TestTraits(), storage, 3);
    borrowed.Resize(2);
    borrowed[1].code = 42;
    EXPECT_EQ(storage[1].code, 42);
    EXPECT_EQ(ErrorOf([&] { borrowed.Resize(4); }), "array: Cannot extend non-owned array.");
    EXPECT_EQ(ErrorOf([&] { borrowed[2]; }), "array: index out of range");

    // A move leaves the source empty and able to grow again, whatever it held.
    TestArray moved(std::move(borrowed));
    EXPECT_FALSE(moved.IsOwned());
    EXPECT_EQ(moved.Data(), storage);
    EXPECT_EQ(borrowed.GetLength(), 0u);
    EXPECT_EQ(borrowed.GetCapacity(), 0u);
    EXPECT_EQ(borrowed.Data(), nullptr);
    borrowed.Resize(1);
    EXPECT_TRUE(borrowed.IsOwned());
}

TEST(BufferQueueTest, PopOfAnEmptyQueueThrows)
{
    isig::BufferQueue<TestTraits> queue(2);
    Ptr out;
    EXPECT_EQ(ErrorOf([&] { queue.Pop(out); }), "isig: The queue is empty.");
    queue.Push(MakeBuffer(1, 3));
    queue.Pop(out);
    EXPECT_EQ(Codes(out), std::vector<int64_t>{3});
}

// Pops what the queue holds now (it holds no status).
std::vector<std::vector<int64_t>> Drain(TestQueue& queue)
{
    std::vector<std::vector<int64_t>> buffers;
    while (queue.GetQueued() != 0) {
        Ptr buffer;
        EXPECT_EQ(queue.Pop(buffer), isig::eSuccess);
        buffers.push_back(Codes(buffer));
    }
    return buffers;
}

TEST(StreamQueueTest, AFullQueueDropsTheNewOrTheOldestBufferByPolicy)
{
    struct Case {
        int policy;
        std::vector<bool> accepted;
        std::vector<std::vector<int64_t>> kept;
    };
    const Case cases[] = {
        {isig::eQueueDropNewest, {true, true, false}, {{0, 1}, {2, 3}}},
        {isig::eQueueDropOldest, {true, true, true}, {{2, 3}, {4, 5}}},
    };
    // Pushed one by one, or as one batch (as a stream hands on a burst): the same outcome.
    for (const bool batch : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.policy) + (batch ? " batch" : " one by one"));
            TestQueue queue(TestTraits(), "client", 2);
            queue.SetPolicy(c.policy);
            EXPECT_TRUE(queue.IsPlain());
            const std::vector<Ptr> buffers = {MakeBuffer(2, 0), MakeBuffer(2, 2), MakeBuffer(2, 4)};
            if (batch) {
                queue.Push(buffers.data(), buffers.size());
            } else {
                for (size_t i = 0; i < buffers.size(); ++i) {
                    EXPECT_EQ(queue.Push(buffers[i]), c.accepted[i]) << i;
                }
            }
            const TestQueue::Counters counters = queue.GetCounters();
            EXPECT_EQ(counters.pushed, 6u);
            EXPECT_EQ(counters.dropped, 2u);
            EXPECT_EQ(Drain(queue), c.kept);
        }
    }
}

TEST(StreamQueueTest, CopiedBuffersHoldTheirAtomsWhateverTheirSize)
{
    // One atom lives in its buffer's allocation, a long group in storage of its own.
    for (const unsigned count : {1u, 4u, 40u}) {
        SCOPED_TRACE(count);
        std::vector<TestAtom> atoms;
        for (unsigned i = 0; i < count; ++i) {
            atoms.push_back({static_cast<int64_t>(i), static_cast<int64_t>(i) * 10});
        }
        const Ptr buffer = isig::CopyToBuffer(TestTraits(3), atoms.data(), count, {{isig::eMetaTimestamp, 5}});
        ASSERT_EQ(buffer->data.GetLength(), count);
        EXPECT_EQ(buffer->data.GetTraits().GroupSize(), 3u);
        EXPECT_EQ(buffer->data[count - 1].timestamp, static_cast<int64_t>(count - 1) * 10);
        EXPECT_EQ(buffer->meta.at(isig::eMetaTimestamp), 5);
        EXPECT_EQ(ErrorOf([&] { buffer->data[count]; }), "array: index out of range");
    }
}

TEST(StreamQueueTest, EmptyBuffersAreAcceptedWithoutBeingQueued)
{
    TestQueue queue(TestTraits(), "client", 1);
    EXPECT_TRUE(queue.Push(MakeBuffer(0)));
    EXPECT_TRUE(queue.Push(nullptr));
    EXPECT_EQ(queue.GetQueued(), 0u);
    EXPECT_EQ(queue.GetCounters().pushed, 0u);
}

TEST(StreamQueueTest, AFullQueueWithAnUnknownPolicyThrows)
{
    TestQueue queue(TestTraits(), "client", 1);
    queue.SetPolicy(7);
    EXPECT_FALSE(queue.IsPlain());
    EXPECT_TRUE(queue.Push(MakeBuffer(1)));
    EXPECT_EQ(ErrorOf([&] { queue.Push(MakeBuffer(1)); }), "INTERNAL ERROR: Unknown queue policy.");

    // A batch stops at the buffer that throws; those before it stay queued.
    TestQueue batch(TestTraits(), "client", 2);
    batch.SetPolicy(7);
    const std::vector<Ptr> buffers = {MakeBuffer(1, 0), MakeBuffer(1, 1), MakeBuffer(1, 2), MakeBuffer(1, 3)};
    EXPECT_EQ(ErrorOf([&] { batch.Push(buffers.data(), buffers.size()); }), "INTERNAL ERROR: Unknown queue policy.");
    EXPECT_EQ(batch.GetCounters().pushed, 3u);
    EXPECT_EQ(Drain(batch), (std::vector<std::vector<int64_t>>{{0}, {1}}));
}

TEST(StreamQueueTest, AShorterQueueUnderPolicyOneDropsDownToItsLength)
{
    TestQueue queue(TestTraits(), "client", 3);
    queue.SetPolicy(isig::eQueueDropOldest);
    for (int i = 0; i < 3; ++i) {
        queue.Push(MakeBuffer(1, i));
    }
    queue.SetLength(1);
    EXPECT_TRUE(queue.Push(MakeBuffer(1, 3)));
    EXPECT_EQ(queue.GetCounters().dropped, 3u);
    EXPECT_EQ(Drain(queue), (std::vector<std::vector<int64_t>>{{3}}));
}

// Keeps the first `keep` atoms; none (nullptr) for keep < 0.
class CutFilter : public isig::StreamFilter<TestTraits> {
public:
    explicit CutFilter(int keep) : m_keep(keep) {}
    Ptr Filter(const Ptr& buffer) override
    {
        if (m_keep < 0) {
            return nullptr;
        }
        if (static_cast<unsigned>(m_keep) >= buffer->data.GetLength()) {
            return buffer;
        }
        isig::Array<TestTraits> cut(TestTraits(), static_cast<unsigned>(m_keep));
        for (int i = 0; i < m_keep; ++i) {
            cut[i] = buffer->data[i];
        }
        return std::make_shared<const isig::MetaBufferPair<TestTraits>>(std::move(cut), buffer->meta);
    }

private:
    const int m_keep;
};

TEST(StreamQueueTest, FilterStatisticsCountEveryAtomTheFilterRemoved)
{
    struct Case {
        int keep;
        bool queued;
        uint64_t filterOut;
        uint64_t pushed;
    };
    // Four atoms in; an empty result removes all four, as no result does.
    const Case cases[] = {{4, true, 0, 4}, {3, true, 1, 3}, {0, false, 4, 0}, {-1, false, 4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keep);
        TestQueue queue(TestTraits(), "client", 4);
        queue.SetFilter(std::make_shared<CutFilter>(c.keep));
        EXPECT_FALSE(queue.IsPlain());
        EXPECT_EQ(queue.Push(MakeBuffer(4)), c.queued);
        const TestQueue::Counters counters = queue.GetCounters();
        EXPECT_EQ(counters.filterIn, 4u);
        EXPECT_EQ(counters.filterOut, c.filterOut);
        EXPECT_EQ(counters.pushed, c.pushed);
        EXPECT_EQ(queue.GetQueued(), c.queued ? 1u : 0u);
    }
}

TEST(StreamQueueTest, ACancelCodeIsAnsweredOnceAndThenTheQueueIsClosed)
{
    // -2 and -3 too: they come from the stream, and the queue has left it.
    for (const isig::SuccessCode_e code :
         {isig::eNoData, isig::eTimeout, isig::eCancelled, isig::eTerminated, isig::SuccessCode_e(-7)}) {
        SCOPED_TRACE(code);
        TestQueue queue(TestTraits(), "client", 4);
        queue.Push(MakeBuffer(1));
        queue.Cancel(code);
        Ptr out = MakeBuffer(1);
        EXPECT_EQ(queue.Pop(out), code);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(queue.GetStatus(), code);
        EXPECT_EQ(ErrorOf([&] { queue.Pop(out); }), "Stream queue client is closed.");
        // Added to a stream again, it starts afresh.
        EXPECT_TRUE(queue.ResetUnlessTerminated() || code == isig::eTerminated);
    }
    TestQueue queue(TestTraits(), "client", 4);
    queue.Cancel(isig::eSuccess);
    EXPECT_EQ(queue.GetStatus(), isig::eTerminated);
    EXPECT_FALSE(queue.ResetUnlessTerminated());
}

TEST(StreamQueueTest, AResetQueueHasNoStatusCountersOrBuffers)
{
    TestQueue queue(TestTraits(), "client", 1);
    queue.SetTimeout(5);
    queue.Push(MakeBuffer(1));
    queue.Push(MakeBuffer(1));
    queue.Cancel(isig::eCancelled);
    Ptr out;
    queue.Pop(out);
    ASSERT_TRUE(queue.IsClosed());
    ASSERT_TRUE(queue.ResetUnlessTerminated());
    EXPECT_EQ(queue.GetStatus(), isig::eSuccess);
    EXPECT_FALSE(queue.IsClosed());
    EXPECT_EQ(queue.GetQueued(), 0u);
    EXPECT_EQ(queue.GetCounters().pushed, 0u);
    EXPECT_EQ(queue.GetCounters().dropped, 0u);
    EXPECT_EQ(queue.GetTimeout(), 5); // settings stay
}

} // namespace
