#include "test_device.h"

#include <dirent.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace devio_test {

void TestDevice::_Log(const std::string& call, int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(call);
    if (fd >= 0 && m_open.count(fd) == 0) {
        ++m_stray;
    }
}

int TestDevice::OnOpen(const std::string& path, int)
{
    _Log("open " + path);
    if (failOpen != 0) {
        errno = failOpen;
        return -1;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.insert(fd);
    return fd;
}

int TestDevice::OnIoctl(int fd, unsigned long request, void* argument)
{
    _Log("ioctl", fd);
    if (request != devio::c_mapInfoRequest) {
        errno = ENOTTY;
        return -1;
    }
    devio::MapInfo info;
    info.size = m_size;
    std::memcpy(argument, &info, sizeof(info));
    return 0;
}

void* TestDevice::OnMmap(int fd, void*, size_t length, int protection, int, off_t)
{
    _Log("mmap", fd);
    if (failMap != 0) {
        errno = failMap;
        return MAP_FAILED;
    }
    return ::mmap(nullptr, length, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

int TestDevice::OnMunmap(void* address, size_t length)
{
    _Log("munmap");
    return ::munmap(address, length);
}

int TestDevice::OnClose(int fd)
{
    _Log("close", fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(fd);
    return ::close(fd);
}

std::vector<std::string> TestDevice::Calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

bool TestDevice::Owns(int fd) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.count(fd) != 0;
}

size_t TestDevice::StrayCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stray;
}

size_t CountOpenDescriptors()
{
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        ::closedir(dir);
        --count; // the directory's own descriptor
    }
    return count;
}

} // namespace devio_test
