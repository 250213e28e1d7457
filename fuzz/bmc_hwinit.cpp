// Hardware-initialisation scripts and their parameters from arbitrary bytes. The input is
// "NAME=VALUE" lines up to a line "%%", then the script (without such a line, all of it is
// script). Parameters are substituted, the script compiled into an area of exactly its size.
// A refusal must be an istd::Exception; an area must stay within its size, and a compiled one
// must decode, instruction by instruction, to exactly its length. Anything else (another
// exception, a sanitizer report, bytes that do not decode) is a finding.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bmc/config_mng.h"
#include "fuzz_support.h"
#include "istd/exception.h"

namespace {

using fuzzsupport::Finding;

// Every macro expands to native instructions, so the area is a sequence of them.
void Decode(const std::vector<unsigned char>& area, unsigned int length)
{
    size_t pos = 0;
    while (pos < length) {
        const unsigned int opcode = area[pos];
        const bmc::ConfigMng::CmdList_t* row = bmc::cmdList;
        while (row->mnemonic != nullptr && row->opcode != opcode) {
            ++row;
        }
        if (row->mnemonic == nullptr) {
            Finding("unknown opcode in the area", std::to_string(opcode));
        }
        pos += 1 + row->params * row->size;
    }
    if (pos != length) {
        Finding("the last instruction runs past the length", std::to_string(length));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    std::cout.rdbuf(nullptr); // script errors print their message; nobody reads it here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string script = input;
    std::vector<std::pair<std::string, std::string>> params;
    const size_t mark = input.find("\n%%\n");
    if (mark != std::string::npos || input.compare(0, 3, "%%\n") == 0) {
        const size_t head = mark == std::string::npos ? 0 : mark;
        script = input.substr(mark == std::string::npos ? 3 : mark + 4);
        size_t pos = 0;
        while (pos < head) {
            const size_t end = std::min(input.find('\n', pos), head);
            const std::string line = input.substr(pos, end - pos);
            const size_t eq = line.find('=');
            if (eq != std::string::npos) {
                params.emplace_back(line.substr(0, eq), line.substr(eq + 1));
            }
            pos = end + 1;
        }
    }
    std::vector<unsigned char> area(bmc::c_hwInitAreaSize, 0);
    unsigned int length = 0;
    bool compiled = false;
    try {
        for (const auto& [name, value] : params) {
            bmc::SubstituteHwInitParameter(script, name, value);
            if (script.size() > bmc::ConfigMng::c_maxScriptLength) {
                Finding("substitution passed the script limit", name);
            }
        }
        bmc::ConfigMng::HwInitParser(script, area.data(), &length);
        compiled = true;
    } catch (const istd::Exception&) {
    }
    if (length > bmc::c_hwInitAreaSize) {
        Finding("length beyond the area", std::to_string(length));
    }
    // A failed statement may leave its opcode or part of a macro behind; only a whole
    // compilation must decode.
    if (compiled) {
        Decode(area, length);
    }
    return 0;
}
