// Arbitrary bytes as the configuration file of a registry holding every node kind (value,
// reference, function, enumeration, command and bit-field nodes, scalar and array, read-only,
// constant and validated ones, a group that is not persistent and a nested configuration node).
// The load may refuse the file only with istd::Exception, and never changes it. A refused file
// is never written afterwards; after an accepted one the registry's own file must load again,
// in a fresh registry, to the same values. Anything else is a finding.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "icfg/configuration.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/terminal.h"
#include "istd/exception.h"
#include "mci/factory.h"
#include "tests/support/files.h"

namespace {

using fuzzsupport::Finding;

std::string g_dir;
std::string g_types;
constexpr mci::Flags c_persistent = 0xE;

class QuietConfiguration : public icfg::Configuration {
public:
    QuietConfiguration() : icfg::Configuration("1.0", g_types) {}
    void ErrorCallback(const std::string&) override {}
};

// Refuses negative numbers.
class NotNegative : public ireg::Terminal {
public:
    NotNegative() : Terminal("notNegative") {}
    using Terminal::OnEvaluate;
    bool OnEvaluate(const int32_t& value) const override { return value >= 0; }
    std::string ToText() const override { return "notNegative"; }
};

template <class T>
mci::TreeNodePtr Value(const std::string& name, const T& value, mci::Flags flags = c_persistent)
{
    return mci::factory::Create<ireg::RegValueNode<T>>(name, value, flags);
}

template <class T>
mci::TreeNodePtr Array(const std::string& name, std::vector<T> values)
{
    return mci::factory::Create<ireg::RegValueNode<T>>(name, values, c_persistent);
}

// The storage of the reference, function and bit-field nodes.
struct Storage {
    int32_t referenced = 3;
    double doubles[3] = {0.5, 1.5, 2.5};
    std::string text = "held";
    float function = 0.25f;
    uint64_t functionArray[4] = {1, 2, 3, 4};
    volatile uint32_t word = 0x12345678;
    volatile uint64_t words[2] = {0, ~uint64_t(0)};
    istd::TraceLevel_e level = istd::eTraceInfo;
};

struct Registry {
    QuietConfiguration document;
    QuietConfiguration nestedDocument;
    Storage storage;
    mci::TreeNodePtr root;

    explicit Registry(const std::string& file)
    {
        using namespace ireg;
        root = mci::factory::Create<RegConfigNode>("root", file, &document);
        Config().CreateXsdFileOnSave(icfg::Configuration::e_xsdNever);
        Add(Value("b", true));
        Add(Value("i", int32_t(-4)));
        Add(Value("u", uint32_t(4)));
        Add(Value("l", int64_t(-5)));
        Add(Value("ul", uint64_t(5)));
        Add(Value("d", 0.1));
        Add(Value("f", 0.1f));
        Add(Value("s", std::string("text")));
        Add(Array("bs", std::vector<bool>{true, false}));
        Add(Array("is", std::vector<int32_t>{1, 2, 3}));
        Add(Array("us", std::vector<uint32_t>{}));
        Add(Array("ls", std::vector<int64_t>{7}));
        Add(Array("uls", std::vector<uint64_t>{8, 9}));
        Add(Array("ds", std::vector<double>{1.0, 2.0}));
        Add(Array("fs", std::vector<float>{3.0f}));
        Add(Array("ss", std::vector<std::string>{"a", "b"}));
        Add(Value("readonly", int32_t(1), mci::Flags(0xA)));
        Add(Value("constant", int32_t(1), mci::Flags(0x2E)));
        mci::TreeNodePtr validated = Add(Value("validated", int32_t(1)));
        dynamic_cast<RegNode&>(*validated).SetValidator(std::make_shared<NotNegative>());
        Add(mci::factory::Create<RegValueEnumNode<istd::TraceLevel_e>>("e", istd::eTraceWarning, c_persistent));
        Add(mci::factory::Create<RegValueEnumNode<istd::TraceLevel_e>>(
            "es", std::vector<istd::TraceLevel_e>{istd::eTraceError, istd::eTraceScope}, c_persistent));
        Add(mci::factory::Create<RegReferenceNode<int32_t>>("ref", storage.referenced, c_persistent));
        Add(mci::factory::Create<RegReferenceNode<double>>("refs", size_t(3), storage.doubles, c_persistent));
        Add(mci::factory::Create<RegReferenceNode<std::string>>("reftext", storage.text, c_persistent));
        Add(mci::factory::Create<RegReferenceEnumNode<istd::TraceLevel_e>>("reflevel", storage.level, c_persistent));
        Storage* s = &storage;
        Add(mci::factory::Create<RegFncNode<float>>(
            "fnc", [s](const float& v) { return s->function = v, true; },
            [s](float& v) { return v = s->function, true; }, c_persistent));
        Add(mci::factory::Create<RegFncNode<uint64_t>>(
            "fncs", size_t(4),
            [s](const uint64_t* v, size_t pos, size_t count) {
                return std::copy_n(v, count, s->functionArray + pos), true;
            },
            [s](uint64_t* v, size_t pos, size_t count) { return std::copy_n(s->functionArray + pos, count, v), count; },
            c_persistent));
        Add(mci::factory::Create<RegReferenceBitNode<uint32_t, volatile uint32_t>>("field", storage.word, 4u, 8u,
                                                                                  c_persistent));
        Add(mci::factory::Create<RegReferenceBitNode<bool, volatile uint64_t>>("flags", size_t(2), storage.words, 63u,
                                                                              1u, c_persistent));
        Add(mci::factory::Create<RegExecNode>("apply", [] { return true; }, c_persistent));
        mci::TreeNodePtr group = Add(mci::factory::Create<RegNode>("group", mci::Flags(6)));
        group->Add(Value("inner", 2.5));
        group->Add(Value("scratch", 2.5, mci::Flags(6)));
        mci::TreeNodePtr nested =
            group->Add(mci::factory::Create<RegConfigNode>("nested", g_dir + "/nested.xml", &nestedDocument));
        nested->Add(Value("deep", uint32_t(1)));
    }

