// The test connection on its own (its fixed answers byte by byte, the clock, the image path,
// the conversion test, the carriers' checks) and the test boards kvr:///test/1 and
// kvr:///test/Os that the board pool makes of it, end to end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "istd/time.h"
#include "bmc/board.h"
#include "bmc/board_pool.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_sensor.h"
#include "bmc/os_connection.h"
#include "bmc/raw_image.h"
#include "bmc/sel_reading.h"
#include "bmc/system_event_log.h"
#include "bmc/test_connection.h"
#include "common/host_commands.h"
#include "common/hpi_daemon.h"
#include "common/recording_connection.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace {

using bmc::Connection;
using bmc::TestConnection;
using bmc::Uri;
using istd::AnyReference;

constexpr uint32_t c_t1 = 1272628800; // 2010-04-30 12:00:00 UTC
constexpr uint32_t c_t2 = 1272633314; // 2010-04-30 13:15:14 UTC
const char c_imageText[] = "This is a test";

Uri TestUri(const std::string& id)
{
    return Uri(Uri::eTest, id, Uri::eInterfaceDefault);
}

template <class T>
T Answer(Connection& connection, unsigned int command, const std::vector<AnyReference>& args = Connection::m_noArgs)
{
    T result{};
    connection.Execute(command, args, AnyReference(result));
    return result;
}

template <class T>
std::vector<uint8_t> Bytes(const T& record)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(p, p + sizeof record);
}

// A record of the given size with the listed bytes set, all others 0.
std::vector<uint8_t> Record(size_t size, const std::vector<std::pair<size_t, uint8_t>>& bytes)
{
    std::vector<uint8_t> record(size);
    for (const auto& b : bytes) {
        record[b.first] = b.second;
    }
    return record;
}

bool Between(const istd::Time& before, const istd::Time& time, const istd::Time& after)
{
    return before <= time && time <= after;
}

TEST(TestConnection, TheIdOsAloneMakesTheHost)
{
    const std::vector<std::pair<std::string, uint8_t>> cases = {
        {"Os", 243}, {"os", 173}, {"OS", 173}, {" Os", 173}, {"Os ", 173}, {"Os1", 173}, {"1", 173}, {"", 173}};
    for (const auto& c : cases) {
        TestConnection connection(TestUri(c.first));
        EXPECT_EQ(Answer<ipm_devid_ext_rsp>(connection, bmc::eCmdGetDeviceId).deviceId, c.second) << c.first;
    }

    // The rest of the identity: revision 1, firmware 1.2, IPMI 0x51, the maker's number, product
    // 0x0201 (firmware type 2), firmware 0x0302, FPGA 0x0100, running, red LED on.
    TestConnection connection(TestUri("1"));
    EXPECT_EQ(Bytes(Answer<ipm_devid_ext_rsp>(connection, bmc::eCmdGetDeviceId)),
              (std::vector<uint8_t>{173, 0x01, 0x01, 0x02, 0x51, 0x0D, 0xDE, 0xC0, 0x00, 0x01, 0x02,
                                    0x02, 0x03, 0x00, 0x01, 0, 0, 0x01, 0x04, 0x01, 0x00, 0}));
}

