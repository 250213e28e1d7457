#pragma once
// A register-level model of the FPGA SPI master core (bmc::tSpiBusController), with the SPI
// chips of its chip-select lines attached by line number.
//
//     auto core = std::make_shared<sim::SpiCoreModel>(false);   // chip selects active low
//     core->Attach(0, std::make_shared<sim::SpiRegisterChip>());
//     devio::RangeClaim claim = core->Claim(block);            // any base address, or
//     monitorDevice.AttachModel(0x300100, sim::SpiCoreModel::c_windowSize, core);
//
// Registers (64-bit): control (0x00; write: prescale bits 0-4, word length bits 8-13, clock
// polarity 16, transmit edge 17, sample edge 18, LSB first 19; read: bit 21 busy), chip_select
// (0x08; line n is bit n), data (0x10; write: the word to shift out, right-aligned, which starts
// the shift; read: the word shifted in), output (0x18). A 32-bit access reaches one half of a
// register; writing the low half acts as a write of the whole register.
//
// Line n is selected while bit n of chip_select equals the wiring's active level; a change
// selects or deselects the chip on that line. Writing data shifts the word's low `length` bits
// out to every selected chip, and the first selected chip's answer (all ones with none, the idle
// line) is what data reads back. The status can read busy for a number of reads after each
// shift. Bus steps are recorded as SpiEvents, register accesses as RegisterAccesses.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "sim/buscores/register_trace.h"

namespace sim {

// The word format of a shift, from the control register.
struct SpiShiftFormat {
    unsigned bits; // 0 to 63
    bool lsbFirst;
    bool clockPolarity;
    bool transmitEdge;
    bool sampleEdge;
    uint32_t prescale;
};

// One chip on an SPI chip-select line. Calls come from the core under its mutex, on the thread
// that accesses the core's registers.
class SpiChipModel {
public:
    virtual ~SpiChipModel();
    virtual void OnSelect() = 0;
    // One word: mosi right-aligned in format.bits bits; returns the chip's answer, right-aligned
    // (bits above format.bits are dropped).
    virtual uint64_t OnShift(uint64_t mosi, const SpiShiftFormat& format) = 0;
    virtual void OnDeselect() = 0;
};

using SpiChipModelPtr = std::shared_ptr<SpiChipModel>;

struct SpiEvent {
    enum Kind_e { eControl, eSelect, eShift, eDeselect };
    Kind_e kind;
    unsigned line;  // eSelect, eDeselect
    uint64_t word;  // eControl: the control word; eShift: the word shifted out
    uint64_t miso;  // eShift: the word shifted in
    unsigned bits;  // eShift

    // "CONTROL 0x805", "SELECT 3", "SHIFT 8 0x9f -> 0xef", "DESELECT 3".
    std::string ToString() const;
};

class SpiCoreModel : public TracedCoreModel<SpiEvent> {
public:
    static constexpr size_t c_windowSize = 0x20;

    static constexpr size_t c_control = 0x00;
    static constexpr size_t c_chipSelect = 0x08;
    static constexpr size_t c_data = 0x10;
    static constexpr size_t c_output = 0x18;

    static constexpr uint64_t c_statusBusy = uint64_t{1} << 21;
    static constexpr unsigned c_lines = 32;

    // activeHigh: how the board wires the chips' select inputs. Nothing is selected at start.
    explicit SpiCoreModel(bool activeHigh);
    ~SpiCoreModel() override;

    // Puts the chip on the line (0 to 31); throws std::invalid_argument for another line, a null
    // chip or a line already taken.
    void Attach(unsigned line, SpiChipModelPtr chip);
    void Detach(unsigned line);

    uint64_t GetControl() const;
    uint64_t GetChipSelect() const;
    // Takes no lock: a chip model may read the core's outputs (a multiplexer they drive) from its
    // own callbacks, which run under the core's mutex.
    uint64_t GetOutput() const;

    uint32_t OnRead32(size_t offset) override;
    void OnWrite32(size_t offset, uint32_t value) override;
    uint64_t OnRead64(size_t offset) override;
    void OnWrite64(size_t offset, uint64_t value) override;

private:
    uint64_t _Read(size_t reg);
    void _Write(size_t reg, uint64_t value);
    void _Record(bool write, size_t offset, uint64_t value);
    bool _Selected(uint64_t chipSelect, unsigned line) const;

    const bool m_activeHigh;
    std::map<unsigned, SpiChipModelPtr> m_chips;
    uint64_t m_control = 0;
    uint64_t m_chipSelect;
    uint64_t m_rx = 0;
    std::atomic<uint64_t> m_output{0};
};

using SpiCoreModelPtr = std::shared_ptr<SpiCoreModel>;

} // namespace sim
