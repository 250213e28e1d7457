// Device data as a board's stream device delivers it: arbitrary bytes, cut into writes of fuzzed
// sizes on a simulated stream device, read by a stream with two clients, and ended by the end of
// the device or a read error. Only whole atoms may reach the clients, in order and unchanged;
// after an error both clients see the failure code; nothing may hang.
//
// Input: byte 0 picks the stream (bits 0-1: an atom of two int64 in groups of 8, the event stream,
// the health stream, the same atom in groups of 1) and the end (bit 2 set: a read error, else the
// end of the device). Then writes: a length byte and that many bytes, the last one cut short by
// the input's end; a length of 0 is an empty write.

#include <algorithm>
#include <chrono>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "isig/event_stream.h"
#include "isig/health_stream.h"
#include "isig/kavrel_stream.h"
#include "isig/stream_client.h"
#include "sim/devices/stream_device.h"
#include "tests/support/wait_until.h"

namespace {

struct Pair {
    int64_t code;
    int64_t timestamp;
};

} // namespace

template <>
struct isig::AtomNames<Pair> {
    static constexpr std::array<const char*, 2> names{"code", "timestamp"};
};

namespace {

using PairTraits = isig::SignalTraits<int64_t, Pair, 1u>;

const std::string c_path = "/dev/kavrel9.fuzz";
constexpr int64_t c_waitMs = 20000; // far beyond any honest wait: a time-out is a hang

// Reads every atom the client gets until it holds `bytes` bytes; a code other than 0 ends it.
template <class Traits>
isig::SuccessCode_e Collect(isig::StreamClient<Traits>& client, size_t bytes, std::string& out)
{
    while (out.size() < bytes) {
        isig::MetaBufferPtr<Traits> buffer;
        const isig::SuccessCode_e result = client.GetQueue().Pop(buffer);
        if (result != isig::eSuccess) {
            return result;
        }
        out.append(reinterpret_cast<const char*>(buffer->data.Data()),
                   buffer->data.GetLength() * sizeof(typename Traits::Atom));
    }
    return isig::eSuccess;
}

template <class Traits, class StreamType>
void Run(StreamType& stream, sim::StreamDevice& device, const std::vector<std::string>& writes, bool error)
{
    using Client = isig::StreamClient<Traits>;
    const size_t atomSize = sizeof(typename Traits::Atom);
    std::string written;
    for (const std::string& piece : writes) {
        written += piece;
    }
    const size_t whole = written.size() / atomSize * atomSize;

    // Queues long enough that nothing is dropped: every atom must arrive.
    Client first(&stream, "first", 8192);
    Client second(&stream, "second", 8192);
    for (Client* client : {&first, &second}) {
        if (client->Open(isig::eModeRead, 0, c_waitMs) != isig::eSuccess) {
            fuzzsupport::Finding("open", client->GetName());
        }
    }
    for (const std::string& piece : writes) {
        device.Write(piece.data(), piece.size());
    }
    std::string got[2];
    Client* clients[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        const isig::SuccessCode_e result = Collect(*clients[i], whole, got[i]);
        if (result != isig::eSuccess) {
            fuzzsupport::Finding("atoms missing", clients[i]->GetName() + " ended with " + std::to_string(result) +
                                                      " after " + std::to_string(got[i].size()) + " of " +
                                                      std::to_string(whole) + " bytes");
        }
        if (got[i] != written.substr(0, whole)) {
            fuzzsupport::Finding("atoms changed", clients[i]->GetName());
        }
    }
    if (error) {
        // Everything was taken, so the failure is what comes next.
        device.WriteError(EIO);
        for (Client* client : clients) {
            std::string more;
            const isig::SuccessCode_e result = Collect(*client, whole + 1, more);
            if (result != isig::eFailure) {
                fuzzsupport::Finding("failure code", client->GetName() + " read " + std::to_string(result));
            }
        }
    } else {
        device.WriteEnd();
    }
    first.Close();
    second.Close();
    // After a failure the dispatch thread closes the device by itself, a moment later.
    if (!testsupport::WaitUntil([&] { return device.GetOpenDescriptorCount() == 0; }, std::chrono::milliseconds(c_waitMs))) {
        fuzzsupport::Finding("device left open", std::to_string(device.GetOpenDescriptorCount()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const unsigned kind = data[0] & 3u;
    const bool error = (data[0] & 4u) != 0;
    std::vector<std::string> writes;
    for (size_t i = 1; i < size;) {
        const size_t length = data[i++];
        const size_t n = std::min(length, size - i);
        writes.emplace_back(reinterpret_cast<const char*>(data + i), n);
        i += n;
    }

    if (kind == 1) {
        sim::EventStreamDevice device(c_path);
        isig::KavrelEventStream stream("fuzz.event", c_path, true, "fuzz");
        Run<isig::EventTraits>(stream, device, writes, error);
        // The record counted the events of every id it knows, and no other.
        std::string written;
        for (const std::string& piece : writes) {
            written += piece;
        }
        uint64_t counted[isig::c_maxEventId + 1] = {};
        for (size_t at = 0; at + sizeof(isig::EventStruct) <= written.size(); at += sizeof(isig::EventStruct)) {
            isig::EventStruct event;
            std::memcpy(&event, written.data() + at, sizeof(event));
            if (event.id <= isig::c_maxEventId) {
                ++counted[event.id];
            }
        }
        const isig::KavrelEventStream::Record record = stream.GetRecord();
        for (isig::EventIdType id = 0; id <= isig::c_maxEventId; ++id) {
            if (record.counters[id] != counted[id]) {
                fuzzsupport::Finding("event counter", std::to_string(id));
            }
        }
    } else if (kind == 2) {
        sim::StreamDevice device(c_path, sizeof(isig::HealthStruct));
        isig::KavrelHealthStream stream("fuzz.health", c_path, true, "fuzz");
        Run<isig::HealthTraits>(stream, device, writes, error);
    } else {
        sim::StreamDevice device(c_path, sizeof(Pair));
        isig::KavrelStream<PairTraits> stream("fuzz.strm", "fuzz", c_path, kind == 0 ? 8 : 1);
        Run<PairTraits>(stream, device, writes, error);
    }
    return 0;
}
