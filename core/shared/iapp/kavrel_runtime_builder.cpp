#include "iapp/kavrel_runtime_builder.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>

#include "ireg/reg_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_cstring_node.h"
#include "ireg/reg_reference_node.h"
#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/node.h"

namespace iapp {

namespace {

using mci::enums::NodeValType_e;

// The registry's default flags, which a node described without flags gets.
constexpr uint64_t c_defaultFlags = mci::TreeNode::c_defaultFlags;

// The path of a node from the registry root ("/a/b"), for traces.
std::string FullPath(const mci::TreeNodePtr& node)
{
    using mci::operator<<;
    std::ostringstream os;
    os << mci::Node(node, mci::c_noRelPath).GetFullPath(false);
    return os.str();
}

[[noreturn]] void Fail(const std::string& traced, const std::string& thrown)
{
    ISTD_TRACE(1, traced);
    throw istd::Exception(thrown, true);
}

[[noreturn]] void Fail(const std::string& text)
{
    Fail(text, text);
}

// A number of a description: hexadecimal after "0x" (a text longer than two characters), else
// decimal, always the whole text. istd::FromString reads the digits a hexadecimal text begins
// with and ignores the rest, which would take a mistyped "0x1O" as 1.
uint32_t ParseNumber(const std::string& text)
{
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x' &&
        text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
        throw istd::Exception("Bad hex cast from " + text + " to " + istd::CppName<uint32_t>(), true);
    }
    return istd::FromString<uint32_t>(text);
}

// The table value a decimal number stands for: only a number exactly equal to a row's value
// (a number is never cut to 32 bits first, so 2^32 + 2 is no flag).
template <class E>
E TableValue(int64_t number)
{
    for (const auto& row : istd::EnumMap<E>::items) {
        if (static_cast<int64_t>(static_cast<std::underlying_type_t<E>>(row.first)) == number) {
            return row.first;
        }
    }
    throw istd::Exception("Invalid enum value", true);
}

// A name of the table, or a decimal number; number receives it when it is one.
template <class E>
bool FindName(const std::string& word, E& value, int64_t& number)
{
    if (istd::EnumMap<E>::items.FindValue(word, value)) {
        return true;
    }
    if (!istd::ParseDecimalInt64(word, number)) {
        throw istd::Exception("Invalid integer value", true);
    }
    return false;
}

// The attributes of a reg_node or bit_node element, as read so far.
struct LeafAttributes {
    std::string name;
    uint32_t offset = 0;
    uint64_t flags = 0;
    NodeValType_e type = mci::enums::eNone;
    uint32_t size = 0;
    uint32_t stringSize = 0;
    uint32_t bitOffset = 0;
    uint32_t bitSize = 0;
};

enum class Leaf_e { eReg, eBit };

// Reads the attributes in their order, each converted as it is read; false at the first
// attribute that the element kind does not have.
bool ReadLeaf(const icfg::ElementPtr& element, Leaf_e kind, LeafAttributes& out)
{
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        const std::string name = attribute->GetName();
        const std::string value = attribute->GetValue();
        if (name == "name") {
            out.name = value;
        } else if (name == "offset") {
            out.offset = ParseNumber(value);
        } else if (name == "flags") {
            out.flags = KavrelRuntimeBuilder::ParseFlags(value);
        } else if (name == "type") {
            out.type = KavrelRuntimeBuilder::ParseType(value);
        } else if (kind == Leaf_e::eReg && name == "size") {
            out.size = ParseNumber(value);
        } else if (kind == Leaf_e::eReg && name == "string_size") {
            out.stringSize = ParseNumber(value);
        } else if (kind == Leaf_e::eBit && name == "bit_offset") {
            out.bitOffset = ParseNumber(value);
        } else if (kind == Leaf_e::eBit && name == "bit_size") {
            out.bitSize = ParseNumber(value);
        } else {
            return false;
        }
    }
    return true;
}

