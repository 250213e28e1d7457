// The libusb-1.0 functions of synchronous device handling, answered by the simulated bus.
// Contexts, devices and handles follow libusb's rules: a device list holds one reference per
// device, a handle holds one, and a device lives until its last reference is dropped.

#include <libusb-1.0/libusb.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "sim/cmc/state.h"

using sim::cmc::detail::GetState;
using sim::cmc::detail::Port;
using sim::cmc::detail::PortPtr;
using sim::cmc::detail::State;
using sim::cmc::UsbEvent;

struct libusb_context {
    int users = 1;
    std::map<const Port*, libusb_device*> devices;   // one device object per port, as libusb caches
};

struct libusb_device {
    int references = 1;
    PortPtr port;
    libusb_context* context = nullptr;               // null once the context has ended
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
};

namespace {

libusb_context* g_defaultContext = nullptr;

struct ResultText {
    int code;
    const char* name;
    const char* text;
};

const ResultText c_results[] = {
    {LIBUSB_SUCCESS, "LIBUSB_SUCCESS", "Success"},
    {LIBUSB_ERROR_IO, "LIBUSB_ERROR_IO", "Input/Output Error"},
    {LIBUSB_ERROR_INVALID_PARAM, "LIBUSB_ERROR_INVALID_PARAM", "Invalid parameter"},
    {LIBUSB_ERROR_ACCESS, "LIBUSB_ERROR_ACCESS", "Access denied (insufficient permissions)"},
    {LIBUSB_ERROR_NO_DEVICE, "LIBUSB_ERROR_NO_DEVICE",
     "No such device (it may have been disconnected)"},
    {LIBUSB_ERROR_NOT_FOUND, "LIBUSB_ERROR_NOT_FOUND", "Entity not found"},
    {LIBUSB_ERROR_BUSY, "LIBUSB_ERROR_BUSY", "Resource busy"},
    {LIBUSB_ERROR_TIMEOUT, "LIBUSB_ERROR_TIMEOUT", "Operation timed out"},
    {LIBUSB_ERROR_OVERFLOW, "LIBUSB_ERROR_OVERFLOW", "Overflow"},
    {LIBUSB_ERROR_PIPE, "LIBUSB_ERROR_PIPE", "Pipe error"},
    {LIBUSB_ERROR_INTERRUPTED, "LIBUSB_ERROR_INTERRUPTED", "System call interrupted (perhaps due to signal)"},
    {LIBUSB_ERROR_NO_MEM, "LIBUSB_ERROR_NO_MEM", "Insufficient memory"},
    {LIBUSB_ERROR_NOT_SUPPORTED, "LIBUSB_ERROR_NOT_SUPPORTED",
     "Operation not supported or unimplemented on this platform"},
    {LIBUSB_ERROR_OTHER, "LIBUSB_ERROR_OTHER", "Other error"},
};

const ResultText* FindResult(int code) {
    for (const auto& r : c_results)
        if (r.code == code)
            return &r;
    return nullptr;
}

libusb_context* ContextOf(libusb_context* context) {
    if (context != nullptr)
        return context;
    if (g_defaultContext == nullptr)
        g_defaultContext = new libusb_context;
    return g_defaultContext;
}

// The caller holds the state's mutex.
void Unreference(libusb_device* device) {
    if (--device->references > 0)
        return;
    if (device->context != nullptr)
        device->context->devices.erase(device->port.get());
    delete device;
}

libusb_device* DeviceFor(libusb_context* context, const PortPtr& port) {
    auto& device = context->devices[port.get()];
    if (device == nullptr) {
        device = new libusb_device;
        device->port = port;
        device->context = context;
        device->references = 0;
    }
    ++device->references;
    return device;
}

void FillDeviceDescriptor(const Port& port, libusb_device_descriptor& d) {
    std::memset(&d, 0, sizeof d);
    d.bLength = LIBUSB_DT_DEVICE_SIZE;
    d.bDescriptorType = LIBUSB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bDeviceClass = port.deviceClass;
    d.bMaxPacketSize0 = 64;
    d.idVendor = port.vendor;
    d.idProduct = port.product;
    d.bcdDevice = 0x0100;
    d.bNumConfigurations = 1;
}

// One configuration: interface 0 with the bulk pair (the hub: one interrupt endpoint).
struct ConfigBlock {
    libusb_config_descriptor config;
    libusb_interface interface;
    libusb_interface_descriptor setting;
    libusb_endpoint_descriptor endpoints[2];
};

libusb_config_descriptor* NewConfig(const Port& port) {
    auto* block = new ConfigBlock;
    std::memset(block, 0, sizeof *block);
    const bool hub = port.deviceClass == LIBUSB_CLASS_HUB;
    auto& e = block->endpoints;
    e[0].bLength = e[1].bLength = LIBUSB_DT_ENDPOINT_SIZE;
    e[0].bDescriptorType = e[1].bDescriptorType = LIBUSB_DT_ENDPOINT;
    if (hub) {
        e[0].bEndpointAddress = 0x81;
        e[0].bmAttributes = LIBUSB_TRANSFER_TYPE_INTERRUPT;
        e[0].wMaxPacketSize = 2;
        e[0].bInterval = 12;
    } else {
        e[0].bEndpointAddress = sim::cmc::c_outEndpoint;
        e[1].bEndpointAddress = sim::cmc::c_inEndpoint;
        e[0].bmAttributes = e[1].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
        e[0].wMaxPacketSize = e[1].wMaxPacketSize = 64;
    }
    auto& s = block->setting;
    s.bLength = LIBUSB_DT_INTERFACE_SIZE;
    s.bDescriptorType = LIBUSB_DT_INTERFACE;
    s.bNumEndpoints = hub ? 1 : 2;
    s.bInterfaceClass = hub ? LIBUSB_CLASS_HUB : LIBUSB_CLASS_VENDOR_SPEC;
    s.endpoint = block->endpoints;
    block->interface.altsetting = &block->setting;
    block->interface.num_altsetting = 1;
    auto& c = block->config;
    c.bLength = LIBUSB_DT_CONFIG_SIZE;
    c.bDescriptorType = LIBUSB_DT_CONFIG;
    c.wTotalLength = static_cast<uint16_t>(LIBUSB_DT_CONFIG_SIZE + LIBUSB_DT_INTERFACE_SIZE +
                                           s.bNumEndpoints * LIBUSB_DT_ENDPOINT_SIZE);
    c.bNumInterfaces = 1;
    c.bConfigurationValue = 1;
    c.bmAttributes = 0x80;
    c.MaxPower = 50;
    c.interface = &block->interface;
    return &block->config;
}

// The wire form of the configuration descriptor set, for GET_DESCRIPTOR requests.
std::vector<uint8_t> ConfigBytes(const Port& port) {
    libusb_config_descriptor* c = NewConfig(port);
    const auto& s = c->interface->altsetting[0];
    std::vector<uint8_t> b{c->bLength, c->bDescriptorType, static_cast<uint8_t>(c->wTotalLength),
                           static_cast<uint8_t>(c->wTotalLength >> 8), c->bNumInterfaces,
                           c->bConfigurationValue, c->iConfiguration, c->bmAttributes, c->MaxPower,
                           s.bLength, s.bDescriptorType, s.bInterfaceNumber, s.bAlternateSetting,
                           s.bNumEndpoints, s.bInterfaceClass, s.bInterfaceSubClass,
                           s.bInterfaceProtocol, s.iInterface};
    for (int i = 0; i < s.bNumEndpoints; ++i) {
        const auto& e = s.endpoint[i];
        b.insert(b.end(), {e.bLength, e.bDescriptorType, e.bEndpointAddress, e.bmAttributes,
                           static_cast<uint8_t>(e.wMaxPacketSize),
                           static_cast<uint8_t>(e.wMaxPacketSize >> 8), e.bInterval});
    }
    delete reinterpret_cast<ConfigBlock*>(c);
    return b;
}

bool HasEndpoint(const Port& port, unsigned char endpoint) {
    if (port.deviceClass == LIBUSB_CLASS_HUB)
        return endpoint == 0x81;
    return endpoint == sim::cmc::c_outEndpoint || endpoint == sim::cmc::c_inEndpoint;
}

}  // namespace

