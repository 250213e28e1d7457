// CORBA values as a remote client sends them to SetValue and GetValue, against a registry with a
// node of every kind. Input: byte 0 picks the node, byte 1 is the position, bytes 2-5 the count
// (little-endian), byte 6 the TypeCode kind asked for on reading, byte 7 the TypeCode of the
// value (one of Types() below), and the rest the value's bytes as CDR (little-endian, aligned as
// they follow the TypeCode in an encapsulation), unmarshalled by the ORB as it does for a
// request. A write may only fail with InvalidType or ValueException and then leaves the node as
// it was; a read may only fail with those two; neither may crash or allocate by the count asked
// for. The TypeCodes come from a table (fuzz/corba_input.h).

#include <omniORB4/CORBA.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "corba_input.h"
#include "fuzz_support.h"
#include "ireg/corba_value.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/terminal.h"
#include "isig/signal_types.h"
#include "mci/mci.h"

namespace {

using fuzzsupport::Check;

// Refuses one value, as components' range validators refuse some.
class RejectSeven : public ireg::Terminal {
public:
    RejectSeven() : Terminal("reject") {}
    using Terminal::OnEvaluate;
    bool OnEvaluate(const int32_t& value) const override { return value != 7; }
};

std::vector<mci::Node> MakeNodes()
{
    using mci::factory::Create;
    std::vector<mci::TreeNodePtr> nodes{
        Create<ireg::RegValueNode<int32_t>>("int32", 1),
        Create<ireg::RegValueNode<int32_t>>("int32s", std::vector<int32_t>{1, 2, 3, 4}, mci::Flags(6)),
        Create<ireg::RegValueNode<bool>>("bools", std::vector<bool>{true, false, true}, mci::Flags(6)),
        Create<ireg::RegValueNode<uint32_t>>("uint32", 5u),
        Create<ireg::RegValueNode<int64_t>>("int64s", std::vector<int64_t>{-1, 1}, mci::Flags(6)),
        Create<ireg::RegValueNode<uint64_t>>("uint64", uint64_t(9)),
        Create<ireg::RegValueNode<double>>("doubles", std::vector<double>{0.5, 1.5}, mci::Flags(6)),
        Create<ireg::RegValueNode<float>>("float", 2.5f),
        Create<ireg::RegValueNode<std::string>>("strings", std::vector<std::string>{"a", "b"}, mci::Flags(6)),
        Create<ireg::RegValueEnumNode<isig::AtomType_e>>("enum", isig::eAtomInt32, mci::Flags(6)),
        Create<ireg::RegValueEnumNode<isig::AtomType_e>>(
            "enums", std::vector<isig::AtomType_e>{isig::eAtomDouble, isig::eAtomInt8}, mci::Flags(6)),
        Create<ireg::RegExecNode>("cmd", [] { return true; }, mci::Flags(2)),
        Create<ireg::RegValueNode<int32_t>>(std::make_shared<RejectSeven>(), "validated", 0),
        Create<ireg::RegValueNode<int32_t>>("const", 3, mci::Flags(0x26)),
        Create<ireg::RegValueNode<int32_t>>("ro", 3, mci::Flags(2)),
        Create<ireg::RegNode>("folder"),
    };
    std::vector<mci::Node> handles;
    for (const auto& node : nodes) {
        handles.emplace_back(node, mci::c_noRelPath);
    }
    return handles;
}

template <class F>
bool RefusedOnlyAsTheRegistryRefuses(F f)
{
    try {
        f();
        return false;
    } catch (const i_NET::InvalidType&) {
    } catch (const i_NET::ValueException&) {
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Orb();
    static const std::vector<mci::Node> nodes = MakeNodes();
    if (size < 8) {
        return 0;
    }
    const mci::Node& node = nodes[data[0] % nodes.size()];
    const CORBA::ULong pos = data[1];
    const CORBA::ULong count = CORBA::ULong(data[2]) | CORBA::ULong(data[3]) << 8 | CORBA::ULong(data[4]) << 16 |
                               CORBA::ULong(data[5]) << 24;
    const auto kind = static_cast<CORBA::TCKind>(data[6] % 40);

    CORBA::Any value;
    if (!fuzzsupport::ReadAny(data[7], data + 8, size - 8, value)) {
        return 0; // the ORB refuses the request before the servant sees it
    }

    const std::string before = node.ToString(1000);
    if (RefusedOnlyAsTheRegistryRefuses([&] { ireg::SetCorbaValue(node, value, pos); })) {
        Check(node.ToString(1000) == before);
    }
    CORBA::Any out;
    RefusedOnlyAsTheRegistryRefuses([&] { ireg::GetCorbaValue(node, pos, count, kind, out); });
    // Whatever came in can be shown and classified.
    ireg::CorbaValueText(value);
    ireg::ElementKind(value);
    return 0;
}
