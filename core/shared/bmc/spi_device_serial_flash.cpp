#include "bmc/spi_device_serial_flash.h"

#include <cstring>
#include <typeinfo>
#include <vector>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"
#include "bmc/spi_bus_params.h"

namespace bmc {

const tFlashConfig c_flashLayoutA = {
    65536, 128, 256, 256, {{0, 0, 0, 0}, {0, 120, 0x000000, 0x78FFFF}, {124, 125, 0x7C0000, 0x7DFFFF}}};
const tFlashConfig c_flashLayoutB = {
    262144, 64, 256, 256, {{0, 0, 0, 0}, {0, 60, 0x000000, 0xF3FFFF}, {61, 61, 0xF40000, 0xF7FFFF}}};

namespace {

constexpr uint8_t c_statusBusy = 0x01;
constexpr uint8_t c_statusWriteEnabled = 0x02;

// The polls of the sequential write: before an erase, and around a page program.
constexpr uint32_t c_pollsBeforeErase = 2000000;
constexpr uint32_t c_pollsAroundProgram = 100000;
constexpr uint32_t c_pollsAtRecognition = 10000;

const tFlashConfig* _Layout(const tFlashId& id)
{
    if (id.id != id.memType) {
        return nullptr;
    }
    if (id.id == 0x20 || id.id == 0x01) {
        if (id.memCap == 0x16 || id.memCap == 0x17) {
            return &c_flashLayoutA;
        }
        if (id.memCap == 0x18) {
            return &c_flashLayoutB;
        }
    } else if (id.id == 0x89 && id.memCap == 0x13) {
        return &c_flashLayoutA;
    }
    return nullptr;
}

} // namespace

SerialFlash::SerialFlash(BusController& controller, const std::string& name, BusDeviceId id, bool)
    : SpiDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::SerialFlash::SerialFlash(bmc::BusController&, const std::string&, bmc::BusDeviceId, bool)");
    SetBusParam<SpiBusParams>(*this, false, 8, false, false, false, false, 10000);
    if (!ConfigInit()) {
        throw istd::Exception("Serial flash not supported or inaccessible.", true);
    }
}

SerialFlash::~SerialFlash() = default;

bool SerialFlash::ConfigInit()
{
    ISTD_TRACE_FNC("bool bmc::SerialFlash::ConfigInit()");
    const bool ready = IsReady(c_pollsAtRecognition);
    tFlashId id{};
    const bool found = GetId(&id);
    if (!ready || !found) {
        ISTD_TRACE(1, "flash device not found!");
        return false;
    }
    if (const tFlashConfig* layout = _Layout(id)) {
        m_config = layout;
    }
    if (m_config == nullptr) {
        ISTD_TRACE(1, "flash device not supported!");
        return false;
    }
    ISTD_TRACE(1, "flash device supported!");
    return true;
}

bool SerialFlash::GetId(tFlashId* id)
{
    uint8_t bytes[3] = {};
    TransferData(c_cmdReadId, c_noAddress, nullptr, 0, bytes, 3);
    id->id = bytes[0];
    id->memType = bytes[1];
    id->memCap = bytes[2];
    if (id->id == 0x00 || id->id == 0xFF) {
        return false;
    }
    ISTD_TRACE(1, "flash info: " << std::hex << " id = 0x" << unsigned{id->id} << " memType = 0x"
                                 << unsigned{id->memType} << " memCap = 0x" << unsigned{id->memCap});
    return true;
}

uint8_t SerialFlash::GetStatus()
{
    uint8_t status = 0;
    TransferData(c_cmdReadStatus, c_noAddress, nullptr, 0, &status, 1);
    return status;
}

bool SerialFlash::SetStatus(uint8_t status)
{
    return TransferData(c_cmdWriteStatus, c_noAddress, &status, 1, nullptr, 0);
}

bool SerialFlash::WriteEnable(bool enable)
{
    return TransferData(enable ? c_cmdWriteEnable : c_cmdWriteDisable, c_noAddress, nullptr, 0, nullptr, 0);
}

