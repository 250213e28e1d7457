#include "sim/boards/event_receiver_board.h"

#include <cmath>
#include <sstream>
#include <utility>

#include "sim/boards/board_hub.h"

namespace sim::boards {

// What the models, which the board's windows keep after this object is gone, reach it through.
class EventReceiverBoard::Hub : public BoardHub<EventReceiverBoard> {
public:
    using BoardHub::BoardHub;

    // The machine time of the timing board's event device; 0 once the board is gone.
    uint64_t MachineTime()
    {
        uint64_t time = 0;
        With([&time](EventReceiverBoard& board) { time = board.m_timing.Events().GetMachineTime(); });
        return time;
    }
    void Code(int64_t code, int64_t timestamp)
    {
        const int64_t atom[2] = {code, timestamp};
        With([&atom](EventReceiverBoard& board) {
            board.m_codes->Write(atom, sizeof(atom));
            ++board.m_generated;
        });
    }
};

// Plain memory that plays the generator's table into ".strm0" as its entries are written.
class EventReceiverBoard::GeneratorModel : public devio::RegisterModel {
public:
    GeneratorModel(devio::RegisterModelPtr memory, std::shared_ptr<Hub> hub)
        : m_memory(std::move(memory)), m_hub(std::move(hub))
    {
    }

    uint32_t OnRead32(size_t offset) override { return m_memory->OnRead32(offset); }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_memory->OnWrite32(offset, value);
        if (offset == c_generatorStart + 4 && _Word(c_generatorStart) == 1) {
            m_started = true;
            m_start = m_hub->MachineTime();
            m_elapsed = 0;
        } else if (offset == c_generatorDelay + 4) {
            if (!m_started) {
                m_started = true;
                m_start = m_hub->MachineTime();
                m_elapsed = 0;
            }
            m_hub->Code(static_cast<int64_t>(_Word(c_generatorCode)), static_cast<int64_t>(m_start + m_elapsed));
            m_elapsed += _Word(c_generatorDelay);
        }
    }

private:
    uint64_t _Word(size_t offset)
    {
        return uint64_t{m_memory->OnRead32(offset)} | uint64_t{m_memory->OnRead32(offset + 4)} << 32;
    }

    const devio::RegisterModelPtr m_memory;
    const std::shared_ptr<Hub> m_hub;
    std::mutex m_mutex;
    bool m_started = false;
    uint64_t m_start = 0;
    uint64_t m_elapsed = 0;
};

// Plain memory that times the pulses of the control word's reset bit.
class EventReceiverBoard::TransceiverModel : public devio::RegisterModel {
public:
    using Clock = std::chrono::steady_clock;

    explicit TransceiverModel(devio::RegisterModelPtr memory) : m_memory(std::move(memory)) {}

    uint32_t OnRead32(size_t offset) override
    {
        const uint32_t value = m_memory->OnRead32(offset);
        std::function<void()> hook;
        if (offset == c_mgtControl) {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = std::move(m_readHook);
            m_readHook = nullptr;
        }
        if (hook) {
            hook();
        }
        return value;
    }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool was = offset == c_mgtControl && (m_memory->OnRead32(offset) & 1u) != 0;
        m_memory->OnWrite32(offset, value);
        if (offset != c_mgtControl) {
            return;
        }
        const bool is = (value & 1u) != 0;
        if (!was && is) {
            m_set = Clock::now();
        } else if (was && !is) {
            m_pulses.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_set));
        }
    }

    std::vector<std::chrono::nanoseconds> Pulses() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pulses;
    }
    void SetReadHook(std::function<void()> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_readHook = std::move(hook);
    }

private:
    const devio::RegisterModelPtr m_memory;
    mutable std::mutex m_mutex;
    std::function<void()> m_readHook;
    Clock::time_point m_set;
    std::vector<std::chrono::nanoseconds> m_pulses;
};

