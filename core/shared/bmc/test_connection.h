#ifndef BMC_TEST_CONNECTION_H
#define BMC_TEST_CONNECTION_H

// A board without hardware behind it, so that a bmc::Board, its sensors, its event log, its
// clock and its firmware-image path run end to end on a computer without a chassis. The
// connection pool makes one for every local URI of subsystem "test" (kvr:///test/1); the
// board whose URI id is exactly "Os" presents itself as the host computer (type "OS"), any
// other as a "MOKVE" board.
//
// The answers are fixed and imitate a well-behaved board:
//   GetSDRInfo            10 sensors
//   ReadSDR               one full sensor record "SensorTest" (temperature, degrees C, raw value
//                         = degrees) whatever sensor is asked for, with that sensor's record id
//   ReadSDRos             one host sensor record "Total Memory"
//   ReadSensor            a valid reading of type "Unknown", raw value 12, stamped now
//   GetTime, SetTime      a simulated clock shared by every test connection of the process; it
//                         stands still, and every new test connection sets it to
//                         2010-04-30 12:00:00 UTC
//   GetDeviceId           the identity record (type 243 or 173, running, red LED on)
//   GetImage              an upgrade image for a "KOZ" board around "This is a test"
//   WriteImage            writes the image to "HpmImage.img" in the current directory (the file
//                         stays), reads it back and checks both; a mismatch throws
//                         "bmc: TestConnection: eCmdWriteImage failed"
//   GetBoardBriefStatus   slots 0 to 6 present, all powered off
//   GetSelInfo, SelRead   a log of three entries, each the same time synchronisation record
//   InjectSensorReading   converts a raw value with the given record constants through the
//                         given IPMI sensor (a test of the IPMI conversion)
// Every other command returns at once without effect. Commands run without a lock.

#include <vector>

#include "bmc/bmc_export.h"
#include "istd/any.h"
#include "bmc/connection.h"
#include "bmc/uri.h"

namespace bmc {

class BMC_API TestConnection : public Connection {
public:
    // The file WriteImage checks the image through, relative to the current directory.
    static constexpr char c_imageFile[] = "HpmImage.img";
    // The simulated clock's time after construction, and the event log's last erase time.
    static constexpr char c_clockStart[] = "2010-04-30 12:00:00";
    static constexpr char c_lastErase[] = "2010-04-30 13:15:14";

    // Resets the simulated clock (for every test connection of the process).
    explicit TestConnection(const Uri& uri);
    ~TestConnection() override;

    void Open() override;
    void Close() override;

    // Arguments and results are read and written with the exact types of the command set; a
    // carrier of another type fails there, also for the commands whose answer is fixed.
    // InjectSensorReading reads all its arguments before it changes the sensor, and a null
    // sensor throws "bmc: TestConnection: no sensor to inject the reading into.".
    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

private:
    const bool m_isOs;
};

} // namespace bmc

#endif
