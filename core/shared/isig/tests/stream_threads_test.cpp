#include "isig/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/scripted_stream.h"
#include "tests/support/wait_until.h"

using isigtest::Codes;
using isigtest::MakeBuffer;
using isigtest::Ptr;
using isigtest::ScriptedStream;
using isigtest::TestAtom;
using isigtest::TestClient;
using isigtest::TestQueue;
using isigtest::TestTraits;
using testsupport::WaitUntil;

namespace {

using Clock = std::chrono::steady_clock;

TEST(StreamQueueThreadsTest, ATimedOutReadLeavesTheQueueUsableForTheNextData)
{
    TestQueue queue(TestTraits(), "client", 4);
    queue.SetTimeout(100);
    Ptr buffer;
    const auto start = Clock::now();
    EXPECT_EQ(queue.Pop(buffer), isig::eTimeout);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(95));
    EXPECT_EQ(queue.GetStatus(), isig::eSuccess);

    // Data that comes while a read waits is taken at once, well within the time-out.
    queue.SetTimeout(60000);
    std::thread pusher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.Push(MakeBuffer(1, 5));
    });
    EXPECT_EQ(queue.Pop(buffer), isig::eSuccess);
    EXPECT_EQ(Codes(buffer), std::vector<int64_t>{5});
    pusher.join();
}

TEST(StreamThreadsTest, ACancelReachesAWaitingReaderAndStays)
{
    for (const isig::SuccessCode_e code :
         {isig::eNoData, isig::eTimeout, isig::eCancelled, isig::eTerminated, isig::SuccessCode_e(-7)}) {
        SCOPED_TRACE(code);
        ScriptedStream stream(isig::eDispatchPassive);
        TestClient client(&stream, "client", 4);
        ASSERT_EQ(client.Open(), isig::eSuccess);
        isig::SuccessCode_e first = isig::eSuccess;
        std::thread reader([&] {
            TestAtom atom{};
            first = client.Read(atom);
        });
        ASSERT_TRUE(WaitUntil([&] { return client.GetQueue().HasWaitingReader(); }));
        stream.Cancel(code);
        reader.join();
        EXPECT_EQ(first, code);
        // The next read answers at once: nothing would ever wake it.
        TestAtom atom{};
        EXPECT_EQ(client.Read(atom), code);
    }
}

TEST(StreamThreadsTest, CloseFromAnotherThreadWakesABlockedRead)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    TestClient client(&stream, "client", 4);
    ASSERT_EQ(client.Open(), isig::eSuccess);
    std::atomic<int> result{1};
    std::thread reader([&] {
        TestAtom atom{};
        result = client.Read(atom);
    });
    ASSERT_TRUE(WaitUntil([&] { return stream.IsWaiting(); }));
    client.Close();
    reader.join();
    EXPECT_EQ(result, isig::eCancelled);
    EXPECT_EQ(stream.GetState(), isig::eStreamIdle);
    EXPECT_EQ(stream.violations, 0);
}

TEST(StreamThreadsTest, AClientAddedWhileTheStreamStopsWaitsAndStartsItAgain)
{
    ScriptedStream stream(isig::eDispatchOnDemand);
    stream.holdClose = true;
    TestClient leaving(&stream, "leaving", 4);
    TestClient coming(&stream, "coming", 4);
    ASSERT_EQ(leaving.Open(), isig::eSuccess);
    std::thread closer([&] { leaving.Close(); });
    ASSERT_TRUE(WaitUntil([&] { return stream.GetState() == isig::eStreamStopping; }));
    std::atomic<int> opened{1};
    std::thread opener([&] { opened = coming.Open(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(opened, 1); // still waiting for the stop to end
    stream.holdClose = false;
    opener.join();
    closer.join();
    EXPECT_EQ(opened, isig::eSuccess);
    // It went on only once the old period had ended: the input closed, then opened again.
    EXPECT_EQ(stream.closes, 1);
    EXPECT_EQ(stream.opens, 2);
    EXPECT_EQ(stream.GetState(), isig::eStreamRunning);
    stream.Feed(1);
    TestAtom atom{};
    EXPECT_EQ(coming.Read(atom), isig::eSuccess);
    EXPECT_EQ(stream.violations, 0);
}

// Fails the test, with what it knows, when the stress test has not ended in time.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::function<std::string()> report)
        : m_thread([this, limit, report] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "watchdog: no end after %lld s: %s\n", static_cast<long long>(limit.count()),
                               report().c_str());
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// A reader without a time-out sleeps until data comes, as often as it waits: the wake-up of the
// first push must not make the queue believe the second wait was woken already.
TEST(StreamQueueThreadsTest, AReaderWithoutTimeOutIsWokenByEveryPushItWaitsFor)
{
    TestQueue queue(TestTraits(), "client", 4);
    ASSERT_EQ(queue.GetTimeout(), 0);
    std::atomic<int> taken{0};
    Watchdog watchdog(std::chrono::seconds(300), [&] { return "reads taken: " + std::to_string(taken.load()); });
    std::vector<int64_t> codes;
    std::thread reader([&] {
        for (int i = 0; i < 2; ++i) {
            Ptr buffer;
            ASSERT_EQ(queue.Pop(buffer), isig::eSuccess);
            codes.push_back(Codes(buffer).at(0));
            ++taken;
        }
    });
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return taken == i && queue.HasWaitingReader(); }));
        queue.Push(MakeBuffer(1, 10 + i));
    }
    reader.join();
    EXPECT_EQ(codes, (std::vector<int64_t>{10, 11}));
}

