#ifndef IAPP_BOARDS_ZOLT_ZOLT_STRUCT_H
#define IAPP_BOARDS_ZOLT_ZOLT_STRUCT_H

// One atom of the event-receiver board's trigger-code stream, as the board's ".strm0" device
// delivers it: two signed 64-bit words, the decoded trigger code and its time stamp. Remote
// clients see the components by these names, in this order ("signals/zolt").
//
// Header only, so that a test or a tool that writes or reads such atoms needs no board code.

#include <array>
#include <cstdint>

#include "isig/stream.h"

struct ZoltStruct {
    int64_t zolt_code;
    int64_t timestamp;
};
static_assert(sizeof(ZoltStruct) == 16, "a trigger-code atom is two 64-bit words");

namespace isig {
template <>
struct AtomNames<ZoltStruct> {
    static constexpr std::array<const char*, 2> names{"zolt_code", "timestamp"};
};
} // namespace isig

namespace iboard {
using ZoltTraits = isig::SignalTraits<int64_t, ZoltStruct, 1u>;
} // namespace iboard

#endif
