#include "bmc/i2c_device_SI57x.h"

#include <cmath>
#include <cstdlib>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"

namespace bmc {

namespace {

constexpr uint8_t c_regFirst = 7; // registers 7 to 12: HS_DIV, N1, RFREQ
constexpr uint8_t c_regControl = 135;
constexpr uint8_t c_regFreezeDco = 137;
constexpr uint8_t c_recallNvm = 0x01;
constexpr uint8_t c_freezeM = 0x20;
constexpr uint8_t c_newFreq = 0x40;
constexpr uint8_t c_freezeDco = 0x10;

constexpr double c_dcoMin = 4850000000.0;
constexpr double c_dcoMax = 5670000000.0;
constexpr double c_rfreqScale = 268435456.0; // 2^28
constexpr double c_startupFreq = 100000000.0;
constexpr uint64_t c_rfreqLimit = uint64_t{1} << 38;

// HS_DIV codes and their dividers; codes 4 and 6 have none.
constexpr int32_t c_hsDivCodes[] = {0, 1, 2, 3, 5, 7};
constexpr int32_t c_hsDivValues[] = {4, 5, 6, 7, 9, 11};

int32_t _HsDivOfCode(int32_t code)
{
    for (size_t i = 0; i < sizeof(c_hsDivCodes) / sizeof(c_hsDivCodes[0]); ++i) {
        if (c_hsDivCodes[i] == code) {
            return c_hsDivValues[i];
        }
    }
    return -1;
}

int32_t _CodeOfHsDiv(int32_t value)
{
    for (size_t i = 0; i < sizeof(c_hsDivValues) / sizeof(c_hsDivValues[0]); ++i) {
        if (c_hsDivValues[i] == value) {
            return c_hsDivCodes[i];
        }
    }
    return -1;
}

// Registers 7 to 12 of a set whose codes fit their fields.
void _RegisterBytes(const Si57x::dividerData& d, uint64_t bytes[6])
{
    const uint64_t rfreq = d.rfreq;
    bytes[0] = static_cast<uint64_t>((d.n1_code >> 2) | (d.hs_div_code << 5)) & 0xFF;
    bytes[1] = ((rfreq >> 32) & 0x3F) + ((static_cast<uint64_t>(d.n1_code) << 6) & 0xFF);
    for (int i = 2; i < 6; ++i) {
        bytes[i] = (rfreq >> (8 * (5 - i))) & 0xFF;
    }
}

void TrcDividerData(const Si57x::dividerData* d)
{
    ISTD_TRACE(1, "Si57x: div. data "
                      << "hs_div: " << d->hs_div << "(reg. val.= " << d->hs_div_code << " ), "
                      << "n1_div: " << d->n1_div << "(reg. val.= " << d->n1_code << " ), "
                      << " rfreq " << d->rfreq);
}

void TrcGuessedDividerData(int32_t hsDiv, int32_t n1, uint64_t dco)
{
    ISTD_TRACE(1, "Si57x: guessed div. data "
                      << "hs_div: " << hsDiv << " n1_div: " << n1 << " DCO: " << dco << " Hz"
                      << " ( " << static_cast<double>(dco) / 1000000000.0 << " GHz)");
}

} // namespace

Si57x::Si57x(BusController& controller, const std::string& name, BusDeviceId id, uint8_t, uint8_t bus)
    : I2cDevice(controller, name, id)
{
    ISTD_TRACE_FNC("bmc::Si57x::Si57x(bmc::BusController&, const std::string&, bmc::BusDeviceId, uint8_t, uint8_t)");
    SetBusParam<I2cBusParams>(*this, c_i2cAddr, bus, 100);
}

Si57x::~Si57x()
{
    ISTD_TRACE_FNC("virtual bmc::Si57x::~Si57x()");
}

bool Si57x::SetVcxoFreq(const uint32_t& freq)
{
    m_vcxo_freq.store(freq, std::memory_order_relaxed);
    return true;
}

bool Si57x::GetVcxoFreq(uint32_t& freq) const
{
    freq = m_vcxo_freq.load(std::memory_order_relaxed);
    return true;
}

uint64_t Si57x::GetVcxoConfigParams() const
{
    return m_vcxo_config_params.load(std::memory_order_relaxed);
}

bool Si57x::CheckVcxoPresence()
{
    ISTD_TRACE_FNC("bool bmc::Si57x::CheckVcxoPresence()");
    // Register 7 alone reads 0 also on a running chip: HS_DIV 4 (code 0) with N1 1, 2 or 4, as
    // any frequency from about 300 MHz up leaves it. Only a set of six zero bytes (RFREQ 0,
    // no output at all) is taken for a missing chip.
    try {
        BusControllerLocker lock(m_controller);
        for (uint8_t reg = c_regFirst; reg < c_regFirst + 6; ++reg) {
            uint64_t value = 0;
            Read(reg, value);
            if ((value & 0xFF) != 0) {
                return true;
            }
        }
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "Si57x: no answer from the VCXO: " << e.what());
    }
    return false;
}

