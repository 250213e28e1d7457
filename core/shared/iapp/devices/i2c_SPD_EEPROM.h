#ifndef IAPP_DEVICES_I2C_SPD_EEPROM_H
#define IAPP_DEVICES_I2C_SPD_EEPROM_H

// The serial-presence-detect EEPROM of a DDR3 memory module on an I2C bus. Its 256 bytes are read
// once, when the wrapper is made, and the geometry and timings a memory controller needs are
// published as read-only uint32 nodes (flags 2) under the wrapper's node:
//   "capacity"       megabytes of the module
//   "rank_width"     ranks, 1 to 4
//   "bank_width"     bank address bits, 3 to 6
//   "row_width"      row address bits, 12 to 17
//   "column_width"   column address bits, 9 to 12
//   "Trcd" "Tfaw" "Tras" "Tck" "Twtr" "Trtp" "Trrd" "Trp" "Trfc"
//                    minimum times in picoseconds (medium time base 0.125 ns)
//   "Trefi"          7800 (the refresh interval in nanoseconds)
// The nodes keep what was read at construction.
//
// A field whose bits hold a code the SPD layout leaves reserved reads 0, with a warning in the
// log naming the byte and the code, and so does "capacity" when one of the codes it is computed
// from is reserved. An image whose CRC does not match (the driver logs "SpdEeprom not present")
// describes no module: every node but "Trefi" reads 0.

#include <cstdint>
#include <string>

#include "bmc/i2c_device_spd_eeprom.h"
#include "iapp/iapp_export.h"
#include "iapp/kavrel_i2c_bus_controller.h"
#include "iapp/kavrel_i2c_bus_device.h"
#include "mci/types.h"

namespace iapp {

// The decoded SPD.
struct IAPP_API tRamCtrlPar {
    uint32_t capacity;
    uint32_t rankCountMinus1;
    uint32_t rankCount;
    uint32_t bankAddressBits;
    uint32_t rowAddressBits;
    uint32_t columnAddressBits;
    uint32_t Trcd;
    uint32_t Tfaw;
    uint32_t Tras;
    uint32_t Tck;
    uint32_t Twtr;
    uint32_t Trtp;
    uint32_t Trrd;
    uint32_t Trp;
    uint32_t Trfc;
    uint32_t Trefi;
};

class IAPP_API SPD_EEPROM : public KavrelI2cBusDevice {
public:
    static constexpr uint32_t c_refreshInterval = 7800;

    // Reads and decodes the EEPROM (at its fixed address on the controller's bus number bus; the
    // address argument has no effect). A failed transfer throws the bus's exception and no
    // component is made.
    SPD_EEPROM(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
               uint8_t bus);
    ~SPD_EEPROM() override;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // Reads the 256 bytes and decodes them into the RAM parameters.
    void EepromRamParGet();
    // Adds the fifteen nodes of par under node.
    static void AddRamParNodes(mci::TreeNodePtr& node, const tRamCtrlPar& par);
    // What the wrapper makes of the bytes of map, whose CRC matched or (valid false) did not.
    static tRamCtrlPar Decode(const bmc::tSpdEepromRegMap& map, bool valid);

private:
    bmc::SpdEeprom& m_driver;
    tRamCtrlPar m_par{};
    bmc::tSpdEepromRegMap m_map{};
};

} // namespace iapp

#endif
