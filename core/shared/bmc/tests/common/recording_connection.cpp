#include "recording_connection.h"

#include <algorithm>

namespace bmctest {

RecordingConnection::RecordingConnection(const bmc::Uri& uri) : bmc::Connection(uri)
{
}

void RecordingConnection::SetHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void RecordingConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                                  istd::AnyReference result)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push_back(command);
        handler = m_handler;
    }
    if (handler) {
        handler(command, args, result);
    }
}

std::vector<unsigned int> RecordingConnection::Commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

size_t RecordingConnection::Count(unsigned int command) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count(m_commands.begin(), m_commands.end(), command));
}

} // namespace bmctest
