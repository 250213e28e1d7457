#pragma once
// A board connection that answers the AMBA register commands (14, write; 15, read) from register
// models, so that a bmc::Board made over it reaches a simulated core the way a board's own
// register commands would:
//
//     sim::AmbaConnection connection;
//     connection.Map(0xE00080, sim::I2cCoreModel::c_windowSize, core);
//     bmc::Board board(bmc::Uri(), &connection);                // asks the board nothing
//     bmc::I2cBusControllerFpgaSPIAmba i2c("i2c", 8, &board, 0xE00080);
//
// A read answers status 0 and the model's word; a read of an address no model serves, or a read
// made to fail, answers a failure status without a value. A write to such an
// address throws istd::Exception. Other commands throw too. Commands run under a mutex.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "devio/reg_access.h"
#include "bmc/connection.h"

namespace sim {

class AmbaConnection : public bmc::Connection {
public:
    AmbaConnection();
    ~AmbaConnection() override;

    // Serves [base, base + size) by the model, at offsets from base; throws std::invalid_argument
    // for an empty range, one past 2^32 or one overlapping another.
    void Map(uint32_t base, size_t size, devio::RegisterModelPtr model);

    // Every read answers this status (0: success) until it is set back to 0.
    void SetReadStatus(uint8_t status);
    // Reads of the one address answer this status (0: success again).
    void SetReadStatus(uint32_t address, uint8_t status);

    // Commands answered so far (14 and 15).
    uint64_t GetCommandCount() const;

    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

private:
    struct Window {
        uint64_t end;
        devio::RegisterModelPtr model;
    };
    // The model serving the address and the address's offset; null when none.
    devio::RegisterModelPtr _Find(uint32_t address, size_t& offset) const;

    mutable std::mutex m_mutex;
    std::map<uint32_t, Window> m_windows;
    uint8_t m_readStatus = 0;
    std::map<uint32_t, uint8_t> m_failingReads;
    uint64_t m_commands = 0;
};

} // namespace sim
