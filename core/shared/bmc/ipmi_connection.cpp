#include "bmc/ipmi_connection.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/clock.h"
#include "bmc/ipmi_exception.h"

namespace bmc {

namespace {

// Network functions.
constexpr uint8_t c_netFnChassis = 0x00;
constexpr uint8_t c_netFnSensor = 0x04;
constexpr uint8_t c_netFnApp = 0x06;
constexpr uint8_t c_netFnStorage = 0x0A;
constexpr uint8_t c_netFnPicmg = 0x2C;

// Commands.
constexpr uint8_t c_cmdChassisControl = 0x02;
constexpr uint8_t c_cmdGetSdrInfo = 0x20;
constexpr uint8_t c_cmdGetSdr = 0x21;
constexpr uint8_t c_cmdGetSensorReading = 0x2D;
constexpr uint8_t c_cmdGetDeviceId = 0x01;
constexpr uint8_t c_cmdBoardBriefStatus = 0xA0;
constexpr uint8_t c_cmdGetSelInfo = 0x40;
constexpr uint8_t c_cmdGetSelEntry = 0x43;
constexpr uint8_t c_cmdClearSel = 0x47;
constexpr uint8_t c_cmdGetSelTime = 0x48;
constexpr uint8_t c_cmdSetSelTime = 0x49;
constexpr uint8_t c_cmdAmcPortState = 0x19;

// Chassis Control codes of the controller firmware.
constexpr uint8_t c_ctlSpiWrite = 0xDC;
constexpr uint8_t c_ctlSpiRead = 0xDB;
constexpr uint8_t c_ctlAmbaWrite = 0xAC;
constexpr uint8_t c_ctlAmbaRead = 0xAB;
constexpr uint8_t c_ctlFpgaReboot = 0x11;
// The FPGA register requests always declare this many data bytes.
constexpr size_t c_fpgaRequestLength = 12;

constexpr uint8_t c_ccCannotReturnBytes = 0xCA;

constexpr size_t c_sdrSize = 71;
// A device SDR answer starts with the next record id.
constexpr size_t c_sdrHeader = 2;
constexpr int c_firstSdrPiece = 255;

// The standard Get Device ID answer up to the product id; what follows is optional.
constexpr size_t c_devIdMandatory = 11;
constexpr size_t c_devIdStandard = 15;
// The answer of controller firmware 2.2 of the system's maker.
constexpr size_t c_devIdFirmware22 = 25;
constexpr uint8_t c_devIdFirmware22Mark = 0x82;
constexpr uint8_t c_devIdExtended = 0x0E;

void PutLe(uint8_t* out, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLe(const uint8_t* in, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

[[noreturn]] void ThrowCode(uint8_t code, const char* failure)
{
    throw IpmiException(code, failure, true);
}

// Close on the error path: the first failure is the one the caller must see.
void CloseQuietly(Connection& connection, unsigned int command)
{
    try {
        connection.Close();
    } catch (const std::exception& e) {
        ISTD_TRACE(2, "Error closing after command " << command << ": " << e.what());
    } catch (...) {
        ISTD_TRACE(2, "Error closing after command " << command << ".");
    }
}

} // namespace

BoardPowerStatus_e ConvPwrBitmaskToStat(BoardBriefStatusMap map, int slot)
{
    ISTD_TRACE_FNC("bmc::BoardPowerStatus_e bmc::ConvPwrBitmaskToStat(bmc::BoardBriefStatusMap, int)");
    // A negative slot becomes a huge position, which test refuses like any other.
    const size_t position = static_cast<size_t>(slot);
    if (!map.mngMask.test(position)) {
        return eBoardPowerOff;
    }
    return map.mainMask.test(position) ? eBoardPowerMngMain : eBoardPowerMng;
}

IpmiConnection::IpmiConnection(const Uri& uri) : Connection(uri), m_boardId(istd::FromString<int>(uri.GetId()))
{
    ISTD_TRACE_FNC("bmc::IpmiConnection::IpmiConnection(const bmc::Uri&)");
    ISTD_TRACE(2, "new IpmiConnection: " << m_uri.ToString());
}

IpmiConnection::~IpmiConnection()
{
    ISTD_TRACE_FNC("virtual bmc::IpmiConnection::~IpmiConnection()");
    try {
        ISTD_TRACE(2, "Destroyed IpmiConnection: " << m_uri.ToString());
    } catch (const istd::Exception&) {
        // A URI without a text must not end the process.
    }
}

int IpmiConnection::GetBoardId() const
{
    return m_boardId;
}

int IpmiConnection::SendCommand(ipmi_rq&, ipmi_rs&)
{
    return 0;
}

void IpmiConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                             istd::AnyReference result)
{
    ISTD_TRACE_FNC("virtual void bmc::IpmiConnection::Execute(unsigned int, const std::vector<istd::AnyReference>&, "
                   "istd::AnyReference)");
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        Open();
        _Dispatch(command, args, result);
        Close();
    } catch (const std::exception& e) {
        ISTD_TRACE(2, "Error executing command " << command << ": " << e.what());
        CloseQuietly(*this, command);
        throw;
    } catch (...) {
        ISTD_TRACE(2, "Error executing command " << command << ".");
        CloseQuietly(*this, command);
        throw;
    }
}

void IpmiConnection::_Dispatch(unsigned int command, const std::vector<istd::AnyReference>& args,
                               istd::AnyReference& result)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::_Dispatch(unsigned int, const std::vector<istd::AnyReference>&, "
                   "istd::AnyReference&)");
    // Arguments are taken before anything is sent, so a wrongly wrapped one sends nothing; the
    // result is stored after the work.
    switch (command) {
    case eCmdGetSDRInfo:
        result = GetSDRInfo();
        break;
    case eCmdReadSDR: {
        const SensorId& id = _Argument(command, args, 0);
        sensor_record record{};
        ReadSDR(id, record);
        result = record;
        break;
    }
    case eCmdReadSensor: {
        const SensorId& id = _Argument(command, args, 0);
        const istd::AnyReference& type = _Argument(command, args, 1);
        unsigned int raw = 0;
        ReadSensor(id, raw);
        result = NewReading(type, raw, Clock::Now(3));
        break;
    }
    case eCmdPower: {
        Power_e& operation = _Argument(command, args, 0);
        int& slot = _Argument(command, args, 1);
        Power(operation, slot);
        break;
    }
    case eCmdGetTime:
        result = GetTime();
        break;
    case eCmdSetTime: {
        const istd::Time& time = _Argument(command, args, 0);
        SetTime(time);
        break;
    }
    case eCmdFpgaReboot:
        FpgaReboot();
        break;
    case eCmdGetDeviceId: {
        ipm_devid_ext_rsp answer{};
        GetDeviceId(answer);
        result = answer;
        break;
    }
    case eCmdFpgaSpiWrite: {
        unsigned short& address = _Argument(command, args, 0);
        unsigned short& value = _Argument(command, args, 1);
        FpgaSpiWrite(address, value);
        break;
    }
    case eCmdFpgaSpiRead: {
        unsigned short& address = _Argument(command, args, 0);
        chassis_ctl_fpgaread_rsp answer{};
        FpgaSpiRead(address, answer);
        result = answer;
        break;
    }
    case eCmdFpgaAmbaWrite: {
        unsigned int& address = _Argument(command, args, 0);
        unsigned int& value = _Argument(command, args, 1);
        FpgaAmbaWrite(address, value);
        break;
    }
    case eCmdFpgaAmbaRead: {
        unsigned int& address = _Argument(command, args, 0);
        chassis_ctl_ambaread_rsp answer{};
        FpgaAmbaRead(address, answer);
        result = answer;
        break;
    }
    case eCmdGetBoardBriefStatus:
        result = GetBoardBriefStatus();
        break;
    case eCmdGetSelInfo: {
        sel_info info{};
        GetSelInfo(info);
        result = info;
        break;
    }
    case eCmdSelClear:
        SelClear();
        break;
    case eCmdSelRead: {
        int& entry = _Argument(command, args, 0);
        platformb_event_record record{};
        SelRead(entry, record);
        result = record;
        break;
    }
    case eCmdJtagCmd: {
        JTAG_e& operation = _Argument(command, args, 0);
        int& n = _Argument(command, args, 1);
        JtagCmd(operation, n);
        break;
    }
    case eCmdSetPortStateUsb: {
        bool& on = _Argument(command, args, 0);
        int& slot = _Argument(command, args, 1);
        SetPortStateUsb(on, slot);
        break;
    }
    case eCmdGetImage:
        result = GetImage();
        break;
    case eCmdWriteImage: {
        const ImageData& image = _Argument(command, args, 0);
        WriteImage(image);
        break;
    }
    case eCmdReadConfiguration: {
        BoardConfiguration record;
        ReadConfiguration(record);
        result = record;
        break;
    }
    case eCmdWriteConfiguration: {
        BoardConfiguration& record = _Argument(command, args, 0);
        WriteConfiguration(record);
        break;
    }
    case eCmdInitHwInit: {
        Board_e& section = _Argument(command, args, 0);
        result = InitHwInit(section);
        break;
    }
    default:
        // 2, 8, 24 and ids above 25: no command.
        break;
    }
}

