#include "sim/chips/spi_flash.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint8_t c_writeStatus = 0x01;
constexpr uint8_t c_pageProgram = 0x02;
constexpr uint8_t c_read = 0x03;
constexpr uint8_t c_writeDisable = 0x04;
constexpr uint8_t c_readStatus = 0x05;
constexpr uint8_t c_writeEnable = 0x06;
constexpr uint8_t c_readId = 0x9F;
constexpr uint8_t c_sectorErase = 0xD8;
constexpr uint8_t c_ignored = 0x00; // a command the busy chip does not take

constexpr size_t c_pageSize = 256;
constexpr size_t c_addressEnd = 4; // opcode and three address bytes

bool _PowerOfTwo(size_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

} // namespace

std::shared_ptr<SpiFlashModel> SpiFlashModel::Make(const Kind& kind)
{
    return std::make_shared<SpiFlashModel>(kind.manufacturer, kind.memoryType, kind.capacity, kind.size,
                                           kind.sectorSize);
}

SpiFlashModel::SpiFlashModel(uint8_t manufacturer, uint8_t memoryType, uint8_t capacity, size_t size,
                             size_t sectorSize)
    : SpiChipBase(0, false), m_id{manufacturer, memoryType, capacity}, m_sectorSize(sectorSize),
      m_pageBuffer(c_pageSize), m_pageWritten(c_pageSize)
{
    if (!_PowerOfTwo(size) || !_PowerOfTwo(sectorSize) || sectorSize < c_pageSize || sectorSize > size) {
        throw std::invalid_argument("sim: a flash needs power-of-two sizes with sectors of 256 bytes to the whole chip");
    }
    m_memory.assign(size, 0xFF);
}

SpiFlashModel::~SpiFlashModel() = default;

std::vector<uint8_t> SpiFlashModel::Read(size_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) {
        const size_t at = (address + i) & (m_memory.size() - 1);
        const auto stuck = m_stuckBits.find(at);
        bytes[i] = static_cast<uint8_t>(m_memory[at] | (stuck == m_stuckBits.end() ? 0 : stuck->second));
    }
    return bytes;
}

void SpiFlashModel::Load(size_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < bytes.size(); ++i) {
        m_memory[(address + i) & (m_memory.size() - 1)] = bytes[i];
    }
}

uint8_t SpiFlashModel::GetStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _Status();
}

std::vector<uint32_t> SpiFlashModel::GetErasedSectors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_erased;
}

size_t SpiFlashModel::GetProgramCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_programs;
}

std::vector<uint8_t> SpiFlashModel::GetOpcodes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opcodes;
}

void SpiFlashModel::SetOpcodeRecording(bool recording)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recordOpcodes = recording;
}

void SpiFlashModel::SetBusyReads(uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyReads = reads;
}

void SpiFlashModel::SetBusyStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuck = stuck;
}

void SpiFlashModel::SetStuckBits(size_t address, uint8_t bits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t at = address & (m_memory.size() - 1);
    if (bits == 0) {
        m_stuckBits.erase(at);
    } else {
        m_stuckBits[at] = bits;
    }
}

uint8_t SpiFlashModel::_Status() const
{
    return static_cast<uint8_t>(m_protection | (m_writeEnabled ? 0x02 : 0) | (_Busy() ? 0x01 : 0));
}

void SpiFlashModel::_Select()
{
    m_position = 0;
    m_opcode = c_ignored;
    m_address = 0;
    m_newStatus = -1;
    std::fill(m_pageWritten.begin(), m_pageWritten.end(), false);
}

uint8_t SpiFlashModel::_Byte(uint8_t byte)
{
    const size_t position = m_position++;
    if (position == 0) {
        if (m_recordOpcodes) {
            m_opcodes.push_back(byte);
        }
        m_opcode = _Busy() && byte != c_readStatus ? c_ignored : byte;
        return 0xFF; // the output floats while the opcode comes in
    }
    const bool addressByte = position < c_addressEnd;
    switch (m_opcode) {
    case c_readId:
        return position <= 3 ? m_id[position - 1] : 0x00;
    case c_readStatus: {
        const uint8_t status = _Status();
        if (m_busyLeft > 0) {
            --m_busyLeft;
        }
        return status;
    }
    case c_writeStatus:
        if (position == 1) {
            m_newStatus = byte;
        }
        return 0xFF;
    case c_read:
        if (addressByte) {
            m_address = m_address << 8 | byte;
            return 0xFF;
        } else {
            const uint32_t at = _Address();
            ++m_address;
            const auto stuck = m_stuckBits.find(at);
            return static_cast<uint8_t>(m_memory[at] | (stuck == m_stuckBits.end() ? 0 : stuck->second));
        }
    case c_pageProgram:
        if (addressByte) {
            m_address = m_address << 8 | byte;
        } else {
            // The page's bytes wrap inside the page, as the chip's page buffer does.
            const size_t column = m_address & (c_pageSize - 1);
            m_pageBuffer[column] = byte;
            m_pageWritten[column] = true;
            m_address = (m_address & ~uint32_t{c_pageSize - 1}) | ((m_address + 1) & (c_pageSize - 1));
        }
        return 0xFF;
    case c_sectorErase:
        if (addressByte) {
            m_address = m_address << 8 | byte;
        }
        return 0xFF;
    default:
        return 0xFF;
    }
}

void SpiFlashModel::_Deselect()
{
    const size_t received = m_position;
    m_position = 0;
    if (received == 0) {
        return;
    }
    switch (m_opcode) {
    case c_writeEnable:
        m_writeEnabled = true;
        break;
    case c_writeDisable:
        m_writeEnabled = false;
        break;
    case c_writeStatus:
        if (m_writeEnabled && m_newStatus >= 0) {
            m_protection = static_cast<uint8_t>(m_newStatus & 0xFC);
            m_writeEnabled = false;
            _StartBusy();
        }
        break;
    case c_pageProgram:
        if (m_writeEnabled && received > c_addressEnd) {
            const uint32_t page = _Address() & ~uint32_t{c_pageSize - 1};
            for (size_t i = 0; i < c_pageSize; ++i) {
                if (m_pageWritten[i]) {
                    m_memory[page + i] &= m_pageBuffer[i];
                }
            }
            ++m_programs;
            m_writeEnabled = false;
            _StartBusy();
        }
        break;
    case c_sectorErase:
        if (m_writeEnabled && received == c_addressEnd) {
            const uint32_t first = _Address() & ~static_cast<uint32_t>(m_sectorSize - 1);
            std::fill_n(m_memory.begin() + first, m_sectorSize, uint8_t{0xFF});
            m_erased.push_back(first);
            m_writeEnabled = false;
            _StartBusy();
        }
        break;
    default:
        break;
    }
}

} // namespace sim
