#ifndef IAPP_IDENTIFICATION_BLOCK_H
#define IAPP_IDENTIFICATION_BLOCK_H

// The identification and health block at the start of every board's FPGA space: six 32-bit
// words (little-endian), which every board registers as "info" at offset 0.
//
//   0  board number (bits 31-24), subsystem id (23-16), application id (15-8), board id (7-0)
//   4  customer id: up to four ASCII characters, the first at the lowest address
//   8  revision         12  features         (these three and word 0: read once, at construction)
//   16 health status (read on every get)     20 health mask (GetHealthMask, SetHealthMask)
//
// Its nodes under "info" are constant and refuse every write: "revision", "customer" (a
// string), "customer_id", "board_number", "subsystem_id", "application_id", "board_id",
// "features", "health_mask" and the live "health_status".

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"
#include "mci/types.h"

class IAPP_API IdentificationBlock : public iapp::KavrelFpgaObject {
public:
    static size_t Size() { return 24; }

    IdentificationBlock(iapp::KavrelBoard& board, volatile iapp::FPGAMem_t* window, const std::string& name);
    ~IdentificationBlock() override;

    // One 32-bit write of word 5; true.
    bool SetHealthMask(uint32_t mask);
    // One 32-bit read of word 5; true.
    bool GetHealthMask(uint32_t& mask) const;

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // The identity as read at construction.
    uint32_t GetCustomerId() const { return m_customerId; }
    const std::string& GetCustomer() const { return m_customer; }
    uint32_t GetBoardNumber() const { return m_boardNumber; }
    uint32_t GetSubsystemId() const { return m_subsystemId; }
    uint32_t GetApplicationId() const { return m_applicationId; }
    uint32_t GetBoardId() const { return m_boardId; }
    uint32_t GetRevision() const { return m_revision; }
    uint32_t GetFeatures() const { return m_features; }

private:
    volatile uint32_t* const m_window;
    uint32_t m_customerId = 0;
    std::string m_customer;
    uint32_t m_boardNumber = 0;
    uint32_t m_subsystemId = 0;
    uint32_t m_applicationId = 0;
    uint32_t m_boardId = 0;
    uint32_t m_revision = 0;
    uint32_t m_features = 0;
};

#endif
