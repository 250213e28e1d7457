#ifndef BMC_BOARD_H
#define BMC_BOARD_H

// One board of the system as board management sees it: its URI, its identity as the board
// reports it (type, firmware type, revisions, status), its power status, the connection it is
// reached through, its sensors and event log, and the command operations that become Execute
// calls on a connection. The board pool creates and owns boards; board objects borrow them.
//
// A command goes either to the board's own connection or to the chassis manager's connection
// (ConnectionPool::GetLocalKOZConnection) with the board's slot, its URI id read as a number
// ("0x" and more digits: hexadecimal). A board whose URI fits no kind of connection has none:
// every command on its own connection throws "bmc: board has no connection", so such a board
// constructed powered ends up unidentified (type and status 255).
//
// A board has no lock of its own: Update, GetRedLighStatus and ReadPowerStatus rewrite its
// identity and power status, and callers that share a board between threads serialise them.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bmc/bmc_export.h"
#include "istd/any.h"
#include "istd/time.h"
#include "bmc/board_device.h"
#include "bmc/config_mng.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_connection.h"
#include "bmc/raw_image.h"
#include "bmc/sensor_reading.h"
#include "bmc/types.h"
#include "bmc/uri.h"

namespace bmc {

class BusController;
class BusDevice;
class Connection;
class ConnectionCallback;
class Sensor;
class SerialFlash;
class SystemEventLog;

// A board's hardware identification, from one section of its configuration record.
struct BMC_API HwIdentification {
    bool valid = false; // the section holds a configuration
    applicationId_e applicationId = eAppIdUndefined;
    uint32_t subsystemId = 0;
    hwRevisions_e hwRevision = eHwRevUndefined;
    std::string customerId;
    std::string serialId;
    std::string revision; // the section header's revision text
};

class BMC_API Board {
public:
    // The board of the URI, reached through the connection pool's connection for it. Unless
    // powerStatus is eBoardPowerOff the board is asked for its identity and sensors (Update);
    // an empty name becomes the short name (pax3), a board powered off is named by its short
    // id (chassis:7). Throws "invalid value" for a type without a name.
    Board(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name);
    // The same over a connection of the caller's, which must outlive the board.
    Board(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name, Connection* connection);
    // A board that is asked nothing (as one powered off) over a connection of the caller's.
    Board(const Uri& uri, Connection* connection);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    virtual ~Board();

    // Accessors; no I/O.
    const Uri& GetUri() const;
    const std::string& GetName() const;
    std::string GetShortName() const;
    // The subsystem's text, then ":" and the URI id when it has one (chassis:3, os).
    std::string GetShortId() const;
    BoardPowerStatus_e GetPowerStatus() const;
    // Null when no kind of connection fits the URI.
    Connection* GetConnection();
    // The event log, made with the board and owned by it.
    SystemEventLog* GetSel() const;
    // Hands the callback to the board's connection; throws when the board has none.
    void SetConnectionCallback(ConnectionCallback* callback);

    // The identity the board last reported (255 in type and status when it never answered).
    uint8_t GetDeviceId() const;
    BoardType_e GetType() const;
    uint8_t GetDeviceRevision() const; // low 4 bits
    uint8_t GetMajorVer() const;       // low 6 bits
    uint8_t GetMinorVer() const;
    uint8_t GetIpmiVersion() const;
    uint8_t GetDeviceSupport() const;
    uint32_t GetManufacturerId() const; // 24 bits
    uint16_t GetProductId() const;
    FirmwareType_e GetFirmwareType() const; // the product id's high byte
    uint16_t GetFwRevision() const;
    uint16_t GetFpgaRevision() const;
    BoardStatus_e GetStatus() const;
    // Type and status both other than 255.
    bool IsValid() const;

    // The sensor at position id (its SensorId), null past the list.
    Sensor* GetSensor(const SensorId& id);
    std::vector<SensorId> GetSensorsIds();

    // Re-reads the identity (command 9) and rebuilds the sensor list. A failed identity read
    // leaves the board unidentified and is only traced; a failure listing the sensors throws.
    void Update();

    // Commands on the board's own connection.
    void FpgaReboot();
    // Only the chassis manager (URI id 0) shuts down or power-cycles itself; any other id
    // throws "bmc: invalid board id".
    void ShutDown();
    void PowerCycle();
    void FpgaAmbaWrite(unsigned address, unsigned value) const;
    chassis_ctl_ambaread_rsp FpgaAmbaRead(unsigned address) const;
    void FpgaSpiWrite(unsigned short address, unsigned short value) const;
    chassis_ctl_fpgaread_rsp FpgaSpiRead(unsigned short address) const;
    void SetTime(const istd::Time& time);
    istd::Time GetTime() const;
    storage_hwstorage_hwinit_rsp InitHwInit(Board_e which);
    void WriteConfiguration(BoardConfiguration& configuration);
    // The record with the board's type, firmware type and URI filled in.
    BoardConfiguration ReadConfiguration();
    HpmImage ReadImage() const;
    // Unknown without any command for a board that is not valid; else command 9 refreshes the
    // identity and its red-LED flag answers.
    RedLedStatus_e GetRedLighStatus() const;
    HwIdentification GetHardwareId();
    HwIdentification GetSubsysHardwareId();

