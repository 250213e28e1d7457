// Misbehaviour on command: each fault kind as the host sees it, and the rules' counting.

#include <gtest/gtest.h>

#include "common/usb_link.h"
#include "sim/cmc/simulator.h"

using simtest::Bytes;
using simtest::Hex;
using simtest::Link;

namespace {

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override { simtest::LoadSample(); }

    // Header and data of one answer frame as received (whatever its size).
    static std::string Head(const std::vector<uint8_t>& frame, size_t bytes = 5) {
        return Hex({frame.begin(), frame.begin() + static_cast<long>(std::min(bytes, frame.size()))});
    }

    std::string DeviceIdAnswer(Link& link) {
        EXPECT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
        std::vector<uint8_t> answer;
        const int result = link.Read(answer);
        return result == 0 ? Head(answer) : libusb_error_name(result);
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
};

TEST_F(FaultTest, CompletionCodeCountedAndFiltered) {
    m_sim.AddFault("ccode 0xC3 slot=1 netfn=6 cmd=1 skip=1 count=2");
    Link other(2);
    EXPECT_EQ(DeviceIdAnswer(other), "07 00 01 00 0f");
    Link link(1);
    EXPECT_EQ(Head(link.Ask(0x04, 0x20)), "05 00 20 00 02");
    const std::vector<std::string> expected{"07 00 01 00 0f", "07 00 01 c3 00", "07 00 01 c3 00",
                                            "07 00 01 00 0f"};
    for (const auto& e : expected)
        EXPECT_EQ(DeviceIdAnswer(link), e);
}

TEST_F(FaultTest, CompletionCodeForeverAndRefusedRequestNotCarriedOut) {
    m_sim.AddFault("ccode 0xCA netfn=4 cmd=0x21 count=forever");
    m_sim.AddFault("ccode 0xC0 data=0xdc");
    Link link(1);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(Hex(link.Ask(0x04, 0x21, Bytes("00 00 00 00 00 02"))), "05 00 21 ca 00");
    EXPECT_EQ(Hex(link.Ask(0x00, 0x02, Bytes("dc 10 00 99 99"))), "01 00 02 c0 00");
    EXPECT_EQ(m_sim.Board(1).spiRegisters.at(0x10), 0x003E);
    EXPECT_EQ(Hex(link.Ask(0x00, 0x02, Bytes("dc 10 00 99 99"))), "01 00 02 00 00");
    EXPECT_EQ(m_sim.Board(1).spiRegisters.at(0x10), 0x9999);
}

TEST_F(FaultTest, DataFilterMatchesTheRequestPrefix) {
    // The second write piece of the base section is refused; erase and begin pass.
    m_sim.AddFault("ccode 0xC0 netfn=0x0a cmd=0x70 data=0,3 skip=1");
    Link link(2);
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 04"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 00"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 03 00 00 01 11"))), "0b 00 70 00 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 03 01 00 01 22"))), "0b 00 70 c0 00");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x70, Bytes("00 03 01 00 01 22"))), "0b 00 70 00 00");
}

TEST_F(FaultTest, TimeoutLosesTheAnswerOfACarriedOutRequest) {
    m_sim.AddFault("timeout slot=1 data=0xdc");
    Link link(1);
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x00, 0x02, Bytes("dc 10 00 55 00"))), 0);
    std::vector<uint8_t> answer;
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(m_sim.Board(1).spiRegisters.at(0x10), 0x0055);
    EXPECT_EQ(DeviceIdAnswer(link), "07 00 01 00 0f");
}

TEST_F(FaultTest, FrameShapes) {
    struct Case {
        const char* fault;
        size_t size;
        const char* head;   // the first 16 bytes at most
    };
    const Case cases[] = {
        {"short", 32, "07 00 01 00 0f 2c 81 02 04 02 29 de c0 00 2c 2c"},
        {"short 5", 5, "07 00 01 00 0f"},
        {"length 200", 64, "07 00 01 00 c8 2c 81 02 04 02 29 de c0 00 2c 2c"},
        {"truncate 10", 64, "07 00 01 00 0a 2c 81 02 04 02 29 de c0 00 2c 00"},
    };
    for (const Case& c : cases) {
        simtest::LoadSample();
        m_sim.AddFault(c.fault);
        Link link(0);
        ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
        std::vector<uint8_t> answer;
        ASSERT_EQ(link.Read(answer), 0) << c.fault;
        EXPECT_EQ(answer.size(), c.size) << c.fault;
        EXPECT_EQ(Head(answer, 16), c.head) << c.fault;
        EXPECT_EQ(DeviceIdAnswer(link), "07 00 01 00 0f") << c.fault;
    }
}

