// Building a registry from a runtime description of 10 000 nodes (100 branches of 99 leaves:
// every value type, arrays, strings and bit fields of every integer type), next to libxml2
// parsing and validating the same file against the same schema in the same run.
//
//   BM_RuntimeBuild             the whole build: constructor (open, validate) and BuildRegistry
//   BM_Libxml2ParseValidate     the baseline
//   BM_RuntimeOpenValidate      the constructor alone
//   BM_RuntimeDeserialize       the walk over the element tree, already read, that makes and
//                               attaches the nodes
//   BM_MakeNodesOnly            the same nodes made and attached straight from a list, without
//                               any description: what making registry nodes costs by itself
// The tree built in an iteration is destroyed outside the timing.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "iapp/kavrel_runtime_builder.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_cstring_node.h"
#include "ireg/reg_reference_node.h"
#include "libxml2_baseline.h"
#include "mci/factory.h"
#include "tests/support/element_recorder.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr size_t c_branches = 100;
constexpr size_t c_leaves = 99;
constexpr size_t c_stride = 32; // bytes of the block per leaf
constexpr size_t c_blockSize = c_branches * c_leaves * c_stride;

// The leaves in turn: ten kinds.
const char* const c_leafKinds[] = {
    R"(reg_node type="int32")",  R"(reg_node type="uint32" size="4")", R"(reg_node type="int64")",
    R"(reg_node type="uint64")", R"(reg_node type="double" flags="readable writable persistent")",
    R"(reg_node type="float")",  R"(reg_node type="bool")",             R"(reg_node type="string" string_size="32")",
    R"(bit_node type="uint32" bit_offset="4" bit_size="12")",           R"(bit_node type="int32" bit_offset="0" bit_size="8")",
};

struct Fixture {
    Fixture() : dir("iapp_runtime_bench")
    {
        schema = std::filesystem::path(testsupport::TypesXsd()).replace_filename("runtime_config.xsd").string();
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<runtime_config "
                           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" +
                           schema + "\">\n";
        for (size_t b = 0; b < c_branches; ++b) {
            text += "  <node name=\"branch" + std::to_string(b) + "\">\n";
            for (size_t l = 0; l < c_leaves; ++l) {
                const size_t offset = (b * c_leaves + l) * c_stride;
                text += std::string("    <") + c_leafKinds[l % 10] + " name=\"leaf" + std::to_string(l) +
                        "\" offset=\"" + std::to_string(offset) + "\"/>\n";
            }
            text += "  </node>\n";
        }
        text += "</runtime_config>\n";
        file = dir / "runtime.xml";
        testsupport::WriteFile(file, text);
    }

    testsupport::TempDir dir;
    std::string schema;
    std::string file;
    std::unique_ptr<uint64_t[]> block{new uint64_t[c_blockSize / 8]()};
};

Fixture& Files()
{
    static Fixture fixture;
    return fixture;
}

// Detaches everything built under the root, outside the timing.
void Clear(benchmark::State& state, const mci::TreeNodePtr& root)
{
    state.PauseTiming();
    mci::TreeNodePtr detach = root;
    mci::DestroyNode(detach);
    state.ResumeTiming();
}

