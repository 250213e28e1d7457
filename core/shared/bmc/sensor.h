#ifndef BMC_SENSOR_H
#define BMC_SENSOR_H

// The base of every sensor kind. It keeps the last reading so that a sensor is not polled more
// often than its minimum reading interval, classifies readings against its thresholds and
// fetches new readings through its board's connection (command 3, ReadSensor).

#include <mutex>
#include <ostream>
#include <string>

#include "bmc/bmc_export.h"
#include "istd/time.h"
#include "bmc/sensor_reading.h"
#include "bmc/types.h"

namespace bmc {

class Board;
class Connection;

class BMC_API Sensor {
public:
    Sensor(Board& board, const SensorId& id);
    Sensor(const Sensor&) = delete;
    Sensor& operator=(const Sensor&) = delete;

    virtual const SensorId& GetId() const;
    virtual SensorType_e GetType() const = 0;
    virtual const std::string& GetName() const = 0;
    virtual const std::string& GetUnits() const = 0;

    // Thresholds. The base has none: each gives an invalid reading stamped now.
    virtual SensorReading Nominal() const;
    virtual SensorReading LowNonCritical() const;
    virtual SensorReading LowCritical() const;
    virtual SensorReading LowNonRecover() const;
    virtual SensorReading HighNonCritical() const;
    virtual SensorReading HighCritical() const;
    virtual SensorReading HighNonRecover() const;

    // A new reading, uncached; every exception passes on.
    virtual SensorReading FetchSensorReading() const;
    // The base returns the reading unchanged.
    virtual SensorReading Transform(const SensorReading& reading) const;
    // How old a cached reading may be; the base gives the process-wide interval.
    virtual istd::Time MinReadInterval() const;

    virtual ~Sensor();

    // The last reading while it is not older than MinReadInterval, else a new one. A fetch that
    // throws istd::Exception is cached as an invalid reading stamped with the time of the call.
    SensorReading Read() const;

    // The threshold band of a reading; limits are fetched afresh for each call.
    SensorLimit_e ReadingLimit(const SensorReading& reading) const;

    // The interval of every sensor that keeps the base's MinReadInterval (10 s at start).
    static void SetReadingInterval(const istd::Time& interval);

protected:
    // The owning board's connection; "bmc: board has no connection" when it has none.
    Connection& GetConnection() const;
    Board& GetBoard() const;

    // Filled by the kinds that use them, also from const operations that load a record.
    mutable std::string m_name;
    mutable std::string m_units;

private:
    const SensorId m_id;
    Board& m_board;
    mutable SensorReading m_lastReading;
    mutable std::mutex m_lastReadingMutex;
};

// Id, name, type, units and the limits in fixed widths, without a line end. Every operation is
// called first, so nothing is written when one of them throws.
BMC_API std::ostream& operator<<(std::ostream& os, const Sensor& sensor);

} // namespace bmc

#endif
