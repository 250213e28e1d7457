#ifndef BMC_TYPES_H
#define BMC_TYPES_H

// The small enumerations that name what the library reports about a board and its sensors.
// Their texts are seen by users, logs, board configuration documents and firmware images, so
// each value keeps its text for good. All values lie in 0..255 and fit the byte a record keeps.

#include <istream>
#include <ostream>

#include "istd/enum_map.h"

namespace bmc {

// The type code of a board: the Device ID byte of its identity answer.
enum BoardType_e {
    eBoardTypeInvalid = 255,
    eBoardTypeKOZ = 44, // chassis interconnect and management board, chassis slot 0
    eBoardTypeJY = 236,
    eBoardTypeWRP = 46,
    eBoardTypeMOKVE = 173,
    eBoardTypeNUSTA = 160,
    eBoardTypePELOX = 161,
    eBoardTypeHUMVA = 219,
    eBoardTypeZEK = 175,
    eBoardTypeOBLIN = 174,
    eBoardTypeWYQ = 125,
    eBoardTypePAX = 62, // timing board
    eBoardTypeK7N = 92,
    eBoardTypeDWO = 93,
    eBoardTypeZOLT = 235, // event-receiver board
    eBoardTypeQEV = 94,
    eBoardTypeUTCA = 244,
    eBoardTypeOS = 243 // the host computer itself
};

// The firmware a board runs; reuses the type codes of the boards that carry their own.
enum FirmwareType_e {
    eFirmwareTypeInvalid = 0,
    eFirmwareTypeKOZ = 44,
    eFirmwareTypeMOKVE = 173,
    eFirmwareTypeJY = 236,
    eFirmwareTypeWRP = 46,
    eFirmwareTypeHUMVA = 219,
    eFirmwareTypeUnknown = 255
};

enum BoardStatus_e {
    eBoardStatusDefective = 255,
    eBoardStatusUninitialised = 0,
    eBoardStatusHwInitialised = 1,
    eBoardStatusFpgaBooting = 2,
    eBoardStatusFpgaInitialised = 3,
    eBoardStatusRunning = 4,
    eBoardStatusFpgaBootTimeout = 5
};

enum BoardPowerStatus_e {
    eBoardPowerOff = 0,
    eBoardPowerMng = 1,    // management power only
    eBoardPowerMngMain = 2 // management and main power
};

enum RedLedStatus_e { eRedLedUnknown = 0, eRedLedOn = 1, eRedLedOff = 2 };

// The kind of quantity a sensor measures.
enum SensorType_e {
    eSensorTypeUnknown = 0,
    eSensorTypeFan = 1,
    eSensorTypeTemperature = 2,
    eSensorTypeVoltage = 3,
    eSensorTypeCurrent = 4,
    eSensorTypeOtherAnalog = 5,
    eSensorTypeDiscrete = 6,
    eSensorTypePower = 7,
    eSensorTypeEnergy = 8,
    eSensorTypeMemory = 9,
    eSensorTypeCpu = 10,
    eSensorTypeMcDevLoc = 11,
    eSensorTypeHotSwapHandle = 12
};

// The threshold band a reading lies in, in the order of the thresholds from low to high.
enum SensorLimit_e {
    eLimitOk = 0,
    eLimitLnr = 1, // below the lower non-recoverable threshold
    eLimitLc = 2,  // below the lower critical threshold
    eLimitLnc = 3, // below the lower non-critical threshold
    eLimitHnc = 4, // above the upper non-critical threshold
    eLimitHc = 5,  // above the upper critical threshold
    eLimitHnr = 6, // above the upper non-recoverable threshold
    eLimitNa = 7   // no reading
};

} // namespace bmc

// The hardware revision letter kept in a board's hardware identification.
enum hwRevisions_e {
    eHwRevUndefined = 0,
    eHwRevA = 1,
    eHwRevB = 2,
    eHwRevC = 3,
    eHwRevD = 4,
    eHwRevE = 5,
    eHwRevF = 6,
    eHwRevG = 7,
    eHwRevInvalid = 255
};

// The instrument edition a board's hardware identification names.
enum applicationId_e {
    eAppIdUndefined = 0,
    eAppIdTesmarRf = 1,
    eAppIdOrvalisPlus = 2,
    eAppIdVarnetH = 3,
    eAppIdQuendra = 4,
    eAppIdVarnetE = 5,
    eAppIdInvalid = 255
};

ISTD_ENUM_TABLE_DECL(bmc::BoardType_e)
ISTD_ENUM_TABLE_DECL(bmc::FirmwareType_e)
ISTD_ENUM_TABLE_DECL(bmc::BoardStatus_e)
ISTD_ENUM_TABLE_DECL(bmc::BoardPowerStatus_e)
ISTD_ENUM_TABLE_DECL(bmc::RedLedStatus_e)
ISTD_ENUM_TABLE_DECL(hwRevisions_e)
ISTD_ENUM_TABLE_DECL(applicationId_e)
ISTD_ENUM_TABLE_DECL(bmc::SensorType_e)
ISTD_ENUM_TABLE_DECL(bmc::SensorLimit_e)

// Operators come after the table declarations: they read the tables.
namespace bmc {

ISTD_ENUM_OUTPUT_OPERATOR(BoardType_e)
ISTD_ENUM_OUTPUT_OPERATOR(FirmwareType_e)
ISTD_ENUM_OUTPUT_OPERATOR(BoardStatus_e)
ISTD_ENUM_OUTPUT_OPERATOR(BoardPowerStatus_e)
ISTD_ENUM_OUTPUT_OPERATOR(RedLedStatus_e)
ISTD_ENUM_OUTPUT_OPERATOR(SensorType_e)
ISTD_ENUM_OUTPUT_OPERATOR(SensorLimit_e)

ISTD_ENUM_INPUT_OPERATOR(BoardType_e)
ISTD_ENUM_INPUT_OPERATOR(FirmwareType_e)

} // namespace bmc

ISTD_ENUM_OUTPUT_OPERATOR(hwRevisions_e)
ISTD_ENUM_OUTPUT_OPERATOR(applicationId_e)
ISTD_ENUM_INPUT_OPERATOR(hwRevisions_e)
ISTD_ENUM_INPUT_OPERATOR(applicationId_e)

#endif
