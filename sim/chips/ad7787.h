#pragma once
// The AD7787 24-bit sigma-delta ADC on an SPI chip-select line (8-bit words, MSB first, a byte
// stream).
//
// Every access begins with a byte to the communications register: bit 7 must be 0, bits 5-4 name
// the register (0 status, 1 mode, 2 filter, 3 data), bit 3 reads. Then the register's bytes follow:
// one for status, mode and filter, three for data (most significant first). Selecting the chip
// starts a new access.
//
// Conversions run continuously: reading the data register hands over the conversion and starts
// the next, which is ready after the set number of status reads (status bit 7 reads 1 until
// then). The code is the input voltage against the reference, unipolar: round(v / vref × 2^24),
// clamped to 0 .. 2^24 − 1, taken when the data register is read. The input is one of several
// analog inputs, chosen by a selector (for the board's multiplexer in front of the chip); without
// one, input 0.
//
// Faults: a conversion that never gets ready, and status error bits (6, and 1-0) shown with every
// conversion.

#include <cstdint>
#include <functional>
#include <map>

#include "sim/chips/spi_chip.h"

namespace sim {

class Ad7787Model : public SpiChipBase {
public:
    explicit Ad7787Model(double vref = 2.5);
    ~Ad7787Model() override;

    // Volts at an input (0 V until set).
    void SetInputVoltage(double volts);
    void SetInputVoltage(unsigned input, double volts);
    // Chooses the input of each conversion; called under the chip's lock, so it must not call
    // back into the model (nor take the lock of the core it is attached to).
    void SetInputSelector(std::function<unsigned()> selector);

    // A conversion stays not ready for this many status reads (0 at start: ready at once).
    void SetConversionReads(uint32_t reads);
    // While set, no conversion gets ready.
    void SetNeverReady(bool never);
    // Bits ORed into every status byte (0x40 error, 0x03).
    void SetStatusBits(uint8_t bits);

    uint8_t GetMode() const;
    uint8_t GetFilter() const;
    // Data registers read so far, and the input of the last one.
    size_t GetConversionCount() const;
    unsigned GetLastInput() const;
    // The code a conversion of the voltage gives.
    uint32_t CodeFor(double volts) const;

protected:
    void _Select() override;
    uint8_t _Byte(uint8_t byte) override;

private:
    void _StartConversion() { m_notReadyLeft = m_conversionReads; }

    const double m_vref;
    std::map<unsigned, double> m_inputs;
    std::function<unsigned()> m_selector;
    uint32_t m_conversionReads = 0;
    uint32_t m_notReadyLeft = 0;
    bool m_never = false;
    uint8_t m_statusBits = 0;
    uint8_t m_mode = 0;
    uint8_t m_filter = 0;
    size_t m_conversions = 0;
    unsigned m_lastInput = 0;

    // The access under way.
    int m_register = -1; // -1: the next byte is a communications byte
    bool m_reading = false;
    unsigned m_byte = 0;
    uint32_t m_data = 0;
};

} // namespace sim