    // Commands on the chassis manager's connection, for the board's chassis slot; a board
    // that is not in a chassis slot throws "bmc: invalid board id".
    void Power(Power_e operation);
    void PowerDown();
    void PowerUp();
    void SetPortStateUsb(bool on);
    // Sends the operation and value unchanged: the board's own slot is not added.
    void JtagCmd(JTAG_e operation, int value);
    // Refreshes the power status from the chassis manager's slot masks.
    void ReadPowerStatus();
    // Sends command with (argument, slot) and no result to the chassis manager.
    void ExecuteCmdOverKoz(unsigned command, istd::AnyReference argument);

    // Device files and mapping (board_device.cpp).
    // "/dev/kavrel" and the URI id for a chassis or AMC board with a firmware type (neither 0
    // nor 255); empty for every other board.
    std::string GetDevicePrefix() const;
    // The prefix and the type's suffix (the number only for data and stream devices); empty
    // when the prefix is.
    std::string CreateDeviceName(DataStreamAccessType_e type, int n) const;
    // Opens and maps the monitor device into mapping; throws istd::Exception on failure and then
    // leaves no descriptor open. A driver that reports an area without the feature word is
    // refused too.
    void MapDevice(DeviceMapping_t& mapping) const;
    // Releases what mapping holds and makes it unmapped; never fails.
    void UnmapDevice(DeviceMapping_t& mapping) const;
    // True when any bit of mask is set in the mapped feature word; throws when the mapping is
    // not in place.
    bool IsFeatureSupported(const DeviceMapping_t& mapping, unsigned mask) const;

    // Firmware upgrade (board_firmware.cpp). Both WriteImage forms hand the image's bytes to
    // WriteImageData, which writes them over PCIe when the board offers it and else (or when that
    // fails) uploads them over the board's connection (command 11). An empty image is refused
    // before either path ("bmc: WriteImage: empty image", std::out_of_range).
    void WriteImage(const RawImage& image);
    void WriteImage(const HpmImage& image);
    void WriteImageData(const std::vector<unsigned char>& data);
    // Maps the monitor device and, when its feature bit 0 is set, writes the image into the
    // configuration flash behind the SPI core at 0x307000. False when the board does not offer it
    // (no message) or it failed ("Upgrade over PCIe failed. Trying to upgrade over available IPMI
    // interface." on standard output; exceptions that are not std::exception pass on). The
    // controller, the flash driver and the mapping are released in every case.
    bool WriteImagePcie(const std::vector<unsigned char>& data);
    // Writes the image from flash address 0 in 256-byte pages, the last padded with zeros (so
    // size / 256 + 1 pages), and reports each page to the connection's callback (sequence 0 with
    // nothing sent first). A page that is not written throws "Image write failed.". The board id
    // of the reports is the URI id as a decimal number.
    void SendImagePcie(SerialFlash* flash, const std::vector<unsigned char>& data) const;

    // FPGA sensors (board_fpga_sensors.cpp). On a ZEK board, maps the monitor device for the
    // board's lifetime, makes the SPI controllers at 0x300180 (4 ADT7301) and 0x300100 (an AD7787
    // behind the multiplexer register at 0x300118, which is set to input 0) and appends eight
    // sensors with ids nextId to nextId + 7 (c_zekDevSdr), advancing nextId by 8. Any other board
    // type: nothing. A failure throws and adds nothing.
    void AddFpgaSensors(unsigned& nextId);

private:
    // The board's own connection; throws "bmc: board has no connection" without one.
    Connection& _Own() const;
    static Connection& _Koz();
    // The URI id as a decimal int; a text that is no decimal number throws "Bad cast from ...".
    int _DecimalId() const;
    // ShutDown and PowerCycle.
    void _PowerSelf(Power_e operation);
    // The sensor of the board's kind for an id: a host sensor on the host (and on the test
    // board "Os"), an IPMI sensor on any other board. OpenHPI modules report no sensors at all,
    // so none is made for them.
    std::unique_ptr<Sensor> _NewSensor(const SensorId& id);
    // Type and status 255, everything else 0.
    void _ResetIdentity() const;
    HwIdentification _HardwareId(Board_e section);

    Uri m_uri;
    BoardPowerStatus_e m_powerStatus;
    std::string m_name;
    std::string m_shortName;
    // The identity record: 22 bytes, rewritten by Update and GetRedLighStatus (also on const
    // boards, as the record lives outside the object).
    std::unique_ptr<ipm_devid_ext_rsp_t> m_deviceId;
    Connection* m_connection; // borrowed from the connection pool or the caller
    // Position is SensorId.
    std::vector<std::unique_ptr<Sensor>> m_sensors;
    std::unique_ptr<SystemEventLog> m_sel;
    // The bus controllers and chip drivers of the FPGA sensors, and the mappings their registers
    // lie in; released in this order after the sensors.
    std::vector<std::shared_ptr<BusController>> m_busControllers;
    std::vector<std::shared_ptr<BusDevice>> m_busDevices;
    std::vector<DeviceMapping_t> m_fpgaMappings;
};

// "Board: <short id>, name: <name>, type: <type> (<device prefix>), st: <status>(<n>)", then
// unless the board is the host ", pwr: <power>(<n>)" and, when powered, ", RL: <red LED>" (which
// asks the board, command 9). Nothing is written when a value has no name ("invalid value") or
// a command fails.
BMC_API std::ostream& operator<<(std::ostream& os, const Board& board);

} // namespace bmc

#endif
