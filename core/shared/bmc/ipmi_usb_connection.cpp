#include "bmc/ipmi_usb_connection.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"

namespace bmc {

namespace {

void RealSleep(unsigned int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<IpmiUsbConnection::Sleep_t> g_sleep{&RealSleep};

// Time-outs are the normal end of a drain; anything else but success is worth the log.
void LogUnexpectedUsbError(int result)
{
    if (result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_TIMEOUT) {
        return;
    }
    istd::LogError("USB communication - unexpected error: " + std::to_string(result));
}

[[noreturn]] void Fail(const char* text)
{
    throw istd::Exception(text, true);
}

// The data lines of a dump, each beginning on a line of its own.
std::string DumpData(const uint8_t* data, uint8_t dataLength)
{
    const std::string dump =
        istd::HexDump(data, std::min<size_t>(dataLength, IpmiUsbConnection::c_frameData), 16, true);
    return dump.empty() ? dump : "\n" + dump;
}

void DumpRequest(const bmc_req_t* frame)
{
    if (!istd::TraceFile::IsActive(istd::eTraceDetail)) {
        return;
    }
    ISTD_TRACE(4, std::hex << "bmc : request\nfn : " << +frame->fn << "\nlun : " << +frame->lun
                           << "\ncmd : " << +frame->cmd << "\nslave address : " << +frame->slaveAddress
                           << "\ndatalength : " << +frame->dataLength << "\nreq.data : "
                           << DumpData(frame->data, frame->dataLength));
}

void DumpResponse(const bmc_rsp_t* frame)
{
    if (!istd::TraceFile::IsActive(istd::eTraceDetail)) {
        return;
    }
    ISTD_TRACE(4, std::hex << "bmc : response\nfn : " << +frame->fn << "\nlun : " << +frame->lun
                           << "\ncmd : " << +frame->cmd << "\nccode : " << +frame->ccode
                           << "\ndatalength : " << +frame->dataLength << "\ndata : "
                           << DumpData(frame->data, frame->dataLength));
}

unsigned char* Bytes(void* frame)
{
    return static_cast<unsigned char*>(frame);
}

} // namespace

IpmiUsbConnection::IpmiUsbConnection(const Uri& uri) : IpmiConnection(uri)
{
    ISTD_TRACE_FNC("bmc::IpmiUsbConnection::IpmiUsbConnection(const bmc::Uri&)");
    ISTD_TRACE(4, "USB connection created for URI: " << m_uri.ToString());
    if (libusb_init(&m_context) != LIBUSB_SUCCESS) {
        ISTD_TRACE(1, "bmc: cannot init usb context");
        m_context = nullptr;
    }
}

IpmiUsbConnection::~IpmiUsbConnection()
{
    ISTD_TRACE_FNC("virtual bmc::IpmiUsbConnection::~IpmiUsbConnection()");
    // Execute always closes; a handle still open here was opened by hand and is not left to
    // outlive its context.
    if (m_handle != nullptr) {
        libusb_release_interface(m_handle, c_interface);
        libusb_close(m_handle);
        m_handle = nullptr;
    }
    if (m_device != nullptr) {
        libusb_unref_device(m_device);
        m_device = nullptr;
    }
    if (m_context != nullptr) {
        libusb_exit(m_context);
        m_context = nullptr;
    }
}

int IpmiUsbConnection::GetUsbProductId() const
{
    return m_boardId > 0 ? 0x100 + m_boardId : 0xABCD + m_boardId;
}

void IpmiUsbConnection::SetSleep(Sleep_t sleep)
{
    g_sleep.store(sleep != nullptr ? sleep : &RealSleep);
}

bool IpmiUsbConnection::FindDevice()
{
    ISTD_TRACE_FNC("virtual bool bmc::IpmiUsbConnection::FindDevice()");
    if (m_handle != nullptr) {
        return true;
    }
    if (m_context == nullptr) {
        Fail("bmc: USB context not available.");
    }
    if (m_device != nullptr) {
        return true;
    }
    const auto product = static_cast<uint16_t>(GetUsbProductId());
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    if (count < 0) {
        Fail("bmc: couldn't find any USB device");
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) {
            break;
        }
        if (descriptor.idVendor == c_vendorId && descriptor.idProduct == product) {
            m_device = libusb_ref_device(list[i]);
            ISTD_TRACE(4, "bmc: found device with product id " << std::hex << product);
            break;
        }
    }
    libusb_free_device_list(list, 1);
    if (m_device == nullptr) {
        ISTD_TRACE(4, "Couldn't find USB device " << product);
        Fail("bmc: couldn't find USB device");
    }
    return true;
}

void IpmiUsbConnection::Open()
{
    ISTD_TRACE_FNC("virtual void bmc::IpmiUsbConnection::Open()");
    if (m_handle != nullptr) {
        return;
    }
    const bool held = m_device != nullptr;
    if (!FindDevice()) {
        Fail("bmc: couldn't find device");
    }
    int result = _OpenDevice();
    // The device of an earlier search may have left the bus since (the controller restarted,
    // the board was power-cycled): the controller that came back is a new device, searched for
    // at once so that this command reaches it.
    if (result == LIBUSB_ERROR_NO_DEVICE && held) {
        ISTD_TRACE(3, "bmc: USB device left the bus; searching again");
        if (!FindDevice()) {
            Fail("bmc: couldn't find device");
        }
        result = _OpenDevice();
    }
    if (result != LIBUSB_SUCCESS || m_handle == nullptr) {
        Fail("bmc: couldn't open device");
    }
    _Claim();
    try {
        _Drain();
    } catch (...) {
        _Note(libusb_release_interface(m_handle, c_interface));
        _CloseHandle();
        throw;
    }
}

int IpmiUsbConnection::_OpenDevice()
{
    if (m_device == nullptr) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    const int result = libusb_open(m_device, &m_handle);
    if (result != LIBUSB_SUCCESS) {
        m_handle = nullptr;
        _Note(result);
        if (m_deviceGone) {
            _DropDevice();
        }
    }
    return result;
}

void IpmiUsbConnection::_Claim()
{
    ISTD_TRACE_FNC("void bmc::IpmiUsbConnection::_Claim()");
    for (int attempt = 0; attempt < c_claimAttempts; ++attempt) {
        const int result = libusb_claim_interface(m_handle, c_interface);
        if (result == LIBUSB_SUCCESS) {
            return;
        }
        ISTD_TRACE(3, "bmc: claim attempt " << attempt << " failed with error:" << result);
        _Note(result);
        // A device that has left the bus will not be claimed through this handle however long
        // we wait.
        if (m_deviceGone) {
            break;
        }
        if (attempt == 0) {
            std::srand(static_cast<unsigned int>(std::time(nullptr)));
        }
        g_sleep.load()(6 + static_cast<unsigned int>(std::rand() % 30) * static_cast<unsigned int>(attempt));
    }
    _CloseHandle();
    Fail("bmc: couldn't claim interface");
}

void IpmiUsbConnection::_Drain()
{
    ISTD_TRACE_FNC("void bmc::IpmiUsbConnection::_Drain()");
    bmc_rsp_t frame;
    for (int stale = 0;; ++stale) {
        int transferred = 0;
        const int result =
            libusb_bulk_transfer(m_handle, c_inEndpoint, Bytes(&frame), c_frameSize, &transferred, c_drainTimeout);
        LogUnexpectedUsbError(result);
        _Note(result);
        if (result != LIBUSB_SUCCESS) {
            return;
        }
        istd::LogInfo("USB communication - tx buffer on slave was not empty (workaround 2473)!");
        if (stale + 1 >= c_maxStaleFrames) {
            Fail("bmc: couldn't drain stale frames");
        }
    }
}

void IpmiUsbConnection::Close()
{
    ISTD_TRACE_FNC("virtual void bmc::IpmiUsbConnection::Close()");
    if (m_handle == nullptr) {
        return;
    }
    const int result = libusb_release_interface(m_handle, c_interface);
    _Note(result);
    // Released or not, the handle goes: a handle left open would keep the device claimed.
    _CloseHandle();
    if (result != LIBUSB_SUCCESS) {
        Fail("bmc: couldn't release interface");
    }
}

void IpmiUsbConnection::_Note(int result)
{
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        m_deviceGone = true;
    }
}

