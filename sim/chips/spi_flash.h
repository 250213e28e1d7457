#pragma once
// A serial NOR flash on an SPI chip-select line: the board's configuration flash.
//
//     auto flash = sim::SpiFlashModel::Make(sim::SpiFlashModel::c_layoutA);   // 0x20 0x20 0x17
//     core->Attach(0, flash);
//
// Commands (MSB first, any word length of whole bytes; chip select frames a command):
//   0x9F read identification: the three id bytes, then zeros
//   0x05 read status: the status byte, again for every further byte (bit 0 write in progress,
//        bit 1 write enable latch)
//   0x06 / 0x04 write enable / disable, taking effect when the chip is released
//   0x03 read data: a 24-bit address, then bytes from there on (wrapping at the end of the chip)
//   0x02 page program: a 24-bit address, then bytes into the page buffer (wrapping inside the
//        256-byte page); when the chip is released, the buffered bytes are ANDed into the memory
//   0xD8 sector erase: a 24-bit address; when the chip is released, its sector reads 0xFF
//   0x01 write status: the byte after the opcode replaces the status's protection bits 2-7
// Program, erase and write status need the write enable latch, which they clear; each leaves the
// chip busy (write in progress) for the set number of status reads. While busy, the chip answers
// status reads only and ignores every other command. Addresses are taken modulo the chip's size.
//
// Faults: a busy that never clears, bits of a byte that stay 1 whatever is programmed (a worn
// cell: the read-back differs), and a chip that does not answer (SpiChipBase::SetAnswering).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "sim/chips/spi_chip.h"

namespace sim {

class SpiFlashModel : public SpiChipBase {
public:
    // The two flash kinds of the system's boards: identification, size and sector size.
    struct Kind {
        uint8_t manufacturer;
        uint8_t memoryType;
        uint8_t capacity;
        size_t size;
        size_t sectorSize;
    };
    static constexpr Kind c_layoutA{0x20, 0x20, 0x17, size_t{8} << 20, 0x10000};  // 8 MiB, 64 KiB sectors
    static constexpr Kind c_layoutB{0x20, 0x20, 0x18, size_t{16} << 20, 0x40000}; // 16 MiB, 256 KiB sectors

    static std::shared_ptr<SpiFlashModel> Make(const Kind& kind);

    // Erased (all bytes 0xFF), status 0. size and sectorSize must be powers of two, sectorSize
    // at least 256 and at most size (std::invalid_argument otherwise).
    SpiFlashModel(uint8_t manufacturer, uint8_t memoryType, uint8_t capacity, size_t size, size_t sectorSize);
    ~SpiFlashModel() override;

    size_t GetSize() const { return m_memory.size(); }
    size_t GetSectorSize() const { return m_sectorSize; }

    // The memory as it reads, past any command (wrapping at the end of the chip).
    std::vector<uint8_t> Read(size_t address, size_t length) const;
    // Puts bytes into the memory directly (not a program: no AND, no busy).
    void Load(size_t address, const std::vector<uint8_t>& bytes);
    uint8_t GetStatus() const;

    // The first address of every sector erased, in order.
    std::vector<uint32_t> GetErasedSectors() const;
    // Page programs carried out.
    size_t GetProgramCount() const;
    // The opcodes of the commands received, in order.
    std::vector<uint8_t> GetOpcodes() const;
    // False: opcodes are no longer kept (on at construction).
    void SetOpcodeRecording(bool recording);

    // Each program, erase and write status leaves the chip busy for this many status reads (0 at
    // construction: ready at the first status read after it).
    void SetBusyReads(uint32_t reads);
    // While set, every status read shows write in progress and every other command is ignored.
    void SetBusyStuck(bool stuck);
    // Bits of the byte at address that stay 1, whatever is programmed; 0 makes the byte sound
    // again.
    void SetStuckBits(size_t address, uint8_t bits);

protected:
    void _Select() override;
    uint8_t _Byte(uint8_t byte) override;
    void _Deselect() override;

private:
    bool _Busy() const { return m_stuck || m_busyLeft > 0; }
    uint8_t _Status() const;
    uint32_t _Address() const { return m_address & static_cast<uint32_t>(m_memory.size() - 1); }
    void _StartBusy() { m_busyLeft = m_busyReads; }

    const uint8_t m_id[3];
    const size_t m_sectorSize;
    std::vector<uint8_t> m_memory;
    std::map<size_t, uint8_t> m_stuckBits;

    // The command under way since the chip was selected.
    size_t m_position = 0; // bytes of the command received
    uint8_t m_opcode = 0;
    uint32_t m_address = 0;
    std::vector<uint8_t> m_pageBuffer;
    std::vector<bool> m_pageWritten;
    int m_newStatus = -1;

    bool m_writeEnabled = false;
    uint8_t m_protection = 0; // status bits 2-7
    uint32_t m_busyReads = 0;
    uint32_t m_busyLeft = 0;
    bool m_stuck = false;

    std::vector<uint32_t> m_erased;
    size_t m_programs = 0;
    std::vector<uint8_t> m_opcodes;
    bool m_recordOpcodes = true;
};

using SpiFlashModelPtr = std::shared_ptr<SpiFlashModel>;

} // namespace sim
