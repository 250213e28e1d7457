#ifndef BMC_BUS_CONTROLLER_H
#define BMC_BUS_CONTROLLER_H

// A bus on an FPGA master core and the chips on it.
//
// A board component makes the controller, chip drivers register on it, and every access of a
// driver is one transfer that the controller runs in a fixed order under its recursive mutex:
//
//     bmc::BusControllerPtr i2c = bmc::Create<bmc::I2cBusControllerFpgaAmba>("i2c", 8, registers);
//     bmc::BusDevicePtr chip = bmc::Create<MyChip>(i2c, "osc", 0, 0x55, 1);
//
// Transfer(device, register, words to write, words to read):
//   wait until the core is idle (WaitForIdle); program the device's parameters when another
//   device was served last, when the device's parameter object is not the one applied last, or
//   when its m_changed is set (AdjustBusParams -> SetBusParams); select the device for writing;
//   each word: Write, then the polling wait (m_polling) or a 1 µs pause; when ToggleChipSelect
//   says so, release and select for reading; each word to read: (with the dummy-write flag the
//   parameters' m_read_frame, normally 0, written and waited for, as above), then Read; finally
//   release the device.
// A word operation that fails throws; the exception leaves the transfer with the mutex released
// and without the final release (the next selection starts the bus afresh).
//
// A driver that needs several transfers to stay together holds a BusControllerLocker; such
// sequences nest, and transfers inside them take the same mutex again.
//
// The destructor shuts every device down (in ascending id order) from this base class, after the
// concrete controller's own parts are gone: a driver's disable and shutdown hooks must not use the
// bus.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "bmc/bmc_export.h"
#include "bmc/bus_device.h"
#include "bmc/bus_params.h"
#include "bmc/bus_sleep.h"

namespace bmc {

// Called for each visited device with a running index from 0 and the caller's argument.
using ForEachDeviceFnc = std::function<void(BusDevice&, uint32_t, void*)>;

class BMC_API BusController : public std::enable_shared_from_this<BusController> {
public:
    // maxDevices bounds the device list; the I2C and SPI controllers also refuse to select an id
    // that is not below it. With dummyWrite every read word is preceded by the device's read frame
    // (BusParams::m_read_frame, normally 0) written to the same register.
    BusController(const std::string& name, uint32_t maxDevices, bool dummyWrite);
    virtual ~BusController();
    BusController(const BusController&) = delete;
    BusController& operator=(const BusController&) = delete;

    // Registers the device under its id (under the mutex), then calls OnAddDevice and the
    // add-device callback with no bus lock held. Throws istd::Exception when the list is full
    // ("bus controller '<name>' supports only <n> device(s) on the same bus.") or the id is taken
    // ("bus controller '<name>' already controls device '<old>' with the same id as specified
    // '<new>' device.").
    void AddDevice(BusDevicePtr device);
    size_t GetDeviceCount() const;
    // Under the mutex: skips the first `first` devices in ascending id order, then calls fnc for
    // at most `count` devices (holding a reference to each during the call); returns the number
    // of calls. An empty fnc throws std::bad_function_call when the first call is due.
    uint32_t ForEachDevice(const ForEachDeviceFnc& fnc, size_t first, size_t count, void* arg);

    // One whole transfer (see above); a transfer with no words still selects and releases.
    void Transfer(const BusDevice& device, uint8_t reg, const uint64_t* writeData, uint32_t writeCount,
                  uint64_t* readData, uint32_t readCount);
    void Read(const BusDevice& device, uint8_t reg, uint64_t* data, uint32_t count);
    void Write(const BusDevice& device, uint8_t reg, const uint64_t* data, uint32_t count);

    // The core's general-purpose output lines (their meaning is the board's); false when the core
    // has none or they cannot be reached.
    bool SetOutput(uint32_t value);
    bool GetOutput(uint32_t& value);

    // Shuts every device down in ascending id order (disable, then OnShutdown), the list taken
    // under the mutex and the devices shut down outside it, so that their state callbacks run
    // with no bus lock held.
    void Shutdown();

    // The prescaler of a bus clock: 0 for 0 kHz, else input clock / (2 × kHz) − 1 in unsigned
    // 32-bit arithmetic, so a clock above half the input clock gives 0xFFFFFFFF (the cores refuse
    // it). With the 125 MHz input clock: 100 kHz 624, 400 kHz 155, 1000 kHz 61, 62500 kHz 0.
    uint32_t CalcPrescaleFactor(uint32_t freq_khz) const;

    const std::string& GetName() const { return m_name; }
    uint32_t GetMaxDevices() const { return m_max_devices; }
    // The core's input clock in kHz.
    uint32_t GetPrescalerFactor() const { return m_prescaler_factor; }