bool Si57x::RecallNvmVcxo()
{
    ISTD_TRACE(1, "Si57x: recalling NVM values ..");
    Write(c_regControl, uint64_t{c_recallNvm});
    BusSleep(1);
    return true;
}

bool Si57x::ReadRfreq(dividerData* data)
{
    ISTD_TRACE_FNC("bool bmc::Si57x::ReadRfreq(bmc::Si57x::dividerData*)");
    uint64_t word = 0;
    {
        BusControllerLocker lock(m_controller);
        for (uint8_t reg = c_regFirst; reg < c_regFirst + 6; ++reg) {
            uint64_t value = 0;
            Read(reg, value);
            word = word << 8 | (value & 0xFF);
        }
    }
    data->hs_div_code = static_cast<int32_t>(word >> 45 & 0x07);
    data->n1_code = static_cast<int32_t>(word >> 38 & 0x7F);
    data->rfreq = word & (c_rfreqLimit - 1);
    data->hs_div = _HsDivOfCode(data->hs_div_code);
    data->n1_div = data->n1_code + 1;
    data->dco_freq = 0;
    return true;
}

bool Si57x::WriteRfreq(const dividerData* data)
{
    ISTD_TRACE_FNC("bool bmc::Si57x::WriteRfreq(const bmc::Si57x::dividerData*)");
    if (data->hs_div_code < 0 || data->hs_div_code > 7 || data->n1_code < 0 || data->n1_code > 127 ||
        data->rfreq >= c_rfreqLimit) {
        return false;
    }
    uint64_t bytes[6];
    _RegisterBytes(*data, bytes);
    BusControllerLocker lock(m_controller);
    Write(c_regFreezeDco, uint64_t{c_freezeDco});
    Write(c_regControl, uint64_t{c_freezeM});
    for (uint8_t i = 0; i < 6; ++i) {
        Write(c_regFirst + i, bytes[i]);
    }
    Write(c_regFreezeDco, uint64_t{0});
    Write(c_regControl, uint64_t{c_newFreq});
    Write(c_regControl, uint64_t{0});
    return true;
}

