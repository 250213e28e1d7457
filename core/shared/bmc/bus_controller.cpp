#include "bmc/bus_controller.h"

#include <chrono>
#include <vector>

#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

BusController::BusController(const std::string& name, uint32_t maxDevices, bool dummyWrite)
    : m_name(name), m_max_devices(maxDevices), m_dummy_write(dummyWrite)
{
}

BusController::~BusController()
{
    ISTD_TRACE_FNC("virtual bmc::BusController::~BusController()");
    try {
        Shutdown();
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "Bus controller " << m_name << ": device shutdown failed: " << e.what());
    }
}

void BusController::AddDevice(BusDevicePtr device)
{
    ISTD_TRACE_FNC("void bmc::BusController::AddDevice(bmc::BusDevicePtr)");
    if (!device) {
        throw istd::Exception("bus controller '" + m_name + "': no device to add.", true);
    }
    std::function<void(BusDevice&)> onAdd;
    {
        // The list itself is guarded (a read of it may run on another thread), the hooks below
        // are not: a callback that takes a node lock must never wait inside the bus mutex, which
        // nests inside node locks.
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_devices.size() >= m_max_devices) {
            throw istd::Exception("bus controller '" + m_name + "' supports only " + std::to_string(m_max_devices) +
                                      " device(s) on the same bus.",
                                  true);
        }
        const auto found = m_devices.find(device->GetId());
        if (found != m_devices.end()) {
            throw istd::Exception("bus controller '" + m_name + "' already controls device '" +
                                      found->second->GetName() + "' with the same id as specified '" +
                                      device->GetName() + "' device.",
                                  true);
        }
        m_devices.emplace(device->GetId(), device);
        onAdd = m_on_add_device;
    }
    OnAddDevice(*device);
    if (onAdd) {
        onAdd(*device);
    }
}

size_t BusController::GetDeviceCount() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_devices.size();
}

uint32_t BusController::ForEachDevice(const ForEachDeviceFnc& fnc, size_t first, size_t count, void* arg)
{
    ISTD_TRACE_FNC("uint32_t bmc::BusController::ForEachDevice(const bmc::ForEachDeviceFnc&, size_t, size_t, void*)");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (first >= m_devices.size()) {
        return 0;
    }
    auto it = m_devices.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(first));
    uint32_t calls = 0;
    for (; it != m_devices.end() && calls < count; ++it) {
        const BusDevicePtr device = it->second;
        fnc(*device, calls, arg);
        ++calls;
    }
    return calls;
}

void BusController::_AfterWord(bool polling)
{
    if (polling) {
        WaitUntilDone(true); // the controllers check what matters to them in their word operations
    } else {
        BusSleep(1);
    }
}

void BusController::Transfer(const BusDevice& device, uint8_t reg, const uint64_t* writeData, uint32_t writeCount,
                             uint64_t* readData, uint32_t readCount)
{
    ISTD_TRACE_FNC("void bmc::BusController::Transfer(const bmc::BusDevice&, uint8_t, const uint64_t*, uint32_t, "
                   "uint64_t*, uint32_t)");
    ISTD_TRACE(4, "Locking bus controller for transfer: " << m_name);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // A word operation that throws leaves the position of its word behind; the next transfer
    // sets its own, and words outside a transfer count as single ones.
    struct PositionReset {
        BusController& c;
        ~PositionReset()
        {
            c.m_word_index = 0;
            c.m_word_count = 1;
        }
    } reset{*this};

    WaitForIdle();
    AdjustBusParams(device);
    SelectDevice(device, eDevSelectWrite);
    const bool polling = device.m_params && device.m_params->m_polling;
    if (writeCount > 0) {
        ISTD_TRACE(4, "BusController::Write to " << device.GetName());
        m_word_count = writeCount;
        for (uint32_t i = 0; i < writeCount; ++i) {
            m_word_index = i;
            Write(reg, writeData[i]);
            _AfterWord(polling);
        }
    }
    if (ToggleChipSelect()) {
        SelectDevice(device, eDevRelease);
        SelectDevice(device, eDevSelectRead);
    }
    if (readCount > 0) {
        ISTD_TRACE(4, "BusController::Read from " << device.GetName());
        m_word_count = readCount;
        for (uint32_t i = 0; i < readCount; ++i) {
            m_word_index = i;
            if (m_dummy_write) {
                Write(reg, device.m_params ? device.m_params->m_read_frame : 0);
                _AfterWord(polling);
            }
            uint64_t word = 0;
            Read(reg, word);
            readData[i] = word;
        }
    }
    m_word_index = 0;
    m_word_count = 1;
    SelectDevice(device, eDevRelease);
}

