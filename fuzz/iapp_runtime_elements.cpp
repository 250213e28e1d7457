// The runtime registry builder fed element trees directly, as a caller of Deserialize may build
// them: a document's schema is chosen by the document itself and is no guard, and a tree made
// in code is not even bounded by the XML parser's depth limit.
//
// The input is text, one instruction a line:
//   #<alignment> <block size>   the builder's alignment (taken modulo 16, 0 as 1) and block size
//                               (modulo 65537); only as the first line, default "#4 4096"
//   +<name>                     opens a child element of that name under the current element
//   @<name>=<value>             adds an attribute to the current element
//   -                           closes the current element
// Other lines are ignored. The tree is handed to Deserialize as the one root element.
// Deserialize may refuse it only with istd::Exception; every node built (also before a
// refusal) must lie inside the block and be readable and writable without touching a byte
// outside it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "iapp/kavrel_runtime_builder.h"
#include "iapp_runtime_check.h"
#include "icfg/element.h"
#include "istd/exception.h"
#include "mci/factory.h"
#include "tests/support/files.h"

namespace {

using fuzzsupport::Finding;

// Deeper than the builder's nesting cap, so that the cap is reached; bounded, so that freeing
// the element tree (recursive) stays shallow.
constexpr size_t c_maxTreeDepth = 400;

std::string g_empty;

struct Input {
    size_t alignment = 4;
    size_t size = 4096;
    icfg::ElementPtr root = icfg::Element::Create("runtime_config");
};

Input Parse(const std::string& text)
{
    Input input;
    icfg::ElementPtr current = input.root;
    size_t depth = 0;
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        if (first && line[0] == '#') {
            char* rest = nullptr;
            input.alignment = std::strtoul(line.c_str() + 1, &rest, 10) % 16;
            input.alignment = input.alignment == 0 ? 1 : input.alignment;
            input.size = std::strtoul(rest, nullptr, 10) % 65537;
        } else if (line[0] == '+' && depth < c_maxTreeDepth) {
            icfg::ElementPtr child = icfg::Element::Create(line.substr(1));
            current->AddChild(child);
            current = child;
            ++depth;
        } else if (line[0] == '@') {
            const size_t equals = line.find('=');
            const std::string name = line.substr(1, equals == std::string::npos ? std::string::npos : equals - 1);
            const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
            try {
                current->AddAttribute(icfg::Attribute::Create(name, value));
            } catch (const istd::Exception&) {
                // a repeated name, as no document can hold it either
            }
        } else if (line[0] == '-' && depth > 0) {
            current = current->GetParent();
            --depth;
        }
        first = false;
    }
    return input;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    const std::string dir = fuzzsupport::ScratchDir();
    std::filesystem::copy_file(std::filesystem::path(testsupport::TypesXsd()).replace_filename("runtime_config.xsd"),
                               dir + "/runtime_config.xsd");
    g_empty = dir + "/empty.xml";
    testsupport::WriteFile(g_empty, "<runtime_config xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                    "xsi:noNamespaceSchemaLocation=\"runtime_config.xsd\"/>\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Input input = Parse(std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<char[]> block(new char[input.size]());
    mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
    {
        iapp::KavrelRuntimeBuilder builder(root, block.get(), input.size, g_empty, input.alignment);
        try {
            if (!builder.Deserialize({input.root})) {
                Finding("one root element was not taken", "");
            }
        } catch (const istd::Exception&) {
            // refused; the nodes before the refusal stay and are checked too
        }
    }
    fuzzsupport::BlockCheck(block.get(), input.size).Walk(root);
    mci::DestroyNode(root);
    return 0;
}
