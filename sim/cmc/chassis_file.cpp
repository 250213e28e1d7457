// Reading chassis files and fault texts (format in simulator.h).

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "sim/cmc/state.h"

namespace sim::cmc {
namespace {

struct NamedCode {
    const char* name;
    int code;
};

// Device ids of the boards the controllers report.
const NamedCode c_boardTypes[] = {
    {"INVA", 255}, {"KOZ", 44}, {"JY", 236}, {"WRP", 46}, {"MOKVE", 173}, {"NUSTA", 160},
    {"PELOX", 161}, {"HUMVA", 219}, {"ZEK", 175}, {"OBLIN", 174}, {"WYQ", 125}, {"PAX", 62},
    {"K7N", 92}, {"DWO", 93}, {"ZOLT", 235}, {"QEV", 94}, {"uTCA", 244}, {"OS", 243}};

// Boards that run firmware of their own; their firmware type is their board type.
const int c_firmwareCarriers[] = {44, 173, 236, 46, 219};

const std::string c_slotStatements[] = {"power", "usb", "identity", "sensor", "event", "sel",
                                        "spi", "amba", "hpm", "image", "config"};

const NamedCode c_severities[] = {{"Info", 0}, {"Warning", 1}, {"Error", 2}};

struct KindName {
    const char* name;
    FaultKind_e kind;
};

const KindName c_faultKinds[] = {
    {"ccode", FaultKind_e::eCompletionCode}, {"timeout", FaultKind_e::eTimeout},
    {"short", FaultKind_e::eShortFrame}, {"fn", FaultKind_e::eWrongFn},
    {"stale", FaultKind_e::eStale}, {"length", FaultKind_e::eDataLength},
    {"truncate", FaultKind_e::eTruncate}, {"unavailable", FaultKind_e::eUnavailable},
    {"pieces", FaultKind_e::ePieces}, {"erase", FaultKind_e::eEraseLog},
    {"write-error", FaultKind_e::eWriteError}, {"read-error", FaultKind_e::eReadError},
    {"pending", FaultKind_e::ePending}, {"claim", FaultKind_e::eClaim},
    {"open", FaultKind_e::eOpen}, {"release", FaultKind_e::eRelease},
    {"descriptor", FaultKind_e::eDescriptor}, {"list", FaultKind_e::eList},
    {"init", FaultKind_e::eInit}};

// Kinds whose value is a libusb result code (given by name or number).
bool TakesResultCode(FaultKind_e kind) {
    switch (kind) {
    case FaultKind_e::eWriteError: case FaultKind_e::eReadError: case FaultKind_e::eClaim:
    case FaultKind_e::eOpen: case FaultKind_e::eRelease: case FaultKind_e::eDescriptor:
    case FaultKind_e::eList: case FaultKind_e::eInit:
        return true;
    default:
        return false;
    }
}

bool ValueRequired(FaultKind_e kind) {
    return kind == FaultKind_e::eCompletionCode || kind == FaultKind_e::eDataLength ||
           kind == FaultKind_e::eTruncate || kind == FaultKind_e::ePieces;
}

bool TakesNoValue(FaultKind_e kind) {
    return kind == FaultKind_e::eTimeout || kind == FaultKind_e::eUnavailable ||
           kind == FaultKind_e::eEraseLog;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// A number as the file writes it: decimal or 0x-hexadecimal, optionally negative, nothing else.
bool ToNumber(const std::string& text, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    int base = 10;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return false;
    uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return false;
        if (result > (uint64_t{1} << 40))
            return false;
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    value = negative ? -static_cast<int64_t>(result) : static_cast<int64_t>(result);
    return true;
}

class Parser {
public:
    explicit Parser(std::string origin) : m_origin(std::move(origin)) {}

    [[noreturn]] void Fail(const std::string& message) const {
        if (m_line == 0)
            throw Error(m_origin + ": " + message);
        throw Error(m_origin + " line " + std::to_string(m_line) + ": " + message);
    }

    void SetLine(size_t line) { m_line = line; }

    int64_t Number(const std::string& text, int64_t low, int64_t high, const char* what) const {
        int64_t value = 0;
        if (!ToNumber(text, value))
            Fail(std::string("bad number for ") + what + ": \"" + text + "\"");
        if (value < low || value > high)
            Fail(std::string(what) + " out of range: " + text);
        return value;
    }

    uint8_t Byte(const std::string& text, const char* what) const {
        return static_cast<uint8_t>(Number(text, 0, 255, what));
    }

    std::vector<uint8_t> ByteList(const std::string& text, const char* what) const {
        std::vector<uint8_t> bytes;
        size_t start = 0;
        while (start <= text.size()) {
            const size_t comma = std::min(text.find(',', start), text.size());
            bytes.push_back(Byte(text.substr(start, comma - start), what));
            start = comma + 1;
        }
        return bytes;
    }

    std::vector<uint8_t> Blob(const std::string& text, const char* what) const {
        if (text.size() % 2 != 0)
            Fail(std::string("odd number of hexadecimal digits in ") + what);
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < text.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
                Fail(std::string("bad hexadecimal digits in ") + what);
            bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
        return bytes;
    }

    int Named(const std::string& text, const NamedCode* table, size_t size, int64_t high,
              const char* what) const {
        for (size_t i = 0; i < size; ++i)
            if (text == table[i].name)
                return table[i].code;
        return static_cast<int>(Number(text, 0, high, what));
    }

    // key=value arguments from position first on; every key must be among allowed.
    std::map<std::string, std::string> Keys(const std::vector<std::string>& words, size_t first,
                                            std::initializer_list<const char*> allowed) const {
        std::map<std::string, std::string> keys;
        for (size_t i = first; i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            if (eq == std::string::npos || eq == 0)
                Fail("expected key=value, found \"" + words[i] + "\"");
            const std::string key = words[i].substr(0, eq);
            if (std::none_of(allowed.begin(), allowed.end(),
                             [&](const char* a) { return key == a; }))
                Fail("unknown key \"" + key + "\"");
            if (!keys.emplace(key, words[i].substr(eq + 1)).second)
                Fail("key \"" + key + "\" given twice");
        }
        return keys;
    }

private:
    std::string m_origin;
    size_t m_line = 0;
};

Fault ParseFault(const Parser& p, const std::vector<std::string>& words, size_t first) {
    if (first >= words.size())
        p.Fail("fault without a kind");
    Fault fault;
    const auto kind = std::find_if(std::begin(c_faultKinds), std::end(c_faultKinds),
                                   [&](const KindName& k) { return words[first] == k.name; });
    if (kind == std::end(c_faultKinds))
        p.Fail("unknown fault kind \"" + words[first] + "\"");
    fault.kind = kind->kind;
    size_t next = first + 1;
    if (next < words.size() && words[next].find('=') == std::string::npos) {
        if (TakesNoValue(fault.kind))
            p.Fail("fault " + words[first] + " takes no value");
        if (TakesResultCode(fault.kind)) {
            const auto code = detail::ResultCode(words[next]);
            if (!code || *code >= 0)
                p.Fail("bad libusb error code \"" + words[next] + "\"");
            fault.value = *code;
        } else {
            fault.value = static_cast<int>(p.Number(words[next], 0, 255, "fault value"));
        }
        ++next;
    } else if (ValueRequired(fault.kind)) {
        p.Fail("fault " + words[first] + " needs a value");
    }
    const auto keys = p.Keys(words, next, {"slot", "device", "netfn", "cmd", "data", "skip",
                                           "count", "prob"});
    for (const auto& [key, value] : keys) {
        if (key == "slot")
            fault.slot = static_cast<int>(p.Number(value, 0, 31, "slot"));
        else if (key == "device")
            fault.device = value;
        else if (key == "netfn")
            fault.netFn = static_cast<int>(p.Number(value, 0, 63, "netfn"));
        else if (key == "cmd")
            fault.cmd = p.Byte(value, "cmd");
        else if (key == "data")
            fault.data = p.ByteList(value, "data");
        else if (key == "skip")
            fault.skip = static_cast<unsigned>(p.Number(value, 0, 1 << 30, "skip"));
        else if (key == "count")
            fault.count = value == "forever" ? -1
                                             : static_cast<int>(p.Number(value, 1, 1 << 30, "count"));
        else if (key == "prob") {
            char* end = nullptr;
            const double prob = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(prob >= 0.0 && prob <= 1.0))
                p.Fail("prob must be a number from 0 to 1");
            fault.probability = prob;
        }
    }
    return fault;
}

void PutLe(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

class ChassisReader {
public:
    ChassisReader(const std::string& origin, std::string baseDir)
        : m_p(origin), m_baseDir(std::move(baseDir)) {}

    detail::ChassisModel Read(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        size_t number = 0;
        while (std::getline(in, line)) {
            m_p.SetLine(++number);
            m_line = number;
            const auto hash = line.find('#');
            if (hash != std::string::npos)
                line.erase(hash);
            const auto words = Words(line);
            if (!words.empty())
                _Statement(words);
        }
        for (auto& [slot, board] : m_model.boards) {
            const auto found = m_identities.find(slot);
            if (found != m_identities.end()) {
                m_p.SetLine(found->second.first);
                _Identity(board, found->second.second);
            } else {
                m_p.SetLine(0);
                _Identity(board, {});
            }
            if (m_clock) {
                board.clockFrozen = true;
                board.clock = *m_clock;
            }
        }
        return std::move(m_model);
    }

private:
    void _Statement(const std::vector<std::string>& w) {
        const std::string& what = w[0];
        if (what == "vendor") {
            _Count(w, 2);
            m_model.vendor = static_cast<uint16_t>(m_p.Number(w[1], 0, 0xFFFF, "vendor id"));
        } else if (what == "manufacturer") {
            _Count(w, 2);
            m_model.manufacturer =
                static_cast<uint32_t>(m_p.Number(w[1], 0, 0xFFFFFF, "manufacturer id"));
        } else if (what == "seed") {
            _Count(w, 2);
            m_model.seed = static_cast<uint32_t>(m_p.Number(w[1], 0, 0xFFFFFFFF, "seed"));
        } else if (what == "clock") {
            _Count(w, 2);
            m_clock = m_p.Number(w[1], 0, 0xFFFFFFFF, "clock");
        } else if (what == "usb" && !(m_board != nullptr && w.size() == 2)) {
            _Usb(w);
        } else if (what == "fault") {
            m_model.faults.push_back(ParseFault(m_p, w, 1));
        } else if (what == "slot") {
            _Slot(w);
        } else if (m_board != nullptr) {
            _SlotStatement(w);
        } else if (std::count(std::begin(c_slotStatements), std::end(c_slotStatements), what) != 0) {
            m_p.Fail("\"" + what + "\" belongs in a slot section");
        } else {
            m_p.Fail("unknown statement \"" + what + "\"");
        }
    }

    void _Count(const std::vector<std::string>& w, size_t count) const {
        if (w.size() != count)
            m_p.Fail("\"" + w[0] + "\" takes " + std::to_string(count - 1) + " argument(s)");
    }

    void _Usb(const std::vector<std::string>& w) {
        if (w.size() != 4 && !(w.size() == 5 && w[4] == "first"))
            m_p.Fail("usb takes a name, a vendor id, a product id and optionally \"first\"");
        if (w[1] == "hub" || w[1].rfind("slot", 0) == 0)
            m_p.Fail("usb device name \"" + w[1] + "\" is reserved");
        for (const auto& e : m_model.extras)
            if (e.name == w[1])
                m_p.Fail("usb device \"" + w[1] + "\" defined twice");
        detail::ExtraDevice device;
        device.name = w[1];
        device.vendor = static_cast<uint16_t>(m_p.Number(w[2], 0, 0xFFFF, "vendor id"));
        device.product = static_cast<uint16_t>(m_p.Number(w[3], 0, 0xFFFF, "product id"));
        device.first = w.size() == 5;
        m_model.extras.push_back(device);
    }

    void _Slot(const std::vector<std::string>& w) {
        m_board = nullptr;
        _Count(w, 3);
        const int slot = static_cast<int>(m_p.Number(w[1], 0, 31, "slot"));
        if (m_model.boards.count(slot) != 0 || m_emptySlots.count(slot) != 0)
            m_p.Fail("slot " + w[1] + " defined twice");
        if (w[2] == "empty") {
            m_emptySlots.insert({slot, true});
            return;
        }
        BoardModel& board = m_model.boards[slot];
        board.slot = slot;
        board.type = static_cast<uint8_t>(
            m_p.Named(w[2], c_boardTypes, std::size(c_boardTypes), 255, "board type"));
        board.config[0].assign(c_baseSectionSize, 0xFF);
        board.config[1].assign(c_subsystemSectionSize, 0xFF);
        m_board = &board;
    }

    void _SlotStatement(const std::vector<std::string>& w) {
        const std::string& what = w[0];
        if (what == "power") {
            _Count(w, 2);
            if (w[1] != "off" && w[1] != "mng" && w[1] != "main")
                m_p.Fail("power is off, mng or main");
            m_board->mngPower = w[1] != "off";
            m_board->mainPower = w[1] == "main";
        } else if (what == "usb") {
            _Count(w, 2);
            if (w[1] != "on" && w[1] != "off")
                m_p.Fail("usb is on or off");
            m_board->usbPort = w[1] == "on";
        } else if (what == "identity") {
            if (m_identities.count(m_board->slot) != 0)
                m_p.Fail("identity given twice");
            m_identities[m_board->slot].first = m_line;
            m_identities[m_board->slot].second = m_p.Keys(w, 1, {"format", "rev", "fw", "ipmi", "support",
                                         "manufacturer", "product", "fwtype", "fwrev", "fpga",
                                         "status", "flags", "ext"});
        } else if (what == "sensor") {
            _Sensor(w);
        } else if (what == "event") {
            _Event(w);
        } else if (what == "sel") {
            const auto keys = m_p.Keys(w, 1, {"capacity"});
            if (keys.count("capacity") != 0)
                m_board->selCapacity =
                    static_cast<unsigned>(m_p.Number(keys.at("capacity"), 0, 65535, "capacity"));
        } else if (what == "spi") {
            _Count(w, 3);
            m_board->spiRegisters[static_cast<uint16_t>(m_p.Number(w[1], 0, 0xFFFF, "address"))] =
                static_cast<uint16_t>(m_p.Number(w[2], 0, 0xFFFF, "value"));
        } else if (what == "amba") {
            _Count(w, 3);
            m_board->ambaRegisters[static_cast<uint32_t>(
                m_p.Number(w[1], 0, 0xFFFFFFFF, "address"))] =
                static_cast<uint32_t>(m_p.Number(w[2], 0, 0xFFFFFFFF, "value"));
        } else if (what == "hpm") {
            _Hpm(w);
        } else if (what == "image") {
            _Count(w, 2);
            m_board->image = _File(w[1], 1u << 24);
        } else if (what == "config") {
            _Count(w, 3);
            if (w[1] != "base" && w[1] != "subsystem")
                m_p.Fail("config section is base or subsystem");
            auto& section = m_board->config[w[1] == "base" ? 0 : 1];
            const auto bytes = _File(w[2], section.size());
            std::copy(bytes.begin(), bytes.end(), section.begin());
        } else {
            m_p.Fail("unknown statement \"" + what + "\"");
        }
    }

    std::vector<uint8_t> _File(const std::string& name, size_t limit) const {
        const std::string path = !name.empty() && name[0] == '/' ? name : m_baseDir + name;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            m_p.Fail("cannot open \"" + path + "\"");
        // Read one byte past the limit at most: the path may name an endless device.
        std::vector<uint8_t> bytes(limit + 1);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (in.bad())
            m_p.Fail("cannot read \"" + path + "\"");
        bytes.resize(static_cast<size_t>(in.gcount()));
        if (bytes.size() > limit)
            m_p.Fail("\"" + path + "\" is larger than " + std::to_string(limit) + " bytes");
        return bytes;
    }

    void _Reading(SensorModel& sensor, const std::map<std::string, std::string>& keys) const {
        if (keys.count("raw") != 0)
            sensor.raw = m_p.Byte(keys.at("raw"), "raw");
        if (keys.count("status") != 0)
            sensor.status = m_p.Byte(keys.at("status"), "status");
    }

    static void _Name(std::vector<uint8_t>& record, size_t lengthAt, const std::string& name) {
        if (name.empty())
            return;
        record[lengthAt] = static_cast<uint8_t>(0xC0 | name.size());
        std::copy(name.begin(), name.end(), record.begin() + static_cast<long>(lengthAt) + 1);
    }

    void _Sensor(const std::vector<std::string>& w) {
        if (w.size() < 2)
            m_p.Fail("sensor needs a kind: full, mcloc or raw");
        const size_t index = m_board->sensors.size();
        if (index > 255)
            m_p.Fail("a board has at most 256 sensors");
        SensorModel sensor;
        sensor.record.assign(c_sdrSize, 0);
        auto& r = sensor.record;
        if (w[1] == "full" || w[1] == "mcloc") {
            PutLe(r, 0, index, 2);
            r[2] = 0x51;
            r[4] = static_cast<uint8_t>(c_sdrSize - 5);
            r[5] = 0x20;
        }
        if (w[1] == "full") {
            const auto k = m_p.Keys(w, 2, {"name", "stype", "format", "unit", "modunit", "usage",
                                           "lin", "m", "b", "k1", "k2", "nominal", "unr", "uc",
                                           "unc", "lnr", "lc", "lnc", "raw", "status"});
            auto get = [&](const char* key, int64_t low, int64_t high, int64_t fallback) {
                return k.count(key) != 0 ? m_p.Number(k.at(key), low, high, key) : fallback;
            };
            const std::string name = k.count("name") != 0 ? k.at("name") : "";
            if (name.size() > 16)
                m_p.Fail("sensor name longer than 16 characters");
            const int64_t m = get("m", -512, 511, 1);
            const int64_t b = get("b", -512, 511, 0);
            r[3] = 0x01;
            r[7] = static_cast<uint8_t>(index);
            r[8] = 0x07;
            r[9] = 0x01;
            r[12] = static_cast<uint8_t>(get("stype", 0, 255, 1));
            r[13] = 0x01;
            r[20] = static_cast<uint8_t>(get("format", 0, 3, 0) << 6 | get("usage", 0, 3, 0) << 1);
            r[21] = static_cast<uint8_t>(get("unit", 0, 255, 0));
            r[22] = static_cast<uint8_t>(get("modunit", 0, 255, 0));
            r[23] = static_cast<uint8_t>(get("lin", 0, 127, 0));
            r[24] = static_cast<uint8_t>(m & 0xFF);
            r[25] = static_cast<uint8_t>(((m >> 8) & 3) << 6);
            r[26] = static_cast<uint8_t>(b & 0xFF);
            r[27] = static_cast<uint8_t>(((b >> 8) & 3) << 6);
            r[29] = static_cast<uint8_t>((get("k2", -8, 7, 0) & 0xF) << 4 | (get("k1", -8, 7, 0) & 0xF));
            r[30] = k.count("nominal") != 0 ? 0x01 : 0x00;
            r[31] = static_cast<uint8_t>(get("nominal", 0, 255, 0));
            r[34] = 0xFF;
            const char* thresholds[] = {"unr", "uc", "unc", "lnr", "lc", "lnc"};
            for (size_t i = 0; i < 6; ++i)
                r[36 + i] = static_cast<uint8_t>(get(thresholds[i], 0, 255, 0));
            _Name(r, 47, name);
            _Reading(sensor, k);
        } else if (w[1] == "mcloc") {
            const auto k = m_p.Keys(w, 2, {"name"});
            const std::string name = k.count("name") != 0 ? k.at("name") : "";
            if (name.size() > 16)
                m_p.Fail("device name longer than 16 characters");
            r[3] = 0x12;
            r[8] = 0x0F;
            r[12] = 0x07;
            r[13] = 0x01;
            _Name(r, 15, name);
            sensor.readable = false;
        } else if (w[1] == "raw") {
            const auto k = m_p.Keys(w, 2, {"record", "raw", "status"});
            if (k.count("record") == 0)
                m_p.Fail("sensor raw needs record=<hex bytes>");
            const auto bytes = m_p.Blob(k.at("record"), "record");
            if (bytes.size() > c_sdrSize)
                m_p.Fail("record longer than 71 bytes");
            std::copy(bytes.begin(), bytes.end(), r.begin());
            _Reading(sensor, k);
        } else {
            m_p.Fail("sensor kind is full, mcloc or raw");
        }
        m_board->sensors.push_back(std::move(sensor));
    }

    void _Event(const std::vector<std::string>& w) {
        const auto k = m_p.Keys(w, 1, {"type", "time", "ms", "word", "code", "ptype", "sev",
                                       "params", "extra"});
        if (k.count("word") != 0 && (k.count("code") + k.count("ptype") + k.count("sev")) != 0)
            m_p.Fail("give either word or code, ptype and sev");
        std::vector<uint8_t> e(c_selEntrySize, 0);
        PutLe(e, 0, m_board->sel.size() + 1, 2);
        e[2] = k.count("type") != 0 ? m_p.Byte(k.at("type"), "type") : 0xE2;
        const int64_t time = k.count("time") != 0 ? m_p.Number(k.at("time"), 0, 0xFFFFFFFF, "time") : 0;
        PutLe(e, 3, static_cast<uint64_t>(time), 4);
        PutLe(e, 7, k.count("ms") != 0 ? static_cast<uint64_t>(m_p.Number(k.at("ms"), 0, 0xFFFF, "ms")) : 0, 2);
        uint64_t word = 0;
        if (k.count("word") != 0) {
            word = static_cast<uint64_t>(m_p.Number(k.at("word"), 0, 0xFFFF, "word"));
        } else {
            const int64_t code = k.count("code") != 0 ? m_p.Number(k.at("code"), 0, 1023, "code") : 0;
            const int64_t ptype = k.count("ptype") != 0 ? m_p.Number(k.at("ptype"), 0, 15, "ptype") : 0;
            const int sev = k.count("sev") != 0
                                ? m_p.Named(k.at("sev"), c_severities, std::size(c_severities), 3, "sev")
                                : 0;
            word = static_cast<uint64_t>(code | ptype << 10 | int64_t{sev} << 14);
        }
        PutLe(e, 9, word, 2);
        if (k.count("params") != 0) {
            const auto params = m_p.ByteList(k.at("params"), "params");
            if (params.size() > 5)
                m_p.Fail("params holds at most 5 bytes");
            std::copy(params.begin(), params.end(), e.begin() + 11);
        }
        if (k.count("extra") != 0) {
            const auto extra = m_p.ByteList(k.at("extra"), "extra");
            if (extra.size() > 3)
                m_p.Fail("extra holds at most 3 bytes");
            std::copy(extra.begin(), extra.end(), e.begin() + 16);
        }
        std::array<uint8_t, c_selEntrySize> entry{};
        std::copy(e.begin(), e.end(), entry.begin());
        m_board->sel.push_back(entry);
        m_board->selLastAddition = static_cast<uint32_t>(time);
    }

    void _Hpm(const std::vector<std::string>& w) {
        const auto k = m_p.Keys(w, 1, {"version", "caps", "timeouts", "components"});
        auto& c = m_board->hpmCapabilities;
        if (k.count("version") != 0)
            c[1] = m_p.Byte(k.at("version"), "version");
        if (k.count("caps") != 0)
            c[2] = m_p.Byte(k.at("caps"), "caps");
        if (k.count("timeouts") != 0) {
            const auto t = m_p.ByteList(k.at("timeouts"), "timeouts");
            if (t.size() != 4)
                m_p.Fail("timeouts are 4 bytes");
            std::copy(t.begin(), t.end(), c.begin() + 3);
        }
        if (k.count("components") != 0)
            c[7] = m_p.Byte(k.at("components"), "components");
    }

    // Builds a board's identity record once the whole file is known.
    void _Identity(BoardModel& b, const std::map<std::string, std::string>& k) {
        auto get = [&](const char* key, int64_t high, int64_t fallback) {
            return k.count(key) != 0 ? m_p.Number(k.at(key), 0, high, key) : fallback;
        };
        if (k.count("format") != 0) {
            const std::string& f = k.at("format");
            if (f == "ext")
                b.format = BoardModel::IdFormat_e::eExtended;
            else if (f == "v22")
                b.format = BoardModel::IdFormat_e::eFirmware22;
            else if (f == "std")
                b.format = BoardModel::IdFormat_e::eStandard;
            else
                m_p.Fail("identity format is ext, v22 or std");
        }
        if (k.count("manufacturer") != 0 && b.format != BoardModel::IdFormat_e::eStandard)
            m_p.Fail("identity manufacturer is for format std only");
        int major = 2;
        int minor = 4;
        if (k.count("fw") != 0) {
            const std::string& fw = k.at("fw");
            const size_t dot = fw.find('.');
            if (dot == std::string::npos)
                m_p.Fail("fw is <major>.<minor>");
            major = static_cast<int>(m_p.Number(fw.substr(0, dot), 0, 63, "fw major"));
            minor = static_cast<int>(m_p.Number(fw.substr(dot + 1), 0, 255, "fw minor"));
        }
        int fwType = std::count(std::begin(c_firmwareCarriers), std::end(c_firmwareCarriers), b.type)
                         ? b.type
                         : 0;
        if (k.count("fwtype") != 0)
            fwType = m_p.Named(k.at("fwtype"), c_boardTypes, std::size(c_boardTypes), 255, "fwtype");
        std::vector<uint8_t> id(22, 0);
        id[0] = b.type;
        id[1] = static_cast<uint8_t>(get("rev", 15, 0) | (b.sensors.empty() ? 0 : 0x80));
        id[2] = static_cast<uint8_t>(major);
        id[3] = static_cast<uint8_t>(minor);
        id[4] = static_cast<uint8_t>(get("ipmi", 255, 2));
        id[5] = static_cast<uint8_t>(get("support", 255, 0));
        PutLe(id, 6, static_cast<uint64_t>(get("manufacturer", 0xFFFFFF, m_model.manufacturer)), 3);
        PutLe(id, 9, static_cast<uint64_t>(get("product", 0xFFFF, fwType << 8 | b.type)), 2);
        PutLe(id, 11, static_cast<uint64_t>(get("fwrev", 0xFFFF, 0)), 2);
        PutLe(id, 13, static_cast<uint64_t>(get("fpga", 0xFFFF, 0)), 2);
        if (k.count("ext") != 0) {
            const auto ext = m_p.Blob(k.at("ext"), "ext");
            if (ext.size() != 7)
                m_p.Fail("ext is 7 bytes");
            std::copy(ext.begin(), ext.end(), id.begin() + 15);
        }
        id[18] = static_cast<uint8_t>(get("status", 255, k.count("ext") != 0 ? id[18] : 4));
        if (k.count("flags") != 0)
            PutLe(id, 19, static_cast<uint64_t>(get("flags", 0xFFFF, 0)), 2);
        std::copy(id.begin(), id.end(), b.identity.begin());
    }

    Parser m_p;
    std::string m_baseDir;
    detail::ChassisModel m_model;
    std::map<int, bool> m_emptySlots;
    BoardModel* m_board = nullptr;
    std::map<int, std::pair<size_t, std::map<std::string, std::string>>> m_identities;
    size_t m_line = 0;
    std::optional<int64_t> m_clock;
};

}  // namespace

Fault Fault::Parse(const std::string& text) {
    return ParseFault(Parser("fault \"" + text + "\""), Words(text), 0);
}

namespace detail {

ChassisModel ParseChassis(const std::string& text, const std::string& origin,
                          const std::string& baseDir) {
    return ChassisReader(origin, baseDir).Read(text);
}

}  // namespace detail
}  // namespace sim::cmc
