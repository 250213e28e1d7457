// Register access through devio against plain volatile access, with no claimed range, with a
// range claimed elsewhere (every access then looks its address up), and served by a model.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "devio/reg_access.h"

namespace {

constexpr size_t c_words = 64;

template <typename W>
struct Block {
    alignas(64) volatile W words[c_words] = {};
};

class NullModel : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override { return static_cast<uint32_t>(offset); }
    void OnWrite32(size_t, uint32_t) override {}
    uint64_t OnRead64(size_t offset) override { return offset; }
    void OnWrite64(size_t, uint64_t) override {}
};

enum Mode_e { ePlain, eDevio, eDevioClaimElsewhere, eDevioServed };

// No claim, a claim of the other block, or a claim of the accessed block.
template <typename W>
devio::RangeClaim Claim(Mode_e mode, Block<W>& block, Block<W>& other)
{
    if (mode == eDevioClaimElsewhere) {
        return devio::RangeClaim(other.words, sizeof(other.words), std::make_shared<NullModel>());
    }
    if (mode == eDevioServed) {
        return devio::RangeClaim(block.words, sizeof(block.words), std::make_shared<NullModel>());
    }
    return devio::RangeClaim();
}

template <typename W, Mode_e mode>
void BM_Read(benchmark::State& state)
{
    Block<W> block;
    Block<W> other;
    const devio::RangeClaim claim = Claim(mode, block, other);
    for (auto _ : state) {
        W sum = 0;
        for (size_t i = 0; i < c_words; ++i) {
            sum += mode == ePlain ? block.words[i] : devio::Read(&block.words[i]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_words));
}

template <typename W, Mode_e mode>
void BM_Write(benchmark::State& state)
{
    Block<W> block;
    Block<W> other;
    const devio::RangeClaim claim = Claim(mode, block, other);
    W value = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < c_words; ++i) {
            if (mode == ePlain) {
                block.words[i] = value;
            } else {
                devio::Write(&block.words[i], value);
            }
        }
        ++value;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_words));
}

#define DEVIO_BENCH_MODES(fn, W)                                                                   \
    BENCHMARK_TEMPLATE(fn, W, ePlain);                                                             \
    BENCHMARK_TEMPLATE(fn, W, eDevio);                                                             \
    BENCHMARK_TEMPLATE(fn, W, eDevioClaimElsewhere);                                               \
    BENCHMARK_TEMPLATE(fn, W, eDevioServed)

DEVIO_BENCH_MODES(BM_Read, uint32_t);
DEVIO_BENCH_MODES(BM_Write, uint32_t);
DEVIO_BENCH_MODES(BM_Read, uint64_t);
DEVIO_BENCH_MODES(BM_Write, uint64_t);

} // namespace

BENCHMARK_MAIN();
