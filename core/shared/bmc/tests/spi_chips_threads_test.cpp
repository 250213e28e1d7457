// SPI chip drivers whose settings share one word or cache, set from two threads at once (in an
// application, through two nodes served by two CORBA threads): no setting is lost and the cache
// matches the chip.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bmc/spi_device_DAC7554.h"
#include "bmc/spi_device_LMH6518.h"
#include "common/bus_rigs.h"
#include "sim/chips/dac7554.h"
#include "sim/chips/lmh6518.h"
#include "tests/support/wait_until.h"

namespace {

constexpr int c_rounds = 2000;
constexpr int c_heldRounds = 3;

template <class DRIVER, class MODEL, class... ARGS>
DRIVER& Attach(bmctest::SpiRig& rig, const std::shared_ptr<MODEL>& model, bmc::BusDevicePtr& device, ARGS&&... args)
{
    rig.core->Attach(0, model);
    device = bmc::Create<DRIVER>(rig.bus, "chip", 0, std::forward<ARGS>(args)...);
    return static_cast<DRIVER&>(*device);
}

void RunTogether(const std::function<void(int)>& first, const std::function<void(int)>& second)
{
    std::thread other([&] {
        for (int i = 0; i < c_rounds; ++i) {
            second(i);
        }
    });
    for (int i = 0; i < c_rounds; ++i) {
        first(i);
    }
    other.join();
}

// An amplifier whose first read frame waits until the test lets it go on; the thread that sent
// it then goes on at idle priority.
class HeldReadLmh6518 : public sim::Lmh6518Model {
public:
    void WaitUntilHeld()
    {
        std::unique_lock<std::mutex> lock(m_holdMutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_holdMutex);
        m_released = true;
        m_changed.notify_all();
    }
    // Whether the held thread went on at idle priority; read once it ended.
    bool IdleSet() const { return m_idleSet; }

protected:
    uint64_t _Word(uint64_t word) override
    {
        const uint64_t answer = Lmh6518Model::_Word(word);
        if ((word & bmc::LMH6518::c_readFrame) != 0) {
            std::unique_lock<std::mutex> lock(m_holdMutex);
            if (!m_held) {
                m_held = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_released; });
                const sched_param idle{};
                m_idleSet = pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) == 0;
            }
        }
        return answer;
    }

private:
    std::mutex m_holdMutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
    bool m_idleSet = false;
};

// The state letter of a thread of this process ('S' while it waits for a lock).
char ThreadState(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    return end == std::string::npos || end + 2 >= text.size() ? '?' : text[end + 2];
}

bool PinToCpu(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// Each field setter reads the chip's word, changes its field and writes the word back, all under
// the controller's lock, so that a setter of another field on another thread never writes in
// between. The first setter is held in its read while the second one starts and waits for the
// bus; both threads share one CPU, the first at idle priority, so that were the first to let the
// bus go between its read and its write, the second would be woken into that gap and take the
// bus at once, every time, and one of the two fields would be lost.
TEST(SpiChipsThreads, AmplifierFieldSettersKeepTheBusFromTheirReadToTheirWrite)
{
    using Chip = bmc::LMH6518;
    struct Case {
        const char* name;
        std::function<void(Chip&)> held;
        std::function<void(Chip&)> other;
        uint16_t raw;
    };
    const std::vector<Case> cases = {
        {"attenuation, then high gain", [](Chip& c) { c.SetAttenuation(5); }, [](Chip& c) { c.SetHiGain(true); },
         0x0015},
        {"bandwidth, then full power", [](Chip& c) { c.SetFilterBandWidth(3); },
         [](Chip& c) { c.SetFullPower(false); }, 0x04CA},
        {"high gain, then bandwidth", [](Chip& c) { c.SetHiGain(true); }, [](Chip& c) { c.SetFilterBandWidth(6); },
         0x019A},
        {"full power, then attenuation", [](Chip& c) { c.SetFullPower(false); },
         [](Chip& c) { c.SetAttenuation(1); }, 0x0401},
    };
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &allowed)) {
        ++cpu;
    }
    // The scheduler may now and then pick the held thread first all the same: a few rounds each.
    for (const Case& c : cases) {
        for (int round = 0; round < c_heldRounds; ++round) {
            bmctest::SpiRig rig;
            auto model = std::make_shared<HeldReadLmh6518>();
            bmc::BusDevicePtr device;
            auto& chip = Attach<Chip>(rig, model, device, false);

            std::thread held([&] {
                EXPECT_TRUE(PinToCpu(cpu));
                c.held(chip);
            });
            model->WaitUntilHeld();
            std::atomic<pid_t> otherTid{0};
            std::thread other([&] {
                EXPECT_TRUE(PinToCpu(cpu));
                otherTid = static_cast<pid_t>(syscall(SYS_gettid));
                c.other(chip);
            });
            // The other setter waits for the bus, which the held one has.
            EXPECT_TRUE(testsupport::WaitUntil([&] { return otherTid != 0 && ThreadState(otherTid) == 'S'; },
                                               std::chrono::seconds(60)))
                << c.name << ", round " << round;
            model->Release();
            held.join();
            other.join();
            EXPECT_TRUE(model->IdleSet()) << c.name << ", round " << round;
            EXPECT_EQ(model->GetControl(), c.raw) << c.name << ", round " << round;
        }
    }
}

// A power-down request writes the channel's cached value again.
TEST(SpiChipsThreads, QuadDacValueAndPowerDownOfOneChannel)
{
    bmctest::SpiRig rig;
    auto model = std::make_shared<sim::Dac7554Model>();
    bmc::BusDevicePtr device;
    auto& chip = Attach<bmc::DAC7554>(rig, model, device);
    RunTogether([&](int i) { chip.SetValue(1, static_cast<uint16_t>(i)); },
                [&](int) { chip.SetPowerDownMode(1, bmc::DAC7554::ePowerDownOff); });
    EXPECT_EQ(chip.GetValue(1), model->GetOutput(1));
    EXPECT_EQ(chip.GetPowerDownMode(1), bmc::DAC7554::ePowerDownOff);
}

} // namespace
