#include "bmc/ipmi_sensor.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/clock.h"
#include "bmc/connection.h"

namespace bmc {

namespace {

// Bytes of the sensor data record.
constexpr size_t c_recordType = 3;
constexpr size_t c_sensorType = 12;
constexpr size_t c_deviceIdTypeLength = 15; // controller device locator
constexpr size_t c_deviceIdString = 16;
constexpr size_t c_units1 = 20;
constexpr size_t c_baseUnit = 21;
constexpr size_t c_modifierUnit = 22;
constexpr size_t c_linearisation = 23;
constexpr size_t c_mLow = 24;
constexpr size_t c_mHigh = 25;
constexpr size_t c_bLow = 26;
constexpr size_t c_bHigh = 27;
constexpr size_t c_exponents = 29;
constexpr size_t c_nominal = 31;
constexpr size_t c_upperNonRecoverable = 36;
constexpr size_t c_upperCritical = 37;
constexpr size_t c_upperNonCritical = 38;
constexpr size_t c_lowerNonRecoverable = 39;
constexpr size_t c_lowerCritical = 40;
constexpr size_t c_lowerNonCritical = 41;
constexpr size_t c_idTypeLength = 47; // full sensor record
constexpr size_t c_idString = 48;
// Either ID string field holds at most 16 bytes; a string that fills it has no zero byte.
constexpr size_t c_idStringField = 16;

constexpr uint8_t c_fullSensorRecord = 0x01;
constexpr uint8_t c_deviceLocatorRecord = 0x12;
constexpr unsigned c_formatNoAnalog = 3;

const char* const c_unitNames[] = {
    "unspecified", "degrees C", "degrees F", "degrees K", "Volts", "Amps", "Watts", "Joules", "Coulombs", "VA",
    "Nits", "lumen", "lux", "Candela", "kPa", "PSI", "Newton", "CFM", "RPM", "Hz", "microsecond", "millisecond",
    "second", "minute", "hour", "day", "week", "mil", "inches", "feet", "cu in", "cu feet", "mm", "cm", "m",
    "cu cm", "cu m", "liters", "fluid ounce", "radians", "steradians", "revolutions", "cycles", "gravities",
    "ounce", "pound", "ft-lb", "oz-in", "gauss", "gilberts", "henry", "millihenry", "farad", "microfarad", "ohms",
    "siemens", "mole", "becquerel", "PPM", "reserved", "Decibels", "DbA", "DbC", "gray", "sievert",
    "color temp deg K", "bit", "kilobit", "megabit", "gigabit", "byte", "kilobyte", "megabyte", "gigabyte", "word",
    "dword", "qword", "line", "hit", "miss", "retry", "reset", "overflow", "underrun", "collision", "packets",
    "messages", "characters", "error", "correctable error", "uncorrectable error"};
static_assert(sizeof c_unitNames / sizeof c_unitNames[0] == 91, "unit codes 0 to 90 have names");

unsigned AnalogFormat(const sensor_record& record)
{
    return record.data[c_units1] >> 6;
}

// A two's complement number of the given width.
int Signed(unsigned value, unsigned bits)
{
    const unsigned sign = 1u << (bits - 1);
    return static_cast<int>(value & (sign - 1)) - static_cast<int>(value & sign);
}

// The ID string at offset: up to its first zero byte, never past its field.
std::string IdString(const sensor_record& record, size_t offset)
{
    const char* begin = reinterpret_cast<const char*>(record.data + offset);
    const void* end = std::memchr(begin, 0, c_idStringField);
    return std::string(begin, end == nullptr ? c_idStringField : static_cast<const char*>(end) - begin);
}

double Linearise(unsigned linearisation, double y)
{
    switch (linearisation) {
    case 0:
        return y;
    case 1:
        return std::log(y);
    case 2:
        return std::log10(y);
    case 3:
        return std::log(y) / 0.6931471805599453;
    case 4:
        return std::exp(y);
    case 5:
        return std::pow(10.0, y);
    case 6:
        return std::pow(2.0, y);
    case 7:
        return 1.0 / y;
    case 8:
        return y * y;
    case 9:
        return std::pow(y, 3);
    case 10:
        return std::sqrt(y);
    case 11:
        return std::cbrt(y);
    default:
        // The non-linear and OEM codes: the record says nothing we could apply.
        return y;
    }
}

} // namespace

std::string UnitName(unsigned int code)
{
    return code < sizeof c_unitNames / sizeof c_unitNames[0] ? c_unitNames[code] : "";
}

double Convert(const sensor_record* record, unsigned char raw)
{
    if (record == nullptr) {
        throw istd::Exception("bmc: no sensor record to convert with.", true);
    }
    const uint8_t* r = record->data;
    const int m = Signed(static_cast<unsigned>((r[c_mHigh] >> 6) << 8 | r[c_mLow]), 10);
    const int b = Signed(static_cast<unsigned>((r[c_bHigh] >> 6) << 8 | r[c_bLow]), 10);
    const int k1 = Signed(r[c_exponents] & 0x0Fu, 4);
    const int k2 = Signed(r[c_exponents] >> 4, 4);
    int x = 0;
    switch (AnalogFormat(*record)) {
    case 0:
        x = raw;
        break;
    case 1:
        // One's complement: both zeros read 0.
        x = Signed(raw >= 0x80 ? (raw + 1u) & 0xFFu : raw, 8);
        break;
    case 2:
        x = Signed(raw, 8);
        break;
    default:
        return 0.0;
    }
    const double y = (static_cast<double>(m * x) + b * std::pow(10.0, k1)) * std::pow(10.0, k2);
    return Linearise(r[c_linearisation] & 0x7Fu, y);
}

IpmiSensor::IpmiSensor(Board& board, const SensorId& id) : Sensor(board, id)
{
}

IpmiSensor::~IpmiSensor() = default;

bool IpmiSensor::UpdateSDR() const
{
    ISTD_TRACE_FNC("bool bmc::IpmiSensor::UpdateSDR() const");
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (m_record) {
        return true;
    }
    // Read aside and attached only once the read succeeded: a failed read leaves no record
    // behind, and the next caller reads again.
    auto record = std::make_unique<sensor_record>();
    const std::vector<istd::AnyReference> args{istd::AnyReference(GetId())};
    GetConnection().Execute(eCmdReadSDR, args, istd::AnyReference(*record));

    std::string name = GetBoard().GetUri().GetId() + "-";
    const uint8_t type = record->data[c_recordType];
    if (type == c_fullSensorRecord && record->data[c_idTypeLength] != 0) {
        name += IdString(*record, c_idString);
    } else if (type == c_deviceLocatorRecord && record->data[c_deviceIdTypeLength] != 0) {
        name += IdString(*record, c_deviceIdString);
    } else {
        name += std::to_string(GetId().Value());
    }
    // Units, conversion and thresholds are fields of the full sensor record alone: in a device
    // locator record the same bytes hold the device's name.
    std::string units;
    if (type == c_fullSensorRecord) {
        units = UnitName(record->data[c_baseUnit]);
        const unsigned usage = (record->data[c_units1] >> 1) & 3u;
        if (usage == 1) {
            units += "/" + UnitName(record->data[c_modifierUnit]);
        } else if (usage == 2) {
            units += " * " + UnitName(record->data[c_modifierUnit]);
        }
    }
    m_name = std::move(name);
    m_units = std::move(units);
    m_record = std::move(record);
    return true;
}

uint8_t IpmiSensor::GetRecordType() const
{
    UpdateSDR();
    return m_record->data[c_recordType];
}

void IpmiSensor::SetRecord(const sensor_record& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiSensor::SetRecord(const sensor_record&)");
    auto copy = std::make_unique<const sensor_record>(record);
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_record = std::move(copy);
}

const std::string& IpmiSensor::GetName() const
{
    UpdateSDR();
    return m_name;
}

const std::string& IpmiSensor::GetUnits() const
{
    UpdateSDR();
    return m_units;
}

SensorType_e IpmiSensor::GetType() const
{
    UpdateSDR();
    const uint8_t* r = m_record->data;
    switch (r[c_recordType]) {
    case c_fullSensorRecord:
        if (AnalogFormat(*m_record) == c_formatNoAnalog) {
            return eSensorTypeDiscrete;
        }
        switch (r[c_sensorType]) {
        case 1:
            return eSensorTypeTemperature;
        case 2:
            return eSensorTypeVoltage;
        case 3:
            return eSensorTypeCurrent;
        case 4:
            return eSensorTypeFan;
        case 0xF2:
            return eSensorTypeHotSwapHandle;
        default:
            return eSensorTypeOtherAnalog;
        }
    case c_deviceLocatorRecord:
        return eSensorTypeMcDevLoc;
    default:
        return eSensorTypeUnknown;
    }
}

SensorReading IpmiSensor::Transform(const SensorReading& reading) const
{
    ISTD_TRACE_FNC("virtual bmc::SensorReading bmc::IpmiSensor::Transform(const bmc::SensorReading&) const");
    UpdateSDR();
    if (GetType() == eSensorTypeDiscrete) {
        return SensorReading("discrete value", reading.Timestamp());
    }
    if (m_record->data[c_recordType] != c_fullSensorRecord) {
        return SensorReading(reading.SensorType(), reading.Raw(), reading.Timestamp());
    }
    return SensorReading(reading.SensorType(), reading.Raw(),
                         Convert(m_record.get(), static_cast<unsigned char>(reading.Raw() & 0xFFu)),
                         reading.Timestamp());
}

SensorReading IpmiSensor::_Threshold(size_t byte) const
{
    UpdateSDR();
    if (m_record->data[c_recordType] != c_fullSensorRecord) {
        return SensorReading(Clock::Now(3)); // no limit
    }
    return SensorReading(GetType(), m_record->data[byte], Clock::Now(3), this);
}

SensorReading IpmiSensor::Nominal() const
{
    return _Threshold(c_nominal);
}

SensorReading IpmiSensor::LowNonCritical() const
{
    return _Threshold(c_lowerNonCritical);
}

SensorReading IpmiSensor::LowCritical() const
{
    return _Threshold(c_lowerCritical);
}

SensorReading IpmiSensor::LowNonRecover() const
{
    return _Threshold(c_lowerNonRecoverable);
}

SensorReading IpmiSensor::HighNonCritical() const
{
    return _Threshold(c_upperNonCritical);
}

SensorReading IpmiSensor::HighCritical() const
{
    return _Threshold(c_upperCritical);
}

SensorReading IpmiSensor::HighNonRecover() const
{
    return _Threshold(c_upperNonRecoverable);
}

} // namespace bmc
