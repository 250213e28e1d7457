#include "server_registry.h"

#include <mutex>
#include <vector>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_exec_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_reference_bit_node.h"
#include "ireg/reg_reference_node.h"
#include "ireg/reg_value_node.h"
#include "ireg/signal_node.h"
#include "ireg/validators.h"
#include "istd/trace.h"
#include "istd/ver_info.h"
#include "mci/mci.h"

ISTD_ENUM_TABLE(regserver::TriggerMode_e, {regserver::eTriggerOff, "off"}, {regserver::eTriggerInternal, "internal"},
                {regserver::eTriggerExternal, "external"}, {regserver::eTriggerSoftware, "software"});

namespace regserver {

namespace {

constexpr mci::Flags c_readOnly = mci::enums::eReadable;
constexpr mci::Flags c_constant = mci::enums::eReadable | mci::enums::eConstant;
constexpr mci::Flags c_setting = mci::enums::eReadable | mci::enums::eWritable;
constexpr mci::Flags c_persistent = c_setting | mci::enums::ePersistent;

// A block of 32-bit registers behind a lock, as a board's register file would be: concurrent
// accesses of different nodes over one word are whole-word and ordered.
class RegisterBlock : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t offset) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_words.at(offset / 4);
    }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_words.at(offset / 4) = value;
    }

private:
    std::mutex m_mutex;
    std::vector<uint32_t> m_words = std::vector<uint32_t>(ServerRegistry::c_registerWords, 0);
};

template <class N, class... A>
std::shared_ptr<N> Make(A&&... args)
{
    return std::static_pointer_cast<N>(mci::factory::Create<N>(std::forward<A>(args)...));
}

template <class N, class... A>
void Add(const std::shared_ptr<ireg::RegNode>& parent, A&&... args)
{
    parent->Add(mci::factory::Create<N>(std::forward<A>(args)...));
}

std::shared_ptr<ireg::RegNode> Folder(const std::shared_ptr<ireg::RegNode>& parent, const std::string& name)
{
    auto folder = Make<ireg::RegNode>(name, c_setting);
    parent->Add(folder);
    return folder;
}

} // namespace

ServerRegistry::ServerRegistry(const std::string& configFile, const std::string& typesSchema)
    : m_start(std::chrono::steady_clock::now()),
      m_configuration("1.0", typesSchema),
      m_signal("ramp", "registry-server")
{
    ISTD_TRACE_FNC("regserver::ServerRegistry::ServerRegistry(const std::string&, const std::string&)");
    m_registers = devio::ClaimRange(m_window, sizeof(m_window), std::make_shared<RegisterBlock>());
    m_root = Make<ireg::RegConfigNode>("root", configFile, &m_configuration, c_setting);
    m_root->CreateXsdFileOnSave(icfg::Configuration::e_xsdAlways);
    _AddInfo();
    _AddSettings();
    _AddTables();
    _AddRegisters();
    _AddCommand();
    Add<ireg::SignalNode>(m_root, "signal", &m_signal);
}

ServerRegistry::~ServerRegistry()
{
    ISTD_TRACE_FNC("regserver::ServerRegistry::~ServerRegistry()");
    Destroy();
    devio::ReleaseRange(m_registers);
}

bool ServerRegistry::Load()
{
    ISTD_TRACE_FNC("bool regserver::ServerRegistry::Load()");
    return m_root->LoadConfiguration();
}

void ServerRegistry::Destroy(bool save)
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::Destroy(bool)");
    if (!m_root) {
        return;
    }
    m_root->SetWriteOnCleanup(save);
    m_applied.reset();
    mci::TreeNodePtr root = std::move(m_root);
    m_root.reset();
    mci::DestroyNode(root);
}

void ServerRegistry::_AddInfo()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddInfo()");
    auto info = Folder(m_root, "info");
    Add<ireg::RegValueNode<std::string>>(info, "name", std::string("registry-server"), c_constant);
    Add<ireg::RegValueNode<std::string>>(info, "version", istd::VerInfo::GetInstance().VersionString(), c_constant);
    Add<ireg::RegFncNode<uint64_t>>(info, "uptime", this, 0, &ServerRegistry::_GetUptime, c_readOnly);
}

