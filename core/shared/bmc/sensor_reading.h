#ifndef BMC_SENSOR_READING_H
#define BMC_SENSOR_READING_H

// The identity of a sensor on its board and the value type of one reading. Connections build
// readings; sensors cache, convert and classify them.

#include <cstdint>
#include <ostream>
#include <string>

#include "bmc/bmc_export.h"
#include "istd/any.h"
#include "istd/time.h"
#include "bmc/types.h"

namespace bmc {

class Sensor;

// A sensor's index on its board; the board numbers its sensors 0 .. n-1.
class BMC_API SensorId {
public:
    explicit SensorId(int32_t id = 0) : m_id(id) {}
    int32_t Value() const { return m_id; }

    friend bool operator==(const SensorId& a, const SensorId& b) { return a.m_id == b.m_id; }
    friend bool operator!=(const SensorId& a, const SensorId& b) { return a.m_id != b.m_id; }
    friend bool operator<(const SensorId& a, const SensorId& b) { return a.m_id < b.m_id; }

private:
    int32_t m_id;
};

// Signed decimal.
BMC_API std::ostream& operator<<(std::ostream& os, const SensorId& id);

// One reading. An invalid reading carries no value: a failed read or a missing limit.
class BMC_API SensorReading {
public:
    // Invalid, type "Unknown", stamped at time zero.
    SensorReading();
    // Invalid, stamped at time.
    explicit SensorReading(const istd::Time& time);
    SensorReading(SensorType_e type, unsigned int raw, double converted, const istd::Time& time);
    // Not converted: the converted value is NaN.
    SensorReading(SensorType_e type, unsigned int raw, const istd::Time& time);
    // A discrete reading with its text.
    SensorReading(const std::string& text, const istd::Time& time);
    // Built like (type, raw, time), then replaced by sensor->Transform of itself; sensor must
    // not be null.
    SensorReading(SensorType_e type, unsigned int raw, const istd::Time& time, const Sensor* sensor);

    bool IsValid() const { return m_valid; }
    SensorType_e SensorType() const { return m_type; }
    unsigned int Raw() const { return m_raw; }
    double Converted() const { return m_converted; }
    const std::string& DiscreteValue() const { return m_text; }
    const istd::Time& Timestamp() const { return m_timestamp; }

    // "not valid", the text of a discrete reading, or "<converted> (<raw>)".
    std::string ToString() const;

private:
    void _Stamp(const istd::Time& time);

    bool m_valid;
    istd::Time m_timestamp;
    SensorType_e m_type;
    unsigned int m_raw;
    std::string m_text;
    double m_converted;
};

// The timestamp, ", ", then ToString().
BMC_API std::ostream& operator<<(std::ostream& os, const SensorReading& reading);

// "<" value ">".
BMC_API std::string ToString(const unsigned int& value);

// The reading a connection answers command 3 with. type is the command's second argument,
// which refers to a non-const SensorType_e; any other content fails as its typed access does.
BMC_API SensorReading NewReading(const istd::AnyReference& type, unsigned int raw, const istd::Time& time);
BMC_API SensorReading NewReading(const istd::AnyReference& type, unsigned int raw, double value, const istd::Time& time);

} // namespace bmc

#endif
