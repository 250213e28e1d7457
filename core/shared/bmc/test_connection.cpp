#include "bmc/test_connection.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "istd/exception.h"
#include "istd/time.h"
#include "istd/trace.h"
#include "bmc/clock.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_connection.h"
#include "bmc/ipmi_sensor.h"
#include "bmc/os_connection.h"
#include "bmc/raw_image.h"
#include "bmc/sensor_reading.h"

namespace bmc {

namespace {

constexpr unsigned int c_sensorCount = 10;
constexpr char c_osId[] = "Os";
constexpr char c_imageText[] = "This is a test"; // the image holds its closing zero byte too

// The clock every test connection reads and sets. One value is never seen half written.
class SimulatedClock {
public:
    static SimulatedClock& Instance()
    {
        // Never destroyed: connections destroyed at exit may still reset it.
        static SimulatedClock* const s_clock = new SimulatedClock();
        return *s_clock;
    }

    istd::Time Get()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_time;
    }

    void Set(const istd::Time& time)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_time = time;
    }

private:
    SimulatedClock() = default;

    std::mutex m_mutex;
    istd::Time m_time;
};

uint32_t Seconds(const char* text)
{
    return static_cast<uint32_t>(istd::CreateTime(text).Sec());
}

void PutLe16(uint8_t* p, unsigned int value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

ipm_devid_ext_rsp Identity(bool isOs)
{
    ipm_devid_ext_rsp id{};
    id.deviceId = static_cast<uint8_t>(isOs ? eBoardTypeOS : eBoardTypeMOKVE);
    id.deviceRevision = 0x01;
    id.fwRevMajor = 0x01;
    id.fwRevMinor = 0x02;
    id.ipmiVersion = 0x51;
    id.additionalSupport = 0x0D;
    for (int i = 0; i < 3; ++i) {
        id.manufacturerId[i] = static_cast<uint8_t>(c_ipmiManufacturerId >> (8 * i));
    }
    id.productId[0] = 0x01;
    id.productId[1] = 0x02; // read as the firmware type 2, which has no name
    id.firmwareRevision[0] = 0x02;
    id.firmwareRevision[1] = 0x03;
    id.fpgaRevision[0] = 0x00;
    id.fpgaRevision[1] = 0x01;
    id.extension[2] = 0x01;
    id.extension[3] = eBoardStatusRunning;
    id.extension[4] = 0x01; // the red LED is on
    return id;
}

sensor_record SensorRecord(const SensorId& id)
{
    static const uint8_t c_constants[] = {
        // offsets 20 to 41: unsigned analog, degrees C, linear, M = 1, B = 0, exponents 0,
        // nominal 40, normal range 0..127, thresholds 0, 5, 10 below and 70, 85, 127 above
        0x00, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x1E, 0xF5, 0x00, 0x05,
        0x28, 0x7F, 0x00, 0x00, 0x00, 0x7F, 0x55, 0x46, 0x00, 0x05, 0x0A};
    static const char c_name[] = "SensorTest";
    sensor_record record{};
    PutLe16(record.data, static_cast<uint32_t>(id.Value()) & 0xFFFFu);
    record.data[3] = 0x01;  // full sensor record
    record.data[12] = 0x01; // temperature
    std::memcpy(record.data + 20, c_constants, sizeof c_constants);
    record.data[47] = 0x03; // an ID string follows
    std::memcpy(record.data + 48, c_name, sizeof c_name - 1);
    return record;
}

SDRos HostSensorRecord()
{
    // The type is "Fan" although the figure is a memory size: the record is only a fixture.
    SDRos record(0, "Total Memory", "Bytes", eSensorTypeFan);
    record.lowNonCritical = 10.0;
    record.highNonCritical = 70.0;
    record.highCritical = 85.0;
    return record;
}

ImageData TestImage()
{
    const RawImage raw(reinterpret_cast<const uint8_t*>(c_imageText), sizeof c_imageText);
    return HpmImage(raw, 1, 1, 1, eBoardTypeKOZ).GetBuffer();
}

sel_info SelInfo()
{
    sel_info info{};
    info.version = 0x51;
    PutLe16(info.entries, 3);
    PutLe16(info.freeSpace, 0xF389);
    PutLe32(info.lastAddition, Seconds(TestConnection::c_clockStart));
    PutLe32(info.lastErase, Seconds(TestConnection::c_lastErase));
    info.operationSupport = 0x02;
    return info;
}

platformb_event_record SelRecord()
{
    platformb_event_record record{};
    PutLe16(record.recordId, 1);
    record.recordType = 0xE2;
    PutLe32(record.timestamp, Seconds(TestConnection::c_clockStart));
    // Event code 6, time stamp synchronisation; the parameter is the 32-bit time.
    record.eventWord[0] = 0x06;
    record.eventWord[1] = 0x2C;
    PutLe32(record.parameters, Seconds(TestConnection::c_lastErase));
    return record;
}

// Writes the image to the test file, reads it back, and checks both copies.
void CheckImageThroughFile(const ImageData& image)
{
    WriteImageToFile(TestConnection::c_imageFile, image);
    const ImageData stored = ReadImageFromFile(TestConnection::c_imageFile);
    const HpmImage read = CreateHpmImage(stored);
    const HpmImage given = CreateHpmImage(image);
    if (read.GetBuffer() != given.GetBuffer()) {
        throw istd::Exception("bmc: TestConnection: eCmdWriteImage failed", true);
    }
}

} // namespace

