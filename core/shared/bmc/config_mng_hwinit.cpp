// The hardware-initialisation script compiler of ConfigMng: script text from a board
// configuration document becomes the byte code that a board's management controller runs.
//
// Scripts come from people, so every path through here either compiles into the area, within
// its c_hwInitAreaSize bytes, or prints a message and throws istd::Exception.

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/config_mng.h"

namespace bmc {

namespace {

const char* const c_configMngError = "cli: config mng error";
// Opcode of the direct AMBA write and of the delay that the macros emit.
constexpr uint8_t c_opcodeDelay = 6;
constexpr uint8_t c_opcodeAmbaWriteDirect = 15;
constexpr uint32_t c_macroOpcode = 0xFFFFFFFF;

[[noreturn]] void _Fail(const std::string& message)
{
    std::cout << message << std::endl;
    throw istd::Exception(c_configMngError, true);
}

bool _IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Removes "/*" ... "*/" comments as if the first comment were removed again and again until no
// complete one is left: removing one can join a "/" before it and a "*" after it into a new
// opening, which then counts. Linear, unlike erasing in place.
std::string _StripComments(const std::string& code)
{
    std::string out;
    out.reserve(code.size());
    size_t pos = 0;
    for (;;) {
        // An opening made of the kept text's last "/" and the next "*".
        const bool joined = !out.empty() && out.back() == '/' && pos < code.size() && code[pos] == '*';
        size_t bodyStart = 0;
        size_t open = std::string::npos;
        if (joined) {
            bodyStart = pos + 1;
        } else {
            open = code.find("/*", pos);
            if (open == std::string::npos) {
                break;
            }
            bodyStart = open + 2;
        }
        const size_t close = code.find("*/", bodyStart);
        if (close == std::string::npos) {
            break; // an unclosed opening stays in the text
        }
        if (joined) {
            out.pop_back();
        } else {
            out.append(code, pos, open - pos);
        }
        pos = close + 2;
    }
    out.append(code, pos, std::string::npos);
    return out;
}

template <class T>
bool _ParseHex(const std::string& text, T& value)
{
    if (text.size() < 2 || text[0] != '0' || text[1] != 'x') {
        return false;
    }
    std::istringstream is(text);
    T read = 0;
    is >> std::hex >> read;
    if (is.fail()) {
        return false;
    }
    value = read;
    return true;
}

bool _Append(uint64_t value, unsigned int width, unsigned char* data, unsigned int* length)
{
    HwInitDataSizeCheck(*length + width);
    for (unsigned int i = 0; i < width; ++i) {
        data[*length + i] = static_cast<unsigned char>(value >> (8 * i));
    }
    *length += width;
    return true;
}

} // namespace

const ConfigMng::CmdList_t cmdList[] = {
    {0, "NOP", 0, 0, AddNative},
    {1, "ANDA", 1, 2, AddNative},
    {2, "ORA", 1, 2, AddNative},
    {3, "NOTA", 0, 0, AddNative},
    {4, "WRA", 1, 2, AddNative},
    {5, "WRB", 1, 2, AddNative},
    {6, "DLY", 1, 2, AddNative},
    {7, "FRDA", 1, 2, AddNative},
    {8, "FWRA", 1, 2, AddNative},
    {9, "FDWR", 2, 2, AddNative},
    {10, "FWBS", 2, 2, AddNative},
    {11, "FWBC", 2, 2, AddNative},
    {12, "ARDAB", 1, 4, AddNative},
    {13, "AWRAB", 1, 4, AddNative},
    {14, "AWRADR", 1, 4, AddNative},
    {15, "ADWR", 2, 4, AddNative},
    {c_macroOpcode, "HWSPIW_m", 4, 4, HWSPIWMacro},
    {c_macroOpcode, "HWSI57XFREQ_m", 2, 8, HwExpandHWSI57XFREQMacro},
    {0, nullptr, 0, 0, nullptr},
};

bool IsValidCmd(const ConfigMng::CmdList_t* table, const std::string& mnemonic, ConfigMng::CmdList_t& row)
{
    ISTD_TRACE_FNC("bool bmc::IsValidCmd(const bmc::ConfigMng::CmdList_t*, const std::string&, "
                   "bmc::ConfigMng::CmdList_t&)");
    for (const ConfigMng::CmdList_t* r = table; r->mnemonic != nullptr; ++r) {
        if (mnemonic == r->mnemonic) {
            row = *r;
            return true;
        }
    }
    return false;
}

bool ParseCommandParams(const std::string& text, unsigned int& value)
{
    return _ParseHex(text, value);
}

bool ParseCommandParams(const std::string& text, uint64_t& value)
{
    return _ParseHex(text, value);
}

void SubstituteHwInitParameter(std::string& text, const std::string& name, const std::string& value)
{
    ISTD_TRACE_FNC("void bmc::SubstituteHwInitParameter(std::string&, const std::string&, const std::string&)");
    if (name.empty()) {
        return;
    }
    // Count first: a few short parameters with long values could otherwise multiply the text
    // beyond any memory before the area limit is ever reached.
    size_t count = 0;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + name.size())) {
        ++count;
    }
    if (count == 0) {
        return;
    }
    const size_t kept = text.size() - count * name.size();
    if (value.size() > (ConfigMng::c_maxScriptLength - std::min(kept, ConfigMng::c_maxScriptLength)) / count) {
        throw istd::Exception("bmc: hw init. script longer than " + std::to_string(ConfigMng::c_maxScriptLength) +
                                  " bytes after substituting parameter " + name,
                              true);
    }
    std::string out;
    out.reserve(kept + count * value.size());
    size_t pos = 0;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, pos)) {
        out.append(text, pos, at - pos);
        out += value;
        pos = at + name.size();
    }
    out.append(text, pos, std::string::npos);
    text.swap(out);
}

