#include "bmc/os_connection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <type_traits>
#include <utility>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/clock.h"
#include "bmc/ipmi_connection.h"

namespace bmc {

namespace {

constexpr double c_noLimit = std::numeric_limits<double>::quiet_NaN();

// The fixed figures, in id order; their figure code is their id.
enum Figure_e {
    eFigureTotal = 0,
    eFigureUsed = 1,
    eFigureCached = 2,
    eFigureIdle = 3,
    eFigureUser = 4,
    eFigureKernel = 5,
    eFigureIowait = 6,
    eFigureSwap = 7,
    eFigureNice = 8
};

const std::vector<SDRos>& _FixedFigures()
{
    static const std::vector<SDRos> s_figures{
        SDRos(eFigureTotal, "TOTAL", "Bytes", eSensorTypeMemory),
        SDRos(eFigureUsed, "USED", "Bytes", eSensorTypeMemory),
        SDRos(eFigureCached, "CASHED", "Bytes", eSensorTypeMemory),
        SDRos(eFigureIdle, "IDLE", "Percentages", eSensorTypeCpu),
        SDRos(eFigureUser, "USER", "Percentages", eSensorTypeCpu),
        SDRos(eFigureKernel, "KERNEL", "Percentages", eSensorTypeCpu),
        SDRos(eFigureIowait, "IOWAIT", "Percentages", eSensorTypeCpu),
        SDRos(eFigureSwap, "SWAP", "Percentages", eSensorTypeCpu),
        SDRos(eFigureNice, "NICE", "Percentages", eSensorTypeCpu)};
    return s_figures;
}

// Units of libsensors feature types.
const istd::Literal_t c_featureUnits[] = {{SENSORS_FEATURE_IN, "Volts"},     {SENSORS_FEATURE_FAN, "RPM"},
                                          {SENSORS_FEATURE_TEMP, "Degrees C"}, {SENSORS_FEATURE_POWER, "Watt"},
                                          {SENSORS_FEATURE_ENERGY, "Joule"},   {SENSORS_FEATURE_CURR, "Ampere"},
                                          {SENSORS_FEATURE_VID, "Volts"},      {0, nullptr}};

SensorType_e ConvertSensorType(sensors_feature_type type)
{
    switch (type) {
    case SENSORS_FEATURE_IN:
    case SENSORS_FEATURE_VID:
        return eSensorTypeVoltage;
    case SENSORS_FEATURE_FAN:
        return eSensorTypeFan;
    case SENSORS_FEATURE_TEMP:
        return eSensorTypeTemperature;
    case SENSORS_FEATURE_POWER:
        return eSensorTypePower;
    case SENSORS_FEATURE_ENERGY:
        return eSensorTypeEnergy;
    case SENSORS_FEATURE_CURR:
        return eSensorTypeCurrent;
    default:
        ISTD_TRACE(1, "bmc: feature type converted to unknown. Original type is " << static_cast<int>(type));
        return eSensorTypeUnknown;
    }
}

// libsensors' state is process-wide: the chip and feature handles of every connection stay
// valid from the first sensors_init to the last sensors_cleanup. So the connections count
// their users and only the last one cleans up. Counted per library (a test's own functions
// stand for a library of their own); never destroyed, so connections destroyed at exit
// still find it.
class LmSensorsUsers {
public:
    static LmSensorsUsers& Instance()
    {
        static LmSensorsUsers* const s_users = new LmSensorsUsers();
        return *s_users;
    }

    // True when the caller is now a user; false when libsensors could not be initialised.
    bool Join(const OsConnection::Libraries& libraries)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t& users = m_users[libraries.sensorsInit];
        if (users == 0 && libraries.sensorsInit(nullptr) != 0) {
            // What a failed initialisation left behind is released at once.
            libraries.sensorsCleanup();
            return false;
        }
        ++users;
        return true;
    }

    void Leave(const OsConnection::Libraries& libraries)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t& users = m_users[libraries.sensorsInit];
        if (users > 0 && --users == 0) {
            libraries.sensorsCleanup();
        }
    }

private:
    LmSensorsUsers() = default;

