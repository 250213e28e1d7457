#ifndef BMC_FPGA_SENSOR_H
#define BMC_FPGA_SENSOR_H

// Temperature sensors that the computer reads itself through an SPI core of the board's FPGA:
// ADT7301 digital sensors, and platinum thermometers read by an AD7787 behind an analog
// multiplexer. The board makes them from a static description (c_zekDevSdr) with
// Board::AddFpgaSensors; each takes its name, units, type and limits from its record and is
// named "<board URI id>-<record name>" (5-TS1).
//
// Sensors behind one multiplexer share it: each switch and the conversion after it run under one
// lock per multiplexer register, so a sensor never reads another's input.

#include <memory>
#include <string>

#include "bmc/analog_mux.h"
#include "bmc/bmc_export.h"
#include "bmc/sensor.h"

namespace bmc {

class AD7787;
class ADT7301;
class BusDevice;

// The description of one FPGA sensor; a NaN limit means the sensor has none.
struct BMC_API SDRfpga {
    std::string name;
    std::string units;
    SensorType_e type;
    double lowNonCritical;
    double highNonCritical;
    double highCritical;
};

// The ZEK board's eight sensors: "TS1" to "TS4" (the four ADT7301) and "PT1" to "PT4" (the
// AD7787's multiplexer inputs 0 to 3), all "degrees C", Temperature, limits 15, 70 and 80.
extern BMC_API const SDRfpga c_zekDevSdr[8];

// What both kinds share: the record's name, units, type and limits.
class BMC_API FpgaSensor : public Sensor {
public:
    SensorType_e GetType() const override { return m_type; }
    const std::string& GetName() const override { return m_fullName; }
    const std::string& GetUnits() const override { return m_unitsText; }
    // A NaN limit gives an invalid reading.
    SensorReading LowNonCritical() const override;
    SensorReading HighNonCritical() const override;
    SensorReading HighCritical() const override;

protected:
    FpgaSensor(Board& board, const SensorId& id, const SDRfpga& record, std::shared_ptr<BusDevice> device);
    ~FpgaSensor() override;

    // A reading of the temperature, invalid when error is set.
    SensorReading _Reading(float celsius, bool error) const;

    const std::shared_ptr<BusDevice> m_device; // keeps the driver alive

private:
    const std::string m_fullName;
    const std::string m_unitsText;
    const SensorType_e m_type;
    const double m_lowNonCritical;
    const double m_highNonCritical;
    const double m_highCritical;
};

class BMC_API FpgaSensorADT7301 : public FpgaSensor {
public:
    // The device must be an ADT7301 (std::bad_cast otherwise, also for an empty pointer).
    FpgaSensorADT7301(Board& board, const SensorId& id, SDRfpga record, std::shared_ptr<BusDevice> device);
    ~FpgaSensorADT7301() override;

    // The chip's temperature; invalid when the chip reports an error.
    SensorReading FetchSensorReading() const override;

private:
    ADT7301& m_chip;
};

class BMC_API FpgaSensorAD7787Mux : public FpgaSensor {
public:
    // The device must be an AD7787 (std::bad_cast otherwise, also for an empty pointer); input is
    // the multiplexer input of this sensor's thermometer.
    FpgaSensorAD7787Mux(Board& board, const SensorId& id, SDRfpga record, std::shared_ptr<BusDevice> device,
                        AnalogMux mux, unsigned int input);
    ~FpgaSensorAD7787Mux() override;

    // Under the multiplexer's lock: when another input is selected, waits 10 ms and selects this
    // sensor's input; then converts. Invalid when the conversion fails or reports an error.
    SensorReading FetchSensorReading() const override;

    unsigned int GetInput() const { return m_input; }

private:
    AD7787& m_chip;
    const AnalogMux m_mux;
    const unsigned int m_input;
};

} // namespace bmc

#endif
