#ifndef BMC_SPI_BUS_PARAMS_H
#define BMC_SPI_BUS_PARAMS_H

// The bus settings of an SPI chip. A driver gives itself its settings in its constructor:
//     bmc::SetBusParam<bmc::SpiBusParams>(*this, lsbFirst, bits, sampleEdge, transmitEdge,
//                                          polarity, polling, freq_khz[, toggleCs]);

#include <cstdint>
#include <ostream>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/bus_params.h"

namespace bmc {

class BMC_API SpiBusParams : public BusParams {
public:
    // 125000 kHz (which the FPGA core refuses), polling, 4-bit words, MSB first, all clock
    // flags clear, no chip-select toggle.
    SpiBusParams();
    // The frequency argument is 16 bits wide: 65535 kHz at most.
    SpiBusParams(bool lsb_first, uint16_t transfer_len, bool clk_sample_edge, bool clk_transmit_edge,
                 bool clk_polarity, bool polling, uint16_t freq_khz, bool toggle_cs = false);
    ~SpiBusParams() override;

    // Seven lines, each ended by a newline: "LSB first: ", "Transfer length: ",
    // "Clock sample edge: ", "Clock transmit edge: ", "Clock polarity: " (flags as 0 or 1),
    // "Freq_khz: " and "Polling mode: " ("enabled" or "disabled").
    std::string ToString() const;

    bool m_lsb_first;
    uint16_t m_transfer_len; // bits per word
    bool m_clk_sample_edge;
    bool m_clk_transmit_edge;
    bool m_clk_polarity;
};

// Writes ToString().
BMC_API std::ostream& operator<<(std::ostream& os, const SpiBusParams& params);

} // namespace bmc

#endif