namespace sim::cmc::detail {

const char* ResultName(int code) {
    const ResultText* r = FindResult(code);
    return r != nullptr ? r->name : "**UNKNOWN**";
}

std::optional<int> ResultCode(const std::string& text) {
    for (const auto& r : c_results)
        if (text == r.name)
            return r.code;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || FindResult(static_cast<int>(value)) == nullptr)
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace sim::cmc::detail

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** context) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    int result = LIBUSB_SUCCESS;
    if (!state.loadError.empty()) {
        std::fprintf(stderr, "kavrelsimcmc: %s\n", state.loadError.c_str());
        result = LIBUSB_ERROR_OTHER;
    } else if (auto code = state.FireTransport(sim::cmc::FaultKind_e::eInit, nullptr,
                                               LIBUSB_ERROR_OTHER)) {
        result = *code;
    }
    state.Log({UsbEvent::eInit, "", -1, 0, result, 0, {}});
    if (result != LIBUSB_SUCCESS)
        return result;
    if (context != nullptr)
        *context = new libusb_context;
    else if (g_defaultContext != nullptr)
        ++g_defaultContext->users;
    else
        g_defaultContext = new libusb_context;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* context) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.Log({UsbEvent::eExit, "", -1, 0, LIBUSB_SUCCESS, 0, {}});
    libusb_context* c = context != nullptr ? context : g_defaultContext;
    if (c == nullptr || --c->users > 0)
        return;
    // Devices the program still references outlive the context, as in libusb.
    for (auto& [port, device] : c->devices)
        device->context = nullptr;
    if (c == g_defaultContext)
        g_defaultContext = nullptr;
    delete c;
}

