// Saving and loading a registry's configuration: 100 000 persistent nodes (1 000 groups of 100
// values of five types), and 100 array nodes of 1 000 items. Each is measured next to libxml2
// doing the comparable part alone on the same files in the same run: for a load, parsing the
// file and validating it against its schema (the load does that, then reads every value into
// its node); for a save, writing the same document, already built, to a file (the save builds
// it from the registry, checks it, writes the schema too and replaces both files atomically).

#include <benchmark/benchmark.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_value_node.h"
#include "libxml2_baseline.h"
#include "mci/factory.h"
#include "tests/support/element_recorder.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr mci::Flags c_persistent = 0xE;

// A registry whose root is a configuration node over one file.
struct Registry {
    explicit Registry(const std::string& file) : document("1.0", testsupport::TypesXsd())
    {
        root = mci::factory::Create<ireg::RegConfigNode>("root", file, &document);
    }
    ireg::RegNode& Root() { return dynamic_cast<ireg::RegNode&>(*root); }

    icfg::Configuration document;
    mci::TreeNodePtr root;
};

// 1 000 groups of 100 scalars: int32, double, string, uint64 and bool in turn, with an
// enumeration in place of the uint64 values in every tenth group. (The schema of an enumeration
// lists its names in every declaration: with one in every five nodes the schema of 100 000 nodes
// would grow past the 32 MiB that the configuration library reads.)
void AddScalars(Registry& registry)
{
    for (int g = 0; g < 1000; ++g) {
        auto group = registry.root->Add(mci::factory::Create<ireg::RegNode>("group" + std::to_string(g), mci::Flags(6)));
        for (int n = 0; n < 100; ++n) {
            const std::string name = "value" + std::to_string(n);
            switch (n % 5) {
            case 0: group->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>(name, g * 100 + n, c_persistent)); break;
            case 1: group->Add(mci::factory::Create<ireg::RegValueNode<double>>(name, g / 7.0 + n, c_persistent)); break;
            case 2:
                group->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(name, "text " + name, c_persistent));
                break;
            case 3:
                if (g % 10 == 0) {
                    group->Add(mci::factory::Create<ireg::RegValueEnumNode<istd::TraceLevel_e>>(
                        name, istd::eTraceInfo, c_persistent));
                } else {
                    group->Add(mci::factory::Create<ireg::RegValueNode<uint64_t>>(name, uint64_t(g) << 40 | n,
                                                                                c_persistent));
                }
                break;
            default: group->Add(mci::factory::Create<ireg::RegValueNode<bool>>(name, n % 2 == 0, c_persistent)); break;
            }
        }
    }
}

// 100 arrays of 1 000 items: uint32, double, int64 and float in turn.
void AddArrays(Registry& registry)
{
    for (int a = 0; a < 100; ++a) {
        const std::string name = "array" + std::to_string(a);
        switch (a % 4) {
        case 0: {
            std::vector<uint32_t> values(1000);
            for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint32_t>(i * 2654435761u);
            registry.root->Add(mci::factory::Create<ireg::RegValueNode<uint32_t>>(name, values, c_persistent));
            break;
        }
        case 1: {
            std::vector<double> values(1000);
            for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i) / 3.0;
            registry.root->Add(mci::factory::Create<ireg::RegValueNode<double>>(name, values, c_persistent));
            break;
        }
        case 2: {
            std::vector<int64_t> values(1000);
            for (size_t i = 0; i < values.size(); ++i) values[i] = -static_cast<int64_t>(i) * 1000003;
            registry.root->Add(mci::factory::Create<ireg::RegValueNode<int64_t>>(name, values, c_persistent));
            break;
        }
        default: {
            std::vector<float> values(1000);
            for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 0.1f;
            registry.root->Add(mci::factory::Create<ireg::RegValueNode<float>>(name, values, c_persistent));
            break;
        }
        }
    }
}