TEST(TestConnection, AnswersTheFixedRecordsOfAWellBehavedBoard)
{
    TestConnection connection(TestUri("1"));
    EXPECT_EQ(Answer<unsigned int>(connection, bmc::eCmdGetSDRInfo), 10u);

    // The same sensor record for every sensor, with the sensor's record id (low 16 bits).
    const std::vector<std::pair<size_t, uint8_t>> sensorTest = {
        {3, 0x01},  {12, 0x01}, {21, 0x01}, {24, 0x01}, {25, 0x02}, {27, 0x1E}, {28, 0xF5},
        {30, 0x05}, {31, 0x28}, {32, 0x7F}, {36, 0x7F}, {37, 0x55}, {38, 0x46}, {40, 0x05},
        {41, 0x0A}, {47, 0x03}, {48, 'S'},  {49, 'e'},  {50, 'n'},  {51, 's'},  {52, 'o'},
        {53, 'r'},  {54, 'T'},  {55, 'e'},  {56, 's'},  {57, 't'}};
    for (const auto& id : std::vector<std::pair<int32_t, uint16_t>>{{0, 0}, {9, 9}, {70000, 4464}, {-1, 0xFFFF}}) {
        const bmc::SensorId sensor(id.first);
        auto expected = Record(71, sensorTest);
        expected[0] = static_cast<uint8_t>(id.second);
        expected[1] = static_cast<uint8_t>(id.second >> 8);
        EXPECT_EQ(Bytes(Answer<sensor_record>(connection, bmc::eCmdReadSDR, {AnyReference(sensor)})), expected)
            << id.first;
    }

    const auto host = Answer<bmc::SDRos>(connection, bmc::eCmdReadSDRos);
    EXPECT_EQ(host.figure, 0);
    EXPECT_EQ(host.name, "Total Memory");
    EXPECT_EQ(host.units, "Bytes");
    EXPECT_EQ(host.type, bmc::eSensorTypeFan);
    EXPECT_EQ(host.lowNonCritical, 10.0);
    EXPECT_EQ(host.highNonCritical, 70.0);
    EXPECT_EQ(host.highCritical, 85.0);

    const istd::Time before = istd::Time::Now(3);
    const auto reading = Answer<bmc::SensorReading>(connection, bmc::eCmdReadSensor);
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeUnknown);
    EXPECT_EQ(reading.Raw(), 12u);
    EXPECT_TRUE(std::isnan(reading.Converted()));
    EXPECT_TRUE(Between(before, reading.Timestamp(), istd::Time::Now(3)));

    const auto status = Answer<bmc::BoardBriefStatusMap>(connection, bmc::eCmdGetBoardBriefStatus);
    EXPECT_EQ(status.presenceMask.to_ulong(), 0x7Fu);
    EXPECT_TRUE(status.mngMask.none());
    EXPECT_TRUE(status.mainMask.none());

    EXPECT_EQ(Bytes(Answer<sel_info>(connection, bmc::eCmdGetSelInfo)),
              (std::vector<uint8_t>{0x51, 3, 0, 0x89, 0xF3, c_t1 & 0xFF, (c_t1 >> 8) & 0xFF, (c_t1 >> 16) & 0xFF,
                                    c_t1 >> 24, c_t2 & 0xFF, (c_t2 >> 8) & 0xFF, (c_t2 >> 16) & 0xFF, c_t2 >> 24,
                                    0x02}));
    const auto event = Record(19, {{0, 1},
                                   {2, 0xE2},
                                   {3, c_t1 & 0xFF},
                                   {4, (c_t1 >> 8) & 0xFF},
                                   {5, (c_t1 >> 16) & 0xFF},
                                   {6, c_t1 >> 24},
                                   {9, 0x06},
                                   {10, 0x2C},
                                   {11, c_t2 & 0xFF},
                                   {12, (c_t2 >> 8) & 0xFF},
                                   {13, (c_t2 >> 16) & 0xFF},
                                   {14, c_t2 >> 24}});
    for (int entry : {1, 3, 99}) {
        EXPECT_EQ(Bytes(Answer<platformb_event_record>(connection, bmc::eCmdSelRead, {AnyReference(entry)})), event)
            << entry;
    }
}

TEST(TestConnection, CommandsItDoesNotSimulateLeaveTheirResultAlone)
{
    TestConnection connection(TestUri("1"));
    for (unsigned int command : {4u, 7u, 8u, 12u, 13u, 14u, 15u, 18u, 20u, 21u, 22u, 23u, 24u, 25u, 26u, 98u, 100u,
                                 0xFFFFFFFFu}) {
        int untouched = 7;
        EXPECT_NO_THROW(connection.Execute(command, Connection::m_noArgs, AnyReference(untouched))) << command;
        EXPECT_EQ(untouched, 7) << command;
    }
}

