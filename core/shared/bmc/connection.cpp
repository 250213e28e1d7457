#include "bmc/connection.h"

#include <string>

#include "istd/trace.h"

namespace bmc {

const istd::AnyReference Connection::m_noResult;
const std::vector<istd::AnyReference> Connection::m_noArgs;

CommandSupport_e GetCommandSupport(ConnectionKind_e kind, unsigned int command)
{
    // Ids 26 to 98 and above 99 are no commands: nothing, but refused over OpenHPI.
    const bool known = command <= eCmdSetPortStateUsb || command == eCmdInjectSensorReading;
    switch (kind) {
    case eConnectionIpmi:
        if (!known || command == eCmdReadSDRos || command == 8 || command == 24 ||
            command == eCmdInjectSensorReading) {
            return eCommandNothing;
        }
        return eCommandServed;
    case eConnectionOs:
        switch (command) {
        case eCmdGetSDRInfo:
        case eCmdReadSDRos:
        case eCmdReadSensor:
        case eCmdGetTime:
        case eCmdGetDeviceId:
        case eCmdGetBoardBriefStatus:
            return eCommandServed;
        default:
            return eCommandNothing;
        }
    case eConnectionHpi:
        switch (command) {
        case eCmdGetSDRInfo:
        case eCmdReadSensor:
        case eCmdGetTime:
        case eCmdGetDeviceId:
            return eCommandServed;
        case eCmdPower:
        case eCmdSetTime:
            return eCommandIgnored;
        default:
            return eCommandRefused;
        }
    case eConnectionTest:
        switch (command) {
        case eCmdGetSDRInfo:
        case eCmdReadSDR:
        case eCmdReadSDRos:
        case eCmdReadSensor:
        case eCmdGetTime:
        case eCmdSetTime:
        case eCmdGetDeviceId:
        case eCmdGetImage:
        case eCmdWriteImage:
        case eCmdGetBoardBriefStatus:
        case eCmdGetSelInfo:
        case eCmdSelRead:
        case eCmdInjectSensorReading:
            return eCommandServed;
        default:
            return eCommandNothing;
        }
    }
    return eCommandNothing;
}

ConnectionCallback::~ConnectionCallback() = default;

void ConnectionCallback::UpdateUpgradeStatus(int boardId, unsigned int sequenceNumber, unsigned int totalBytesSent,
                                             unsigned int additionalBytesSent, unsigned int fileSize,
                                             istd::Time elapsed)
{
    ISTD_TRACE_FNC("virtual void bmc::ConnectionCallback::UpdateUpgradeStatus(int, unsigned int, unsigned int, "
                   "unsigned int, unsigned int, istd::Time)");
    ISTD_TRACE(2, "Board Id: " << boardId << ", Sequence number: " << sequenceNumber
                               << ", Total bytes sent: " << totalBytesSent
                               << ", Additional bytes sent from previous callback: " << additionalBytesSent
                               << ", File size: " << fileSize << ", Time elapsed: " << elapsed);
}

Connection::Connection(const Uri& uri) : m_uri(uri), m_callback(nullptr)
{
    ISTD_TRACE_FNC("bmc::Connection::Connection(const bmc::Uri&)");
    ISTD_TRACE(2, "New connection: " << m_uri.ToString());
}

Connection::~Connection()
{
    ISTD_TRACE_FNC("virtual bmc::Connection::~Connection()");
    try {
        ISTD_TRACE(2, "Destroyed connection: " << m_uri.ToString());
    } catch (const istd::Exception&) {
        // A URI without a text (a subsystem value outside the table) must not end the process.
    }
}

void Connection::Open()
{
}

void Connection::Close()
{
}

void Connection::SetCallback(ConnectionCallback* callback)
{
    m_callback.store(callback);
}

ConnectionCallback* Connection::GetCallback() const
{
    return m_callback.load();
}

const istd::AnyReference& Connection::_Argument(unsigned int command, const std::vector<istd::AnyReference>& args,
                                                size_t index)
{
    if (index >= args.size()) {
        throw istd::Exception("bmc: command " + std::to_string(command) + " needs argument " +
                                  std::to_string(index) + ".",
                              true);
    }
    return args[index];
}

} // namespace bmc
