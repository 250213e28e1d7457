// Every name table of the library, built while it loads, in this order. One source file keeps
// the order fixed; a table that does not build fails the load.

#include "bmc/types.h"
#include "bmc/uri.h"

using namespace bmc;

ISTD_ENUM_TABLE(BoardType_e,
                {eBoardTypeInvalid, "INVA"},
                {eBoardTypeKOZ, "KOZ"},
                {eBoardTypeJY, "JY"},
                {eBoardTypeWRP, "WRP"},
                {eBoardTypeMOKVE, "MOKVE"},
                {eBoardTypeNUSTA, "NUSTA"},
                {eBoardTypePELOX, "PELOX"},
                {eBoardTypeHUMVA, "HUMVA"},
                {eBoardTypeZEK, "ZEK"},
                {eBoardTypeOBLIN, "OBLIN"},
                {eBoardTypeWYQ, "WYQ"},
                {eBoardTypePAX, "PAX"},
                {eBoardTypeK7N, "K7N"},
                {eBoardTypeDWO, "DWO"},
                {eBoardTypeZOLT, "ZOLT"},
                {eBoardTypeQEV, "QEV"},
                {eBoardTypeUTCA, "uTCA"},
                {eBoardTypeOS, "OS"});

ISTD_ENUM_TABLE(FirmwareType_e,
                {eFirmwareTypeInvalid, "INVA"},
                {eFirmwareTypeKOZ, "KOZ"},
                {eFirmwareTypeMOKVE, "MOKVE"},
                {eFirmwareTypeJY, "JY"},
                {eFirmwareTypeWRP, "WRP"},
                {eFirmwareTypeHUMVA, "HUMVA"},
                {eFirmwareTypeUnknown, "Unknown"});

ISTD_ENUM_TABLE(BoardStatus_e,
                {eBoardStatusDefective, "Defective (inaccessible)"},
                {eBoardStatusUninitialised, "Uninitialised"},
                {eBoardStatusHwInitialised, "HW initialised"},
                {eBoardStatusFpgaBooting, "FPGA is booting.."},
                {eBoardStatusFpgaInitialised, "FPGA initialised"},
                {eBoardStatusRunning, "Running"},
                {eBoardStatusFpgaBootTimeout, "FPGA boot timeout"});

ISTD_ENUM_TABLE(BoardPowerStatus_e,
                {eBoardPowerOff, "Off"},
                {eBoardPowerMng, "Mng"},
                {eBoardPowerMngMain, "Mng + Main"});

ISTD_ENUM_TABLE(RedLedStatus_e, {eRedLedUnknown, "Unknown"}, {eRedLedOn, "On"}, {eRedLedOff, "Off"});

ISTD_ENUM_TABLE(hwRevisions_e,
                {eHwRevUndefined, "undefined"},
                {eHwRevA, "A"},
                {eHwRevB, "B"},
                {eHwRevC, "C"},
                {eHwRevD, "D"},
                {eHwRevE, "E"},
                {eHwRevF, "F"},
                {eHwRevG, "G"},
                {eHwRevInvalid, "invalid"});

ISTD_ENUM_TABLE(applicationId_e,
                {eAppIdUndefined, "undefined"},
                {eAppIdTesmarRf, "Tesmar RF"},
                {eAppIdOrvalisPlus, "Orvalis+"},
                {eAppIdVarnetH, "Varnet H"},
                {eAppIdQuendra, "Quendra"},
                {eAppIdVarnetE, "Varnet E"},
                {eAppIdInvalid, "invalid"});

ISTD_ENUM_TABLE(SensorType_e,
                {eSensorTypeUnknown, "Unknown"},
                {eSensorTypeFan, "Fan"},
                {eSensorTypeTemperature, "Temperature"},
                {eSensorTypeVoltage, "Voltage"},
                {eSensorTypeCurrent, "Current"},
                {eSensorTypeOtherAnalog, "OtherAnalog"},
                {eSensorTypeDiscrete, "Discrete"},
                {eSensorTypePower, "Power"},
                {eSensorTypeEnergy, "Energy"},
                {eSensorTypeMemory, "Memory"},
                {eSensorTypeCpu, "CPU"},
                {eSensorTypeMcDevLoc, "McDevLoc"},
                {eSensorTypeHotSwapHandle, "HotSwapHandle"});

ISTD_ENUM_TABLE(Uri::SubSystem_e,
                {Uri::eChassis, "chassis"},
                {Uri::eAmc, "amc"},
                {Uri::eTrm, "trm"},
                {Uri::eCu, "cu"},
                {Uri::ePs, "ps"},
                {Uri::eMch, "mch"},
                {Uri::eOs, "os"},
                {Uri::eTest, "test"},
                {Uri::eUnknown, "unknown"});

ISTD_ENUM_TABLE(Uri::Interface_e,
                {Uri::eInterfaceDefault, ""},
                {Uri::eInterfaceIpmiUsb, "ipmi-usb"},
                {Uri::eInterfaceIpmiI2c, "ipmi-i2c"},
                {Uri::eInterfaceHpi, "hpi"},
                {Uri::eInterfaceIpmiLan, "ipmi-lan"});

ISTD_ENUM_TABLE(SensorLimit_e,
                {eLimitOk, "ok"},
                {eLimitLnr, "lnr"},
                {eLimitLc, "lc"},
                {eLimitLnc, "lnc"},
                {eLimitHnc, "hnc"},
                {eLimitHc, "hc"},
                {eLimitHnr, "hnr"},
                {eLimitNa, "na"});