// Readers on their own threads hold and check the buffers they took while the producer goes on
// dispatching into memory that comes back from them: a block given out again before every client
// let go of it shows as changed atoms (and, under the thread sanitizer, as a race).
TEST(StreamThreadsTest, PooledBuffersComeBackOnlyOnceEveryReaderIsDone)
{
    constexpr int c_readers = 3;
    constexpr int64_t c_groups = 3000;
    for (const unsigned atoms : {1u, 32u}) {
        SCOPED_TRACE(atoms);
        ScriptedStream stream(isig::eDispatchPassive);
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < c_readers; ++i) {
            clients.push_back(std::make_unique<TestClient>(&stream, "reader" + std::to_string(i), 16));
            clients.back()->GetQueue().SetPolicy(isig::eQueueDropNewest);
            ASSERT_EQ(clients.back()->Open(), isig::eSuccess);
        }
        std::atomic<int> bad{0};
        std::vector<std::thread> readers;
        for (int i = 0; i < c_readers; ++i) {
            readers.emplace_back([&, i] {
                // Keeps the last few buffers and checks them again before letting go.
                std::deque<Ptr> held;
                const auto intact = [atoms](const Ptr& buffer) {
                    const std::vector<int64_t> codes = Codes(buffer);
                    return codes.size() == atoms && std::all_of(codes.begin(), codes.end(), [&](int64_t code) {
                               return code == codes[0] && buffer->data[0].timestamp == -code;
                           });
                };
                for (;;) {
                    Ptr buffer;
                    if (clients[static_cast<size_t>(i)]->GetQueue().Pop(buffer) != isig::eSuccess) {
                        break;
                    }
                    bad += intact(buffer) ? 0 : 1;
                    held.push_back(std::move(buffer));
                    if (held.size() > 4) {
                        bad += intact(held.front()) ? 0 : 1;
                        held.pop_front();
                    }
                }
            });
        }
        std::vector<int64_t> values(2 * atoms);
        for (int64_t group = 0; group < c_groups; ++group) {
            for (unsigned a = 0; a < atoms; ++a) {
                values[2 * a] = group;
                values[2 * a + 1] = -group;
            }
            stream.Dispatch(values.data(), static_cast<unsigned>(values.size()), isig::c_noMeta);
        }
        stream.Cancel(isig::eTerminated);
        for (std::thread& reader : readers) {
            reader.join();
        }
        EXPECT_EQ(bad, 0);
    }
}

// What the readers of one queue took, each reader's codes in the order it took them.
struct Taken {
    std::vector<std::vector<int64_t>> byReader;
    std::atomic<uint64_t> atoms{0};
};

// Readers pop until the queue ends; every reader keeps the codes of what it took.
std::vector<std::thread> StartReaders(TestQueue& queue, int readers, Taken& taken)
{
    taken.byReader.resize(static_cast<size_t>(readers));
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; ++r) {
        threads.emplace_back([&queue, &taken, r] {
            for (;;) {
                Ptr buffer;
                if (queue.Pop(buffer) != isig::eSuccess) {
                    return;
                }
                for (const int64_t code : Codes(buffer)) {
                    taken.byReader[static_cast<size_t>(r)].push_back(code);
                }
                taken.atoms += buffer->data.GetLength();
            }
        });
    }
    return threads;
}

