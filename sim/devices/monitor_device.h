#pragma once
// A simulated monitor device: the memory-mapped device file of one board's FPGA.
//
// The object claims its device path in devio for as long as it lives, so that the system's own
// mapping code (open, mapping request, mmap) reaches it instead of a driver. Its register space is
// a memory file of the given size; the feature word lies at byte offset 12, as on a real board.
// Every mapping is a real shared mapping of that memory, so the test (through the Memory
// accessors) and every mapping see the same bytes, and an access past the mapped size faults as it
// would on hardware.
//
// Windows of the register space can be served by register models (AttachModel): in every mapping,
// present and future, the window is then a devio register range and its accesses reach the model
// instead of the memory.
//
// Descriptors and mappings handed out stay valid after the object is destroyed, until the caller
// closes and unmaps them; only new opens of the path stop reaching the simulation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "devio/reg_access.h"

namespace sim {

class MonitorDevice {
public:
    static constexpr size_t c_featureOffset = 12;

    // The steps of mapping that a test can make fail.
    enum class Step_e { eOpen, eRequest, eMap };

    // Claims path; size is the register space in bytes (at most 0xFFFFFFFF, the mapping request's
    // limit; 0 makes a device that cannot be mapped). The feature word is stored when the space
    // holds it, so a device smaller than 16 bytes simulates a driver that reports too small an
    // area. Throws istd::Exception when the path is taken or the memory cannot be made.
    MonitorDevice(const std::string& path, size_t size, uint32_t features = 0);
    ~MonitorDevice();
    MonitorDevice(const MonitorDevice&) = delete;
    MonitorDevice& operator=(const MonitorDevice&) = delete;

    const std::string& GetPath() const;
    size_t GetSize() const;

    // The feature word at offset 12 of the backing memory; throw when the space is too small.
    uint32_t GetFeatures() const;
    void SetFeatures(uint32_t features);

    // The backing memory itself, past any model: aligned words inside the space, else throw.
    uint32_t ReadMemory32(size_t offset) const;
    uint64_t ReadMemory64(size_t offset) const;
    void WriteMemory32(size_t offset, uint32_t value);
    void WriteMemory64(size_t offset, uint64_t value);

    // Serves [offset, offset + length) of every mapping by the model; model offsets count from the
    // window's start. A mapping must cover the whole window for the model to serve it there (the
    // system maps the whole space from offset 0). Throws when the window is empty, leaves the
    // space or overlaps another window.
    void AttachModel(size_t offset, size_t length, devio::RegisterModelPtr model);

    // Makes the step fail with the error number until called again with 0.
    void SetFailure(Step_e step, int error);

    // Descriptors opened from the path and areas mapped from them that are still open.
    size_t GetOpenDescriptorCount() const;
    size_t GetMappedAreaCount() const;

private:
    class Handler;
    std::shared_ptr<Handler> m_handler;
};

} // namespace sim