TEST(TestConnection, CarriersAreCheckedAlsoForFixedAnswers)
{
    TestConnection connection(TestUri("1"));
    int wrong = 0;
    istd::Time time(3);
    bmc::SensorId id(1);
    bmc::ImageData image;
    const struct {
        unsigned int command;
        std::vector<AnyReference> args;
        AnyReference result;
        const char* text;
    } cases[] = {
        {bmc::eCmdGetDeviceId, Connection::m_noArgs, Connection::m_noResult, "AnyReference: nothing wrapped."},
        {bmc::eCmdGetSDRInfo, Connection::m_noArgs, AnyReference(wrong), "type mismatch, holds int"},
        {bmc::eCmdSetTime, {AnyReference(time)}, Connection::m_noResult, "(wrapped non-const)"},
        {bmc::eCmdReadSDR, {AnyReference(id)}, AnyReference(wrong), "(wrapped non-const)"},
        {bmc::eCmdWriteImage, {AnyReference(image)}, Connection::m_noResult, "(wrapped non-const)"},
        {bmc::eCmdReadSDR, Connection::m_noArgs, AnyReference(wrong), "bmc: command 1 needs argument 0."},
    };
    for (const auto& c : cases) {
        const std::string text = testsupport::ErrorOf([&] { connection.Execute(c.command, c.args, c.result); });
        EXPECT_NE(text.find(c.text), std::string::npos) << c.command << ": " << text;
    }
}

TEST(TestConnection, TheClockIsSharedStandsStillAndEveryNewConnectionResetsIt)
{
    TestConnection first(TestUri("1"));
    TestConnection second(TestUri("Os"));
    EXPECT_EQ(Answer<istd::Time>(first, bmc::eCmdGetTime), istd::Time(c_t1));

    const istd::Time set(1500000000, 250000000);
    first.Execute(bmc::eCmdSetTime, {AnyReference(set)}, Connection::m_noResult);
    EXPECT_EQ(Answer<istd::Time>(first, bmc::eCmdGetTime), set);
    EXPECT_EQ(Answer<istd::Time>(second, bmc::eCmdGetTime), set);

    TestConnection third(TestUri("2"));
    EXPECT_EQ(Answer<istd::Time>(first, bmc::eCmdGetTime), istd::Time(c_t1));
}

class TestConnectionImages : public ::testing::Test {
protected:
    std::string Execute(const bmc::ImageData& image)
    {
        return testsupport::ErrorOf(
            [&] { m_connection.Execute(bmc::eCmdWriteImage, {AnyReference(image)}, Connection::m_noResult); });
    }
    std::string StoredImage() const { return m_dir / TestConnection::c_imageFile; }

    TestConnection m_connection{TestUri("1")};
    testsupport::TempDir m_dir;
    testsupport::CurrentDir m_current{m_dir.Path()};
};

TEST_F(TestConnectionImages, TheImageReadIsAnUpgradeImageForAKozBoard)
{
    const auto bytes = Answer<bmc::ImageData>(m_connection, bmc::eCmdGetImage);
    const bmc::HpmImage image = bmc::CreateHpmImage(bytes);
    EXPECT_EQ(image.GetHpmImageType(), bmc::eBoardTypeKOZ);
    uint8_t major = 0, minor = 0;
    uint32_t aux = 0;
    image.GetHpmImageVersion(major, minor, aux);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 1);
    EXPECT_EQ(aux, 1u);
    const bmc::RawImage raw = image;
    EXPECT_EQ(raw.GetBuffer(), bmc::ImageData(c_imageText, c_imageText + sizeof c_imageText));
    EXPECT_EQ(bytes.size(), sizeof c_imageText + bmc::HpmImage::c_overhead);
}

TEST_F(TestConnectionImages, AWrittenImageIsCheckedThroughAFileInTheCurrentDirectory)
{
    const auto image = Answer<bmc::ImageData>(m_connection, bmc::eCmdGetImage);
    EXPECT_EQ(Execute(image), "no error");
    EXPECT_EQ(bmc::ReadImageFromFile(StoredImage()), image);

    // A second image overwrites the file.
    const bmc::ImageData other =
        bmc::HpmImage(bmc::RawImage(bmc::ImageData(300, 0x5A)), 2, 3, 4, bmc::eBoardTypeWRP).GetBuffer();
    EXPECT_EQ(Execute(other), "no error");
    EXPECT_EQ(bmc::ReadImageFromFile(StoredImage()), other);
}

