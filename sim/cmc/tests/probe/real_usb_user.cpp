// A library linked with the real libusb, as board management is: the tests check that a program
// linking the simulator reaches it through such a library too.

#include <libusb-1.0/libusb.h>

extern "C" int simcmc_count_devices() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return -1;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(context);
    return static_cast<int>(count);
}