void LIBUSB_CALL libusb_set_debug(libusb_context*, int) {}

void LIBUSB_CALL libusb_set_log_cb(libusb_context*, libusb_log_cb, int) {}

int LIBUSB_CALL libusb_set_option(libusb_context*, enum libusb_option option, ...) {
    switch (option) {
    case LIBUSB_OPTION_LOG_LEVEL:
    case LIBUSB_OPTION_NO_DEVICE_DISCOVERY:
        return LIBUSB_SUCCESS;
    case LIBUSB_OPTION_USE_USBDK:
        return LIBUSB_ERROR_NOT_SUPPORTED;
    default:
        return LIBUSB_ERROR_INVALID_PARAM;
    }
}

const struct libusb_version* LIBUSB_CALL libusb_get_version(void) {
    static const libusb_version version{1, 0, 26, 0, "", "simulated chassis management controller"};
    return &version;
}

int LIBUSB_CALL libusb_has_capability(uint32_t capability) {
    return capability == LIBUSB_CAP_HAS_CAPABILITY ? 1 : 0;
}

const char* LIBUSB_CALL libusb_error_name(int code) {
    return sim::cmc::detail::ResultName(code);
}

int LIBUSB_CALL libusb_setlocale(const char* locale) {
    return locale != nullptr && std::strncmp(locale, "en", 2) == 0 ? LIBUSB_SUCCESS
                                                                   : LIBUSB_ERROR_NOT_FOUND;
}

