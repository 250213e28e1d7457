#ifndef BMC_BUS_DEVICE_H
#define BMC_BUS_DEVICE_H

// One chip on a bus: the base of every chip driver. A driver reaches its chip only through Read,
// Write and Transfer on itself, which run a whole locked transfer on the controller
// (bmc/bus_controller.h). Devices start disabled; SetDeviceState(eBusDeviceEnabled) runs the
// driver's OnDisabled and then OnEnabled, which (re)programs the chip.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_params.h"

namespace bmc {

class BusController;
class BusDevice;

// The device's number on its bus, its key in the controller's device list.
using BusDeviceId = uint8_t;
using BusDevicePtr = std::shared_ptr<BusDevice>;
using BusControllerPtr = std::shared_ptr<BusController>;

enum BusDeviceState_e { eBusDeviceDisabled = 0, eBusDeviceEnabled = 1 };

enum tDevSelectMode_e { eDevSelectRead = 0, eDevSelectWrite = 1, eDevRelease = 2 };

class BMC_API BusDevice : public std::enable_shared_from_this<BusDevice> {
public:
    BusDevice(BusController& controller, const std::string& name, BusDeviceId id);
    // Neither shuts the device down nor touches the controller.
    virtual ~BusDevice();
    BusDevice(const BusDevice&) = delete;
    BusDevice& operator=(const BusDevice&) = delete;

    void Enable();  // OnEnabled
    void Disable(); // OnDisabled
    // Enabled: Disable then Enable (so enabling an enabled device programs it again); any other
    // state: Disable. Then stores the state and calls the state callback when one is set.
    // Takes no lock itself: the hooks lock through their transfers.
    void SetDeviceState(BusDeviceState_e state);
    // SetDeviceState(eBusDeviceDisabled), then OnShutdown.
    void Shutdown();

    // Whole transfers on the controller; the register number keeps its low 8 bits.
    void Read(uint32_t reg, uint64_t* data, uint32_t count) const;
    void Read(uint32_t reg, uint64_t& data) const;
    void Write(uint32_t reg, const uint64_t* data, uint32_t count);
    void Write(uint32_t reg, const uint64_t& data);
    void Transfer(uint32_t reg, const uint64_t* writeData, uint32_t writeCount, uint64_t* readData,
                  uint32_t readCount) const;

    BusController& GetController() const { return m_controller; }
    const std::string& GetName() const { return m_name; }
    BusDeviceId GetId() const { return m_id; }
    BusDeviceState_e GetState() const { return m_state.load(std::memory_order_relaxed); }

    // The parameters in use (empty until the driver sets them). A driver that alters them in
    // place sets m_changed. Both take the controller's lock, so a transfer sees either set whole.
    BusParamsPtr GetParams() const;
    void SetParams(BusParamsPtr params);

    // Called with the device after every SetDeviceState; empty at construction.
    void SetOnStateChange(std::function<void(BusDevice&)> callback);

protected:
    // The driver's hooks; the base's do nothing.
    virtual void OnDisabled();
    virtual void OnEnabled();
    virtual void OnShutdown();

    BusController& m_controller; // not owned
    const std::string m_name;
    const BusDeviceId m_id;

private:
    friend class BusController;

    BusParamsPtr m_params;                     // guarded by the controller's mutex
    std::atomic<BusDeviceState_e> m_state{eBusDeviceDisabled};
    std::function<void(BusDevice&)> m_on_state_change;
};

} // namespace bmc

#endif
