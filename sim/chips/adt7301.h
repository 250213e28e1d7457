#pragma once
// The ADT7301 14-bit temperature sensor on an SPI chip-select line: 16-bit words, MSB first.
//
// Every word is answered with the last conversion: bits 13-0 the temperature in 1/32 °C, two's
// complement of 14 bits (bit 13 the sign), bits 15-14 zero. The temperature is settable; a raw
// answer word can be forced in its place (an out-of-range or broken reading).

#include <cstdint>
#include <optional>

#include "sim/chips/spi_chip.h"

namespace sim {

class Adt7301Model : public SpiChipBase {
public:
    Adt7301Model();
    ~Adt7301Model() override;

    // °C, rounded to 1/32 and clamped to the 14-bit range (25 °C at start).
    void SetTemperature(double celsius);
    // Answers this word in place of the temperature until reset (std::nullopt).
    void SetRawWord(std::optional<uint16_t> word);
    // The word that answers the next read.
    uint16_t GetWord() const;
    // The code of a temperature.
    static uint16_t CodeFor(double celsius);

protected:
    uint64_t _Word(uint64_t word) override;

private:
    uint16_t m_code;
    std::optional<uint16_t> m_raw;
};

} // namespace sim
