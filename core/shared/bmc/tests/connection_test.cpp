#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/connection.h"
#include "bmc/sensor_reading.h"
#include "common/recording_connection.h"
#include "tests/support/error_of.h"

namespace {

using bmctest::RecordingConnection;
using testsupport::ErrorOf;

// Reads arguments and writes results with exactly the types the command set fixes, as every
// kind of connection does.
void TypedHandler(unsigned int command, const std::vector<istd::AnyReference>& args, istd::AnyReference& result)
{
    switch (command) {
    case bmc::eCmdGetSDRInfo:
        result = 10u;
        break;
    case bmc::eCmdReadSensor: {
        const bmc::SensorId& id = RecordingConnection::_Argument(command, args, 0);
        result = bmc::NewReading(RecordingConnection::_Argument(command, args, 1),
                                 static_cast<unsigned int>(id.Value()), istd::Time(5, 0));
        break;
    }
    case bmc::eCmdGetTime:
        result = istd::Time(1234, 0);
        break;
    case bmc::eCmdSetTime: {
        const istd::Time& time = RecordingConnection::_Argument(command, args, 0);
        EXPECT_EQ(time, istd::Time(77, 0));
        break;
    }
    case bmc::eCmdFpgaSpiRead: {
        unsigned short& address = RecordingConnection::_Argument(command, args, 0);
        EXPECT_EQ(address, 0x1234);
        break;
    }
    default:
        break;
    }
}

class ConnectionExecute : public ::testing::Test {
protected:
    void SetUp() override { connection.SetHandler(&TypedHandler); }

    RecordingConnection connection;
};

TEST_F(ConnectionExecute, ArgumentsAndResultsTravelWithTheirExactTypes)
{
    unsigned int count = 0;
    connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, istd::AnyReference(count));
    EXPECT_EQ(count, 10u);

    istd::Time time(3);
    connection.Execute(bmc::eCmdGetTime, bmc::Connection::m_noArgs, istd::AnyReference(time));
    EXPECT_EQ(time, istd::Time(1234, 0));

    const istd::Time newTime(77, 0);
    connection.Execute(bmc::eCmdSetTime, {istd::AnyReference(newTime)}, bmc::Connection::m_noResult);

    unsigned short address = 0x1234;
    connection.Execute(bmc::eCmdFpgaSpiRead, {istd::AnyReference(address)}, bmc::Connection::m_noResult);

    const bmc::SensorId id(42);
    bmc::SensorType_e type = bmc::eSensorTypeVoltage;
    bmc::SensorReading reading;
    connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(id), istd::AnyReference(type)},
                       istd::AnyReference(reading));
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeVoltage);
    EXPECT_EQ(reading.Raw(), 42u);
    EXPECT_EQ(reading.Timestamp(), istd::Time(5, 0));

    EXPECT_EQ(connection.Commands(), (std::vector<unsigned int>{0, 5, 6, 13, 3}));
}

TEST_F(ConnectionExecute, AnotherTypeOrConstnessFailsTheTypeCheck)
{
    // The result variable of the wrong type: the command has run already.
    int wrongCount = 0;
    EXPECT_NE(ErrorOf([&] {
                  connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, istd::AnyReference(wrongCount));
              }).find("type mismatch"),
              std::string::npos);
    EXPECT_EQ(connection.Count(bmc::eCmdGetSDRInfo), 1u);

    // A time wrapped non-const where the command reads a const one.
    istd::Time mutableTime(77, 0);
    EXPECT_NE(ErrorOf([&] {
                  connection.Execute(bmc::eCmdSetTime, {istd::AnyReference(mutableTime)}, bmc::Connection::m_noResult);
              }).find("type mismatch"),
              std::string::npos);

    // An address wrapped as unsigned int instead of unsigned short.
    unsigned int wideAddress = 0x1234;
    EXPECT_NE(ErrorOf([&] {
                  connection.Execute(bmc::eCmdFpgaSpiRead, {istd::AnyReference(wideAddress)},
                                     bmc::Connection::m_noResult);
              }).find("type mismatch"),
              std::string::npos);

    // The sensor id wrapped non-const, the sensor type wrapped const.
    bmc::SensorId mutableId(1);
    const bmc::SensorId id(1);
    bmc::SensorType_e type = bmc::eSensorTypeFan;
    const bmc::SensorType_e constType = bmc::eSensorTypeFan;
    bmc::SensorReading reading;
    EXPECT_NE(ErrorOf([&] {
                  connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(mutableId), istd::AnyReference(type)},
                                     istd::AnyReference(reading));
              }).find("type mismatch"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] {
                  connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(id), istd::AnyReference(constType)},
                                     istd::AnyReference(reading));
              }).find("type mismatch"),
              std::string::npos);
    EXPECT_FALSE(reading.IsValid());
}

