#ifndef IAPP_DEVICES_I2C_SI5338_H
#define IAPP_DEVICES_I2C_SI5338_H

// The Si5338 clock generator on an I2C bus. Every node is bound to the driver's accessor, which
// reads or writes the chip register at once. The settings are persistent and readable (flags 10):
// the configuration file sets them (and program code through ireg::RegNode::SetValue), not
// clients; the status nodes are only readable (flags 2).
//
//   "state"           enumeration: "disabled", "enabled" (the driver's state, no transfer)
//   "in_clk"          enumeration: "in_1", "in_2"
//   "in_D1", "in_D2"  input dividers, one of {1,2,4,8,16,32}
//   "pll_kphi"        [1, 127]        "pll_vco_gain"  [0, 7]      "pll_rsel"  [0, 3]
//   "pll_bwsel"       [0, 2]          "pll_mcal"      [0, 63]
//   "Ms_P1"           5 MultiSynths, each in [1, 262143]
//   "Ms_P2"           5 MultiSynths, each in [0, 1073741823]
//   "Ms_P3"           5 MultiSynths, each in [1, 1073741823]
//   "out_Dx"          4 output dividers, each one of {1,2,4,8,16,32}
//   "in1_clk_status", "in2_clk_status"  enumeration: "clock_not_present", "clock_present"
//   "pll_status"      enumeration: "pll_locked" (0), "pll_not_locked" (1)
// An array write is validated element by element before anything reaches the chip.
//
// OnPostConfig (after the configuration load wrote the stored settings) starts the chip; a start
// that fails (no input clock, a PLL that does not lock) is logged as an error, leaves "state"
// disabled and lets start-up go on.

#include <cstdint>
#include <string>

#include "bmc/i2c_device_SI5338.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API SI5338 : public KavrelI2cBusDevice {
public:
    // address and bus go to the driver in its own order (it always uses the chip's address). The
    // driver reads the chip and writes its default set (a chip that does not answer throws).
    SI5338(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
           uint8_t bus);
    ~SI5338() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;
    void OnPostConfig() override;

    // The mask of the n low bits (n up to 30), the upper bound of an n-bit field.
    static int MaskOfBits(int n);

private:
    bmc::Si5338& m_driver;
};

} // namespace iapp

#endif