void IpmiConnection::_Transact(uint8_t netFn, uint8_t cmd, const uint8_t* data, size_t length, ipmi_rs& response,
                               uint8_t target)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::_Transact(uint8_t, uint8_t, const uint8_t*, size_t, ipmi_rs&, uint8_t)");
    if (length > UINT16_MAX) {
        throw istd::Exception("bmc: IPMI request data too long.", true);
    }
    ipmi_rq request{};
    request.netFn = netFn & 0x3F;
    request.cmd = cmd;
    request.target = target;
    request.dataLen = static_cast<uint16_t>(length);
    request.data = data;
    std::memset(&response, 0, sizeof response);
    SendCommand(request, response);
}

void IpmiConnection::_Request(uint8_t netFn, uint8_t cmd, const uint8_t* data, size_t length, ipmi_rs& response,
                              const char* failure, uint8_t target)
{
    _Transact(netFn, cmd, data, length, response, target);
    if (response.ccode != 0) {
        ThrowCode(response.ccode, failure);
    }
}

void IpmiConnection::_RequireData(const ipmi_rs& response, size_t count, const char* failure)
{
    const size_t available = response.dataLen > 0 ? static_cast<size_t>(response.dataLen) : 0;
    if (available < count) {
        throw istd::Exception(std::string(failure) + " (short answer: " + std::to_string(available) + " of " +
                                  std::to_string(count) + " data bytes)",
                              true);
    }
}

