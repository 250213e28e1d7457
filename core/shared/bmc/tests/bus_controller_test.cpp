// The bus controller's own rules, on a controller that logs every hook and every sleep: device
// registration, the walk over the devices, the fixed order of a transfer, when parameters are
// programmed again, the waits and their limits, shutdown, and the factories.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "bmc/bus_controller.h"
#include "tests/support/error_of.h"

namespace {

using testing::ElementsAre;
using testsupport::ErrorOf;

// Hooks and sleeps of the test, in order.
std::vector<std::string>& Log()
{
    static std::vector<std::string> log;
    return log;
}

void RecordSleep(uint32_t microseconds)
{
    Log().push_back("sleep " + std::to_string(microseconds));
}

class RecordingController : public bmc::BusController {
public:
    RecordingController(const std::string& name, uint32_t maxDevices, bool dummyWrite = false)
        : BusController(name, maxDevices, dummyWrite)
    {
    }

    using BusController::WaitForIdle;
    using BusController::WaitUntilDone;

    // IsIdle answers false this many times first.
    int busyAnswers = 0;
    bool acknowledged = true;
    bool toggle = false;
    bool logIdle = true;
    // Write throws for this value.
    uint64_t failingWord = ~uint64_t{0};
    uint64_t nextRead = 0x40;
    int added = 0;

protected:
    void OnAddDevice(const bmc::BusDevice& device) override
    {
        ++added;
        Log().push_back("added " + device.GetName());
    }
    void Write(uint8_t reg, uint64_t value) override
    {
        Log().push_back("write " + std::to_string(reg) + " " + std::to_string(value) + Position());
        if (value == failingWord) {
            throw istd::Exception("word refused", true);
        }
    }
    void Read(uint8_t reg, uint64_t& value) override
    {
        Log().push_back("read " + std::to_string(reg) + Position());
        value = nextRead++;
    }
    void SetBusParams(const bmc::BusParamsPtr& params) override
    {
        Log().push_back("params " + std::to_string(params ? params->m_freq_khz : 0));
    }
    void SelectDevice(const bmc::BusDevice& device, bmc::tDevSelectMode_e mode) override
    {
        static const char* const c_modes[] = {"read", "write", "release"};
        Log().push_back("select " + device.GetName() + " " + c_modes[mode]);
    }
    bool IsIdle() override
    {
        const bool idle = busyAnswers <= 0;
        --busyAnswers;
        if (logIdle) {
            Log().push_back(idle ? "idle" : "busy");
        }
        return idle;
    }
    bool IsAcknowledged() override
    {
        Log().push_back(acknowledged ? "ack" : "nack");
        return acknowledged;
    }
    bool ToggleChipSelect() override
    {
        Log().push_back("toggle?");
        return toggle;
    }

private:
    std::string Position() const
    {
        return " [" + std::to_string(m_word_index) + "/" + std::to_string(m_word_count) + "]";
    }
};

class RecordingDevice : public bmc::BusDevice {
public:
    RecordingDevice(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id,
                    uint32_t freq = 100, bool polling = false)
        : BusDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::BusParams>(*this, freq, polling, false);
    }

protected:
    void OnDisabled() override { Log().push_back("disabled " + GetName()); }
    void OnEnabled() override { Log().push_back("enabled " + GetName()); }
    void OnShutdown() override { Log().push_back("shutdown " + GetName()); }
};

class BusControllerTest : public testing::Test {
protected:
    BusControllerTest() { Log().clear(); }
    ~BusControllerTest() override { Log().clear(); }

    std::shared_ptr<RecordingController> MakeController(uint32_t maxDevices = 8, bool dummyWrite = false)
    {
        bmc::BusControllerPtr made = bmc::Create<RecordingController>("bus", maxDevices, dummyWrite);
        return std::static_pointer_cast<RecordingController>(made);
    }

    bmc::ScopedBusSleep m_sleep{&RecordSleep};
};

