#ifndef IAPP_BOARDS_PAX_PAX_ID_SPECIFIC_H
#define IAPP_BOARDS_PAX_PAX_ID_SPECIFIC_H

// The timing board's clock information ("clock_info"): an 8-byte window whose first 32-bit word
// is the ADC frequency the FPGA reports, in the FPGA's own unit. The word is read once, when the
// object is made; "adc_frequency" (uint32, flags 0x22: readable, constant) shows that copy.
//
//     auto* info = board.RegisterObject<PaxIdSpecific>(0x100, "clock_info");
//     uint32_t adc = info->GetADCFrequency();

#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"
#include "mci/types.h"

class IAPP_API PaxIdSpecific : public iapp::KavrelFpgaObject {
public:
    static uint32_t Size() { return 8; }

    PaxIdSpecific(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name);
    ~PaxIdSpecific() override;

    uint32_t GetADCFrequency() const { return m_adcFrequency; }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    uint32_t m_adcFrequency;
};

#endif
