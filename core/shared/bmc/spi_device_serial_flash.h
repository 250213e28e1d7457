#ifndef BMC_SPI_DEVICE_SERIAL_FLASH_H
#define BMC_SPI_DEVICE_SERIAL_FLASH_H

// The serial NOR flash that holds a board's firmware, behind the FPGA SPI core.
//
// The constructor recognises the flash by its JEDEC identification (manufacturer byte equal to
// the memory-type byte) and picks one of two layouts; an unknown or silent flash throws
// "Serial flash not supported or inaccessible.". A firmware image is written from address 0 page
// by page:
//
//     flash.AutoincWriteInit();
//     for each whole 256-byte page: if (!flash.AutoincWrite(page)) fail;
//     if (!flash.AutoincWriteFinish(rest, restLength)) fail;   // padded with zeros to 256
//
// Each sector is erased when the write first reaches it, and every page is read back and compared.
// Commands go out in 8-bit words, whole pages in 32-bit words; chip select frames each command.
// The driver has no lock: one caller at a time drives a flash.

#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/spi_device.h"

namespace bmc {

// The JEDEC identification in the order the flash sends it.
struct BMC_API tFlashId {
    uint8_t id;      // manufacturer
    uint8_t memType; // memory type
    uint8_t memCap;  // capacity code
};

// A flash layout: sixteen 32-bit words.
struct BMC_API tFlashConfig {
    struct Region {
        uint32_t firstSector;
        uint32_t lastSector;
        uint32_t firstAddress;
        uint32_t lastAddress;
    };
    uint32_t sectorSize;  // bytes
    uint32_t sectorCount;
    uint32_t pageSize;    // bytes
    uint32_t pageSize2;   // bytes, the same
    Region regions[3];
};

static_assert(sizeof(tFlashConfig) == 16 * sizeof(uint32_t), "a flash layout is sixteen 32-bit words");

// 64 KiB sectors (manufacturers 0x20 and 0x01 with capacity 0x16 or 0x17; 0x89 with 0x13) and
// 256 KiB sectors (0x20 and 0x01 with capacity 0x18).
extern BMC_API const tFlashConfig c_flashLayoutA;
extern BMC_API const tFlashConfig c_flashLayoutB;

class BMC_API SerialFlash : public SpiDevice {
public:
    static constexpr uint32_t c_pageSize = 256;
    // TransferData's address argument for a command without an address.
    static constexpr uint32_t c_noAddress = 0xFFFFFFFF;

    static constexpr uint8_t c_cmdWriteStatus = 0x01;
    static constexpr uint8_t c_cmdPageProgram = 0x02;
    static constexpr uint8_t c_cmdRead = 0x03;
    static constexpr uint8_t c_cmdWriteDisable = 0x04;
    static constexpr uint8_t c_cmdReadStatus = 0x05;
    static constexpr uint8_t c_cmdWriteEnable = 0x06;
    static constexpr uint8_t c_cmdReadId = 0x9F;
    static constexpr uint8_t c_cmdSectorErase = 0xD8;

    // MSB first, 8-bit words, clock flags clear, no polling, 10000 kHz. Recognises the flash
    // (ConfigInit) and throws "Serial flash not supported or inaccessible." when it cannot. The
    // flag has no effect.
    SerialFlash(BusController& controller, const std::string& name, BusDeviceId id, bool flag);
    ~SerialFlash() override;

    // Waits for the flash (up to 10000 polls), reads its identification and selects the layout.
    // False with "flash device not found!" (busy, or manufacturer 0x00 or 0xFF) or "flash device
    // not supported!" (no layout for the identification).
    bool ConfigInit();
    bool ConfigIsInit() const { return m_config != nullptr; }
    // The selected layout; null before ConfigInit succeeded.
    const tFlashConfig* GetConfig() const { return m_config; }

    // Command 0x9F into id; true when the manufacturer byte is neither 0x00 nor 0xFF.
    bool GetId(tFlashId* id);
    uint8_t GetStatus();
    // The write-status command (0x01) with the new status byte.
    bool SetStatus(uint8_t status);
    // 0x06 (true) or 0x04 (false).
    bool WriteEnable(bool enable);
    bool IsWriteEnabled();   // status bit 1
    bool IsWriteInProcess(); // status bit 0
    // Polls the status every 1 µs until bit 0 (IsReady) or bit 1 (IsReadyForWritting) reads 0.
    // A count of n allows n − 1 status reads; 1 reads none and 0 reads once.
    bool IsReady(uint32_t count);
    bool IsReadyForWritting(uint32_t count);

    // 0xD8 at sector × sector size; no write enable, no wait. False without a layout.
    bool SectorErase(uint16_t sector);
    // One page in 32-bit words (command and address in the first); no checks.
    bool WritePage(uint32_t address, const uint8_t* page);
    bool ReadPage(uint32_t address, uint8_t* page);
    // The same, refusing (false, nothing sent) an address that is not a multiple of 256.
    bool WritePageAtAddr(uint32_t address, const uint8_t* page);
    bool ReadPageAtAddr(uint32_t address, uint8_t* page);
    // Program or read length bytes in 8-bit words (at most 256; page boundaries not checked).
    bool WriteDataAtAddr(uint32_t address, const uint8_t* data, uint32_t length);
    bool ReadDataAtAddr(uint32_t address, uint8_t* buffer, uint32_t length);
    // One command in 8-bit words: the opcode, the 24-bit address (none for c_noAddress), the n
    // data bytes, then m bytes received into buffer. False, nothing sent, for more than 256 bytes
    // either way (the word length is already 8 then).
    bool TransferData(uint8_t opcode, uint32_t address, const uint8_t* data, uint32_t n, uint8_t* buffer,
                      uint32_t m);
    // The word length of the device's SPI parameters; a change marks them changed, so that the
    // controller programs them again before the next transfer.
    void SetLen(uint16_t bits);

    // The sequential write from address 0. AutoincWrite writes the next page: erases its sector
    // when the write first reaches it, programs, reads it back; true when the flash holds it,
    // and only then the address advances. False without AutoincWriteInit, for a page past the
    // end of the flash, on a wait that timed out or a mismatch. AutoincWriteFinish writes the
    // length bytes padded with zeros as the last page and ends the write; more than 256 bytes
    // are refused (false, nothing written) and end it too.
    bool AutoincWriteInit();
    bool AutoincWrite(const uint8_t* page);
    bool AutoincWriteFinish(const uint8_t* data, uint32_t length);

    uint32_t GetWriteAddress() const { return m_write_address; }
    // The sector the sequential write erased last; 0xFFFFFFFF for none.
    uint32_t GetCurrentSector() const { return m_current_sector; }

private:
    bool _PollStatus(uint32_t count, uint8_t bit);

    const tFlashConfig* m_config = nullptr;
    uint32_t m_write_address = 0;
    uint32_t m_current_sector = 0xFFFFFFFF;
    bool m_autoinc_active = false;
};

} // namespace bmc

#endif