void IpmiConnection::_CopyAnswer(const ipmi_rs& response, size_t offset, void* out, size_t size, const char* failure)
{
    _RequireData(response, offset + size, failure);
    std::memcpy(out, response.data + offset, size);
}

BoardBriefStatusMap IpmiConnection::GetBoardBriefStatus()
{
    ISTD_TRACE_FNC("bmc::BoardBriefStatusMap bmc::IpmiConnection::GetBoardBriefStatus()");
    ipmi_rs response;
    _Transact(c_netFnApp, c_cmdBoardBriefStatus, nullptr, 0, response);
    BoardBriefStatusMap map;
    map.presenceMask = map.mngMask = map.mainMask = 1;
    // A refusal or an empty answer reports the chassis manager alone; a partial answer is
    // malformed.
    if (response.ccode != 0 || response.dataLen == 0) {
        return map;
    }
    _RequireData(response, 3, "bmc: GetBoardBriefStatus failed.");
    map.presenceMask = response.data[0] * 2u + 1;
    map.mngMask = response.data[1] * 2u + 1;
    map.mainMask = response.data[2] * 2u + 1;
    return map;
}

void IpmiConnection::ReadSensor(const SensorId& id, unsigned int& raw)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::ReadSensor(const bmc::SensorId&, unsigned int&)");
    static const char* const failure = "bmc: ReadSensor failed reading sensor data.";
    const uint8_t data[1] = {static_cast<uint8_t>(id.Value())};
    ipmi_rs response;
    _Request(c_netFnSensor, c_cmdGetSensorReading, data, sizeof data, response, failure);
    _RequireData(response, 2, failure);
    const uint8_t status = response.data[1];
    if ((status & 0x20) != 0) {
        throw istd::Exception("bmc: Sensor reading unavailable", true);
    }
    if ((status & 0x40) == 0) {
        throw istd::Exception("bmc: Sensor Scanning Disabled.", true);
    }
    raw = response.data[0];
}

