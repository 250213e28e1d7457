// Texts written to enumeration nodes, as a remote client or a configuration file hands them over.
// The first byte picks the node (an unsigned enumeration, a signed one, a command node, a
// three-bit field of a register word), the rest is the text, written alone and as a list. Every
// refusal must be an istd::Exception that leaves the node as it was; an accepted text must name
// the stored value or be a decimal number equal to its widened code.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "isig/signal_types.h"
#include "istd/enum_map.h"
#include "istd/trace.h"
#include "mci/mci.h"

namespace {

using mci::c_noRelPath;

using fuzzsupport::Check;

std::string Name(ireg::RegNode& node)
{
    std::string name;
    node.Get(name, 0, c_noRelPath);
    return name;
}

int64_t Code(ireg::RegNode& node)
{
    int64_t code = 0;
    node.Get(code, 0, c_noRelPath);
    return code;
}

// One write of the text, alone or as a one-element list.
void WriteText(ireg::RegNode& node, const std::string& text, bool asList)
{
    const std::string nameBefore = Name(node);
    try {
        if (asList) {
            node.Set(std::vector<std::string>{text}, 0, c_noRelPath);
        } else {
            node.Set(text, 0, c_noRelPath);
        }
    } catch (const istd::Exception&) {
        Check(Name(node) == nameBefore);
        return;
    }
    int64_t number = 0;
    Check(Name(node) == text || (istd::ParseDecimalInt64(text, number) && number == Code(node)));
}

void Exercise(ireg::RegNode& node, const std::string& text)
{
    WriteText(node, text, false);
    WriteText(node, text, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0: {
        ireg::RegValueEnumNode<istd::TraceLevel_e> node("level", istd::eTraceInfo);
        Exercise(node, text);
        break;
    }
    case 1: {
        ireg::RegValueEnumNode<isig::AtomType_e> node("atom", isig::eAtomInt32);
        Exercise(node, text);
        break;
    }
    case 2: {
        int runs = 0;
        ireg::RegExecNode node("cmd", [&runs] { return ++runs > 0; }, mci::enums::eReadable);
        Exercise(node, text);
        Check(Name(node) == "Execute");
        break;
    }
    default: {
        volatile uint64_t word = ~uint64_t(0);
        ireg::RegReferenceEnumBitNode<istd::TraceLevel_e, volatile uint64_t> node("bits", word, 61, 3);
        node.Set(int32_t(istd::eTraceError), 0, c_noRelPath);
        Exercise(node, text);
        Check((word & ((uint64_t(1) << 61) - 1)) == (uint64_t(1) << 61) - 1); // the other bits stay
        break;
    }
    }
    return 0;
}
