#pragma once
// A simulated device for the device-file tests: it hands out event descriptors, answers the
// mapping request with a size, maps anonymous memory, and logs every call it receives.

#include <cerrno>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "devio/device_file.h"

namespace devio_test {

class TestDevice : public devio::DeviceHandler {
public:
    explicit TestDevice(uint32_t size = 4096) : m_size(size) {}

    int OnOpen(const std::string& path, int flags) override;
    int OnIoctl(int fd, unsigned long request, void* argument) override;
    void* OnMmap(int fd, void* address, size_t length, int protection, int flags,
                 off_t offset) override;
    int OnMunmap(void* address, size_t length) override;
    int OnClose(int fd) override;

    // When set (an errno value), open and mmap fail with it.
    int failOpen = 0;
    int failMap = 0;

    std::vector<std::string> Calls() const;
    // True while the descriptor is one this device handed out and has not closed.
    bool Owns(int fd) const;
    // Calls that named a descriptor this device does not own.
    size_t StrayCalls() const;

private:
    void _Log(const std::string& call, int fd = -1);

    const uint32_t m_size;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::set<int> m_open;
    size_t m_stray = 0;
};

// Open descriptors of this process.
size_t CountOpenDescriptors();

} // namespace devio_test
