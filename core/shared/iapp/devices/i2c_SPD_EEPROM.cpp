#include "iapp/devices/i2c_SPD_EEPROM.h"

#include <cstddef>
#include <string>
#include <utility>

#include "ireg/reg_value_node.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

// The value of a code in a table of the SPD layout; 0, with a warning, for a code the layout
// leaves reserved.
template <size_t N>
uint32_t _Lookup(const uint32_t (&table)[N], uint32_t code, int byte, const char* field)
{
    if (code < N) {
        return table[code];
    }
    istd::LogWarning("SPD byte " + std::to_string(byte) + ": reserved " + field + " code " + std::to_string(code));
    return 0;
}

} // namespace

SPD_EEPROM::SPD_EEPROM(KavrelI2cBusController& controller, const std::string& name, bmc::BusDeviceId id,
                       uint8_t address, uint8_t bus)
    : KavrelI2cBusDevice(controller,
                         bmc::Create<bmc::SpdEeprom>(controller.GetController(), name, id, address, bus)),
      m_driver(DriverAs<bmc::SpdEeprom>())
{
    ISTD_TRACE_FNC("iapp::SPD_EEPROM::SPD_EEPROM(iapp::KavrelI2cBusController&, const std::string&, "
                   "bmc::BusDeviceId, uint8_t, uint8_t)");
    EepromRamParGet();
}

SPD_EEPROM::~SPD_EEPROM()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " SPD_EEPROM");
}

void SPD_EEPROM::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::SPD_EEPROM::OnRegistryAdd(mci::TreeNodePtr&)");
    AddRamParNodes(node, m_par);
}

void SPD_EEPROM::EepromRamParGet()
{
    ISTD_TRACE_FNC("void iapp::SPD_EEPROM::EepromRamParGet()");
    const bool valid = m_driver.SpdEepromReadDdrMemoryMap(m_map);
    m_par = Decode(m_map, valid);
}

tRamCtrlPar SPD_EEPROM::Decode(const bmc::tSpdEepromRegMap& map, bool valid)
{
    static const uint32_t c_ranks[] = {1, 2, 3, 4};
    static const uint32_t c_deviceWidths[] = {4, 8, 16, 32};
    static const uint32_t c_busWidths[] = {8, 16, 32, 64};
    static const uint32_t c_densities[] = {256, 512, 1024, 2048, 4096, 8192, 16384};
    static const uint32_t c_bankBits[] = {3, 4, 5, 6};
    static const uint32_t c_rowBits[] = {12, 13, 14, 15, 16, 17};
    static const uint32_t c_columnBits[] = {9, 10, 11, 12};

    tRamCtrlPar par{};
    par.Trefi = c_refreshInterval;
    if (!valid) {
        return par;
    }
    const auto b = [&map](size_t k) -> uint32_t { return map[k]; };

    const uint32_t ranks = _Lookup(c_ranks, b(7) >> 3 & 7, 7, "rank count");
    const uint32_t deviceWidth = _Lookup(c_deviceWidths, b(7) & 7, 7, "device width");
    const uint32_t busWidth = _Lookup(c_busWidths, b(8) & 7, 8, "bus width");
    const uint32_t density = _Lookup(c_densities, b(4) & 0x0F, 4, "die density");
    // Any reserved code leaves the capacity unknown; a device width of 0 never divides.
    if (ranks != 0 && deviceWidth != 0 && busWidth != 0 && density != 0) {
        par.capacity = ((density / 8) * busWidth / deviceWidth) * ranks;
    }
    par.rankCountMinus1 = ranks == 0 ? 0 : ranks - 1;
    par.rankCount = ranks;
    par.bankAddressBits = _Lookup(c_bankBits, b(4) >> 4 & 0x0F, 4, "bank address bits");
    par.rowAddressBits = _Lookup(c_rowBits, b(5) >> 3 & 7, 5, "row address bits");
    par.columnAddressBits = _Lookup(c_columnBits, b(5) & 7, 5, "column address bits");

    par.Trcd = b(18) * 125;
    par.Tfaw = (b(28) * 256 + b(29)) * 125;
    par.Tras = ((b(21) & 0x0F) * 256 + b(22)) * 125;
    par.Tck = b(12) * 125;
    par.Twtr = b(26) * 125;
    par.Trtp = b(27) * 125;
    par.Trrd = b(19) * 125;
    par.Trp = b(20) * 125;
    par.Trfc = (b(25) * 256 + b(24)) * 125;
    return par;
}

void SPD_EEPROM::AddRamParNodes(mci::TreeNodePtr& node, const tRamCtrlPar& par)
{
    ISTD_TRACE_FNC("void iapp::SPD_EEPROM::AddRamParNodes(mci::TreeNodePtr&, iapp::tRamCtrlPar)");
    const std::pair<const char*, uint32_t> fields[] = {
        {"capacity", par.capacity},
        {"rank_width", par.rankCount},
        {"bank_width", par.bankAddressBits},
        {"row_width", par.rowAddressBits},
        {"column_width", par.columnAddressBits},
        {"Trcd", par.Trcd},
        {"Tfaw", par.Tfaw},
        {"Tras", par.Tras},
        {"Tck", par.Tck},
        {"Twtr", par.Twtr},
        {"Trtp", par.Trtp},
        {"Trrd", par.Trrd},
        {"Trp", par.Trp},
        {"Trfc", par.Trfc},
        {"Trefi", par.Trefi},
    };
    for (const auto& field : fields) {
        node->Add(mci::factory::Create<ireg::RegValueNode<uint32_t>>(field.first, field.second, mci::Flags(2)));
    }
}

} // namespace iapp
