#include "sim/fpga/history_buffer_model.h"

#include <stdexcept>
#include <string>

namespace sim::fpga {

HistoryBufferModel::HistoryBufferModel(size_t writers) : m_writers(writers) {}

HistoryBufferModel::Writer& HistoryBufferModel::_Writer(size_t writer)
{
    if (writer >= m_writers.size()) {
        throw std::out_of_range("sim: the history buffer has no writer " + std::to_string(writer));
    }
    return m_writers[writer];
}

const HistoryBufferModel::Writer& HistoryBufferModel::_Writer(size_t writer) const
{
    return const_cast<HistoryBufferModel*>(this)->_Writer(writer);
}

uint32_t HistoryBufferModel::_Low(const Writer& writer)
{
    return (writer.low & ~c_statusBit) | (writer.running ? c_statusBit : 0u);
}

void HistoryBufferModel::SetStuck(size_t writer, bool stuck)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Writer(writer).stuck = stuck;
}

void HistoryBufferModel::SetRunning(size_t writer, bool running)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Writer(writer).running = running;
}

bool HistoryBufferModel::IsRunning(size_t writer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Writer(writer).running;
}

uint32_t HistoryBufferModel::GetMode(size_t writer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Writer(writer).mode;
}

uint64_t HistoryBufferModel::GetControl(size_t writer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Writer& w = _Writer(writer);
    return uint64_t{w.high} << 32 | _Low(w);
}

uint64_t HistoryBufferModel::GetStops(size_t writer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Writer(writer).stops;
}

uint64_t HistoryBufferModel::GetStarts(size_t writer) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Writer(writer).starts;
}

uint32_t HistoryBufferModel::OnRead32(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t writer = offset / c_stride;
    if (writer >= m_writers.size() || offset % 4 != 0) {
        return 0;
    }
    const Writer& w = m_writers[writer];
    return offset % c_stride == 0 ? _Low(w) : w.high;
}

void HistoryBufferModel::OnWrite32(size_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t writer = offset / c_stride;
    if (writer >= m_writers.size() || offset % 4 != 0) {
        return;
    }
    Writer& w = m_writers[writer];
    if (offset % c_stride != 0) {
        w.high = value;
        return;
    }
    w.low = value;
    if (value == c_stopWord) {
        w.running = false;
        ++w.stops;
    } else if (value == 1 || value == 4) {
        w.mode = value;
        ++w.starts;
        if (!w.stuck) {
            w.running = true;
        }
    }
}

} // namespace sim::fpga