// A bit offset or size of a bit_node, which the node keeps in 8 bits.
uint8_t BitNumber(uint32_t value, const char* attribute, const std::string& node)
{
    if (value > KavrelRuntimeBuilder::c_maxBitNumber) {
        const std::string text = std::string("ERROR: Runtime builder - ") + attribute + " too large in bit_node " + node;
        Fail(text + ": " + std::to_string(value) + " > " + std::to_string(KavrelRuntimeBuilder::c_maxBitNumber),
             text + "!");
    }
    return static_cast<uint8_t>(value);
}

} // namespace

// ---------------------------------------------------------------------------------------------

RuntimeBuilderConfig::RuntimeBuilderConfig() : icfg::Configuration("1.0", "") {}

RuntimeBuilderConfig::~RuntimeBuilderConfig() = default;

void RuntimeBuilderConfig::ErrorCallback(const std::string& message)
{
    istd::LogCritical("Runtime configuration error: " + message);
}

std::string RuntimeBuilderConfig::GetApplicationName()
{
    return "runtime_config";
}

// ---------------------------------------------------------------------------------------------

KavrelRuntimeBuilder::KavrelRuntimeBuilder(mci::TreeNodePtr& root, void* base, size_t size,
                                           const std::string& fileName, size_t alignment)
    : m_root(root), m_base(static_cast<char*>(base)), m_fileName(fileName), m_size(size), m_alignment(alignment)
{
    ISTD_TRACE_FNC("iapp::KavrelRuntimeBuilder::KavrelRuntimeBuilder(mci::TreeNodePtr&, void*, size_t, const "
                   "std::string&, size_t)");
    if (!m_root) {
        Fail("ERROR: Runtime builder - no root node!");
    }
    // Offsets are tested modulo the alignment.
    if (m_alignment == 0) {
        Fail("ERROR: Runtime builder - alignment must be at least 1!");
    }
    icfg::Configuration::Initialize();
    try {
        m_config.OpenDocument(m_fileName, true);
    } catch (...) {
        icfg::Configuration::Cleanup();
        throw;
    }
}

KavrelRuntimeBuilder::~KavrelRuntimeBuilder()
{
    ISTD_TRACE_FNC("iapp::KavrelRuntimeBuilder::~KavrelRuntimeBuilder()");
    m_config.CloseDocument();
    icfg::Configuration::Cleanup();
}

bool KavrelRuntimeBuilder::BuildRegistry()
{
    ISTD_TRACE_FNC("bool iapp::KavrelRuntimeBuilder::BuildRegistry()");
    try {
        if (m_config.Read(*this)) {
            return true;
        }
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "ERROR: Runtime builder cannot parse  configuration file " << m_fileName
                                                                               << " - Error: " << e.what());
        throw;
    }
    ISTD_TRACE(1, "ERROR: Can not read runtime registry configuration.");
    return false;
}

bool KavrelRuntimeBuilder::Deserialize(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("bool iapp::KavrelRuntimeBuilder::Deserialize(const icfg::ElementList&)");
    if (elements.size() != 1 || !elements.front()) {
        return false;
    }
    m_depth = 0;
    mci::TreeNodePtr root = m_root;
    ParseNode(elements.front(), root);
    return true;
}

bool KavrelRuntimeBuilder::ParseNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent)
{
    ISTD_TRACE_FNC("bool iapp::KavrelRuntimeBuilder::ParseNode(const icfg::ElementPtr&, mci::TreeNodePtr&)");
    for (const icfg::ElementPtr& child : element->GetChildren()) {
        if (!child) {
            continue;
        }
        const std::string name = child->GetName();
        if (name == "reg_node") {
            ParseRegNode(child, parent);
        } else if (name == "bit_node") {
            ParseBitNode(child, parent);
        } else if (name == "node") {
            if (m_depth >= c_maxNodeDepth) {
                Fail("ERROR: Runtime builder - nodes nested deeper than " + std::to_string(c_maxNodeDepth) + "!");
            }
            mci::TreeNodePtr node = AddNode(child, parent);
            ++m_depth;
            ParseNode(child, node);
            --m_depth;
        } else {
            ISTD_TRACE(1, "ERROR: Runtime builder - unknown entry while parsing node!");
        }
    }
    return true;
}

