#pragma once
// The simulated chassis management controller.
//
// The library kavrelsimcmc exports the libusb-1.0 functions of synchronous device handling
// (declared by <libusb-1.0/libusb.h>) with libusb's own signatures and semantics, and answers them
// from a model of the chassis: each powered chassis slot whose USB port is enabled appears on the
// host's USB bus as one controller (vendor id VendorId(), product id ProductIdForSlot(slot),
// interface 0, bulk OUT endpoint 0x02, bulk IN endpoint 0x82). A 64-byte request frame written to
// 0x02 is answered by a 64-byte response frame queued on 0x82:
//
//   request:  [0] network function  [1] LUN  [2] command  [3] target  [4] data length  [5..63] data
//   response: [0] request's [0] + 1  [1] LUN  [2] command  [3] completion code  [4] data length
//             [5..63] data (a non-zero completion code carries no data)
//
// A read finds the oldest queued frame at once; with nothing queued it waits for the time-out (times
// the time scale, see SetTimeScale) and fails with LIBUSB_ERROR_TIMEOUT; a time-out of 0 waits
// without limit, as libusb does. Devices of powered-down slots disappear from the bus: handles and
// references to them then fail with LIBUSB_ERROR_NO_DEVICE, and a slot powered up again comes back
// as a new device with a new address.
//
// Use. Tests link kavrelsimcmc in place of libusb-1.0 and drive it through libusb and through
// Simulator below. A program linked with the real libusb is pointed at the simulator by
//   LD_PRELOAD=<path of libkavrelsimcmc.so> KAVREL_SIM_CHASSIS=<chassis file> program ...
// Environment, read once when the library is first used:
//   KAVREL_SIM_CHASSIS     chassis file loaded at start (without it the bus holds only the root hub)
//   KAVREL_SIM_FAULTS      further faults, separated by ';' (the text of "fault" statements),
//                          added to those of the chassis file
//   KAVREL_SIM_TIME_SCALE  factor applied to every USB time-out the simulator waits (default 1; 0
//                          makes time-outs instant)
//   KAVREL_SIM_LOG         file to which one line per USB event is appended (requests included)
// A chassis file that cannot be loaded (or a bad setting) makes every libusb_init fail with
// LIBUSB_ERROR_OTHER after writing the reason to standard error. Each process has its own model:
// what one process changes (uploads, erased logs, power) is gone when it ends. The asynchronous
// transfer API and hot-plug callbacks are not provided. Under AddressSanitizer the preloaded
// library is not first in the link order: add verify_asan_link_order=0 to ASAN_OPTIONS (or preload
// libasan before it). Linked in place, the simulator must be a direct dependency of the program
// (libraries such as board management link the real libusb privately): a direct dependency comes
// before their libusb in the symbol search.
//
// Chassis file. One statement a line; '#' starts a comment. Numbers are decimal or hexadecimal with
// "0x" (negative numbers where a field is signed); a byte list is numbers separated by ','; a blob is
// hexadecimal digits without separators. Keys are written key=value. Chassis statements:
//   vendor <id>                 USB vendor id of every controller (default 0x6B76)
//   manufacturer <id>           the maker's 24-bit IANA id, put into the identity of format ext and
//                               v22 boards (default 0x00C0DE)
//   seed <n>                    seed of the fault generator (default 1)
//   clock <seconds>             the controllers' clocks stand still at this time (Set SEL Time moves
//                               them); without it they follow the host's clock
//   usb <name> <vendor> <product> [first]
//                               a further USB device without a controller (it takes frames and never
//                               answers), listed after the slots' devices, or with "first" before
//                               them; the root hub "hub" always leads the list
//   fault <fault>               a fault rule, see Faults
//   slot <n> <type>             opens the section of chassis slot n (0 to 31; slot 0 is the chassis
//                               manager, which alone answers brief status, power control and USB port
//                               control); type is a board type name (KOZ, PAX, MOKVE, ZOLT, ...) or
//                               number, or "empty" for an empty slot (no section follows)
// Statements of a slot section:
//   power off|mng|main          power state (default main); off slots have no USB device
//   usb on|off                  the slot's USB port (default on); off hides the device (inside a
//                               slot section "usb" with one argument is this statement)
//   identity key=value...       the 22-byte identity record: format=ext|v22|std (default ext: the
//                               standard answer carries the maker's id and the extended request 0x0E
//                               returns the record; v22: the 25-byte answer of firmware 2.2; std:
//                               another maker's board, 15 bytes, extended request refused), rev
//                               (device revision; bit 7, SDRs provided, is set for boards with
//                               sensors),
//                               fw=<major>.<minor>, ipmi (default 2), support, manufacturer (std),
//                               product (default firmware type * 256 + board type), fwtype (name or
//                               number; default the board type when it carries firmware, else 0),
//                               fwrev, fpga, status (byte 18, default 4), flags (bytes 19-20), ext
//                               (blob of the 7 bytes 15-21, applied before status and flags)
//   sensor full key=value...    a sensor with an IPMI full sensor record: name, stype (sensor type
//                               code), format (analog data format 0-3), unit, modunit, usage
//                               (modifier unit usage 0-3), lin, m, b (10-bit signed), k1, k2 (4-bit
//                               signed), nominal, unr, uc, unc, lnr, lc, lnc, and the reading: raw,
//                               status (default 0x40, scanning enabled)
//   sensor mcloc name=<text>    a management controller device locator record (no reading: Get
//                               Sensor Reading answers 0xCB)
//   sensor raw record=<blob> [raw= status=]   a record given byte by byte
//                               Records are 71 bytes (shorter blobs are padded with zeros); record
//                               id and sensor number are the sensor's position, from 0.
//   event key=value...          an event-log entry, numbered from 1 in file order: type (default
//                               0xE2), time (seconds), ms, word (event word) or code, ptype and sev
//                               (Info, Warning, Error or 0-3), params (5 bytes), extra (bytes 16-18)
//   sel capacity=<n>            event-log capacity in entries (default 512; free space = (capacity -
//                               entries) * 19 bytes, at most 0xFFFF)
//   spi <address> <value>       FPGA register on the SPI path (16-bit address and value; unset
//                               registers read 0)
//   amba <address> <value>      FPGA register on the AMBA path (32 bits each)
//   hpm key=value...            upgrade capabilities: version, caps, timeouts (4 bytes), components
//                               (default 0, 0, 5,5,5,5, 0x01)
//   image <path>                the firmware image the board holds, for read-back (relative paths
//                               count from the chassis file's folder)
//   config base|subsystem <path>  the stored configuration section (8647 / 5308 bytes; a shorter
//                               file fills the start; default: erased, all 0xFF)
//
// Faults. A rule makes the controller or its USB device misbehave at the events it matches:
//   fault <kind> [value] [slot=<n>] [device=<name>] [netfn=<n>] [cmd=<n>] [data=<byte list>]
//         [skip=<n>] [count=<n>|forever] [prob=<p>]
// slot and device ("hub", "slot<n>" or a "usb" name) narrow the rule to one device; netfn, cmd and
// data (a prefix of the request data) narrow request rules to some requests. Of the matching events
// the first skip pass untouched; then each matching event fires the rule with probability prob
// (drawn from the seeded generator, so a run is repeatable) until it has fired count times (default
// 1). Request kinds, applied to the answer of a matching request:
//   ccode <code>       answer with this completion code and no data; the request is not carried out
//   timeout            no answer (the request is carried out, its answer lost)
//   short [<bytes>]    the answer frame is <bytes> long instead of 64 (default 32)
//   fn [<byte>]        a frame with a wrong function byte (default: the request's own) comes first,
//                      the true answer follows it
//   stale [<n>]        n stale frames (default 1) come before the answer: copies of the device's
//                      previous answer frame, or a frame of 0xFF bytes when there was none
//   length <n>         the answer's data-length byte says n (may exceed the 59 bytes of the frame)
//   truncate <n>       the answer keeps only its first n data bytes
//   unavailable        Get Sensor Reading reports the reading unavailable (status bit 5)
//   pieces <n>         records come in pieces of at most n bytes: Get Device SDR and Get SEL Entry
//                      answer 0xCA to larger reads, the image read-back answers n bytes at most
//   erase              the event log is erased just before the request is answered
//   write-error [<libusb code>]  the write of the request fails (default LIBUSB_ERROR_IO); the
//                      controller never sees the request
//   read-error [<libusb code>]   the read of the answer fails (default LIBUSB_ERROR_IO) and the
//                      answer is lost
// Transport kinds, matched by device only (list and init by nothing):
//   pending [<n>]      n stale frames (default 1) wait in the device when its interface is claimed
//   claim [<code>]     libusb_claim_interface fails (default LIBUSB_ERROR_BUSY)
//   open [<code>]      libusb_open fails (default LIBUSB_ERROR_ACCESS)
//   release [<code>]   libusb_release_interface fails (default LIBUSB_ERROR_IO)
//   descriptor [<code>]  libusb_get_device_descriptor fails (default LIBUSB_ERROR_IO)
//   list [<code>]      libusb_get_device_list fails (default LIBUSB_ERROR_NO_MEM)
//   init [<code>]      libusb_init fails (default LIBUSB_ERROR_OTHER)
// Examples: "fault ccode 0xCA netfn=0x04 cmd=0x21 count=forever", "fault claim slot=3 count=5",
// "fault fn slot=2 netfn=0x06 cmd=0x01 skip=1".
//
// The controller. Every slot's controller answers Get Device ID (0x06/0x01; with data 0x0E the
// extended record), the sensor, SDR and event-log requests (0x04/0x20, 0x21, 0x2D; 0x0A/0x40, 0x43,
// 0x47, 0x48, 0x49), FPGA register access, FPGA reboot and JTAG operations in Chassis Control
// (0x00/0x02 with 0xDB, 0xDC, 0xAB, 0xAC, 0x11, 12, 13, 23-26), the HPM.1 upgrade (0x2C/0x2E, 0x31,
// 0x32, 0x33) with the image read-back (0x2C/0x2F, selector 0x0B, 24-bit offset most significant
// byte first) and the configuration storage (0x0A/0x70: erase, begin, pieces, end, read, run). The
// chassis manager (slot 0) alone answers the board brief status (0x06/0xA0: slots 1 to 8), power
// control of a slot (Chassis Control codes 0, 1, 2: down switches management and main power off,
// up and cycle leave both on; power control of slot 0 itself is recorded and leaves the manager
// running) and the USB port of a slot (0x2C/0x19, slot in the target byte).
// Event-log records count from 1 (0 asks for the first, 0xFFFF for the last); Clear SEL needs the
// "CLR" key and answers 1 (erase completed). An upload needs Initiate (action 2, a component the
// board has), blocks numbered from 0 in turn, and a Finish whose length equals the bytes received;
// then the image is kept and read back. Configuration pieces may be written only between begin
// and end; erase fills a section with 0xFF. Other answers: unknown commands 0xC1, request data
// too short 0xC7, a record, sensor or event that does not exist 0xCB, a value out of range 0xC9,
// a field it cannot take 0xCC, an operation out of sequence 0xD5. Get Device SDR and Get SEL Entry
// answer 0xCA when the piece and the two id bytes do not fit the 59 data bytes of a frame.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::cmc {

