#include "sim/boards/access_log.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace sim::boards {

std::ostream& operator<<(std::ostream& os, const Access& access)
{
    const std::ios_base::fmtflags flags = os.flags();
    os << (access.kind == Access::eRead ? "R" : "W") << access.width << " +0x" << std::hex << access.offset
       << " = 0x" << access.value;
    os.flags(flags);
    return os;
}

AccessLog::AccessLog(devio::RegisterModelPtr target) : m_target(std::move(target))
{
    if (!m_target) {
        throw std::invalid_argument("sim: an access log needs a model or memory behind it");
    }
}

void AccessLog::_Record(Access::Kind_e kind, size_t offset, unsigned width, uint64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(Access{kind, offset, width, value});
    if (m_observer) {
        m_observer(m_entries.back());
    }
}

void AccessLog::SetObserver(std::function<void(const Access&)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

uint32_t AccessLog::OnRead32(size_t offset)
{
    const uint32_t value = m_target->OnRead32(offset);
    _Record(Access::eRead, offset, 32, value);
    return value;
}

void AccessLog::OnWrite32(size_t offset, uint32_t value)
{
    _Record(Access::eWrite, offset, 32, value);
    m_target->OnWrite32(offset, value);
}

uint64_t AccessLog::OnRead64(size_t offset)
{
    const uint64_t value = m_target->OnRead64(offset);
    _Record(Access::eRead, offset, 64, value);
    return value;
}

void AccessLog::OnWrite64(size_t offset, uint64_t value)
{
    _Record(Access::eWrite, offset, 64, value);
    m_target->OnWrite64(offset, value);
}

std::vector<Access> AccessLog::Entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

size_t AccessLog::Count(Access::Kind_e kind) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_entries.begin(), m_entries.end(), [&](const Access& a) { return a.kind == kind; }));
}

size_t AccessLog::Count(Access::Kind_e kind, size_t offset) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_entries.begin(), m_entries.end(), [&](const Access& a) {
        return a.kind == kind && a.offset == offset;
    }));
}

void AccessLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

} // namespace sim::boards
