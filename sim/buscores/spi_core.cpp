#include "sim/buscores/spi_core.h"

#include <stdexcept>

namespace sim {

namespace {

const char* _Name(size_t reg)
{
    switch (reg) {
    case SpiCoreModel::c_control:
        return "control";
    case SpiCoreModel::c_chipSelect:
        return "chip_select";
    case SpiCoreModel::c_data:
        return "data";
    case SpiCoreModel::c_output:
        return "output";
    default:
        return "?";
    }
}

SpiShiftFormat _Format(uint64_t control)
{
    return SpiShiftFormat{static_cast<unsigned>(control >> 8 & 0x3F), (control >> 19 & 1) != 0,
                          (control >> 16 & 1) != 0, (control >> 17 & 1) != 0, (control >> 18 & 1) != 0,
                          static_cast<uint32_t>(control & 0x1F)};
}

uint64_t _Mask(unsigned bits)
{
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

} // namespace

SpiChipModel::~SpiChipModel() = default;

std::string SpiEvent::ToString() const
{
    switch (kind) {
    case eControl:
        return "CONTROL " + HexText(word);
    case eSelect:
        return "SELECT " + std::to_string(line);
    case eShift:
        return "SHIFT " + std::to_string(bits) + " " + HexText(word) + " -> " + HexText(miso);
    case eDeselect:
        break;
    }
    return "DESELECT " + std::to_string(line);
}

SpiCoreModel::SpiCoreModel(bool activeHigh)
    : TracedCoreModel(c_windowSize), m_activeHigh(activeHigh), m_chipSelect(activeHigh ? 0 : 0xFFFFFFFF)
{
}

SpiCoreModel::~SpiCoreModel() = default;

void SpiCoreModel::Attach(unsigned line, SpiChipModelPtr chip)
{
    if (line >= c_lines || !chip) {
        throw std::invalid_argument("sim: an SPI chip needs a chip-select line from 0 to 31 and a model");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_chips.emplace(line, std::move(chip)).second) {
        throw std::invalid_argument("sim: SPI chip-select line " + std::to_string(line) + " is taken");
    }
}

void SpiCoreModel::Detach(unsigned line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chips.erase(line);
}

uint64_t SpiCoreModel::GetControl() const
{
    return _Locked(m_control);
}

uint64_t SpiCoreModel::GetChipSelect() const
{
    return _Locked(m_chipSelect);
}

uint64_t SpiCoreModel::GetOutput() const
{
    return m_output.load();
}

void SpiCoreModel::_Record(bool write, size_t offset, uint64_t value)
{
    TracedCoreModel::_Record(write, offset, value, _Name(offset & ~size_t{7}));
}

bool SpiCoreModel::_Selected(uint64_t chipSelect, unsigned line) const
{
    return ((chipSelect >> line & 1) != 0) == m_activeHigh;
}

uint64_t SpiCoreModel::_Read(size_t reg)
{
    switch (reg) {
    case c_control:
        return _ReadBusy() ? c_statusBusy : 0;
    case c_chipSelect:
        return m_chipSelect;
    case c_data:
        return m_rx;
    case c_output:
        return m_output.load();
    default:
        return 0;
    }
}

void SpiCoreModel::_Write(size_t reg, uint64_t value)
{
    switch (reg) {
    case c_control:
        m_control = value;
        _Event(SpiEvent{SpiEvent::eControl, 0, value, 0, 0});
        break;
    case c_chipSelect: {
        const uint64_t changed = (m_chipSelect ^ value) & 0xFFFFFFFF;
        m_chipSelect = value;
        for (unsigned line = 0; line < c_lines; ++line) {
            if ((changed >> line & 1) == 0) {
                continue;
            }
            const bool is = _Selected(value, line);
            const auto chip = m_chips.find(line);
            if (chip != m_chips.end()) {
                is ? chip->second->OnSelect() : chip->second->OnDeselect();
            }
            _Event(SpiEvent{is ? SpiEvent::eSelect : SpiEvent::eDeselect, line, 0, 0, 0});
        }
        break;
    }
    case c_data: {
        const SpiShiftFormat format = _Format(m_control);
        const uint64_t mask = _Mask(format.bits);
        const uint64_t mosi = value & mask;
        bool answered = false;
        uint64_t miso = mask; // the idle line reads ones
        for (const auto& [line, chip] : m_chips) { // in line order
            if (!_Selected(m_chipSelect, line)) {
                continue;
            }
            const uint64_t answer = chip->OnShift(mosi, format) & mask;
            if (!answered) {
                miso = answer;
                answered = true;
            }
        }
        m_rx = miso;
        _StartBusy();
        _Event(SpiEvent{SpiEvent::eShift, 0, mosi, miso, format.bits});
        break;
    }
    case c_output:
        m_output.store(value);
        break;
    default:
        break;
    }
}

uint64_t SpiCoreModel::OnRead64(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t value = offset % 8 == 0 ? _Read(offset) : 0;
    _Record(false, offset, value);
    return value;
}

void SpiCoreModel::OnWrite64(size_t offset, uint64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Record(true, offset, value);
    if (offset % 8 == 0) {
        _Write(offset, value);
    }
}

uint32_t SpiCoreModel::OnRead32(size_t offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t whole = _Read(offset & ~size_t{7});
    const auto value = static_cast<uint32_t>(offset % 8 == 0 ? whole : whole >> 32);
    _Record(false, offset, value);
    return value;
}

void SpiCoreModel::OnWrite32(size_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _Record(true, offset, value);
    if (offset % 8 == 0) {
        _Write(offset, value);
    }
}

} // namespace sim