// Failures of the control API (a chassis file that cannot be read, a bad fault text, an unknown
// slot).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint16_t c_defaultVendorId = 0x6B76;
constexpr uint32_t c_defaultManufacturerId = 0x00C0DE;
constexpr uint8_t c_outEndpoint = 0x02;
constexpr uint8_t c_inEndpoint = 0x82;
constexpr size_t c_frameSize = 64;
constexpr size_t c_frameData = 59;
constexpr size_t c_sdrSize = 71;
constexpr size_t c_selEntrySize = 19;
constexpr size_t c_baseSectionSize = 8647;
constexpr size_t c_subsystemSectionSize = 5308;
constexpr size_t c_logLimit = 100000;   // Requests() and UsbEvents() keep the latest entries

// The product id under which the controller of a slot appears: 0x100 + slot, and 0xABCD for
// slot 0 (the chassis manager).
uint16_t ProductIdForSlot(int slot);

enum class FaultKind_e {
    eCompletionCode, eTimeout, eShortFrame, eWrongFn, eStale, eDataLength, eTruncate, eUnavailable,
    ePieces, eEraseLog, eWriteError, eReadError,
    ePending, eClaim, eOpen, eRelease, eDescriptor, eList, eInit
};

struct Fault {
    FaultKind_e kind = FaultKind_e::eCompletionCode;
    int value = -1;              // the kind's value; -1: the kind's default
    int slot = -1;               // -1: any
    std::string device;          // empty: any
    int netFn = -1;              // -1: any
    int cmd = -1;                // -1: any
    std::vector<uint8_t> data;   // prefix of the request data
    unsigned skip = 0;
    int count = 1;               // -1: forever
    double probability = 1.0;

