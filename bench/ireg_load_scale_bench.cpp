// How loads grow with their size: the time per tenfold step should grow about tenfold.
// - one element with 1 000, 10 000 and 100 000 attributes read into elements (the project's
//   share), beside libxml2 parsing the same file;
// - a registry file of 1 000 to 1 000 000 int32 nodes (groups of 100), loaded into the registry
//   (parse, validation against the generated schema, every value into its node), against
//   libxml2 parsing and validating it, and libxml2 compiling the schema alone; and the read of
//   the validated document into the nodes alone (the project's share).

#include <benchmark/benchmark.h>

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "allocation_count.h"
#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_value_node.h"
#include "libxml2_baseline.h"
#include "mci/factory.h"
#include "tests/support/element_recorder.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr mci::Flags c_persistent = 0xE;

testsupport::TempDir& Dir()
{
    static testsupport::TempDir dir("ireg_load_scale_bench");
    return dir;
}

// <configuration><e a0="0" a1="1" .../></configuration>, written once per count.
std::string AttributeFile(int64_t count)
{
    static std::map<int64_t, std::string> files;
    auto it = files.find(count);
    if (it == files.end()) {
        std::string text = "<configuration><e";
        for (int64_t i = 0; i < count; ++i) {
            text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
        }
        text += "/></configuration>\n";
        const std::string file = Dir() / ("attributes" + std::to_string(count) + ".xml");
        testsupport::WriteFile(file, text);
        it = files.emplace(count, file).first;
    }
    return it->second;
}

// The project's share alone: the parsed document read into elements (the parse, libxml2's,
// is left out of the timing).
void BM_ElementAttributesRead(benchmark::State& state)
{
    const std::string file = AttributeFile(state.range(0));
    icfg::Configuration document("1.0", testsupport::TypesXsd());
    document.OpenDocument(file, false);
    for (auto _ : state) {
        testsupport::ElementRecorder recorder;
        if (!document.Read(recorder)) {
            state.SkipWithError("nothing read");
            break;
        }
    }
    document.CloseDocument();
}
BENCHMARK(BM_ElementAttributesRead)->ArgName("attributes")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ElementAttributesLibxml2Parse(benchmark::State& state)
{
    const std::string file = AttributeFile(state.range(0));
    for (auto _ : state) {
        xmlFreeDoc(xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET));
    }
}
// libxml2 checks each attribute against all before it: its parse grows with the square.
BENCHMARK(BM_ElementAttributesLibxml2Parse)->ArgName("attributes")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElementAttributesLibxml2Parse)->ArgName("attributes")->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

// A registry of count int32 nodes in groups of 100 under a configuration root, its file and
// schema written once.
struct Registry {
    explicit Registry(int64_t count)
        : document("1.0", testsupport::TypesXsd()),
          file(Dir() / ("nodes" + std::to_string(count) + ".xml")),
          schema(Dir() / ("nodes" + std::to_string(count) + ".xsd"))
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", file, &document);
        for (int64_t g = 0; g < count / 100; ++g) {
            auto group = root->Add(mci::factory::Create<ireg::RegNode>("group" + std::to_string(g), mci::Flags(6)));
            for (int n = 0; n < 100; ++n) {
                group->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>(
                    "value" + std::to_string(n), static_cast<int32_t>(g * 100 + n), c_persistent));
            }
        }
        if (!Root().WriteConfiguration()) {
            std::abort();
        }
    }
    ireg::RegNode& Root() { return dynamic_cast<ireg::RegNode&>(*root); }

    icfg::Configuration document;
    std::string file;
    std::string schema;
    mci::TreeNodePtr root;
};

Registry& RegistryOf(int64_t count)
{
    static std::map<int64_t, std::unique_ptr<Registry>> registries;
    auto& registry = registries[count];
    if (!registry) {
        registries.clear(); // one at a time: the largest holds a million nodes
        registries[count] = std::make_unique<Registry>(count);
        return *registries[count];
    }
    return *registry;
}