void BusController::Read(const BusDevice& device, uint8_t reg, uint64_t* data, uint32_t count)
{
    Transfer(device, reg, nullptr, 0, data, count);
}

void BusController::Write(const BusDevice& device, uint8_t reg, const uint64_t* data, uint32_t count)
{
    Transfer(device, reg, data, count, nullptr, 0);
}

bool BusController::SetOutput(uint32_t value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return OnSetOutput(value);
}

bool BusController::GetOutput(uint32_t& value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return OnGetOutput(value);
}

void BusController::Shutdown()
{
    ISTD_TRACE_FNC("void bmc::BusController::Shutdown()");
    // The devices are shut down outside the mutex: their state callbacks must not run inside it.
    // The hooks of a shutdown do no bus traffic, and a transfer they made would lock by itself.
    std::vector<BusDevicePtr> devices;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        devices.reserve(m_devices.size());
        for (const auto& entry : m_devices) {
            devices.push_back(entry.second);
        }
    }
    for (const BusDevicePtr& device : devices) {
        device->Shutdown();
    }
}

uint32_t BusController::CalcPrescaleFactor(uint32_t freq_khz) const
{
    uint32_t prescale = 0;
    if (freq_khz != 0) {
        // The divisor in 64 bits: twice a clock above 2^31 kHz must not wrap to a small one.
        prescale = static_cast<uint32_t>(m_prescaler_factor / (2 * static_cast<uint64_t>(freq_khz)) - 1);
    }
    ISTD_TRACE(4, " CalcPrescaler prescaler: " << prescale << " a_freq_khz: " << freq_khz
                                               << " m_prescaler_factor: " << m_prescaler_factor);
    return prescale;
}

uint32_t BusController::GetIdleTimeout() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_idle_timeout_ms;
}

void BusController::SetIdleTimeout(uint32_t ms)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_idle_timeout_ms = ms;
}

void BusController::SetOnAddDevice(std::function<void(BusDevice&)> callback)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_on_add_device = std::move(callback);
}

void BusController::OnAddDevice(const BusDevice&)
{
}

bool BusController::OnSetOutput(uint32_t)
{
    return false;
}

bool BusController::OnGetOutput(uint32_t&)
{
    return false;
}

bool BusController::WaitUntilDone(bool checkAck)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        BusSleep(100);
        if (IsIdle() && (!checkAck || IsAcknowledged())) {
            return true;
        }
    }
    ISTD_TRACE(1, "BusController::WaitUntilDone: Failed to wait for idle or ack state");
    return false;
}

void BusController::WaitForIdle()
{
    if (IsIdle()) {
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (IsIdle()) {
            return;
        }
        BusSleep(1000);
        const uint32_t timeout = m_idle_timeout_ms;
        if (timeout == 0) {
            continue;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > static_cast<int64_t>(timeout)) {
            if (IsIdle()) {
                return;
            }
            throw istd::Exception("Timeout " + std::to_string(timeout) + " ms expired", true);
        }
    }
}

void BusController::AdjustBusParams(const BusDevice& device)
{
    const BusParamsPtr& params = device.m_params;
    if (m_last_device_id == device.GetId() && params && params == m_last_params && !params->m_changed) {
        return;
    }
    // A refusal may leave the core half programmed: then no device counts as applied, so the
    // next transfer programs its own parameters whichever device it serves.
    m_last_device_id = 0xFF;
    m_last_params.reset();
    SetBusParams(params);
    m_last_device_id = device.GetId();
    m_last_params = params;
}

void ThrowNoController(const std::string& name)
{
    throw istd::Exception("bmc: no bus controller for device '" + name + "'", true);
}

BusControllerLocker::BusControllerLocker(BusController& controller)
    : m_controller(controller), m_lock(controller.m_mutex)
{
    ISTD_TRACE(4, "BusControllerLocker locks:" << m_controller.GetName());
}

BusControllerLocker::~BusControllerLocker()
{
    ISTD_TRACE(4, "BusControllerLocker unlocks:" << m_controller.GetName());
}

} // namespace bmc