// One registry of each shape, written once, with its own file and schema.
struct Fixture {
    Fixture() : dir("ireg_config_bench"), scalars(dir / "scalars.xml"), arrays(dir / "arrays.xml")
    {
        icfg::Configuration::Initialize();
        AddScalars(scalars);
        AddArrays(arrays);
        if (!scalars.Root().WriteConfiguration() || !arrays.Root().WriteConfiguration()) {
            std::abort();
        }
    }
    Registry& Of(int64_t shape) { return shape == 0 ? scalars : arrays; }
    std::string File(int64_t shape) const { return dir / (shape == 0 ? "scalars.xml" : "arrays.xml"); }
    std::string Schema(int64_t shape) const { return dir / (shape == 0 ? "scalars.xsd" : "arrays.xsd"); }

    testsupport::TempDir dir;
    Registry scalars;
    Registry arrays;
};

Fixture& Files()
{
    static Fixture fixture;
    return fixture;
}

// Argument 0: 100 000 scalar nodes; 1: 100 arrays of 1 000 items.

void BM_IregLoad(benchmark::State& state)
{
    Registry& registry = Files().Of(state.range(0));
    for (auto _ : state) {
        if (!registry.Root().LoadConfiguration()) {
            state.SkipWithError("load failed");
        }
    }
}
BENCHMARK(BM_IregLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Libxml2ParseValidate(benchmark::State& state)
{
    const std::string file = Files().File(state.range(0));
    const std::string schemaFile = Files().Schema(state.range(0));
    for (auto _ : state) {
        if (!benchsupport::Libxml2ParseAndValidate(file, schemaFile)) {
            state.SkipWithError("not valid");
        }
    }
}
BENCHMARK(BM_Libxml2ParseValidate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The configuration library's part of a load: opening, validating and reading the element
// trees, without handing them to the registry.
void BM_IcfgOpenValidateRead(benchmark::State& state)
{
    const std::string file = Files().File(state.range(0));
    icfg::Configuration document("1.0", testsupport::TypesXsd());
    for (auto _ : state) {
        testsupport::ElementRecorder keep;
        document.OpenDocument(file, true);
        if (!document.Read(keep)) {
            state.SkipWithError("read failed");
        }
        document.CloseDocument();
    }
}
BENCHMARK(BM_IcfgOpenValidateRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_IregSave(benchmark::State& state)
{
    Registry& registry = Files().Of(state.range(0));
    for (auto _ : state) {
        if (!registry.Root().WriteConfiguration()) {
            state.SkipWithError("save failed");
        }
    }
}
BENCHMARK(BM_IregSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The registry's part of a save: the element trees of the values, without document or files.
void BM_IregSerialize(benchmark::State& state)
{
    Registry& registry = Files().Of(state.range(0));
    for (auto _ : state) {
        icfg::ElementList elements;
        dynamic_cast<ireg::RegConfigNode&>(*registry.root).Serialize(elements);
        benchmark::DoNotOptimize(elements.data());
    }
}
BENCHMARK(BM_IregSerialize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The document and its schema, both already built, each written to a file.
void BM_Libxml2Save(benchmark::State& state)
{
    const std::string saved = Files().dir / "saved.xml";
    const std::string savedSchema = Files().dir / "saved.xsd";
    xmlDocPtr doc = xmlReadFile(Files().File(state.range(0)).c_str(), nullptr, XML_PARSE_NONET);
    xmlDocPtr schema = xmlReadFile(Files().Schema(state.range(0)).c_str(), nullptr, XML_PARSE_NONET);
    for (auto _ : state) {
        if (xmlSaveFormatFileEnc(saved.c_str(), doc, "UTF-8", 1) < 0 ||
            xmlSaveFormatFileEnc(savedSchema.c_str(), schema, "UTF-8", 1) < 0) {
            state.SkipWithError("save failed");
        }
    }
    xmlFreeDoc(schema);
    xmlFreeDoc(doc);
}
BENCHMARK(BM_Libxml2Save)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
