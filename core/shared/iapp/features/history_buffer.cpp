#include "iapp/features/history_buffer.h"

#include <ios>

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace ifeature {

namespace {

constexpr uint64_t c_statusBit = uint64_t{1} << 31;
constexpr uint64_t c_stop = 2;

// The FPGA takes its 64-bit control words as two 32-bit writes, the lower half first.
void _Write(volatile uint64_t* reg, uint64_t value)
{
    volatile uint32_t* half = reinterpret_cast<volatile uint32_t*>(reg);
    devio::Write32(half, static_cast<uint32_t>(value));
    devio::Write32(half + 1, static_cast<uint32_t>(value >> 32));
}

} // namespace

HistoryBuffer::tControl::tControl(volatile uint64_t* reg, flags mode) : m_reg(reg), m_mode(mode)
{
    if (mode != eEnable1 && mode != eEnable4) {
        throw istd::Exception("Invalid signal enable mode: " + std::to_string(static_cast<uint32_t>(mode)), true);
    }
    if (reg == nullptr) {
        throw istd::Exception("Invalid history buffer control register", true);
    }
}

bool HistoryBuffer::tControl::IsEnabled() const
{
    return (devio::Read64(m_reg) & c_statusBit) != 0;
}

void HistoryBuffer::tControl::Stop() const
{
    _Write(m_reg, c_stop);
}

void HistoryBuffer::tControl::Start() const
{
    _Write(m_reg, m_mode);
}

HistoryBuffer::HistoryBuffer(iapp::KavrelObject& parent, const std::string& name, const std::vector<tControl>& controls)
    : KavrelFeature(parent, name), m_controls(controls)
{
}

HistoryBuffer::~HistoryBuffer()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " HistoryBuffer");
}

void HistoryBuffer::ForceEnable()
{
    ISTD_TRACE_FNC("virtual void ifeature::HistoryBuffer::ForceEnable()");
    std::lock_guard<std::mutex> lock(m_lock);
    for (const tControl& control : m_controls) {
        control.Stop();
        control.Start();
    }
}

void HistoryBuffer::AssureEnable()
{
    ISTD_TRACE_FNC("virtual void ifeature::HistoryBuffer::AssureEnable()");
    std::lock_guard<std::mutex> lock(m_lock);
    for (const tControl& control : m_controls) {
        if (!control.IsEnabled()) {
            control.Stop();
            control.Start();
        }
    }
}

void HistoryBuffer::Disable()
{
    ISTD_TRACE_FNC("virtual void ifeature::HistoryBuffer::Disable()");
    std::lock_guard<std::mutex> lock(m_lock);
    for (const tControl& control : m_controls) {
        control.Stop();
    }
}

bool HistoryBuffer::IsEnabled()
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const tControl& control : m_controls) {
        const uint64_t value = devio::Read64(control.GetRegister());
        if ((value & c_statusBit) == 0) {
            ISTD_TRACE(1, "Not all HB writers are enabled. "
                              << " Address: 0x" << std::hex << reinterpret_cast<uintptr_t>(control.GetRegister())
                              << " Value: 0x" << value << std::dec);
            return false;
        }
    }
    return true;
}

void HistoryBuffer::OnPostConfig()
{
    ForceEnable();
}

} // namespace ifeature
