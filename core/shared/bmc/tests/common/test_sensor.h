#ifndef BMC_TESTS_TEST_SENSOR_H
#define BMC_TESTS_TEST_SENSOR_H

// A sensor kind for tests: settable type, name, units and thresholds (NaN: none); it reads
// through the base's FetchSensorReading and converts at half a degree per raw step.

#include <cmath>
#include <limits>

#include "bmc/clock.h"
#include "bmc/sensor.h"

namespace bmctest {

struct Thresholds {
    double nominal = std::numeric_limits<double>::quiet_NaN();
    double lowNonRecover = std::numeric_limits<double>::quiet_NaN();
    double lowCritical = std::numeric_limits<double>::quiet_NaN();
    double lowNonCritical = std::numeric_limits<double>::quiet_NaN();
    double highNonCritical = std::numeric_limits<double>::quiet_NaN();
    double highCritical = std::numeric_limits<double>::quiet_NaN();
    double highNonRecover = std::numeric_limits<double>::quiet_NaN();
};

class TestSensor : public bmc::Sensor {
public:
    TestSensor(bmc::Board& board, const bmc::SensorId& id, bmc::SensorType_e type = bmc::eSensorTypeTemperature,
               Thresholds thresholds = {})
        : bmc::Sensor(board, id), m_type(type), m_thresholds(thresholds)
    {
        m_name = "TS1";
        m_units = "degrees C";
    }

    bmc::SensorType_e GetType() const override { return m_type; }
    const std::string& GetName() const override { return m_name; }
    const std::string& GetUnits() const override { return m_units; }

    bmc::SensorReading Nominal() const override
    {
        return std::isnan(m_thresholds.nominal) ? Sensor::Nominal() : _Limit(m_thresholds.nominal);
    }
    bmc::SensorReading LowNonRecover() const override
    {
        return std::isnan(m_thresholds.lowNonRecover) ? Sensor::LowNonRecover() : _Limit(m_thresholds.lowNonRecover);
    }
    bmc::SensorReading LowCritical() const override
    {
        return std::isnan(m_thresholds.lowCritical) ? Sensor::LowCritical() : _Limit(m_thresholds.lowCritical);
    }
    bmc::SensorReading LowNonCritical() const override
    {
        return std::isnan(m_thresholds.lowNonCritical) ? Sensor::LowNonCritical() : _Limit(m_thresholds.lowNonCritical);
    }
    bmc::SensorReading HighNonCritical() const override
    {
        return std::isnan(m_thresholds.highNonCritical) ? Sensor::HighNonCritical() : _Limit(m_thresholds.highNonCritical);
    }
    bmc::SensorReading HighCritical() const override
    {
        return std::isnan(m_thresholds.highCritical) ? Sensor::HighCritical() : _Limit(m_thresholds.highCritical);
    }
    bmc::SensorReading HighNonRecover() const override
    {
        return std::isnan(m_thresholds.highNonRecover) ? Sensor::HighNonRecover() : _Limit(m_thresholds.highNonRecover);
    }

    // Converts raw readings at half a degree per step.
    bmc::SensorReading Transform(const bmc::SensorReading& reading) const override
    {
        if (!reading.IsValid()) {
            return reading;
        }
        return bmc::SensorReading(reading.SensorType(), reading.Raw(), reading.Raw() * 0.5, reading.Timestamp());
    }

    // The base's connection access, for tests.
    bmc::Connection& Connection() const { return GetConnection(); }

private:
    bmc::SensorReading _Limit(double limit) const { return bmc::SensorReading(m_type, 0, limit, bmc::Clock::Now(3)); }

    bmc::SensorType_e m_type;
    Thresholds m_thresholds;
};

} // namespace bmctest

#endif