TEST_F(BusControllerTest, AddDeviceRefusesAFullListAndATakenId)
{
    auto none = MakeController(0);
    EXPECT_EQ(ErrorOf([&] { bmc::Create<RecordingDevice>(none, "a", 0); }),
              "bus controller 'bus' supports only 0 device(s) on the same bus.");
    EXPECT_EQ(none->GetDeviceCount(), 0u);

    auto bus = MakeController(2);
    std::vector<std::string> callbacks;
    bus->SetOnAddDevice([&](bmc::BusDevice& device) { callbacks.push_back(device.GetName()); });
    const bmc::BusDevicePtr first = bmc::Create<RecordingDevice>(bus, "first", 3);
    std::weak_ptr<bmc::BusDevice> refused;
    EXPECT_EQ(ErrorOf([&] {
                  auto device = std::make_shared<RecordingDevice>(*bus, "second", 3);
                  refused = device;
                  bus->AddDevice(device);
              }),
              "bus controller 'bus' already controls device 'first' with the same id as specified 'second' device.");
    EXPECT_TRUE(refused.expired());
    bmc::Create<RecordingDevice>(bus, "third", 4);
    EXPECT_EQ(ErrorOf([&] { bmc::Create<RecordingDevice>(bus, "fourth", 5); }),
              "bus controller 'bus' supports only 2 device(s) on the same bus.");
    EXPECT_EQ(bus->GetDeviceCount(), 2u);
    EXPECT_EQ(bus->added, 2);
    EXPECT_THAT(callbacks, ElementsAre("first", "third"));
    EXPECT_THAT(Log(), ElementsAre("added first", "added third"));

    EXPECT_EQ(ErrorOf([&] { bmc::Create<RecordingDevice>(bmc::BusControllerPtr(), "lost", 1); }),
              "bmc: no bus controller for device 'lost'");
}

TEST_F(BusControllerTest, TheDeviceFormOfCreateReleasesARefusedDevice)
{
    auto bus = MakeController(1);
    bmc::Create<RecordingDevice>(bus, "kept", 0);
    // A driver that counts its instances shows the refused one is gone once Create throws.
    static int alive = 0;
    struct Counted : RecordingDevice {
        Counted(bmc::BusController& c, const std::string& n, bmc::BusDeviceId id) : RecordingDevice(c, n, id)
        {
            ++alive;
        }
        ~Counted() override { --alive; }
    };
    EXPECT_THROW(bmc::Create<Counted>(bus, "refused", 1), istd::Exception);
    EXPECT_EQ(alive, 0);
}

TEST_F(BusControllerTest, ForEachDeviceVisitsARangeInIdOrder)
{
    auto bus = MakeController();
    int calls = 0;
    const bmc::ForEachDeviceFnc count = [&](bmc::BusDevice&, uint32_t, void*) { ++calls; };
    EXPECT_EQ(bus->ForEachDevice(count, 0, 5, nullptr), 0u);
    for (const auto& [name, id] : std::vector<std::pair<std::string, bmc::BusDeviceId>>{{"c", 9}, {"a", 1}, {"b", 4}}) {
        bmc::Create<RecordingDevice>(bus, name, id);
    }
    struct Case {
        size_t first;
        size_t count;
        std::vector<std::string> visited;
    };
    const std::vector<Case> cases = {
        {0, 5, {"a 0", "b 1", "c 2"}}, {1, 5, {"b 0", "c 1"}}, {1, 1, {"b 0"}}, {0, 0, {}}, {3, 5, {}}, {7, 1, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> visited;
        int argument = 0;
        const uint32_t n = bus->ForEachDevice(
            [&](bmc::BusDevice& device, uint32_t index, void* arg) {
                EXPECT_EQ(arg, &argument);
                visited.push_back(device.GetName() + " " + std::to_string(index));
            },
            c.first, c.count, &argument);
        EXPECT_EQ(visited, c.visited) << c.first << " " << c.count;
        EXPECT_EQ(n, c.visited.size());
    }
    EXPECT_EQ(calls, 0);
    EXPECT_THROW(bus->ForEachDevice(bmc::ForEachDeviceFnc(), 0, 1, nullptr), std::bad_function_call);
    EXPECT_EQ(bus->ForEachDevice(bmc::ForEachDeviceFnc(), 3, 1, nullptr), 0u);
}

TEST_F(BusControllerTest, ATransferRunsItsStepsInTheFixedOrder)
{
    auto bus = MakeController();
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "chip", 2, 400, false);
    Log().clear();
    const uint64_t words[] = {7, 8};
    uint64_t read[2] = {};
    chip->Transfer(0x105, words, 2, read, 2); // the register keeps its low 8 bits
    EXPECT_THAT(Log(), ElementsAre("idle", "params 400", "select chip write", "write 5 7 [0/2]", "sleep 1",
                                   "write 5 8 [1/2]", "sleep 1", "toggle?", "read 5 [0/2]", "read 5 [1/2]",
                                   "select chip release"));
    EXPECT_EQ(read[0], 0x40u);
    EXPECT_EQ(read[1], 0x41u);

    // Nothing to move still waits, selects and releases; parameters stay applied.
    Log().clear();
    chip->Transfer(0, nullptr, 0, nullptr, 0);
    EXPECT_THAT(Log(), ElementsAre("idle", "select chip write", "toggle?", "select chip release"));
}

