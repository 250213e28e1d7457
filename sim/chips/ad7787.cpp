#include "sim/chips/ad7787.h"

#include <cmath>

namespace sim {

namespace {

constexpr int c_status = 0;
constexpr int c_mode = 1;
constexpr int c_filter = 2;
constexpr int c_data = 3;
constexpr uint32_t c_fullScale = uint32_t{1} << 24;

} // namespace

Ad7787Model::Ad7787Model(double vref) : SpiChipBase(0, false), m_vref(vref) {}

Ad7787Model::~Ad7787Model() = default;

void Ad7787Model::SetInputVoltage(double volts)
{
    SetInputVoltage(0, volts);
}

void Ad7787Model::SetInputVoltage(unsigned input, double volts)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputs[input] = volts;
}

void Ad7787Model::SetInputSelector(std::function<unsigned()> selector)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selector = std::move(selector);
}

void Ad7787Model::SetConversionReads(uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_conversionReads = reads;
}

void Ad7787Model::SetNeverReady(bool never)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_never = never;
}

void Ad7787Model::SetStatusBits(uint8_t bits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusBits = bits;
}

uint8_t Ad7787Model::GetMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

uint8_t Ad7787Model::GetFilter() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_filter;
}

size_t Ad7787Model::GetConversionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_conversions;
}

unsigned Ad7787Model::GetLastInput() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastInput;
}

uint32_t Ad7787Model::CodeFor(double volts) const
{
    const double code = std::round(volts / m_vref * c_fullScale);
    if (!(code > 0)) {
        return 0;
    }
    return code >= c_fullScale ? c_fullScale - 1 : static_cast<uint32_t>(code);
}

void Ad7787Model::_Select()
{
    m_register = -1;
}

uint8_t Ad7787Model::_Byte(uint8_t byte)
{
    if (m_register < 0) {
        if ((byte & 0x80) != 0) {
            return 0xFF; // not a communications byte: the chip waits for one
        }
        m_register = byte >> 4 & 3;
        m_reading = (byte & 0x08) != 0;
        m_byte = 0;
        if (m_reading && m_register == c_data) {
            const unsigned input = m_selector ? m_selector() : 0;
            const auto found = m_inputs.find(input);
            m_data = CodeFor(found == m_inputs.end() ? 0.0 : found->second);
            m_lastInput = input;
            ++m_conversions;
            _StartConversion();
        }
        return 0xFF;
    }
    uint8_t answer = 0xFF;
    unsigned length = 1;
    switch (m_register) {
    case c_status:
        if (m_reading) {
            const bool ready = !m_never && m_notReadyLeft == 0;
            if (!ready && m_notReadyLeft > 0) {
                --m_notReadyLeft;
            }
            answer = static_cast<uint8_t>((ready ? 0x00 : 0x80) | m_statusBits);
        }
        break;
    case c_mode:
        if (!m_reading) {
            m_mode = byte;
        } else {
            answer = m_mode;
        }
        break;
    case c_filter:
        if (!m_reading) {
            m_filter = byte;
        } else {
            answer = m_filter;
        }
        break;
    case c_data:
        length = 3;
        if (m_reading) {
            answer = static_cast<uint8_t>(m_data >> (8 * (2 - m_byte)));
        }
        break;
    default:
        break;
    }
    if (++m_byte == length) {
        m_register = -1;
    }
    return answer;
}

} // namespace sim
