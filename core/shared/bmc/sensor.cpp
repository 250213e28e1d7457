#include "bmc/sensor.h"

#include <iomanip>
#include <sstream>
#include <vector>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/clock.h"
#include "bmc/connection.h"

namespace bmc {

namespace {

// The interval shared by the sensors that keep the base's MinReadInterval. A lock guards it:
// it may be changed while other threads read sensors.
struct SharedInterval {
    std::mutex mutex;
    istd::Time interval{10, 0};
};

SharedInterval& _SharedInterval()
{
    static SharedInterval shared;
    return shared;
}

SensorReading _NoLimit()
{
    return SensorReading(Clock::Now(3));
}

} // namespace

Sensor::Sensor(Board& board, const SensorId& id) : m_id(id), m_board(board)
{
}

Sensor::~Sensor() = default;

const SensorId& Sensor::GetId() const
{
    return m_id;
}

SensorReading Sensor::Nominal() const
{
    return _NoLimit();
}

SensorReading Sensor::LowNonCritical() const
{
    return _NoLimit();
}

SensorReading Sensor::LowCritical() const
{
    return _NoLimit();
}

SensorReading Sensor::LowNonRecover() const
{
    return _NoLimit();
}

SensorReading Sensor::HighNonCritical() const
{
    return _NoLimit();
}

SensorReading Sensor::HighCritical() const
{
    return _NoLimit();
}

SensorReading Sensor::HighNonRecover() const
{
    return _NoLimit();
}

SensorReading Sensor::FetchSensorReading() const
{
    ISTD_TRACE_FNC("virtual bmc::SensorReading bmc::Sensor::FetchSensorReading() const");
    Connection& connection = GetConnection();
    SensorType_e type = GetType();
    SensorReading result;
    const std::vector<istd::AnyReference> args{istd::AnyReference(m_id), istd::AnyReference(type)};
    connection.Execute(eCmdReadSensor, args, istd::AnyReference(result));
    return Transform(result);
}

SensorReading Sensor::Transform(const SensorReading& reading) const
{
    return reading;
}

istd::Time Sensor::MinReadInterval() const
{
    SharedInterval& shared = _SharedInterval();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.interval;
}

void Sensor::SetReadingInterval(const istd::Time& interval)
{
    SharedInterval& shared = _SharedInterval();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.interval = interval;
}

SensorReading Sensor::Read() const
{
    ISTD_TRACE_FNC("bmc::SensorReading bmc::Sensor::Read() const");
    std::lock_guard<std::mutex> lock(m_lastReadingMutex);
    const istd::Time now = Clock::Now(3);
    const istd::Time interval = MinReadInterval();
    const istd::Time age = now - m_lastReading.Timestamp();
    // A reading stamped after now means the clock was set back; it is not served as fresh.
    if (age <= interval && !(age < istd::Time(0, 0))) {
        return m_lastReading;
    }
    try {
        m_lastReading = FetchSensorReading();
    } catch (const istd::Exception&) {
        m_lastReading = SensorReading(now);
    }
    return m_lastReading;
}

SensorLimit_e Sensor::ReadingLimit(const SensorReading& reading) const
{
    ISTD_TRACE_FNC("bmc::SensorLimit_e bmc::Sensor::ReadingLimit(const bmc::SensorReading&) const");
    if (!reading.IsValid()) {
        return eLimitNa;
    }
    if (GetType() == eSensorTypeDiscrete) {
        return eLimitOk;
    }
    // Plain comparisons: a value on a limit is inside it, and NaN never matches.
    const double v = reading.Converted();
    if (LowNonRecover().Converted() > v) {
        return eLimitLnr;
    }
    if (LowCritical().Converted() > v) {
        return eLimitLc;
    }
    if (LowNonCritical().Converted() > v) {
        return eLimitLnc;
    }
    if (v > HighNonRecover().Converted()) {
        return eLimitHnr;
    }
    if (v > HighCritical().Converted()) {
        return eLimitHc;
    }
    if (v > HighNonCritical().Converted()) {
        return eLimitHnc;
    }
    return eLimitOk;
}

Connection& Sensor::GetConnection() const
{
    Connection* connection = m_board.GetConnection();
    if (connection == nullptr) {
        throw istd::Exception("bmc: board has no connection", true);
    }
    return *connection;
}

Board& Sensor::GetBoard() const
{
    return m_board;
}

std::ostream& operator<<(std::ostream& os, const Sensor& sensor)
{
    ISTD_TRACE_FNC("std::ostream& bmc::operator<<(std::ostream&, const bmc::Sensor&)");
    const SensorReading highNonCritical = sensor.HighNonCritical();
    const SensorReading highCritical = sensor.HighCritical();
    const SensorReading highNonRecover = sensor.HighNonRecover();
    const SensorReading lowCritical = sensor.LowCritical();
    const SensorReading lowNonCritical = sensor.LowNonCritical();
    const SensorReading nominal = sensor.Nominal();
    const std::string& units = sensor.GetUnits();
    const SensorType_e type = sensor.GetType();
    const std::string& name = sensor.GetName();
    const SensorId& id = sensor.GetId();

    // Built aside in the caller's number format, so that a type without a name writes nothing.
    std::ostringstream text;
    text.flags(os.flags());
    text.precision(os.precision());
    text.imbue(os.getloc());
    text << std::right;
    text << std::setw(2) << id.Value() << ", " << std::setw(26) << name << ", " << std::setw(12)
         << istd::EnumName(type) << " [" << std::setw(12) << units << "], " << std::setw(7)
         << nominal.Converted() << ", " << std::setw(7) << lowNonCritical.Converted() << ", " << std::setw(7)
         << lowCritical.Converted() << ", " << std::setw(7) << highNonRecover.Converted() << ", "
         << std::setw(7) << highCritical.Converted() << ", " << std::setw(7) << highNonCritical.Converted()
         << " ";
    const std::string out = text.str();
    return os.write(out.data(), static_cast<std::streamsize>(out.size()));
}

} // namespace bmc