    mci::TreeNodePtr Add(const mci::TreeNodePtr& node) { return root->Add(node); }
    ireg::RegConfigNode& Config() { return dynamic_cast<ireg::RegConfigNode&>(*root); }

    // Every value in the registry, floating-point ones by their bits (NaN as one text).
    std::string Dump()
    {
        return Dump(root);
    }

    template <class T>
    static void Append(std::ostringstream& os, const mci::TreeNodePtr& node)
    {
        std::vector<T> values;
        node->Get(values, 0, 0, mci::c_noRelPath);
        for (size_t i = 0; i < values.size(); ++i) {
            const T value = values[i];
            if constexpr (std::is_floating_point_v<T>) {
                os << (std::isnan(value) ? std::string("nan") : ireg::ConfigText(value))
                   << (std::signbit(value) ? "-" : "");
            } else {
                os << ireg::ValueText(value);
            }
            os << ",";
        }
    }

    static std::string Dump(const mci::TreeNodePtr& node)
    {
        using namespace mci::enums;
        std::ostringstream os;
        os << node->GetName() << "=";
        try {
            switch (node->GetValueType()) {
            case eBool: Append<bool>(os, node); break;
            case eInt32: Append<int32_t>(os, node); break;
            case eUInt32: Append<uint32_t>(os, node); break;
            case eInt64: Append<int64_t>(os, node); break;
            case eUInt64: Append<uint64_t>(os, node); break;
            case eDouble: Append<double>(os, node); break;
            case eFloat: Append<float>(os, node); break;
            case eString:
            case eEnumeration: Append<std::string>(os, node); break;
            default: break;
            }
        } catch (const istd::Exception& e) {
            os << "<" << e.what() << ">";
        }
        os << "{";
        for (const mci::TreeNodePtr& child : node->GetAllNodes()) {
            os << Dump(child) << ";";
        }
        os << "}";
        return os.str();
    }
};

// Loads the file into a fresh registry; false when the load threw istd::Exception.
bool Load(Registry& registry, std::string& error)
{
    try {
        dynamic_cast<ireg::RegNode&>(*registry.root).LoadConfiguration();
        return true;
    } catch (const istd::Exception& e) {
        error = e.what();
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    g_dir = fuzzsupport::ScratchDir();
    g_types = fuzzsupport::ScratchTypesXsd();
    // The schema of the registry (input.xsd) and of the nested file, which inputs name.
    {
        Registry registry(g_dir + "/input.xml");
        registry.Config().CreateXsdFileOnSave(icfg::Configuration::e_xsdAlways);
        dynamic_cast<ireg::RegConfigNode&>(*registry.root->GetNode("group")->GetNode("nested"))
            .CreateXsdFileOnSave(icfg::Configuration::e_xsdAlways);
        if (!dynamic_cast<ireg::RegNode&>(*registry.root).WriteConfiguration()) {
            std::abort();
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input = g_dir + "/input.xml";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    Registry registry(input);
    std::string error;
    const bool loaded = Load(registry, error);
    if (testsupport::ReadFile(input) != bytes) {
        Finding("the load changed the file", error);
    }
    const bool written = dynamic_cast<ireg::RegNode&>(*registry.root).WriteConfiguration();
    if (!loaded) {
        if (written || registry.Config().MayWrite() || testsupport::ReadFile(input) != bytes) {
            Finding("a refused file was written", error);
        }
        return 0;
    }
    if (!written) {
        Finding("an accepted file could not be written back", input);
    }
    Registry again(input);
    if (!Load(again, error)) {
        Finding("the written file was refused", error + "\n" + testsupport::ReadFile(input));
    }
    if (again.Dump() != registry.Dump()) {
        Finding("the written file loaded to other values", registry.Dump() + "\n" + again.Dump());
    }
    return 0;
}