    // Parses the text of a "fault" statement without the word "fault"; throws Error.
    static Fault Parse(const std::string& text);
};

// One request frame as the controller received it.
struct Request {
    std::string device;
    int slot = -1;
    uint8_t netFn = 0;
    uint8_t lun = 0;
    uint8_t cmd = 0;
    uint8_t target = 0;
    std::vector<uint8_t> data;    // the data the length byte declares (as far as the frame holds)
    std::vector<uint8_t> frame;   // the bytes written
};

// One libusb call that reached a device (or the bus).
struct UsbEvent {
    enum Kind_e { eInit, eExit, eList, eDescriptor, eOpen, eClose, eClaim, eRelease, eWrite, eRead };
    Kind_e kind = eInit;
    std::string device;
    int slot = -1;
    int endpoint = 0;
    int result = 0;               // the libusb result code
    unsigned timeout = 0;         // of transfers, in milliseconds as requested
    std::vector<uint8_t> bytes;   // written or received
};

struct SensorModel {
    std::vector<uint8_t> record;  // the sensor data record, c_sdrSize bytes
    bool readable = true;         // false: no reading (device locator records)
    uint8_t raw = 0;
    uint8_t status = 0x40;
};

// One board as its controller keeps it. Tests read and change it through Simulator::Board and
// Simulator::Modify.
struct BoardModel {
    enum class IdFormat_e { eExtended, eFirmware22, eStandard };

