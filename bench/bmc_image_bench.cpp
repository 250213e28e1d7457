// Building and checking HPM upgrade images against the costs they are made of, measured on the
// same data in the same run: copying the bytes (memcpy into a buffer in use, and a copy into a
// fresh vector, which pays for the new pages too), hashing them (EVP MD5), and the baseline of
// an image: MD5 plus one copy into a buffer in use. Build and Check make a new image each time
// (its pages are new); BuildInto and CheckInto reuse one.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>

#include "bmc/hpm_image.h"

namespace {

bmc::ImageData Bitstream(size_t size)
{
    bmc::ImageData bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    }
    return bytes;
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Memcpy(benchmark::State& state)
{
    const bmc::ImageData source = Bitstream(static_cast<size_t>(state.range(0)));
    bmc::ImageData target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void BM_CopyNew(benchmark::State& state)
{
    const bmc::ImageData source = Bitstream(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        bmc::ImageData copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
    SetBytes(state);
}

void BM_Md5(benchmark::State& state)
{
    const bmc::ImageData source = Bitstream(static_cast<size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(source.data(), source.size(), digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state);
}

void BM_Md5Copy(benchmark::State& state)
{
    const bmc::ImageData source = Bitstream(static_cast<size_t>(state.range(0)));
    bmc::ImageData target(source.size());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(source.data(), source.size(), digest, &length, EVP_md5(), nullptr);
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(digest);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void BM_Build(benchmark::State& state)
{
    const bmc::RawImage raw(Bitstream(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        bmc::HpmImage image(raw, 1, 2, 3, bmc::eBoardTypePAX);
        benchmark::DoNotOptimize(image.GetBuffer().data());
    }
    SetBytes(state);
}

void BM_Check(benchmark::State& state)
{
    const bmc::HpmImage built(bmc::RawImage(Bitstream(static_cast<size_t>(state.range(0)))), 1, 2,
                              3, bmc::eBoardTypePAX);
    for (auto _ : state) {
        bmc::HpmImage image = bmc::CreateHpmImage(built.GetBuffer());
        benchmark::DoNotOptimize(image.GetBuffer().data());
    }
    SetBytes(state);
}

// The same into one image object, whose buffer each build and check reuses: it is filled once
// before the timed loop, so that every timed iteration reuses it, and the loop runs long enough
// for many iterations even at 64 MiB (the default time gives one or two there).
void BM_BuildInto(benchmark::State& state)
{
    const bmc::RawImage raw(Bitstream(static_cast<size_t>(state.range(0))));
    bmc::HpmImage image;
    image.Build(raw, 1, 2, 3, bmc::eBoardTypePAX);
    for (auto _ : state) {
        image.Build(raw, 1, 2, 3, bmc::eBoardTypePAX);
        benchmark::DoNotOptimize(image.GetBuffer().data());
    }
    SetBytes(state);
}

void BM_CheckInto(benchmark::State& state)
{
    const bmc::HpmImage built(bmc::RawImage(Bitstream(static_cast<size_t>(state.range(0)))), 1, 2,
                              3, bmc::eBoardTypePAX);
    bmc::HpmImage image;
    bmc::CreateHpmImage(built.GetBuffer().data(), built.GetBuffer().size(), image);
    for (auto _ : state) {
        bmc::CreateHpmImage(built.GetBuffer().data(), built.GetBuffer().size(), image);
        benchmark::DoNotOptimize(image.GetBuffer().data());
    }
    SetBytes(state);
}

constexpr int64_t c_16MiB = int64_t{16} << 20;
constexpr int64_t c_64MiB = int64_t{64} << 20;

BENCHMARK(BM_Memcpy)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyNew)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5Copy)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check)->Arg(c_16MiB)->Arg(c_64MiB)->Unit(benchmark::kMillisecond);
constexpr double c_reuseSeconds = 3.0;

BENCHMARK(BM_BuildInto)->Arg(c_16MiB)->Arg(c_64MiB)->MinTime(c_reuseSeconds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckInto)->Arg(c_16MiB)->Arg(c_64MiB)->MinTime(c_reuseSeconds)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
