// The signal streams' costs against plain work of the same shape, in one run:
// - dispatch throughput: a producer dispatches groups of atoms of 64 B, 512 B and 4 KiB to 1 to
//   256 clients that pop them (on the producer's thread, so that the figure is the engine's and
//   not the scheduler's), against a memcpy of the same bytes; with the allocations per group;
// - hand-off latency, p50 and p99, from the end of a read to a client's Pop return on another
//   thread, against a bare mutex and condition-variable hand-off;
// - one stalled client among 16: the others' throughput against the run without it, and the
//   stalled client's dropped atoms, which must be exact;
// - device input: atoms through a simulated stream device and a stream to one client, against a
//   raw pipe read of the same bytes.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "isig/kavrel_stream.h"
#include "isig/stream.h"
#include "isig/stream_client.h"
#include "sim/devices/stream_device.h"

#include "allocation_count.h"

namespace {

template <size_t BYTES>
struct Blob {
    uint64_t words[BYTES / 8];
};

template <size_t N>
constexpr std::array<const char*, N> SameNames()
{
    std::array<const char*, N> names{};
    for (auto& name : names) {
        name = "word";
    }
    return names;
}

} // namespace

template <size_t BYTES>
struct isig::AtomNames<Blob<BYTES>> {
    static constexpr std::array<const char*, BYTES / 8> names = SameNames<BYTES / 8>();
};

namespace {

template <size_t BYTES>
using BlobTraits = isig::SignalTraits<uint64_t, Blob<BYTES>, 1u>;

template <size_t BYTES>
class PassiveStream : public isig::Stream<BlobTraits<BYTES>> {
public:
    explicit PassiveStream(unsigned group)
        : isig::Stream<BlobTraits<BYTES>>("bench", "bench", BlobTraits<BYTES>(group), isig::eDispatchPassive)
    {
    }
};

// Bytes per dispatched group: 16 atoms of 4 KiB, or as many smaller atoms as fill 16 KiB.
template <size_t BYTES>
constexpr unsigned c_groupAtoms = BYTES >= 4096 ? 16 : static_cast<unsigned>(16384 / BYTES);

template <size_t BYTES>
void BM_Memcpy(benchmark::State& state)
{
    const size_t bytes = BYTES * c_groupAtoms<BYTES>;
    std::vector<uint64_t> source(bytes / 8, 7);
    std::vector<uint64_t> target(bytes / 8);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

template <size_t BYTES>
void BM_Dispatch(benchmark::State& state)
{
    using Traits = BlobTraits<BYTES>;
    const unsigned group = c_groupAtoms<BYTES>;
    const auto clients = static_cast<size_t>(state.range(0));
    PassiveStream<BYTES> stream(group);
    std::vector<std::unique_ptr<isig::StreamClient<Traits>>> readers;
    for (size_t i = 0; i < clients; ++i) {
        readers.push_back(std::make_unique<isig::StreamClient<Traits>>(&stream, "c" + std::to_string(i), 4));
        readers.back()->Open();
    }
    std::vector<uint64_t> values(group * BYTES / 8, 7);
    const uint64_t allocations = bench::g_allocations;
    for (auto _ : state) {
        stream.Dispatch(values.data(), static_cast<unsigned>(values.size()), isig::c_noMeta);
        for (auto& reader : readers) {
            isig::MetaBufferPtr<Traits> buffer;
            reader->GetQueue().Pop(buffer);
            benchmark::DoNotOptimize(buffer->data.Data());
        }
    }
    state.counters["allocs_per_group"] = static_cast<double>(bench::g_allocations - allocations) /
                                         static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * group * BYTES));
    for (auto& reader : readers) {
        reader->Close();
    }
}

