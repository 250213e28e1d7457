#include "isig/kavrel_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/scripted_stream.h"
#include "istd/trace_capture.h"
#include "sim/devices/stream_device.h"
#include "tests/support/error_of.h"
#include "tests/support/open_descriptors.h"
#include "tests/support/wait_until.h"

using isigtest::Codes;
using isigtest::Ptr;
using isigtest::TestAtom;
using isigtest::TestClient;
using isigtest::TestTraits;
using testsupport::CountOpenDescriptors;
using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

const std::string c_path = "/dev/kavrel6.strm0";

class DeviceStream : public isig::KavrelStream<TestTraits> {
public:
    using KavrelStream::KavrelStream;
    void OpenAgain() { OpenInput(); }
};

std::vector<TestAtom> Atoms(int64_t first, int count)
{
    std::vector<TestAtom> atoms;
    for (int i = 0; i < count; ++i) {
        atoms.push_back({first + i, (first + i) * 10});
    }
    return atoms;
}

// The codes of the atoms the client reads until it has `count` (or a read fails).
std::vector<int64_t> ReadCodes(TestClient& client, size_t count)
{
    std::vector<int64_t> codes;
    while (codes.size() < count) {
        Ptr buffer;
        const isig::SuccessCode_e result = client.GetQueue().Pop(buffer);
        if (result != isig::eSuccess) {
            codes.push_back(result);
            break;
        }
        for (int64_t code : Codes(buffer)) {
            codes.push_back(code);
        }
    }
    return codes;
}

std::vector<int64_t> Range(int64_t first, int64_t count)
{
    std::vector<int64_t> codes;
    for (int64_t i = 0; i < count; ++i) {
        codes.push_back(first + i);
    }
    return codes;
}

class KavrelStreamTest : public ::testing::Test {
protected:
    KavrelStreamTest() : descriptors(CountOpenDescriptors()) {}
    ~KavrelStreamTest() override
    {
        stream.reset();
        EXPECT_EQ(CountOpenDescriptors(), descriptors);
    }

    isig::SuccessCode_e Open(TestClient& client)
    {
        const isig::SuccessCode_e result = client.Open(isig::eModeRead, 0, 10000);
        device.WaitForOpen();
        return result;
    }

    const size_t descriptors;
    sim::StreamDevice device{c_path, sizeof(TestAtom)};
    std::unique_ptr<DeviceStream> stream = std::make_unique<DeviceStream>("zolt", "board6", c_path, 8);
};

TEST_F(KavrelStreamTest, TheDeviceIsOpenExactlyWhileTheStreamDispatches)
{
    istd::TraceCapture capture(istd::eTraceDetail);
    EXPECT_TRUE(stream->GetStatistics().empty());
    TestClient first(stream.get(), "first", 8);
    TestClient second(stream.get(), "second", 8);
    for (int period = 0; period < 2; ++period) {
        ASSERT_EQ(Open(first), isig::eSuccess);
        ASSERT_EQ(Open(second), isig::eSuccess);
        EXPECT_EQ(device.GetOpenDescriptorCount(), 1u);
        first.Close();
        second.Close();
        EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    }
    EXPECT_EQ(device.GetOpenCount(), 2u);
    EXPECT_EQ(device.GetCloseCount(), 2u);
    EXPECT_TRUE(capture.Contains("Closing file: " + c_path)) << capture.Text();
    EXPECT_FALSE(stream->IsInputOpen());

    ASSERT_EQ(Open(first), isig::eSuccess);
    stream->OpenAgain();
    EXPECT_TRUE(capture.Contains("File: " + c_path + " already open.")) << capture.Text();
    EXPECT_EQ(device.GetOpenCount(), 3u);
}

