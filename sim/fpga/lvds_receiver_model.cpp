#include "sim/fpga/lvds_receiver_model.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace sim::fpga {

namespace {

constexpr unsigned c_maxTap = LvdsReceiverModel::c_taps - 1;

unsigned _TurnLeft(unsigned nibble, unsigned by)
{
    by %= 4;
    return ((nibble << by) | (nibble >> (4 - by))) & 0xF;
}

} // namespace

LvdsReceiverModel::LvdsReceiverModel()
{
    for (Port& port : m_ports) {
        port.taps.fill(true);
    }
}

LvdsReceiverModel::Port& LvdsReceiverModel::_Port(size_t port)
{
    if (port >= c_ports) {
        throw std::out_of_range("sim: the LVDS receiver has no port " + std::to_string(port));
    }
    return m_ports[port];
}

const LvdsReceiverModel::Port& LvdsReceiverModel::_Port(size_t port) const
{
    return const_cast<LvdsReceiverModel*>(this)->_Port(port);
}

void LvdsReceiverModel::SetTaps(size_t port, const Taps& good)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).taps = good;
}

void LvdsReceiverModel::SetGoodTaps(size_t port, size_t first, size_t last)
{
    Taps taps;
    for (size_t t = 0; t < c_taps; ++t) {
        taps[t] = first <= t && t <= last;
    }
    SetTaps(port, taps);
}

void LvdsReceiverModel::SetLaneOffsets(size_t port, const LaneOffsets& offsets)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).offsets = offsets;
}

void LvdsReceiverModel::SetTransmitted(size_t port, uint64_t word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).transmitted = word;
}

void LvdsReceiverModel::SetSource(size_t port, std::function<uint64_t()> source)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).source = std::move(source);
}

void LvdsReceiverModel::SetWord2(size_t port, uint64_t word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).word2 = word;
}

void LvdsReceiverModel::SetControl(size_t port, uint32_t bits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).control = bits & ~c_errorBit;
}

void LvdsReceiverModel::ForceError(size_t port, bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).forcedError = on;
}

void LvdsReceiverModel::SetTap(size_t port, unsigned tap)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Port(port).tap = tap > c_maxTap ? c_maxTap : tap;
}

unsigned LvdsReceiverModel::GetTap(size_t port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Port(port).tap;
}

LvdsReceiverModel::LaneOffsets LvdsReceiverModel::GetLaneOffsets(size_t port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Port(port).offsets;
}

uint32_t LvdsReceiverModel::GetControl(size_t port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Control(_Port(port));
}

uint64_t LvdsReceiverModel::GetReceived(size_t port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Received(_Port(port));
}

uint64_t LvdsReceiverModel::GetEnable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enable;
}

uint32_t LvdsReceiverModel::_Control(const Port& port) const
{
    const bool error = port.forcedError || !port.taps[port.tap];
    return port.control | (error ? c_errorBit : 0u);
}

uint64_t LvdsReceiverModel::_Received(const Port& port) const
{
    const uint64_t sent = port.source ? port.source() : port.transmitted;
    uint64_t word = 0;
    for (size_t lane = 0; lane < c_lanes; ++lane) {
        const unsigned nibble = static_cast<unsigned>(sent >> (4 * lane)) & 0xF;
        word |= static_cast<uint64_t>(_TurnLeft(nibble, port.offsets[lane])) << (4 * lane);
    }
    return word;
}

uint32_t LvdsReceiverModel::OnRead32(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (offset == c_enableOffset || offset == c_enableOffset + 4) {
        return static_cast<uint32_t>(m_enable >> (offset == c_enableOffset ? 0 : 32));
    }
    if (offset >= c_ports * c_portStride) {
        return 0;
    }
    const Port& port = m_ports[offset / c_portStride];
    switch (offset % c_portStride) {
    case c_controlOffset:
        return _Control(port);
    case c_delayOffset:
        return port.tap;
    case c_word1Offset:
        return static_cast<uint32_t>(_Received(port));
    case c_word1Offset + 4:
        return static_cast<uint32_t>(_Received(port) >> 32);
    case c_word2Offset:
        return static_cast<uint32_t>(port.word2);
    case c_word2Offset + 4:
        return static_cast<uint32_t>(port.word2 >> 32);
    default:
        return 0;
    }
}

void LvdsReceiverModel::OnWrite32(size_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (offset == c_enableOffset) {
        m_enable = (m_enable & 0xFFFFFFFF00000000ULL) | value;
        return;
    }
    if (offset == c_enableOffset + 4) {
        m_enable = (m_enable & 0xFFFFFFFFULL) | static_cast<uint64_t>(value) << 32;
        return;
    }
    if (offset >= c_ports * c_portStride) {
        return;
    }
    Port& port = m_ports[offset / c_portStride];
    switch (offset % c_portStride) {
    case c_controlOffset:
        port.control = value & ~c_errorBit;
        break;
    case c_delayOffset:
        switch (value & 7) {
        case 4:
            port.tap = 0;
            break;
        case 3:
            port.tap = port.tap < c_maxTap ? port.tap + 1 : c_maxTap;
            break;
        case 2:
            port.tap = port.tap > 0 ? port.tap - 1 : 0;
            break;
        default:
            break;
        }
        for (size_t lane = 0; lane < c_lanes; ++lane) {
            if (value & (1u << (3 + lane))) {
                port.offsets[lane] = (port.offsets[lane] + 1) % 4;
            }
        }
        break;
    default:
        break;
    }
}

} // namespace sim::fpga