void IpmiUsbConnection::_CloseHandle()
{
    libusb_close(m_handle);
    m_handle = nullptr;
    if (m_deviceGone) {
        _DropDevice();
    }
}

void IpmiUsbConnection::_DropDevice()
{
    ISTD_TRACE(3, "bmc: USB device left the bus; the next open searches again");
    libusb_unref_device(m_device);
    m_device = nullptr;
    m_deviceGone = false;
}

void IpmiUsbConnection::EncodeRequest(const ipmi_rq& request, bmc_req_t& frame)
{
    ISTD_TRACE_FNC("static void bmc::IpmiUsbConnection::EncodeRequest(const ipmi_rq&, bmc_req_t&)");
    std::memset(&frame, 0, sizeof frame);
    if (request.dataLen > c_frameData || (request.dataLen > 0 && request.data == nullptr)) {
        ISTD_TRACE(1, "bmc: request of " << request.dataLen << " data bytes does not fit a frame");
        Fail("bmc: Usb transfer failed. (wrong data length)");
    }
    frame.fn = request.netFn;
    frame.cmd = request.cmd;
    frame.slaveAddress = request.target;
    frame.dataLength = static_cast<uint8_t>(request.dataLen);
    if (request.dataLen > 0) {
        std::memcpy(frame.data, request.data, request.dataLen);
    }
}

