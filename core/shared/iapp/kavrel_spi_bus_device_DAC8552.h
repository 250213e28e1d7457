#ifndef IAPP_KAVREL_SPI_BUS_DEVICE_DAC8552_H
#define IAPP_KAVREL_SPI_BUS_DEVICE_DAC8552_H

// The DAC8552 dual 16-bit DAC on an SPI bus. Nodes under the wrapper's node:
//   "mode"      enumeration of DAC8552Mode_e (flags 6): the power-down mode that the next value
//               write sends; it reads the mode the last write sent, so a new mode reads back
//               only once a value was written after it
//   "output/A"  uint32 in [0, 65535] (flags 6): writes and loads output A; reads the value output
//   "output/B"  A holds (likewise B)
// SetMode, SetValueA and SetValueB go through the nodes once the registry is defined
// (validation and notification as for a client), and straight to the driver before.

#include <cstdint>
#include <string>

#include "bmc/spi_device_DAC8552.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_spi_bus_controller.h"
#include "iapp/kavrel_spi_bus_device.h"
#include "istd/enum_map.h"
#include "mci/node.h"
#include "mci/types.h"

namespace iapp {

// The power-down codes of bmc::DAC8552::tMode, named.
enum DAC8552Mode_e : uint32_t {
    eDac8552Normal = 0,
    eDac8552PowerDown1K = 1,
    eDac8552PowerDown100K = 2,
    eDac8552PowerDown = 3,
};

class IAPP_API DAC8552 : public KavrelSpiBusDevice {
public:
    DAC8552(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id);
    ~DAC8552() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Through the node when it exists (false when it refuses), else the private setter.
    bool SetValueA(const uint32_t& value);
    bool SetValueB(const uint32_t& value);
    bool SetMode(const DAC8552Mode_e& mode);

    // The value output A or B holds; the mode the last write sent. True.
    bool GetValueA(uint32_t& value) const;
    bool GetValueB(uint32_t& value) const;
    bool GetMode(DAC8552Mode_e& mode) const;

private:
    // Write the value (low 16 bits) to the output's input register and load that output only.
    bool _SetValueA(const uint32_t& value);
    bool _SetValueB(const uint32_t& value);
    // Stores the mode for the next write; nothing is sent.
    bool _SetMode(const DAC8552Mode_e& mode);

    bmc::DAC8552& m_driver;
    mci::Node m_outputA;
    mci::Node m_outputB;
    mci::Node m_mode;
};

} // namespace iapp

ISTD_ENUM_TABLE_DECL(iapp::DAC8552Mode_e)

#endif
