#ifndef ISIG_EVENT_DEVICE_H
#define ISIG_EVENT_DEVICE_H

// The atoms of a board's event and health devices and the requests of its event device. Header
// only, without a library: the simulated devices (sim/devices) speak the same protocol.
//
// Event device requests (ioctl on the ".event" descriptor; the argument is a pointer to the
// type given; ids above c_maxEventId are refused with EINVAL):
//   c_eventEnableRequest          EventIdType  the board generates the event
//   c_eventDisableRequest         EventIdType  it no longer does
//   c_eventResetCounterRequest    EventIdType  the event's counter starts again at 0
//   c_eventIncrementTimeRequest   uint64_t     adds the increment to the machine time
//   c_eventAdjustTimeRequest      int64_t      adds the signed offset to the machine time
//   c_eventSetSyncRequest         EventIdType  the event that synchronises the machine time
//   c_eventSetDefaultRequest      uint64_t     the default configuration: exactly the events of
//                                              the mask are generated
//   c_eventGetTimeRequest         uint64_t     (out) the machine time now
//   c_eventGetMaskRequest         uint64_t     (out) the events generated
//   c_eventGetCounterRequest      EventCounter (in: id, out: count) events generated since the
//                                              counter's reset
// The machine time, like every sum here, is taken modulo 2^64. The request numbers are this
// system's own (type 'l', as the monitor device's mapping request, numbers from 0x10).

#include <sys/ioctl.h>

#include <cstdint>

namespace isig {

using EventIdType = uint64_t;

// An event of the ".event" device.
struct EventStruct {
    EventIdType id;
    uint64_t value;
    uint64_t timestamp; // machine time of the event
    uint64_t reserved;
};
static_assert(sizeof(EventStruct) == 32, "an event is four 64-bit words");

// An atom of the ".health" device.
struct HealthStruct {
    uint64_t counter;
    uint64_t status;
};
static_assert(sizeof(HealthStruct) == 16, "a health atom is two 64-bit words");

// Events are switched one bit each in a 64-bit mask.
constexpr EventIdType c_maxEventId = 63;
constexpr uint64_t c_allEventMask = ~uint64_t{0};

struct EventCounter {
    EventIdType id;
    uint64_t count;
};

constexpr unsigned long c_eventEnableRequest = _IOW('l', 0x10, EventIdType);
constexpr unsigned long c_eventDisableRequest = _IOW('l', 0x11, EventIdType);
constexpr unsigned long c_eventResetCounterRequest = _IOW('l', 0x12, EventIdType);
constexpr unsigned long c_eventIncrementTimeRequest = _IOW('l', 0x13, uint64_t);
constexpr unsigned long c_eventAdjustTimeRequest = _IOW('l', 0x14, int64_t);
constexpr unsigned long c_eventSetSyncRequest = _IOW('l', 0x15, EventIdType);
constexpr unsigned long c_eventSetDefaultRequest = _IOW('l', 0x16, uint64_t);
constexpr unsigned long c_eventGetTimeRequest = _IOR('l', 0x17, uint64_t);
constexpr unsigned long c_eventGetMaskRequest = _IOR('l', 0x18, uint64_t);
constexpr unsigned long c_eventGetCounterRequest = _IOWR('l', 0x19, EventCounter);

} // namespace isig

#endif
