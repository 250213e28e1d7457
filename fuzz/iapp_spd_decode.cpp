// What the SPD EEPROM wrapper makes of any 256-byte image: its decoding, with the driver's CRC
// check deciding whether the image describes a module, into the fifteen read-only nodes. Every
// node must read a defined value: 0 for a reserved code, a table's value otherwise, the timings
// by their formulas, "Trefi" 7800, and nothing but "Trefi" when the CRC fails. A table read past
// its end or a division by a device width of 0 is a sanitizer finding.
//
// Input: [0..255] the image (missing bytes 0); [256] bit 0: seal the image with its CRC first,
// so that random contents reach the decoding as a valid SPD too.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "bmc/i2c_device_spd_eeprom.h"
#include "fuzz_support.h"
#include "iapp/devices/i2c_SPD_EEPROM.h"
#include "ireg/reg_node.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace {

using fuzzsupport::Finding;

// Bytes 126 and 127 take the CRC-16 (polynomial 0x1021, initial 0) of the covered bytes.
void Seal(bmc::tSpdEepromRegMap& map)
{
    const int length = (map[0] & 0x80) ? 117 : 126;
    const uint16_t crc = bmc::SpdEeprom::Crc16(reinterpret_cast<const char*>(map.bytes), length);
    map[126] = static_cast<uint8_t>(crc);
    map[127] = static_cast<uint8_t>(crc >> 8);
}

// The value of a code of a table; 0 past its end.
uint32_t Code(std::initializer_list<uint32_t> table, uint32_t code)
{
    return code < table.size() ? table.begin()[code] : 0;
}

// The fifteen node values an image must give.
std::vector<std::pair<std::string, uint32_t>> Expected(const bmc::tSpdEepromRegMap& map, bool valid)
{
    const auto b = [&map](size_t k) -> uint32_t { return map[k]; };
    const uint32_t ranks = Code({1, 2, 3, 4}, b(7) >> 3 & 7);
    const uint32_t width = Code({4, 8, 16, 32}, b(7) & 7);
    const uint32_t bus = Code({8, 16, 32, 64}, b(8) & 7);
    const uint32_t density = Code({256, 512, 1024, 2048, 4096, 8192, 16384}, b(4) & 15);
    const uint32_t capacity = ranks && width && bus && density ? density / 8 * bus / width * ranks : 0;
    std::vector<std::pair<std::string, uint32_t>> values = {
        {"capacity", capacity},
        {"rank_width", ranks},
        {"bank_width", Code({3, 4, 5, 6}, b(4) >> 4)},
        {"row_width", Code({12, 13, 14, 15, 16, 17}, b(5) >> 3 & 7)},
        {"column_width", Code({9, 10, 11, 12}, b(5) & 7)},
        {"Trcd", b(18) * 125},
        {"Tfaw", (b(28) * 256 + b(29)) * 125},
        {"Tras", ((b(21) & 15) * 256 + b(22)) * 125},
        {"Tck", b(12) * 125},
        {"Twtr", b(26) * 125},
        {"Trtp", b(27) * 125},
        {"Trrd", b(19) * 125},
        {"Trp", b(20) * 125},
        {"Trfc", (b(25) * 256 + b(24)) * 125},
        {"Trefi", 7800},
    };
    if (!valid) {
        for (auto& v : values) {
            v.second = v.first == "Trefi" ? 7800 : 0;
        }
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bmc::tSpdEepromRegMap map{};
    std::memcpy(map.bytes, data, size < sizeof map.bytes ? size : sizeof map.bytes);
    if (size > sizeof map.bytes && (data[sizeof map.bytes] & 1) != 0) {
        Seal(map);
    }
    const bool valid = bmc::SpdEeprom::Ddr3SpdCheck(&map);

    mci::TreeNodePtr node = mci::factory::Create<ireg::RegNode>("spd");
    iapp::SPD_EEPROM::AddRamParNodes(node, iapp::SPD_EEPROM::Decode(map, valid));
    std::vector<std::pair<std::string, uint32_t>> values;
    for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
        uint32_t value = 0;
        child->Get(value, 0, mci::c_noRelPath);
        values.emplace_back(child->GetName(), value);
        if (child->GetFlags() != 2) {
            Finding("writable node", child->GetName());
        }
    }
    if (values != Expected(map, valid)) {
        std::string text;
        for (const auto& v : values) {
            text += v.first + "=" + std::to_string(v.second) + " ";
        }
        Finding(valid ? "decoded values" : "values of an image whose CRC failed", text);
    }
    return 0;
}
