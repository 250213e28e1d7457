#include "server_registry.h"

#include "ireg/reg_value_node.h"
#include "ireg/signal_node.h"
#include "istd/trace.h"
#include "istd/ver_info.h"
#include "mci/mci.h"

namespace regserver {

namespace {

constexpr mci::Flags c_constant = mci::enums::eReadable | mci::enums::eConstant;
constexpr mci::Flags c_folder = mci::enums::eReadable | mci::enums::eWritable;

std::shared_ptr<ireg::RegNode> Folder(const std::shared_ptr<ireg::RegNode>& parent, const std::string& name)
{
    auto folder = std::static_pointer_cast<ireg::RegNode>(mci::factory::Create<ireg::RegNode>(name, c_folder));
    parent->Add(folder);
    return folder;
}

} // namespace

ServerRegistry::ServerRegistry(const std::string& configFile, const std::string& typesSchema)
    : m_configuration("1.0", typesSchema), m_signal("ramp", "registry-server")
{
    ISTD_TRACE_FNC("regserver::ServerRegistry::ServerRegistry(const std::string&, const std::string&)");
    m_root = std::static_pointer_cast<ireg::RegConfigNode>(
        mci::factory::Create<ireg::RegConfigNode>("root", configFile, &m_configuration, c_folder));
    m_root->CreateXsdFileOnSave(icfg::Configuration::e_xsdAlways);
    _AddInfo();
    m_settings.AddTo(Folder(m_root, "settings"));
    examples::AddTableNodes(Folder(m_root, "tables"));
    m_registers.AddTo(Folder(m_root, "registers"));
    m_control.AddCommand(m_root);
    m_root->Add(mci::factory::Create<ireg::SignalNode>("signal", &m_signal));
}

ServerRegistry::~ServerRegistry()
{
    ISTD_TRACE_FNC("regserver::ServerRegistry::~ServerRegistry()");
    Destroy();
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
    mci::TreeNodePtr root = std::move(m_root);
    m_root.reset();
    mci::DestroyNode(root);
}

void ServerRegistry::_AddInfo()
{
    ISTD_TRACE_FNC("void regserver::ServerRegistry::_AddInfo()");
    auto info = Folder(m_root, "info");
    info->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("name", std::string("registry-server"), c_constant));
    info->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(
        "version", istd::VerInfo::GetInstance().VersionString(), c_constant));
    m_control.AddUptime(info);
}

} // namespace regserver