mci::TreeNodePtr KavrelRuntimeBuilder::AddNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent)
{
    ISTD_TRACE_FNC("mci::TreeNodePtr iapp::KavrelRuntimeBuilder::AddNode(const icfg::ElementPtr&, mci::TreeNodePtr&)");
    std::string name;
    uint64_t flags = 0;
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        const std::string attributeName = attribute->GetName();
        if (attributeName == "name") {
            name = attribute->GetValue();
        } else if (attributeName == "flags") {
            flags = ParseFlags(attribute->GetValue());
        }
    }
    // A branch keeps the low 32 bits of its flags.
    flags &= 0xFFFFFFFFu;
    if (flags == 0) {
        flags = c_defaultFlags;
    }
    mci::TreeNodePtr node = _Attach(parent, mci::factory::Create<ireg::RegNode>(name, mci::Flags(flags)));
    ISTD_TRACE(4, "AddNode() adding new node: " << FullPath(node) << " (flags: " << flags << " )");
    return node;
}

bool KavrelRuntimeBuilder::ParseRegNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent)
{
    ISTD_TRACE_FNC("bool iapp::KavrelRuntimeBuilder::ParseRegNode(const icfg::ElementPtr&, mci::TreeNodePtr&)");
    LeafAttributes a;
    if (!ReadLeaf(element, Leaf_e::eReg, a)) {
        return false;
    }
    if (a.flags == 0) {
        a.flags = c_defaultFlags;
    }
    if (a.size > 1) {
        a.flags |= c_arrayFlag;
    } else if ((a.flags & c_arrayFlag) != 0 && a.size == 0) {
        Fail("ERROR: Array size missing!");
    }
    using namespace mci::enums;
    switch (a.type) {
    case eString:
        if (a.stringSize == 0) {
            Fail("ERROR: String size missing!");
        }
        AddStringRegistryNode(parent, a.name, a.offset, a.flags, a.stringSize, a.size);
        break;
    case eBool: AddRegistryNode<bool>(parent, a.name, a.offset, a.flags, a.size); break;
    case eInt32: AddRegistryNode<int32_t>(parent, a.name, a.offset, a.flags, a.size); break;
    case eUInt32: AddRegistryNode<uint32_t>(parent, a.name, a.offset, a.flags, a.size); break;
    case eInt64: AddRegistryNode<int64_t>(parent, a.name, a.offset, a.flags, a.size); break;
    case eUInt64: AddRegistryNode<uint64_t>(parent, a.name, a.offset, a.flags, a.size); break;
    case eDouble: AddRegistryNode<double>(parent, a.name, a.offset, a.flags, a.size); break;
    case eFloat: AddRegistryNode<float>(parent, a.name, a.offset, a.flags, a.size); break;
    default:
        Fail("ERROR: Registry node type not currently  supported!", "Registry node type not currently supported!");
    }
    ISTD_TRACE(4, "Adding reg_node (" << a.name << " ," << a.offset << " , " << a.flags
                                      << " ) on node: " << FullPath(parent));
    return true;
}

bool KavrelRuntimeBuilder::ParseBitNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent)
{
    ISTD_TRACE_FNC("bool iapp::KavrelRuntimeBuilder::ParseBitNode(const icfg::ElementPtr&, mci::TreeNodePtr&)");
    LeafAttributes a;
    if (!ReadLeaf(element, Leaf_e::eBit, a)) {
        return false;
    }
    // A bit node keeps the low 32 bits of its flags.
    a.flags &= 0xFFFFFFFFu;
    if (a.flags == 0) {
        a.flags = c_defaultFlags;
    }
    const uint8_t bitOffset = BitNumber(a.bitOffset, "bit_offset", a.name);
    const uint8_t bitSize = BitNumber(a.bitSize, "bit_size", a.name);
    using namespace mci::enums;
    switch (a.type) {
    case eBool: AddBitRegistryNode<bool>(parent, a.name, a.offset, bitOffset, bitSize, a.flags); break;
    case eInt32: AddBitRegistryNode<int32_t>(parent, a.name, a.offset, bitOffset, bitSize, a.flags); break;
    case eUInt32: AddBitRegistryNode<uint32_t>(parent, a.name, a.offset, bitOffset, bitSize, a.flags); break;
    case eInt64: AddBitRegistryNode<int64_t>(parent, a.name, a.offset, bitOffset, bitSize, a.flags); break;
    case eUInt64: AddBitRegistryNode<uint64_t>(parent, a.name, a.offset, bitOffset, bitSize, a.flags); break;
    default: Fail("ERROR: Registry node type not currently supported!", "Registry node type not currently supported!");
    }
    ISTD_TRACE(4, "AddBitNode() adding bit_node (" << a.name << " ," << a.offset << " , " << a.flags
                                                   << " ) on node: " << FullPath(parent) << " bits=("
                                                   << unsigned(bitOffset) << " , " << unsigned(bitSize) << " )");
    return true;
}