void ServerRegistry::_AddSettings()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddSettings()");
    auto settings = Folder(m_root, "settings");
    Add<ireg::RegValueNode<bool>>(settings, "enabled", true, c_persistent);
    settings->Add(mci::factory::Create<ireg::RegValueNode<int32_t>>(
        ireg::Expr<ireg::expr::Range<int32_t, int32_t>>(0, 100), "count", 10, c_persistent));
    Add<ireg::RegValueNode<uint32_t>>(settings, "limit", 1000u, c_persistent);
    Add<ireg::RegValueNode<int64_t>>(settings, "offset", int64_t(-5), c_persistent);
    Add<ireg::RegValueNode<uint64_t>>(settings, "total", uint64_t(0), c_persistent);
    Add<ireg::RegValueNode<double>>(settings, "gain", 1.5, c_persistent);
    Add<ireg::RegValueNode<float>>(settings, "ratio", 0.5f, c_persistent);
    Add<ireg::RegValueNode<std::string>>(settings, "label", std::string("demo"), c_persistent);
    Add<ireg::RegValueEnumNode<TriggerMode_e>>(settings, "mode", eTriggerInternal, c_persistent);
    Add<ireg::RegReferenceNode<double>>(settings, "threshold", m_threshold, c_persistent);
    Add<ireg::RegFncNode<bool>>(settings, "led", this, &ServerRegistry::_SetLed, &ServerRegistry::_GetLed, c_setting);
}

void ServerRegistry::_AddTables()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddTables()");
    auto tables = Folder(m_root, "tables");
    Add<ireg::RegValueNode<bool>>(tables, "flags", std::vector<bool>{true, false, true, false}, c_persistent);
    Add<ireg::RegValueNode<int32_t>>(tables, "counts", std::vector<int32_t>{1, 2, 3, 4}, c_persistent);
    Add<ireg::RegValueNode<uint32_t>>(tables, "limits", std::vector<uint32_t>{10, 20, 30, 4000000000u}, c_persistent);
    Add<ireg::RegValueNode<int64_t>>(tables, "offsets", std::vector<int64_t>{-1, 0, 1, -9000000000}, c_persistent);
    Add<ireg::RegValueNode<uint64_t>>(tables, "totals", std::vector<uint64_t>{0, 1, 2, UINT64_MAX}, c_persistent);
    Add<ireg::RegValueNode<double>>(tables, "gains", std::vector<double>{0.5, 1, 1.5, -2.25}, c_persistent);
    Add<ireg::RegValueNode<float>>(tables, "ratios", std::vector<float>{0.25f, 0.5f, 0.75f, 1}, c_persistent);
    Add<ireg::RegValueNode<std::string>>(tables, "labels", std::vector<std::string>{"a", "b", "c"}, c_persistent);
    Add<ireg::RegValueEnumNode<TriggerMode_e>>(
        tables, "modes", std::vector<TriggerMode_e>{eTriggerOff, eTriggerInternal, eTriggerExternal}, c_persistent);
}

void ServerRegistry::_AddRegisters()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddRegisters()");
    auto registers = Folder(m_root, "registers");
    volatile uint32_t* words = m_window;
    Add<ireg::RegReferenceNode<uint32_t, volatile uint32_t>>(registers, "words", c_registerWords, words, c_setting);
    Add<ireg::RegReferenceBitNode<bool, volatile uint32_t>>(registers, "enable", m_window[0], 0u, 1u, c_setting);
    Add<ireg::RegReferenceBitNode<uint32_t, volatile uint32_t>>(registers, "divider", m_window[0], 4u, 8u, c_setting);
    Add<ireg::RegReferenceEnumBitNode<TriggerMode_e, volatile uint32_t>>(registers, "modes", c_registerWords - 1,
                                                                         words + 1, 0u, 2u, c_setting);
}

void ServerRegistry::_AddCommand()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddCommand()");
    m_applied = Make<ireg::RegValueNode<uint32_t>>("applied", 0u, c_readOnly);
    Add<ireg::RegExecNode>(m_root, "apply", this, &ServerRegistry::_Apply);
    m_root->Add(m_applied);
}

bool ServerRegistry::_GetUptime(uint64_t& seconds) const
{
    seconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
    return true;
}

bool ServerRegistry::_GetLed(bool& on) const
{
    on = m_led;
    return true;
}

bool ServerRegistry::_SetLed(const bool& on)
{
    m_led = on;
    return true;
}

bool ServerRegistry::_Apply()
{
    ISTD_TRACE_FNC("bool regserver::ServerRegistry::_Apply()");
    uint32_t runs = 0;
    return m_applied->GetValue(runs) && m_applied->SetValue(runs + 1);
}

} // namespace regserver
