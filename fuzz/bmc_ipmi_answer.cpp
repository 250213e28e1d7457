// Arbitrary answer frames of the chassis management controller, decoded as the USB transport
// decodes them, fed to each request builder of the IPMI connection. The first byte picks the
// builder; the rest are the 64-byte response frames, one per request (a short last frame is
// padded with zeros; when the frames run out the transport fails). Every refusal must be an
// istd::Exception (bmc::IpmiException included) or, from the JTAG slot bit, std::out_of_range;
// anything else, an over-read, or a builder that asks more requests than frames allow is a
// finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bmc/ipmi_usb_connection.h"

namespace {

class FrameConnection : public bmc::IpmiConnection {
public:
    FrameConnection(const uint8_t* frames, size_t size)
        : bmc::IpmiConnection(bmc::Uri(bmc::Uri::eChassis, "1", bmc::Uri::eInterfaceIpmiUsb)), m_frames(frames),
          m_size(size)
    {
    }

    int SendCommand(ipmi_rq& request, ipmi_rs& response) override
    {
        bmc_req_t out;
        bmc::IpmiUsbConnection::EncodeRequest(request, out);
        if (m_size == 0) {
            throw istd::Exception("fuzz: no more frames", true);
        }
        // The builders' loops are bounded: a request more than the frames allow means one is not.
        if (++m_requests > 64) {
            std::abort();
        }
        bmc_rsp_t in{};
        const size_t n = m_size < sizeof in ? m_size : sizeof in;
        std::memcpy(&in, m_frames, n);
        m_frames += n;
        m_size -= n;
        // Most frames answer their request, so that the builders get past the transport.
        if ((in.lun & 1) == 0) {
            in.fn = static_cast<uint8_t>(out.fn + 1);
        }
        if (!bmc::IpmiUsbConnection::DecodeResponse(in, out.fn, response)) {
            throw istd::Exception("bmc: Usb transfer failed. (fn mismatch)", true);
        }
        if (response.dataLen < 0 || response.dataLen > 59) {
            std::abort();
        }
        return 64;
    }

private:
    const uint8_t* m_frames;
    size_t m_size;
    int m_requests = 0;
};

void Run(FrameConnection& c, uint8_t which)
{
    switch (which % 20) {
    case 0: c.GetBoardBriefStatus(); break;
    case 1: { unsigned int raw; c.ReadSensor(bmc::SensorId(which), raw); break; }
    case 2: { sensor_record r; c.ReadSDR(bmc::SensorId(which), r); break; }
    case 3: c.GetSDRInfo(); break;
    case 4: c.SetPortStateUsb(which & 0x20, which); break;
    case 5: c.Power(static_cast<bmc::Power_e>(which % 3), which); break;
    case 6: c.FpgaSpiWrite(which, which); break;
    case 7: { chassis_ctl_fpgaread_rsp a; c.FpgaSpiRead(which, a); break; }
    case 8: c.FpgaAmbaWrite(which, which); break;
    case 9: { chassis_ctl_ambaread_rsp a; c.FpgaAmbaRead(which, a); break; }
    case 10: c.FpgaReboot(); break;
    case 11: {
        static const int operations[] = {0, 1, 2, 5, 12, 13, 23, 24, 25, 26};
        const int q = which / 20;
        c.JtagCmd(static_cast<bmc::JTAG_e>(operations[q % 10]), q - 1);
        break;
    }
    case 12: c.SelClear(); break;
    case 13: { platformb_event_record r; c.SelRead(which, r); break; }
    case 14: { sel_info i; c.GetSelInfo(i); break; }
    case 15: c.SetTime(istd::Time(int64_t{which}, 0)); break;
    case 16: c.GetTime(); break;
    default: { ipm_devid_ext_rsp a; c.GetDeviceId(a); break; }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    FrameConnection connection(data + 1, size - 1);
    try {
        Run(connection, data[0]);
    } catch (const istd::Exception&) {
    } catch (const std::out_of_range&) {
        // JtagCmd's slot bit beyond the eight slots.
    }
    return 0;
}
