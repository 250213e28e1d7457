#include "bmc/spi_bus_params.h"

#include <sstream>

namespace bmc {

SpiBusParams::SpiBusParams()
    : BusParams(125000, true, false), m_lsb_first(false), m_transfer_len(4), m_clk_sample_edge(false),
      m_clk_transmit_edge(false), m_clk_polarity(false)
{
}

SpiBusParams::SpiBusParams(bool lsb_first, uint16_t transfer_len, bool clk_sample_edge, bool clk_transmit_edge,
                           bool clk_polarity, bool polling, uint16_t freq_khz, bool toggle_cs)
    : BusParams(freq_khz, polling, toggle_cs), m_lsb_first(lsb_first), m_transfer_len(transfer_len),
      m_clk_sample_edge(clk_sample_edge), m_clk_transmit_edge(clk_transmit_edge), m_clk_polarity(clk_polarity)
{
}

SpiBusParams::~SpiBusParams() = default;

std::string SpiBusParams::ToString() const
{
    std::ostringstream text;
    text << "LSB first: " << int{m_lsb_first} << "\n"
         << "Transfer length: " << m_transfer_len << "\n"
         << "Clock sample edge: " << int{m_clk_sample_edge} << "\n"
         << "Clock transmit edge: " << int{m_clk_transmit_edge} << "\n"
         << "Clock polarity: " << int{m_clk_polarity} << "\n"
         << "Freq_khz: " << m_freq_khz << "\n"
         << "Polling mode: " << (m_polling ? "enabled" : "disabled") << "\n";
    return text.str();
}

std::ostream& operator<<(std::ostream& os, const SpiBusParams& params)
{
    return os << params.ToString();
}

} // namespace bmc
