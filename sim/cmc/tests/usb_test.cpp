// The libusb side of the simulator: device lists, references, descriptors, claims, transfers and
// devices that leave the bus.

#include <gtest/gtest.h>

#include <chrono>

#include "common/usb_link.h"
#include "sim/cmc/simulator.h"

using simtest::Bytes;
using simtest::Hex;
using simtest::Link;

namespace {

struct Listed {
    uint16_t vendor;
    uint16_t product;
    uint8_t address;
};

std::vector<Listed> ListBus(libusb_context* context) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    EXPECT_GE(count, 0);
    std::vector<Listed> bus;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        EXPECT_EQ(libusb_get_device_descriptor(list[i], &d), 0);
        bus.push_back({d.idVendor, d.idProduct, libusb_get_device_address(list[i])});
    }
    libusb_free_device_list(list, 1);
    return bus;
}

std::string Products(const std::vector<Listed>& bus) {
    std::string text;
    for (const auto& d : bus) {
        char item[16];
        std::snprintf(item, sizeof item, "%s%04x", text.empty() ? "" : " ", d.product);
        text += item;
    }
    return text;
}

class UsbTest : public ::testing::Test {
protected:
    void SetUp() override {
        simtest::LoadSample();
        ASSERT_EQ(libusb_init(&m_context), 0);
    }
    void TearDown() override { libusb_exit(m_context); }

    // The device of slot in a fresh list, with a reference of the caller's.
    libusb_device* Device(int slot) {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        libusb_device* found = nullptr;
        for (ssize_t i = 0; i < count && found == nullptr; ++i) {
            libusb_device_descriptor d;
            libusb_get_device_descriptor(list[i], &d);
            if (d.idVendor == 0x6B76 && d.idProduct == sim::cmc::ProductIdForSlot(slot))
                found = libusb_ref_device(list[i]);
        }
        libusb_free_device_list(list, 1);
        return found;
    }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    libusb_context* m_context = nullptr;
};

TEST_F(UsbTest, ProductIds) {
    EXPECT_EQ(sim::cmc::ProductIdForSlot(0), 0xABCD);
    EXPECT_EQ(sim::cmc::ProductIdForSlot(1), 0x101);
    EXPECT_EQ(sim::cmc::ProductIdForSlot(31), 0x11F);
}

TEST_F(UsbTest, BusListsTheHubThenTheSlotsThenFurtherDevices) {
    const auto bus = ListBus(m_context);
    EXPECT_EQ(Products(bus), "0002 abcd 0101 0102");
    EXPECT_EQ(bus[0].vendor, 0x0000);
    for (size_t i = 1; i < bus.size(); ++i)
        EXPECT_EQ(bus[i].vendor, 0x6B76);

    m_sim.LoadText("vendor 0x1111\nusb cam 0x2222 0x3333\nusb dup 0x1111 0x103 first\n"
                   "slot 3 PAX\nslot 1 PAX\n");
    EXPECT_EQ(Products(ListBus(m_context)), "0002 0103 0101 0103 3333");
}

TEST_F(UsbTest, FirstOfTwoMatchingDevicesIsTheSilentOne) {
    m_sim.LoadText("usb dup 0x6B76 0x101 first\nslot 1 PAX\n");
    Link link(1);
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
    std::vector<uint8_t> answer;
    EXPECT_EQ(link.Read(answer), LIBUSB_ERROR_TIMEOUT);
    EXPECT_TRUE(m_sim.Requests().empty());
    const auto events = m_sim.UsbEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().device, "dup");
}

TEST_F(UsbTest, DevicesAreCachedPerContextAndLiveWhileReferenced) {
    libusb_device* first = Device(1);
    libusb_device* again = Device(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, again);
    libusb_context* other = nullptr;
    ASSERT_EQ(libusb_init(&other), 0);
    libusb_device** list = nullptr;
    ASSERT_EQ(libusb_get_device_list(other, &list), 4);
    EXPECT_NE(list[2], first);
    libusb_free_device_list(list, 1);
    libusb_exit(other);

    libusb_unref_device(again);
    // The context may end before the program drops its last reference.
    libusb_exit(m_context);
    libusb_device_descriptor d;
    EXPECT_EQ(libusb_get_device_descriptor(first, &d), 0);
    EXPECT_EQ(d.idProduct, 0x101);
    libusb_unref_device(first);
    ASSERT_EQ(libusb_init(&m_context), 0);
}

