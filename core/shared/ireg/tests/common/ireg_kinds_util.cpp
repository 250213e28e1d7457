#include "ireg_kinds_util.h"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace iregtest {

GuardedPages::GuardedPages(size_t bytes)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    m_dataBytes = (bytes + page - 1) / page * page;
    m_mappedBytes = m_dataBytes + 2 * page;
    void* base = mmap(nullptr, m_mappedBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        throw std::runtime_error("mmap failed");
    }
    m_base = static_cast<char*>(base);
    m_data = m_base + page;
    if (mprotect(m_data, m_dataBytes, PROT_READ | PROT_WRITE) != 0) {
        munmap(m_base, m_mappedBytes);
        throw std::runtime_error("mprotect failed");
    }
}

GuardedPages::~GuardedPages()
{
    munmap(m_base, m_mappedBytes);
}

uint64_t RecordingModel::_Read(size_t offset)
{
    const auto it = m_words.find(offset);
    const uint64_t value = it == m_words.end() ? 0 : it->second;
    m_log.push_back({'r', offset, value});
    return value;
}

void RecordingModel::_Write(size_t offset, uint64_t value)
{
    m_words[offset] = value;
    m_log.push_back({'w', offset, value});
}

uint32_t RecordingModel::OnRead32(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint32_t>(_Read(offset));
}

void RecordingModel::OnWrite32(size_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Write(offset, value);
}

uint64_t RecordingModel::OnRead64(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Read(offset);
}

void RecordingModel::OnWrite64(size_t offset, uint64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Write(offset, value);
}

void RecordingModel::Preset(size_t offset, uint64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_words[offset] = value;
}

uint64_t RecordingModel::Word(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_words.find(offset);
    return it == m_words.end() ? 0 : it->second;
}

std::vector<RecordingModel::Access> RecordingModel::TakeLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Access> log;
    log.swap(m_log);
    return log;
}

} // namespace iregtest