TEST_F(FaultTest, WrongFunctionThenTheTrueAnswer) {
    m_sim.AddFault("fn netfn=6");
    m_sim.AddFault("fn 0x33 netfn=4");
    Link link(0);
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
    std::vector<uint8_t> answer;
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer), "06 00 01 00 0f");
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer), "07 00 01 00 0f");
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_TIMEOUT);
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x04, 0x20, {})), 0);
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer), "33 00 20 00 02");
}

TEST_F(FaultTest, StaleFramesBeforeTheAnswer) {
    m_sim.AddFault("stale 2 netfn=4");
    Link link(0);
    std::vector<uint8_t> answer;
    // No answer sent yet: the stale frames are all 0xFF.
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x04, 0x20, {})), 0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(link.Read(answer), 0);
        EXPECT_EQ(Head(answer), "ff ff ff ff ff");
    }
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer), "05 00 20 00 02");
    // Later ones repeat the previous answer.
    m_sim.AddFault("stale netfn=6");
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer, 7), "05 00 20 00 02 03 01");
    ASSERT_EQ(link.Read(answer), 0);
    EXPECT_EQ(Head(answer), "07 00 01 00 0f");
}

TEST_F(FaultTest, PendingFramesAtClaim) {
    m_sim.AddFault("pending 2 device=slot1");
    Link other(2);
    std::vector<uint8_t> answer;
    EXPECT_EQ(other.Read(answer, 10), LIBUSB_ERROR_TIMEOUT);
    Link link(1);
    EXPECT_EQ(link.Read(answer, 10), 0);
    EXPECT_EQ(link.Read(answer, 10), 0);
    EXPECT_EQ(Head(answer), "ff ff ff ff ff");
    EXPECT_EQ(link.Read(answer, 10), LIBUSB_ERROR_TIMEOUT);
}

TEST_F(FaultTest, ReadingUnavailable) {
    m_sim.AddFault("unavailable slot=1");
    Link link(1);
    EXPECT_EQ(Hex(link.Ask(0x04, 0x2D, {0x00})), "05 00 2d 00 02 2f 60");
    EXPECT_EQ(Hex(link.Ask(0x04, 0x2D, {0x00})), "05 00 2d 00 02 2f 40");
    m_sim.Modify(1, [](sim::cmc::BoardModel& b) {
        b.sensors[0].raw = 0x30;
        b.sensors[0].status = 0x00;
    });
    EXPECT_EQ(Hex(link.Ask(0x04, 0x2D, {0x00})), "05 00 2d 00 02 30 00");
}

TEST_F(FaultTest, RecordsInPieces) {
    m_sim.AddFault("pieces 10 count=forever");
    Link koz(0);
    EXPECT_EQ(Hex(koz.Ask(0x04, 0x21, Bytes("00 00 00 00 00 0b"))), "05 00 21 ca 00");
    EXPECT_EQ(koz.Ask(0x04, 0x21, Bytes("00 00 00 00 00 0a")).size(), 17u);
    EXPECT_EQ(Hex(koz.Ask(0x0A, 0x43, Bytes("00 00 01 00 00 ff"))), "0b 00 43 ca 00");
    EXPECT_EQ(Hex(koz.Ask(0x0A, 0x43, Bytes("00 00 01 00 03 04"))), "0b 00 43 00 06 02 00 00 f1 53 65");
    m_sim.Modify(1, [](sim::cmc::BoardModel& b) { b.image.assign(100, 0x5A); });
    Link link(1);
    EXPECT_EQ(link.Ask(0x2C, 0x2F, Bytes("00 00 0b 00 00 00")).size(), 15u);
    EXPECT_EQ(link.Ask(0x2C, 0x2F, Bytes("00 00 0b 00 00 5e")).size(), 11u);
}

TEST_F(FaultTest, EventLogErasedUnderTheReader) {
    m_sim.AddFault("erase netfn=0x0a cmd=0x43 skip=1");
    Link link(0);
    EXPECT_EQ(Head(link.Ask(0x0A, 0x40), 7), "0b 00 40 00 0e 51 03");
    EXPECT_EQ(Head(link.Ask(0x0A, 0x43, Bytes("00 00 01 00 00 ff"))), "0b 00 43 00 15");
    EXPECT_EQ(Hex(link.Ask(0x0A, 0x43, Bytes("00 00 02 00 00 ff"))), "0b 00 43 cb 00");
    EXPECT_EQ(Head(link.Ask(0x0A, 0x40), 7), "0b 00 40 00 0e 51 00");
    EXPECT_EQ(m_sim.Board(0).selClears, 1u);
}

TEST_F(FaultTest, WriteAndReadErrors) {
    m_sim.AddFault("write-error netfn=6");
    m_sim.AddFault("read-error LIBUSB_ERROR_PIPE netfn=0");
    Link link(1);
    EXPECT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), LIBUSB_ERROR_IO);
    EXPECT_TRUE(m_sim.Requests().empty());
    std::vector<uint8_t> answer;
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_TIMEOUT);
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x00, 0x02, Bytes("dc 10 00 77 00"))), 0);
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_PIPE);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(m_sim.Board(1).spiRegisters.at(0x10), 0x0077);
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(DeviceIdAnswer(link), "07 00 01 00 0f");
}

