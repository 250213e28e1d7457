#ifndef EXAMPLES_COMMON_GENERATED_SIGNAL_H
#define EXAMPLES_COMMON_GENERATED_SIGNAL_H

// A small signal made up in the program, standing in for a board's data stream: atoms of two
// int64 components, "index" (the atom's running number from 0) and "value" (a sine of
// amplitude 1000 over 64 atoms), produced in groups at a fixed pace while a client is open.
//
// Each client queues the groups produced while it is open, up to its queue length (the
// oldest group is dropped when it is full, and counted), and forwards one group per ForwardTo.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "isig/signal_client.h"
#include "isig/signal_source.h"

namespace examples {

class GeneratedSignal : public isig::SignalSource {
public:
    static constexpr unsigned c_groupSize = 8;
    static constexpr unsigned c_period = 64; // atoms per sine period

    GeneratedSignal(const std::string& name, const std::string& owner,
                    std::chrono::milliseconds pace = std::chrono::milliseconds(50));
    // Shuts the signal down.
    ~GeneratedSignal() override;

    unsigned AtomSize() const override { return 2 * sizeof(int64_t); }
    unsigned GroupSize() const override { return c_groupSize; }
    const std::type_info& AtomType() const override { return typeid(int64_t[2]); }
    const std::type_info& BaseType() const override { return typeid(int64_t); }
    unsigned Length() const override { return 2; }
    std::vector<std::string> GetComponentNames() const override { return {"index", "value"}; }
    isig::AccessType_e AccessType() const override { return isig::eAccessStream; }
    // One item "generator": atoms produced, atoms dropped from full client queues.
    isig::SignalStats GetStatistics() const override;
    isig::SignalClientBase* NewSignalClient(const std::string& name, unsigned length) override;
    // Ends every client with eTerminated and stops the generator; clients opened later get
    // eTerminated.
    void ShutDown() override;
    void Cancel(isig::SuccessCode_e code) override;

    // The value component of atom `index`.
    static int64_t ValueAt(int64_t index);

private:
    class Client;

    void _Run();
    void _Open(Client* client);
    void _Close(Client* client);

    const std::chrono::milliseconds m_pace;
    mutable std::mutex m_mutex; // everything below
    std::condition_variable m_wake;
    std::set<Client*> m_open;
    std::thread m_thread;
    bool m_shutDown = false;
    int64_t m_next = 0;
    uint64_t m_produced = 0;
    uint64_t m_dropped = 0;
};

} // namespace examples

#endif
