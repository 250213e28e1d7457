#ifndef IAPP_FEATURES_HISTORY_BUFFER_H
#define IAPP_FEATURES_HISTORY_BUFFER_H

// The control registers of the FPGA's history-buffer writers, the blocks that write signal
// samples into the board's history memory. The application gives the feature its writers'
// 64-bit control registers (windows of a board's mapped memory) and their enable modes:
//
//     volatile iapp::FPGAMem_t* window = board.MapRegisters(0x440000, 16);
//     auto* hb = iapp::Create<ifeature::HistoryBuffer>(board, "history_buffer",
//         std::vector<ifeature::HistoryBuffer::tControl>{
//             {reinterpret_cast<volatile uint64_t*>(window), ifeature::HistoryBuffer::eEnable1},
//             {reinterpret_cast<volatile uint64_t*>(window + 8), ifeature::HistoryBuffer::eEnable4}});
//
// A control register stops its writer when 2 is written and starts it when the writer's mode is;
// bit 31 reads 1 while the writer runs. Every write is the 64-bit value as two 32-bit halves,
// the lower half first. All writers start after the configuration is loaded (OnPostConfig); a
// machine-time adjustment stops them and starts them again around itself.
//
// The operations are serialised by the feature's lock and visit the writers in the order given.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace ifeature {

class IAPP_API HistoryBuffer : public iapp::KavrelFeature {
public:
    // The enable mode of a writer: the value written to start it. 1 and 4 are the valid ones.
    enum flags : uint32_t { eEnable1 = 1, eEnable4 = 4 };

    // One writer.
    class IAPP_API tControl {
    public:
        // Throws istd::Exception "Invalid signal enable mode: <mode>" for a mode other than 1 or 4
        // and "Invalid history buffer control register" for a null register.
        tControl(volatile uint64_t* reg, flags mode);

        // Bit 31 of the register.
        bool IsEnabled() const;
        // Writes 2, or the mode.
        void Stop() const;
        void Start() const;

        volatile uint64_t* GetRegister() const { return m_reg; }
        flags GetMode() const { return m_mode; }

    private:
        volatile uint64_t* m_reg;
        flags m_mode;
    };

    HistoryBuffer(iapp::KavrelObject& parent, const std::string& name, const std::vector<tControl>& controls);
    ~HistoryBuffer() override;

    // Stops and starts every writer.
    virtual void ForceEnable();
    // Stops and starts every writer that does not run; running writers are not touched.
    virtual void AssureEnable();
    // Stops every writer.
    virtual void Disable();
    // True when every writer runs (also without writers); else traces the first that does not, at
    // level 1, and answers false.
    virtual bool IsEnabled();

    // Starts the writers (ForceEnable, a derived class's included).
    void OnPostConfig() override;

    const std::vector<tControl>& GetControls() const { return m_controls; }

private:
    std::mutex m_lock;
    const std::vector<tControl> m_controls;
};

} // namespace ifeature

#endif
