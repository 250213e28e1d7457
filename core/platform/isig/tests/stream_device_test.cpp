#include "isig/stream_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "sim/devices/stream_device.h"
#include "tests/support/error_of.h"
#include "tests/support/open_descriptors.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

using testsupport::CountOpenDescriptors;
using testsupport::ErrorOf;
using testsupport::WaitUntil;

namespace {

const std::string c_path = "/dev/kavrel5.strm0";
constexpr unsigned c_atom = 4;

struct Result {
    int code;
    std::string atoms; // the bytes of the whole atoms read
};

Result Read(int fd, unsigned room = 64)
{
    std::string buffer(room, '\0');
    unsigned atoms = 99;
    const int code = isig::KavrelStreamRead(fd, buffer.data(), room, c_atom, atoms);
    return {code, buffer.substr(0, atoms * c_atom)};
}

class StreamDeviceFunctionsTest : public ::testing::Test {
protected:
    void SetUp() override { fd = isig::OpenKavrelStreamDevice(c_path, c_atom, 8); }
    void TearDown() override { isig::CloseKavrelStreamDevice(fd); }

    sim::StreamDevice device{c_path, c_atom};
    int fd = -1;
};

TEST_F(StreamDeviceFunctionsTest, ReadsDeliverWholeAtomsAndKeepAPartialOneForLater)
{
    device.WriteSplit("abcdefghij", 10, {3, 0, 5}); // two atoms and a half, in pieces
    Result r = Read(fd);
    EXPECT_EQ(r.code, isig::eSuccess);
    EXPECT_EQ(r.atoms, "abcdefgh");
    device.Write("klmn", 4);
    r = Read(fd);
    EXPECT_EQ(r.code, isig::eSuccess);
    EXPECT_EQ(r.atoms, "ijkl"); // the kept half completed; "mn" waits in turn
}

TEST_F(StreamDeviceFunctionsTest, ABurstLargerThanTheRoomIsReadInTurns)
{
    device.Write("0000111122223333444", 19);
    EXPECT_EQ(Read(fd, 8).atoms, "00001111");
    EXPECT_EQ(Read(fd, 9).atoms, "22223333"); // room is rounded down to whole atoms
    device.Write("4", 1);
    EXPECT_EQ(Read(fd, 8).atoms, "4444");

    isig::SignalStats stats;
    isig::GetKavrelDeviceStatistics(fd, c_atom, stats);
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].name, "device");
    EXPECT_EQ(stats[0].count1, 5u); // atoms
    EXPECT_EQ(stats[0].count2, 1u); // the read that left "444" waiting
    EXPECT_EQ(stats[0].atomSize, c_atom);
}

TEST_F(StreamDeviceFunctionsTest, AReadTakesEveryAtomThatIsReadyUpToItsRoom)
{
    device.Write("aaaa", 4);
    device.Write("bbbb", 4);
    device.Write("ccccd", 5);
    EXPECT_EQ(Read(fd, 8).atoms, "aaaabbbb");
    EXPECT_EQ(device.GetUnreadBytes(), 5u);
    EXPECT_EQ(Read(fd).atoms, "cccc"); // "d" waits for the rest of its atom
    device.Write("ddd", 3);
    EXPECT_EQ(Read(fd).atoms, "dddd");
}

TEST_F(StreamDeviceFunctionsTest, AFailureAfterAtomsIsTheNextReadsResult)
{
    device.Write("aaaa", 4);
    device.WriteError(EIO);
    device.Write("bbbb", 4);
    Result r = Read(fd);
    EXPECT_EQ(r.code, isig::eSuccess);
    EXPECT_EQ(r.atoms, "aaaa");
    errno = 0;
    EXPECT_EQ(Read(fd).code, isig::eFailure);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Read(fd).atoms, "bbbb");
}