TEST_F(TestConnectionImages, BytesThatAreNoUpgradeImageFailTheImageCheck)
{
    auto image = Answer<bmc::ImageData>(m_connection, bmc::eCmdGetImage);
    image[bmc::HpmImage::c_firmwareOffset] ^= 1;
    EXPECT_EQ(Execute(image), "HPM: Invalid MD5 signature.");
    EXPECT_EQ(Execute(bmc::ImageData(100, 0x41)), "HPM: Invalid signature.");
    EXPECT_THROW(Execute(bmc::ImageData()), std::out_of_range);

    // A file that cannot be written.
    std::filesystem::remove(StoredImage());
    std::filesystem::create_directory(StoredImage());
    EXPECT_EQ(Execute(Answer<bmc::ImageData>(m_connection, bmc::eCmdGetImage)),
              std::string("bmc: Can't write file: ") + TestConnection::c_imageFile);
}

// The conversion test runs through an IPMI sensor whose board's own connection answers nothing:
// the sensor must convert with the record it is given and read none.
class InjectedReading : public ::testing::Test {
protected:
    bmc::SensorReading Inject(unsigned int raw, int type, unsigned short mWord, unsigned int bWord,
                              unsigned char linearisation, unsigned char format)
    {
        bmc::IpmiSensor* sensor = &m_sensor;
        return Answer<bmc::SensorReading>(
            m_test, bmc::eCmdInjectSensorReading,
            {AnyReference(raw), AnyReference(sensor), AnyReference(type), AnyReference(mWord),
             AnyReference(bWord), AnyReference(linearisation), AnyReference(format)});
    }

    TestConnection m_test{TestUri("1")};
    bmctest::RecordingConnection m_own;
    bmc::Board m_board{Uri(Uri::eChassis, "3", Uri::eInterfaceDefault), &m_own};
    bmc::IpmiSensor m_sensor{m_board, bmc::SensorId(0)};
};

TEST_F(InjectedReading, ConvertsWithTheGivenConstantsAndKeepsTheRecord)
{
    const struct {
        unsigned int raw;
        unsigned short mWord;
        unsigned int bWord;
        unsigned char linearisation;
        unsigned char format;
        double converted;
    } cases[] = {
        {40, 1, 0, 0, 0, 40.0},
        {0xFE, 1, 0, 0, 2, -2.0},                // two's complement
        {0xFE, 1, 0, 0, 1, -1.0},                // one's complement
        {0xFF, 1, 0, 0, 1, 0.0},                 // one's complement negative zero
        {50, 2, 10u | 0xF1u << 24, 0, 0, 20.0},  // B = 10, K1 = 1, K2 = -1
        {1, 0x8000, 0, 0, 0, -512.0},            // M = -512
        {3, 1, 0, 8, 0, 9.0},                    // squared
        {0x1234, 1, 0, 0, 0, 0x34},              // the low 8 bits of the raw value
        {0xFE, 1, 0, 0, 4 | 2, -2.0},            // only the low 2 bits of the format count
    };
    for (const auto& c : cases) {
        const istd::Time before = istd::Time::Now(3);
        const bmc::SensorReading reading =
            Inject(c.raw, bmc::eSensorTypeVoltage, c.mWord, c.bWord, c.linearisation, c.format);
        EXPECT_TRUE(reading.IsValid()) << c.raw;
        EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeVoltage) << c.raw;
        EXPECT_EQ(reading.Raw(), c.raw);
        EXPECT_DOUBLE_EQ(reading.Converted(), c.converted) << c.raw << " " << int{c.format};
        EXPECT_TRUE(Between(before, reading.Timestamp(), istd::Time::Now(3)));
    }

    const bmc::SensorReading discrete = Inject(7, bmc::eSensorTypeOtherAnalog, 1, 0, 0, 3);
    EXPECT_EQ(discrete.SensorType(), bmc::eSensorTypeDiscrete);
    EXPECT_EQ(discrete.DiscreteValue(), "discrete value");

    // The sensor converts with the last record it was given and never read one.
    EXPECT_EQ(m_sensor.GetRecordType(), 0x01);
    EXPECT_EQ(m_sensor.GetType(), bmc::eSensorTypeDiscrete);
    EXPECT_EQ(m_own.Count(bmc::eCmdReadSDR), 0u);
}

