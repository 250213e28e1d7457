#ifndef BMC_SPI_DEVICE_LMH6518_H
#define BMC_SPI_DEVICE_LMH6518_H

// The LMH6518 variable-gain amplifier: one 16-bit control register (attenuation in bits 0-3, high
// gain in bit 4, filter bandwidth in bits 6-8, full power off in bit 10), sent as the low 16
// bits of a 24-bit frame whose command byte (bits 16-23) is 0. A read sends the read frame
// 0x800000 (read bit 23 set, register 0) and takes the register from the same frame. With the
// cache on, reads answer the word last written without touching the chip.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

class BMC_API LMH6518 : public SpiDevice {
public:
    // The board wrapper names codes 0 to 10 "0" to "-20" (dB, in steps of 2).
    typedef uint16_t tAttenuator;
    // The board wrapper names codes 0 to 6 "full", "20Mhz", "100Mhz", "200Mhz", "350Mhz",
    // "650Mhz", "750Mhz".
    typedef uint16_t tFilterBandwidth;

    static constexpr uint16_t c_rawAtStart = 0x000A;
    // The fields of the control register.
    static constexpr uint16_t c_attenuationMask = 0x000F;
    static constexpr uint16_t c_highGain = 0x0010;
    static constexpr unsigned c_bandwidthShift = 6;
    static constexpr uint16_t c_bandwidthMask = 0x01C0;
    static constexpr uint16_t c_fullPowerOff = 0x0400;
    // The frame that reads the control register.
    static constexpr uint64_t c_readFrame = 0x800000;

    // 24-bit frames at 8000 kHz, sample edge set; no bus access. The cache starts at 0x000A
    // (attenuation code 10, full bandwidth, high gain off, full power on).
    LMH6518(BusController& controller, const std::string& name, BusDeviceId id, bool use_cache);
    ~LMH6518() override;

    bool SetRaw(uint16_t raw);
    // The cache, or one word read from the chip (the cache is not changed).
    bool GetRaw(uint16_t& raw);
    bool Set(bool full_power, tFilterBandwidth bandwidth, bool high_gain, tAttenuator attenuation);
    bool Get(bool& full_power, tFilterBandwidth& bandwidth, bool& high_gain, tAttenuator& attenuation);
    // Each field setter reads the word (GetRaw), changes its field and writes it (SetRaw); codes
    // are masked to their fields.
    bool SetAttenuation(const tAttenuator& attenuation);
    bool GetAttenuation(tAttenuator& attenuation);
    bool SetFilterBandWidth(const tFilterBandwidth& bandwidth);
    bool GetFilterBandWidth(tFilterBandwidth& bandwidth);
    bool SetHiGain(bool on);
    bool GetHiGain(bool& on);
    bool SetFullPower(bool on);
    bool GetFullPower(bool& on);

private:
    const bool m_use_cache;
    uint16_t m_raw = c_rawAtStart;
};

} // namespace bmc

#endif