// Every atom the queue took is read once or counted dropped, and each reader reads in order.
void ExpectEachAtomOnce(const TestQueue& queue, const Taken& taken, uint64_t sent)
{
    const TestQueue::Counters counters = queue.GetCounters();
    EXPECT_EQ(counters.pushed, sent);
    EXPECT_EQ(taken.atoms + counters.dropped, sent);
    std::vector<int64_t> all;
    for (const std::vector<int64_t>& codes : taken.byReader) {
        EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()) &&
                    std::adjacent_find(codes.begin(), codes.end()) == codes.end());
        all.insert(all.end(), codes.begin(), codes.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.size(), taken.atoms);
}

// The stream pushes into plain queues, and their readers take from them, without the queues'
// mutexes: readers that race the producer, each other and the dropping of full queues still read
// every group once or see it counted dropped, and a reader never sleeps through a group pushed
// for it (the run would not end). Every 50th group waits for the readers to sleep first, so that
// the wake-up of a sleeping reader is taken as often as the race.
TEST(StreamThreadsTest, ReadersRacingTheFanOutReadEveryGroupOnceOrSeeItDropped)
{
    struct Case {
        int policy;
        unsigned length;
        int readersPerQueue;
    };
    const Case cases[] = {
        {isig::eQueueDropNewest, 4, 1},
        {isig::eQueueDropOldest, 2, 1},
        {isig::eQueueDropNewest, 64, 2},
        {isig::eQueueDropOldest, 1, 2},
    };
    constexpr int c_clients = 3;
    constexpr int64_t c_groups = 20000;
    for (const Case& c : cases) {
        SCOPED_TRACE("policy " + std::to_string(c.policy) + ", length " + std::to_string(c.length) + ", readers " +
                     std::to_string(c.readersPerQueue));
        ScriptedStream stream(isig::eDispatchPassive);
        std::vector<std::unique_ptr<TestClient>> clients;
        std::vector<Taken> taken(c_clients);
        std::vector<std::thread> readers;
        for (int i = 0; i < c_clients; ++i) {
            clients.push_back(std::make_unique<TestClient>(&stream, "reader" + std::to_string(i), c.length));
            TestQueue& queue = clients.back()->GetQueue();
            queue.SetPolicy(c.policy);
            ASSERT_EQ(clients.back()->Open(), isig::eSuccess);
            for (std::thread& reader : StartReaders(queue, c.readersPerQueue, taken[static_cast<size_t>(i)])) {
                readers.push_back(std::move(reader));
            }
        }
        const auto allAsleep = [&] {
            return std::all_of(clients.begin(), clients.end(), [](const std::unique_ptr<TestClient>& client) {
                return client->GetQueue().GetQueued() == 0 && client->GetQueue().HasWaitingReader();
            });
        };
        for (int64_t group = 0; group < c_groups; ++group) {
            if (group % 50 == 0) {
                ASSERT_TRUE(WaitUntil(allAsleep)) << "group " << group;
            }
            const int64_t values[] = {group, 0};
            stream.Dispatch(values, 2, isig::c_noMeta);
        }
        for (int i = 0; i < c_clients; ++i) {
            const TestQueue& queue = clients[static_cast<size_t>(i)]->GetQueue();
            const Taken& mine = taken[static_cast<size_t>(i)];
            EXPECT_TRUE(WaitUntil([&] { return mine.atoms + queue.GetCounters().dropped == c_groups; }))
                << "read " << mine.atoms << ", dropped " << queue.GetCounters().dropped;
        }
        stream.Cancel(isig::eTerminated);
        for (std::thread& reader : readers) {
            reader.join();
        }
        for (int i = 0; i < c_clients; ++i) {
            SCOPED_TRACE(i);
            ExpectEachAtomOnce(clients[static_cast<size_t>(i)]->GetQueue(), taken[static_cast<size_t>(i)], c_groups);
        }
    }
}

// A stream whose reads deliver several groups, which it hands to its queues as one round.
class BurstStream : public ScriptedStream {
public:
    BurstStream() : ScriptedStream(isig::eDispatchOnDemand, 2) {}

protected:
    unsigned InputGroups() const override { return 4; }
};