bool SerialFlash::IsWriteEnabled()
{
    return (GetStatus() & c_statusWriteEnabled) != 0;
}

bool SerialFlash::IsWriteInProcess()
{
    return (GetStatus() & c_statusBusy) != 0;
}

bool SerialFlash::_PollStatus(uint32_t count, uint8_t bit)
{
    // A count of 0 would otherwise allow 2^32 − 1 polls, hours of a stuck bus.
    uint32_t left = count == 0 ? 2 : count;
    for (;;) {
        if (--left == 0) {
            return false;
        }
        BusSleep(1);
        if ((GetStatus() & bit) == 0) {
            return true;
        }
    }
}

bool SerialFlash::IsReady(uint32_t count)
{
    return _PollStatus(count, c_statusBusy);
}

bool SerialFlash::IsReadyForWritting(uint32_t count)
{
    return _PollStatus(count, c_statusWriteEnabled);
}

bool SerialFlash::SectorErase(uint16_t sector)
{
    if (m_config == nullptr) {
        return false;
    }
    const uint32_t address = sector * m_config->sectorSize;
    ISTD_TRACE(1, "flash device: sector (" << sector << ") at addr 0x" << std::hex << address << " erased.");
    TransferData(c_cmdSectorErase, address, nullptr, 0, nullptr, 0);
    return true;
}

bool SerialFlash::WritePage(uint32_t address, const uint8_t* page)
{
    SetLen(32);
    uint8_t frame[4 + c_pageSize];
    frame[0] = c_cmdPageProgram;
    frame[1] = static_cast<uint8_t>(address >> 16);
    frame[2] = static_cast<uint8_t>(address >> 8);
    frame[3] = static_cast<uint8_t>(address);
    std::memcpy(frame + 4, page, c_pageSize);
    uint64_t words[sizeof frame / 4];
    for (size_t w = 0; w < sizeof frame / 4; ++w) {
        words[w] = uint64_t{frame[4 * w]} << 24 | uint64_t{frame[4 * w + 1]} << 16 | uint64_t{frame[4 * w + 2]} << 8 |
                   frame[4 * w + 3];
    }
    Transfer(0, words, sizeof frame / 4, nullptr, 0);
    return true;
}

bool SerialFlash::ReadPage(uint32_t address, uint8_t* page)
{
    SetLen(32);
    const uint64_t command = uint64_t{c_cmdRead} << 24 | (address & 0xFFFFFF);
    uint64_t words[c_pageSize / 4];
    Transfer(0, &command, 1, words, c_pageSize / 4);
    for (uint32_t i = 0; i < c_pageSize; ++i) {
        page[i] = static_cast<uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
    }
    return true;
}

bool SerialFlash::WritePageAtAddr(uint32_t address, const uint8_t* page)
{
    ISTD_TRACE(1, "flash device: write page at addr 0x" << std::hex << address);
    if (address % c_pageSize != 0) {
        return false;
    }
    return WritePage(address, page);
}

bool SerialFlash::ReadPageAtAddr(uint32_t address, uint8_t* page)
{
    ISTD_TRACE(1, "flash device: read page at addr 0x" << std::hex << address);
    if (address % c_pageSize != 0) {
        return false;
    }
    return ReadPage(address, page);
}

bool SerialFlash::WriteDataAtAddr(uint32_t address, const uint8_t* data, uint32_t length)
{
    ISTD_TRACE(1, "flash device: write data at addr 0x" << std::hex << address);
    return TransferData(c_cmdPageProgram, address, data, length, nullptr, 0);
}

bool SerialFlash::ReadDataAtAddr(uint32_t address, uint8_t* buffer, uint32_t length)
{
    ISTD_TRACE(1, "flash device: read data at addr 0x" << std::hex << address);
    return TransferData(c_cmdRead, address, nullptr, 0, buffer, length);
}

