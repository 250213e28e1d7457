#ifndef BMC_CONNECTION_H
#define BMC_CONNECTION_H

// The transport to one board or to the host. Every board operation is one Execute call with a
// command id, its arguments and a result slot, each wrapped in an istd::AnyReference with the
// exact type (constness included) that the command's row fixes:
//
//     const bmc::SensorId id = ...;
//     bmc::SensorType_e type = ...;
//     bmc::SensorReading reading;
//     connection.Execute(bmc::eCmdReadSensor, {istd::AnyReference(id), istd::AnyReference(type)},
//                        istd::AnyReference(reading));
//
// Commands without arguments pass Connection::m_noArgs, commands without result m_noResult.

#include <atomic>
#include <cstddef>
#include <vector>

#include "bmc/bmc_export.h"
#include "istd/any.h"
#include "istd/time.h"
#include "bmc/uri.h"

namespace bmc {

// Command ids of Execute. Arguments in order (wrapped type) and result:
enum Command_e : unsigned int {
    eCmdGetSDRInfo = 0,     // -                                   -> unsigned int (sensor count)
    eCmdReadSDR = 1,        // const SensorId                      -> sensor_record
    eCmdReadSDRos = 2,      // const SensorId                      -> SDRos
    eCmdReadSensor = 3,     // const SensorId, SensorType_e        -> SensorReading
    eCmdPower = 4,          // Power_e, int board id               -> -
    eCmdGetTime = 5,        // -                                   -> istd::Time
    eCmdSetTime = 6,        // const istd::Time                    -> -
    eCmdFpgaReboot = 7,     // -                                   -> -
    // 8: no command
    eCmdGetDeviceId = 9,    // -                                   -> ipm_devid_ext_rsp
    eCmdGetImage = 10,      // -                                   -> ImageData
    eCmdWriteImage = 11,    // const ImageData                     -> -
    eCmdFpgaSpiWrite = 12,  // unsigned short address, value       -> -
    eCmdFpgaSpiRead = 13,   // unsigned short address              -> chassis_ctl_fpgaread_rsp
    eCmdFpgaAmbaWrite = 14, // unsigned int address, value         -> -
    eCmdFpgaAmbaRead = 15,  // unsigned int address                -> chassis_ctl_ambaread_rsp
    eCmdGetBoardBriefStatus = 16, // -                             -> BoardBriefStatusMap
    eCmdGetSelInfo = 17,    // -                                   -> sel_info
    eCmdSelClear = 18,      // -                                   -> -
    eCmdSelRead = 19,       // int entry                           -> platformb_event_record
    eCmdReadConfiguration = 20,  // -                              -> BoardConfiguration
    eCmdWriteConfiguration = 21, // BoardConfiguration             -> -
    eCmdInitHwInit = 22,    // Board_e                             -> storage_hwstorage_hwinit_rsp
    eCmdJtagCmd = 23,       // JTAG_e, int                         -> -
    // 24: no command
    eCmdSetPortStateUsb = 25,     // bool, int board id            -> -
    // Test connection only: unsigned int raw, IpmiSensor*, int sensor type, unsigned short,
    // unsigned int, unsigned char, unsigned char                  -> SensorReading
    eCmdInjectSensorReading = 99
};

// The kinds of connection, for the table of which kind serves which command.
enum ConnectionKind_e { eConnectionIpmi, eConnectionOs, eConnectionHpi, eConnectionTest };

// What a kind of connection does with a command id:
enum CommandSupport_e {
    eCommandServed,  // carried out as the kind's own description says
    eCommandIgnored, // accepted and returns without effect
    eCommandNothing, // returns at once, without effect and without error
    eCommandRefused  // throws "bmc: Unsupported command (HPI)."
};

BMC_API CommandSupport_e GetCommandSupport(ConnectionKind_e kind, unsigned int command);

// Watches firmware uploads; the connection calls it on the uploading thread.
class BMC_API ConnectionCallback {
public:
    virtual ~ConnectionCallback();
    // The base version traces the report at level 2.
    virtual void UpdateUpgradeStatus(int boardId, unsigned int sequenceNumber, unsigned int totalBytesSent,
                                     unsigned int additionalBytesSent, unsigned int fileSize,
                                     istd::Time elapsed);
};

class BMC_API Connection {
public:
    explicit Connection(const Uri& uri);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Kinds that hold a device or a library handle open and close it here.
    virtual void Open();
    virtual void Close();
    // Runs one command. The result is a copy of the caller's reference, so it writes the
    // caller's own variable. A kind reads at most the arguments the command's row lists.
    virtual void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                         istd::AnyReference result) = 0;
    virtual ~Connection();

    // Null switches progress reports off; the connection never deletes the callback.
    void SetCallback(ConnectionCallback* callback);
    // The callback set now (null for none); the board's own uploads report through it too.
    ConnectionCallback* GetCallback() const;

    static const istd::AnyReference m_noResult;
    static const std::vector<istd::AnyReference> m_noArgs;

protected:
    // args[index], or "bmc: command <command> needs argument <index>." when the list is shorter.
    static const istd::AnyReference& _Argument(unsigned int command, const std::vector<istd::AnyReference>& args,
                                               size_t index);

    const Uri m_uri;

private:
    std::atomic<ConnectionCallback*> m_callback;
};

} // namespace bmc

#endif
