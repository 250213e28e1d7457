#include "bmc/i2c_device_SI5338.h"

#include <array>
#include <vector>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"

ISTD_ENUM_TABLE(bmc::_tSi5338ClkIn_e, {bmc::eSi5338ClkIn1, "in_1"}, {bmc::eSi5338ClkIn2, "in_2"});
ISTD_ENUM_TABLE(bmc::_tSi5338ClkPresent_e, {bmc::eSi5338ClkNotPresent, "clock_not_present"},
                {bmc::eSi5338ClkPresent, "clock_present"});
ISTD_ENUM_TABLE(bmc::_tSi5338PllLock_e, {bmc::eSi5338PllNotLocked, "pll_not_locked"},
                {bmc::eSi5338PllLocked, "pll_locked"});
ISTD_ENUM_TABLE(bmc::_tSi5338DeviceStatus_e, {bmc::eSi5338Disabled, "disabled"}, {bmc::eSi5338Enabled, "enabled"});

namespace bmc {

namespace {

constexpr uint16_t c_lastReg = 350;
constexpr uint16_t c_regPage = 255;
constexpr uint16_t c_regRefClk = 28;
constexpr uint16_t c_regInput = 29;   // input select, P1 divider
constexpr uint16_t c_regP2 = 30;
constexpr uint16_t c_regRDiv = 31;    // + output
constexpr uint16_t c_regDrvFirst = 35; // output driver configuration 35..42
constexpr uint16_t c_regFcalActive = 45; // 45..47
constexpr uint16_t c_regKphi = 48;
constexpr uint16_t c_regVco = 49;     // override bit 7, gain 6..4, R select 3..2, bandwidth 1..0
constexpr uint16_t c_regMCal = 50;
constexpr uint16_t c_regMCal2 = 51;
constexpr uint16_t c_regMsBase = 53;  // + 11 × MultiSynth
constexpr uint16_t c_regStatus = 218;
constexpr uint16_t c_regOutputs = 230;
constexpr uint16_t c_regFcal = 235;   // 235..237
constexpr uint16_t c_regLol = 241;
constexpr uint16_t c_regSoftReset = 246;

constexpr uint8_t c_losIn1 = 0x04;
constexpr uint8_t c_losIn2 = 0x08;
constexpr uint8_t c_lol = 0x10;
constexpr uint8_t c_alarms = 0x1D; // bits 4, 3, 2 and 0
constexpr int c_polls = 301;

// The write masks as runs of registers: first, last, mask.
struct MaskRun {
    uint16_t first;
    uint16_t last;
    uint8_t mask;
};
constexpr MaskRun c_maskRuns[] = {
    {0, 5, 0x00},     {6, 6, 0x1D},     {7, 26, 0x00},    {27, 27, 0x80},   {28, 35, 0xFF},   {36, 39, 0x1F},
    {40, 40, 0xFF},   {41, 41, 0x7F},   {42, 42, 0x3F},   {43, 44, 0x00},   {45, 46, 0xFF},   {47, 47, 0x3F},
    {48, 51, 0xFF},   {52, 52, 0x7F},   {53, 61, 0xFF},   {62, 62, 0x3F},   {63, 63, 0x7F},   {64, 72, 0xFF},
    {73, 73, 0x3F},   {74, 74, 0x7F},   {75, 83, 0xFF},   {84, 84, 0x3F},   {85, 85, 0x7F},   {86, 94, 0xFF},
    {95, 95, 0x3F},   {96, 96, 0x00},   {97, 105, 0xFF},  {106, 106, 0xBF}, {107, 107, 0xFF}, {108, 108, 0x7F},
    {109, 111, 0xFF}, {112, 112, 0x7F}, {113, 128, 0xFF}, {129, 130, 0x0F}, {131, 144, 0xFF}, {145, 151, 0x00},
    {152, 157, 0xFF}, {158, 159, 0x0F}, {160, 180, 0xFF}, {181, 181, 0x0F}, {182, 202, 0xFF}, {203, 203, 0x0F},
    {204, 217, 0xFF}, {218, 225, 0x00}, {226, 226, 0x04}, {227, 229, 0x00}, {230, 230, 0xFF}, {231, 240, 0x00},
    {241, 241, 0xFF}, {242, 242, 0x02}, {243, 245, 0x00}, {246, 246, 0xFF}, {247, 254, 0x00}, {255, 255, 0xFF},
    {256, 286, 0x00}, {287, 298, 0xFF}, {299, 299, 0x0F}, {300, 302, 0x00}, {303, 315, 0xFF}, {316, 316, 0x0F},
    {317, 351, 0x00},
};

const std::array<uint8_t, 352>& _WriteMasks()
{
    static const std::array<uint8_t, 352> masks = [] {
        std::array<uint8_t, 352> m{};
        for (const MaskRun& run : c_maskRuns) {
            for (uint16_t reg = run.first; reg <= run.last; ++reg) {
                m[reg] = run.mask;
            }
        }
        return m;
    }();
    return masks;
}

// Divider values by code; codes 6 and 7 have none.
constexpr uint32_t c_dividers[8] = {1, 2, 4, 8, 16, 32, 0, 0};

uint8_t _DividerCode(uint32_t value)
{
    for (uint8_t code = 0; code < 6; ++code) {
        if (c_dividers[code] == value) {
            return code;
        }
    }
    throw istd::Exception("si5338: wrong div. code value", true);
}

uint16_t _MsBase(_tSi5338MsX_e m)
{
    if (static_cast<int>(m) < 0 || m >= eSi5338MsCount) {
        throw istd::Exception("si5338: MultiSynth " + std::to_string(static_cast<int>(m)) + " does not exist", true);
    }
    return static_cast<uint16_t>(c_regMsBase + 11 * m);
}

void _CheckRange(size_t first, size_t count, size_t size, const char* what)
{
    if (first > size || count > size - first) {
        throw istd::Exception(std::string("si5338: ") + what + " " + std::to_string(first) + ".." +
                                  std::to_string(first + count - 1) + " out of range (0.." +
                                  std::to_string(size - 1) + ")",
                              true);
    }
}

} // namespace

Si5338::Si5338(BusController& controller, const std::string& name, BusDeviceId id, uint8_t, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::Si5338::Si5338(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, c_i2cAddr, bus, 100);
    BusControllerLocker lock(m_controller);
    Si5338DevStateSet(eSi5338Disabled);
    Si5338GetRegInRange(0, c_lastReg);
    _SetInputClkSel(eSi5338ClkIn1);
    _SetInputDividerP1(4);
    _SetInputDividerP2(1);
    _SetPllKphi(49);
    _SetVcoGain(0);
    _SetRSel(0);
    _SetBwSel(0);
    _SetMCal(4);
    const uint32_t p1[eSi5338MsCount] = {256, 256, 256, 256, 9472};
    const uint32_t p2[eSi5338MsCount] = {0, 0, 0, 0, 0};
    const uint32_t p3[eSi5338MsCount] = {1, 1, 1, 1, 1};
    _SetMultiSynthMsP1(p1, 0, eSi5338MsCount);
    _SetMultiSynthMsP2(p2, 0, eSi5338MsCount);
    _SetMultiSynthMsP3(p3, 0, eSi5338MsCount);
    const uint32_t r[eSi5338OutCount] = {1, 1, 1, 1};
    _SetRxDivider(r, 0, eSi5338OutCount);
}

Si5338::~Si5338()
{
    ISTD_TRACE_FNC("virtual bmc::Si5338::~Si5338()");
}

uint8_t Si5338::GetWriteMask(uint16_t reg)
{
    return reg < 352 ? _WriteMasks()[reg] : 0;
}

uint8_t Si5338::GetRegCopy(uint16_t reg) const
{
    BusControllerLocker lock(m_controller);
    return reg <= c_lastReg ? m_regs[reg] : 0;
}

void Si5338::Si5338PageSelect(uint16_t reg)
{
    if (reg > c_lastReg) {
        throw istd::Exception("par is out of range", true);
    }
    BusControllerLocker lock(m_controller);
    const uint8_t page = reg >= 256 ? 1 : 0;
    m_regs[c_regPage] = page;
    if (page != m_current_page) {
        Si5338Write(c_regPage, &m_regs[c_regPage]);
        m_current_page = page; // only once the chip has it
    }
}

void Si5338::Si5338GetReg(uint16_t reg)
{
    BusControllerLocker lock(m_controller);
    Si5338PageSelect(reg);
    if (reg != c_regPage) {
        Si5338Read(reg, &m_regs[reg]);
    }
}

void Si5338::Si5338SetReg(uint16_t reg)
{
    BusControllerLocker lock(m_controller);
    Si5338PageSelect(reg);
    if (reg != c_regPage) {
        Si5338ReadModifiedWrite(reg, m_regs[reg], 0xFF);
    }
}

void Si5338::Si5338GetRegInRange(uint16_t first, uint16_t last)
{
    BusControllerLocker lock(m_controller);
    for (uint32_t reg = first; reg <= last; ++reg) {
        Si5338GetReg(static_cast<uint16_t>(reg));
    }
}

void Si5338::Si5338SetRegInRange(uint16_t first, uint16_t last)
{
    BusControllerLocker lock(m_controller);
    for (uint32_t reg = first; reg <= last; ++reg) {
        Si5338SetReg(static_cast<uint16_t>(reg));
    }
}

void Si5338::Si5338ReadModifiedWrite(uint16_t reg, uint8_t value, uint8_t mask)
{
    if (reg > c_lastReg) {
        throw istd::Exception("par is out of range", true);
    }
    BusControllerLocker lock(m_controller);
    const uint8_t m = GetWriteMask(reg) & mask;
    uint8_t written = value;
    if (m != 0xFF) {
        uint8_t current = 0;
        Si5338Read(reg, &current);
        written = static_cast<uint8_t>((m & value) | (~m & current));
    }
    Si5338Write(reg, &written);
    m_regs[reg] = written;
}

void Si5338::Si5338Read(uint16_t reg, uint8_t* value)
{
    uint64_t word = 0;
    Read(reg & 0xFF, word);
    *value = static_cast<uint8_t>(word);
}

void Si5338::Si5338Write(uint16_t reg, const uint8_t* value)
{
    Write(reg & 0xFF, uint64_t{*value});
}

void Si5338::_SetField(uint16_t reg, uint8_t fieldMask, uint8_t value, bool readFirst)
{
    BusControllerLocker lock(m_controller);
    if (readFirst) {
        Si5338GetReg(reg);
    }
    m_regs[reg] = static_cast<uint8_t>((m_regs[reg] & ~fieldMask) | (value & fieldMask));
    Si5338SetReg(reg);
}

uint8_t Si5338::_GetField(uint16_t reg, uint8_t fieldMask, unsigned shift)
{
    BusControllerLocker lock(m_controller);
    Si5338GetReg(reg);
    return static_cast<uint8_t>((m_regs[reg] & fieldMask) >> shift);
}

bool Si5338::_SetInputClkSel(const _tSi5338ClkIn_e& in)
{
    _SetField(c_regInput, 0xE0, in == eSi5338ClkIn2 ? 0x60 : 0x40);
    return true;
}

bool Si5338::_GetInputClkSel(_tSi5338ClkIn_e& in)
{
    const uint8_t field = _GetField(c_regInput, 0xE0, 5);
    if (field == 2) {
        in = eSi5338ClkIn1;
    } else if (field == 3) {
        in = eSi5338ClkIn2;
    } else {
        throw istd::Exception("si5338: invalid input clock sel.", true);
    }
    return true;
}

bool Si5338::_SetInputDividerP1(const uint32_t& div)
{
    _SetField(c_regInput, 0x1F, _DividerCode(div));
    return true;
}

bool Si5338::_GetInputDividerP1(uint32_t& div)
{
    div = c_dividers[_GetField(c_regInput, 0x07, 0)];
    return true;
}

bool Si5338::_SetInputDividerP2(const uint32_t& div)
{
    _SetField(c_regP2, 0xFF, static_cast<uint8_t>(0xA0 | _DividerCode(div)), false);
    return true;
}

bool Si5338::_GetInputDividerP2(uint32_t& div)
{
    div = c_dividers[_GetField(c_regP2, 0x07, 0)];
    return true;
}

bool Si5338::_SetPllKphi(const uint32_t& value)
{
    _SetField(c_regKphi, 0xFF, static_cast<uint8_t>(value & 0x7F), false);
    return true;
}

bool Si5338::_GetPllKphi(uint32_t& value)
{
    value = _GetField(c_regKphi, 0x7F, 0);
    return true;
}

bool Si5338::_SetVcoGain(const uint32_t& value)
{
    _SetField(c_regVco, 0x70, static_cast<uint8_t>((value & 7) << 4));
    return true;
}

bool Si5338::_GetVcoGain(uint32_t& value)
{
    value = _GetField(c_regVco, 0x70, 4);
    return true;
}

bool Si5338::_SetRSel(const uint32_t& value)
{
    _SetField(c_regVco, 0x0C, static_cast<uint8_t>((value & 3) << 2));
    return true;
}

bool Si5338::_GetRSel(uint32_t& value)
{
    value = _GetField(c_regVco, 0x0C, 2);
    return true;
}

bool Si5338::_SetBwSel(const uint32_t& value)
{
    _SetField(c_regVco, 0x03, static_cast<uint8_t>(value & 3));
    return true;
}

bool Si5338::_GetBwSel(uint32_t& value)
{
    value = _GetField(c_regVco, 0x03, 0);
    return true;
}

bool Si5338::_SetMCal(const uint32_t& value)
{
    BusControllerLocker lock(m_controller);
    _SetField(c_regMCal, 0xFF, static_cast<uint8_t>(0xC0 | (value & 0x3F)));
    _SetField(c_regMCal2, 0x07, 0x07);
    return true;
}

bool Si5338::_GetMCal(uint32_t& value)
{
    value = _GetField(c_regMCal, 0x3F, 0);
    return true;
}

void Si5338::Si5338OverrideFreqCalForVco(bool override)
{
    _SetField(c_regVco, 0x80, override ? 0x80 : 0x00);
}

bool Si5338::_GetPllStatus(_tSi5338PllLock_e& status)
{
    status = _GetField(c_regStatus, c_lol, 4) ? eSi5338PllNotLocked : eSi5338PllLocked;
    return true;
}

bool Si5338::_GetIn1ClkStatus(_tSi5338ClkPresent_e& status)
{
    status = _GetField(c_regStatus, c_losIn1, 2) ? eSi5338ClkNotPresent : eSi5338ClkPresent;
    return true;
}

bool Si5338::_GetIn2ClkStatus(_tSi5338ClkPresent_e& status)
{
    status = _GetField(c_regStatus, c_losIn2, 3) ? eSi5338ClkNotPresent : eSi5338ClkPresent;
    return true;
}

bool Si5338::_GetDeviceState(_tSi5338DeviceStatus_e& state) const
{
    state = m_device_state.load(std::memory_order_relaxed);
    return true;
}

bool Si5338::Si5338ClockStatusGet(_tSi5338ClkStatus_e status)
{
    static const uint8_t c_bits[] = {c_lol, c_losIn2, c_losIn1, 0x01, c_alarms};
    const uint8_t value = _GetField(c_regStatus, 0xFF, 0);
    if (static_cast<int>(status) < 0 || status > eSi5338AnyAlarm) {
        return false;
    }
    return (value & c_bits[status]) != 0;
}

void Si5338::SetRxDivider(_tSi5338Output_e n, uint8_t code)
{
    _CheckRange(static_cast<size_t>(n), 1, eSi5338OutCount, "output");
    _SetField(static_cast<uint16_t>(c_regRDiv + n), 0xFF, static_cast<uint8_t>(0xC0 | (code & 7) << 2));
}

uint8_t Si5338::GetRxDivider(_tSi5338Output_e n)
{
    _CheckRange(static_cast<size_t>(n), 1, eSi5338OutCount, "output");
    return _GetField(static_cast<uint16_t>(c_regRDiv + n), 0x1C, 2);
}

bool Si5338::_SetRxDivider(const uint32_t* values, size_t first, size_t count)
{
    _CheckRange(first, count, eSi5338OutCount, "outputs");
    std::vector<uint8_t> codes;
    for (size_t i = 0; i < count; ++i) {
        codes.push_back(_DividerCode(values[i])); // every value checked before the first write
    }
    BusControllerLocker lock(m_controller);
    for (size_t i = 0; i < count; ++i) {
        SetRxDivider(static_cast<_tSi5338Output_e>(first + i), codes[i]);
    }
    return true;
}

size_t Si5338::_GetRxDivider(uint32_t* values, size_t first, size_t count)
{
    _CheckRange(first, count, eSi5338OutCount, "outputs");
    BusControllerLocker lock(m_controller);
    for (size_t i = 0; i < count; ++i) {
        values[i] = c_dividers[GetRxDivider(static_cast<_tSi5338Output_e>(first + i))];
    }
    return count;
}

void Si5338::Si5338MultiSynthSet(_tSi5338MsX_e m, _tSi5338MsPx_e p, uint32_t value)
{
    const uint16_t b = _MsBase(m);
    if (p != eSi5338MsP1 && p != eSi5338MsP2 && p != eSi5338MsP3) {
        throw istd::Exception("si5338: wrong input parameters Si5338MultiSynthSet", true);
    }
    BusControllerLocker lock(m_controller);
    Si5338GetRegInRange(b, static_cast<uint16_t>(b + 10));
    uint8_t* r = &m_regs[b];
    switch (p) {
    case eSi5338MsP1:
        r[0] = static_cast<uint8_t>(value);
        r[1] = static_cast<uint8_t>(value >> 8);
        r[2] = static_cast<uint8_t>((r[2] & 0xFC) | (value >> 16 & 0x03));
        break;
    case eSi5338MsP2:
        r[2] = static_cast<uint8_t>((r[2] & 0x03) | (value & 0x3F) << 2);
        r[3] = static_cast<uint8_t>(value >> 6);
        r[4] = static_cast<uint8_t>(value >> 14);
        r[5] = static_cast<uint8_t>(value >> 22);
        break;
    case eSi5338MsP3:
        r[6] = static_cast<uint8_t>(value);
        r[7] = static_cast<uint8_t>(value >> 8);
        r[8] = static_cast<uint8_t>(value >> 16);
        r[9] = static_cast<uint8_t>(value >> 24); // the write mask keeps the bits above 29
        break;
    }
    Si5338SetRegInRange(b, static_cast<uint16_t>(b + 10));
}

uint32_t Si5338::Si5338MultiSynthGet(_tSi5338MsX_e m, _tSi5338MsPx_e p)
{
    const uint16_t b = _MsBase(m);
    if (p != eSi5338MsP1 && p != eSi5338MsP2 && p != eSi5338MsP3) {
        throw istd::Exception("si5338: wrong input parameters Si5338MultiSynthGet", true);
    }
    BusControllerLocker lock(m_controller);
    Si5338GetRegInRange(b, static_cast<uint16_t>(b + 10));
    const uint8_t* r = &m_regs[b];
    switch (p) {
    case eSi5338MsP1:
        return uint32_t{r[0]} | uint32_t{r[1]} << 8 | uint32_t{r[2] & 0x03u} << 16;
    case eSi5338MsP2:
        return uint32_t{r[2]} >> 2 | uint32_t{r[3]} << 6 | uint32_t{r[4]} << 14 | uint32_t{r[5]} << 22;
    default:
        return uint32_t{r[6]} | uint32_t{r[7]} << 8 | uint32_t{r[8]} << 16 | uint32_t{r[9] & 0x3Fu} << 24;
    }
}

bool Si5338::SetMultiSynthMsPX(const uint32_t* values, size_t first, size_t count, _tSi5338MsPx_e p)
{
    _CheckRange(first, count, eSi5338MsCount, "MultiSynths");
    BusControllerLocker lock(m_controller);
    for (size_t i = 0; i < count; ++i) {
        Si5338MultiSynthSet(static_cast<_tSi5338MsX_e>(first + i), p, values[i]);
    }
    return true;
}

size_t Si5338::GetMultiSynthMsPX(uint32_t* values, size_t first, size_t count, _tSi5338MsPx_e p)
{
    _CheckRange(first, count, eSi5338MsCount, "MultiSynths");
    BusControllerLocker lock(m_controller);
    for (size_t i = 0; i < count; ++i) {
        values[i] = Si5338MultiSynthGet(static_cast<_tSi5338MsX_e>(first + i), p);
    }
    return count;
}

bool Si5338::_SetMultiSynthMsP1(const uint32_t* values, size_t first, size_t count)
{
    return SetMultiSynthMsPX(values, first, count, eSi5338MsP1);
}

bool Si5338::_SetMultiSynthMsP2(const uint32_t* values, size_t first, size_t count)
{
    return SetMultiSynthMsPX(values, first, count, eSi5338MsP2);
}

bool Si5338::_SetMultiSynthMsP3(const uint32_t* values, size_t first, size_t count)
{
    return SetMultiSynthMsPX(values, first, count, eSi5338MsP3);
}

size_t Si5338::_GetMultiSynthMsP1(uint32_t* values, size_t first, size_t count)
{
    return GetMultiSynthMsPX(values, first, count, eSi5338MsP1);
}

size_t Si5338::_GetMultiSynthMsP2(uint32_t* values, size_t first, size_t count)
{
    return GetMultiSynthMsPX(values, first, count, eSi5338MsP2);
}

size_t Si5338::_GetMultiSynthMsP3(uint32_t* values, size_t first, size_t count)
{
    return GetMultiSynthMsPX(values, first, count, eSi5338MsP3);
}

void Si5338::Si5338RefClkInit()
{
    _SetField(c_regRefClk, 0xFF, 0x00);
}

void Si5338::Si5338OutputDriverInit()
{
    BusControllerLocker lock(m_controller);
    const uint16_t last = c_regDrvFirst + 7;
    Si5338GetRegInRange(c_regDrvFirst, last);
    uint8_t* r = &m_regs[c_regDrvFirst];
    r[0] = 0x00;
    r[1] = r[2] = r[3] = r[4] = 0x04;
    r[5] = 0xEF;
    r[6] = static_cast<uint8_t>((r[6] & 0x80) | 0x3D);
    r[7] = static_cast<uint8_t>((r[7] & 0xE0) | 0x0F);
    Si5338SetRegInRange(c_regDrvFirst, last);
}

void Si5338::Si5338OutputDisableAll()
{
    BusControllerLocker lock(m_controller);
    _SetField(c_regOutputs, 0xFF, static_cast<uint8_t>((m_regs[c_regOutputs] & 0x0F) | 0x10), false);
}

void Si5338::Si5338OutputEnableAll()
{
    _SetField(c_regOutputs, 0xFF, 0x00, false);
}

void Si5338::Si5338LolPreventFromAsserting(bool prevent)
{
    _SetField(c_regLol, 0xFF, static_cast<uint8_t>((prevent ? 0x80 : 0x00) | 0x65), false);
}

void Si5338::Si5338SoftReset()
{
    _SetField(c_regSoftReset, 0xFF, 0x02, false);
}

void Si5338::Si5338CopyFcalValuesToActiveRegs()
{
    BusControllerLocker lock(m_controller);
    Si5338GetRegInRange(c_regFcal, c_regFcal + 2);
    m_regs[c_regFcalActive] = m_regs[c_regFcal];
    m_regs[c_regFcalActive + 1] = m_regs[c_regFcal + 1];
    m_regs[c_regFcalActive + 2] = static_cast<uint8_t>(0x14 | (m_regs[c_regFcal + 2] & 0x03));
    Si5338SetRegInRange(c_regFcalActive, c_regFcalActive + 2);
}

void Si5338::Si5338StopDevice()
{
    BusControllerLocker lock(m_controller);
    Si5338OutputDisableAll();
    Si5338LolPreventFromAsserting(true);
}

void Si5338::Si5338StartDevice()
{
    ISTD_TRACE_FNC("void bmc::Si5338::Si5338StartDevice()");
    Si5338RefClkInit();
    Si5338OutputDriverInit();
    BusSleep(100000);

    _tSi5338ClkIn_e in = eSi5338ClkIn1;
    _GetInputClkSel(in);
    const uint8_t los = in == eSi5338ClkIn2 ? c_losIn2 : c_losIn1;
    ISTD_TRACE(1, "Si5338: input clk status check..");
    bool present = false;
    for (int poll = 0; poll < c_polls && !present; ++poll) {
        BusSleep(1000);
        present = (_GetField(c_regStatus, 0xFF, 0) & los) == 0;
    }
    if (!present) {
        throw istd::Exception("si5338: input clock is not valid or present", true);
    }

    Si5338OverrideFreqCalForVco(false);
    Si5338SoftReset();
    Si5338LolPreventFromAsserting(false);
    BusSleep(25000);

    ISTD_TRACE(1, "Si5338: waiting for pll to lock..");
    bool locked = false;
    for (int poll = 0; poll < c_polls && !locked; ++poll) {
        BusSleep(1000);
        locked = (_GetField(c_regStatus, 0xFF, 0) & c_alarms) == 0;
        if (locked) {
            ISTD_TRACE(1, "Si5338: PLL locked in " << poll << " ms");
        }
    }
    // Enabling the outputs of an unlocked PLL would hand its wandering clock to the board.
    if (!locked) {
        throw istd::Exception("si5338: PLL did not lock", true);
    }

    Si5338CopyFcalValuesToActiveRegs();
    Si5338OverrideFreqCalForVco(true);
    Si5338OutputEnableAll();
}

void Si5338::Si5338DevStateSet(_tSi5338DeviceStatus_e state)
{
    ISTD_TRACE_FNC("void bmc::Si5338::Si5338DevStateSet(bmc::_tSi5338DeviceStatus_e)");
    Si5338StopDevice();
    if (state != eSi5338Enabled) {
        ISTD_TRACE(1, "Si5338: stopped");
        m_device_state.store(eSi5338Disabled, std::memory_order_relaxed);
        return;
    }
    // The chip is stopped from here on until the start completes.
    m_device_state.store(eSi5338Disabled, std::memory_order_relaxed);
    Si5338StartDevice();
    ISTD_TRACE(1, "Si5338: started");
    m_device_state.store(eSi5338Enabled, std::memory_order_relaxed);
}

} // namespace bmc