    int slot = 0;
    uint8_t type = 0;
    IdFormat_e format = IdFormat_e::eExtended;
    std::array<uint8_t, 22> identity{};
    bool mngPower = true;
    bool mainPower = true;
    bool usbPort = true;

    std::vector<SensorModel> sensors;

    std::vector<std::array<uint8_t, c_selEntrySize>> sel;  // entry k has record id k + 1
    unsigned selCapacity = 512;
    uint32_t selLastAddition = 0;
    uint32_t selLastErase = 0;
    unsigned selClears = 0;

    bool clockFrozen = false;
    int64_t clock = 0;            // frozen: the time; else the offset to the host's clock

    std::map<uint16_t, uint16_t> spiRegisters;
    // Registers whose SPI-path reads the FPGA answers with this status byte instead of 0 (a
    // failed access; the value then reads 0).
    std::map<uint16_t, uint8_t> spiReadStatus;
    std::map<uint32_t, uint32_t> ambaRegisters;
    unsigned fpgaReboots = 0;
    std::vector<uint8_t> jtagOperations;

    std::array<uint8_t, 8> hpmCapabilities{0x00, 0x00, 0x00, 5, 5, 5, 5, 0x01};
    bool uploadActive = false;
    uint8_t nextBlock = 0;
    std::vector<uint8_t> uploadBuffer;             // blocks of the upload under way
    std::vector<uint8_t> image;                    // the image held, returned by read-back
    std::vector<std::vector<uint8_t>> uploads;     // every finished upload, oldest first

    std::array<std::vector<uint8_t>, 2> config;    // base and subsystem sections
    std::array<bool, 2> configWriting{false, false};
    std::vector<int> hwInitStarts;                 // sections whose initialisation was started

    // The controller's clock now, in seconds.
    uint32_t Clock() const;
};

struct PowerCommand {
    int slot;
    uint8_t operation;   // 0 down, 1 up, 2 cycle
};

class Simulator {
public:
    // The one simulator of the process; on first use it loads KAVREL_SIM_CHASSIS and the other
    // environment settings.
    static Simulator& Instance();

    // Replaces the chassis by the one of the file (or text): the old devices leave the bus, the
    // new ones arrive; faults are replaced by the file's, the logs are cleared, the generator is
    // seeded. Throws Error with the file name and line of the first fault found, and then keeps
    // the chassis it had. Relative paths of a text count from the current folder.
    void Load(const std::string& path);
    void LoadText(const std::string& text, const std::string& origin = "chassis text");
    // An empty chassis (only the root hub on the bus), no faults, empty logs.
    void Clear();

    void AddFault(const Fault& fault);
    void AddFault(const std::string& text);
    void ClearFaults();
    void SetSeed(uint32_t seed);
    void SetTimeScale(double scale);

    uint16_t VendorId() const;
    uint32_t ManufacturerId() const;
    std::vector<int> Slots() const;                  // occupied slots, ascending

    // A copy of the board of an occupied slot; throws Error for an empty slot.
    BoardModel Board(int slot) const;
    // Changes the board under the simulator's lock (power and USB port changes take effect on the
    // bus at once); throws Error for an empty slot. The change must not call the simulator.
    void Modify(int slot, const std::function<void(BoardModel&)>& change);

    // The latest requests and libusb calls (at most c_logLimit each, then the oldest half goes).
    std::vector<Request> Requests() const;
    std::vector<UsbEvent> UsbEvents() const;
    std::vector<PowerCommand> PowerCommands() const;
    void ClearLogs();

private:
    Simulator() = default;
};

// Section checksum as the configuration record defines it: the 32-bit sum of all bytes after the
// first four, stored little-endian in the first four. True when a section holds a matching one.
bool ConfigChecksumOk(const std::vector<uint8_t>& section);

}  // namespace sim::cmc
