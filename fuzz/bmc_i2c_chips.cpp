// What the I2C chip drivers make of arbitrary chip contents, through the simulated I2C core and
// the chip models. Input: [0] selects the chip; then
//   oscillator: [1..6] the factory registers 7 to 12, [7..10] the wanted frequency (little
//     endian): enabling either throws one of the driver's texts having written no divider, does
//     nothing (registers all zero), or leaves the chip running on a valid HS_DIV and N1 whose
//     DCO for that frequency lies inside 4.85-5.67 GHz, written with the DCO frozen;
//   SPD EEPROM: [1..256] the image: the check agrees with the CRC computed here and the map is
//     the image;
//   SFP EEPROM: [1..256] the module's bytes: the vendor text is the two fields up to their zero
//     bytes and the result says whether it is empty.
// Short inputs are padded with zeros. Anything else is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "bmc/bus_controller.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "bmc/i2c_device_SFP_EEPROM.h"
#include "bmc/i2c_device_SI57x.h"
#include "bmc/i2c_device_spd_eeprom.h"
#include "fuzz_support.h"
#include "sim/buscores/i2c_core.h"
#include "sim/chips/sfp_eeprom.h"
#include "sim/chips/si57x.h"
#include "sim/chips/spd_eeprom.h"

namespace {

using fuzzsupport::Finding;

struct Rig {
    Rig()
        : core(std::make_shared<sim::I2cCoreModel>()), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::I2cBusControllerFpgaAmba>("i2c", 4, &block))
    {
        core->SetTracing(false);
        core->Attach(0, sim::Si57xModel::c_address, osc);
        core->Attach(0, sim::SpdEepromModel::c_address, spd);
        core->Attach(0, sim::SfpEepromModel::c_address, sfp);
        si57x = std::static_pointer_cast<bmc::Si57x>(bmc::Create<bmc::Si57x>(bus, "osc", 0, 0, 0));
        spdDriver = std::static_pointer_cast<bmc::SpdEeprom>(bmc::Create<bmc::SpdEeprom>(bus, "spd", 1, 0, 0));
        sfpDriver = std::static_pointer_cast<bmc::SfpEeprom>(bmc::Create<bmc::SfpEeprom>(bus, "sfp", 2, 0, 0));
    }

    bmc::ScopedBusSleep instant{&bmc::InstantBusSleep};
    bmc::tI2cBusController block{};
    sim::I2cCoreModelPtr core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
    std::shared_ptr<sim::Si57xModel> osc = std::make_shared<sim::Si57xModel>();
    std::shared_ptr<sim::SpdEepromModel> spd = std::make_shared<sim::SpdEepromModel>();
    std::shared_ptr<sim::SfpEepromModel> sfp = std::make_shared<sim::SfpEepromModel>();
    std::shared_ptr<bmc::Si57x> si57x;
    std::shared_ptr<bmc::SpdEeprom> spdDriver;
    std::shared_ptr<bmc::SfpEeprom> sfpDriver;
};

Rig& TheRig()
{
    static Rig rig;
    return rig;
}

void Oscillator(const uint8_t* in)
{
    Rig& rig = TheRig();
    uint64_t word = 0;
    for (int i = 0; i < 6; ++i) {
        word = word << 8 | in[i];
    }
    sim::Si57xModel::Setting factory;
    factory.hsDivCode = static_cast<uint8_t>(word >> 45 & 7);
    factory.n1Code = static_cast<uint8_t>(word >> 38 & 0x7F);
    factory.rfreq = word & ((uint64_t{1} << 38) - 1);
    rig.osc->PowerUp(sim::Si57xModel::c_defaultXtal, factory);
    uint32_t freq = 0;
    std::memcpy(&freq, in + 6, sizeof freq);
    const size_t applies = rig.osc->GetApplies();
    rig.si57x->SetVcxoFreq(freq);
    try {
        rig.si57x->SetDeviceState(bmc::eBusDeviceEnabled);
    } catch (const istd::Exception& e) {
        if (std::string(e.what()) != "Si57x CalcNewRfreq fail!") {
            Finding("unexpected refusal", e.what());
        }
        if (!(rig.osc->GetRegisters() == factory) || rig.osc->GetApplies() != applies) {
            Finding("refused set", "registers written");
        }
        return;
    }
    if (word == 0) {
        if (rig.osc->GetApplies() != applies) {
            Finding("absent chip", "programmed");
        }
        return;
    }
    const sim::Si57xModel::Setting out = rig.osc->GetOutput();
    const double dco = static_cast<double>(out.HsDiv()) * out.N1() * freq;
    if (rig.osc->GetApplies() != applies + 1 || out.HsDiv() == 0 || (out.N1() != 1 && out.N1() % 2 != 0) ||
        !(dco > 4.85e9 && dco < 5.67e9) || rig.osc->GetUnfrozenWrites() != 0) {
        Finding("programmed set", std::to_string(out.HsDiv()) + " x " + std::to_string(out.N1()) + " at " +
                                      std::to_string(freq));
    }
}

void Spd(const uint8_t* in)
{
    Rig& rig = TheRig();
    sim::SpdEepromModel::Image image;
    std::memcpy(image.data(), in, image.size());
    rig.spd->SetImage(image);
    bmc::tSpdEepromRegMap map;
    const bool accepted = rig.spdDriver->SpdEepromReadDdrMemoryMap(map);
    const uint16_t crc = sim::SpdEepromModel::Crc16(image.data(), (image[0] & 0x80) ? 117 : 126);
    const bool expected = image[126] == (crc & 0xFF) && image[127] == crc >> 8;
    if (accepted != expected || std::memcmp(map.bytes, image.data(), image.size()) != 0) {
        Finding("SPD check", accepted ? "accepted" : "refused");
    }
}

void Sfp(const uint8_t* in)
{
    Rig& rig = TheRig();
    for (size_t i = 0; i < 256; ++i) {
        rig.sfp->Set(i, in[i]);
    }
    const auto field = [in](size_t first, size_t length) {
        return std::string(reinterpret_cast<const char*>(in + first), strnlen(reinterpret_cast<const char*>(in + first), length));
    };
    const std::string expected = field(20, 16) + field(40, 20);
    std::string vendor;
    const bool found = rig.sfpDriver->GetVendor(vendor);
    if (vendor != expected || found == vendor.empty()) {
        Finding("SFP vendor", vendor);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    uint8_t in[256] = {};
    std::memcpy(in, data + 1, std::min<size_t>(size - 1, sizeof in));
    switch (data[0] % 3) {
    case 0:
        Oscillator(in);
        break;
    case 1:
        Spd(in);
        break;
    default:
        Sfp(in);
        break;
    }
    return 0;
}
