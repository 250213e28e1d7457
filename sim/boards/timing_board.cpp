#include "sim/boards/timing_board.h"

#include <pthread.h>
#include <signal.h>

#include <array>
#include <chrono>
#include <sstream>
#include <utility>
#include <vector>

#include "sim/boards/board_hub.h"

namespace sim::boards {

namespace {

std::string Hex(uint64_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

} // namespace

// What the models, which the board's windows keep after this object is gone, reach it through.
class TimingBoard::Hub : public BoardHub<TimingBoard> {
public:
    using BoardHub::BoardHub;

    void Pulse()
    {
        With([](TimingBoard& board) { board._Pulse(); });
    }
};

// Plain memory that generates the trigger event when channel 2's source turns to Pulse. The
// old source is read and the new one stored under one lock, so that two writers never both see
// the turn (or both miss it).
class TimingBoard::TriggerModel : public devio::RegisterModel {
public:
    TriggerModel(devio::RegisterModelPtr memory, std::shared_ptr<Hub> hub) : m_memory(std::move(memory)), m_hub(std::move(hub)) {}

    uint32_t OnRead32(size_t offset) override { return m_memory->OnRead32(offset); }
    uint64_t OnRead64(size_t offset) override { return m_memory->OnRead64(offset); }

    void OnWrite32(size_t offset, uint32_t value) override
    {
        if (offset != c_channel2Source) {
            m_memory->OnWrite32(offset, value);
            return;
        }
        _Source([&] { return m_memory->OnRead32(offset); }, [&] { m_memory->OnWrite32(offset, value); }, value);
    }
    void OnWrite64(size_t offset, uint64_t value) override
    {
        if (offset != c_channel2Source) {
            m_memory->OnWrite64(offset, value);
            return;
        }
        _Source([&] { return m_memory->OnRead64(offset); }, [&] { m_memory->OnWrite64(offset, value); }, value);
    }

private:
    template <class Read, class Write>
    void _Source(Read read, Write write, uint64_t value)
    {
        bool pulse = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const uint64_t old = read() & 0x7;
            write();
            pulse = old != c_pulseSource && (value & 0x7) == c_pulseSource;
        }
        if (pulse) {
            m_hub->Pulse();
        }
    }

    const devio::RegisterModelPtr m_memory;
    const std::shared_ptr<Hub> m_hub;
    std::mutex m_mutex;
};

// A chip model on its core line, passed through, that tells the sink what each word changed.
class TimingBoard::LoggedChip : public SpiChipModel {
public:
    using State = std::vector<std::string>;

    LoggedChip(SpiChipModelPtr chip, std::function<State()> state, std::shared_ptr<Hub> hub)
        : m_chip(std::move(chip)), m_state(std::move(state)), m_hub(std::move(hub))
    {
    }

