#ifndef BMC_IPMI_CONNECTION_H
#define BMC_IPMI_CONNECTION_H

// The IPMI layer of a board connection: every command of the command set becomes one or more
// IPMI requests to the chassis management controller, and every answer is checked and parsed
// into the command's result. The bytes travel through SendCommand, which a transport overrides
// (IPMI over USB: bmc::IpmiUsbConnection).
//
// Answers are checked before they are used: a completion code other than 0 throws
// bmc::IpmiException with the builder's text; an answer shorter than what the builder reads
// throws istd::Exception with the builder's text followed by " (short answer: <n> of <m> data
// bytes)". Nothing of a short answer is ever presented as data.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bmc/bmc_export.h"
#include "istd/time.h"
#include "bmc/config_mng.h"
#include "bmc/connection.h"
#include "bmc/image_data.h"
#include "bmc/sensor_reading.h"
#include "bmc/types.h"

// The request as the builders hand it to SendCommand; the transport decides the wire form.
struct BMC_API ipmi_rq {
    uint8_t netFn : 6;  // IPMI network function
    uint8_t lun : 2;    // every builder leaves it 0
    uint8_t cmd;
    uint8_t target;     // 0 unless a builder names a target address
    uint16_t dataLen;
    const uint8_t* data; // the builder's buffer, not owned
};

// The answer SendCommand fills.
struct BMC_API ipmi_rs {
    uint8_t ccode;      // completion code; 0 is success
    uint8_t data[1024]; // at most 59 bytes used over USB
    int32_t dataLen;
};

// Result records: byte images of the controller's answers, multi-byte fields little-endian.

// The board's identity: the Get Device ID answer extended by seven bytes of the controller
// firmware of the system's maker.
struct BMC_API ipm_devid_ext_rsp {
    uint8_t deviceId;             // 0: the board type (bmc::BoardType_e)
    uint8_t deviceRevision;       // 1: revision in the low 4 bits; bit 7: the device provides SDRs
    uint8_t fwRevMajor;           // 2: low 6 bits
    uint8_t fwRevMinor;           // 3
    uint8_t ipmiVersion;          // 4
    uint8_t additionalSupport;    // 5
    uint8_t manufacturerId[3];    // 6..8: IANA enterprise number, least significant byte first
    uint8_t productId[2];         // 9..10: [1] is the firmware type (bmc::FirmwareType_e)
    uint8_t firmwareRevision[2];  // 11..12
    uint8_t fpgaRevision[2];      // 13..14
    uint8_t extension[7];         // 15..21: extension[3] (offset 18) is the board status byte

    uint32_t ManufacturerId() const { return manufacturerId[0] | manufacturerId[1] << 8 | manufacturerId[2] << 16; }
    uint16_t ProductId() const { return static_cast<uint16_t>(productId[0] | productId[1] << 8); }
    uint16_t FirmwareRevision() const { return static_cast<uint16_t>(firmwareRevision[0] | firmwareRevision[1] << 8); }
    uint16_t FpgaRevision() const { return static_cast<uint16_t>(fpgaRevision[0] | fpgaRevision[1] << 8); }
    uint8_t BoardStatus() const { return extension[3]; }
};
typedef ipm_devid_ext_rsp ipm_devid_ext_rsp_t;

// An FPGA register read on the SPI path.
struct BMC_API chassis_ctl_fpgaread_rsp {
    uint8_t status; // 0 when the read succeeded
    uint8_t value[2];

    uint16_t Value() const { return static_cast<uint16_t>(value[0] | value[1] << 8); }
};

// An FPGA register read on the AMBA path.
struct BMC_API chassis_ctl_ambaread_rsp {
    uint8_t status; // 0 when the read succeeded
    uint8_t value[4];

    uint32_t Value() const
    {
        return static_cast<uint32_t>(value[0] | value[1] << 8 | value[2] << 16) | static_cast<uint32_t>(value[3]) << 24;
    }
};

// The IPMI Get SEL Info answer as it comes.
struct BMC_API sel_info {
    uint8_t version;
    uint8_t entries[2];
    uint8_t freeSpace[2]; // bytes; 0xFFFF: 65535 or more
    uint8_t lastAddition[4];
    uint8_t lastErase[4];
    uint8_t operationSupport;
};

// One event-log record of the controller.
struct BMC_API platformb_event_record {
    uint8_t recordId[2];
    uint8_t recordType; // 0x02 standard, 0xC2 OEM timestamped, 0xE2 the system controller's
    uint8_t timestamp[4];
    uint8_t milliseconds[2];
    uint8_t eventWord[2]; // bits 0-9 event code, 10-13 parameter type, 14-15 severity
    uint8_t parameters[5];
    uint8_t extra[3];
};

