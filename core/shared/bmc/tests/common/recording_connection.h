#ifndef BMC_TESTS_RECORDING_CONNECTION_H
#define BMC_TESTS_RECORDING_CONNECTION_H

// A connection for tests: it records every command id and answers through a handler the test
// sets, which reads the arguments and writes the result as a real kind of connection would.

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "bmc/connection.h"

namespace bmctest {

class RecordingConnection : public bmc::Connection {
public:
    using Handler =
        std::function<void(unsigned int command, const std::vector<istd::AnyReference>& args,
                           istd::AnyReference& result)>;

    explicit RecordingConnection(const bmc::Uri& uri = bmc::Uri(bmc::Uri::eTest, "1",
                                                                 bmc::Uri::eInterfaceDefault));

    void SetHandler(Handler handler);
    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

    // The ids received so far, in order (also those whose handler threw).
    std::vector<unsigned int> Commands() const;
    size_t Count(unsigned int command) const;

    // The argument access the kinds of connection share, for the handlers of tests.
    using bmc::Connection::_Argument;

private:
    mutable std::mutex m_mutex;
    Handler m_handler;
    std::vector<unsigned int> m_commands;
};

} // namespace bmctest

#endif
