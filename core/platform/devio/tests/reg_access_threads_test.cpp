#include "devio/reg_access.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t c_memory = 0x55555555;
constexpr uint32_t c_model = 0xAAAAAAAA;

class ConstantModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t) override { return c_model; }
    void OnWrite32(size_t, uint32_t value) override
    {
        last.store(value, std::memory_order_relaxed);
    }
    std::atomic<uint32_t> last{0};
};

// Claims come and go while other threads read and write inside and outside the claimed words.
// Every read sees either the memory or the model, words outside a claim always the memory, and a
// model released during an access stays alive for it (the claimer drops its last reference).
TEST(RegAccessThreadsTest, ClaimsComeAndGoWhileOtherThreadsAccess)
{
    alignas(8) volatile uint32_t words[8];
    alignas(8) volatile uint32_t elsewhere[8];
    for (auto& w : words) {
        w = c_memory;
    }
    std::atomic<bool> stop{false};
    std::atomic<size_t> wrongOutside{0}, wrongInside{0}, servedInside{0};

    std::vector<std::thread> threads;
    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                if (devio::Read32(&words[0]) != c_memory) {
                    ++wrongOutside;
                }
                const uint32_t inside = devio::Read32(&words[5]);
                if (inside == c_model) {
                    ++servedInside;
                } else if (inside != c_memory) {
                    ++wrongInside;
                }
            }
        });
    }
    // The only thread that touches word 6, served or not.
    threads.emplace_back([&] {
        for (uint32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            devio::Write32(&words[6], i);
        }
    });
    std::thread claimer([&] {
        // Goes on until a reader has met a claim, however the threads are scheduled.
        for (int i = 0; i < 2000 || (servedInside.load() == 0 && i < 10000000); ++i) {
            devio::RangeClaim far(elsewhere, sizeof(elsewhere), std::make_shared<ConstantModel>());
            devio::RangeClaim near(&words[4], 16, std::make_shared<ConstantModel>());
            std::this_thread::yield();
        }
    });
    claimer.join();
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrongOutside.load(), 0u);
    EXPECT_EQ(wrongInside.load(), 0u);
    EXPECT_GT(servedInside.load(), 0u);
    EXPECT_EQ(devio::GetClaimedRangeCount(), 0u);
    EXPECT_EQ(words[5], c_memory);
}

} // namespace
