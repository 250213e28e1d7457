#include "sim/chips/spd_eeprom.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// The CRC of every value of the top byte, so that the image is sealed a byte at a time.
std::array<uint16_t, 256> _CrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned top = 0; top < 256; ++top) {
        unsigned crc = top << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        }
        table[top] = static_cast<uint16_t>(crc);
    }
    return table;
}

} // namespace

SpdEepromModel::SpdEepromModel() : I2cChipBase(256)
{
    SetImage(Ddr3Image(true));
}

void SpdEepromModel::SetImage(const Image& image)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::copy(image.begin(), image.end(), m_registers.begin());
}

SpdEepromModel::Image SpdEepromModel::GetImage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Image image{};
    std::copy(m_registers.begin(), m_registers.end(), image.begin());
    return image;
}

uint16_t SpdEepromModel::Crc16(const uint8_t* data, size_t length)
{
    static const std::array<uint16_t, 256> table = _CrcTable();
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc << 8 ^ table[(crc >> 8 ^ data[i]) & 0xFF]);
    }
    return crc;
}

void SpdEepromModel::SealImage(Image& image)
{
    const size_t covered = (image[0] & 0x80) ? 117 : 126;
    const uint16_t crc = Crc16(image.data(), covered);
    image[126] = static_cast<uint8_t>(crc);
    image[127] = static_cast<uint8_t>(crc >> 8);
}

SpdEepromModel::Image SpdEepromModel::Ddr3Image(bool crcOver117)
{
    static const uint8_t c_head[] = {
        0x92, 0x10, 0x0B, 0x02, 0x03, 0x19, 0x00, 0x01, 0x03, 0x52, 0x01, 0x08, 0x0C, 0x00, 0x7E, 0x00, // 0-15
        0x69, 0x78, 0x69, 0x30, 0x69, 0x11, 0x20, 0x89, 0x70, 0x03, 0x3C, 0x3C, 0x00, 0xF0, 0x83, 0x01, // 16-31
    };
    Image image{};
    std::copy(std::begin(c_head), std::end(c_head), image.begin());
    image[0] = static_cast<uint8_t>(crcOver117 ? image[0] | 0x80 : image[0] & 0x7F);
    image[60] = 0x0F; // module height
    image[117] = 0x80; // module maker (bank 1)
    image[118] = 0x2C;
    const char part[] = "SIM-DDR3-2G-1333  ";
    std::memcpy(&image[128], part, 18);
    SealImage(image);
    return image;
}

} // namespace sim
