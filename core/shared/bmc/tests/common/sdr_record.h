#ifndef BMC_TESTS_SDR_RECORD_H
#define BMC_TESTS_SDR_RECORD_H

// Sensor data records built field by field, and a connection that answers the record and
// reading commands of one sensor, for tests of IPMI sensors.

#include <cstdint>
#include <cstring>
#include <string>

#include "bmc/clock.h"
#include "bmc/connection.h"
#include "bmc/ipmi_connection.h"
#include "recording_connection.h"

namespace bmctest {

struct Sdr {
    uint8_t recordType = 0x01;
    uint8_t sensorType = 1;
    unsigned format = 0; // analog data format
    unsigned usage = 0;  // modifier unit usage
    uint8_t unit = 1;
    uint8_t modifierUnit = 0;
    uint8_t linearisation = 0;
    int m = 1;  // 10-bit signed
    int b = 0;  // 10-bit signed
    int k1 = 0; // 4-bit signed
    int k2 = 0; // 4-bit signed
    // Nominal, then the upper non-recoverable, critical, non-critical and the lower
    // non-recoverable, critical, non-critical thresholds (bytes 31 and 36-41).
    uint8_t nominal = 0;
    uint8_t thresholds[6] = {};
    std::string name; // the ID string; empty: none
};

inline sensor_record Record(const Sdr& f)
{
    sensor_record r{};
    uint8_t* d = r.data;
    d[3] = f.recordType;
    d[12] = f.sensorType;
    d[20] = static_cast<uint8_t>(f.format << 6 | f.usage << 1);
    d[21] = f.unit;
    d[22] = f.modifierUnit;
    d[23] = f.linearisation;
    d[24] = static_cast<uint8_t>(f.m & 0xFF);
    d[25] = static_cast<uint8_t>(((f.m >> 8) & 3) << 6);
    d[26] = static_cast<uint8_t>(f.b & 0xFF);
    d[27] = static_cast<uint8_t>(((f.b >> 8) & 3) << 6);
    d[29] = static_cast<uint8_t>((f.k2 & 0xF) << 4 | (f.k1 & 0xF));
    d[31] = f.nominal;
    std::memcpy(d + 36, f.thresholds, sizeof f.thresholds);
    if (!f.name.empty()) {
        // The controller device locator keeps its string further up.
        const size_t at = f.recordType == 0x12 ? 15 : 47;
        d[at] = static_cast<uint8_t>(0xC0 | f.name.size());
        std::memcpy(d + at + 1, f.name.data(), f.name.size());
    }
    return r;
}

// Answers command 1 with record and command 3 with a reading of raw taken now.
class SdrConnection : public RecordingConnection {
public:
    explicit SdrConnection(const sensor_record& record, unsigned int raw = 0) : m_record(record), m_raw(raw)
    {
        SetHandler([this](unsigned int command, const std::vector<istd::AnyReference>& args,
                          istd::AnyReference& result) {
            if (command == bmc::eCmdReadSDR) {
                result = m_record;
            } else if (command == bmc::eCmdReadSensor) {
                result = bmc::NewReading(_Argument(command, args, 1), m_raw, bmc::Clock::Now(3));
            }
        });
    }

private:
    sensor_record m_record;
    unsigned int m_raw;
};

} // namespace bmctest

#endif