bool HwInitDataSizeCheck(unsigned int newLength)
{
    if (newLength > c_hwInitAreaSize) {
        _Fail("Hw init error: hw init. data overflow !! ");
    }
    return true;
}

bool HwInitDataAddUint8(uint8_t value, unsigned char* data, unsigned int* length)
{
    return _Append(value, 1, data, length);
}

bool HwInitDataAddUint16(uint16_t value, unsigned char* data, unsigned int* length)
{
    return _Append(value, 2, data, length);
}

bool HwInitDataAddUint32(uint32_t value, unsigned char* data, unsigned int* length)
{
    return _Append(value, 4, data, length);
}

bool HwInitAddAMBAWriteDirect(uint32_t address, uint32_t value, unsigned char* data, unsigned int* length)
{
    if (!HwInitDataAddUint8(c_opcodeAmbaWriteDirect, data, length)) {
        std::cout << "HwInitAddAMBAWriteDirect: Failed to add ADWR." << std::endl;
        return false;
    }
    if (!HwInitDataAddUint32(address, data, length)) {
        std::cout << "HwInitAddAMBAWriteDirect: Failed to add op1." << std::endl;
        return false;
    }
    if (!HwInitDataAddUint32(value, data, length)) {
        std::cout << "HwInitAddAMBAWriteDirect: Failed to add op2." << std::endl;
        return false;
    }
    return true;
}

bool HwInitAddDelay(unsigned char* data, unsigned int* length)
{
    if (!HwInitDataAddUint8(c_opcodeDelay, data, length)) {
        std::cout << "HwInitAddDelay: Failed to add DLY." << std::endl;
        return false;
    }
    if (!HwInitDataAddUint16(2, data, length)) {
        std::cout << "HwInitAddDelay: Failed to add op1." << std::endl;
        return false;
    }
    return true;
}