TEST_F(BusControllerTest, PollingWaitsAfterEachWordAndToggleReselectsForReading)
{
    auto bus = MakeController(8, true);
    bus->toggle = true;
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "chip", 1, 100, true);
    Log().clear();
    const uint64_t word = 3;
    uint64_t read[2] = {};
    chip->Transfer(9, &word, 1, read, 2);
    EXPECT_THAT(Log(), ElementsAre("idle", "params 100", "select chip write", "write 9 3 [0/1]", "sleep 100", "idle",
                                   "ack", "toggle?", "select chip release", "select chip read", "write 9 0 [0/2]",
                                   "sleep 100", "idle", "ack", "read 9 [0/2]", "write 9 0 [1/2]", "sleep 100", "idle",
                                   "ack", "read 9 [1/2]", "select chip release"));
}

TEST_F(BusControllerTest, ParametersAreProgrammedAgainOnlyWhenTheyMayHaveChanged)
{
    auto bus = MakeController();
    const bmc::BusDevicePtr a = bmc::Create<RecordingDevice>(bus, "a", 0, 100);
    const bmc::BusDevicePtr b = bmc::Create<RecordingDevice>(bus, "b", 1, 400);
    const auto programmed = [&](const bmc::BusDevicePtr& device) {
        Log().clear();
        device->Transfer(0, nullptr, 0, nullptr, 0);
        for (const std::string& line : Log()) {
            if (line.rfind("params", 0) == 0) {
                return line;
            }
        }
        return std::string("-");
    };
    EXPECT_EQ(programmed(a), "params 100");
    EXPECT_EQ(programmed(a), "-");
    EXPECT_EQ(programmed(b), "params 400");
    EXPECT_EQ(programmed(a), "params 100");
    // A driver that alters its parameters in place marks them; they are programmed every time.
    a->GetParams()->m_freq_khz = 200;
    EXPECT_EQ(programmed(a), "-");
    a->GetParams()->m_changed = true;
    EXPECT_EQ(programmed(a), "params 200");
    EXPECT_EQ(programmed(a), "params 200");
    // New parameters given to the device served last are programmed too.
    bmc::SetBusParam<bmc::BusParams>(*b, 50u, false, false);
    EXPECT_EQ(programmed(b), "params 50");
    EXPECT_EQ(programmed(b), "-");
}

TEST_F(BusControllerTest, ADeviceWithIdFfIsProgrammedOnItsFirstTransfer)
{
    // The controller's record of the last device starts at 0xFF; a device with that id must
    // not be taken for one already programmed.
    auto bus = MakeController(256);
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "last", 0xFF, 300);
    Log().clear();
    chip->Transfer(0, nullptr, 0, nullptr, 0);
    EXPECT_THAT(Log(), testing::Contains("params 300"));
}

TEST_F(BusControllerTest, AFailedWordLeavesTheBusUnlockedWithoutRelease)
{
    auto bus = MakeController();
    bus->failingWord = 2;
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "chip", 0);
    Log().clear();
    const uint64_t words[] = {1, 2, 3};
    EXPECT_EQ(ErrorOf([&] { chip->Write(0, words, 3); }), "word refused");
    EXPECT_THAT(Log(), ElementsAre("idle", "params 100", "select chip write", "write 0 1 [0/3]", "sleep 1",
                                   "write 0 2 [1/3]"));
    std::thread other([&] {
        const uint64_t word = 5;
        chip->Write(0, &word, 1);
    });
    other.join();
    EXPECT_EQ(Log().back(), "select chip release");
}

TEST_F(BusControllerTest, WaitUntilDoneGivesUpAfterAThousandTries)
{
    auto bus = MakeController();
    bus->logIdle = false;
    bus->busyAnswers = 999;
    EXPECT_TRUE(bus->WaitUntilDone(false));
    bus->busyAnswers = 1000;
    istd::TraceCapture trace(istd::eTraceError);
    EXPECT_FALSE(bus->WaitUntilDone(false));
    EXPECT_TRUE(trace.Contains("BusController::WaitUntilDone: Failed to wait for idle or ack state"));
    // Idle but never acknowledged also runs to the end.
    Log().clear();
    bus->acknowledged = false;
    EXPECT_FALSE(bus->WaitUntilDone(true));
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "sleep 100"), 1000);
    EXPECT_TRUE(bus->WaitUntilDone(false));
}

