#ifndef BMC_IPMI_USB_CONNECTION_H
#define BMC_IPMI_USB_CONNECTION_H

// IPMI requests to the chassis management controller over USB: one 64-byte request frame to
// the bulk OUT endpoint 0x02, one 64-byte response frame from the bulk IN endpoint 0x82.
// The controller is found by its vendor id and a product id derived from the board id. Every
// command opens, claims and drains the device and closes it again (IpmiConnection::Execute).

#include <cstdint>

#include "bmc/bmc_export.h"
#include "bmc/ipmi_connection.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

// The request frame, host to controller.
struct BMC_API bmc_req_t {
    uint8_t fn;           // network function, bits 6 and 7 zero
    uint8_t lun;          // always 0
    uint8_t cmd;
    uint8_t slaveAddress; // the request's target
    uint8_t dataLength;
    uint8_t data[59];
};

// The response frame, controller to host.
struct BMC_API bmc_rsp_t {
    uint8_t fn; // the request's fn + 1
    uint8_t lun;
    uint8_t cmd;
    uint8_t ccode;
    uint8_t dataLength;
    uint8_t data[59];
};

static_assert(sizeof(bmc_req_t) == 64 && sizeof(bmc_rsp_t) == 64, "USB frames are 64 bytes");

namespace bmc {

class BMC_API IpmiUsbConnection : public IpmiConnection {
public:
    static constexpr uint16_t c_vendorId = 0x6B76;
    static constexpr int c_interface = 0;
    static constexpr unsigned char c_outEndpoint = 0x02;
    static constexpr unsigned char c_inEndpoint = 0x82;
    static constexpr int c_frameSize = 64;
    static constexpr size_t c_frameData = 59;
    // Time-outs in milliseconds.
    static constexpr unsigned int c_drainTimeout = 10;
    static constexpr unsigned int c_writeTimeout = 500;
    static constexpr unsigned int c_readTimeout = 5000;
    static constexpr int c_claimAttempts = 40;
    // A device that never stops sending stale frames is given up after this many.
    static constexpr int c_maxStaleFrames = 64;

    // Never fails on USB grounds: a context that cannot be made is traced and left null, and
    // every later search then fails.
    explicit IpmiUsbConnection(const Uri& uri);
    // Drops the device reference and ends the context; closes a handle still open.
    ~IpmiUsbConnection() override;

    // Finds, opens and claims the device and drains stale frames; throws on failure and then
    // leaves nothing open. Does nothing when already open. A device kept from an earlier
    // search that has left the bus is searched for again at once, so a controller that came
    // back as a new device is reached on the first command.
    void Open() override;
    // Releases interface 0 and closes the handle; the handle is closed and cleared even when
    // the release fails, which then throws "bmc: couldn't release interface". Does nothing
    // when not open.
    void Close() override;
    // One request frame out, one response frame in; returns the count of the last read (64).
    // Needs an open connection. A non-zero completion code is returned, not thrown.
    int SendCommand(ipmi_rq& request, ipmi_rs& response) override;
    // True when a device is available (a handle open or a device reference held); throws
    // otherwise.
    virtual bool FindDevice();

    // 0x100 + board id for a positive board id, else 0xABCD + board id; compared as 16 bits.
    int GetUsbProductId() const;

    // The sleep between claim attempts; tests put their own in to avoid waiting. Null puts
    // the real sleep back.
    using Sleep_t = void (*)(unsigned int milliseconds);
    static void SetSleep(Sleep_t sleep);

    // The frames. EncodeRequest throws "bmc: Usb transfer failed. (wrong data length)" for
    // more than 59 data bytes. DecodeResponse clears response and fills it from the frame; it
    // returns false when the frame does not answer a request whose byte 0 is requestFn, and
    // throws "bmc: Usb transfer failed. (wrong data length)" for a data-length byte above 59.
    static void EncodeRequest(const ipmi_rq& request, bmc_req_t& frame);
    static bool DecodeResponse(const bmc_rsp_t& frame, uint8_t requestFn, ipmi_rs& response);

private:
    // Notes a libusb result; a device that is gone is forgotten at the next close.
    void _Note(int result);
    // Opens the device held; the libusb result (LIBUSB_ERROR_NOT_FOUND when none is held). A
    // device that is gone is dropped.
    int _OpenDevice();
    void _Claim();
    void _Drain();
    // Closes and clears the handle, and drops a device that is gone.
    void _CloseHandle();
    void _DropDevice();

    libusb_context* m_context = nullptr;
    libusb_device* m_device = nullptr;
    libusb_device_handle* m_handle = nullptr;
    bool m_deviceGone = false;
};

} // namespace bmc

#endif