TEST_F(UsbTest, Descriptors) {
    libusb_device* device = Device(0);
    ASSERT_NE(device, nullptr);
    libusb_device_descriptor d;
    ASSERT_EQ(libusb_get_device_descriptor(device, &d), 0);
    EXPECT_EQ(d.bLength, 18);
    EXPECT_EQ(d.bNumConfigurations, 1);
    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0);
    ASSERT_EQ(config->bNumInterfaces, 1);
    const auto& setting = config->interface[0].altsetting[0];
    ASSERT_EQ(setting.bNumEndpoints, 2);
    EXPECT_EQ(setting.endpoint[0].bEndpointAddress, 0x02);
    EXPECT_EQ(setting.endpoint[1].bEndpointAddress, 0x82);
    EXPECT_EQ(setting.endpoint[1].bmAttributes, LIBUSB_TRANSFER_TYPE_BULK);
    EXPECT_EQ(setting.endpoint[1].wMaxPacketSize, 64);
    EXPECT_EQ(config->wTotalLength, 32);
    libusb_free_config_descriptor(config);
    EXPECT_EQ(libusb_get_max_packet_size(device, 0x82), 64);
    EXPECT_EQ(libusb_get_max_packet_size(device, 0x81), LIBUSB_ERROR_NOT_FOUND);

    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(device, &handle), 0);
    unsigned char raw[64];
    ASSERT_EQ(libusb_get_descriptor(handle, LIBUSB_DT_DEVICE, 0, raw, sizeof raw), 18);
    EXPECT_EQ(Hex({raw, raw + 18}), "12 01 00 02 00 00 00 40 76 6b cd ab 00 01 00 00 00 01");
    ASSERT_EQ(libusb_get_descriptor(handle, LIBUSB_DT_CONFIG, 0, raw, sizeof raw), 32);
    EXPECT_EQ(raw[2], 32);
    EXPECT_EQ(libusb_get_string_descriptor_ascii(handle, 1, raw, sizeof raw), LIBUSB_ERROR_PIPE);
    libusb_close(handle);
    libusb_unref_device(device);
}

TEST_F(UsbTest, ErrorNames) {
    EXPECT_STREQ(libusb_error_name(LIBUSB_ERROR_TIMEOUT), "LIBUSB_ERROR_TIMEOUT");
    EXPECT_STREQ(libusb_error_name(LIBUSB_SUCCESS), "LIBUSB_SUCCESS");
    EXPECT_STREQ(libusb_error_name(-1234), "**UNKNOWN**");
    EXPECT_STREQ(libusb_strerror(LIBUSB_ERROR_NO_DEVICE),
                 "No such device (it may have been disconnected)");
}

TEST_F(UsbTest, OneClaimAtATime) {
    libusb_device* device = Device(1);
    libusb_device_handle* a = nullptr;
    libusb_device_handle* b = nullptr;
    ASSERT_EQ(libusb_open(device, &a), 0);
    ASSERT_EQ(libusb_open(device, &b), 0);
    EXPECT_EQ(libusb_claim_interface(a, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(a, 0), 0);
    EXPECT_EQ(libusb_claim_interface(a, 0), 0);
    EXPECT_EQ(libusb_claim_interface(b, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_release_interface(b, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_release_interface(a, 0), 0);
    EXPECT_EQ(libusb_claim_interface(b, 0), 0);
    // Closing a handle gives up its claim.
    libusb_close(b);
    EXPECT_EQ(libusb_claim_interface(a, 0), 0);
    libusb_close(a);
    libusb_unref_device(device);
}

TEST_F(UsbTest, DeviceThatLeavesTheBusAndComesBack) {
    libusb_device* old = Device(2);
    ASSERT_NE(old, nullptr);
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(old, &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    const uint8_t oldAddress = libusb_get_device_address(old);

    m_sim.Modify(2, [](sim::cmc::BoardModel& b) { b.mngPower = false; });
    EXPECT_EQ(Products(ListBus(m_context)), "0002 abcd 0101");
    unsigned char frame[64] = {0x06, 0, 0x01};
    int transferred = -1;
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x02, frame, 64, &transferred, 500), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x82, frame, 64, &transferred, 500), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(transferred, 0);
    EXPECT_EQ(libusb_release_interface(handle, 0), LIBUSB_ERROR_NO_DEVICE);
    libusb_close(handle);
    libusb_device_handle* again = nullptr;
    EXPECT_EQ(libusb_open(old, &again), LIBUSB_ERROR_NO_DEVICE);

    m_sim.Modify(2, [](sim::cmc::BoardModel& b) { b.mngPower = true; });
    libusb_device* back = Device(2);
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back, old);
    EXPECT_NE(libusb_get_device_address(back), oldAddress);
    EXPECT_EQ(libusb_open(old, &again), LIBUSB_ERROR_NO_DEVICE);
    libusb_unref_device(back);
    libusb_unref_device(old);
    EXPECT_NO_THROW(Link(2));
}

TEST_F(UsbTest, ReadsWaitForTheirTimeOut) {
    Link link(1);
    std::vector<uint8_t> received;
    m_sim.SetTimeScale(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Read(received, 30), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_TRUE(received.empty());
    m_sim.SetTimeScale(0);
    EXPECT_EQ(link.Read(received, 5000), LIBUSB_ERROR_TIMEOUT);
}

TEST_F(UsbTest, TransfersOfOtherSizes) {
    Link link(1);
    // A read into a buffer smaller than the frame overflows.
    ASSERT_EQ(link.Write(simtest::RequestFrame(0x06, 0x01, {})), 0);
    std::vector<uint8_t> received;
    EXPECT_EQ(link.Read(received, 5000, 32), LIBUSB_ERROR_OVERFLOW);
    EXPECT_EQ(received.size(), 32u);
    EXPECT_EQ(received[0], 0x07);
    // Two frames in one write get two answers; a fragment too short for a header gets none.
    auto two = simtest::RequestFrame(0x06, 0x01, {});
    const auto second = simtest::RequestFrame(0x04, 0x20, {});
    two.insert(two.end(), second.begin(), second.end());
    two.insert(two.end(), {0x06, 0x00, 0x01});
    ASSERT_EQ(link.Write(two), 0);
    ASSERT_EQ(link.Read(received), 0);
    EXPECT_EQ(received[0], 0x07);
    ASSERT_EQ(link.Read(received), 0);
    EXPECT_EQ(Hex({received.begin(), received.begin() + 7}), "05 00 20 00 02 02 01");
    EXPECT_EQ(link.Read(received), LIBUSB_ERROR_TIMEOUT);
    // Endpoints the controller does not have.
    unsigned char buffer[64] = {};
    int transferred = 0;
    EXPECT_EQ(libusb_bulk_transfer(link.Handle(), 0x81, buffer, 64, &transferred, 10),
              LIBUSB_ERROR_NOT_FOUND);
}

TEST_F(UsbTest, OpenByVendorAndProduct) {
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(m_context, 0x6B76, 0x102);
    ASSERT_NE(handle, nullptr);
    libusb_device_descriptor d;
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle), &d), 0);
    EXPECT_EQ(d.idProduct, 0x102);
    libusb_close(handle);
    EXPECT_EQ(libusb_open_device_with_vid_pid(m_context, 0x6B76, 0x103), nullptr);
}