void IpmiConnection::ReadSDR(const SensorId& id, sensor_record& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::ReadSDR(const bmc::SensorId&, sensor_record&)");
    static const char* const failure = "bmc: ReadSDR failed reading SDR.";
    const auto recordId = static_cast<uint16_t>(id.Value());
    uint8_t buffer[c_sdrSize] = {};
    size_t offset = 0;
    int piece = c_firstSdrPiece;
    while (offset < c_sdrSize) {
        // The controller refused every piece size down to 2 bytes: give up rather than ask
        // for nothing forever.
        if (piece < 1) {
            ThrowCode(c_ccCannotReturnBytes, failure);
        }
        const size_t count = std::min(c_sdrSize - offset, static_cast<size_t>(piece));
        const uint8_t data[6] = {0x00,
                                 0x00,
                                 static_cast<uint8_t>(recordId),
                                 static_cast<uint8_t>(recordId >> 8),
                                 static_cast<uint8_t>(offset),
                                 static_cast<uint8_t>(count)};
        ipmi_rs response;
        _Transact(c_netFnSensor, c_cmdGetSdr, data, sizeof data, response);
        if (response.ccode == c_ccCannotReturnBytes) {
            piece = piece / 2 - 1;
            continue;
        }
        if (response.ccode != 0) {
            ThrowCode(response.ccode, failure);
        }
        if (response.dataLen <= 0) {
            throw istd::Exception("bmc: ReadSDR failed reading SDR: no data returned", true);
        }
        _CopyAnswer(response, c_sdrHeader, buffer + offset, count, failure);
        offset += static_cast<size_t>(piece);
    }
    std::memcpy(record.data, buffer, c_sdrSize);
}

unsigned int IpmiConnection::GetSDRInfo()
{
    ISTD_TRACE_FNC("unsigned int bmc::IpmiConnection::GetSDRInfo()");
    static const char* const failure = "bmc: GetSDRInfo failed getting the number of sensors.";
    ipmi_rs response;
    _Request(c_netFnSensor, c_cmdGetSdrInfo, nullptr, 0, response, failure);
    if (response.dataLen <= 0) {
        throw istd::Exception(failure, true);
    }
    return response.data[0];
}

void IpmiConnection::SetPortStateUsb(bool on, int slot)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::SetPortStateUsb(bool, int)");
    const uint8_t data[7] = {0x00, 0x01, 0x0C, 0x2F, 0x00, static_cast<uint8_t>(on ? 1 : 0), 0x00};
    ipmi_rs response;
    _Request(c_netFnPicmg, c_cmdAmcPortState, data, sizeof data, response, "bmc: AMC port set (USB) failed !",
             static_cast<uint8_t>(slot));
}

void IpmiConnection::Power(Power_e operation, int slot)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::Power(bmc::Power_e, int)");
    uint8_t code = 0;
    switch (operation) {
    case ePowerDown:
        code = 0;
        break;
    case ePowerUp:
        code = 1;
        break;
    case ePowerCycle:
        code = 2;
        break;
    default:
        throw istd::Exception("bmc: Unknown power operation " + std::to_string(static_cast<int>(operation)) + ".",
                              true);
    }
    const uint8_t data[2] = {code, static_cast<uint8_t>(slot)};
    ipmi_rs response;
    _Request(c_netFnChassis, c_cmdChassisControl, data, sizeof data, response, "bmc: Power command failed.");
}

