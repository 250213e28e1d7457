#ifndef BMC_OS_CONNECTION_H
#define BMC_OS_CONNECTION_H

// The host computer as a board of type "OS". Its connection answers the commands that identify
// a board and read its sensors; the sensors are nine fixed figures of the operating system
// (ids 0 to 8: three memory sizes, six CPU-time percentages), then every feature of every
// hardware-monitoring chip that libsensors detects, in libsensors' order.
//
// The connection pool makes the host's connection with `new bmc::OsConnection(uri)` for a
// local URI of subsystem "os"; a board of type 243 ("OS") makes one bmc::OsSensor per sensor id.

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <sensors/sensors.h>

#include "bmc/bmc_export.h"
#include "istd/time.h"
#include "bmc/connection.h"
#include "bmc/cpu_stats.h"
#include "bmc/sensor.h"
#include "bmc/sensor_reading.h"
#include "bmc/types.h"

namespace bmc {

// The description of one host sensor. A NaN limit is a limit the sensor does not have.
struct BMC_API SDRos {
    // Figure codes 0 to 8 name the fixed figures (in id order); 9 marks a libsensors feature.
    static constexpr int32_t c_lmSensorFigure = 9;

    // All three limits NaN.
    SDRos(int figure = 0, std::string name = std::string(), std::string units = std::string(),
          SensorType_e type = eSensorTypeUnknown);

    int32_t figure;
    std::string name;
    std::string units;
    SensorType_e type;
    double lowNonCritical;
    double highNonCritical;
    double highCritical;
};

class BMC_API OsConnection : public Connection {
public:
    // One entry of the sensor list; the handles are null for the fixed figures and belong to
    // libsensors.
    struct OSsens {
        SDRos sdr;
        const sensors_chip_name* chip;
        const sensors_feature* feature;
    };

    // The library functions a host connection calls. Real() holds the libraries' own (and
    // CpuStats::Instance); tests hand in others to reach the failure paths.
    struct Libraries {
        sg_mem_stats* (*getMemStats)(size_t* entries);
        CpuStats& (*cpuStats)();
        int (*sensorsInit)(FILE* config);
        void (*sensorsCleanup)();
        const sensors_chip_name* (*getDetectedChips)(const sensors_chip_name* match, int* nr);
        int (*snprintfChipName)(char* text, size_t size, const sensors_chip_name* chip);
        const sensors_feature* (*getFeatures)(const sensors_chip_name* chip, int* nr);
        char* (*getLabel)(const sensors_chip_name* chip, const sensors_feature* feature);
        const sensors_subfeature* (*getSubfeature)(const sensors_chip_name* chip, const sensors_feature* feature,
                                                   sensors_subfeature_type type);
        int (*getValue)(const sensors_chip_name* chip, int subfeature, double* value);

        static const Libraries& Real();
    };

    // Builds the sensor list. Never fails for lack of libsensors or libstatgrab: such failures
    // are traced and leave fewer sensors or failing reads.
    explicit OsConnection(const Uri& uri);
    // The same over other library functions (which must outlive the connection).
    OsConnection(const Uri& uri, const Libraries& libraries);
    OsConnection(const OsConnection&) = delete;
    OsConnection& operator=(const OsConnection&) = delete;
    ~OsConnection() override;

    // The host holds nothing open.
    void Open() override;
    void Close() override;

    // Serves GetSDRInfo, ReadSDRos, ReadSensor, GetTime, GetDeviceId and GetBoardBriefStatus
    // under the connection's mutex; every other id returns at once and leaves the result alone.
    // An id past the sensor list fails with "bmc: reading unavailable sensor.".
    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

private:
    void _Init();
    void AddLmSensors();
    const OSsens& _Entry(const SensorId& id) const;
    void ReadSensor(const SensorId& id, unsigned int& raw, double& value);
    double GetSensorReading(const SensorId& id);
    double GetSensorValue(const sensors_chip_name* chip, const sensors_feature* feature,
                          sensors_subfeature_type type);
    void GetSensorLimits(const sensors_chip_name* chip, const sensors_feature* feature, double& lowNonCritical,
                         double& highNonCritical, double& highCritical);

    const Libraries& m_libraries;
    std::vector<OSsens> m_sensors;
    // Set while this connection is one of the users that keep libsensors' state alive.
    bool m_lmSensorsUser = false;
    std::mutex m_mutex;
};

// A sensor of the host board. It fetches its description once (command ReadSDRos) and reads
// its value through the base at most once a second.
class BMC_API OsSensor : public Sensor {
public:
    // A failing ReadSDRos propagates out of the constructor.
    OsSensor(Board& board, const SensorId& id);

    SensorType_e GetType() const override;
    const std::string& GetName() const override;
    const std::string& GetUnits() const override;
    // A limit the sensor does not have is a reading that carries only the time.
    SensorReading LowNonCritical() const override;
    SensorReading HighNonCritical() const override;
    SensorReading HighCritical() const override;
    // One second.
    istd::Time MinReadInterval() const override;

private:
    SensorReading _Limit(double limit) const;

    SensorType_e m_type;
    double m_lowNonCritical;
    double m_highNonCritical;
    double m_highCritical;
};

} // namespace bmc

#endif