void BM_RuntimeBuild(benchmark::State& state)
{
    mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
    for (auto _ : state) {
        iapp::KavrelRuntimeBuilder builder(root, Files().block.get(), c_blockSize, Files().file, 8);
        if (!builder.BuildRegistry()) {
            state.SkipWithError("not built");
        }
        Clear(state, root);
    }
    state.counters["per_node"] =
        benchmark::Counter(double(state.iterations()) * c_branches * (c_leaves + 1),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RuntimeBuild)->Unit(benchmark::kMillisecond);

void BM_Libxml2ParseValidate(benchmark::State& state)
{
    for (auto _ : state) {
        if (!benchsupport::Libxml2ParseAndValidate(Files().file, Files().schema)) {
            state.SkipWithError("not valid");
        }
    }
}
BENCHMARK(BM_Libxml2ParseValidate)->Unit(benchmark::kMillisecond);

void BM_RuntimeOpenValidate(benchmark::State& state)
{
    mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
    for (auto _ : state) {
        iapp::KavrelRuntimeBuilder builder(root, Files().block.get(), c_blockSize, Files().file, 8);
        benchmark::DoNotOptimize(&builder);
    }
}
BENCHMARK(BM_RuntimeOpenValidate)->Unit(benchmark::kMillisecond);

void BM_RuntimeDeserialize(benchmark::State& state)
{
    mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
    iapp::KavrelRuntimeBuilder builder(root, Files().block.get(), c_blockSize, Files().file, 8);
    iapp::RuntimeBuilderConfig document;
    document.OpenDocument(Files().file, false);
    testsupport::ElementRecorder elements;
    document.Read(elements);
    for (auto _ : state) {
        builder.Deserialize(elements.received);
        Clear(state, root);
    }
}
BENCHMARK(BM_RuntimeDeserialize)->Unit(benchmark::kMillisecond);

void BM_MakeNodesOnly(benchmark::State& state)
{
    using namespace ireg;
    char* block = reinterpret_cast<char*>(Files().block.get());
    mci::TreeNodePtr root = mci::factory::Create<RegNode>("root");
    for (auto _ : state) {
        for (size_t b = 0; b < c_branches; ++b) {
            mci::TreeNodePtr branch = root->Add(mci::factory::Create<RegNode>("branch" + std::to_string(b)));
            for (size_t l = 0; l < c_leaves; ++l) {
                char* at = block + (b * c_leaves + l) * c_stride;
                const std::string name = "leaf" + std::to_string(l);
                mci::TreeNodePtr node;
                switch (l % 10) {
                case 0: node = mci::factory::Create<RegReferenceNode<int32_t, volatile int32_t>>(name, *reinterpret_cast<volatile int32_t*>(at), mci::Flags(6)); break;
                case 1: node = mci::factory::Create<RegReferenceNode<uint32_t, volatile uint32_t>>(name, size_t(4), reinterpret_cast<volatile uint32_t*>(at), mci::Flags(0x206)); break;
                case 2: node = mci::factory::Create<RegReferenceNode<int64_t, volatile int64_t>>(name, *reinterpret_cast<volatile int64_t*>(at), mci::Flags(6)); break;
                case 3: node = mci::factory::Create<RegReferenceNode<uint64_t, volatile uint64_t>>(name, *reinterpret_cast<volatile uint64_t*>(at), mci::Flags(6)); break;
                case 4: node = mci::factory::Create<RegReferenceNode<double, volatile double>>(name, *reinterpret_cast<volatile double*>(at), mci::Flags(0xE)); break;
                case 5: node = mci::factory::Create<RegReferenceNode<float, volatile float>>(name, *reinterpret_cast<volatile float*>(at), mci::Flags(6)); break;
                case 6: node = mci::factory::Create<RegReferenceNode<bool, volatile bool>>(name, *reinterpret_cast<volatile bool*>(at), mci::Flags(6)); break;
                case 7: node = mci::factory::Create<RegReferenceCStringNode>(name, size_t(32), at, mci::Flags(6)); break;
                case 8: node = mci::factory::Create<RegReferenceBitNode<uint32_t, volatile uint32_t>>(name, *reinterpret_cast<volatile uint32_t*>(at), 4u, 12u, mci::Flags(6)); break;
                default: node = mci::factory::Create<RegReferenceBitNode<int32_t, volatile uint32_t>>(name, *reinterpret_cast<volatile uint32_t*>(at), 0u, 8u, mci::Flags(6)); break;
                }
                branch->Add(node);
            }
        }
        Clear(state, root);
    }
}
BENCHMARK(BM_MakeNodesOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