// Latency of one hand-off, taken by the consumer; the producer waits until it was taken and a
// little more, so the consumer always sleeps in its wait when the value comes.
constexpr auto c_consumerAsleep = std::chrono::microseconds(20);
struct Latencies {
    std::vector<int64_t> samples;
    void Report(benchmark::State& state)
    {
        if (samples.empty()) {
            return;
        }
        std::sort(samples.begin(), samples.end());
        state.counters["p50_ns"] = static_cast<double>(samples[samples.size() / 2]);
        state.counters["p99_ns"] = static_cast<double>(samples[samples.size() * 99 / 100]);
    }
};

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void BM_HandOffBare(benchmark::State& state)
{
    std::mutex mutex;
    std::condition_variable ready;
    std::condition_variable taken;
    int64_t value = 0;
    bool full = false;
    bool stop = false;
    Latencies latencies;
    std::thread consumer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            ready.wait(lock, [&] { return full || stop; });
            if (stop) {
                return;
            }
            latencies.samples.push_back(NowNs() - value);
            full = false;
            taken.notify_one();
        }
    });
    for (auto _ : state) {
        std::this_thread::sleep_for(c_consumerAsleep);
        std::unique_lock<std::mutex> lock(mutex);
        value = NowNs();
        full = true;
        ready.notify_one();
        taken.wait(lock, [&] { return !full; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    ready.notify_one();
    consumer.join();
    latencies.Report(state);
}

void BM_HandOffStream(benchmark::State& state)
{
    using Traits = BlobTraits<64>;
    PassiveStream<64> stream(1);
    isig::StreamClient<Traits> client(&stream, "consumer", 4);
    client.Open();
    std::atomic<int64_t> takenCount{0};
    Latencies latencies;
    std::thread consumer([&] {
        Blob<64> atom{};
        while (client.Read(atom) == isig::eSuccess) {
            latencies.samples.push_back(NowNs() - static_cast<int64_t>(atom.words[0]));
            ++takenCount;
        }
    });
    int64_t sent = 0;
    std::vector<uint64_t> values(8);
    for (auto _ : state) {
        // The consumer sleeps in its Pop; the read just ended.
        std::this_thread::sleep_for(c_consumerAsleep);
        while (!client.GetQueue().HasWaitingReader()) {
            std::this_thread::yield();
        }
        values[0] = static_cast<uint64_t>(NowNs());
        stream.Dispatch(values.data(), 8, isig::c_noMeta);
        ++sent;
        while (takenCount.load() < sent) {
            std::this_thread::yield();
        }
    }
    stream.Cancel(isig::eTerminated);
    consumer.join();
    latencies.Report(state);
}

// 16 clients; with a stall, client 0 never reads and its queue of 64 buffers fills.
void BM_StalledClient(benchmark::State& state)
{
    using Traits = BlobTraits<4096>;
    const bool stalled = state.range(0) != 0;
    const unsigned group = c_groupAtoms<4096>;
    PassiveStream<4096> stream(group);
    std::vector<std::unique_ptr<isig::StreamClient<Traits>>> readers;
    for (int i = 0; i < 16; ++i) {
        readers.push_back(std::make_unique<isig::StreamClient<Traits>>(&stream, "c" + std::to_string(i), 64));
        readers.back()->Open();
    }
    std::vector<uint64_t> values(group * 4096 / 8, 7);
    int64_t groups = 0;
    for (auto _ : state) {
        stream.Dispatch(values.data(), static_cast<unsigned>(values.size()), isig::c_noMeta);
        ++groups;
        for (size_t i = stalled ? 1 : 0; i < readers.size(); ++i) {
            isig::MetaBufferPtr<Traits> buffer;
            readers[i]->GetQueue().Pop(buffer);
        }
    }
    if (stalled) {
        const uint64_t dropped = readers[0]->GetQueue().GetCounters().dropped;
        const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(groups - 64, 0)) * group;
        state.counters["dropped_atoms"] = static_cast<double>(dropped);
        if (dropped != expected) {
            state.SkipWithError(("dropped " + std::to_string(dropped) + ", expected " + std::to_string(expected)).c_str());
        }
    }
    // The 15 readers that keep up, in both runs.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * group * 4096));
    for (auto& reader : readers) {
        reader->Close();
    }
}

constexpr size_t c_deviceAtom = 512;
constexpr size_t c_chunk = 64 * 1024;
constexpr size_t c_deviceBytes = 32 * 1024 * 1024;

void BM_DeviceInputPipe(benchmark::State& state)
{
    std::vector<char> chunk(c_chunk, 1);
    std::vector<char> buffer(c_deviceAtom * 32);
    for (auto _ : state) {
        int fds[2];
        if (::pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        std::thread writer([&] {
            for (size_t sent = 0; sent < c_deviceBytes; sent += c_chunk) {
                for (size_t done = 0; done < c_chunk;) {
                    const ssize_t n = ::write(fds[1], chunk.data() + done, c_chunk - done);
                    done += n > 0 ? static_cast<size_t>(n) : 0;
                }
            }
        });
        size_t got = 0;
        while (got < c_deviceBytes) {
            const ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
            got += n > 0 ? static_cast<size_t>(n) : 0;
        }
        writer.join();
        ::close(fds[0]);
        ::close(fds[1]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c_deviceBytes));
}

void BM_DeviceInputStream(benchmark::State& state)
{
    using Traits = BlobTraits<c_deviceAtom>;
    const std::string path = "/dev/kavrel-bench.strm0";
    sim::StreamDevice device(path, c_deviceAtom);
    device.SetCapacity(4 * c_chunk);
    isig::KavrelStream<Traits> stream("bench", "bench", path, 32);
    std::vector<char> chunk(c_chunk, 1);
    for (auto _ : state) {
        isig::StreamClient<Traits> client(&stream, "reader", 1024);
        // A reader that falls 1024 groups behind loses atoms: the run then fails instead of
        // waiting for them for good.
        client.GetQueue().SetTimeout(10000);
        client.Open();
        std::thread writer([&] {
            for (size_t sent = 0; sent < c_deviceBytes; sent += c_chunk) {
                device.Write(chunk.data(), c_chunk);
            }
        });
        size_t got = 0;
        while (got < c_deviceBytes) {
            isig::MetaBufferPtr<Traits> buffer;
            if (client.GetQueue().Pop(buffer) != isig::eSuccess) {
                break;
            }
            got += buffer->data.GetLength() * c_deviceAtom;
        }
        writer.join();
        client.Close();
        if (got != c_deviceBytes) {
            state.SkipWithError("atoms lost");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c_deviceBytes));
}

void Clients(benchmark::internal::Benchmark* b)
{
    for (int clients : {1, 4, 16, 64, 256}) {
        b->Arg(clients);
    }
}

} // namespace

BENCHMARK_TEMPLATE(BM_Memcpy, 64);
BENCHMARK_TEMPLATE(BM_Dispatch, 64)->Apply(Clients);
BENCHMARK_TEMPLATE(BM_Memcpy, 512);
BENCHMARK_TEMPLATE(BM_Dispatch, 512)->Apply(Clients);
BENCHMARK_TEMPLATE(BM_Memcpy, 4096);
BENCHMARK_TEMPLATE(BM_Dispatch, 4096)->Apply(Clients);
BENCHMARK(BM_HandOffBare)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_HandOffStream)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_StalledClient)->Arg(0)->Arg(1);
BENCHMARK(BM_DeviceInputPipe)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeviceInputStream)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