    void OnSelect() override { m_chip->OnSelect(); }
    void OnDeselect() override { m_chip->OnDeselect(); }
    uint64_t OnShift(uint64_t mosi, const SpiShiftFormat& format) override
    {
        const State before = m_state();
        const uint64_t miso = m_chip->OnShift(mosi, format);
        const State after = m_state();
        for (size_t i = 0; i < after.size(); ++i) {
            if (i >= before.size() || after[i] != before[i]) {
                m_hub->Line(after[i]);
            }
        }
        return miso;
    }

private:
    const SpiChipModelPtr m_chip;
    const std::function<State()> m_state;
    const std::shared_ptr<Hub> m_hub;
};

TimingBoard::TimingBoard(Board& board)
    : m_board(board),
      m_hub(std::make_shared<Hub>(this)),
      m_events(std::make_unique<EventStreamDevice>(EventPathForSlot(board.GetSlot()))),
      m_cdce(std::make_shared<Cdce72010Model>()),
      m_dac(std::make_shared<Dac8552Model>()),
      m_clockCore(std::make_shared<SpiCoreModel>(false)),
      m_dacCore(std::make_shared<SpiCoreModel>(false))
{
    try {
        _Attach(board);
    } catch (...) {
        // Windows attached before the failure stay served: they must not reach this object.
        m_hub->Detach();
        throw;
    }
    ResumeClock();
}

void TimingBoard::_Attach(Board& board)
{
    board.WriteMemory32(c_clockInfo, c_adcFrequency);
    board.WriteMemory32(c_clockManager + c_lockStatus, c_lockBits);

    m_triggerLog = board.Log(c_triggers, c_triggersSize, std::make_shared<TriggerModel>(board.Memory(c_triggers), m_hub));
    m_clockManagerLog = board.Log(c_clockManager, c_clockManagerSize);
    for (const auto& [log, name] : {std::make_pair(m_triggerLog, "triggers"), std::make_pair(m_clockManagerLog, "clk_mgr")}) {
        log->SetObserver([hub = m_hub, name = std::string(name)](const Access& access) {
            std::ostringstream text;
            text << name << ' ' << access;
            hub->Line(text.str());
        });
    }

    m_clockCore->Attach(0, std::make_shared<LoggedChip>(
                               m_cdce,
                               [chip = m_cdce] {
                                   LoggedChip::State state;
                                   for (unsigned r = 0; r < Cdce72010Model::c_registers; ++r) {
                                       state.push_back("CDCE72010 reg" + std::to_string(r) + "=" + Hex(chip->GetRegister(r)));
                                   }
                                   return state;
                               },
                               m_hub));
    m_dacCore->Attach(0, std::make_shared<LoggedChip>(
                             m_dac,
                             [chip = m_dac] {
                                 return LoggedChip::State{"DAC8552 A=" + Hex(chip->GetOutput(0)) +
                                                          " B=" + Hex(chip->GetOutput(1))};
                             },
                             m_hub));
    board.Attach(c_clockCore, SpiCoreModel::c_windowSize, m_clockCore);
    board.Attach(c_dacCore, SpiCoreModel::c_windowSize, m_dacCore);
}

TimingBoard::~TimingBoard()
{
    PauseClock();
    m_hub->Detach();
}

void TimingBoard::_Pulse()
{
    {
        std::lock_guard<std::mutex> lock(m_clockMutex);
        ++m_pulses;
    }
    m_events->WriteEvent(c_triggerEvent, 0);
}

uint64_t TimingBoard::GetPulseCount() const
{
    std::lock_guard<std::mutex> lock(m_clockMutex);
    return m_pulses;
}

void TimingBoard::SetMcRate(double perSecond)
{
    {
        std::lock_guard<std::mutex> lock(m_clockMutex);
        m_mcRate = perSecond;
    }
    m_clockChanged.notify_all();
}

double TimingBoard::GetMcRate() const
{
    std::lock_guard<std::mutex> lock(m_clockMutex);
    return m_mcRate;
}

uint64_t TimingBoard::GetMcCount() const
{
    std::lock_guard<std::mutex> lock(m_clockMutex);
    return m_mcCount;
}

void TimingBoard::PauseClock()
{
    {
        std::lock_guard<std::mutex> lock(m_clockMutex);
        m_clockStop = true;
    }
    m_clockChanged.notify_all();
    if (m_clock.joinable()) {
        m_clock.join();
    }
}

void TimingBoard::ResumeClock()
{
    if (m_clock.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_clockMutex);
        m_clockStop = false;
    }
    m_clock = QuietThread([this] { _ClockLoop(); });
}

std::thread TimingBoard::QuietThread(std::function<void()> body)
{
    // The thread inherits the mask in force when it is made.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

void TimingBoard::_ClockLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_clockMutex);
    Clock::time_point next = Clock::now();
    uint64_t sequence = 0;
    while (!m_clockStop) {
        const double rate = m_mcRate;
        if (!(rate > 0.0)) {
            m_clockChanged.wait(lock);
            next = Clock::now();
            continue;
        }
        next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        // A loaded machine that fell behind by more than a second starts afresh instead of
        // sending a burst.
        const Clock::time_point now = Clock::now();
        if (next + std::chrono::seconds(1) < now) {
            next = now;
        }
        if (m_clockChanged.wait_until(lock, next, [&] { return m_clockStop || m_mcRate != rate; })) {
            next = Clock::now();
            continue;
        }
        ++sequence;
        lock.unlock();
        const bool written = m_events->WriteEvent(c_mcEvent, sequence);
        lock.lock();
        if (written) {
            ++m_mcCount;
        }
    }
}

void TimingBoard::SetLineSink(LineSink sink)
{
    m_hub->SetSink(std::move(sink));
}

} // namespace sim::boards