TEST_F(KavrelStreamTest, AtomsArriveWholeAndInOrderHoweverTheDeviceCutsThem)
{
    TestClient client(stream.get(), "client", 64);
    ASSERT_EQ(Open(client), isig::eSuccess);
    const std::vector<TestAtom> atoms = Atoms(0, 20);
    // Pieces cut through atoms, empty writes, and a burst of more than a group.
    device.WriteSplit(atoms.data(), 20 * sizeof(TestAtom), {7, 0, 9, 0, 16, 200, 1, 1});
    EXPECT_EQ(ReadCodes(client, 20), Range(0, 20));
    device.WaitUntilRead();
    const isig::SignalStats stats = client.GetStatistics();
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].name, "device");
    EXPECT_EQ(stats[0].count1, 20u);
    EXPECT_EQ(stats[0].atomSize, 16u);
    EXPECT_EQ(stats[1].name, "client");
    EXPECT_EQ(stats[1].count1, 20u);
}

// The lengths and the codes of the buffers a client pops until it has `count` atoms.
std::pair<std::vector<unsigned>, std::vector<int64_t>> ReadBuffers(TestClient& client, size_t count)
{
    std::pair<std::vector<unsigned>, std::vector<int64_t>> read;
    while (read.second.size() < count) {
        Ptr buffer;
        if (client.GetQueue().Pop(buffer) != isig::eSuccess) {
            break;
        }
        read.first.push_back(buffer->data.GetLength());
        for (int64_t code : Codes(buffer)) {
            read.second.push_back(code);
        }
    }
    return read;
}

// Keeps the first two atoms of every buffer.
class FirstTwo : public isig::StreamFilter<TestTraits> {
public:
    Ptr Filter(const Ptr& buffer) override
    {
        return isig::CopyToBuffer(buffer->data.GetTraits(), buffer->data.Data(), std::min(buffer->data.GetLength(), 2u),
                                  buffer->meta);
    }
};

TEST_F(KavrelStreamTest, ABurstIsReadAtOnceAndHandedOnGroupByGroup)
{
    TestClient plain(stream.get(), "plain", 64);
    TestClient filtered(stream.get(), "filtered", 64);
    filtered.GetQueue().SetFilter(std::make_shared<FirstTwo>());
    ASSERT_EQ(Open(plain), isig::eSuccess);
    ASSERT_EQ(Open(filtered), isig::eSuccess);
    device.WriteAtoms(Atoms(0, 20)); // one write: one read takes it whole
    const auto all = ReadBuffers(plain, 20);
    EXPECT_EQ(all.first, (std::vector<unsigned>{8, 8, 4}));
    EXPECT_EQ(all.second, Range(0, 20));
    // A queue that filters takes the groups one by one, in the same order.
    EXPECT_EQ(ReadBuffers(filtered, 6).second, (std::vector<int64_t>{0, 1, 8, 9, 16, 17}));
    const isig::SignalStats stats = filtered.GetStatistics();
    ASSERT_EQ(stats.size(), 3u);
    EXPECT_EQ(stats[0].count1, 20u); // the device's atoms
    EXPECT_EQ(stats[1].name, "filtered_filt");
    EXPECT_EQ(stats[1].count1, 20u);
    EXPECT_EQ(stats[1].count2, 14u);
}

TEST_F(KavrelStreamTest, AShortQueueKeepsAndDropsABurstAsItWouldGroupByGroup)
{
    struct Case {
        int policy;
        std::vector<int64_t> kept;
    };
    // Five groups of eight into a queue of two.
    const Case cases[] = {{isig::eQueueDropNewest, Range(0, 16)}, {isig::eQueueDropOldest, Range(24, 16)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.policy);
        TestClient client(stream.get(), "client", 2);
        client.GetQueue().SetPolicy(c.policy);
        ASSERT_EQ(Open(client), isig::eSuccess);
        device.WriteAtoms(Atoms(0, 40));
        ASSERT_TRUE(WaitUntil([&] { return client.GetQueue().GetCounters().pushed == 40; }));
        EXPECT_EQ(client.GetQueue().GetCounters().dropped, 24u);
        EXPECT_EQ(ReadCodes(client, 16), c.kept);
        client.Close();
    }
}

