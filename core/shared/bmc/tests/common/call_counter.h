#ifndef BMC_TESTS_CALL_COUNTER_H
#define BMC_TESTS_CALL_COUNTER_H

// How often each function of a stand-in library was called; safe from any thread.

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace bmctest {

class CallCounter {
public:
    void Add(const std::string& function)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls[function];
    }

    size_t Get(const std::string& function) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_calls.find(function);
        return it == m_calls.end() ? 0 : it->second;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, size_t> m_calls;
};

} // namespace bmctest

#endif
