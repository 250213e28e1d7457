#ifndef BMC_I2C_DEVICE_SI5338_H
#define BMC_I2C_DEVICE_SI5338_H

// The I2C clock generator at address 0x70: registers 0 to 350 on two pages (256 to 350 are page
// 1's addresses 0 to 94; register 255 selects the page). The driver keeps a copy of every
// register, changes fields in the copy and writes registers back through a write mask per
// register, so that bits the driver does not own keep the chip's value. Construction disables
// the outputs, reads the whole chip and writes a default PLL and divider set; enabling
// (Si5338DevStateSet) runs the start-up sequence: input-clock check, soft reset, wait for the PLL
// lock, frequency-calibration copy, outputs on.
//
// Every operation holds the bus controller's lock while it works on the copy and the page, so
// that settings made from several threads cannot interleave page selections; the start-up
// sequence takes it per step and not across its waits.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "istd/enum_map.h"
#include "bmc/bmc_export.h"
#include "bmc/i2c_device.h"

namespace bmc {

enum _tSi5338ClkIn_e : int32_t { eSi5338ClkIn1 = 0, eSi5338ClkIn2 = 1 };
enum _tSi5338ClkPresent_e : int32_t { eSi5338ClkNotPresent = 0, eSi5338ClkPresent = 1 };
enum _tSi5338PllLock_e : int32_t { eSi5338PllLocked = 0, eSi5338PllNotLocked = 1 };
enum _tSi5338DeviceStatus_e : int32_t { eSi5338Disabled = 0, eSi5338Enabled = 1 };
// A status bit of register 218; eSi5338AnyAlarm is any of them.
enum _tSi5338ClkStatus_e : int32_t {
    eSi5338PllLossOfLock = 0, // bit 4
    eSi5338In2LossOfSignal = 1, // bit 3
    eSi5338In1LossOfSignal = 2, // bit 2
    eSi5338Calibrating = 3,     // bit 0
    eSi5338AnyAlarm = 4
};
enum _tSi5338MsPx_e : int32_t { eSi5338MsP1 = 0, eSi5338MsP2 = 1, eSi5338MsP3 = 2 };
enum _tSi5338MsX_e : int32_t { eSi5338Ms0 = 0, eSi5338Ms1, eSi5338Ms2, eSi5338Ms3, eSi5338Ms4, eSi5338MsCount };
enum _tSi5338Output_e : int32_t { eSi5338Out0 = 0, eSi5338Out1, eSi5338Out2, eSi5338Out3, eSi5338OutCount };

class BMC_API Si5338 : public I2cDevice {
public:
    static constexpr uint8_t c_i2cAddr = 0x70;
    static constexpr uint16_t c_numRegs = 351; // registers 0 to 350

    // The address argument is not used: the chip is always at c_i2cAddr. Talks to the chip (see
    // above); a chip that does not answer throws the bus's exception.
    Si5338(BusController& controller, const std::string& name, BusDeviceId id, uint8_t address, uint8_t bus);
    ~Si5338() override;

    // Register access; numbers above 350 throw "par is out of range" before any transfer.
    // Writes the page register when the register lies on the other page than the last one.
    void Si5338PageSelect(uint16_t reg);
    // Chip → copy; register 255 is left to the page selection.
    void Si5338GetReg(uint16_t reg);
    // Copy → chip through the register's write mask; register 255 likewise left alone.
    void Si5338SetReg(uint16_t reg);
    void Si5338GetRegInRange(uint16_t first, uint16_t last);
    void Si5338SetRegInRange(uint16_t first, uint16_t last);
    // Writes (m AND value) OR (NOT m AND chip value), m = the register's write mask AND mask; the
    // chip is read only when m is not 0xFF.
    void Si5338ReadModifiedWrite(uint16_t reg, uint8_t value, uint8_t mask);
    void Si5338Read(uint16_t reg, uint8_t* value);
    void Si5338Write(uint16_t reg, const uint8_t* value);
    // The copy of a register (no transfer); 0 above 350.
    uint8_t GetRegCopy(uint16_t reg) const;
    // The bits of a register the driver may change.
    static uint8_t GetWriteMask(uint16_t reg);

