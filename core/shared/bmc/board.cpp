#include "bmc/board.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <sstream>
#include <utility>

#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board_pool.h"
#include "bmc/bus_controller.h"
#include "bmc/connection.h"
#include "bmc/ipmi_sensor.h"
#include "bmc/os_connection.h"
#include "bmc/sensor.h"
#include "bmc/system_event_log.h"

namespace bmc {

namespace {

const char c_noConnection[] = "bmc: board has no connection";
const char c_invalidBoardId[] = "bmc: invalid board id";

std::string _LowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A text field of the configuration record: up to its first zero byte, never past the field.
template <size_t N>
std::string _FieldText(const char (&field)[N])
{
    const void* end = std::memchr(field, 0, N);
    return std::string(field, end == nullptr ? N : static_cast<size_t>(static_cast<const char*>(end) - field));
}

} // namespace

Board::Board(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name)
    : Board(uri, powerStatus, name, ConnectionPool::Instance().GetConnection(uri))
{
}

Board::Board(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name, Connection* connection)
    : m_uri(uri), m_powerStatus(powerStatus), m_name(name), m_deviceId(std::make_unique<ipm_devid_ext_rsp_t>()),
      m_connection(connection), m_sel(std::make_unique<SystemEventLog>(*this))
{
    ISTD_TRACE_FNC("bmc::Board::Board(const bmc::Uri&, bmc::BoardPowerStatus_e, const std::string&)");
    _ResetIdentity();
    ISTD_TRACE(2, "New board: " << m_uri.ToString() << ") with power status " << istd::EnumName(m_powerStatus));
    if (m_powerStatus == eBoardPowerOff) {
        m_name = GetShortId();
    } else {
        Update();
        m_shortName = _LowerCase(istd::EnumName(GetType())) + m_uri.GetId();
        if (m_name.empty()) {
            m_name = m_shortName;
        }
    }
    ISTD_TRACE(2, "Board name: " << m_name);
}

Board::Board(const Uri& uri, Connection* connection) : Board(uri, eBoardPowerOff, std::string(), connection)
{
}

Board::~Board()
{
    ISTD_TRACE_FNC("virtual bmc::Board::~Board()");
    // Sensors and the event log go before the identity record and the rest: they refer to
    // their board. The sensors' drivers go next, then their controllers, and only then the
    // mappings that hold the controllers' registers.
    m_sensors.clear();
    m_sel.reset();
    m_busDevices.clear();
    m_busControllers.clear();
    for (DeviceMapping_t& mapping : m_fpgaMappings) {
        UnmapDevice(mapping);
    }
}

const Uri& Board::GetUri() const
{
    return m_uri;
}

const std::string& Board::GetName() const
{
    return m_name;
}

std::string Board::GetShortName() const
{
    return m_shortName;
}

std::string Board::GetShortId() const
{
    std::string text = m_uri.GetSubSystemStr();
    if (!m_uri.GetId().empty()) {
        text += ":" + m_uri.GetId();
    }
    return text;
}

BoardPowerStatus_e Board::GetPowerStatus() const
{
    return m_powerStatus;
}

Connection* Board::GetConnection()
{
    return m_connection;
}

SystemEventLog* Board::GetSel() const
{
    return m_sel.get();
}

void Board::SetConnectionCallback(ConnectionCallback* callback)
{
    _Own().SetCallback(callback);
}

uint8_t Board::GetDeviceId() const
{
    return m_deviceId->deviceId;
}

BoardType_e Board::GetType() const
{
    return static_cast<BoardType_e>(m_deviceId->deviceId);
}

uint8_t Board::GetDeviceRevision() const
{
    return m_deviceId->deviceRevision & 0x0F;
}

uint8_t Board::GetMajorVer() const
{
    return m_deviceId->fwRevMajor & 0x3F;
}

uint8_t Board::GetMinorVer() const
{
    return m_deviceId->fwRevMinor;
}

uint8_t Board::GetIpmiVersion() const
{
    return m_deviceId->ipmiVersion;
}

uint8_t Board::GetDeviceSupport() const
{
    return m_deviceId->additionalSupport;
}

uint32_t Board::GetManufacturerId() const
{
    return m_deviceId->ManufacturerId();
}

uint16_t Board::GetProductId() const
{
    return m_deviceId->ProductId();
}

FirmwareType_e Board::GetFirmwareType() const
{
    return static_cast<FirmwareType_e>(m_deviceId->productId[1]);
}

uint16_t Board::GetFwRevision() const
{
    return m_deviceId->FirmwareRevision();
}

uint16_t Board::GetFpgaRevision() const
{
    return m_deviceId->FpgaRevision();
}

BoardStatus_e Board::GetStatus() const
{
    return static_cast<BoardStatus_e>(m_deviceId->BoardStatus());
}

bool Board::IsValid() const
{
    return GetType() != eBoardTypeInvalid && GetStatus() != eBoardStatusDefective;
}

Sensor* Board::GetSensor(const SensorId& id)
{
    if (id.Value() < 0 || static_cast<size_t>(id.Value()) >= m_sensors.size()) {
        return nullptr;
    }
    return m_sensors[static_cast<size_t>(id.Value())].get();
}

std::vector<SensorId> Board::GetSensorsIds()
{
    std::vector<SensorId> ids;
    ids.reserve(m_sensors.size());
    for (const std::unique_ptr<Sensor>& sensor : m_sensors) {
        ids.push_back(sensor->GetId());
    }
    return ids;
}

void Board::Update()
{
    ISTD_TRACE_FNC("void bmc::Board::Update()");
    m_sensors.clear();
    std::memset(m_deviceId.get(), 0, sizeof(ipm_devid_ext_rsp_t));
    try {
        _Own().Execute(eCmdGetDeviceId, Connection::m_noArgs, istd::AnyReference(*m_deviceId));
    } catch (const istd::Exception& e) {
        _ResetIdentity();
        ISTD_TRACE(1, "bmc: Error communicating to board: " << e.what());
        return;
    }
    if (!IsValid()) {
        return;
    }
    unsigned int count = 0;
    _Own().Execute(eCmdGetSDRInfo, Connection::m_noArgs, istd::AnyReference(count));
    for (unsigned int i = 0; i < count; ++i) {
        m_sensors.push_back(_NewSensor(SensorId(static_cast<int32_t>(i))));
    }
}

std::unique_ptr<Sensor> Board::_NewSensor(const SensorId& id)
{
    if (GetType() == eBoardTypeOS) {
        return std::make_unique<OsSensor>(*this, id);
    }
    return std::make_unique<IpmiSensor>(*this, id);
}

void Board::FpgaReboot()
{
    ISTD_TRACE_FNC("void bmc::Board::FpgaReboot()");
    _Own().Execute(eCmdFpgaReboot, Connection::m_noArgs, Connection::m_noResult);
}

void Board::ShutDown()
{
    ISTD_TRACE_FNC("void bmc::Board::ShutDown()");
    _PowerSelf(ePowerDown);
}

void Board::PowerCycle()
{
    ISTD_TRACE_FNC("void bmc::Board::PowerCycle()");
    _PowerSelf(ePowerCycle);
}

void Board::_PowerSelf(Power_e operation)
{
    if (_DecimalId() != 0) {
        throw istd::Exception(c_invalidBoardId, true);
    }
    int slot = 0;
    _Own().Execute(eCmdPower, {istd::AnyReference(operation), istd::AnyReference(slot)}, Connection::m_noResult);
}

void Board::FpgaAmbaWrite(unsigned address, unsigned value) const
{
    ISTD_TRACE_FNC("void bmc::Board::FpgaAmbaWrite(unsigned int, unsigned int) const");
    _Own().Execute(eCmdFpgaAmbaWrite, {istd::AnyReference(address), istd::AnyReference(value)},
                   Connection::m_noResult);
}

chassis_ctl_ambaread_rsp Board::FpgaAmbaRead(unsigned address) const
{
    ISTD_TRACE_FNC("chassis_ctl_ambaread_rsp bmc::Board::FpgaAmbaRead(unsigned int) const");
    chassis_ctl_ambaread_rsp answer{};
    _Own().Execute(eCmdFpgaAmbaRead, {istd::AnyReference(address)}, istd::AnyReference(answer));
    return answer;
}

void Board::FpgaSpiWrite(unsigned short address, unsigned short value) const
{
    ISTD_TRACE_FNC("void bmc::Board::FpgaSpiWrite(short unsigned int, short unsigned int) const");
    _Own().Execute(eCmdFpgaSpiWrite, {istd::AnyReference(address), istd::AnyReference(value)},
                   Connection::m_noResult);
}

chassis_ctl_fpgaread_rsp Board::FpgaSpiRead(unsigned short address) const
{
    ISTD_TRACE_FNC("chassis_ctl_fpgaread_rsp bmc::Board::FpgaSpiRead(short unsigned int) const");
    chassis_ctl_fpgaread_rsp answer{};
    _Own().Execute(eCmdFpgaSpiRead, {istd::AnyReference(address)}, istd::AnyReference(answer));
    return answer;
}

void Board::SetTime(const istd::Time& time)
{
    ISTD_TRACE_FNC("void bmc::Board::SetTime(const istd::Time&)");
    _Own().Execute(eCmdSetTime, {istd::AnyReference(time)}, Connection::m_noResult);
}

istd::Time Board::GetTime() const
{
    ISTD_TRACE_FNC("istd::Time bmc::Board::GetTime() const");
    istd::Time time(3);
    _Own().Execute(eCmdGetTime, Connection::m_noArgs, istd::AnyReference(time));
    return time;
}

storage_hwstorage_hwinit_rsp Board::InitHwInit(Board_e which)
{
    ISTD_TRACE_FNC("storage_hwstorage_hwinit_rsp bmc::Board::InitHwInit(bmc::Board_e)");
    storage_hwstorage_hwinit_rsp answer{};
    _Own().Execute(eCmdInitHwInit, {istd::AnyReference(which)}, istd::AnyReference(answer));
    return answer;
}

void Board::WriteConfiguration(BoardConfiguration& configuration)
{
    ISTD_TRACE_FNC("void bmc::Board::WriteConfiguration(bmc::BoardConfiguration&)");
    _Own().Execute(eCmdWriteConfiguration, {istd::AnyReference(configuration)}, Connection::m_noResult);
}

BoardConfiguration Board::ReadConfiguration()
{
    ISTD_TRACE_FNC("bmc::BoardConfiguration bmc::Board::ReadConfiguration()");
    BoardConfiguration configuration;
    _Own().Execute(eCmdReadConfiguration, Connection::m_noArgs, istd::AnyReference(configuration));
    configuration.boardType = GetType();
    configuration.firmwareType = GetFirmwareType();
    configuration.uri = m_uri;
    return configuration;
}

HpmImage Board::ReadImage() const
{
    ISTD_TRACE_FNC("bmc::HpmImage bmc::Board::ReadImage() const");
    ImageData bytes;
    _Own().Execute(eCmdGetImage, Connection::m_noArgs, istd::AnyReference(bytes));
    return CreateHpmImage(std::move(bytes));
}

RedLedStatus_e Board::GetRedLighStatus() const
{
    ISTD_TRACE_FNC("bmc::RedLedStatus_e bmc::Board::GetRedLighStatus() const");
    if (!IsValid()) {
        return eRedLedUnknown;
    }
    _Own().Execute(eCmdGetDeviceId, Connection::m_noArgs, istd::AnyReference(*m_deviceId));
    const unsigned flags = m_deviceId->extension[4] | m_deviceId->extension[5] << 8;
    return (flags & 1u) != 0 ? eRedLedOn : eRedLedOff;
}

HwIdentification Board::GetHardwareId()
{
    ISTD_TRACE_FNC("bmc::HwIdentification bmc::Board::GetHardwareId()");
    return _HardwareId(eBoardBase);
}

HwIdentification Board::GetSubsysHardwareId()
{
    ISTD_TRACE_FNC("bmc::HwIdentification bmc::Board::GetSubsysHardwareId()");
    return _HardwareId(eBoardSubsys);
}

HwIdentification Board::_HardwareId(Board_e section)
{
    const BoardConfiguration configuration = ReadConfiguration();
    const BoardConfigRecord_t& record = configuration.record;
    const bool base = section == eBoardBase;
    const cfg_header& header = base ? record.baseBoard.header : record.subsysBoard.header;
    const hwidentification& hwId = base ? record.baseBoard.hwId : record.subsysBoard.hwId;
    HwIdentification id;
    if (header.magicCode != c_configMagic || (!base && !configuration.IsSubsysPresent())) {
        return id;
    }
    id.valid = true;
    id.applicationId = static_cast<applicationId_e>(hwId.applicationIdentifier);
    id.subsystemId = hwId.subsystemIdentifier;
    id.hwRevision = static_cast<hwRevisions_e>(hwId.hwRevisionNumber);
    id.customerId = _FieldText(hwId.customerIdString);
    id.serialId = _FieldText(hwId.serialNoString);
    id.revision = _FieldText(header.revisionStr);
    return id;
}

void Board::Power(Power_e operation)
{
    ISTD_TRACE_FNC("void bmc::Board::Power(bmc::Power_e)");
    ExecuteCmdOverKoz(eCmdPower, istd::AnyReference(operation));
}

void Board::PowerDown()
{
    ISTD_TRACE_FNC("void bmc::Board::PowerDown()");
    Power(ePowerDown);
}

void Board::PowerUp()
{
    ISTD_TRACE_FNC("void bmc::Board::PowerUp()");
    Power(ePowerUp);
}

void Board::SetPortStateUsb(bool on)
{
    ISTD_TRACE_FNC("void bmc::Board::SetPortStateUsb(bool)");
    ExecuteCmdOverKoz(eCmdSetPortStateUsb, istd::AnyReference(on));
}

void Board::JtagCmd(JTAG_e operation, int value)
{
    ISTD_TRACE_FNC("void bmc::Board::JtagCmd(bmc::JTAG_e, int)");
    _Koz().Execute(eCmdJtagCmd, {istd::AnyReference(operation), istd::AnyReference(value)}, Connection::m_noResult);
}

void Board::ReadPowerStatus()
{
    ISTD_TRACE_FNC("void bmc::Board::ReadPowerStatus()");
    const int slot = _DecimalId();
    BoardBriefStatusMap map;
    _Koz().Execute(eCmdGetBoardBriefStatus, Connection::m_noArgs, istd::AnyReference(map));
    m_powerStatus = ConvPwrBitmaskToStat(map, slot);
}

void Board::ExecuteCmdOverKoz(unsigned command, istd::AnyReference argument)
{
    ISTD_TRACE_FNC("void bmc::Board::ExecuteCmdOverKoz(unsigned int, istd::AnyReference)");
    if (m_uri.GetSubSystem() != Uri::eChassis) {
        throw istd::Exception(c_invalidBoardId, true);
    }
    int slot = istd::FromString<int>(m_uri.GetId());
    _Koz().Execute(command, {argument, istd::AnyReference(slot)}, Connection::m_noResult);
}

Connection& Board::_Own() const
{
    if (m_connection == nullptr) {
        throw istd::Exception(c_noConnection, true);
    }
    return *m_connection;
}

Connection& Board::_Koz()
{
    Connection* connection = ConnectionPool::Instance().GetLocalKOZConnection();
    if (connection == nullptr) {
        throw istd::Exception(c_noConnection, true);
    }
    return *connection;
}

int Board::_DecimalId() const
{
    const std::string& id = m_uri.GetId();
    int64_t number = 0;
    if (!istd::ParseDecimalInt64(id, number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max()) {
        throw istd::Exception("Bad cast from " + id + " to int", true);
    }
    return static_cast<int>(number);
}

void Board::_ResetIdentity() const
{
    std::memset(m_deviceId.get(), 0, sizeof(ipm_devid_ext_rsp_t));
    m_deviceId->deviceId = eBoardTypeInvalid;
    m_deviceId->extension[3] = eBoardStatusDefective;
}

std::ostream& operator<<(std::ostream& os, const Board& board)
{
    ISTD_TRACE_FNC("std::ostream& bmc::operator<<(std::ostream&, const bmc::Board&)");
    // Built aside, so that a value without a name or a failed command writes nothing.
    std::ostringstream text;
    text << "Board: " << board.GetShortId() << ", name: " << board.GetName()
         << ", type: " << istd::EnumName(board.GetType()) << " (" << board.GetDevicePrefix() << "), "
         << "st: " << istd::EnumName(board.GetStatus()) << "(" << static_cast<int>(board.GetStatus()) << ")";
    if (board.GetType() != eBoardTypeOS) {
        const BoardPowerStatus_e power = board.GetPowerStatus();
        text << ", pwr: " << istd::EnumName(power) << "(" << static_cast<int>(power) << ")";
        if (power != eBoardPowerOff) {
            text << ", " << "RL: " << istd::EnumName(board.GetRedLighStatus());
        }
    }
    return os << text.str();
}

} // namespace bmc
