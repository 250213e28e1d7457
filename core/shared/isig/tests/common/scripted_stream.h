#ifndef ISIGSTREAM_TESTS_SCRIPTED_STREAM_H
#define ISIGSTREAM_TESTS_SCRIPTED_STREAM_H

// A stream whose input the test scripts: each ReadInput takes the next step (atoms with running
// codes and a result code, or a throw), waiting for one while there is none, as a device read
// waits for data. It counts what the stream does with its input and notes every use the input
// would not survive: a read of a closed input, a close while a read is in progress.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "istd/exception.h"
#include "isig/stream.h"

namespace isigtest {

struct TestAtom {
    int64_t code;
    int64_t timestamp;
};

} // namespace isigtest

template <>
struct isig::AtomNames<isigtest::TestAtom> {
    static constexpr std::array<const char*, 2> names{"code", "timestamp"};
};

namespace isigtest {

using TestTraits = isig::SignalTraits<int64_t, TestAtom, 1u>;
using TestClient = isig::StreamClient<TestTraits>;
using TestQueue = isig::StreamQueue<TestTraits>;
using Ptr = isig::MetaBufferPtr<TestTraits>;

class ScriptedStream : public isig::Stream<TestTraits> {
public:
    struct Step {
        int code = isig::eSuccess;
        unsigned atoms = 0; // at most the group size are delivered
        bool throws = false;
    };

    explicit ScriptedStream(isig::DispatchMode_e mode, unsigned group = 1, const std::string& name = "scripted")
        : Stream(name, "test-board", TestTraits(group), mode)
    {
    }
    ~ScriptedStream() override
    {
        UnregisterSource();
        ShutDown();
    }

    void Script(const Step& step)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_steps.push_back(step);
        m_changed.notify_all();
    }
    void Feed(unsigned atoms) { Script({isig::eSuccess, atoms, false}); }
    // Every read delivers `atoms` at once, without a script (0 turns it off).
    void SetEndless(unsigned atoms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_endless = atoms;
        m_changed.notify_all();
    }

    // The passive stream's own input, for the test.
    int CallReadInput(ArrayType& array) { return Stream::ReadInput(array); }
    void CallOpenInput() { OpenInput(); }

    std::atomic<bool> failOpen{false};
    // Holds closing back while set, so that a test can act while the stream stops.
    std::atomic<bool> holdClose{false};
    // Pause of an endless read, so that a producing thread leaves the others some room.
    std::atomic<int> endlessPauseUs{0};
    std::atomic<int> opens{0};
    std::atomic<int> interrupts{0};
    std::atomic<int> closes{0};
    std::atomic<int> reads{0};
    std::atomic<int> violations{0};

    bool IsInputOpen() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }
    // True while the dispatch thread waits in ReadInput for a step.
    bool IsWaiting() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }
    // Codes of the atoms delivered so far run from 0 up to this.
    int64_t NextCode() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_next;
    }

protected:
    void OpenInput() override
    {
        if (failOpen) {
            throw istd::Exception("scripted: cannot open");
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_interrupted = false;
        ++opens;
    }
    void InterruptInput() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interrupted = true;
        ++interrupts;
        m_changed.notify_all();
    }
    void CloseInput() override
    {
        while (holdClose) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reading) {
            ++violations;
        }
        if (m_open) {
            m_open = false;
            ++closes;
        }
    }
    int ReadInput(ArrayType& array) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++reads;
        if (!m_open) {
            ++violations;
        }
        m_reading = true;
        m_waiting = true;
        m_changed.wait(lock, [this] { return !m_steps.empty() || m_interrupted || m_endless != 0; });
        m_waiting = false;
        Step step;
        if (m_endless != 0 && m_steps.empty()) {
            step.atoms = m_endless;
            if (endlessPauseUs > 0) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(endlessPauseUs));
                lock.lock();
            }
        } else if (!m_steps.empty()) {
            step = m_steps.front();
            m_steps.pop_front();
        } else {
            step.code = isig::eNoData; // interrupted
        }
        m_reading = false;
        if (step.throws) {
            throw istd::Exception("scripted: read failed");
        }
        const unsigned atoms = std::min(step.atoms, array.GetLength());
        for (unsigned i = 0; i < atoms; ++i) {
            array.Data()[i] = TestAtom{m_next, m_next * 10};
            ++m_next;
        }
        array.Resize(atoms);
        return step.code;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Step> m_steps;
    unsigned m_endless = 0;
    bool m_open = false;
    bool m_interrupted = false;
    bool m_reading = false;
    bool m_waiting = false;
    int64_t m_next = 0;
};

// A buffer of `atoms` atoms whose codes start at `first`.
inline Ptr MakeBuffer(unsigned atoms, int64_t first = 0)
{
    isig::Array<TestTraits> array(TestTraits(), atoms);
    for (unsigned i = 0; i < atoms; ++i) {
        array[i] = TestAtom{first + i, 0};
    }
    return std::make_shared<const isig::MetaBufferPair<TestTraits>>(std::move(array), isig::c_noMeta);
}

// The codes of the atoms of a buffer.
inline std::vector<int64_t> Codes(const Ptr& buffer)
{
    std::vector<int64_t> codes;
    for (unsigned i = 0; buffer && i < buffer->data.GetLength(); ++i) {
        codes.push_back(buffer->data[i].code);
    }
    return codes;
}

} // namespace isigtest

#endif
