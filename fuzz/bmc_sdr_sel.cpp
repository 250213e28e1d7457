// Arbitrary sensor data records and event-log records as a board's connection delivers them,
// through an IPMI sensor (name, units, type, thresholds, conversion, classification, printer)
// and the system event log (summary, every entry newest first, decoding, printers). Input:
// [0] the raw reading, [1..71] the sensor data record, [72..85] the event-log summary, then
// 19-byte event records (entry k is record k; the summary may count more than there are).
// Short inputs are padded with zeros. Every refusal must be an istd::Exception; an over-read of
// a record (each lies on the heap in its exact size) or any other failure is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "bmc/board.h"
#include "bmc/clock.h"
#include "bmc/connection.h"
#include "bmc/ipmi_sensor.h"
#include "bmc/system_event_log.h"
#include "istd/exception.h"

namespace {

class RecordConnection : public bmc::Connection {
public:
    RecordConnection(const uint8_t* data, size_t size)
        : bmc::Connection(bmc::Uri(bmc::Uri::eChassis, "3", bmc::Uri::eInterfaceIpmiUsb))
    {
        const auto take = [&](void* out, size_t n) {
            const size_t k = size < n ? size : n;
            std::memcpy(out, data, k);
            data += k;
            size -= k;
        };
        take(&m_raw, 1);
        take(m_record.data, sizeof m_record.data);
        take(&m_info, sizeof m_info);
        while (size > 0) {
            m_events.emplace_back(std::make_unique<platformb_event_record>());
            *m_events.back() = platformb_event_record{};
            take(m_events.back().get(), sizeof(platformb_event_record));
        }
    }

    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args, istd::AnyReference result) override
    {
        switch (command) {
        case bmc::eCmdReadSDR:
            result = m_record;
            break;
        case bmc::eCmdReadSensor:
            result = bmc::NewReading(_Argument(command, args, 1), m_raw, bmc::Clock::Now(3));
            break;
        case bmc::eCmdGetSelInfo:
            result = m_info;
            break;
        case bmc::eCmdSelRead: {
            int& index = _Argument(command, args, 0);
            if (index < 1 || static_cast<size_t>(index) > m_events.size()) {
                throw istd::Exception("fuzz: no such record", true);
            }
            result = *m_events[static_cast<size_t>(index) - 1];
            break;
        }
        default:
            break;
        }
    }

    size_t Events() const { return m_events.size(); }

private:
    uint8_t m_raw = 0;
    sensor_record m_record{};
    sel_info m_info{};
    std::vector<std::unique_ptr<platformb_event_record>> m_events;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RecordConnection connection(data, size);
    bmc::Board board(bmc::Uri(bmc::Uri::eChassis, "3", bmc::Uri::eInterfaceIpmiUsb), &connection);
    std::ostringstream text;
    try {
        const bmc::IpmiSensor sensor(board, bmc::SensorId(7));
        text << sensor << sensor.GetName() << sensor.GetUnits() << sensor.GetRecordType();
        const bmc::SensorReading reading = sensor.Read();
        text << reading << sensor.ReadingLimit(reading) << sensor.LowNonRecover().ToString();
    } catch (const istd::Exception&) {
    }
    bmc::SystemEventLog& log = *board.GetSel();
    try {
        for (const bmc::SelReading& entry : log.ReadMany(-1, true)) {
            text << entry;
        }
    } catch (const istd::Exception&) {
        // The summary counts more entries than there are records.
    }
    // Each record on its own, and the indexes around them.
    const int last = static_cast<int>(std::min<size_t>(log.GetEntries(), connection.Events() + 1));
    for (int index = 0; index <= last; ++index) {
        try {
            text << log.GetEntry(index);
        } catch (const istd::Exception&) {
        }
    }
    text << log;
    return 0;
}