const char* LIBUSB_CALL libusb_strerror(int code) {
    const ResultText* r = FindResult(code);
    return r != nullptr ? r->text : "Unknown error";
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* context, libusb_device*** list) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (list == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (auto code = state.FireTransport(sim::cmc::FaultKind_e::eList, nullptr, LIBUSB_ERROR_NO_MEM)) {
        state.Log({UsbEvent::eList, "", -1, 0, *code, 0, {}});
        return *code;
    }
    libusb_context* c = ContextOf(context);
    auto** devices = new libusb_device*[state.bus.size() + 1];
    for (size_t i = 0; i < state.bus.size(); ++i)
        devices[i] = DeviceFor(c, state.bus[i]);
    devices[state.bus.size()] = nullptr;
    *list = devices;
    state.Log({UsbEvent::eList, "", -1, 0, static_cast<int>(state.bus.size()), 0, {}});
    return static_cast<ssize_t>(state.bus.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices) {
    if (list == nullptr)
        return;
    if (unrefDevices != 0) {
        State& state = GetState();
        std::lock_guard<std::mutex> lock(state.mutex);
        for (libusb_device** d = list; *d != nullptr; ++d)
            Unreference(*d);
    }
    delete[] list;
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* device) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    ++device->references;
    return device;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* device) {
    if (device == nullptr)
        return;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    Unreference(device);
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device,
                                             struct libusb_device_descriptor* descriptor) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Port& port = *device->port;
    int result = LIBUSB_SUCCESS;
    if (auto code = state.FireTransport(sim::cmc::FaultKind_e::eDescriptor, &port, LIBUSB_ERROR_IO))
        result = *code;
    else
        FillDeviceDescriptor(port, *descriptor);
    state.Log({UsbEvent::eDescriptor, port.name, port.slot, 0, result, 0, {}});
    return result;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device* device,
                                                    struct libusb_config_descriptor** config) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!device->port->connected)
        return LIBUSB_ERROR_NO_DEVICE;
    *config = NewConfig(*device->port);
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* device, uint8_t index,
                                             struct libusb_config_descriptor** config) {
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    *config = NewConfig(*device->port);
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor_by_value(libusb_device* device, uint8_t value,
                                                      struct libusb_config_descriptor** config) {
    return value == 1 ? libusb_get_config_descriptor(device, 0, config) : LIBUSB_ERROR_NOT_FOUND;
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
    delete reinterpret_cast<ConfigBlock*>(config);
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device*) {
    return 1;
}

uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device* device) {
    return device->port->name == "hub" ? 0 : static_cast<uint8_t>(device->port->address - 1);
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device* device, uint8_t* numbers, int length) {
    if (length <= 0)
        return LIBUSB_ERROR_OVERFLOW;
    const uint8_t port = libusb_get_port_number(device);
    if (port == 0)
        return 0;
    numbers[0] = port;
    return 1;
}

int LIBUSB_CALL libusb_get_port_path(libusb_context*, libusb_device* device, uint8_t* path,
                                     uint8_t length) {
    return libusb_get_port_numbers(device, path, length);
}

libusb_device* LIBUSB_CALL libusb_get_parent(libusb_device*) {
    return nullptr;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* device) {
    return device->port->address;
}

int LIBUSB_CALL libusb_get_device_speed(libusb_device*) {
    return LIBUSB_SPEED_FULL;
}

int LIBUSB_CALL libusb_get_max_packet_size(libusb_device* device, unsigned char endpoint) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!HasEndpoint(*device->port, endpoint))
        return LIBUSB_ERROR_NOT_FOUND;
    return device->port->deviceClass == LIBUSB_CLASS_HUB ? 2 : 64;
}

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (device == nullptr || handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int result = state.Open(*device->port);
    if (result != LIBUSB_SUCCESS)
        return result;
    ++device->references;
    *handle = new libusb_device_handle{device};
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    if (handle == nullptr)
        return;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.Closed(*handle->device->port, handle);
    Unreference(handle->device);
    delete handle;
}

libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle* handle) {
    return handle->device;
}

libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context* context,
                                                                  uint16_t vendor, uint16_t product) {
    libusb_device** list = nullptr;
    if (libusb_get_device_list(context, &list) < 0)
        return nullptr;
    libusb_device_handle* handle = nullptr;
    for (libusb_device** d = list; *d != nullptr; ++d) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(*d, &descriptor) < 0)
            break;
        if (descriptor.idVendor == vendor && descriptor.idProduct == product) {
            if (libusb_open(*d, &handle) < 0)
                handle = nullptr;
            break;
        }
    }
    libusb_free_device_list(list, 1);
    return handle;
}

int LIBUSB_CALL libusb_get_configuration(libusb_device_handle* handle, int* config) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!handle->device->port->connected)
        return LIBUSB_ERROR_NO_DEVICE;
    *config = 1;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* handle, int config) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Port& port = *handle->device->port;
    if (!port.connected)
        return LIBUSB_ERROR_NO_DEVICE;
    if (config != 1 && config != -1)
        return LIBUSB_ERROR_NOT_FOUND;
    return port.claimedBy != nullptr ? LIBUSB_ERROR_BUSY : LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int interfaceNumber) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.Claim(*handle->device->port, handle, interfaceNumber);
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int interfaceNumber) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.Release(*handle->device->port, handle, interfaceNumber);
}