TEST_F(FaultTest, ClaimFailsCountedTimes) {
    m_sim.AddFault("claim slot=1 count=3");
    for (int i = 0; i < 3; ++i)
        EXPECT_THROW(Link(1), std::runtime_error);
    EXPECT_NO_THROW(Link(1));
    m_sim.AddFault("claim LIBUSB_ERROR_ACCESS slot=1 count=forever");
    try {
        Link link(1);
        ADD_FAILURE() << "claim succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cannot reach slot 1: LIBUSB_ERROR_ACCESS");
    }
}

TEST_F(FaultTest, OpenReleaseDescriptorListAndInit) {
    m_sim.AddFault("open device=slot2");
    m_sim.AddFault("release slot=2");
    m_sim.AddFault("descriptor device=slot0");
    m_sim.AddFault("list");
    m_sim.AddFault("init LIBUSB_ERROR_NO_MEM");

    libusb_context* context = nullptr;
    EXPECT_EQ(libusb_init(&context), LIBUSB_ERROR_NO_MEM);
    ASSERT_EQ(libusb_init(&context), 0);
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(context, &list), LIBUSB_ERROR_NO_MEM);
    ASSERT_EQ(libusb_get_device_list(context, &list), 4);
    libusb_device_descriptor d;
    EXPECT_EQ(libusb_get_device_descriptor(list[0], &d), 0);
    EXPECT_EQ(libusb_get_device_descriptor(list[1], &d), LIBUSB_ERROR_IO);
    EXPECT_EQ(libusb_get_device_descriptor(list[1], &d), 0);
    libusb_device_handle* handle = nullptr;
    EXPECT_EQ(libusb_open(list[3], &handle), LIBUSB_ERROR_ACCESS);
    ASSERT_EQ(libusb_open(list[3], &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_EQ(libusb_release_interface(handle, 0), LIBUSB_ERROR_IO);
    libusb_close(handle);
    libusb_free_device_list(list, 1);
    libusb_exit(context);
    // The failed release kept the claim until the close gave it up.
    EXPECT_NO_THROW(Link(2));
}

// The same seed gives the same run; another seed another one.
TEST_F(FaultTest, ProbabilityIsRepeatable) {
    auto pattern = [&](uint32_t seed) {
        simtest::LoadSample();
        m_sim.SetSeed(seed);
        m_sim.AddFault("ccode 0xC0 netfn=4 count=forever prob=0.5");
        Link link(1);
        std::string hits;
        for (int i = 0; i < 40; ++i)
            hits += link.Ask(0x04, 0x20)[3] == 0xC0 ? 'x' : '.';
        return hits;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(pattern(8), first);
    const auto hits = std::count(first.begin(), first.end(), 'x');
    EXPECT_GT(hits, 5);
    EXPECT_LT(hits, 35);
}

TEST(FaultParse, Accepted) {
    const auto f = sim::cmc::Fault::Parse(
        "ccode 0xCA slot=3 netfn=4 cmd=0x21 data=0,0x10 skip=2 count=forever prob=0.25");
    EXPECT_EQ(f.kind, sim::cmc::FaultKind_e::eCompletionCode);
    EXPECT_EQ(f.value, 0xCA);
    EXPECT_EQ(f.slot, 3);
    EXPECT_EQ(f.netFn, 4);
    EXPECT_EQ(f.cmd, 0x21);
    EXPECT_EQ(f.data, (std::vector<uint8_t>{0x00, 0x10}));
    EXPECT_EQ(f.skip, 2u);
    EXPECT_EQ(f.count, -1);
    EXPECT_DOUBLE_EQ(f.probability, 0.25);
    EXPECT_EQ(sim::cmc::Fault::Parse("claim LIBUSB_ERROR_TIMEOUT").value, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(sim::cmc::Fault::Parse("read-error -9").value, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(sim::cmc::Fault::Parse("short device=cam").device, "cam");
    EXPECT_EQ(sim::cmc::Fault::Parse("stale").value, -1);
}

TEST(FaultParse, Refused) {
    const char* const bad[] = {
        "",
        "bogus",
        "ccode",
        "ccode 0x100",
        "ccode 1 slot=32",
        "ccode 1 netfn=64",
        "ccode 1 prob=2",
        "ccode 1 prob=",
        "ccode 1 count=0",
        "ccode 1 color=red",
        "ccode 1 slot=1 slot=2",
        "ccode 1 data=1,,2",
        "timeout 3",
        "claim LIBUSB_ERROR_NOPE",
        "claim 0",
        "open 5",
        "short x",
    };
    for (const char* text : bad)
        EXPECT_THROW(sim::cmc::Fault::Parse(text), sim::cmc::Error) << text;
}

}  // namespace