bool SerialFlash::TransferData(uint8_t opcode, uint32_t address, const uint8_t* data, uint32_t n, uint8_t* buffer,
                               uint32_t m)
{
    SetLen(8);
    if (n > c_pageSize || m > c_pageSize) {
        return false;
    }
    uint64_t out[4 + c_pageSize];
    uint32_t count = 0;
    out[count++] = opcode;
    if (address != c_noAddress) {
        out[count++] = address >> 16 & 0xFF;
        out[count++] = address >> 8 & 0xFF;
        out[count++] = address & 0xFF;
    }
    for (uint32_t i = 0; i < n; ++i) {
        out[count++] = data[i];
    }
    uint64_t in[c_pageSize];
    Transfer(0, out, count, in, m);
    for (uint32_t i = 0; i < m; ++i) {
        buffer[i] = static_cast<uint8_t>(in[i]);
    }
    return true;
}

void SerialFlash::SetLen(uint16_t bits)
{
    // Under the controller's lock, so that no transfer sees the parameters half changed.
    BusControllerLocker lock(m_controller);
    const BusParamsPtr params = GetParams();
    if (!params) {
        throw std::bad_cast();
    }
    SpiBusParams& spi = dynamic_cast<SpiBusParams&>(*params);
    if (spi.m_transfer_len != bits) {
        spi.m_changed = true;
    }
    spi.m_transfer_len = bits;
}

bool SerialFlash::AutoincWriteInit()
{
    m_autoinc_active = true;
    m_write_address = 0;
    m_current_sector = 0xFFFFFFFF;
    return true;
}

bool SerialFlash::AutoincWrite(const uint8_t* page)
{
    ISTD_TRACE_FNC("bool bmc::SerialFlash::AutoincWrite(const uint8_t*)");
    if (!m_autoinc_active || m_config == nullptr) {
        return false;
    }
    // A page past the end would wrap to address 0 and erase the start of what was just written.
    const uint64_t end = uint64_t{m_config->sectorSize} * m_config->sectorCount;
    if (uint64_t{m_write_address} + c_pageSize > end) {
        ISTD_TRACE(1, "flash device: page at addr 0x" << std::hex << m_write_address << " is past the end");
        return false;
    }
    const uint32_t sector = m_write_address / m_config->sectorSize;
    if (sector != m_current_sector) {
        if (!IsReady(c_pollsBeforeErase)) {
            return false;
        }
        WriteEnable(true);
        SectorErase(static_cast<uint16_t>(sector));
        // Only now: a sector recorded before its erase was issued would be programmed unerased
        // by the next call after a failed wait.
        m_current_sector = sector;
    }
    if (!IsReady(c_pollsAroundProgram)) {
        return false;
    }
    WriteEnable(true);
    WritePageAtAddr(m_write_address, page);
    if (!IsReady(c_pollsAroundProgram)) {
        return false;
    }
    uint8_t check[c_pageSize] = {};
    ReadPageAtAddr(m_write_address, check);
    if (std::memcmp(check, page, c_pageSize) == 0) {
        ISTD_TRACE(1, "flash device: ok");
        m_write_address += c_pageSize;
        return true;
    }
    for (uint32_t i = 0; i < c_pageSize; ++i) {
        if (check[i] != page[i]) {
            ISTD_TRACE(1, "flash device: data mismatch" << i << ") " << std::hex << unsigned{check[i]} << "!="
                                                        << unsigned{page[i]});
        }
    }
    return false;
}

bool SerialFlash::AutoincWriteFinish(const uint8_t* data, uint32_t length)
{
    ISTD_TRACE_FNC("bool bmc::SerialFlash::AutoincWriteFinish(const uint8_t*, uint32_t)");
    if (!m_autoinc_active) {
        return false;
    }
    if (length > c_pageSize) {
        // More than the page holds: nothing is written, and the write ends.
        m_autoinc_active = false;
        return false;
    }
    uint8_t page[c_pageSize] = {};
    if (length > 0) {
        std::memcpy(page, data, length);
    }
    const bool written = AutoincWrite(page);
    m_autoinc_active = false;
    return written;
}

} // namespace bmc