int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle* handle, int interfaceNumber,
                                                 int alternate) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Port& port = *handle->device->port;
    if (!port.connected)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interfaceNumber != 0 || port.claimedBy != handle || alternate != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Port& port = *handle->device->port;
    if (!port.connected)
        return LIBUSB_ERROR_NO_DEVICE;
    return HasEndpoint(port, endpoint) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle* handle) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    Port& port = *handle->device->port;
    if (!port.connected)
        return LIBUSB_ERROR_NOT_FOUND;
    port.tx.clear();
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* handle, int interfaceNumber) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!handle->device->port->connected)
        return LIBUSB_ERROR_NO_DEVICE;
    return interfaceNumber == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return handle->device->port->connected ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_ERROR_NO_DEVICE;
}

int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle* handle, int) {
    return libusb_detach_kernel_driver(handle, 0);
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* transferred,
                                     unsigned int timeout) {
    if (handle == nullptr || length < 0 || (data == nullptr && length > 0))
        return LIBUSB_ERROR_INVALID_PARAM;
    State& state = GetState();
    std::unique_lock<std::mutex> lock(state.mutex);
    int ignored = 0;
    int* count = transferred != nullptr ? transferred : &ignored;
    *count = 0;
    const PortPtr port = handle->device->port;
    if (!port->connected)
        return LIBUSB_ERROR_NO_DEVICE;
    if (port->deviceClass == LIBUSB_CLASS_HUB || !HasEndpoint(*port, endpoint))
        return LIBUSB_ERROR_NOT_FOUND;
    if (endpoint == sim::cmc::c_outEndpoint)
        return state.Write(*port, data, length, count, timeout);
    return state.Read(lock, port, data, length, count, timeout);
}

int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char, unsigned char*,
                                          int, int* transferred, unsigned int) {
    if (transferred != nullptr)
        *transferred = 0;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    // The controllers have bulk endpoints only; the hub's status endpoint never reports a change.
    return handle->device->port->connected ? LIBUSB_ERROR_IO : LIBUSB_ERROR_NO_DEVICE;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType,
                                        uint8_t request, uint16_t value, uint16_t index,
                                        unsigned char* data, uint16_t length, unsigned int) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Port& port = *handle->device->port;
    if (!port.connected)
        return LIBUSB_ERROR_NO_DEVICE;
    // Only the standard descriptor requests; there are no string descriptors.
    if (requestType != LIBUSB_ENDPOINT_IN || request != LIBUSB_REQUEST_GET_DESCRIPTOR || index != 0)
        return LIBUSB_ERROR_PIPE;
    std::vector<uint8_t> bytes;
    if (value == LIBUSB_DT_DEVICE << 8) {
        libusb_device_descriptor d;
        FillDeviceDescriptor(port, d);
        bytes = {d.bLength, d.bDescriptorType, 0x00, 0x02, d.bDeviceClass, d.bDeviceSubClass,
                 d.bDeviceProtocol, d.bMaxPacketSize0, static_cast<uint8_t>(d.idVendor),
                 static_cast<uint8_t>(d.idVendor >> 8), static_cast<uint8_t>(d.idProduct),
                 static_cast<uint8_t>(d.idProduct >> 8), 0x00, 0x01, 0, 0, 0, 1};
    } else if (value == LIBUSB_DT_CONFIG << 8) {
        bytes = ConfigBytes(port);
    } else {
        return LIBUSB_ERROR_PIPE;
    }
    const size_t n = std::min<size_t>(bytes.size(), length);
    std::memcpy(data, bytes.data(), n);
    return static_cast<int>(n);
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                                   unsigned char*, int) {
    if (index == 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return handle->device->port->connected ? LIBUSB_ERROR_PIPE : LIBUSB_ERROR_NO_DEVICE;
}

}  // extern "C"