// The bursts of a dispatch thread reach readers that wait and race it: whole, in order, once.
TEST(StreamThreadsTest, BurstsReachRacingReadersWholeInOrderAndOnce)
{
    constexpr int c_reads = 3000;
    constexpr unsigned c_atoms = 8; // four groups of two
    BurstStream stream;
    TestClient client(&stream, "reader", 16);
    ASSERT_EQ(client.Open(), isig::eSuccess);
    Taken taken;
    std::vector<std::thread> readers = StartReaders(client.GetQueue(), 1, taken);
    for (int read = 0; read < c_reads; ++read) {
        if (read % 50 == 0) {
            ASSERT_TRUE(WaitUntil([&] { return stream.IsWaiting() && client.GetQueue().HasWaitingReader(); }));
        }
        stream.Feed(c_atoms);
    }
    const uint64_t sent = uint64_t{c_reads} * c_atoms;
    EXPECT_TRUE(WaitUntil([&] { return taken.atoms + client.GetQueue().GetCounters().dropped == sent; }));
    stream.Cancel(isig::eTerminated);
    readers.front().join();
    ExpectEachAtomOnce(client.GetQueue(), taken, sent);
    // Groups come whole: a dropped group takes both its atoms.
    EXPECT_EQ(client.GetQueue().GetCounters().dropped % 2, 0u);
}

TEST(StreamThreadsTest, StressOfClientsOpeningClosingReadingAndCancellingEndsCleanly)
{
    constexpr int c_threads = 8;
    constexpr int c_operations = 100000;
    constexpr int c_clientsPerThread = 2;
    const char* const names[] = {"n0", "n1", "n2", "n3"};

    ScriptedStream stream(isig::eDispatchOnDemand, 4, "stress");
    stream.SetEndless(2);
    stream.endlessPauseUs = 50;
    std::atomic<int> done{0};
    std::atomic<bool> producing{true};
    std::vector<std::vector<std::unique_ptr<TestClient>>> clients(c_threads);
    std::atomic<int> unexpected{0};

    Watchdog watchdog(std::chrono::seconds(600), [&] {
        return "operations " + std::to_string(done.load()) + ", state " + std::to_string(stream.GetState()) +
               ", queues " + std::to_string(stream.GetQueueCount());
    });

    auto makeClient = [&](std::mt19937& random) {
        auto client = std::make_unique<TestClient>(&stream, names[random() % 4], 8);
        client->GetQueue().SetTimeout(2);
        return client;
    };
    std::thread producer([&] {
        int64_t n = 0;
        while (producing) {
            const int64_t values[] = {n, n};
            stream.Dispatch(values, 2, isig::c_noMeta);
            ++n;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < c_threads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(20240611u + static_cast<unsigned>(t));
            auto& own = clients[t];
            for (int i = 0; i < c_clientsPerThread; ++i) {
                own.push_back(makeClient(random));
            }
            for (int i = 0; i < c_operations / c_threads; ++i, ++done) {
                TestClient& client = *own[random() % c_clientsPerThread];
                const unsigned op = random() % 100;
                try {
                    if (op < 25) {
                        const isig::SuccessCode_e r = client.Open();
                        unexpected += r != isig::eSuccess && r != isig::eTerminated;
                    } else if (op < 45) {
                        client.Close();
                    } else if (op < 80) {
                        TestAtom atom{};
                        client.Read(atom);
                    } else if (op < 90) {
                        stream.Cancel(std::string(names[random() % 4]));
                    } else if (op < 99) {
                        own[random() % c_clientsPerThread] = makeClient(random);
                    } else {
                        stream.Cancel(isig::eNoData); // stops the stream; the next client starts it again
                    }
                } catch (const std::exception& e) {
                    ++unexpected;
                    std::fprintf(stderr, "worker %d: %s\n", t, e.what());
                }
            }
        });
    }
    // The shutdown comes while the workers are still busy.
    ASSERT_TRUE(WaitUntil([&] { return done >= c_operations * 9 / 10; }, std::chrono::seconds(600)));
    stream.ShutDown();
    for (std::thread& worker : workers) {
        worker.join();
    }
    producing = false;
    producer.join();

    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(stream.GetState(), isig::eStreamShutDown);
    EXPECT_EQ(stream.GetQueueCount(), 0u);
    EXPECT_FALSE(stream.IsInputOpen());
    EXPECT_EQ(stream.violations, 0);
    EXPECT_EQ(stream.opens, stream.closes);
    for (const auto& own : clients) {
        for (const auto& client : own) {
            EXPECT_TRUE(!client->IsOpen() || client->GetQueue().GetStatus() != isig::eSuccess) << client->GetName();
        }
    }
}

} // namespace