TEST_F(UsbTest, DefaultContext) {
    ASSERT_EQ(libusb_init(nullptr), 0);
    ASSERT_EQ(libusb_init(nullptr), 0);
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(nullptr, &list), 4);
    libusb_free_device_list(list, 1);
    libusb_exit(nullptr);
    libusb_exit(nullptr);
}

TEST_F(UsbTest, EventsRecordEachCall) {
    m_sim.ClearLogs();
    {
        Link link(0);
        link.Ask(0x06, 0x01);
    }
    std::vector<std::string> kinds;
    for (const auto& e : m_sim.UsbEvents())
        kinds.push_back(std::to_string(e.kind) + (e.device.empty() ? "" : ":" + e.device) + "=" +
                        std::to_string(e.result));
    // init, list (4 devices), descriptors until the match, open, claim, write, read, release,
    // close, exit.
    EXPECT_EQ(::testing::PrintToString(kinds),
              ::testing::PrintToString(std::vector<std::string>{
                  "0=0", "2=4", "3:hub=0", "3:slot0=0", "4:slot0=0", "6:slot0=0", "8:slot0=0",
                  "9:slot0=0", "7:slot0=0", "5:slot0=0", "1=0"}));
    const auto events = m_sim.UsbEvents();
    EXPECT_EQ(events[6].endpoint, 0x02);
    EXPECT_EQ(events[6].timeout, 500u);
    EXPECT_EQ(events[6].bytes.size(), 64u);
    EXPECT_EQ(events[7].endpoint, 0x82);
    EXPECT_EQ(events[7].bytes[0], 0x07);
}

}  // namespace

namespace {

TEST_F(UsbTest, LogsKeepTheLatestEntries) {
    Link link(1);
    m_sim.ClearLogs();
    const size_t count = sim::cmc::c_logLimit + 1;
    std::vector<uint8_t> frames;
    for (size_t i = 0; i < count; ++i) {
        const auto frame = simtest::RequestFrame(0x04, 0x2D, {static_cast<uint8_t>(i)});
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    ASSERT_EQ(link.Write(frames), 0);
    const auto requests = m_sim.Requests();
    ASSERT_EQ(requests.size(), sim::cmc::c_logLimit / 2 + 1);
    EXPECT_EQ(requests.back().data, std::vector<uint8_t>{static_cast<uint8_t>(count - 1)});
    EXPECT_EQ(m_sim.UsbEvents().size(), sim::cmc::c_logLimit / 2 + 1);
}

}  // namespace