TEST_F(BusControllerTest, WaitForIdleHasNoLimitUnlessOneIsSet)
{
    bmc::SetBusSleep(&bmc::InstantBusSleep);
    auto bus = MakeController();
    bus->logIdle = false;
    EXPECT_EQ(bus->GetIdleTimeout(), 0u);
    bus->busyAnswers = 100000;
    bus->WaitForIdle();
    EXPECT_LT(bus->busyAnswers, 0);

    bus->SetIdleTimeout(20);
    bus->busyAnswers = 1 << 30;
    EXPECT_EQ(ErrorOf([&] { bus->WaitForIdle(); }), "Timeout 20 ms expired");
    // The last look after the limit still counts.
    bmc::SetBusSleep(&RecordSleep);
    bus->busyAnswers = 0;
    bus->WaitForIdle();
}

TEST_F(BusControllerTest, PrescaleFactors)
{
    auto bus = MakeController();
    struct Case {
        uint32_t khz;
        uint32_t prescale;
    };
    for (const Case& c : std::vector<Case>{{0, 0},
                                           {100, 624},
                                           {400, 155},
                                           {1000, 61},
                                           {1893, 32},
                                           {1894, 31},
                                           {62500, 0},
                                           {62501, 0xFFFFFFFF},
                                           {0x80000000, 0xFFFFFFFF},
                                           {0xFFFFFFFF, 0xFFFFFFFF}}) {
        EXPECT_EQ(bus->CalcPrescaleFactor(c.khz), c.prescale) << c.khz;
    }
}

TEST_F(BusControllerTest, DeviceStatesRunTheHooksAndTheCallback)
{
    auto bus = MakeController();
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "chip", 0);
    chip->SetOnStateChange([](bmc::BusDevice& device) {
        Log().push_back("state " + std::to_string(device.GetState()));
    });
    Log().clear();
    EXPECT_EQ(chip->GetState(), bmc::eBusDeviceDisabled);
    chip->SetDeviceState(bmc::eBusDeviceEnabled);
    chip->SetDeviceState(bmc::eBusDeviceEnabled);
    chip->SetDeviceState(bmc::eBusDeviceDisabled);
    EXPECT_THAT(Log(), ElementsAre("disabled chip", "enabled chip", "state 1", "disabled chip", "enabled chip",
                                   "state 1", "disabled chip", "state 0"));
    EXPECT_EQ(chip->GetState(), bmc::eBusDeviceDisabled);
}

TEST_F(BusControllerTest, DestroyingTheControllerShutsEachDeviceDownOnceInIdOrder)
{
    auto bus = MakeController();
    for (const auto& [name, id] : std::vector<std::pair<std::string, bmc::BusDeviceId>>{{"c", 7}, {"a", 0}, {"b", 3}}) {
        bmc::Create<RecordingDevice>(bus, name, id)->SetDeviceState(bmc::eBusDeviceEnabled);
    }
    Log().clear();
    bus.reset();
    EXPECT_THAT(Log(), ElementsAre("disabled a", "shutdown a", "disabled b", "shutdown b", "disabled c", "shutdown c"));
}

TEST_F(BusControllerTest, TheLockerHoldsTheBusAndTraces)
{
    auto bus = MakeController();
    const bmc::BusDevicePtr chip = bmc::Create<RecordingDevice>(bus, "chip", 0);
    istd::TraceCapture trace(istd::eTraceDetail);
    std::atomic<bool> otherDone{false};
    std::thread other;
    {
        bmc::BusControllerLocker outer(*bus);
        bmc::BusControllerLocker inner(*bus); // sequences nest
        other = std::thread([&] {
            chip->Transfer(0, nullptr, 0, nullptr, 0);
            otherDone = true;
        });
        chip->Transfer(0, nullptr, 0, nullptr, 0); // the holder's own transfers go on
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(otherDone);
    }
    other.join();
    EXPECT_TRUE(otherDone);
    EXPECT_TRUE(trace.Contains("BusControllerLocker locks:bus"));
    EXPECT_TRUE(trace.Contains("BusControllerLocker unlocks:bus"));
    EXPECT_TRUE(trace.Contains("Locking bus controller for transfer: bus"));
}

TEST_F(BusControllerTest, OutputsOfTheBaseAreAbsent)
{
    auto bus = MakeController();
    uint32_t value = 17;
    EXPECT_FALSE(bus->SetOutput(1));
    EXPECT_FALSE(bus->GetOutput(value));
    EXPECT_EQ(value, 17u);
}

} // namespace