bool Si57x::CalcNewRfreq(uint64_t newFreq, const dividerData* oldData, dividerData* newData)
{
    ISTD_TRACE_FNC("bool bmc::Si57x::CalcNewRfreq(uint64_t, const bmc::Si57x::dividerData*, bmc::Si57x::dividerData*)");
    *newData = dividerData();
    // A factory set without a divider or with RFREQ 0 gives no crystal frequency: a negative or
    // infinite one would turn into garbage register values.
    if (oldData->hs_div <= 0 || oldData->n1_div <= 0 || oldData->rfreq == 0) {
        ISTD_TRACE(1, "Si57x: invalid factory divider set");
        TrcDividerData(oldData);
        return false;
    }
    const double oldRfreq = static_cast<double>(oldData->rfreq) / c_rfreqScale;
    const double fXtal = c_startupFreq * oldData->hs_div * oldData->n1_div / oldRfreq;
    ISTD_TRACE(1, "Si57x: rf_freq: " << oldRfreq << ",  f_xtal: " << fXtal << " (should be around 1.14MHz!)");
    ISTD_TRACE(1, "Si57x: new_freq (f1) =" << newFreq << " (" << static_cast<double>(newFreq) / 1000000.0 << " MHz)");
    ISTD_TRACE(1, "Si57x: DCO limits: " << c_dcoMin / 1e9 << "-" << c_dcoMax / 1e9 << " GHz");
    ISTD_TRACE(4, "Si57x: INITIAL ");
    if (istd::TraceFile::IsActive(4)) {
        TrcDividerData(oldData);
    }
    // Above the window's top even the smallest product (4 × 1) misses it; the bound also keeps
    // the products below 2^64.
    if (static_cast<double>(newFreq) >= c_dcoMax) {
        return false;
    }
    for (int32_t hsDiv : c_hsDivValues) {
        for (int32_t n1 = 1; n1 <= 128; n1 = (n1 == 1) ? 2 : n1 + 2) {
            const uint64_t dco = static_cast<uint64_t>(hsDiv) * static_cast<uint64_t>(n1) * newFreq;
            const double dcoD = static_cast<double>(dco);
            if (!(dcoD > c_dcoMin && dcoD < c_dcoMax)) {
                continue;
            }
            const bool take = newData->dco_freq == 0 ||
                              std::abs(hsDiv - oldData->hs_div) < std::abs(newData->hs_div - oldData->hs_div);
            ISTD_TRACE(4, (take ? "Si57x: SELECT:" : "Si57x: GOOD:"));
            TrcGuessedDividerData(hsDiv, n1, dco);
            if (take) {
                newData->hs_div = hsDiv;
                newData->n1_div = n1;
                newData->dco_freq = dcoD;
            }
        }
    }
    if (newData->n1_div == 0) {
        return false;
    }
    const double rfreq = newData->dco_freq / fXtal * c_rfreqScale;
    if (!std::isfinite(rfreq) || rfreq >= static_cast<double>(c_rfreqLimit)) {
        ISTD_TRACE(1, "Si57x: RFREQ " << rfreq << " does not fit its 38 bits");
        return false;
    }
    newData->rfreq = static_cast<uint64_t>(rfreq);
    newData->hs_div_code = _CodeOfHsDiv(newData->hs_div);
    newData->n1_code = newData->n1_div - 1 < 128 ? newData->n1_div - 1 : -1;
    ISTD_TRACE(4, "Si57x: FINAL : ");
    if (istd::TraceFile::IsActive(4)) {
        TrcDividerData(newData);
    }
    ISTD_TRACE(2, "Si57x: calc. new freq: "
                      << static_cast<double>(newData->rfreq) / c_rfreqScale * fXtal /
                             (newData->hs_div * newData->n1_div));
    return true;
}

void Si57x::OnEnabled()
{
    ISTD_TRACE_FNC("virtual void bmc::Si57x::OnEnabled()");
    if (!CheckVcxoPresence()) {
        ISTD_TRACE(1, "si57x: Si57x VCXO NOT present or INCORRECT slave address!");
        return;
    }
    const uint32_t freq = m_vcxo_freq.load(std::memory_order_relaxed);
    ISTD_TRACE(1, "Si57x: VCXO frequency " << freq << " Hz"
                                             << "(" << static_cast<double>(freq) / 1000000.0 << " MHz)");
    if (!RecallNvmVcxo()) {
        throw istd::Exception("Si57x: RecallNvmVcxo fail!", true);
    }
    dividerData oldData;
    if (!ReadRfreq(&oldData)) {
        throw istd::Exception("Si57x: ReadRfreq fail!", true);
    }
    ISTD_TRACE(1, "Si57x: old data");
    TrcDividerData(&oldData);
    dividerData newData;
    if (!CalcNewRfreq(freq, &oldData, &newData)) {
        throw istd::Exception("Si57x CalcNewRfreq fail!", true);
    }
    if (!WriteRfreq(&newData)) {
        throw istd::Exception("Si57x: WriteRfreq fail!", true);
    }
    uint64_t bytes[6];
    _RegisterBytes(newData, bytes);
    uint64_t params = 0;
    for (int i = 5; i >= 0; --i) {
        params = params << 8 | (bytes[i] & 0xFF);
    }
    m_vcxo_config_params.store(params, std::memory_order_relaxed);
    OnDeviceEnable();
    ISTD_TRACE(1, "Si57x: init. ok & enabled");
}

void Si57x::OnDisabled()
{
    OnDeviceDisable();
}

void Si57x::OnDeviceDisable()
{
}

void Si57x::OnDeviceEnable()
{
}

} // namespace bmc