void BM_RegistryLoad(benchmark::State& state)
{
    Registry& registry = RegistryOf(state.range(0));
    for (auto _ : state) {
        if (!registry.Root().LoadConfiguration()) {
            state.SkipWithError("load failed");
            break;
        }
    }
}

// The project's share alone: the opened and validated document read into the nodes. It reports
// the project's allocations per node (libxml2's own, through malloc, are not counted).
void BM_RegistryRead(benchmark::State& state)
{
    Registry& registry = RegistryOf(state.range(0));
    auto& root = dynamic_cast<ireg::RegConfigNode&>(*registry.root);
    uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        registry.document.OpenDocument(registry.file, true);
        const uint64_t before = bench::g_allocations.load();
        state.ResumeTiming();
        if (!registry.document.Read(root)) {
            state.SkipWithError("read failed");
            break;
        }
        state.PauseTiming();
        allocations += bench::g_allocations.load() - before;
        registry.document.CloseDocument();
        state.ResumeTiming();
    }
    state.counters["allocs_per_node"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations() * state.range(0));
}

void BM_RegistryLibxml2ParseValidate(benchmark::State& state)
{
    Registry& registry = RegistryOf(state.range(0));
    for (auto _ : state) {
        if (!benchsupport::Libxml2ParseAndValidate(registry.file, registry.schema)) {
            state.SkipWithError("not valid");
            break;
        }
    }
}

void BM_RegistryLibxml2SchemaCompile(benchmark::State& state)
{
    Registry& registry = RegistryOf(state.range(0));
    for (auto _ : state) {
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(registry.schema.c_str());
        xmlSchemaFree(xmlSchemaParse(parser));
        xmlSchemaFreeParserCtxt(parser);
    }
}

// Each size is measured by the three before the next is built.
void Sizes(benchmark::internal::Benchmark* b)
{
    b->ArgName("nodes")->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_RegistryLoad)->Apply(Sizes)->Arg(1000);
BENCHMARK(BM_RegistryRead)->Apply(Sizes)->Arg(1000);
BENCHMARK(BM_RegistryLibxml2ParseValidate)->Apply(Sizes)->Arg(1000);
BENCHMARK(BM_RegistryLibxml2SchemaCompile)->Apply(Sizes)->Arg(1000);
BENCHMARK(BM_RegistryLoad)->Apply(Sizes)->Arg(10000);
BENCHMARK(BM_RegistryRead)->Apply(Sizes)->Arg(10000);
BENCHMARK(BM_RegistryLibxml2ParseValidate)->Apply(Sizes)->Arg(10000);
BENCHMARK(BM_RegistryLibxml2SchemaCompile)->Apply(Sizes)->Arg(10000);
// Two seconds each, so several iterations: a single one would compare a load on a heap it must
// first grow with a baseline that runs on the heap the load left behind.
BENCHMARK(BM_RegistryLoad)->Apply(Sizes)->Arg(100000)->MinTime(2.0);
BENCHMARK(BM_RegistryRead)->Apply(Sizes)->Arg(100000)->MinTime(2.0);
BENCHMARK(BM_RegistryLibxml2ParseValidate)->Apply(Sizes)->Arg(100000)->MinTime(2.0);
BENCHMARK(BM_RegistryLibxml2SchemaCompile)->Apply(Sizes)->Arg(100000)->MinTime(2.0);
BENCHMARK(BM_RegistryLoad)->Apply(Sizes)->Arg(1000000)->Iterations(2);
BENCHMARK(BM_RegistryRead)->Apply(Sizes)->Arg(1000000)->Iterations(2);
BENCHMARK(BM_RegistryLibxml2ParseValidate)->Apply(Sizes)->Arg(1000000)->Iterations(2);
BENCHMARK(BM_RegistryLibxml2SchemaCompile)->Apply(Sizes)->Arg(1000000)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