TEST_F(ConnectionExecute, AMissingResultOrArgumentIsRefused)
{
    EXPECT_EQ(ErrorOf([&] {
                  connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, bmc::Connection::m_noResult);
              }),
              "AnyReference: nothing wrapped.");
    EXPECT_EQ(ErrorOf([&] {
                  connection.Execute(bmc::eCmdFpgaSpiRead, bmc::Connection::m_noArgs, bmc::Connection::m_noResult);
              }),
              "bmc: command 13 needs argument 0.");
    const bmc::SensorId id(1);
    bmc::SensorReading reading;
    EXPECT_EQ(ErrorOf([&] {
                  connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(id)}, istd::AnyReference(reading));
              }),
              "bmc: command 3 needs argument 1.");
    EXPECT_TRUE(bmc::Connection::m_noArgs.empty());
    EXPECT_TRUE(bmc::Connection::m_noResult.IsEmpty());
}

TEST(NewReading, TakesTheTypeItsCarrierRefersTo)
{
    bmc::SensorType_e type = bmc::eSensorTypeCpu;
    const bmc::SensorReading reading = bmc::NewReading(istd::AnyReference(type), 7, 12.5, istd::Time(9, 0));
    EXPECT_TRUE(reading.IsValid());
    EXPECT_EQ(reading.SensorType(), bmc::eSensorTypeCpu);
    EXPECT_EQ(reading.Raw(), 7u);
    EXPECT_EQ(reading.Converted(), 12.5);

    int notAType = 2;
    EXPECT_THROW(bmc::NewReading(istd::AnyReference(notAType), 7, istd::Time(9, 0)), istd::Exception);
    EXPECT_EQ(ErrorOf([] { bmc::NewReading(bmc::Connection::m_noResult, 7, istd::Time(9, 0)); }),
              "AnyReference: nothing wrapped.");
}

// The table of which kind serves which command: S serves, I ignored, N nothing, R refused.
TEST(CommandSupport, EachKindTreatsEachIdAsTheTableSays)
{
    //                      ids 0 ........ 9 ........ 19 .... 25
    const std::string ipmi = "SSNSSSSSNSSSSSSSSSSSSSSSNS";
    const std::string os = "SNSSNSNNNSNNNNNNSNNNNNNNNN";
    const std::string hpi = "SRRSISIRRSRRRRRRRRRRRRRRRR";
    const std::string test = "SSSSNSSNNSSSNNNNSSNSNNNNNN";
    const auto expected = [](const std::string& row, unsigned int id, char beyond, char at99) {
        const char c = id < row.size() ? row[id] : id == 99 ? at99 : beyond;
        return c == 'S' ? bmc::eCommandServed
               : c == 'I' ? bmc::eCommandIgnored
               : c == 'N' ? bmc::eCommandNothing
                          : bmc::eCommandRefused;
    };
    for (unsigned int id = 0; id <= 130; ++id) {
        EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionIpmi, id), expected(ipmi, id, 'N', 'N')) << id;
        EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionOs, id), expected(os, id, 'N', 'N')) << id;
        EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionHpi, id), expected(hpi, id, 'R', 'R')) << id;
        EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionTest, id), expected(test, id, 'N', 'S')) << id;
    }
    EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionHpi, 0xFFFFFFFFu), bmc::eCommandRefused);
    EXPECT_EQ(bmc::GetCommandSupport(bmc::eConnectionIpmi, 0xFFFFFFFFu), bmc::eCommandNothing);
}

class CountingCallback : public bmc::ConnectionCallback {
public:
    explicit CountingCallback(int& destroyed) : m_destroyed(destroyed) {}
    ~CountingCallback() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

TEST(ConnectionLife, TracesItsUriAndLeavesTheCallbackAlive)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    int destroyed = 0;
    CountingCallback callback(destroyed);
    {
        RecordingConnection connection(bmc::DecomposeUri("kvr:///test/7"));
        connection.SetCallback(&callback);
        connection.SetCallback(nullptr);
        connection.SetCallback(&callback);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_TRUE(capture.Contains("New connection: kvr:///test/7"));
    EXPECT_TRUE(capture.Contains("Destroyed connection: kvr:///test/7"));
}

TEST(ConnectionLife, BaseCallbackTracesTheUploadReport)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    bmc::ConnectionCallback callback;
    callback.UpdateUpgradeStatus(3, 4, 1000, 56, 4096, istd::Time(2, 500000000));
    EXPECT_TRUE(capture.Contains("Board Id: 3, Sequence number: 4, Total bytes sent: 1000, Additional bytes sent "
                                 "from previous callback: 56, File size: 4096, Time elapsed: 2.500000000 s"));
}

} // namespace