void IpmiConnection::_FpgaRequest(uint8_t code, uint32_t address, uint32_t value, size_t width, const char* failure,
                                  ipmi_rs& response)
{
    // Control code, address, value; the rest of the declared bytes carry nothing.
    uint8_t data[c_fpgaRequestLength] = {code};
    PutLe(data + 1, address, width);
    PutLe(data + 1 + width, value, width);
    _Request(c_netFnChassis, c_cmdChassisControl, data, sizeof data, response, failure);
}

void IpmiConnection::FpgaSpiWrite(unsigned short address, unsigned short value)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FpgaSpiWrite(short unsigned int, short unsigned int)");
    ipmi_rs response;
    _FpgaRequest(c_ctlSpiWrite, address, value, 2, "bmc: FPGA SPI write command failed.", response);
}

void IpmiConnection::FpgaSpiRead(unsigned short address, chassis_ctl_fpgaread_rsp& answer)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FpgaSpiRead(short unsigned int, chassis_ctl_fpgaread_rsp&)");
    static const char* const failure = "bmc: FPGA SPI read command failed.";
    ipmi_rs response;
    _FpgaRequest(c_ctlSpiRead, address, 0, 2, failure, response);
    _CopyAnswer(response, 0, &answer, sizeof answer, failure);
}

void IpmiConnection::FpgaAmbaWrite(unsigned int address, unsigned int value)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FpgaAmbaWrite(unsigned int, unsigned int)");
    ipmi_rs response;
    _FpgaRequest(c_ctlAmbaWrite, address, value, 4, "bmc: FPGA AMBA write command failed.", response);
}

void IpmiConnection::FpgaAmbaRead(unsigned int address, chassis_ctl_ambaread_rsp& answer)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FpgaAmbaRead(unsigned int, chassis_ctl_ambaread_rsp&)");
    static const char* const failure = "bmc: FPGA AMBA read command failed.";
    ipmi_rs response;
    _FpgaRequest(c_ctlAmbaRead, address, 0, 4, failure, response);
    _CopyAnswer(response, 0, &answer, sizeof answer, failure);
}

void IpmiConnection::FpgaReboot()
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FpgaReboot()");
    const uint8_t data[1] = {c_ctlFpgaReboot};
    ipmi_rs response;
    _Request(c_netFnChassis, c_cmdChassisControl, data, sizeof data, response, "bmc: Fpga re-boot command failed.");
}

void IpmiConnection::JtagCmd(JTAG_e operation, int n)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::JtagCmd(bmc::JTAG_e, int)");
    const int k = n > 0 ? n - 1 : 0;
    switch (operation) {
    case eJtagSelectChain:
        FpgaSpiWrite(0x20, static_cast<unsigned short>(k));
        break;
    case eJtagEnableSlot: {
        std::bitset<8> slot;
        slot.set(static_cast<size_t>(k));
        FpgaSpiWrite(0x1A, static_cast<unsigned short>(slot.to_ulong()));
        break;
    }
    case eJtagDisableSlots:
        FpgaSpiWrite(0x1A, 0);
        break;
    case eJtagChassisOp12:
    case eJtagChassisOp13:
    case eJtagChassisOp23:
    case eJtagChassisOp24:
    case eJtagChassisOp25:
    case eJtagChassisOp26: {
        const uint8_t data[1] = {static_cast<uint8_t>(operation)};
        ipmi_rs response;
        _Request(c_netFnChassis, c_cmdChassisControl, data, sizeof data, response, "bmc: JTAG command failed");
        break;
    }
    default:
        break;
    }
}

void IpmiConnection::SelClear()
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::SelClear()");
    const uint8_t data[6] = {0xFF, 0xFF, 0x43, 0x4C, 0x52, 0xAA};
    ipmi_rs response;
    _Request(c_netFnStorage, c_cmdClearSel, data, sizeof data, response, "bmc: SelClear command failed.");
}

void IpmiConnection::SelRead(int recordId, platformb_event_record& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::SelRead(int, platformb_event_record&)");
    static const char* const failure = "bmc: SelRead command failed.";
    const uint8_t data[6] = {0x00, 0x00, static_cast<uint8_t>(recordId), static_cast<uint8_t>(recordId >> 8),
                             0x00, 0xFF};
    ipmi_rs response;
    _Request(c_netFnStorage, c_cmdGetSelEntry, data, sizeof data, response, failure);
    // The next record id comes first.
    _CopyAnswer(response, 2, &record, sizeof record, failure);
}