// One sensor data record as the IPMI standard lays it out, from its first byte.
struct BMC_API sensor_record {
    uint8_t data[71];
};

// The controller's answer to the run-initialisation command, uninterpreted.
struct BMC_API storage_hwstorage_hwinit_rsp {
    uint8_t data[4];
};

static_assert(sizeof(ipm_devid_ext_rsp) == 22 && sizeof(chassis_ctl_fpgaread_rsp) == 3 &&
                  sizeof(chassis_ctl_ambaread_rsp) == 5 && sizeof(sel_info) == 14 &&
                  sizeof(platformb_event_record) == 19 && sizeof(sensor_record) == 71 &&
                  sizeof(storage_hwstorage_hwinit_rsp) == 4,
              "result records are byte images of the controller's answers");

namespace bmc {

// The power operations the chassis manager carries out on a slot.
enum Power_e { ePowerDown = 0, ePowerUp = 1, ePowerCycle = 2 };

// JTAG chain operations. The first three go to FPGA registers of the chassis manager, the
// others are Chassis Control operations of its firmware.
enum JTAG_e {
    eJtagSelectChain = 0,  // SPI register 0x20 := n - 1
    eJtagEnableSlot = 1,   // SPI register 0x1A := 1 << (n - 1), n - 1 at most 7
    eJtagDisableSlots = 2, // SPI register 0x1A := 0
    eJtagChassisOp12 = 12,
    eJtagChassisOp13 = 13,
    eJtagChassisOp23 = 23,
    eJtagChassisOp24 = 24,
    eJtagChassisOp25 = 25,
    eJtagChassisOp26 = 26
};

// Which chassis slots hold a board and which of them are powered; bit n is slot n, and slot 0,
// the chassis manager, is always set.
struct BMC_API BoardBriefStatusMap {
    std::bitset<32> presenceMask;
    std::bitset<32> mngMask;  // management power
    std::bitset<32> mainMask; // main power too
};

// The power state of a slot from its masks; a slot outside 0..31 throws std::out_of_range.
BMC_API BoardPowerStatus_e ConvPwrBitmaskToStat(BoardBriefStatusMap map, int slot);

// The IANA enterprise number of the system's maker, which its boards report in their identity.
constexpr uint32_t c_ipmiManufacturerId = 0x00C0DE;

// Operations of the controller's configuration storage request (0x0A/0x70), byte 1 of its data.
enum HwInitCmdType_e {
    eHwInitBeginWrite = 0,
    eHwInitEndWrite = 1,
    eHwInitRead = 2,
    eHwInitWrite = 3,
    eHwInitErase = 4,
    eHwInitRun = 5
};

class BMC_API IpmiConnection : public Connection {
public:
    // The board id is the URI's id as a number ("0x.." hexadecimal); a text that is no number
    // throws "Bad cast from ...".
    explicit IpmiConnection(const Uri& uri);
    ~IpmiConnection() override;

    // Takes the connection's mutex, opens the transport, runs the command, closes the transport.
    // A failure is traced, the transport closed, and the exception rethrown unchanged.
    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

    // Sends one request and fills the response (any completion code); throws on transport
    // failures. This base sends nothing and returns 0.
    virtual int SendCommand(ipmi_rq& request, ipmi_rs& response);

    int GetBoardId() const;

    // Request builders. Call them only inside Execute (which holds the mutex) or from tests.
    BoardBriefStatusMap GetBoardBriefStatus();
    void ReadSensor(const SensorId& id, unsigned int& raw);
    void ReadSDR(const SensorId& id, sensor_record& record);
    unsigned int GetSDRInfo();
    void SetPortStateUsb(bool on, int slot);
    void Power(Power_e operation, int slot);
    void FpgaSpiWrite(unsigned short address, unsigned short value);
    void FpgaSpiRead(unsigned short address, chassis_ctl_fpgaread_rsp& answer);
    void FpgaAmbaWrite(unsigned int address, unsigned int value);
    void FpgaAmbaRead(unsigned int address, chassis_ctl_ambaread_rsp& answer);
    void FpgaReboot();
    void JtagCmd(JTAG_e operation, int n);
    void SelClear();
    void SelRead(int recordId, platformb_event_record& record);
    void GetSelInfo(sel_info& info);
    void SetTime(const istd::Time& time);
    istd::Time GetTime();
    void GetDeviceId(ipm_devid_ext_rsp& answer);