TEST_F(InjectedReading, WithoutASensorOrWithAWrongArgumentTheSensorIsNotTouched)
{
    bmc::IpmiSensor* none = nullptr;
    unsigned int raw = 40;
    int type = 2;
    unsigned short mWord = 1;
    unsigned int bWord = 0;
    unsigned char linearisation = 0;
    unsigned char format = 0;
    bmc::SensorReading result;
    EXPECT_EQ(testsupport::ErrorOf([&] {
                  m_test.Execute(bmc::eCmdInjectSensorReading,
                                 {AnyReference(raw), AnyReference(none), AnyReference(type), AnyReference(mWord),
                                  AnyReference(bWord), AnyReference(linearisation), AnyReference(format)},
                                 AnyReference(result));
              }),
              "bmc: TestConnection: no sensor to inject the reading into.");

    bmc::IpmiSensor* sensor = &m_sensor;
    int wrongFormat = 0;
    EXPECT_NE(testsupport::ErrorOf([&] {
                  m_test.Execute(bmc::eCmdInjectSensorReading,
                                 {AnyReference(raw), AnyReference(sensor), AnyReference(type), AnyReference(mWord),
                                  AnyReference(bWord), AnyReference(linearisation), AnyReference(wrongFormat)},
                                 AnyReference(result));
              }).find("type mismatch"),
              std::string::npos);
    EXPECT_FALSE(result.IsValid());
    // The sensor got no record: the first use loads its own.
    m_sensor.GetType();
    EXPECT_EQ(m_own.Count(bmc::eCmdReadSDR), 1u);
}

// The boards the pool makes of test URIs. No OpenHPI daemon runs for this program: its client
// is pointed at a free port so that the pool's enumeration finds none at once.
class TestBoards : public ::testing::Test {
protected:
    static void SetUpTestSuite() { bmctest::HpiDaemon::ClientPort(); }

    static bmc::Board& Get(const char* uri)
    {
        bmc::Board* board = bmc::BoardPool::Instance().GetBoard(bmc::DecomposeUri(uri));
        if (board == nullptr) {
            throw std::runtime_error(std::string("no board for ") + uri);
        }
        return *board;
    }

    static std::string Text(const bmc::Board& board)
    {
        std::ostringstream text;
        text << board;
        return text.str();
    }
};