    // Settings bound to registry nodes: each writes the chip at once and returns true.
    bool _SetInputClkSel(const _tSi5338ClkIn_e& in);
    bool _GetInputClkSel(_tSi5338ClkIn_e& in); // a field of neither input throws
    // Dividers 1, 2, 4, 8, 16, 32; any other value throws "si5338: wrong div. code value".
    bool _SetInputDividerP1(const uint32_t& div);
    bool _GetInputDividerP1(uint32_t& div); // codes 6 and 7 read as 0
    bool _SetInputDividerP2(const uint32_t& div);
    bool _GetInputDividerP2(uint32_t& div);
    bool _SetPllKphi(const uint32_t& value);
    bool _GetPllKphi(uint32_t& value);
    bool _SetVcoGain(const uint32_t& value);
    bool _GetVcoGain(uint32_t& value);
    bool _SetRSel(const uint32_t& value);
    bool _GetRSel(uint32_t& value);
    bool _SetBwSel(const uint32_t& value);
    bool _GetBwSel(uint32_t& value);
    bool _SetMCal(const uint32_t& value);
    bool _GetMCal(uint32_t& value);
    void Si5338OverrideFreqCalForVco(bool override);
    bool _GetPllStatus(_tSi5338PllLock_e& status);
    bool _GetIn1ClkStatus(_tSi5338ClkPresent_e& status);
    bool _GetIn2ClkStatus(_tSi5338ClkPresent_e& status);
    bool _GetDeviceState(_tSi5338DeviceStatus_e& state) const; // no transfer
    // The selected bit of register 218; false for an unknown selector.
    bool Si5338ClockStatusGet(_tSi5338ClkStatus_e status);

    // Output dividers: the code (0..5 for 1..32) of output n.
    void SetRxDivider(_tSi5338Output_e n, uint8_t code);
    uint8_t GetRxDivider(_tSi5338Output_e n);
    // Outputs first .. first + count − 1 as divider values; first + count above 4 throws
    // before any transfer, and so does a value without a code. The getter answers the number
    // filled.
    bool _SetRxDivider(const uint32_t* values, size_t first, size_t count);
    size_t _GetRxDivider(uint32_t* values, size_t first, size_t count);

    // MultiSynth m's parameter p (P1 18 bits, P2 and P3 30 bits); another selector or a
    // MultiSynth above 4 throws.
    void Si5338MultiSynthSet(_tSi5338MsX_e m, _tSi5338MsPx_e p, uint32_t value);
    uint32_t Si5338MultiSynthGet(_tSi5338MsX_e m, _tSi5338MsPx_e p);
    // MultiSynths first .. first + count − 1; first + count above 5 throws before any transfer.
    bool SetMultiSynthMsPX(const uint32_t* values, size_t first, size_t count, _tSi5338MsPx_e p);
    size_t GetMultiSynthMsPX(uint32_t* values, size_t first, size_t count, _tSi5338MsPx_e p);
    bool _SetMultiSynthMsP1(const uint32_t* values, size_t first, size_t count);
    bool _SetMultiSynthMsP2(const uint32_t* values, size_t first, size_t count);
    bool _SetMultiSynthMsP3(const uint32_t* values, size_t first, size_t count);
    size_t _GetMultiSynthMsP1(uint32_t* values, size_t first, size_t count);
    size_t _GetMultiSynthMsP2(uint32_t* values, size_t first, size_t count);
    size_t _GetMultiSynthMsP3(uint32_t* values, size_t first, size_t count);

    // Device control.
    void Si5338RefClkInit();
    void Si5338OutputDriverInit();
    void Si5338OutputDisableAll();
    void Si5338OutputEnableAll();
    void Si5338LolPreventFromAsserting(bool prevent);
    void Si5338SoftReset();
    void Si5338CopyFcalValuesToActiveRegs();
    void Si5338StopDevice();
    // The start-up sequence. Throws "si5338: input clock is not valid or present" when the
    // selected input shows loss of signal for 301 polls of 1 ms, and "si5338: PLL did not lock"
    // when the PLL shows an alarm for 301 polls; the outputs stay disabled either way.
    void Si5338StartDevice();
    // Enabled: stop, start, state enabled; a start that throws leaves the chip stopped and the
    // state disabled. Anything else: stop, state disabled.
    void Si5338DevStateSet(_tSi5338DeviceStatus_e state);

private:
    // Under the bus lock: the field of a register (read first unless told not to), written back.
    void _SetField(uint16_t reg, uint8_t fieldMask, uint8_t value, bool readFirst = true);
    uint8_t _GetField(uint16_t reg, uint8_t fieldMask, unsigned shift);

    uint8_t m_regs[352] = {};  // index = register number; guarded by the controller's lock
    uint32_t m_current_page = 2; // none yet: the first access writes the page register
    std::atomic<_tSi5338DeviceStatus_e> m_device_state{eSi5338Disabled};
};

} // namespace bmc

ISTD_ENUM_TABLE_DECL(bmc::_tSi5338ClkIn_e)
ISTD_ENUM_TABLE_DECL(bmc::_tSi5338ClkPresent_e)
ISTD_ENUM_TABLE_DECL(bmc::_tSi5338PllLock_e)
ISTD_ENUM_TABLE_DECL(bmc::_tSi5338DeviceStatus_e)

#endif
