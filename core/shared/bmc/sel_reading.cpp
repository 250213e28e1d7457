#include "bmc/sel_reading.h"

#include <iomanip>
#include <sstream>

#include "istd/trace.h"

namespace bmc {

namespace {

constexpr uint8_t c_standardRecord = 0x02;
constexpr uint8_t c_oemTimestampedRecord = 0xC2;
constexpr uint8_t c_controllerRecord = 0xE2;

struct SelEvent {
    uint16_t code;
    const char* message;
};

// The controller's event codes; the closing slot has no text.
const SelEvent c_selEvents[] = {
    {0x01, "SEL event log full."},
    {0x02, "SEL initialization completed."},
    {0x03, "SEL initialization failed. (Error)"},
    {0x04, "Start health monitoring request. (Current state)"},
    {0x05, "Request to turn RED LED off. (Current state)"},
    {0x06, "Time stamp synchronization. (Time)"},
    {0x07, "FPGA image boot succeed."},
    {0x08, "FPGA boot timeout. (Timeout)"},
    {0x09, "FPGA health monitoring detected failure. (Failure)"},
    {0x0A, "Power button action. (Action)"},
    {0x0B, "Detected board(s) with wrong GEO position. (BoardBits)"},
    {0x0C, "Failed to boot board(s). (BoardBits)"},
    {0x0D, "Failed to initialize USB2514 hub. (Failure)"},
    {0x0E, "Base board configuration data is corrupted. (Failure)"},
    {0x0F, "Subsystem board configuration data is corrupted. (Failure)"},
    {0x10, "Read of base board configuration data failed. (Failure)"},
    {0x11, "Detected board(s) with wrong bus position. (BoardBits)"},
    {0x12, "Failed to start and get board(s) info. (BoardBits)"},
    {0x13, "Board post-power initialization failed. (BoardId,Status1,Status2)"},
    {0x14, "Failed to post-power initialize board(s). (BoardBits)"},
    {0x15, "Failed to set time for board(s). (BoardBits)"},
    {0x16, "Board(s) HW information mismatch. (BoardBits)"},
    {0x17, "Subsystem board HW information mismatch. (Failure)"},
    {0x18, "Subsystem board HW initialization failed. (Status1,Status2)"},
    {0x19, "Base board HW initialization failed. (Status1,Status2)"},
    {0x20, "Post power base board HW initialization failed. (Status1,Status2)"},
    {0x21, "USB port enable failure. (BoardBits)"},
    {0x22, "FPGA to ARM spi interface test failure. (Status1,Status2)"},
    {0x23, "FPGA AMBA read/write test failure. (Status1,Status2)"},
    {0, nullptr},
};
constexpr size_t c_selEventSlots = sizeof c_selEvents / sizeof c_selEvents[0];
static_assert(c_selEventSlots == 30, "29 messages and the closing slot");

uint32_t Le(const uint8_t* bytes, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

uint16_t EventWord(const platformb_event_record& record)
{
    return static_cast<uint16_t>(Le(record.eventWord, 2));
}

} // namespace

istd::Time FormatSelTime(unsigned long seconds, unsigned long nanoseconds)
{
    constexpr unsigned long c_second = 1000000000ul;
    return istd::Time(static_cast<int64_t>(seconds + nanoseconds / c_second), static_cast<long>(nanoseconds % c_second));
}

std::string GetSelEventSeverity(const platformb_event_record* record)
{
    if (record == nullptr) {
        return std::string();
    }
    switch (EventWord(*record) >> 14) {
    case 0:
        return "Info";
    case 1:
        return "Warning";
    case 2:
        return "Error";
    default:
        return std::string();
    }
}

std::string GetSelEventParameter(const platformb_event_record* record)
{
    ISTD_TRACE_FNC("std::string bmc::GetSelEventParameter(const platformb_event_record*)");
    if (record == nullptr) {
        return std::string();
    }
    const unsigned format = (EventWord(*record) >> 10) & 0x0Fu;
    const uint8_t* p = record->parameters; // p[0] is byte 11 of the record
    const auto u16 = [p](size_t at) { return Le(p + at, 2); };
    const auto s16 = [p](size_t at) { return static_cast<int16_t>(Le(p + at, 2)); };
    std::ostringstream text;
    switch (format) {
    case 0:
        return std::string();
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 13:
        // The first format bytes, or all five.
        for (unsigned i = 0; i < (format == 13 ? 5u : format); ++i) {
            text << (i == 0 ? "" : ",") << static_cast<unsigned>(p[i]);
        }
        break;
    case 6:
        text << s16(0);
        break;
    case 7:
        text << s16(0) << "," << s16(2);
        break;
    case 8:
        text << static_cast<int32_t>(Le(p, 4));
        break;
    case 9:
        text << u16(0);
        break;
    case 10:
        text << u16(0) << "," << u16(2);
        break;
    case 11:
        text << Le(p, 4);
        break;
    case 12:
        text << static_cast<unsigned>(p[0]) << "," << u16(1) << "," << u16(3);
        break;
    default:
        return "(Unknown!)";
    }
    return "(" + text.str() + ")";
}

SelReading::SelReading()
    : m_log(nullptr), m_id(0), m_recordType(0), m_time(0), m_eventCode(0), m_valid(false)
{
}

SelReading::SelReading(const SystemEventLog& log, const platformb_event_record& record)
    : m_log(&log), m_id(static_cast<uint16_t>(Le(record.recordId, 2))), m_recordType(record.recordType),
      m_eventCode(static_cast<uint16_t>(EventWord(record) & 0x3FFu)), m_valid(true)
{
    ISTD_TRACE_FNC("bmc::SelReading::SelReading(const bmc::SystemEventLog&, platformb_event_record&)");
    // Milliseconds up to 65535 make nanoseconds past 32 bits: the product is taken in 64.
    m_time = FormatSelTime(Le(record.timestamp, 4), static_cast<unsigned long>(Le(record.milliseconds, 2)) * 1000000ul);
    m_time.SetPresentation(6, true);
    GetSelEntry(&record);
}

void SelReading::GetSelEntry(const platformb_event_record* record)
{
    m_recordType = record->recordType;
    switch (m_recordType) {
    case c_controllerRecord:
        GetSelEntryOemType(record);
        break;
    case c_standardRecord:
        ISTD_TRACE(1, "SEL_STANDARD_RECORD Not yet implemented");
        break;
    case c_oemTimestampedRecord:
        ISTD_TRACE(1, "SEL_OEMTS_RECORD Not yet implemented");
        break;
    default:
        break;
    }
}

void SelReading::GetSelEntryOemType(const platformb_event_record* record)
{
    const uint16_t word = EventWord(*record);
    const unsigned code = word & 0x3FFu;
    size_t slot = 0;
    while (slot < c_selEventSlots && c_selEvents[slot].code != code) {
        ++slot;
    }
    if (slot == c_selEventSlots) {
        m_description = "unknown code (idx): " + std::to_string(word) + " (" + std::to_string(slot) + ")";
    } else if (c_selEvents[slot].message == nullptr) {
        m_description = "null message for code (idx): " + std::to_string(word) + " (" + std::to_string(slot) + ")";
    } else {
        m_description = c_selEvents[slot].message;
    }
    m_severity = GetSelEventSeverity(record);
    m_parameter = GetSelEventParameter(record);
}

std::ostream& operator<<(std::ostream& os, const SelReading& reading)
{
    if (!reading.IsValid()) {
        return os;
    }
    // The time is made into one text first, so that its width applies to the whole of it.
    std::ostringstream time;
    time << reading.GetTime();
    std::ostringstream text;
    text << std::right << std::setw(3) << reading.GetId() << std::setw(22) << time.str() << std::setw(6)
         << reading.GetEventCode() << std::setw(16) << reading.GetSeverity() << std::setw(55)
         << reading.GetDescription() << std::setw(26) << reading.GetParameter() << "\n";
    return os << text.str();
}

} // namespace bmc
