// The simulator under several threads: independent controllers in parallel, a read woken by a
// write from another thread, and devices leaving the bus while they are in use.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/usb_link.h"
#include "sim/cmc/simulator.h"

using simtest::Link;

namespace {

TEST(BusThreads, ControllersAnswerInParallel) {
    simtest::LoadSample();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int slot = 0; slot < 3; ++slot) {
        threads.emplace_back([slot, &wrong] {
            Link link(slot);
            for (int i = 0; i < 200; ++i) {
                const auto answer = link.Ask(0x04, 0x2D, {0x00});
                if (answer.size() != 7 || answer[3] != 0)
                    ++wrong;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sim::cmc::Simulator::Instance().Requests().size(), 600u);
}

TEST(BusThreads, ReadWokenByAnotherThreadsWrite) {
    simtest::LoadSample();
    sim::cmc::Simulator::Instance().SetTimeScale(1);
    Link link(1);
    std::vector<uint8_t> answer;
    int result = -1;
    std::thread reader([&] { result = link.Read(answer, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
    reader.join();
    EXPECT_EQ(result, 0);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(answer[0], 0x07);
}

TEST(BusThreads, DeviceLeavesWhileAReadWaits) {
    simtest::LoadSample();
    auto& sim = sim::cmc::Simulator::Instance();
    sim.SetTimeScale(1);
    Link link(2);
    std::vector<uint8_t> answer;
    int result = 0;
    std::thread reader([&] { result = link.Read(answer, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim.Modify(2, [](sim::cmc::BoardModel& b) { b.usbPort = false; });
    reader.join();
    EXPECT_EQ(result, LIBUSB_ERROR_NO_DEVICE);
}

TEST(BusThreads, PowerTogglingDuringTraffic) {
    simtest::LoadSample();
    auto& sim = sim::cmc::Simulator::Instance();
    std::atomic<bool> stop{false};
    std::atomic<bool> trafficStarted{false};
    std::thread toggler([&] {
        // Toggle only once traffic flows, or a quick toggler may finish before the first exchange.
        while (!trafficStarted)
            std::this_thread::yield();
        for (int i = 0; i < 100; ++i)
            sim.Modify(2, [i](sim::cmc::BoardModel& b) { b.mngPower = i % 2 == 1; });
        stop = true;
    });
    int answered = 0;
    int gone = 0;
    while (!stop) {
        trafficStarted = true;
        try {
            Link link(2);
            std::vector<uint8_t> answer;
            if (link.Write(simtest::RequestFrame(0x06, 0x01, {})) == 0 && link.Read(answer, 100) == 0)
                ++answered;
            else
                ++gone;
        } catch (const std::runtime_error&) {
            ++gone;
        }
    }
    toggler.join();
    EXPECT_GT(answered + gone, 0);
    EXPECT_TRUE(sim.Board(2).mngPower);
}

}  // namespace
