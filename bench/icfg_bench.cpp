// Configuration documents of 100 000 elements: Write (document and schema, flushed to disk and
// renamed into place) and OpenDocument with validation + Read into element trees, each next to
// libxml2 doing the comparable part of the work on the same files in the same run: saving the
// parsed document, and parsing + validating it against the same schema.

#include <benchmark/benchmark.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

#include "icfg/configuration.h"
#include "libxml2_baseline.h"
#include "tests/support/element_recorder.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ElementRecorder;

constexpr int c_nodes = 1000;
constexpr int c_items = 98; // per node: its element, "reg.array" and the items: 100 000 in all

// A registry-shaped tree: nodes with a value and an array of one of four kinds.
icfg::ElementList Tree()
{
    icfg::ElementList nodes;
    for (int n = 0; n < c_nodes; ++n) {
        icfg::ElementPtr node = icfg::Element::Create("node" + std::to_string(n));
        node->AddAttribute(icfg::Attribute::Create("value", std::to_string(n * 7 - 3000), icfg::e_qarexInt));
        icfg::ElementPtr array = icfg::Element::Create("reg.array");
        array->SetOrder(icfg::Element::e_sequence);
        for (int i = 0; i < c_items; ++i) {
            icfg::ElementPtr item = icfg::Element::Create("reg.item");
            icfg::AttributePtr value;
            switch (n % 4) {
            case 0: value = icfg::Attribute::Create("value", std::to_string(i - 50), icfg::e_qarexInt); break;
            case 1: value = icfg::Attribute::Create("value", std::to_string(i * 0.125), icfg::e_xsDouble); break;
            case 2:
                value = icfg::Attribute::Create("value", std::to_string(i * 1000003ull), icfg::e_qarexUnsignedLong);
                break;
            default:
                value = icfg::Attribute::Create("value", i % 2 ? "on" : "off", icfg::e_xsString);
                value->SetValidValues({"off", "on", "auto"});
                break;
            }
            item->AddAttribute(value);
            array->AddChild(item);
        }
        node->AddChild(array);
        nodes.push_back(node);
    }
    return nodes;
}

struct Fixture {
    Fixture() : dir("icfg_bench"), file(dir / "app.xml"), schema(dir / "app.xsd"), types(testsupport::TypesXsd())
    {
        object.toWrite = Tree();
        icfg::Configuration::Initialize();
        icfg::Configuration document("1.0", types);
        document.Write(object, file);
    }

    testsupport::TempDir dir;
    std::string file;
    std::string schema;
    std::string types;
    ElementRecorder object;
};

Fixture& Files()
{
    static Fixture fixture;
    return fixture;
}

void BM_IcfgWrite(benchmark::State& state)
{
    Fixture& f = Files();
    icfg::Configuration document("1.0", f.types);
    for (auto _ : state) {
        document.Write(f.object, f.dir / "written.xml", icfg::Configuration::e_xsdAlways);
    }
}
BENCHMARK(BM_IcfgWrite)->Unit(benchmark::kMillisecond);

void BM_IcfgWriteWithoutSchema(benchmark::State& state)
{
    Fixture& f = Files();
    icfg::Configuration document("1.0", f.types);
    for (auto _ : state) {
        document.Write(f.object, f.dir / "written.xml", icfg::Configuration::e_xsdNever);
    }
}
BENCHMARK(BM_IcfgWriteWithoutSchema)->Unit(benchmark::kMillisecond);

// Baseline of writing: libxml2 saves the same document, already parsed, to a file.
void BM_Libxml2Save(benchmark::State& state)
{
    Fixture& f = Files();
    xmlDocPtr doc = xmlReadFile(f.file.c_str(), nullptr, XML_PARSE_NONET);
    for (auto _ : state) {
        if (xmlSaveFormatFileEnc((f.dir / "saved.xml").c_str(), doc, "UTF-8", 1) < 0) {
            state.SkipWithError("save failed");
        }
    }
    xmlFreeDoc(doc);
}
BENCHMARK(BM_Libxml2Save)->Unit(benchmark::kMillisecond);

// Baseline of writing a tree: libxml2 builds the same document from the elements and saves it,
// without checks, schema, flushing to disk or renaming.
void AddNodes(xmlNodePtr parent, const icfg::ElementList& elements)
{
    for (const icfg::ElementPtr& element : elements) {
        xmlNodePtr node = xmlNewTextChild(parent, nullptr, BAD_CAST element->GetName().c_str(), nullptr);
        for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
            xmlNewProp(node, BAD_CAST attribute->GetName().c_str(), BAD_CAST attribute->GetValue().c_str());
        }
        AddNodes(node, element->GetChildren());
    }
}

void BM_Libxml2BuildSave(benchmark::State& state)
{
    Fixture& f = Files();
    for (auto _ : state) {
        icfg::ElementList elements;
        f.object.Serialize(elements);
        xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
        xmlNodePtr root = xmlNewDocNode(doc, nullptr, BAD_CAST "configuration", nullptr);
        xmlDocSetRootElement(doc, root);
        AddNodes(root, elements);
        if (xmlSaveFormatFileEnc((f.dir / "saved.xml").c_str(), doc, "UTF-8", 1) < 0) {
            state.SkipWithError("save failed");
        }
        xmlFreeDoc(doc);
    }
}
BENCHMARK(BM_Libxml2BuildSave)->Unit(benchmark::kMillisecond);

void BM_IcfgOpenValidateRead(benchmark::State& state)
{
    Fixture& f = Files();
    icfg::Configuration document("1.0", f.types);
    for (auto _ : state) {
        ElementRecorder recorder;
        document.OpenDocument(f.file, true);
        if (!document.Read(recorder) || recorder.received.at(0)->GetChildren().size() != c_nodes) {
            state.SkipWithError("read failed");
        }
        document.CloseDocument();
    }
}
BENCHMARK(BM_IcfgOpenValidateRead)->Unit(benchmark::kMillisecond);

// Baseline of reading: libxml2 parses the file and validates it against the same schema.
void BM_Libxml2ParseValidate(benchmark::State& state)
{
    Fixture& f = Files();
    for (auto _ : state) {
        if (!benchsupport::Libxml2ParseAndValidate(f.file, f.schema)) {
            state.SkipWithError("not valid");
        }
    }
}
BENCHMARK(BM_Libxml2ParseValidate)->Unit(benchmark::kMillisecond);

// The parts of reading: parsing alone, with and without building element trees.
void BM_IcfgOpenRead(benchmark::State& state)
{
    Fixture& f = Files();
    icfg::Configuration document("1.0", f.types);
    for (auto _ : state) {
        ElementRecorder recorder;
        document.OpenDocument(f.file, false);
        document.Read(recorder);
        document.CloseDocument();
    }
}
BENCHMARK(BM_IcfgOpenRead)->Unit(benchmark::kMillisecond);

void BM_Libxml2Parse(benchmark::State& state)
{
    Fixture& f = Files();
    for (auto _ : state) {
        xmlFreeDoc(xmlReadFile(f.file.c_str(), nullptr, XML_PARSE_NONET));
    }
}
BENCHMARK(BM_Libxml2Parse)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