bool HwInitAddI2CAMBAWrite(uint32_t base, uint32_t reg, uint32_t value, unsigned char* data, unsigned int* length)
{
    ISTD_TRACE_FNC("bool bmc::HwInitAddI2CAMBAWrite(uint32_t, uint32_t, uint32_t, unsigned char*, unsigned int*)");
    // Start with the device's write address, register address, value, stop.
    const uint32_t steps[7][2] = {
        {base + 8, 0x50000000}, {base, 0xAA},         {base + 8, 0xB0000000}, {base, reg & 0xFF},
        {base + 8, 0x30000000}, {base, value & 0xFF}, {base + 8, 0x70000000},
    };
    for (unsigned int i = 0; i < 7; ++i) {
        if (!HwInitAddAMBAWriteDirect(steps[i][0], steps[i][1], data, length)) {
            std::cout << "HwInitAddI2CAMBAWrite: Failed at sequence " << i + 1 << "." << std::endl;
            return false;
        }
    }
    return true;
}

bool AddNative(unsigned int opcode, unsigned int size, const std::vector<std::string>& words, unsigned char* data,
               unsigned int* length)
{
    ISTD_TRACE_FNC("bool bmc::AddNative(unsigned int, unsigned int, const std::vector<std::string>&, unsigned "
                   "char*, unsigned int*)");
    if (!HwInitDataAddUint8(static_cast<uint8_t>(opcode), data, length)) {
        std::cout << "Hw AddNative: Failed to add Uint8." << std::endl;
        return false;
    }
    for (size_t i = 1; i < words.size(); ++i) {
        unsigned int value = 0;
        if (!ParseCommandParams(words[i], value)) {
            std::cout << "Hw AddNativer: invalid parameter: " << words[i] << std::endl;
            return false;
        }
        if (size == 2) {
            if (!HwInitDataAddUint16(static_cast<uint16_t>(value), data, length)) {
                std::cout << "Hw AddNative: Failed to add Uint16." << std::endl;
                return false;
            }
        } else if (size == 4) {
            if (!HwInitDataAddUint32(value, data, length)) {
                std::cout << "Hw AddNative: Failed to add Uint32." << std::endl;
                return false;
            }
        } else {
            std::cout << "Hw AddNative: Unknown size: " << size << std::endl;
            return false;
        }
    }
    return true;
}

bool HWSPIWMacro(unsigned int /*opcode*/, unsigned int /*size*/, const std::vector<std::string>& words,
                 unsigned char* data, unsigned int* length)
{
    ISTD_TRACE_FNC("bool bmc::HWSPIWMacro(unsigned int, unsigned int, const std::vector<std::string>&, unsigned "
                   "char*, unsigned int*)");
    unsigned int p[4] = {0, 0, 0, 0}; // base of the SPI master core, chip-select mask, control, data
    for (size_t i = 0; i < 4; ++i) {
        if (i + 1 >= words.size() || !ParseCommandParams(words[i + 1], p[i])) {
            std::cout << "Hw HWSPIWMacro: invalid parameter-1: " << (i + 1 < words.size() ? words[i + 1] : "")
                      << std::endl;
            return false;
        }
    }
    const uint32_t base = p[0];
    const uint32_t mask = p[1];
    const uint32_t control = p[2];
    const uint32_t spiData = p[3];
    struct Step {
        bool delay;
        uint32_t address;
        uint32_t value;
        const char* failure;
    };
    const Step steps[] = {
        {true, 0, 0, "Hw HWSPIWMacro: Failed to add DLY."},
        {false, base + 8, 0xFFFFFFFF, "Hw HWSPIWMacro: Failed to add slave de-select."},
        {false, base + 0, control, "Hw HWSPIWMacro: Failed to add ctrlRegCfg."},
        {false, base + 8, ~mask, "Hw HWSPIWMacro: Failed to add chipSelectMask."},
        {false, base + 16, spiData, "Hw HWSPIWMacro: Failed to add spiData."},
        {false, base + 20, 0, "Hw HWSPIWMacro: Failed to add start transfer."},
        {true, 0, 0, "Hw HWSPIWMacro: Failed to add DLY."},
        {false, base + 8, 0xFFFFFFFF, "Hw HWSPIWMacro: Failed to add slave de-select."},
    };
    for (const Step& step : steps) {
        const bool added = step.delay ? HwInitAddDelay(data, length)
                                      : HwInitAddAMBAWriteDirect(step.address, step.value, data, length);
        if (!added) {
            std::cout << step.failure << std::endl;
            return false;
        }
    }
    return true;
}

