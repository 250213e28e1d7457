#ifndef BMC_TESTS_HOST_COMMANDS_H
#define BMC_TESTS_HOST_COMMANDS_H

// The commands a host board sends its connection, wrapped as a board and its sensors wrap them.

#include <string>
#include <vector>

#include "bmc/connection.h"
#include "bmc/os_connection.h"
#include "bmc/sensor_reading.h"

namespace bmctest {

inline unsigned int SensorCount(bmc::Connection& connection)
{
    unsigned int count = 0;
    connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, istd::AnyReference(count));
    return count;
}

inline bmc::SDRos SensorRecord(bmc::Connection& connection, int id)
{
    const bmc::SensorId sensorId(id);
    bmc::SDRos record;
    connection.Execute(bmc::eCmdReadSDRos, {istd::AnyReference(sensorId)}, istd::AnyReference(record));
    return record;
}

inline bmc::SensorReading ReadHostSensor(bmc::Connection& connection, int id,
                                         bmc::SensorType_e type = bmc::eSensorTypeUnknown)
{
    const bmc::SensorId sensorId(id);
    bmc::SensorReading reading;
    connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(sensorId), istd::AnyReference(type)},
                       istd::AnyReference(reading));
    return reading;
}

} // namespace bmctest

#endif