TEST_F(KavrelStreamTest, AReadErrorReachesTheClientsAndTheNextClientOpensAgain)
{
    istd::TraceCapture capture(istd::eTraceError);
    TestClient first(stream.get(), "first", 8);
    TestClient second(stream.get(), "second", 8);
    ASSERT_EQ(Open(first), isig::eSuccess);
    ASSERT_EQ(Open(second), isig::eSuccess);
    device.WriteAtoms(Atoms(0, 3));
    EXPECT_EQ(ReadCodes(first, 3), Range(0, 3));
    device.WaitUntilRead();
    device.WriteError(EIO);
    EXPECT_EQ(ReadCodes(first, 1), std::vector<int64_t>{isig::eFailure});
    ASSERT_TRUE(WaitUntil([&] { return second.GetQueue().GetStatus() != isig::eSuccess; }));
    // The failure ends the queue at once: what it held unread is given up.
    EXPECT_EQ(second.GetQueue().GetCounters().pushed, 3u);
    EXPECT_EQ(ReadCodes(second, 4), std::vector<int64_t>{isig::eFailure});
    EXPECT_TRUE(WaitUntil([&] { return device.GetOpenDescriptorCount() == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return stream->GetState() == isig::eStreamIdle; }));
    EXPECT_TRUE(capture.Contains("zolt: Terminating dispatch thread. Cause: failure(-1)")) << capture.Text();

    first.Close();
    second.Close();
    ASSERT_EQ(Open(first), isig::eSuccess);
    EXPECT_EQ(device.GetOpenCount(), 2u);
    device.WriteAtoms(Atoms(7, 1));
    EXPECT_EQ(ReadCodes(first, 1), std::vector<int64_t>{7});
}

TEST_F(KavrelStreamTest, TheEndOfTheDeviceIsWaitedOutWithoutSpinning)
{
    TestClient client(stream.get(), "client", 8);
    ASSERT_EQ(Open(client), isig::eSuccess);
    device.WriteAtoms(Atoms(0, 2));
    device.Write("half", 4);
    device.WriteEnd();
    EXPECT_EQ(ReadCodes(client, 2), Range(0, 2));
    const uint64_t reads = device.GetReadCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // About one read per 100 ms; a spinning reader would make thousands.
    EXPECT_LE(device.GetReadCount() - reads, 10u);
    EXPECT_EQ(client.GetQueue().GetQueued(), 0u);
    EXPECT_EQ(stream->GetState(), isig::eStreamRunning);
    client.Close();
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
}

TEST_F(KavrelStreamTest, TheLastCloseWakesTheBlockedReadPromptly)
{
    TestClient client(stream.get(), "client", 8);
    ASSERT_EQ(Open(client), isig::eSuccess);
    ASSERT_TRUE(WaitUntil([&] { return device.GetReadCount() > 0 || device.GetUnreadBytes() == 0; }));
    const auto start = std::chrono::steady_clock::now();
    client.Close(); // interrupts the read, joins the thread, closes the device
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    EXPECT_LT(took, std::chrono::seconds(5));
    RecordProperty("close_us", static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
}

TEST_F(KavrelStreamTest, DeletingADispatchingStreamTerminatesItsClientsAndClosesTheDevice)
{
    TestClient client(stream.get(), "client", 8);
    ASSERT_EQ(Open(client), isig::eSuccess);
    device.WriteAtoms(Atoms(0, 1));
    EXPECT_EQ(ReadCodes(client, 1), std::vector<int64_t>{0});
    stream.reset();
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    TestAtom atom{};
    EXPECT_EQ(client.Read(atom), isig::eTerminated);
    client.Close(); // terminated: the stream is not touched
}

TEST_F(KavrelStreamTest, ADeviceThatCannotOpenLeavesTheClientClosed)
{
    device.SetOpenFailure(ENOENT);
    TestClient client(stream.get(), "client", 8);
    EXPECT_EQ(ErrorOf([&] { client.Open(); }), "isig: Can't open stream device " + c_path + ": No such file or directory");
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(stream->GetQueueCount(), 0u);
    device.SetOpenFailure(0);
    EXPECT_EQ(Open(client), isig::eSuccess);
}

} // namespace
