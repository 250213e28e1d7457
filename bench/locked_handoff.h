#ifndef BENCH_LOCKED_HANDOFF_H
#define BENCH_LOCKED_HANDOFF_H

// The baseline of a notification hand-off, built like the dispatcher: items go into a queue
// under a mutex, a consumer thread takes the whole queue at once and runs a function for each
// item outside the lock, and the producer wakes it only when the queue was empty.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace benchsupport {

template <class Item>
class LockedHandOff {
public:
    explicit LockedHandOff(std::function<void(const Item&)> consume)
        : m_consume(std::move(consume)), m_thread([this] { _Run(); })
    {
    }
    ~LockedHandOff()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    LockedHandOff(const LockedHandOff&) = delete;
    LockedHandOff& operator=(const LockedHandOff&) = delete;

    void Push(Item item)
    {
        bool empty = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            empty = m_queue.empty();
            m_queue.push_back(std::move(item));
        }
        if (empty) {
            m_wake.notify_one();
        }
    }

private:
    void _Run()
    {
        std::deque<Item> batch;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit) {
                return;
            }
            batch.swap(m_queue);
            lock.unlock();
            for (const Item& item : batch) {
                m_consume(item);
            }
            batch.clear();
            lock.lock();
        }
    }

    const std::function<void(const Item&)> m_consume;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    bool m_quit = false;
    std::thread m_thread; // last: started once the rest is made
};

} // namespace benchsupport

#endif