bool IpmiUsbConnection::DecodeResponse(const bmc_rsp_t& frame, uint8_t requestFn, ipmi_rs& response)
{
    ISTD_TRACE_FNC("static bool bmc::IpmiUsbConnection::DecodeResponse(const bmc_rsp_t&, uint8_t, ipmi_rs&)");
    std::memset(&response, 0, sizeof response);
    response.ccode = frame.ccode;
    response.dataLen = frame.dataLength;
    if (frame.fn != static_cast<uint8_t>(requestFn + 1)) {
        return false;
    }
    if (frame.dataLength > c_frameData) {
        ISTD_TRACE(1, "bmc: response claims " << +frame.dataLength << " data bytes in a frame of " << c_frameData);
        Fail("bmc: Usb transfer failed. (wrong data length)");
    }
    if (frame.ccode == 0 && frame.dataLength != 0) {
        std::memcpy(response.data, frame.data, frame.dataLength);
    }
    return true;
}

int IpmiUsbConnection::SendCommand(ipmi_rq& request, ipmi_rs& response)
{
    ISTD_TRACE_FNC("virtual int bmc::IpmiUsbConnection::SendCommand(ipmi_rq&, ipmi_rs&)");
    if (m_handle == nullptr) {
        Fail("bmc: Usb transfer failed. (device not open)");
    }
    bmc_req_t out;
    EncodeRequest(request, out);
    DumpRequest(&out);

    int transferred = 0;
    int result = libusb_bulk_transfer(m_handle, c_outEndpoint, Bytes(&out), c_frameSize, &transferred, c_writeTimeout);
    LogUnexpectedUsbError(result);
    _Note(result);
    if (result < 0) {
        ISTD_TRACE(1, "bmc: bulk write failed with error:" << result);
        Fail("bmc: Usb transfer failed. (while writing)");
    }

    bmc_rsp_t in{};
    result = libusb_bulk_transfer(m_handle, c_inEndpoint, Bytes(&in), c_frameSize, &transferred, c_readTimeout);
    LogUnexpectedUsbError(result);
    _Note(result);
    if (result < 0) {
        ISTD_TRACE(1, "bmc: bulk read failed with error:" << result);
        Fail("bmc: Usb transfer failed. (while reading)");
    }
    if (transferred != c_frameSize) {
        ISTD_TRACE(1, "bmc: bulk read" << transferred << "instead of" << c_frameSize << "bytes.");
        Fail("bmc: Usb transfer failed. (wrong received data length)");
    }

    if (!DecodeResponse(in, out.fn, response)) {
        // The frame answers something else; the answer to this request may follow it, and is
        // read so that it does not meet the next request.
        bmc_rsp_t next;
        int ignored = 0;
        result = libusb_bulk_transfer(m_handle, c_inEndpoint, Bytes(&next), c_frameSize, &ignored, c_readTimeout);
        LogUnexpectedUsbError(result);
        _Note(result);
        std::ostringstream text;
        text << std::hex << "USB communication - request/response fn mismatch. req.fn=" << +out.fn
             << " rsp.fn=" << +in.fn << " (workaround 2473)!";
        istd::LogInfo(text.str());
        Fail("bmc: Usb transfer failed. (fn mismatch)");
    }
    DumpResponse(&in);
    return transferred;
}

} // namespace bmc
