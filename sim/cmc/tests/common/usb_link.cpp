#include "usb_link.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/cmc/simulator.h"

namespace simtest {

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::string digits;
    for (char c : hex)
        if (c != ' ')
            digits += c;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::vector<uint8_t> RequestFrame(uint8_t netFn, uint8_t cmd, const std::vector<uint8_t>& data,
                                  uint8_t target) {
    std::vector<uint8_t> frame(64, 0);
    frame[0] = netFn;
    frame[2] = cmd;
    frame[3] = target;
    frame[4] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.begin() + static_cast<long>(std::min<size_t>(data.size(), 59)),
              frame.begin() + 5);
    return frame;
}

std::string LoadSample() {
    const std::string path = KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt";
    auto& sim = sim::cmc::Simulator::Instance();
    sim.Load(path);
    sim.SetTimeScale(0);
    return path;
}

Link::Link(int slot) {
    if (libusb_init(&m_context) != 0)
        throw std::runtime_error("libusb_init failed");
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    if (count < 0) {
        libusb_exit(m_context);
        throw std::runtime_error("no device list");
    }
    const uint16_t vendor = sim::cmc::Simulator::Instance().VendorId();
    int result = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == vendor &&
            d.idProduct == sim::cmc::ProductIdForSlot(slot)) {
            result = libusb_open(list[i], &m_handle);
            break;
        }
    }
    libusb_free_device_list(list, 1);
    if (result == 0)
        result = libusb_claim_interface(m_handle, 0);
    if (result != 0) {
        libusb_close(m_handle);
        libusb_exit(m_context);
        throw std::runtime_error(std::string("cannot reach slot ") + std::to_string(slot) + ": " +
                                 libusb_error_name(result));
    }
}

Link::~Link() {
    libusb_release_interface(m_handle, 0);
    libusb_close(m_handle);
    libusb_exit(m_context);
}

int Link::Write(const std::vector<uint8_t>& frame) {
    int transferred = -1;
    auto copy = frame;
    const int result = libusb_bulk_transfer(m_handle, 0x02, copy.data(), static_cast<int>(copy.size()),
                                            &transferred, 500);
    if (result == 0) {
        EXPECT_EQ(transferred, static_cast<int>(frame.size()));
    }
    return result;
}

int Link::Read(std::vector<uint8_t>& received, unsigned timeout, int size) {
    std::vector<uint8_t> buffer(static_cast<size_t>(size), 0xEE);
    int transferred = -1;
    const int result = libusb_bulk_transfer(m_handle, 0x82, buffer.data(), size, &transferred, timeout);
    received.assign(buffer.begin(), buffer.begin() + std::max(transferred, 0));
    return result;
}

std::vector<uint8_t> Link::Ask(uint8_t netFn, uint8_t cmd, const std::vector<uint8_t>& data,
                               uint8_t target) {
    EXPECT_EQ(Write(RequestFrame(netFn, cmd, data, target)), 0);
    std::vector<uint8_t> frame;
    EXPECT_EQ(Read(frame), 0);
    if (frame.size() != 64) {
        ADD_FAILURE() << "answer of " << frame.size() << " bytes";
        return frame;
    }
    const size_t end = 5 + std::min<size_t>(frame[4], 59);
    for (size_t i = end; i < 64; ++i)
        EXPECT_EQ(frame[i], 0) << "byte " << i << " after the data";
    return {frame.begin(), frame.begin() + static_cast<long>(end)};
}

}  // namespace simtest
