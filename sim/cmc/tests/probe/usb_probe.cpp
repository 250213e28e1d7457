// A minimal host program on the real libusb: finds a device by vendor and product id, claims
// interface 0, writes one frame and prints the answer frame in hexadecimal. The simulator's tests
// run it with the simulator preloaded.
//   simcmc_usb_probe <vendor> <product> <request frame as hex digits>
// Prints "answer <hex>" or "error <step> <libusb error name>"; exits 0 either way, 2 on bad usage.

#include <libusb-1.0/libusb.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Fail(const char* step, int code) {
    std::printf("error %s %s\n", step, libusb_error_name(code));
    return 0;
}

int Run(uint16_t vendor, uint16_t product, std::vector<unsigned char> frame) {
    libusb_context* context = nullptr;
    int result = libusb_init(&context);
    if (result != 0)
        return Fail("init", result);
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, vendor, product);
    if (handle == nullptr) {
        libusb_exit(context);
        return Fail("open", LIBUSB_ERROR_NOT_FOUND);
    }
    result = libusb_claim_interface(handle, 0);
    int transferred = 0;
    if (result == 0)
        result = libusb_bulk_transfer(handle, 0x02, frame.data(), static_cast<int>(frame.size()),
                                      &transferred, 500);
    unsigned char answer[64] = {};
    if (result == 0)
        result = libusb_bulk_transfer(handle, 0x82, answer, 64, &transferred, 5000);
    if (result == 0) {
        std::printf("answer");
        for (int i = 0; i < transferred; ++i)
            std::printf(" %02x", answer[i]);
        std::printf("\n");
    } else {
        Fail("transfer", result);
    }
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_exit(context);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const std::string hex = argv[3];
    std::vector<unsigned char> frame;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        frame.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return Run(static_cast<uint16_t>(std::strtol(argv[1], nullptr, 0)),
               static_cast<uint16_t>(std::strtol(argv[2], nullptr, 0)), frame);
}