void IpmiConnection::GetSelInfo(sel_info& info)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::GetSelInfo(sel_info&)");
    static const char* const failure = "bmc: GetSelInfo command failed.";
    ipmi_rs response;
    _Request(c_netFnStorage, c_cmdGetSelInfo, nullptr, 0, response, failure);
    _CopyAnswer(response, 0, &info, sizeof info, failure);
}

void IpmiConnection::SetTime(const istd::Time& time)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::SetTime(const istd::Time&)");
    uint8_t data[4];
    PutLe(data, static_cast<uint32_t>(time.Sec()), 4);
    ipmi_rs response;
    _Request(c_netFnStorage, c_cmdSetSelTime, data, sizeof data, response, "bmc: SetTime failed.");
}

istd::Time IpmiConnection::GetTime()
{
    ISTD_TRACE_FNC("istd::Time bmc::IpmiConnection::GetTime()");
    static const char* const failure = "bmc: GetTime failed.";
    ipmi_rs response;
    _Request(c_netFnStorage, c_cmdGetSelTime, nullptr, 0, response, failure);
    if (response.dataLen != 4) {
        ISTD_TRACE(1, "IPMI_GET_SEL_TIME wrong data_len: " << response.dataLen);
        throw istd::Exception(failure, true);
    }
    return istd::Time(static_cast<unsigned int>(GetLe(response.data, 4)));
}

void IpmiConnection::GetDeviceId(ipm_devid_ext_rsp& answer)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::GetDeviceId(ipm_devid_ext_rsp&)");
    static const char* const failure = "bmc: GetDeviceId failed.";
    ipmi_rs response;
    _Request(c_netFnApp, c_cmdGetDeviceId, nullptr, 0, response, failure);
    if (response.dataLen <= 0) {
        ThrowCode(0, failure);
    }
    const uint8_t* d = response.data;
    uint8_t out[sizeof answer] = {};

    if (response.dataLen == static_cast<int32_t>(c_devIdFirmware22) && d[1] == c_devIdFirmware22Mark) {
        ISTD_TRACE(4, "Qarex board with firmware 2.2.");
        out[0] = d[0];
        out[1] = d[23] | 0x80;
        out[2] = 2;
        out[3] = 2;
        out[4] = d[4];
        out[5] = d[5];
        PutLe(out + 6, c_ipmiManufacturerId, 3);
        out[9] = d[0];
        out[10] = d[24];
        out[11] = d[14];
        out[12] = d[13];
        out[13] = d[3];
        out[14] = d[2];
        out[15] = d[21];
        out[16] = d[22];
        out[17] = d[19];
        out[18] = d[15];
        out[19] = d[17];
        out[20] = d[18];
        out[21] = d[20];
        std::memcpy(&answer, out, sizeof answer);
        return;
    }

    // Up to the product id the standard answer is mandatory; the auxiliary firmware revision
    // (offsets 11 to 14) may be missing and then reads 0.
    _RequireData(response, c_devIdMandatory, failure);
    if (GetLe(d + 6, 3) == c_ipmiManufacturerId) {
        static const char* const extendedFailure = "bmc: GetDeviceId (extended) failed for qarex board.";
        ISTD_TRACE(4, "Qarex board with firmware >= 2.4.");
        const uint8_t data[1] = {c_devIdExtended};
        _Request(c_netFnApp, c_cmdGetDeviceId, data, sizeof data, response, extendedFailure);
        if (response.dataLen <= 0) {
            ThrowCode(0, extendedFailure);
        }
        _CopyAnswer(response, 0, &answer, sizeof answer, extendedFailure);
        return;
    }

    ISTD_TRACE(4, "3rd-party board.");
    std::memcpy(out, d, std::min(static_cast<size_t>(response.dataLen), c_devIdStandard));
    std::memcpy(&answer, out, sizeof answer);
}

} // namespace bmc
