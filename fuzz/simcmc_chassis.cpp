// Chassis files of the simulated chassis management controller on arbitrary text: every refusal
// is a sim::cmc::Error and leaves the loaded chassis as it was; a loaded chassis lists exactly its
// slots' devices.

#include <libusb-1.0/libusb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/cmc/simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // File statements would read whatever the fuzzer names on this machine.
    if (text.find("image") != std::string::npos || text.find("config") != std::string::npos)
        return 0;
    auto& sim = sim::cmc::Simulator::Instance();
    sim.LoadText("slot 7 PAX\n");
    try {
        sim.LoadText(text);
    } catch (const sim::cmc::Error&) {
        if (sim.Slots() != std::vector<int>{7})
            std::abort();
        return 0;
    }
    size_t visible = 0;
    for (int slot : sim.Slots()) {
        const auto board = sim.Board(slot);
        if (board.mngPower && board.usbPort)
            ++visible;
    }
    libusb_context* context = nullptr;
    if (libusb_init(&context) == 0) {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        if (count >= 0) {
            libusb_free_device_list(list, 1);
            // The hub, the visible slots and the further devices; a list fault may refuse.
            if (static_cast<size_t>(count) < 1 + visible)
                std::abort();
        }
        libusb_exit(context);
    }
    return 0;
}
