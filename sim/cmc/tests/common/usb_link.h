#pragma once
// Test side of the simulated controller: a host program's view through libusb.

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

// "06 01 0e" -> bytes; spaces are ignored.
std::vector<uint8_t> Bytes(const std::string& hex);
std::string Hex(const std::vector<uint8_t>& bytes);

// A 64-byte request frame as the transport writes it.
std::vector<uint8_t> RequestFrame(uint8_t netFn, uint8_t cmd, const std::vector<uint8_t>& data,
                                  uint8_t target = 0);

// The sample chassis, with instant time-outs; returns its path.
std::string LoadSample();

// One claimed controller: its own context, the first device with the controller's vendor id and
// the slot's product id, opened and claimed. Throws std::runtime_error when any step fails.
class Link {
public:
    explicit Link(int slot);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    libusb_device_handle* Handle() const { return m_handle; }

    int Write(const std::vector<uint8_t>& frame);
    // One read of up to size bytes; the bytes received are stored in received.
    int Read(std::vector<uint8_t>& received, unsigned timeout = 5000, int size = 64);

    // Writes the request frame and reads one answer; returns the answer's header and data
    // (bytes 0 to 4 + data length) and checks that the rest of the frame is zero.
    std::vector<uint8_t> Ask(uint8_t netFn, uint8_t cmd, const std::vector<uint8_t>& data = {},
                             uint8_t target = 0);

private:
    libusb_context* m_context = nullptr;
    libusb_device_handle* m_handle = nullptr;
};

}  // namespace simtest
