#ifndef ISIG_HEALTH_STREAM_H
#define ISIG_HEALTH_STREAM_H

// The health stream of a board: isig::HealthStruct atoms (counter, status) from the board's
// ".health" device, one per group, read by a health monitor one atom at a time:
//
//     isig::KavrelHealthStream stream(board.GetDecoratedName("health"),
//                                     board.CreateDeviceName(bmc::eHealthDevice, 0), true, board.GetName());
//     isig::StreamClient<isig::HealthTraits> client(&stream, "health_monitor_client", 16);

#include <array>
#include <string>

#include "isig/event_device.h"
#include "isig/isig_export.h"
#include "isig/kavrel_stream.h"
#include "isig/stream_client.h"

namespace isig {

template <>
struct AtomNames<HealthStruct> {
    static constexpr std::array<const char*, 2> names{"counter", "status"};
};

using HealthTraits = SignalTraits<uint64_t, HealthStruct, 1u>;

class ISIG_API KavrelHealthStream : public KavrelStream<HealthTraits> {
public:
    // onDemand: dispatching while clients are open (true), or continuously once Start() was
    // called (false).
    KavrelHealthStream(const std::string& name, const std::string& devicePath, bool onDemand, const std::string& owner);
    ~KavrelHealthStream() override;
};

} // namespace isig

#endif