    std::mutex m_mutex;
    std::map<int (*)(FILE*), size_t> m_users;
};

CpuStats& _CpuStatsInstance()
{
    return CpuStats::Instance();
}

} // namespace

SDRos::SDRos(int figure_, std::string name_, std::string units_, SensorType_e type_)
    : figure(figure_),
      name(std::move(name_)),
      units(std::move(units_)),
      type(type_),
      lowNonCritical(c_noLimit),
      highNonCritical(c_noLimit),
      highCritical(c_noLimit)
{
}

const OsConnection::Libraries& OsConnection::Libraries::Real()
{
    static const Libraries s_real{&sg_get_mem_stats,
                                  &_CpuStatsInstance,
                                  &sensors_init,
                                  &sensors_cleanup,
                                  &sensors_get_detected_chips,
                                  &sensors_snprintf_chip_name,
                                  &sensors_get_features,
                                  &sensors_get_label,
                                  &sensors_get_subfeature,
                                  &sensors_get_value};
    return s_real;
}

OsConnection::OsConnection(const Uri& uri) : OsConnection(uri, Libraries::Real())
{
}

OsConnection::OsConnection(const Uri& uri, const Libraries& libraries) : Connection(uri), m_libraries(libraries)
{
    ISTD_TRACE_FNC("bmc::OsConnection::OsConnection(const bmc::Uri&, const bmc::OsConnection::Libraries&)");
    // Makes the sampler exist (and libstatgrab initialised); its thread starts with the first reading.
    m_libraries.cpuStats();
    m_sensors.reserve(_FixedFigures().size());
    for (const SDRos& figure : _FixedFigures()) {
        m_sensors.push_back(OSsens{figure, nullptr, nullptr});
    }
    m_lmSensorsUser = LmSensorsUsers::Instance().Join(m_libraries);
    if (!m_lmSensorsUser) {
        ISTD_TRACE(1, "bmc: Failed to initialize sensors. OS system statistics for sensors will not work!");
        return;
    }
    try {
        AddLmSensors();
    } catch (...) {
        LmSensorsUsers::Instance().Leave(m_libraries);
        throw;
    }
}

OsConnection::~OsConnection()
{
    ISTD_TRACE_FNC("virtual bmc::OsConnection::~OsConnection()");
    if (m_lmSensorsUser) {
        LmSensorsUsers::Instance().Leave(m_libraries);
    }
}

void OsConnection::Open()
{
}

void OsConnection::Close()
{
}

void OsConnection::AddLmSensors()
{
    ISTD_TRACE_FNC("void bmc::OsConnection::AddLmSensors()");
    int chipNr = 0;
    while (const sensors_chip_name* chip = m_libraries.getDetectedChips(nullptr, &chipNr)) {
        char text[1024];
        std::string chipName = "Unknown";
        if (m_libraries.snprintfChipName(text, sizeof text, chip) < 0) {
            ISTD_TRACE(1, "bmc: Failed to get chip name");
        } else {
            chipName.assign(text, strnlen(text, sizeof text));
        }
        int featureNr = 0;
        while (const sensors_feature* feature = m_libraries.getFeatures(chip, &featureNr)) {
            std::string label = "Unknown";
            if (char* found = m_libraries.getLabel(chip, feature)) {
                label = found;
                std::free(found);
            } else {
                ISTD_TRACE(1, "bmc: Failed to get feature name");
            }
            SDRos record(SDRos::c_lmSensorFigure, chipName + "::" + label,
                         istd::NumericToTextual(c_featureUnits, feature->type), ConvertSensorType(feature->type));
            GetSensorLimits(chip, feature, record.lowNonCritical, record.highNonCritical, record.highCritical);
            m_sensors.push_back(OSsens{std::move(record), chip, feature});
        }
    }
}

void OsConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                           istd::AnyReference result)
{
    ISTD_TRACE_FNC("virtual void bmc::OsConnection::Execute(unsigned int, const std::vector<istd::AnyReference>&, "
                   "istd::AnyReference)");
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (command) {
    case eCmdGetSDRInfo:
        result = static_cast<unsigned int>(m_sensors.size());
        break;
    case eCmdReadSDRos: {
        const SensorId& id = _Argument(command, args, 0);
        result = _Entry(id).sdr;
        break;
    }
    case eCmdReadSensor: {
        const SensorId& id = _Argument(command, args, 0);
        const istd::AnyReference& type = _Argument(command, args, 1);
        const istd::Time time = Clock::Now(3);
        unsigned int raw = 0;
        double value = 0.0;
        ReadSensor(id, raw, value);
        result = NewReading(type, raw, value, time);
        break;
    }
    case eCmdGetTime:
        result = Clock::Now(3);
        break;
    case eCmdGetDeviceId: {
        // Laid out by byte offset: device id (the board type), firmware type, board status.
        ipm_devid_ext_rsp identity{};
        static_assert(sizeof identity == 22 && std::is_trivially_copyable_v<ipm_devid_ext_rsp>,
                      "the identity record is a 22-byte image");
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&identity);
        bytes[0] = eBoardTypeOS;
        bytes[10] = eFirmwareTypeUnknown;
        bytes[18] = eBoardStatusRunning;
        result = identity;
        break;
    }
    case eCmdGetBoardBriefStatus:
        result = BoardBriefStatusMap();
        break;
    default:
        break;
    }
}

const OsConnection::OSsens& OsConnection::_Entry(const SensorId& id) const
{
    if (id.Value() < 0 || static_cast<size_t>(id.Value()) >= m_sensors.size()) {
        throw istd::Exception("bmc: reading unavailable sensor.", true);
    }
    return m_sensors[static_cast<size_t>(id.Value())];
}

void OsConnection::ReadSensor(const SensorId& id, unsigned int& raw, double& value)
{
    ISTD_TRACE_FNC("void bmc::OsConnection::ReadSensor(const bmc::SensorId&, unsigned int&, double&)");
    const OSsens& entry = _Entry(id);
    raw = 0;
    value = 0.0;
    switch (entry.sdr.figure) {
    case eFigureTotal:
    case eFigureUsed:
    case eFigureCached: {
        size_t entries = 0;
        const sg_mem_stats* memory = m_libraries.getMemStats(&entries);
        if (memory == nullptr) {
            throw istd::Exception("bmc: Cannot get memory statistics", true);
        }
        const uint64_t bytes = entry.sdr.figure == eFigureTotal  ? memory->total
                               : entry.sdr.figure == eFigureUsed ? memory->used
                                                                 : memory->cache;
        // The value carries the whole count; the 32-bit raw field saturates.
        raw = static_cast<unsigned int>(std::min<uint64_t>(bytes, std::numeric_limits<unsigned int>::max()));
        value = static_cast<double>(bytes);
        break;
    }
    case eFigureIdle:
    case eFigureUser:
    case eFigureKernel:
    case eFigureIowait:
    case eFigureSwap:
    case eFigureNice: {
        float percent[6] = {};
        m_libraries.cpuStats().GetValues(percent[0], percent[1], percent[2], percent[3], percent[4], percent[5]);
        value = percent[entry.sdr.figure - eFigureIdle];
        break;
    }
    case SDRos::c_lmSensorFigure:
        value = GetSensorReading(id);
        break;
    default:
        break;
    }
}

double OsConnection::GetSensorReading(const SensorId& id)
{
    ISTD_TRACE_FNC("double bmc::OsConnection::GetSensorReading(const bmc::SensorId&)");
    const OSsens& entry = _Entry(id);
    if (entry.chip == nullptr || entry.feature == nullptr) {
        throw istd::Exception("bmc: ReadSensor failed reading value.", true);
    }
    sensors_subfeature_type input;
    switch (entry.feature->type) {
    case SENSORS_FEATURE_IN:
        input = SENSORS_SUBFEATURE_IN_INPUT;
        break;
    case SENSORS_FEATURE_FAN:
        input = SENSORS_SUBFEATURE_FAN_INPUT;
        break;
    case SENSORS_FEATURE_TEMP:
        input = SENSORS_SUBFEATURE_TEMP_INPUT;
        break;
    case SENSORS_FEATURE_POWER:
        input = SENSORS_SUBFEATURE_POWER_INPUT;
        break;
    case SENSORS_FEATURE_CURR:
        input = SENSORS_SUBFEATURE_CURR_INPUT;
        break;
    case SENSORS_FEATURE_VID:
        input = SENSORS_SUBFEATURE_VID;
        break;
    default:
        throw istd::Exception("bmc: ReadSensor failed - unsupported sensor type.", true);
    }
    // A missing or unreadable input is a failed read, not a valid reading without a value.
    const double value = GetSensorValue(entry.chip, entry.feature, input);
    if (std::isnan(value)) {
        throw istd::Exception("bmc: ReadSensor failed reading value.", true);
    }
    return value;
}

