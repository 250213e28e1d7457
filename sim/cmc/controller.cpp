// The controller's side of the IPMI command set: one request in, one answer out.

#include <algorithm>
#include <ctime>

#include "sim/cmc/state.h"

namespace sim::cmc {
namespace {

using detail::Answer;
using detail::ChassisModel;
using detail::Modifiers;

constexpr uint8_t c_ok = 0x00;
constexpr uint8_t c_invalidCommand = 0xC1;
constexpr uint8_t c_invalidLength = 0xC7;
constexpr uint8_t c_outOfRange = 0xC9;
constexpr uint8_t c_cannotReturn = 0xCA;
constexpr uint8_t c_notPresent = 0xCB;
constexpr uint8_t c_invalidField = 0xCC;
constexpr uint8_t c_notInPresentState = 0xD5;

constexpr uint8_t c_picmgId = 0x00;

Answer Code(uint8_t ccode) {
    return Answer{ccode, {}};
}

Answer Data(std::vector<uint8_t> data) {
    return Answer{c_ok, std::move(data)};
}

uint32_t Le(const std::vector<uint8_t>& d, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(d[offset + i]) << (8 * i);
    return value;
}

void PutLe(std::vector<uint8_t>& d, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i)
        d.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void SetClock(BoardModel& board, uint32_t seconds) {
    board.clock = board.clockFrozen ? int64_t{seconds} : int64_t{seconds} - std::time(nullptr);
}

// The piece of a record from offset: count 0xFF is the rest of the record. Answers 0xCA when the
// piece and the two id bytes do not fit one frame, or the pieces fault allows less.
Answer RecordPiece(const std::vector<uint8_t>& record, uint16_t next, uint8_t offset, uint8_t count,
                   const Modifiers& modifiers) {
    if (offset > record.size())
        return Code(c_outOfRange);
    const size_t rest = record.size() - offset;
    const size_t wanted = count == 0xFF ? rest : count;
    if (wanted + 2 > c_frameData ||
        (modifiers.pieces >= 0 && wanted > static_cast<size_t>(modifiers.pieces)))
        return Code(c_cannotReturn);
    std::vector<uint8_t> data;
    PutLe(data, next, 2);
    const auto begin = record.begin() + offset;
    data.insert(data.end(), begin, begin + static_cast<long>(std::min(wanted, rest)));
    return Data(std::move(data));
}

// Get Device ID in the board's format.
Answer DeviceId(const BoardModel& b, const std::vector<uint8_t>& d) {
    const auto& id = b.identity;
    if (d.size() == 1 && d[0] == 0x0E) {
        if (b.format != BoardModel::IdFormat_e::eExtended)
            return Code(c_invalidLength);
        return Data({id.begin(), id.end()});
    }
    if (!d.empty())
        return Code(d.size() == 1 ? c_invalidField : c_invalidLength);
    if (b.format != BoardModel::IdFormat_e::eFirmware22)
        return Data({id.begin(), id.begin() + 15});
    // The answer of controller firmware 2.2, from which the system rebuilds the record.
    std::vector<uint8_t> a(25, 0);
    a[0] = id[0];
    a[1] = 0x82;
    a[2] = id[14];
    a[3] = id[13];
    a[4] = id[4];
    a[5] = id[5];
    std::copy(id.begin() + 6, id.begin() + 11, a.begin() + 6);
    a[13] = id[12];
    a[14] = id[11];
    a[15] = id[18];
    a[17] = id[19];
    a[18] = id[20];
    a[19] = id[17];
    a[20] = id[21];
    a[21] = id[15];
    a[22] = id[16];
    a[23] = id[1] & 0x7F;
    a[24] = id[10];
    return Data(std::move(a));
}

Answer Application(ChassisModel& c, BoardModel& b, const Request& r) {
    switch (r.cmd) {
    case 0x01:
        return DeviceId(b, r.data);
    case 0xA0: {  // board brief status: slots 1 to 8
        if (b.slot != 0)
            return Code(c_invalidCommand);
        std::vector<uint8_t> masks(3, 0);
        for (const auto& [slot, board] : c.boards) {
            if (slot < 1 || slot > 8)
                continue;
            const auto bit = static_cast<uint8_t>(1u << (slot - 1));
            masks[0] |= bit;
            masks[1] |= board.mngPower ? bit : 0;
            masks[2] |= board.mngPower && board.mainPower ? bit : 0;
        }
        return Data(std::move(masks));
    }
    default:
        return Code(c_invalidCommand);
    }
}

Answer SensorEvent(BoardModel& b, const Request& r, const Modifiers& m) {
    const auto& d = r.data;
    const size_t count = b.sensors.size();
    switch (r.cmd) {
    case 0x20:  // Get Device SDR Info: sensors (or records) and the LUN 0 flag
        if (d.size() > 1 || (d.size() == 1 && d[0] > 1))
            return Code(c_invalidField);
        return Data({static_cast<uint8_t>(count), 0x01});
    case 0x21: {  // Get Device SDR; record id 0xFFFF is the last record
        if (d.size() < 6)
            return Code(c_invalidLength);
        size_t id = Le(d, 2, 2);
        if (id == 0xFFFF && count != 0)
            id = count - 1;
        if (id >= count)
            return Code(c_notPresent);
        const uint16_t next = id + 1 < count ? static_cast<uint16_t>(id + 1) : 0xFFFF;
        return RecordPiece(b.sensors[id].record, next, d[4], d[5], m);
    }
    case 0x2D: {  // Get Sensor Reading
        if (d.empty())
            return Code(c_invalidLength);
        if (d[0] >= count || !b.sensors[d[0]].readable)
            return Code(c_notPresent);
        const SensorModel& s = b.sensors[d[0]];
        return Data({s.raw, static_cast<uint8_t>(m.unavailable ? s.status | 0x20 : s.status)});
    }
    default:
        return Code(c_invalidCommand);
    }
}

Answer HwInitStorage(BoardModel& b, const Request& r) {
    const auto& d = r.data;
    if (d.size() < 2)
        return Code(c_invalidLength);
    if (d[0] > 1)
        return Code(c_invalidField);
    auto& section = b.config[d[0]];
    bool& writing = b.configWriting[d[0]];
    const size_t offset = d.size() >= 4 ? Le(d, 2, 2) : 0;
    const size_t count = d.size() >= 5 ? d[4] : 0;
    switch (d[1]) {
    case 0:  // begin writing
        writing = true;
        return Data({});
    case 1:  // end writing
        if (!writing)
            return Code(c_notInPresentState);
        writing = false;
        return Data({});
    case 2:  // read a piece
        if (d.size() < 5)
            return Code(c_invalidLength);
        if (count > c_frameData)
            return Code(c_cannotReturn);
        if (offset + count > section.size())
            return Code(c_outOfRange);
        return Data({section.begin() + static_cast<long>(offset),
                     section.begin() + static_cast<long>(offset + count)});
    case 3:  // write a piece
        if (d.size() < 5 || count > c_frameData - 5 || d.size() < 5 + count)
            return Code(c_invalidLength);
        if (!writing)
            return Code(c_notInPresentState);
        if (offset + count > section.size())
            return Code(c_outOfRange);
        std::copy(d.begin() + 5, d.begin() + 5 + static_cast<long>(count),
                  section.begin() + static_cast<long>(offset));
        return Data({});
    case 4:  // erase
        std::fill(section.begin(), section.end(), 0xFF);
        writing = false;
        return Data({});
    case 5:  // run the hardware initialisation
        b.hwInitStarts.push_back(d[0]);
        return Data({0x00, 0x00, 0x00, 0x00});
    default:
        return Code(c_invalidField);
    }
}

Answer Storage(BoardModel& b, const Request& r, const Modifiers& m) {
    const auto& d = r.data;
    switch (r.cmd) {
    case 0x40: {  // Get SEL Info
        const size_t entries = b.sel.size();
        const size_t free = entries >= b.selCapacity ? 0 : (b.selCapacity - entries) * c_selEntrySize;
        std::vector<uint8_t> info{0x51};
        PutLe(info, static_cast<uint32_t>(entries), 2);
        PutLe(info, static_cast<uint32_t>(std::min<size_t>(free, 0xFFFF)), 2);
        PutLe(info, b.selLastAddition, 4);
        PutLe(info, b.selLastErase, 4);
        info.push_back(0x00);
        return Data(std::move(info));
    }
    case 0x43: {  // Get SEL Entry: ids count from 1; 0 is the first entry, 0xFFFF the last
        if (d.size() < 6)
            return Code(c_invalidLength);
        size_t id = Le(d, 2, 2);
        if (id == 0)
            id = 1;
        else if (id == 0xFFFF)
            id = b.sel.size();
        if (id == 0 || id > b.sel.size())
            return Code(c_notPresent);
        std::vector<uint8_t> record(b.sel[id - 1].begin(), b.sel[id - 1].end());
        record[0] = static_cast<uint8_t>(id);
        record[1] = static_cast<uint8_t>(id >> 8);
        const uint16_t next = id < b.sel.size() ? static_cast<uint16_t>(id + 1) : 0xFFFF;
        return RecordPiece(record, next, d[4], d[5], m);
    }
    case 0x47:  // Clear SEL
        if (d.size() < 6)
            return Code(c_invalidLength);
        if (d[2] != 'C' || d[3] != 'L' || d[4] != 'R' || (d[5] != 0xAA && d[5] != 0x00))
            return Code(c_invalidField);
        if (d[5] == 0xAA)
            detail::EraseLog(b);
        return Data({0x01});
    case 0x48: {  // Get SEL Time
        std::vector<uint8_t> time;
        PutLe(time, b.Clock(), 4);
        return Data(std::move(time));
    }
    case 0x49:  // Set SEL Time
        if (d.size() < 4)
            return Code(c_invalidLength);
        SetClock(b, Le(d, 0, 4));
        return Data({});
    case 0x70:
        return HwInitStorage(b, r);
    default:
        return Code(c_invalidCommand);
    }
}

Answer ChassisControl(ChassisModel& c, BoardModel& b, std::vector<PowerCommand>& powerLog,
                      const Request& r) {
    const auto& d = r.data;
    if (r.cmd != 0x02)
        return Code(c_invalidCommand);
    if (d.empty())
        return Code(c_invalidLength);
    const uint8_t code = d[0];
    switch (code) {
    case 0x00: case 0x01: case 0x02: {  // power down, up, cycle of a slot: the manager's work
        if (b.slot != 0)
            return Code(c_invalidField);
        if (d.size() < 2)
            return Code(c_invalidLength);
        const auto target = c.boards.find(d[1]);
        if (target == c.boards.end())
            return Code(c_invalidField);
        powerLog.push_back({d[1], code});
        // The manager never switches itself off: that would end the simulation.
        if (d[1] != 0) {
            target->second.mngPower = code != 0;
            target->second.mainPower = code != 0;
        }
        return Data({});
    }
    case 0xDC:  // FPGA register write, SPI path
        if (d.size() < 5)
            return Code(c_invalidLength);
        b.spiRegisters[static_cast<uint16_t>(Le(d, 1, 2))] = static_cast<uint16_t>(Le(d, 3, 2));
        return Data({});
    case 0xDB: {  // FPGA register read, SPI path
        if (d.size() < 3)
            return Code(c_invalidLength);
        const uint16_t address = static_cast<uint16_t>(Le(d, 1, 2));
        if (const auto failed = b.spiReadStatus.find(address); failed != b.spiReadStatus.end())
            return Data({failed->second, 0x00, 0x00});
        const auto found = b.spiRegisters.find(address);
        const uint16_t value = found == b.spiRegisters.end() ? 0 : found->second;
        return Data({0x00, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
    }
    case 0xAC:  // FPGA register write, AMBA path
        if (d.size() < 9)
            return Code(c_invalidLength);
        b.ambaRegisters[Le(d, 1, 4)] = Le(d, 5, 4);
        return Data({});
    case 0xAB: {  // FPGA register read, AMBA path
        if (d.size() < 5)
            return Code(c_invalidLength);
        const auto found = b.ambaRegisters.find(Le(d, 1, 4));
        std::vector<uint8_t> answer{0x00};
        PutLe(answer, found == b.ambaRegisters.end() ? 0 : found->second, 4);
        return Data(std::move(answer));
    }
    case 0x11:
        ++b.fpgaReboots;
        return Data({});
    case 12: case 13: case 23: case 24: case 25: case 26:  // JTAG chain operations
        b.jtagOperations.push_back(code);
        return Data({});
    default:
        return Code(c_invalidField);
    }
}

Answer Picmg(ChassisModel& c, BoardModel& b, const Request& r, const Modifiers& m) {
    const auto& d = r.data;
    if (d.empty())
        return Code(c_invalidLength);
    if (d[0] != c_picmgId)
        return Code(c_invalidField);
    switch (r.cmd) {
    case 0x19: {  // Set AMC Port State: the USB port of the slot named by the target address
        if (b.slot != 0)
            return Code(c_invalidCommand);
        if (d.size() < 7)
            return Code(c_invalidLength);
        const auto target = c.boards.find(r.target);
        if (target == c.boards.end())
            return Code(c_invalidField);
        target->second.usbPort = d[5] != 0;
        return Data({c_picmgId});
    }
    case 0x2E:  // Get Target Upgrade Capabilities
        return Data({b.hpmCapabilities.begin(), b.hpmCapabilities.end()});
    case 0x31:  // Initiate Upgrade Action: only upload for upgrade, of a present component
        if (d.size() < 3)
            return Code(c_invalidLength);
        if (d[2] != 0x02 || (d[1] & b.hpmCapabilities[7]) == 0)
            return Code(c_invalidField);
        b.uploadActive = true;
        b.nextBlock = 0;
        b.uploadBuffer.clear();
        return Data({c_picmgId});
    case 0x32:  // Upload Firmware Block
        if (d.size() < 3)
            return Code(c_invalidLength);
        if (!b.uploadActive)
            return Code(c_notInPresentState);
        if (d[1] != b.nextBlock)
            return Code(c_invalidField);
        b.uploadBuffer.insert(b.uploadBuffer.end(), d.begin() + 2, d.end());
        ++b.nextBlock;
        return Data({c_picmgId});
    case 0x33:  // Finish Firmware Upload
        if (d.size() < 6)
            return Code(c_invalidLength);
        if (!b.uploadActive)
            return Code(c_notInPresentState);
        b.uploadActive = false;
        if (Le(d, 2, 4) != b.uploadBuffer.size())
            return Code(c_invalidField);
        b.image = b.uploadBuffer;
        b.uploads.push_back(std::move(b.uploadBuffer));
        b.uploadBuffer.clear();
        return Data({c_picmgId});
    case 0x2F: {  // image read-back from a 24-bit offset, most significant byte first
        if (d.size() < 6)
            return Code(c_invalidLength);
        if (d[2] != 0x0B)
            return Code(c_invalidField);
        if (b.image.empty())
            return Code(c_notPresent);
        const size_t offset = size_t{d[3]} << 16 | size_t{d[4]} << 8 | d[5];
        if (offset >= b.image.size())
            return Code(c_outOfRange);
        size_t n = std::min(c_frameData, b.image.size() - offset);
        if (m.pieces >= 0)
            n = std::min(n, static_cast<size_t>(m.pieces));
        const auto begin = b.image.begin() + static_cast<long>(offset);
        return Data({begin, begin + static_cast<long>(n)});
    }
    default:
        return Code(c_invalidCommand);
    }
}

}  // namespace

uint32_t BoardModel::Clock() const {
    return static_cast<uint32_t>(clockFrozen ? clock : clock + std::time(nullptr));
}

bool ConfigChecksumOk(const std::vector<uint8_t>& section) {
    if (section.size() < 4)
        return false;
    uint32_t sum = 0;
    for (size_t i = 4; i < section.size(); ++i)
        sum += section[i];
    return sum == Le(section, 0, 4);
}

namespace detail {

void EraseLog(BoardModel& board) {
    board.sel.clear();
    board.selLastErase = board.Clock();
    ++board.selClears;
}

Answer Respond(ChassisModel& chassis, BoardModel& board, std::vector<PowerCommand>& powerLog,
               const Request& request, const Modifiers& modifiers) {
    switch (request.netFn) {
    case 0x00:
        return ChassisControl(chassis, board, powerLog, request);
    case 0x04:
        return SensorEvent(board, request, modifiers);
    case 0x06:
        return Application(chassis, board, request);
    case 0x0A:
        return Storage(board, request, modifiers);
    case 0x2C:
        return Picmg(chassis, board, request, modifiers);
    default:
        return Code(c_invalidCommand);
    }
}

}  // namespace detail
}  // namespace sim::cmc