TEST_F(TestBoards, TheMokveBoardRunsEndToEnd)
{
    bmc::Board& board = Get("kvr:///test/1");
    EXPECT_EQ(board.GetName(), "mokve1");
    EXPECT_EQ(board.GetShortId(), "test:1");
    EXPECT_EQ(board.GetType(), bmc::eBoardTypeMOKVE);
    EXPECT_EQ(board.GetFirmwareType(), static_cast<bmc::FirmwareType_e>(2));
    EXPECT_EQ(board.GetManufacturerId(), 0xC0DEu);
    EXPECT_EQ(board.GetFwRevision(), 0x0302);
    EXPECT_EQ(board.GetFpgaRevision(), 0x0100);
    EXPECT_EQ(board.GetStatus(), bmc::eBoardStatusRunning);
    EXPECT_EQ(Text(board), "Board: test:1, name: mokve1, type: MOKVE (), st: Running(4), pwr: Mng + Main(2), RL: On");

    // Ten IPMI sensors, each with the test record.
    ASSERT_EQ(board.GetSensorsIds().size(), 10u);
    for (const bmc::SensorId& id : board.GetSensorsIds()) {
        auto* sensor = dynamic_cast<bmc::IpmiSensor*>(board.GetSensor(id));
        ASSERT_NE(sensor, nullptr) << id;
        EXPECT_EQ(sensor->GetName(), "1-SensorTest");
        EXPECT_EQ(sensor->GetUnits(), "degrees C");
        EXPECT_EQ(sensor->GetType(), bmc::eSensorTypeTemperature);
    }
    const bmc::Sensor& sensor = *board.GetSensor(bmc::SensorId(9));
    const bmc::SensorReading reading = sensor.Read();
    ASSERT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.Raw(), 12u);
    EXPECT_EQ(reading.Converted(), 12.0);
    EXPECT_EQ(sensor.ReadingLimit(reading), bmc::eLimitOk);
    const std::vector<double> limits{sensor.LowNonRecover().Converted(),  sensor.LowCritical().Converted(),
                                     sensor.LowNonCritical().Converted(), sensor.Nominal().Converted(),
                                     sensor.HighNonCritical().Converted(), sensor.HighCritical().Converted(),
                                     sensor.HighNonRecover().Converted()};
    EXPECT_EQ(limits, (std::vector<double>{0, 5, 10, 40, 70, 85, 127}));

    // The event log, decoded.
    bmc::SystemEventLog& log = *board.GetSel();
    const std::vector<bmc::SelReading> entries = log.ReadMany(-1, true);
    EXPECT_EQ(log.GetEntries(), 3);
    EXPECT_EQ(log.GetFreeSpace(), 62345);
    EXPECT_EQ(log.GetLastAddition(), istd::Time(c_t1));
    EXPECT_EQ(log.GetLastErase(), istd::Time(c_t2));
    ASSERT_EQ(entries.size(), 3u);
    for (const bmc::SelReading& entry : entries) {
        EXPECT_TRUE(entry.IsValid());
        EXPECT_EQ(entry.GetId(), 1);
        EXPECT_EQ(entry.GetTime(), istd::Time(c_t1));
        EXPECT_EQ(entry.GetEventCode(), 6);
        EXPECT_EQ(entry.GetDescription(), "Time stamp synchronization. (Time)");
        EXPECT_EQ(entry.GetSeverity(), "Info");
        EXPECT_EQ(entry.GetParameter(), "(" + std::to_string(c_t2) + ")");
    }
    EXPECT_EQ(testsupport::ErrorOf([&] { log.Read(4); }), "bmc:: SEL index too big.");

    // The clock, set and read back.
    const istd::Time time = istd::CreateTime("2021-06-01 08:30:00");
    board.SetTime(time);
    EXPECT_EQ(board.GetTime(), time);

    // An image read and checked, and written into a temporary working directory.
    const bmc::HpmImage image = board.ReadImage();
    EXPECT_EQ(image.GetHpmImageType(), bmc::eBoardTypeKOZ);
    testsupport::TempDir dir;
    testsupport::CurrentDir current(dir.Path());
    const bmc::ImageData& bytes = image.GetBuffer();
    board.GetConnection()->Execute(bmc::eCmdWriteImage, {AnyReference(bytes)}, Connection::m_noResult);
    EXPECT_EQ(bmc::ReadImageFromFile(dir / TestConnection::c_imageFile), bytes);
}

TEST_F(TestBoards, TheOsBoardPresentsItselfAsTheHost)
{
    bmc::Board& board = Get("kvr:///test/Os");
    EXPECT_EQ(board.GetType(), bmc::eBoardTypeOS);
    EXPECT_EQ(board.GetName(), "osOs");
    EXPECT_EQ(Text(board), "Board: test:Os, name: osOs, type: OS (), st: Running(4)");

    ASSERT_EQ(board.GetSensorsIds().size(), 10u);
    auto* sensor = dynamic_cast<bmc::OsSensor*>(board.GetSensor(bmc::SensorId(4)));
    ASSERT_NE(sensor, nullptr);
    EXPECT_EQ(sensor->GetName(), "Total Memory");
    EXPECT_EQ(sensor->GetUnits(), "Bytes");
    EXPECT_EQ(sensor->GetType(), bmc::eSensorTypeFan);
    EXPECT_EQ(sensor->LowNonCritical().Converted(), 10.0);
    EXPECT_EQ(sensor->HighNonCritical().Converted(), 70.0);
    EXPECT_EQ(sensor->HighCritical().Converted(), 85.0);
    EXPECT_FALSE(sensor->LowCritical().IsValid());
    const bmc::SensorReading reading = sensor->Read();
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.Raw(), 12u);

    // Both test boards are local boards of the pool, beside the host.
    std::vector<std::string> uris;
    for (const Uri& uri : bmc::BoardPool::Instance().GetAllLocalBoardUris()) {
        uris.push_back(uri.ToString());
    }
    for (const char* uri : {"kvr:///os/", "kvr:///test/Os"}) {
        EXPECT_NE(std::find(uris.begin(), uris.end(), uri), uris.end()) << uri;
    }
}

} // namespace
