#include "bmc/system_event_log.h"

#include <algorithm>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/connection.h"

namespace bmc {

namespace {

Connection& BoardConnection(Board& board)
{
    Connection* connection = board.GetConnection();
    if (connection == nullptr) {
        throw istd::Exception("bmc: board has no connection", true);
    }
    return *connection;
}

uint32_t Le(const uint8_t* bytes, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

} // namespace

SystemEventLog::SystemEventLog(Board& board) : m_board(board), m_lastAddition(6), m_lastErase(6)
{
}

void SystemEventLog::UpdateInfo()
{
    ISTD_TRACE_FNC("void bmc::SystemEventLog::UpdateInfo()");
    sel_info info{};
    BoardConnection(m_board).Execute(eCmdGetSelInfo, Connection::m_noArgs, istd::AnyReference(info));
    m_entries = static_cast<uint16_t>(Le(info.entries, 2));
    m_freeSpace = static_cast<uint16_t>(Le(info.freeSpace, 2));
    m_lastAddition = istd::Time(Le(info.lastAddition, 4));
    m_lastErase = istd::Time(Le(info.lastErase, 4));
}

void SystemEventLog::Clear()
{
    ISTD_TRACE_FNC("void bmc::SystemEventLog::Clear()");
    BoardConnection(m_board).Execute(eCmdSelClear, Connection::m_noArgs, Connection::m_noResult);
}

SelReading SystemEventLog::GetEntry(int index) const
{
    ISTD_TRACE_FNC("bmc::SelReading bmc::SystemEventLog::GetEntry(int) const");
    if (index > static_cast<int>(m_entries)) {
        ISTD_TRACE(1, "SEL id out of range: " << index << " > " << m_entries);
        throw istd::Exception("bmc:: SEL index too big.", true);
    }
    if (index < 1) {
        ISTD_TRACE(1, "SEL id out of range: " << index << " < 1.");
        throw istd::Exception("bmc:: SEL index < 1.", true);
    }
    platformb_event_record record{};
    BoardConnection(m_board).Execute(eCmdSelRead, {istd::AnyReference(index)}, istd::AnyReference(record));
    return SelReading(*this, record);
}

SelReading SystemEventLog::Read(int index)
{
    ISTD_TRACE_FNC("bmc::SelReading bmc::SystemEventLog::Read(int)");
    UpdateInfo();
    return GetEntry(index);
}

std::vector<SelReading> SystemEventLog::ReadMany(const std::vector<int>& indexes)
{
    ISTD_TRACE_FNC("std::vector<bmc::SelReading> bmc::SystemEventLog::ReadMany(const std::vector<int>&)");
    UpdateInfo();
    std::vector<SelReading> readings;
    readings.reserve(indexes.size());
    for (const int index : indexes) {
        readings.push_back(GetEntry(index));
    }
    return readings;
}

std::vector<SelReading> SystemEventLog::ReadMany(int count, bool newestFirst)
{
    ISTD_TRACE_FNC("std::vector<bmc::SelReading> bmc::SystemEventLog::ReadMany(int, bool)");
    UpdateInfo();
    const int n = m_entries;
    const int c = count < 0 ? n : std::min(count, n);
    std::vector<SelReading> readings;
    readings.reserve(static_cast<size_t>(c));
    for (int i = 0; i < c; ++i) {
        readings.push_back(GetEntry(newestFirst ? n - i : i + 1));
    }
    return readings;
}

std::ostream& operator<<(std::ostream& os, const SystemEventLog& log)
{
    ISTD_TRACE_FNC("std::ostream& bmc::operator<<(std::ostream&, const bmc::SystemEventLog&)");
    os << "|                SEL Information                |" << std::endl;
    os << "-------------------------------------------------" << std::endl;
    os << "Entries              :   " << log.GetEntries() << std::endl;
    os << "Free space           :   ";
    if (log.GetFreeSpace() < 0xFFFF) {
        os << log.GetFreeSpace();
    } else {
        os << "65535 (or more) bytes";
    }
    os << std::endl;
    os << "Last Time Added      :   " << log.GetLastAddition() << std::endl;
    os << "Last Time Deleted    :   " << log.GetLastErase() << std::endl;
    return os;
}

} // namespace bmc
