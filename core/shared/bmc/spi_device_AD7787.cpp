#include "bmc/spi_device_AD7787.h"

#include <cmath>

#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

namespace {

constexpr uint64_t c_writeMode = 0x10;
constexpr uint64_t c_writeFilter = 0x20;
constexpr uint64_t c_readStatus = 0x08;
constexpr uint64_t c_readData = 0x38;

constexpr uint8_t c_notReady = 0x80;
constexpr uint8_t c_errorBits = 0x43;

} // namespace

AD7787::AD7787(BusController& controller, const std::string& name, BusDeviceId id, double vref)
    : SpiDevice(controller, name, id), m_vref(vref)
{
    ISTD_TRACE_FNC("bmc::AD7787::AD7787(bmc::BusController&, const std::string&, bmc::BusDeviceId, double)");
    SetBusParam<SpiBusParams>(*this, false, 8, true, false, true, true, 3000);
    SetModeReg(6);
    SetFilterReg(4);
}

AD7787::~AD7787() = default;

void AD7787::SetModeReg(uint8_t mode)
{
    const uint64_t words[2] = {c_writeMode, mode};
    Write(0, words, 2);
}

void AD7787::SetFilterReg(uint8_t filter)
{
    const uint64_t words[2] = {c_writeFilter, filter};
    Write(0, words, 2);
}

uint8_t AD7787::GetStatusReg()
{
    uint64_t status = 0;
    Transfer(0, &c_readStatus, 1, &status, 1);
    return static_cast<uint8_t>(status);
}

uint32_t AD7787::GetDataReg()
{
    uint64_t words[3] = {};
    Transfer(0, &c_readData, 1, words, 3);
    return static_cast<uint32_t>(words[0] << 16 | words[1] << 8 | words[2]);
}

bool AD7787::GetRawData(uint32_t& raw, bool& error)
{
    uint8_t status = GetStatusReg();
    for (uint32_t readings = 1; (status & c_notReady) != 0; ++readings) {
        if (readings == c_statusReadings) {
            ISTD_TRACE(1, "AD7787 " << m_name << ": no conversion ready");
            return false;
        }
        BusSleep(1000);
        status = GetStatusReg();
    }
    error = (status & c_errorBits) != 0;
    raw = GetDataReg();
    return true;
}

bool AD7787::GetVoltage(float& volts, bool& error)
{
    uint32_t raw = 0;
    if (!GetRawData(raw, error)) {
        return false;
    }
    volts = static_cast<float>(static_cast<double>(raw) * m_vref / 16777216.0);
    return true;
}

bool AD7787::GetTemperature(float& degrees, bool& error)
{
    float v = 0.0f;
    GetVoltage(v, error); // the first conversion settles the input; the second decides
    if (!GetVoltage(v, error)) {
        error = true;
        return false;
    }
    if (error) {
        return true;
    }
    const double r = 4700.0 * v / (3.3 - v);
    const double root = 1.527480889e-5 + 2.31e-6 * (1.0 - r / 1000.0);
    if (!(v < 3.3) || !(r >= 0.0) || !(root >= 0.0)) {
        ISTD_TRACE(1, "AD7787 " << m_name << ": " << v << " V is outside the thermometer's range");
        error = true;
        return true;
    }
    const double t = (std::sqrt(root) - 0.0039083) / (-1.155e-6);
    degrees = static_cast<float>(t);
    return true;
}

} // namespace bmc
