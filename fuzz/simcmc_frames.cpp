// Request frames of arbitrary bytes to the simulated chassis management controller: records of
// [slot selector][length][bytes], each written to that slot's device and every answer read back.
// Answers must be whole frames that answer the request's function, with a data length that fits.

#include <libusb-1.0/libusb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/cmc/simulator.h"

namespace {

const char c_chassis[] = R"(
clock 1700000000
slot 0 KOZ
  sensor full name=T stype=1 unit=1 m=1 raw=40
  sensor mcloc name=MC
  event time=1700000000 code=2
slot 1 PAX
  identity format=v22
  hpm components=0x01
  spi 0x10 0x3e
slot 2 MOKVE
  identity format=std manufacturer=0x1234
  amba 0 1
)";

libusb_device_handle* Open(libusb_context* context, int slot) {
    libusb_device_handle* handle =
        libusb_open_device_with_vid_pid(context, sim::cmc::c_defaultVendorId, sim::cmc::ProductIdForSlot(slot));
    if (handle != nullptr && libusb_claim_interface(handle, 0) != 0) {
        libusb_close(handle);
        handle = nullptr;
    }
    return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& sim = sim::cmc::Simulator::Instance();
    sim.LoadText(c_chassis);
    sim.SetTimeScale(0);
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        std::abort();
    libusb_device_handle* handles[3] = {Open(context, 0), Open(context, 1), Open(context, 2)};
    size_t at = 0;
    while (at + 2 <= size) {
        const int slot = data[at] % 3;
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        std::vector<uint8_t> frame(data + at + 2, data + at + 2 + length);
        at += 2 + length;
        libusb_device_handle* handle = handles[slot];
        int transferred = 0;
        if (handle == nullptr ||
            libusb_bulk_transfer(handle, 0x02, frame.data(), static_cast<int>(frame.size()),
                                 &transferred, 500) != 0)
            continue;
        uint8_t answer[64];
        size_t offset = 0;
        while (libusb_bulk_transfer(handle, 0x82, answer, 64, &transferred, 5000) == 0) {
            // Each 64-byte piece of the write that holds a header is answered.
            while (offset < frame.size() && frame.size() - offset < 5)
                offset = frame.size();
            if (offset >= frame.size() || transferred != 64 || answer[4] > 59 ||
                answer[0] != static_cast<uint8_t>(frame[offset] + 1) || answer[2] != frame[offset + 2])
                std::abort();
            offset += 64;
        }
    }
    for (libusb_device_handle* handle : handles) {
        if (handle != nullptr) {
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
    }
    libusb_exit(context);
    return 0;
}