    // The limit of the wait for an idle core before a transfer, in ms; 0 (the default) waits
    // without limit.
    uint32_t GetIdleTimeout() const;
    void SetIdleTimeout(uint32_t ms);

    // Called with each device that AddDevice registered, with no bus lock held; setting it drops
    // the previous one.
    void SetOnAddDevice(std::function<void(BusDevice&)> callback);

protected:
    virtual void OnAddDevice(const BusDevice& device);
    virtual bool OnSetOutput(uint32_t value);  // the base has no outputs: false
    virtual bool OnGetOutput(uint32_t& value); // the base has no outputs: false

    // The word operations of the concrete core, called only by Transfer and its waits, under
    // the mutex. Failures are thrown.
    virtual void Write(uint8_t reg, uint64_t value) = 0;
    virtual void Read(uint8_t reg, uint64_t& value) = 0;
    virtual void SetBusParams(const BusParamsPtr& params) = 0;
    virtual void SelectDevice(const BusDevice& device, tDevSelectMode_e mode) = 0;
    virtual bool IsIdle() = 0;
    virtual bool IsAcknowledged() = 0;
    virtual bool ToggleChipSelect() = 0;

    // Up to 1000 times: pause 100 µs, then true once the core is idle and (with checkAck)
    // acknowledged. False after the last try, traced at level 1; never throws.
    bool WaitUntilDone(bool checkAck);
    // Returns once the core is idle, polling every 1 ms; with a limit set, throws
    // "Timeout <n> ms expired" when the core is still busy past it.
    void WaitForIdle();
    // Programs the device's parameters unless they are the ones applied last and unchanged.
    void AdjustBusParams(const BusDevice& device);

    // Where the word that Write or Read is called for lies in its transfer: index and count of
    // the written words during the write phase, of the read words during the read phase; 0 of 1
    // outside a transfer. A core that sends several words as one message (I2C) frames it by them.
    uint32_t m_word_index = 0;
    uint32_t m_word_count = 1;

    const std::string m_name;
    const uint32_t m_max_devices;
    const uint32_t m_prescaler_factor = 125000;

private:
    friend class BusControllerLocker;
    friend class BusDevice; // its parameters are guarded by the mutex

    // The polling wait or the 1 µs pause after a written word.
    void _AfterWord(bool polling);

    mutable std::recursive_mutex m_mutex;
    std::map<BusDeviceId, BusDevicePtr> m_devices;
    BusDeviceId m_last_device_id = 0xFF; // none yet
    BusParamsPtr m_last_params;          // the parameter object applied last
    uint32_t m_idle_timeout_ms = 0;      // guarded by the mutex
    const bool m_dummy_write;
    std::function<void(BusDevice&)> m_on_add_device;
};

// Holds a controller's bus across several transfers of one thread; traced at level 4.
class BMC_API BusControllerLocker {
public:
    explicit BusControllerLocker(BusController& controller);
    virtual ~BusControllerLocker();
    BusControllerLocker(const BusControllerLocker&) = delete;
    BusControllerLocker& operator=(const BusControllerLocker&) = delete;

private:
    BusController& m_controller;
    std::unique_lock<std::recursive_mutex> m_lock;
};

// "bmc: no bus controller for device '<name>'".
[[noreturn]] BMC_API void ThrowNoController(const std::string& name);

// Makes a controller: CNTRL_TYPE(name, maxDevices, args...).
template <class CNTRL_TYPE, class... ARGS>
BusControllerPtr Create(const std::string& name, uint32_t maxDevices, ARGS&&... args)
{
    return std::make_shared<CNTRL_TYPE>(name, maxDevices, std::forward<ARGS>(args)...);
}

// Makes a chip driver DEV_TYPE(*controller, name, id, args...) and registers it on the
// controller; when AddDevice refuses it, the driver is released and the exception passes on.
template <class DEV_TYPE, class... ARGS>
BusDevicePtr Create(const BusControllerPtr& controller, const std::string& name, BusDeviceId id, ARGS&&... args)
{
    if (!controller) {
        ThrowNoController(name);
    }
    BusDevicePtr device = std::make_shared<DEV_TYPE>(*controller, name, id, std::forward<ARGS>(args)...);
    controller->AddDevice(device);
    return device;
}

// Gives the device a new parameter set PARAMS(args...), dropping the one it had, and returns it.
// Chip drivers call it in their constructors, e.g.
//     bmc::SetBusParam<bmc::I2cBusParams>(*this, address, bus, 100);
//     bmc::SetBusParam<bmc::SpiBusParams>(*this, false, 8, false, false, false, false, 10000);
template <class PARAMS, class DEV, class... ARGS>
BusParamsPtr SetBusParam(DEV& device, ARGS... args)
{
    BusParamsPtr params = std::make_shared<PARAMS>(args...);
    device.SetParams(params);
    return params;
}

} // namespace bmc

#endif
