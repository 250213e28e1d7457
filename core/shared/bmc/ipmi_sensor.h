#ifndef BMC_IPMI_SENSOR_H
#define BMC_IPMI_SENSOR_H

// The sensor of every board reached over IPMI: name, units, type, thresholds and the conversion
// of raw readings all come from the sensor's data record (SDR), which is read once, on first
// need, through the board's connection (command 1, ReadSDR) and kept.
//
// Units, the conversion and thresholds belong to the full sensor record (type 0x01); a sensor
// with another kind of record (a controller device locator, 0x12) has empty units, no
// thresholds (invalid readings) and unconverted readings.
//
// A record read that fails leaves the sensor without a record: the failure goes to the caller
// (inside Sensor::Read it becomes an invalid reading) and the next call that needs the record
// reads it again. Nothing of a record that was not read is ever used.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/ipmi_connection.h"
#include "bmc/sensor.h"

namespace bmc {

class BMC_API IpmiSensor : public Sensor {
public:
    // Reads nothing: the record is loaded by the first operation that needs it.
    IpmiSensor(Board& board, const SensorId& id);
    ~IpmiSensor() override;

    // Each of these loads the record first; a failed load throws.
    SensorType_e GetType() const override;
    // The board's URI id, "-", then the record's ID string, or the sensor id when the record
    // has none ("3-TEMP1", "3-7").
    const std::string& GetName() const override;
    // The base unit's name, then "/" or " * " and the modifier unit's name as the record's
    // modifier usage says ("Volts/second"). A unit code without a name gives an empty text.
    const std::string& GetUnits() const override;
    // The full record's raw thresholds, converted: valid readings whether or not the record
    // marks them readable.
    SensorReading Nominal() const override;
    SensorReading LowNonCritical() const override;
    SensorReading LowCritical() const override;
    SensorReading LowNonRecover() const override;
    SensorReading HighNonCritical() const override;
    SensorReading HighCritical() const override;
    SensorReading HighNonRecover() const override;
    // A valid reading converted from the low 8 bits of the raw value, or, for a discrete
    // sensor, the reading "discrete value"; both keep the argument's timestamp. Valid whatever
    // the argument's flag.
    SensorReading Transform(const SensorReading& reading) const override;

    // Loads the record unless it is loaded; true once loaded, a failed read throws.
    bool UpdateSDR() const;
    // The record's type byte (0x01 full sensor record, 0x12 controller device locator); loads
    // the record first.
    uint8_t GetRecordType() const;
    // Puts the record in place of the one the sensor holds (or would load): from now on the
    // sensor converts and classifies with it and reads none itself; name and units stay as they
    // are. For the test connection's conversion test: the caller must not use the sensor from
    // another thread meanwhile.
    void SetRecord(const sensor_record& record);

private:
    SensorReading _Threshold(size_t byte) const;

    // Set once, after a successful read, and never changed again but by SetRecord; guarded by
    // m_recordMutex until then.
    mutable std::unique_ptr<const sensor_record> m_record;
    mutable std::mutex m_recordMutex;
};

// The IPMI linear conversion of a raw reading with the record's constants:
// y = L[(M * x + B * 10^K1) * 10^K2], x read by the record's analog data format (unsigned,
// one's or two's complement); 0.0 for a record without analog readings (format 3).
BMC_API double Convert(const sensor_record* record, unsigned char raw);

// The text of an IPMI unit code; empty for a code without one (91 and above).
BMC_API std::string UnitName(unsigned int code);

} // namespace bmc

#endif
