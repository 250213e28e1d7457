// Configuration documents from arbitrary bytes: opened with and without validation, read into
// a recording object, and what was read written again. Refusals must be istd::Exception; a
// written document must validate against the schema written beside it and read back to the
// same tree. Anything else (another exception, a sanitizer report, a broken round trip) is a
// finding.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "icfg/configuration.h"
#include "istd/exception.h"
#include "tests/support/element_recorder.h"

namespace {

using fuzzsupport::Finding;
using testsupport::ElementRecorder;

std::string g_dir;
std::string g_types;

class QuietConfiguration : public icfg::Configuration {
public:
    QuietConfiguration() : icfg::Configuration("1.0", g_types) {}
    void ErrorCallback(const std::string&) override {}
};

std::string Dump(const icfg::ElementPtr& element)
{
    std::string text = "<" + element->GetName() + "|" + element->GetValue();
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        text += "|@" + attribute->GetName() + "=" + attribute->GetValue();
    }
    for (const icfg::ElementPtr& child : element->GetChildren()) {
        text += Dump(child);
    }
    return text + ">";
}

// The typed readers on every attribute and element text.
void Convert(const icfg::ElementPtr& element)
{
    int i = 0;
    unsigned int u = 0;
    int64_t l = 0;
    uint64_t ul = 0;
    double d = 0;
    float f = 0;
    bool b = false;
    std::string s;
    (void)element->GetValue(i);
    (void)element->GetValue(s);
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        (void)attribute->GetValue(u);
        (void)attribute->GetValue(l);
        (void)attribute->GetValue(ul);
        (void)attribute->GetValue(d);
        (void)attribute->GetValue(f);
        (void)element->GetAttrValue(attribute->GetName(), b);
    }
    for (const icfg::ElementPtr& child : element->GetChildren()) {
        Convert(child);
    }
}

// Writes the tree read from the input and reads it back.
void RoundTrip(const icfg::ElementPtr& root)
{
    QuietConfiguration document;
    ElementRecorder out;
    out.toWrite = {root};
    const std::string file = g_dir + "/written.xml";
    bool validate = true;
    try {
        document.Write(out, file, icfg::Configuration::e_xsdAlways);
    } catch (const istd::Exception& e) {
        if (std::string(e.what()) != "invalid value") {
            if (std::string(e.what()).find("nested deeper") == std::string::npos) {
                Finding("write refused", e.what());
            }
            return;
        }
        // No schema describes this tree; the document alone must still be written.
        validate = false;
        try {
            document.Write(out, file, icfg::Configuration::e_xsdNever);
        } catch (const istd::Exception& e2) {
            Finding("write without schema refused", e2.what());
        }
    }
    ElementRecorder back;
    try {
        document.OpenDocument(file, validate);
        if (!document.Read(back) || back.received.size() != 1 || back.received[0]->GetChildren().size() != 1) {
            Finding("written document reads back empty", file);
        }
    } catch (const istd::Exception& e) {
        Finding("written document refused", e.what());
    }
    if (Dump(back.received[0]->GetChildren()[0]) != Dump(root)) {
        Finding("round trip changed the tree", Dump(root));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    g_dir = fuzzsupport::ScratchDir();
    g_types = fuzzsupport::ScratchTypesXsd();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input = g_dir + "/input.xml";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    QuietConfiguration document;
    try {
        document.OpenDocument(input, true);
    } catch (const istd::Exception&) {
    }
    try {
        document.OpenDocument(input, false);
    } catch (const istd::Exception&) {
        return 0;
    }
    std::string text;
    (void)document.GetDocVersion(text);
    (void)document.GetNodeValue("/configuration/*[1]", text);
    (void)document.GetSchemaFileName(input);
    ElementRecorder recorder;
    try {
        if (!document.Read(recorder)) {
            return 0;
        }
    } catch (const istd::Exception&) {
        return 0; // repeated attribute names
    }
    if (recorder.received.size() != 1) {
        Finding("the root path selected several elements", input);
    }
    Convert(recorder.received[0]);
    RoundTrip(recorder.received[0]);
    return 0;
}