    // Firmware upload and read-back with the HPM.1 upgrade commands (ipmi_hpm.cpp). Progress
    // goes to the connection's callback, on this thread.
    //
    // Initiate, capabilities, the image in blocks, finish. Throws std::out_of_range for an
    // empty image and bmc::IpmiException, with the completion code, when the controller refuses
    // the capabilities request; both before any block is sent. A refused initiate is traced and
    // the upload goes on.
    void WriteImage(const ImageData& image);
    // The image the controller holds: header, firmware bytes, digest. Throws istd::Exception
    // when its length field names more than the 24-bit read offset can address.
    ImageData GetImage();
    // 0 when the controller accepts, -1 (traced) otherwise.
    int HpmInitUpgradeAction();
    int TestFpgaCapabilities();
    // Sends size bytes in blocks of at most 56 bytes, one byte less after each 0xC7 answer, and
    // adds each accepted block's length to sent. Fails with IpmiException 0xC7 when the block
    // size would reach 0.
    void SendImage(const unsigned char* image, unsigned int& sent, unsigned int size);
    // package: [0] 0x00, [1] block number, then length (at most c_maxBlock) image bytes.
    // Returns 0 or 0xC7; any other completion code throws.
    int SendRawPackage(unsigned char* package, int length);
    void FinishWriteImage(unsigned int length);
    // length bytes from offset, which advances; report turns progress reports on, outside is
    // the count of the file's bytes outside this read (for the reported file size). An answer
    // without data throws istd::Exception.
    ImageData ReadBuffer(unsigned int length, int& offset, bool report, int outside);

    // Configuration record transfer and hardware initialisation (ipmi_config.cpp). The
    // subsystem section goes along when record byte 2494 is 1.
    void ReadConfiguration(BoardConfiguration& record);
    // Erases, then writes section by section; stores both checksums into record first.
    void WriteConfiguration(BoardConfiguration& record);
    // The controller's answer, at most its first 4 bytes; bytes it did not send are 0.
    storage_hwstorage_hwinit_rsp InitHwInit(Board_e section);
    void HwInitCmd(Board_e section, HwInitCmdType_e operation);
    void HwInitReadProcedure(Board_e section, BoardConfiguration& record);
    void HwInitWriteProcedure(Board_e section, BoardConfiguration& record);

    // Image bytes in one upload block: the block fills a request behind the identifier and the
    // block number.
    static constexpr int c_maxBlock = 57;
    static constexpr int c_firstBlock = 56;
    // The read-back offset has 24 bits: an image must end within them.
    static constexpr uint64_t c_readBackLimit = uint64_t{1} << 24;

protected:
    // The request/response helpers every builder uses; procedures that add requests to this
    // connection build on them too.
    //
    // One request (all fields zero but those given) through SendCommand; response receives the
    // answer as it came, whatever its completion code.
    void _Transact(uint8_t netFn, uint8_t cmd, const uint8_t* data, size_t length, ipmi_rs& response,
                   uint8_t target = 0);
    // _Transact, then a completion code other than 0 throws IpmiException(code, failure).
    void _Request(uint8_t netFn, uint8_t cmd, const uint8_t* data, size_t length, ipmi_rs& response,
                  const char* failure, uint8_t target = 0);
    // An answer with fewer than count data bytes throws istd::Exception
    // failure + " (short answer: <n> of <count> data bytes)".
    static void _RequireData(const ipmi_rs& response, size_t count, const char* failure);
    // _RequireData for offset + size bytes, then copies size answer bytes from offset to out.
    static void _CopyAnswer(const ipmi_rs& response, size_t offset, void* out, size_t size, const char* failure);

    const int m_boardId;

private:
    // One FPGA register request (Chassis Control): the control code, then the address and the
    // value, each width bytes.
    void _FpgaRequest(uint8_t code, uint32_t address, uint32_t value, size_t width, const char* failure,
                      ipmi_rs& response);
    // The capabilities request; ccode receives its completion code.
    int _TestFpgaCapabilities(uint8_t& ccode);
    // One configuration storage request of 59 data bytes: section, operation, offset, count,
    // then count bytes of piece.
    void _HwInitRequest(Board_e section, HwInitCmdType_e operation, size_t offset, size_t count,
                        const uint8_t* piece, ipmi_rs& response);
    // Reads the command's arguments, runs its builders and stores its result.
    void _Dispatch(unsigned int command, const std::vector<istd::AnyReference>& args, istd::AnyReference& result);

    std::mutex m_mutex;
};

} // namespace bmc

#endif
