#include "bmc/fpga_sensor.h"

#include <cmath>
#include <map>
#include <mutex>
#include <typeinfo>
#include <utility>

#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/bus_sleep.h"
#include "bmc/clock.h"
#include "bmc/spi_device_AD7787.h"
#include "bmc/spi_device_ADT7301.h"

namespace bmc {

const SDRfpga c_zekDevSdr[8] = {
    {"TS1", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"TS2", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"TS3", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"TS4", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"PT1", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"PT2", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"PT3", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
    {"PT4", "degrees C", eSensorTypeTemperature, 15.0, 70.0, 80.0},
};

namespace {

// The settling time of the thermometer's input after the multiplexer switched.
constexpr uint32_t c_muxSettleUs = 10000;

template <class CHIP>
CHIP& _Chip(const std::shared_ptr<BusDevice>& device)
{
    if (!device) {
        throw std::bad_cast();
    }
    return dynamic_cast<CHIP&>(*device);
}

// One lock per multiplexer register, shared by every sensor (and every copy of a multiplexer)
// over that register. Entries are never removed: a register address is a handful of bytes, and a
// mutex still in use must not go.
std::mutex& _MuxLock(const AnalogMux& mux)
{
    static std::mutex tableLock;
    static std::map<const volatile void*, std::unique_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> lock(tableLock);
    std::unique_ptr<std::mutex>& entry = locks[mux.GetRegister()];
    if (!entry) {
        entry = std::make_unique<std::mutex>();
    }
    return *entry;
}

} // namespace

FpgaSensor::FpgaSensor(Board& board, const SensorId& id, const SDRfpga& record, std::shared_ptr<BusDevice> device)
    : Sensor(board, id), m_device(std::move(device)), m_fullName(board.GetUri().GetId() + "-" + record.name),
      m_unitsText(record.units), m_type(record.type), m_lowNonCritical(record.lowNonCritical),
      m_highNonCritical(record.highNonCritical), m_highCritical(record.highCritical)
{
}

FpgaSensor::~FpgaSensor() = default;

namespace {

SensorReading _Limit(SensorType_e type, double limit)
{
    if (std::isnan(limit)) {
        return SensorReading(Clock::Now(3));
    }
    return SensorReading(type, 0, limit, Clock::Now(3));
}

} // namespace

SensorReading FpgaSensor::LowNonCritical() const
{
    return _Limit(m_type, m_lowNonCritical);
}

SensorReading FpgaSensor::HighNonCritical() const
{
    return _Limit(m_type, m_highNonCritical);
}

SensorReading FpgaSensor::HighCritical() const
{
    return _Limit(m_type, m_highCritical);
}

SensorReading FpgaSensor::_Reading(float celsius, bool error) const
{
    if (error) {
        return SensorReading(Clock::Now(3));
    }
    return SensorReading(m_type, 0, static_cast<double>(celsius), Clock::Now(3));
}

FpgaSensorADT7301::FpgaSensorADT7301(Board& board, const SensorId& id, SDRfpga record,
                                     std::shared_ptr<BusDevice> device)
    : FpgaSensor(board, id, record, std::move(device)), m_chip(_Chip<ADT7301>(m_device))
{
}

FpgaSensorADT7301::~FpgaSensorADT7301() = default;

SensorReading FpgaSensorADT7301::FetchSensorReading() const
{
    float celsius = 0.0f;
    bool error = true;
    m_chip.GetTemperature(celsius, error);
    return _Reading(celsius, error);
}

FpgaSensorAD7787Mux::FpgaSensorAD7787Mux(Board& board, const SensorId& id, SDRfpga record,
                                         std::shared_ptr<BusDevice> device, AnalogMux mux, unsigned int input)
    : FpgaSensor(board, id, record, std::move(device)), m_chip(_Chip<AD7787>(m_device)), m_mux(std::move(mux)),
      m_input(input)
{
}

FpgaSensorAD7787Mux::~FpgaSensorAD7787Mux() = default;

SensorReading FpgaSensorAD7787Mux::FetchSensorReading() const
{
    std::lock_guard<std::mutex> lock(_MuxLock(m_mux));
    if (m_mux.GetInput() != m_input) {
        BusSleep(c_muxSettleUs);
        m_mux.SetInput(m_input);
    }
    float celsius = 0.0f;
    // Preset: a conversion that times out leaves the flag as it was.
    bool error = true;
    m_chip.GetTemperature(celsius, error);
    return _Reading(celsius, error);
}

} // namespace bmc