uint64_t KavrelRuntimeBuilder::ParseFlags(const std::string& text)
{
    using mci::enums::Flags_e;
    uint64_t flags = 0;
    for (const std::string& word : istd::TokenizeString(text, " ")) {
        Flags_e flag{};
        int64_t number = 0;
        if (FindName(word, flag, number)) {
            flags |= flag;
        } else if (number != 0) {
            // The table's own value, so a flag is ORed as it stands (zero-extended).
            flags |= static_cast<uint64_t>(TableValue<Flags_e>(number));
        }
    }
    return flags;
}

NodeValType_e KavrelRuntimeBuilder::ParseType(const std::string& text)
{
    NodeValType_e type{};
    int64_t number = 0;
    return FindName(text, type, number) ? type : TableValue<NodeValType_e>(number);
}

void KavrelRuntimeBuilder::_CheckOffset(uint32_t offset) const
{
    if (offset >= m_size) {
        Fail("ERROR: CalculateAddr - Offset too large: " + std::to_string(offset) + " >= " + std::to_string(m_size),
             "ERROR: CalculateAddr - Offset too large!");
    }
}

void KavrelRuntimeBuilder::_CheckExtent(uint32_t offset, size_t elementSize, size_t count) const
{
    // offset < m_size holds, so nothing here can overflow.
    if (elementSize != 0 && count > (m_size - offset) / elementSize) {
        Fail("ERROR: CalculateAddr - Node too large: offset " + std::to_string(offset) + " + " +
                 std::to_string(count) + " x " + std::to_string(elementSize) + " bytes > " + std::to_string(m_size),
             "ERROR: CalculateAddr - Node too large!");
    }
}

template <class T>
volatile T* KavrelRuntimeBuilder::CalculateAddr(const uint32_t& offset, size_t count)
{
    _CheckOffset(offset);
    if (offset % m_alignment != 0) {
        Fail("ERROR: CalculateAddr - Alignment exception: offset " + std::to_string(offset) +
                 " is not multiple of " + std::to_string(m_alignment),
             "ERROR: CalculateAddr - Alignment exception");
    }
    _CheckExtent(offset, sizeof(T), count);
    return reinterpret_cast<volatile T*>(m_base + offset);
}

template <class T>
mci::TreeNodePtr KavrelRuntimeBuilder::AddRegistryNode(mci::TreeNodePtr& parent, const std::string& name,
                                                       const uint32_t& offset, const uint64_t& flags, size_t size)
{
    using Node = ireg::RegReferenceNode<T, volatile T>;
    if ((flags & c_arrayFlag) != 0 || size > 1) {
        volatile T* elements = CalculateAddr<T>(offset, size);
        return _Attach(parent, mci::factory::Create<Node>(name, size, elements, mci::Flags(flags)));
    }
    // By address: with an alignment below T's the element may lie off it, where even binding a
    // reference to it is undefined; the node reads and writes such an element byte by byte.
    volatile T* element = CalculateAddr<T>(offset, 1);
    return _Attach(parent, mci::factory::Create<Node>(name, element, mci::Flags(flags)));
}

template <class T>
mci::TreeNodePtr KavrelRuntimeBuilder::AddBitRegistryNode(mci::TreeNodePtr& parent, const std::string& name,
                                                          const uint32_t& offset, const uint8_t& bitOffset,
                                                          const uint8_t& bitSize, const uint64_t& flags)
{
    volatile uint32_t* word = CalculateAddr<uint32_t>(offset, 1);
    return _Attach(parent, mci::factory::Create<ireg::RegReferenceBitNode<T, volatile uint32_t>>(
                               name, word, unsigned(bitOffset), unsigned(bitSize), mci::Flags(flags)));
}