constexpr char TestConnection::c_imageFile[];
constexpr char TestConnection::c_clockStart[];
constexpr char TestConnection::c_lastErase[];

TestConnection::TestConnection(const Uri& uri) : Connection(uri), m_isOs(uri.GetId() == c_osId)
{
    ISTD_TRACE_FNC("bmc::TestConnection::TestConnection(const bmc::Uri&)");
    SimulatedClock::Instance().Set(istd::CreateTime(c_clockStart));
    ISTD_TRACE(4, "TEST connection created for URI: " << m_uri.ToString());
}

TestConnection::~TestConnection() = default;

void TestConnection::Open()
{
}

void TestConnection::Close()
{
}

void TestConnection::Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                             istd::AnyReference result)
{
    ISTD_TRACE_FNC("virtual void bmc::TestConnection::Execute(unsigned int, const std::vector<istd::AnyReference>&, "
                   "istd::AnyReference)");
    switch (command) {
    case eCmdGetSDRInfo:
        result = c_sensorCount;
        break;
    case eCmdReadSDR: {
        const SensorId& id = _Argument(command, args, 0);
        result = SensorRecord(id);
        break;
    }
    case eCmdReadSDRos:
        result = HostSensorRecord();
        break;
    case eCmdReadSensor:
        result = SensorReading(eSensorTypeUnknown, 12, Clock::Now(3));
        break;
    case eCmdGetTime:
        result = SimulatedClock::Instance().Get();
        break;
    case eCmdSetTime: {
        const istd::Time& time = _Argument(command, args, 0);
        SimulatedClock::Instance().Set(time);
        break;
    }
    case eCmdGetDeviceId:
        result = Identity(m_isOs);
        break;
    case eCmdGetImage:
        result = TestImage();
        break;
    case eCmdWriteImage: {
        const ImageData& image = _Argument(command, args, 0);
        CheckImageThroughFile(image);
        break;
    }
    case eCmdGetBoardBriefStatus: {
        BoardBriefStatusMap status;
        status.presenceMask = 0x7F;
        result = status;
        break;
    }
    case eCmdGetSelInfo:
        result = SelInfo();
        break;
    case eCmdSelRead:
        result = SelRecord();
        break;
    case eCmdInjectSensorReading: {
        // Every argument is read (and its type checked) before the sensor changes.
        const unsigned int& raw = static_cast<unsigned int&>(_Argument(command, args, 0));
        IpmiSensor* const& sensor = static_cast<IpmiSensor*&>(_Argument(command, args, 1));
        const int& type = static_cast<int&>(_Argument(command, args, 2));
        const unsigned short& mWord = static_cast<unsigned short&>(_Argument(command, args, 3));
        const unsigned int& bWord = static_cast<unsigned int&>(_Argument(command, args, 4));
        const unsigned char& linearisation = static_cast<unsigned char&>(_Argument(command, args, 5));
        const unsigned char& format = static_cast<unsigned char&>(_Argument(command, args, 6));
        if (sensor == nullptr) {
            throw istd::Exception("bmc: TestConnection: no sensor to inject the reading into.", true);
        }
        const SensorReading reading(static_cast<SensorType_e>(type), raw, Clock::Now(3));
        // Marked a full sensor record: the IPMI sensor converts with no other kind.
        sensor_record record{};
        record.data[3] = 0x01;
        record.data[20] = static_cast<uint8_t>((format & 3u) << 6);
        record.data[23] = linearisation;
        PutLe16(record.data + 24, mWord);
        PutLe32(record.data + 26, bWord);
        sensor->SetRecord(record);
        result = sensor->Transform(reading);
        break;
    }
    default:
        break;
    }
}

} // namespace bmc
