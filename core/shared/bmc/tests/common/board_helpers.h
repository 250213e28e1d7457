#ifndef BMC_TESTS_BOARD_HELPERS_H
#define BMC_TESTS_BOARD_HELPERS_H

// Identity records and connections that answer them, for tests of boards and pools, and a
// count of the process's open descriptors.

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "istd/exception.h"
#include "bmc/connection.h"
#include "bmc/ipmi_connection.h"
#include "recording_connection.h"

namespace bmctest {

// An identity record of a board of the system's maker.
inline ipm_devid_ext_rsp Identity(uint8_t type, uint8_t firmware = 0, uint8_t status = 4, uint16_t flags = 0)
{
    ipm_devid_ext_rsp id{};
    id.deviceId = type;
    id.productId[0] = type;
    id.productId[1] = firmware;
    id.extension[3] = status;
    id.extension[4] = static_cast<uint8_t>(flags);
    id.extension[5] = static_cast<uint8_t>(flags >> 8);
    return id;
}

// A connection that answers command 9 with the identity and command 0 with the sensor count,
// and records every command; the test may set another handler afterwards.
class IdentityConnection : public RecordingConnection {
public:
    explicit IdentityConnection(const ipm_devid_ext_rsp& identity, unsigned int sensors = 0)
    {
        SetHandler([identity, sensors](unsigned int command, const std::vector<istd::AnyReference>&,
                                       istd::AnyReference& result) {
            if (command == bmc::eCmdGetDeviceId) {
                result = identity;
            } else if (command == bmc::eCmdGetSDRInfo) {
                result = sensors;
            }
        });
    }
};

// Descriptors open in this process now.
inline size_t CountOpenDescriptors()
{
    size_t count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        throw istd::Exception("cannot list /proc/self/fd");
    }
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(dir);
    return count - 1; // the listing's own descriptor
}

} // namespace bmctest

#endif