bool HwExpandHWSI57XFREQMacro(unsigned int /*opcode*/, unsigned int /*size*/, const std::vector<std::string>& words,
                              unsigned char* data, unsigned int* length)
{
    ISTD_TRACE_FNC("bool bmc::HwExpandHWSI57XFREQMacro(unsigned int, unsigned int, const "
                   "std::vector<std::string>&, unsigned char*, unsigned int*)");
    uint64_t value = 0; // the oscillator's six frequency registers, least significant first
    uint64_t base = 0;  // the I2C master core
    const std::string valueWord = words.size() > 1 ? words[1] : "";
    const std::string baseWord = words.size() > 2 ? words[2] : "";
    if (!ParseCommandParams(valueWord, value)) {
        std::cout << "Hw HwExpandHWSI57XFREQMacro: invalid parameter-1: " << valueWord << std::endl;
        return false;
    }
    if (!ParseCommandParams(baseWord, base)) {
        std::cout << "Hw HwExpandHWSI57XFREQMacro: invalid parameter-2: " << baseWord << std::endl;
        return false;
    }
    if (base >= 0x1000000) {
        std::cout << "Hw HwExpandHWSI57XFREQMacro: parameter-2 is out of range: " << baseWord << std::endl;
        return false;
    }
    // Freeze the oscillator, write the frequency registers, unfreeze, apply the new frequency.
    const uint32_t steps[11][2] = {
        {137, 0x10},
        {135, 0x20},
        {7, static_cast<uint32_t>(value & 0xFF)},
        {8, static_cast<uint32_t>((value >> 8) & 0xFF)},
        {9, static_cast<uint32_t>((value >> 16) & 0xFF)},
        {10, static_cast<uint32_t>((value >> 24) & 0xFF)},
        {11, static_cast<uint32_t>((value >> 32) & 0xFF)},
        {12, static_cast<uint32_t>((value >> 40) & 0xFF)},
        {137, 0},
        {135, 0x40},
        {135, 0},
    };
    for (unsigned int i = 0; i < 11; ++i) {
        if (!HwInitAddI2CAMBAWrite(static_cast<uint32_t>(base), steps[i][0], steps[i][1], data, length)) {
            std::cout << "HwExpandHWSI57XFREQMacro: Failed at step " << i + 1 << "." << std::endl;
            return false;
        }
    }
    return true;
}

bool ConfigMng::HwInitParser(std::string& code, unsigned char* data, unsigned int* length)
{
    ISTD_TRACE_FNC("static bool bmc::ConfigMng::HwInitParser(std::string&, unsigned char*, unsigned int*)");
    *length = 0;
    if (code.empty()) {
        return false;
    }
    code = _StripComments(code);
    const std::vector<std::string> statements = istd::TokenizeString(code, ";");
    if (statements.empty()) {
        return false;
    }
    for (size_t line = 0; line < statements.size(); ++line) {
        const std::string& statement = statements[line];
        size_t first = 0;
        while (first < statement.size() && !_IsLetter(statement[first])) {
            ++first;
        }
        if (first == statement.size()) {
            continue;
        }
        // Only blanks separate words: a tab stays part of its word.
        const std::vector<std::string> words = istd::TokenizeString(statement.substr(first), " ");
        CmdList_t row{};
        if (!IsValidCmd(cmdList, words[0], row)) {
            _Fail("Hw init error: wrong operand: line " + std::to_string(line) + ": " + words[0]);
        }
        if (words.size() != row.params + 1) {
            _Fail("Hw init error: wrong number of parameters: line " + std::to_string(line) + ": " + words[0]);
        }
        if (!row.expander) {
            _Fail("HW init error: Undefined FW code adder at line " + std::to_string(line));
        }
        if (!row.expander(row.opcode, row.size, words, data, length)) {
            _Fail("HW init error: Parser at line " + std::to_string(line));
        }
    }
    return true;
}

