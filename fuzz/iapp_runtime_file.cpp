// Whole runtime registry descriptions from arbitrary bytes, through the builder's constructor
// (open and validate against the schema the document names: the build's runtime_config.xsd
// and types.xsd lie beside the input, so a document may name either, or any other file) and
// BuildRegistry, over a 4 KiB block with alignment 8.
//
// Refusals must be istd::Exception, from the constructor or from BuildRegistry; every node built
// (also before a refusal) must lie inside the block and be readable and writable without
// touching a byte outside it. Anything else is a finding.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "iapp/kavrel_runtime_builder.h"
#include "iapp_runtime_check.h"
#include "istd/exception.h"
#include "mci/factory.h"
#include "tests/support/files.h"

namespace {

constexpr size_t c_blockSize = 4096;
constexpr size_t c_alignment = 8;

std::string g_input;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    const std::string dir = fuzzsupport::ScratchDir();
    fuzzsupport::ScratchTypesXsd();
    std::filesystem::copy_file(std::filesystem::path(testsupport::TypesXsd()).replace_filename("runtime_config.xsd"),
                               dir + "/runtime_config.xsd");
    g_input = dir + "/input.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        std::ofstream out(g_input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::unique_ptr<char[]> block(new char[c_blockSize]());
    mci::TreeNodePtr root = mci::factory::Create<ireg::RegNode>("root");
    try {
        iapp::KavrelRuntimeBuilder builder(root, block.get(), c_blockSize, g_input, c_alignment);
        builder.BuildRegistry();
    } catch (const istd::Exception&) {
        // not readable, not valid, or an element refused
    }
    fuzzsupport::BlockCheck(block.get(), c_blockSize).Walk(root);
    mci::DestroyNode(root);
    return 0;
}
