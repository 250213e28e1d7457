#include "bmc/bus_device.h"

#include <mutex>

#include "istd/trace.h"
#include "bmc/bus_controller.h"

namespace bmc {

BusDevice::BusDevice(BusController& controller, const std::string& name, BusDeviceId id)
    : m_controller(controller), m_name(name), m_id(id)
{
}

BusDevice::~BusDevice() = default;

void BusDevice::Enable()
{
    OnEnabled();
}

void BusDevice::Disable()
{
    OnDisabled();
}

void BusDevice::SetDeviceState(BusDeviceState_e state)
{
    ISTD_TRACE_FNC("void bmc::BusDevice::SetDeviceState(bmc::BusDeviceState_e)");
    Disable();
    if (state == eBusDeviceEnabled) {
        Enable();
    }
    m_state.store(state, std::memory_order_relaxed);
    if (m_on_state_change) {
        m_on_state_change(*this);
    }
}

void BusDevice::Shutdown()
{
    ISTD_TRACE_FNC("void bmc::BusDevice::Shutdown()");
    SetDeviceState(eBusDeviceDisabled);
    OnShutdown();
}

void BusDevice::Read(uint32_t reg, uint64_t* data, uint32_t count) const
{
    m_controller.Read(*this, static_cast<uint8_t>(reg), data, count);
}

void BusDevice::Read(uint32_t reg, uint64_t& data) const
{
    m_controller.Read(*this, static_cast<uint8_t>(reg), &data, 1);
}

void BusDevice::Write(uint32_t reg, const uint64_t* data, uint32_t count)
{
    m_controller.Write(*this, static_cast<uint8_t>(reg), data, count);
}

void BusDevice::Write(uint32_t reg, const uint64_t& data)
{
    m_controller.Write(*this, static_cast<uint8_t>(reg), &data, 1);
}

void BusDevice::Transfer(uint32_t reg, const uint64_t* writeData, uint32_t writeCount, uint64_t* readData,
                         uint32_t readCount) const
{
    m_controller.Transfer(*this, static_cast<uint8_t>(reg), writeData, writeCount, readData, readCount);
}

BusParamsPtr BusDevice::GetParams() const
{
    std::lock_guard<std::recursive_mutex> lock(m_controller.m_mutex);
    return m_params;
}

void BusDevice::SetParams(BusParamsPtr params)
{
    std::lock_guard<std::recursive_mutex> lock(m_controller.m_mutex);
    m_params = std::move(params);
}

void BusDevice::SetOnStateChange(std::function<void(BusDevice&)> callback)
{
    m_on_state_change = std::move(callback);
}

void BusDevice::OnDisabled()
{
}

void BusDevice::OnEnabled()
{
}

void BusDevice::OnShutdown()
{
}

} // namespace bmc