std::string ConfigMng::ReadCode(std::shared_ptr<icfg::Element>& section, bool& specific,
                                const icfg::ElementList& params)
{
    ISTD_TRACE_FNC("std::string bmc::ConfigMng::ReadCode(std::shared_ptr<icfg::Element>&, bool&, const "
                   "icfg::ElementList&)");
    specific = false;
    std::string text;
    for (const icfg::ElementPtr& block : section->GetChildren()) {
        if (block->GetName() != "code") {
            continue;
        }
        std::string configurations = cAll;
        icfg::AttributePtr attribute;
        if (block->FindAttr("configurations", attribute)) {
            configurations = attribute->GetValue();
        }
        for (const std::string& name : istd::TokenizeString(configurations, " \t\r\n")) {
            if (name == cAll || name == target) {
                std::string blockText;
                block->GetUntrimedValue(blockText);
                if (blockText.size() > c_maxScriptLength - std::min(text.size(), c_maxScriptLength)) {
                    throw istd::Exception("bmc: hw init. script longer than " + std::to_string(c_maxScriptLength) +
                                              " bytes in " + section->GetName(),
                                          true);
                }
                text += blockText;
                if (name != cAll) {
                    specific = true;
                }
                break;
            }
        }
    }
    for (const icfg::ElementPtr& param : params) {
        SubstituteHwInitParameter(text, param->GetName(), param->GetValue());
    }
    return text;
}

void ConfigMng::HwInitSetProperties(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("void bmc::ConfigMng::HwInitSetProperties(const icfg::ElementList&)");
    if (elements.empty() || !elements.front()) {
        return;
    }
    const icfg::ElementPtr hwInit = elements.front()->FindSubtree("hw_init_data");
    if (!hwInit) {
        return;
    }
    icfg::ElementList params;
    if (const icfg::ElementPtr paramElement = hwInit->FindSubtree("hw_init_params")) {
        params = paramElement->GetChildren();
    }
    BaseBoardConfig_t& base = boardConfig.record.baseBoard;
    SubsysBoardConfig_t& subsys = boardConfig.record.subsysBoard;
    bool found = false;
    for (icfg::ElementPtr child : hwInit->GetChildren()) {
        const std::string name = child->GetName();
        // The record is packed, so its length fields are written back rather than aliased.
        unsigned char* area = nullptr;
        std::function<void(unsigned int)> storeLength;
        if (name == "bb_hw_init_data") {
            area = base.hwInitData;
            storeLength = [&base](unsigned int n) { base.hwInitLength = n; };
        } else if (name == "bb_hw_postinit_data") {
            area = base.hwPostInitData;
            storeLength = [&base](unsigned int n) { base.hwPostInitLength = n; };
        } else if (name == "sb_hw_init_data") {
            area = subsys.hwInitData;
            storeLength = [&subsys](unsigned int n) { subsys.hwInitLength = n; };
        } else {
            continue;
        }
        std::memset(area, 0, c_hwInitAreaSize);
        storeLength(0);
        bool specific = false;
        std::string text = ReadCode(child, specific, params);
        found = found || specific;
        unsigned int length = 0;
        try {
            HwInitParser(text, area, &length);
        } catch (...) {
            storeLength(length); // what was compiled before the failure stays counted
            throw;
        }
        storeLength(length);
    }
    if (target != cDefault && !found) {
        throw istd::Exception("Target configuration [" + target + "] is not available inside configuration file!",
                              true);
    }
}

} // namespace bmc