double OsConnection::GetSensorValue(const sensors_chip_name* chip, const sensors_feature* feature,
                                    sensors_subfeature_type type)
{
    const sensors_subfeature* subfeature = m_libraries.getSubfeature(chip, feature, type);
    double value = 0.0;
    if (subfeature == nullptr || m_libraries.getValue(chip, subfeature->number, &value) < 0) {
        return c_noLimit;
    }
    return value;
}

void OsConnection::GetSensorLimits(const sensors_chip_name* chip, const sensors_feature* feature,
                                   double& lowNonCritical, double& highNonCritical, double& highCritical)
{
    ISTD_TRACE_FNC("void bmc::OsConnection::GetSensorLimits(const sensors_chip_name*, const sensors_feature*, "
                   "double&, double&, double&)");
    lowNonCritical = c_noLimit;
    highNonCritical = c_noLimit;
    highCritical = c_noLimit;
    switch (feature->type) {
    case SENSORS_FEATURE_IN:
        lowNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_IN_MIN);
        highNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_IN_MAX);
        break;
    case SENSORS_FEATURE_FAN:
        lowNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_FAN_MIN);
        break;
    case SENSORS_FEATURE_TEMP:
        lowNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_TEMP_MIN);
        highNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_TEMP_MAX);
        highCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_TEMP_CRIT);
        break;
    case SENSORS_FEATURE_CURR:
        lowNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_CURR_MIN);
        highNonCritical = GetSensorValue(chip, feature, SENSORS_SUBFEATURE_CURR_MAX);
        break;
    default:
        break;
    }
}

OsSensor::OsSensor(Board& board, const SensorId& id)
    : Sensor(board, id), m_type(eSensorTypeUnknown), m_lowNonCritical(c_noLimit), m_highNonCritical(c_noLimit),
      m_highCritical(c_noLimit)
{
    ISTD_TRACE_FNC("bmc::OsSensor::OsSensor(bmc::Board&, const bmc::SensorId&)");
    SDRos record;
    const std::vector<istd::AnyReference> args{istd::AnyReference(GetId())};
    GetConnection().Execute(eCmdReadSDRos, args, istd::AnyReference(record));
    m_name = record.name;
    m_units = record.units;
    m_type = record.type;
    m_lowNonCritical = record.lowNonCritical;
    m_highNonCritical = record.highNonCritical;
    m_highCritical = record.highCritical;
}

SensorType_e OsSensor::GetType() const
{
    return m_type;
}

const std::string& OsSensor::GetName() const
{
    return m_name;
}

const std::string& OsSensor::GetUnits() const
{
    return m_units;
}

SensorReading OsSensor::_Limit(double limit) const
{
    if (std::isnan(limit)) {
        return SensorReading(Clock::Now(3));
    }
    return SensorReading(GetType(), 0, limit, Clock::Now(3));
}

SensorReading OsSensor::LowNonCritical() const
{
    return _Limit(m_lowNonCritical);
}

SensorReading OsSensor::HighNonCritical() const
{
    return _Limit(m_highNonCritical);
}

SensorReading OsSensor::HighCritical() const
{
    return _Limit(m_highCritical);
}

istd::Time OsSensor::MinReadInterval() const
{
    static const istd::Time s_interval(1, 0);
    return s_interval;
}

} // namespace bmc