mci::TreeNodePtr KavrelRuntimeBuilder::AddStringRegistryNode(mci::TreeNodePtr& parent, const std::string& name,
                                                             const uint32_t& offset, const uint64_t& flags,
                                                             size_t stringSize, size_t size)
{
    _CheckOffset(offset);
    _CheckExtent(offset, stringSize, size == 0 ? 1 : size);
    char* address = m_base + offset;
    if (size == 0) {
        return _Attach(parent, mci::factory::Create<ireg::RegReferenceCStringNode>(name, stringSize, address,
                                                                                   mci::Flags(flags)));
    }
    return _Attach(parent, mci::factory::Create<ireg::RegReferenceCStringNode>(name, stringSize, address,
                                                                               mci::Flags(flags), size));
}

mci::TreeNodePtr KavrelRuntimeBuilder::_Attach(mci::TreeNodePtr& parent, const mci::TreeNodePtr& node)
{
    if (!node) {
        Fail("ERROR: Runtime builder - a registry node could not be made!");
    }
    // Looked up only when the trace would be written: a build that traces nothing pays nothing.
    if (istd::TraceFile::IsActive(1) && parent->GetNode(node->GetName())) {
        ISTD_TRACE(1, "ERROR: Runtime builder - name " << node->GetName() << " taken twice under "
                                                       << FullPath(parent) << ": the later node replaces the earlier");
    }
    return parent->Add(node);
}

template IAPP_API volatile bool* KavrelRuntimeBuilder::CalculateAddr<bool>(const uint32_t&, size_t);
template IAPP_API volatile int32_t* KavrelRuntimeBuilder::CalculateAddr<int32_t>(const uint32_t&, size_t);
template IAPP_API volatile uint32_t* KavrelRuntimeBuilder::CalculateAddr<uint32_t>(const uint32_t&, size_t);
template IAPP_API volatile int64_t* KavrelRuntimeBuilder::CalculateAddr<int64_t>(const uint32_t&, size_t);
template IAPP_API volatile uint64_t* KavrelRuntimeBuilder::CalculateAddr<uint64_t>(const uint32_t&, size_t);
template IAPP_API volatile double* KavrelRuntimeBuilder::CalculateAddr<double>(const uint32_t&, size_t);
template IAPP_API volatile float* KavrelRuntimeBuilder::CalculateAddr<float>(const uint32_t&, size_t);

#define IAPP_RUNTIME_BUILDER_ADD_NODE(T)                                                                             \
    template IAPP_API mci::TreeNodePtr KavrelRuntimeBuilder::AddRegistryNode<T>(                                    \
        mci::TreeNodePtr&, const std::string&, const uint32_t&, const uint64_t&, size_t);
IAPP_RUNTIME_BUILDER_ADD_NODE(bool)
IAPP_RUNTIME_BUILDER_ADD_NODE(int32_t)
IAPP_RUNTIME_BUILDER_ADD_NODE(uint32_t)
IAPP_RUNTIME_BUILDER_ADD_NODE(int64_t)
IAPP_RUNTIME_BUILDER_ADD_NODE(uint64_t)
IAPP_RUNTIME_BUILDER_ADD_NODE(double)
IAPP_RUNTIME_BUILDER_ADD_NODE(float)
#undef IAPP_RUNTIME_BUILDER_ADD_NODE

#define IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(T)                                                                         \
    template IAPP_API mci::TreeNodePtr KavrelRuntimeBuilder::AddBitRegistryNode<T>(                                 \
        mci::TreeNodePtr&, const std::string&, const uint32_t&, const uint8_t&, const uint8_t&, const uint64_t&);
IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(bool)
IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(int32_t)
IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(uint32_t)
IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(int64_t)
IAPP_RUNTIME_BUILDER_ADD_BIT_NODE(uint64_t)
#undef IAPP_RUNTIME_BUILDER_ADD_BIT_NODE

} // namespace iapp
