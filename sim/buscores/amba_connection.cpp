#include "sim/buscores/amba_connection.h"

#include <iterator>
#include <stdexcept>

#include "istd/exception.h"
#include "bmc/ipmi_connection.h"
#include "sim/buscores/register_trace.h"

namespace sim {

AmbaConnection::AmbaConnection() : bmc::Connection(bmc::Uri())
{
}

AmbaConnection::~AmbaConnection() = default;

void AmbaConnection::Map(uint32_t base, size_t size, devio::RegisterModelPtr model)
{
    const uint64_t end = uint64_t{base} + size;
    if (size == 0 || end > uint64_t{1} << 32 || !model) {
        throw std::invalid_argument("sim: an AMBA window needs a size inside 32 bits and a model");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto next = m_windows.lower_bound(base);
    if ((next != m_windows.end() && next->first < end) ||
        (next != m_windows.begin() && std::prev(next)->second.end > base)) {
        throw std::invalid_argument("sim: AMBA window at " + HexText(base) + " overlaps another");
    }
    m_windows.emplace(base, Window{end, std::move(model)});
}

void AmbaConnection::SetReadStatus(uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readStatus = status;
}

void AmbaConnection::SetReadStatus(uint32_t address, uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (status == 0) {
        m_failingReads.erase(address);
    } else {
        m_failingReads[address] = status;
    }
}

uint64_t AmbaConnection::GetCommandCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

devio::RegisterModelPtr AmbaConnection::_Find(uint32_t address, size_t& offset) const
{
    auto it = m_windows.upper_bound(address);
    if (it == m_windows.begin()) {
        return nullptr;
    }
    --it;
    if (address >= it->second.end) {
        return nullptr;
    }
    offset = address - it->first;
    return it->second.model;
}

void AmbaConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                             istd::AnyReference result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t offset = 0;
    if (command == bmc::eCmdFpgaAmbaWrite) {
        unsigned int& address = _Argument(command, args, 0);
        unsigned int& value = _Argument(command, args, 1);
        ++m_commands;
        const devio::RegisterModelPtr model = _Find(address, offset);
        if (!model) {
            throw istd::Exception("sim: no AMBA register at " + HexText(address), true);
        }
        model->OnWrite32(offset, value);
        return;
    }
    if (command == bmc::eCmdFpgaAmbaRead) {
        unsigned int& address = _Argument(command, args, 0);
        ++m_commands;
        chassis_ctl_ambaread_rsp answer{};
        const devio::RegisterModelPtr model = _Find(address, offset);
        const auto failing = m_failingReads.find(address);
        if (m_readStatus != 0) {
            answer.status = m_readStatus;
        } else if (failing != m_failingReads.end()) {
            answer.status = failing->second;
        } else if (!model) {
            answer.status = 1;
        } else {
            const uint32_t value = model->OnRead32(offset);
            for (size_t i = 0; i < sizeof(answer.value); ++i) {
                answer.value[i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        result = answer;
        return;
    }
    throw istd::Exception("sim: AmbaConnection answers only the AMBA commands, not " + std::to_string(command), true);
}

} // namespace sim
