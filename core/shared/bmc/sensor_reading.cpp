#include "bmc/sensor_reading.h"

#include <limits>
#include <sstream>

#include "istd/exception.h"
#include "bmc/sensor.h"

namespace bmc {

namespace {
constexpr double c_notConverted = std::numeric_limits<double>::quiet_NaN();
} // namespace

std::ostream& operator<<(std::ostream& os, const SensorId& id)
{
    return os << id.Value();
}

SensorReading::SensorReading()
    : m_valid(false), m_type(eSensorTypeUnknown), m_raw(0), m_converted(c_notConverted)
{
    _Stamp(istd::Time(0, 0));
}

SensorReading::SensorReading(const istd::Time& time)
    : m_valid(false), m_type(eSensorTypeUnknown), m_raw(0), m_converted(c_notConverted)
{
    _Stamp(time);
}

SensorReading::SensorReading(SensorType_e type, unsigned int raw, double converted, const istd::Time& time)
    : m_valid(true), m_type(type), m_raw(raw), m_converted(converted)
{
    _Stamp(time);
}

SensorReading::SensorReading(SensorType_e type, unsigned int raw, const istd::Time& time)
    : m_valid(true), m_type(type), m_raw(raw), m_converted(c_notConverted)
{
    _Stamp(time);
}

SensorReading::SensorReading(const std::string& text, const istd::Time& time)
    : m_valid(true), m_type(eSensorTypeDiscrete), m_raw(0), m_text(text), m_converted(c_notConverted)
{
    _Stamp(time);
}

SensorReading::SensorReading(SensorType_e type, unsigned int raw, const istd::Time& time, const Sensor* sensor)
    : SensorReading(type, raw, time)
{
    if (sensor == nullptr) {
        throw istd::Exception("bmc: a sensor reading needs its sensor to be converted.", true);
    }
    *this = sensor->Transform(*this);
}

// Readings print their time as a UTC date and time.
void SensorReading::_Stamp(const istd::Time& time)
{
    m_timestamp = time;
    m_timestamp.SetPresentation(2, true);
}

std::string SensorReading::ToString() const
{
    if (!m_valid) {
        return "not valid";
    }
    if (m_type == eSensorTypeDiscrete) {
        return m_text;
    }
    std::ostringstream os;
    os << m_converted << " (" << m_raw << ")";
    return os.str();
}

std::ostream& operator<<(std::ostream& os, const SensorReading& reading)
{
    return os << reading.Timestamp() << ", " << reading.ToString();
}

std::string ToString(const unsigned int& value)
{
    return "<" + std::to_string(value) + ">";
}

SensorReading NewReading(const istd::AnyReference& type, unsigned int raw, const istd::Time& time)
{
    const SensorType_e sensorType = static_cast<SensorType_e&>(type);
    return SensorReading(sensorType, raw, time);
}

SensorReading NewReading(const istd::AnyReference& type, unsigned int raw, double value, const istd::Time& time)
{
    const SensorType_e sensorType = static_cast<SensorType_e&>(type);
    return SensorReading(sensorType, raw, value, time);
}

} // namespace bmc