TEST_F(StreamDeviceFunctionsTest, FailuresEndsAndBadCallsAnswerTheirCodes)
{
    device.WriteError(EIO);
    errno = 0;
    EXPECT_EQ(Read(fd).code, isig::eFailure);
    EXPECT_EQ(errno, EIO);

    // The end of the device: no data, after a pause, so that a reader does not spin.
    device.WriteEnd();
    const auto start = std::chrono::steady_clock::now();
    const uint64_t reads = device.GetReadCount();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Read(fd).code, isig::eNoData);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(device.GetReadCount(), reads + 3);

    char buffer[8];
    unsigned atoms = 7;
    EXPECT_EQ(isig::KavrelStreamRead(fd, buffer, 3, c_atom, atoms), isig::eFailure); // no room for an atom
    EXPECT_EQ(atoms, 0u);
    EXPECT_EQ(isig::KavrelStreamRead(fd, buffer, 8, 2, atoms), isig::eFailure); // another atom size
    errno = 0;
    EXPECT_EQ(isig::KavrelStreamRead(12345, buffer, 8, c_atom, atoms), isig::eFailure);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(StreamDeviceFunctionsTest, ACloseFromAnotherThreadWakesABlockedRead)
{
    Result result{99, ""};
    std::chrono::steady_clock::time_point woken;
    std::thread reader([&] {
        result = Read(fd);
        woken = std::chrono::steady_clock::now();
    });
    device.Write("ab", 2); // half an atom: the reader goes on waiting
    ASSERT_TRUE(WaitUntil([&] { return device.GetUnreadBytes() == 0; }));
    const auto closing = std::chrono::steady_clock::now();
    isig::CloseKavrelStreamDevice(fd);
    reader.join();
    EXPECT_EQ(result.code, isig::eNoData);
    EXPECT_EQ(result.atoms, "");
    EXPECT_EQ(device.GetOpenDescriptorCount(), 0u);
    // Generous: the figure itself is reported, not asserted.
    EXPECT_LT(woken - closing, std::chrono::seconds(2));
    RecordProperty("wake_us", static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(woken - closing).count()));
    EXPECT_EQ(Read(fd).code, isig::eFailure); // closed
    fd = -1;
}

TEST_F(StreamDeviceFunctionsTest, AnInterruptedDescriptorAnswersNoDataUntilItIsClosed)
{
    device.Write("abcd", 4);
    isig::InterruptKavrelStreamDevice(fd);
    EXPECT_EQ(Read(fd).code, isig::eNoData);
    EXPECT_EQ(device.GetOpenDescriptorCount(), 1u);
    EXPECT_EQ(device.GetReadCount(), 0u);
}

TEST(StreamDeviceOpenTest, OpensFailWithTheReasonAndLeaveNothingOpen)
{
    const size_t descriptors = CountOpenDescriptors();
    EXPECT_EQ(ErrorOf([] { isig::OpenKavrelStreamDevice("/nonexistent/kavrel1.strm0", 16, 32); }),
              "isig: Can't open stream device /nonexistent/kavrel1.strm0: No such file or directory");
    sim::StreamDevice device(c_path, c_atom);
    device.SetOpenFailure(EBUSY);
    EXPECT_EQ(ErrorOf([] { isig::OpenKavrelStreamDevice(c_path, c_atom, 1); }),
              "isig: Can't open stream device " + c_path + ": Device or resource busy");
    EXPECT_EQ(ErrorOf([] { isig::OpenKavrelStreamDevice(c_path, 0, 1); }),
              "isig: Can't open stream device " + c_path + ": the atom size is 0");
    EXPECT_EQ(CountOpenDescriptors(), descriptors);

    device.SetOpenFailure(0);
    const int fd = isig::OpenKavrelStreamDevice(c_path, c_atom, 1);
    EXPECT_GT(CountOpenDescriptors(), descriptors);
    isig::CloseKavrelStreamDevice(fd);
    isig::CloseKavrelStreamDevice(fd); // again: nothing
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
}

TEST(StreamDeviceOpenTest, AFifoStandsInForADevice)
{
    testsupport::TempDir dir;
    const std::string fifo = dir / "kavrel7.strm0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int fd = isig::OpenKavrelStreamDevice(fifo, c_atom, 4);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "wxyz12", 6), 6);
    EXPECT_EQ(Read(fd).atoms, "wxyz");
    ::close(writer); // the stream's own write end keeps the FIFO from reporting its end
    const int again = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(::write(again, "34", 2), 2);
    ::close(again);
    EXPECT_EQ(Read(fd).atoms, "1234");
    isig::CloseKavrelStreamDevice(fd);
}

} // namespace
