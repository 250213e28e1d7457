#include "bmc/i2c_device_PCA9532.h"

#include <algorithm>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"

namespace bmc {

namespace {

constexpr size_t c_pinsPerRegister = 4;

// The end of the range, after the refusal of a start beyond the last output.
size_t _RangeEnd(size_t start, size_t count)
{
    if (start >= PCA9532::c_num_of_pins) {
        throw istd::Exception("Start index is out of range", true);
    }
    return start + std::min(count, PCA9532::c_num_of_pins - start);
}

uint8_t _Register(size_t pin)
{
    return static_cast<uint8_t>(PCA9532::eLedSelect0 + pin / c_pinsPerRegister);
}

unsigned _Shift(size_t pin)
{
    return static_cast<unsigned>(2 * (pin % c_pinsPerRegister));
}

} // namespace

PCA9532::PCA9532(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::PCA9532::PCA9532(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, address, bus, 100);
}

PCA9532::~PCA9532()
{
    ISTD_TRACE_FNC("virtual bmc::PCA9532::~PCA9532()");
}

bool PCA9532::SetModes(tRegister r, tMode a, tMode b, tMode c, tMode d)
{
    Set(static_cast<uint8_t>(r), static_cast<uint8_t>((a & 3) << 6 | (b & 3) << 4 | (c & 3) << 2 | (d & 3)));
    return true;
}

bool PCA9532::GetModes(tRegister r, tMode& a, tMode& b, tMode& c, tMode& d) const
{
    const uint8_t value = Get(static_cast<uint8_t>(r));
    a = static_cast<tMode>(value >> 6 & 3);
    b = static_cast<tMode>(value >> 4 & 3);
    c = static_cast<tMode>(value >> 2 & 3);
    d = static_cast<tMode>(value & 3);
    return true;
}

size_t PCA9532::GetOperationModes(tMode* modes, size_t start, size_t count) const
{
    ISTD_TRACE_FNC("size_t bmc::PCA9532::GetOperationModes(bmc::PCA9532::tMode*, size_t, size_t) const");
    const size_t end = _RangeEnd(start, count);
    uint8_t value = 0;
    for (size_t pin = start; pin < end; ++pin) {
        if (pin == start || pin % c_pinsPerRegister == 0) {
            value = Get(_Register(pin));
        }
        modes[pin - start] = static_cast<tMode>(value >> _Shift(pin) & 3);
    }
    return end - start;
}

bool PCA9532::SetOperationModes(const tMode* modes, size_t start, size_t count)
{
    ISTD_TRACE_FNC("bool bmc::PCA9532::SetOperationModes(const bmc::PCA9532::tMode*, size_t, size_t)");
    const size_t end = _RangeEnd(start, count);
    BusControllerLocker lock(m_controller);
    size_t pin = start;
    while (pin < end) {
        const uint8_t reg = _Register(pin);
        uint8_t value = Get(reg);
        for (; pin < end && _Register(pin) == reg; ++pin) {
            const unsigned shift = _Shift(pin);
            value = static_cast<uint8_t>((value & ~(3u << shift)) | (modes[pin - start] & 3u) << shift);
        }
        Set(reg, value);
    }
    return end > start;
}

} // namespace bmc
