#include "bmc/spi_bus_controller_fpga_amba.h"

#include <typeinfo>

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_hex.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

using detail::Hex;

SpiBusControllerFpgaAmba::SpiBusControllerFpgaAmba(const std::string& name, uint32_t maxDevices, bool csPolarity,
                                                   volatile tSpiBusController* reg)
    : SpiBusController(name, maxDevices, csPolarity), m_reg(reg)
{
    if (reg == nullptr) {
        throw istd::Exception(name + ": no register block for the SPI core", true);
    }
}

SpiBusControllerFpgaAmba::~SpiBusControllerFpgaAmba() = default;

void SpiBusControllerFpgaAmba::SetBusParams(const BusParamsPtr& params)
{
    const auto* spi = dynamic_cast<const SpiBusParams*>(params.get());
    if (spi == nullptr) {
        throw std::bad_cast();
    }
    const uint32_t prescale = CalcPrescaleFactor(spi->m_freq_khz);
    if (prescale > c_maxPrescale) {
        throw istd::Exception(m_name + ":clock prescale parameter (" + std::to_string(prescale) +
                                  "), calculated from frequency (" + std::to_string(spi->m_freq_khz) +
                                  ") is out of range (" + std::to_string(c_maxPrescale) + ").",
                              true);
    }
    if (spi->m_transfer_len > c_maxTransferLen) {
        throw istd::Exception(m_name + ": transfer len parameter (" + std::to_string(spi->m_transfer_len) +
                                  ") is out of range (" + std::to_string(c_maxTransferLen) + ").",
                              true);
    }
    uint64_t control = prescale | uint64_t{spi->m_transfer_len} << c_spiLengthShift;
    control |= spi->m_clk_polarity ? c_spiClockPolarity : 0;
    control |= spi->m_clk_transmit_edge ? c_spiTransmitEdge : 0;
    control |= spi->m_clk_sample_edge ? c_spiSampleEdge : 0;
    control |= spi->m_lsb_first ? c_spiLsbFirst : 0;
    ISTD_TRACE(4, m_name << ": m_reg->control <== 0x" << Hex(control));
    devio::Write64(&m_reg->control, control);
    m_toggle_cs = spi->m_toggle_cs;
}

void SpiBusControllerFpgaAmba::SelectDevice(const BusDevice& device, tDevSelectMode_e mode)
{
    if (device.GetId() >= m_max_devices) {
        throw istd::Exception(m_name + ": Device ID is not supported", true);
    }
    uint32_t word = mode == eDevSelectRead || mode == eDevSelectWrite ? 1u << device.GetId() : 0;
    if (!m_cs_polarity) {
        word = ~word;
    }
    ISTD_TRACE(4, m_name << ": m_reg->chip_select <== " << Hex(word));
    devio::Write64(&m_reg->chip_select, word);
}

void SpiBusControllerFpgaAmba::Write(uint8_t, uint64_t value)
{
    ISTD_TRACE(4, m_name << ": m_reg->data <== 0x" << Hex(value));
    devio::Write64(&m_reg->data, value & 0xFFFFFFFF);
}

void SpiBusControllerFpgaAmba::Read(uint8_t, uint64_t& value)
{
    value = devio::Read64(&m_reg->data);
    ISTD_TRACE(4, m_name << ": m_reg->data ==> 0x" << Hex(value));
}

bool SpiBusControllerFpgaAmba::IsIdle()
{
    const bool idle = (devio::Read64(&m_reg->control) & c_spiStatusBusy) == 0;
    ISTD_TRACE(4, m_name << " IsIdle ? " << (idle ? 1 : 0));
    return idle;
}

bool SpiBusControllerFpgaAmba::IsAcknowledged()
{
    return true;
}

bool SpiBusControllerFpgaAmba::ToggleChipSelect()
{
    return m_toggle_cs;
}

bool SpiBusControllerFpgaAmba::OnSetOutput(uint32_t value)
{
    devio::Write64(&m_reg->output, value);
    return true;
}

bool SpiBusControllerFpgaAmba::OnGetOutput(uint32_t& value)
{
    value = static_cast<uint32_t>(devio::Read64(&m_reg->output));
    return true;
}

} // namespace bmc