// The oscillator on its bus, passed through, that tells the sink each new output frequency.
class EventReceiverBoard::LoggedOscillator : public I2cChipModel {
public:
    LoggedOscillator(std::shared_ptr<Si57xModel> chip, std::shared_ptr<Hub> hub)
        : m_chip(std::move(chip)), m_hub(std::move(hub)), m_applies(m_chip->GetApplies())
    {
    }

    bool OnStart(bool read) override { return m_chip->OnStart(read); }
    bool OnWriteByte(uint8_t byte) override { return m_chip->OnWriteByte(byte); }
    uint8_t OnReadByte(bool ack) override { return m_chip->OnReadByte(ack); }
    void OnStop() override
    {
        m_chip->OnStop();
        const size_t applies = m_chip->GetApplies();
        if (applies != m_applies) {
            m_applies = applies;
            m_hub->Line("SI57xSFP " + std::to_string(std::llround(m_chip->GetOutputFrequency())) + " Hz");
        }
    }

private:
    const std::shared_ptr<Si57xModel> m_chip;
    const std::shared_ptr<Hub> m_hub;
    size_t m_applies; // under the core's mutex, as every call
};

EventReceiverBoard::EventReceiverBoard(Board& board, TimingBoard& timing)
    : m_board(board),
      m_timing(timing),
      m_hub(std::make_shared<Hub>(this)),
      m_codes(std::make_unique<StreamDevice>(StreamPathForSlot(board.GetSlot()), c_atomSize)),
      m_i2cCore(std::make_shared<I2cCoreModel>()),
      m_sfp(std::make_shared<Si57xModel>())
{
    try {
        board.WriteMemory32(c_mgt + c_mgtStatus, c_pllLocked);
        m_i2cCore->Attach(c_sfpBus, Si57xModel::c_address, std::make_shared<LoggedOscillator>(m_sfp, m_hub));
        board.Attach(c_i2cCore, I2cCoreModel::c_windowSize, m_i2cCore);
        m_generator = std::make_shared<GeneratorModel>(board.Memory(c_rtc), m_hub);
        m_rtcLog = board.Log(c_rtc, c_rtcSize, m_generator);
        m_transceiver = std::make_shared<TransceiverModel>(board.Memory(c_mgt));
        m_mgtLog = board.Log(c_mgt, c_mgtSize, m_transceiver);
        m_ledLog = board.Log(c_leds, c_ledsSize);
        for (const auto& [log, name] : {std::make_pair(m_rtcLog, "rtc"), std::make_pair(m_mgtLog, "mgt"),
                                        std::make_pair(m_ledLog, "leds")}) {
            log->SetObserver([hub = m_hub, name = std::string(name)](const Access& access) {
                std::ostringstream text;
                text << name << ' ' << access;
                hub->Line(text.str());
            });
        }
    } catch (...) {
        // Windows attached before the failure stay served: they must not reach this object.
        m_hub->Detach();
        throw;
    }
}

EventReceiverBoard::~EventReceiverBoard()
{
    m_hub->Detach();
}

void EventReceiverBoard::SetStatus(uint32_t status)
{
    m_board.WriteMemory32(c_mgt + c_mgtStatus, status);
}

void EventReceiverBoard::SetErrors(uint64_t errors)
{
    m_board.WriteMemory64(c_mgt + c_mgtErrors, errors);
}

std::vector<std::chrono::nanoseconds> EventReceiverBoard::ResetPulses() const
{
    return m_transceiver->Pulses();
}

void EventReceiverBoard::SetControlReadHook(std::function<void()> hook)
{
    m_transceiver->SetReadHook(std::move(hook));
}

uint64_t EventReceiverBoard::GetGeneratedCount() const
{
    return m_generated.load();
}

void EventReceiverBoard::SetLineSink(LineSink sink)
{
    m_hub->SetSink(std::move(sink));
}

} // namespace sim::boards
