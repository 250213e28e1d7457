// Reads and writes per second of a register word through the registry's node kinds against a
// plain volatile access of the same word, in the same run:
// - a reference node over the word (int32_t typed get and set);
// - a bit node over a 5-bit field of it (read: one word read; write: range check, then a
//   read-modify-write under the word's lock);
// - an enumeration bit node over a 3-bit field (code looked up in the name table both ways), by
//   number and by name.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "ireg/reg_reference_bit_node.h"
#include "istd/trace.h"
#include "mci/mci.h"

namespace {

using mci::c_noRelPath;

struct alignas(64) Register {
    volatile uint32_t word = 0;
    volatile uint64_t wide = 0;
};

void BM_PlainVolatileRead(benchmark::State& state)
{
    Register reg;
    for (auto _ : state) {
        uint32_t out = reg.word;
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainVolatileRead);

void BM_PlainVolatileWrite(benchmark::State& state)
{
    Register reg;
    uint32_t value = 0;
    for (auto _ : state) {
        reg.word = ++value & 0x1F;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainVolatileWrite);

// The node's own masking, without the registry: what the hardware access itself costs.
void BM_PlainVolatileFieldWrite(benchmark::State& state)
{
    Register reg;
    uint32_t value = 0;
    for (auto _ : state) {
        reg.word = (reg.word & ~(0x1Fu << 3)) | ((++value & 0x1F) << 3);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainVolatileFieldWrite);

void BM_ReferenceNodeRead(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>("r", reg.word);
    for (auto _ : state) {
        uint32_t out;
        node->Get(out, 0, c_noRelPath);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceNodeRead);

void BM_ReferenceNodeWrite(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>("r", reg.word);
    uint32_t value = 0;
    for (auto _ : state) {
        node->Set(++value & 0x1F, 0, c_noRelPath);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceNodeWrite);

void BM_BitNodeRead(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>>("b", reg.word, 3, 5);
    for (auto _ : state) {
        uint32_t out;
        node->Get(out, 0, c_noRelPath);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BitNodeRead);

void BM_BitNodeWrite(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>>("b", reg.word, 3, 5);
    uint32_t value = 0;
    for (auto _ : state) {
        node->Set(++value & 0x1F, 0, c_noRelPath);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BitNodeWrite);

using LevelBits = ireg::RegReferenceEnumBitNode<istd::TraceLevel_e, volatile uint64_t>;

void BM_EnumBitNodeRead(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<LevelBits>("e", reg.wide, 8, 3);
    node->Set(int32_t(istd::eTraceInfo), 0, c_noRelPath);
    for (auto _ : state) {
        int32_t out;
        node->Get(out, 0, c_noRelPath);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnumBitNodeRead);

void BM_EnumBitNodeWrite(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<LevelBits>("e", reg.wide, 8, 3);
    int32_t value = 0;
    for (auto _ : state) {
        node->Set(int32_t(++value % 6), 0, c_noRelPath);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnumBitNodeWrite);

void BM_EnumBitNodeReadName(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<LevelBits>("e", reg.wide, 8, 3);
    node->Set(int32_t(istd::eTraceInfo), 0, c_noRelPath);
    std::string out;
    for (auto _ : state) {
        node->Get(out, 0, c_noRelPath);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnumBitNodeReadName);

void BM_EnumBitNodeWriteName(benchmark::State& state)
{
    Register reg;
    auto node = mci::factory::Create<LevelBits>("e", reg.wide, 8, 3);
    const std::string names[2] = {"info", "detail"};
    size_t i = 0;
    for (auto _ : state) {
        node->Set(names[++i & 1], 0, c_noRelPath);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnumBitNodeWriteName);

} // namespace

BENCHMARK_MAIN();
