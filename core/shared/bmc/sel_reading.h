#ifndef BMC_SEL_READING_H
#define BMC_SEL_READING_H

// One decoded entry of a board's system event log: its time, event code, message text,
// severity and formatted parameters. Records of the system's own controller (type 0xE2) are
// decoded; standard (0x02) and OEM timestamped (0xC2) records are only traced and keep empty
// texts. No record content makes decoding fail: unknown codes get texts of their own.

#include <cstdint>
#include <ostream>
#include <string>

#include "bmc/bmc_export.h"
#include "istd/time.h"
#include "bmc/ipmi_connection.h"

namespace bmc {

class SystemEventLog;

class BMC_API SelReading {
public:
    // Invalid: no log, id, type and code 0, time zero, empty texts.
    SelReading();
    // Decodes a record read from log.
    SelReading(const SystemEventLog& log, const platformb_event_record& record);

    const SystemEventLog* GetLog() const { return m_log; }
    uint16_t GetId() const { return m_id; }
    uint8_t GetRecordType() const { return m_recordType; }
    // Printed as a UTC date and time with microseconds.
    const istd::Time& GetTime() const { return m_time; }
    const std::string& GetDescription() const { return m_description; }
    // Bits 0-9 of the event word.
    uint16_t GetEventCode() const { return m_eventCode; }
    const std::string& GetParameter() const { return m_parameter; }
    // "Info", "Warning", "Error" or empty.
    const std::string& GetSeverity() const { return m_severity; }
    bool IsValid() const { return m_valid; }

private:
    // Decodes by record type.
    void GetSelEntry(const platformb_event_record* record);
    // The controller's own records: message, severity, parameters.
    void GetSelEntryOemType(const platformb_event_record* record);

    const SystemEventLog* m_log;
    uint16_t m_id;
    uint8_t m_recordType;
    istd::Time m_time;
    std::string m_description;
    uint16_t m_eventCode;
    std::string m_parameter;
    std::string m_severity;
    bool m_valid;
};

// The instant seconds + nanoseconds after 1970; nanoseconds of a second or more carry into the
// seconds.
BMC_API istd::Time FormatSelTime(unsigned long seconds, unsigned long nanoseconds);

// Bits 14-15 of the event word: "Info", "Warning", "Error", or empty for 3 (and for null).
BMC_API std::string GetSelEventSeverity(const platformb_event_record* record);

// The parameter bytes (11-15) in the format bits 10-13 of the event word select, in decimal
// between parentheses ("(-2,5)"); empty for format 0 (and for null), "(Unknown!)" for 14 and 15.
BMC_API std::string GetSelEventParameter(const platformb_event_record* record);

// Nothing for an invalid reading; else id, time, event code, severity, description and
// parameter right-aligned in widths 3, 22, 6, 16, 55, 26, then a newline.
BMC_API std::ostream& operator<<(std::ostream& os, const SelReading& reading);

} // namespace bmc

#endif
