#include "ireg/reg_config_node.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "istd/log.h"
#include "istd/trace.h"

namespace ireg {

namespace {

const char c_defaultVersion[] = "1.0";
const char c_defaultTypesSchema[] = "/opt/kavrel/xsd/2.8/types.xsd";

} // namespace

RegConfigNode::RegConfigNode(const std::string& name, const std::string& fileName,
                             icfg::Configuration* configuration, mci::Flags flags)
    : RegNode(name, flags), m_fileName(fileName), m_configuration(configuration), m_ownConfiguration(false)
{
    ISTD_TRACE_FNC("ireg::RegConfigNode::RegConfigNode(const std::string&, const std::string&, icfg::Configuration*, mci::Flags)");
    if (m_configuration == nullptr) {
        m_configuration = new icfg::Configuration(c_defaultVersion, c_defaultTypesSchema);
        m_ownConfiguration = true;
    }
}

RegConfigNode::~RegConfigNode()
{
    ISTD_TRACE_FNC("ireg::RegConfigNode::~RegConfigNode()");
    if (m_ownConfiguration) {
        delete m_configuration;
    }
}

RegConfigNode& RegConfigNode::CreateXsdFileOnSave(const icfg::Configuration::CreateXsd_e& mode)
{
    auto lock = Lock();
    m_xsdMode = mode;
    return *this;
}

bool RegConfigNode::Serialize(icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::Serialize(icfg::ElementList&)");
    for (const mci::TreeNodePtr& child : GetAllNodes()) {
        if (auto* node = dynamic_cast<RegNode*>(child.get())) {
            if (icfg::ElementPtr element = node->Serialize()) {
                elements.push_back(std::move(element));
            }
        }
    }
    return true;
}

bool RegConfigNode::Deserialize(const icfg::ElementList& elements)
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::Deserialize(const icfg::ElementList&)");
    if (elements.size() != 1 || !elements.front()) {
        return false;
    }
    bool result = true;
    for (const icfg::ElementPtr& element : elements.front()->GetChildren()) {
        try {
            const mci::TreeNodePtr child = GetNode(element->GetName(), mci::c_noRelPath);
            if (auto* node = dynamic_cast<RegNode*>(child.get())) {
                result = node->Deserialize(element) && result;
            }
        } catch (const istd::Exception& e) {
            ISTD_TRACE(2, e.what());
            result = false;
        }
    }
    return result;
}

icfg::ElementPtr RegConfigNode::OnSerialize()
{
    return icfg::ElementPtr();
}

bool RegConfigNode::OnDeserialize(const icfg::ElementPtr&)
{
    return true;
}

bool RegConfigNode::_LoadFile()
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::_LoadFile()");
    try {
        // Only a file that does not exist is missing. One that exists but cannot be opened
        // (permissions, I/O) may hold the real settings: it is treated like a damaged file, so
        // that the clean-up at shutdown does not replace it with the built-in values.
        if (std::FILE* probe = std::fopen(m_fileName.c_str(), "r")) {
            std::fclose(probe);
        } else {
            const int error = errno;
            const std::string reason = std::strerror(error);
            if (error == ENOENT) {
                istd::LogWarning("Can't read configuration file " + m_fileName + ", error: " + reason +
                                 ". Will use default values.");
                return false;
            }
            throw istd::Exception("Can't read configuration file " + m_fileName + ", error: " + reason + ".", true);
        }
        m_configuration->OpenDocument(m_fileName, true);
        const bool read = m_configuration->Read(*this);
        m_configuration->CloseDocument();
        if (!read) {
            istd::LogWarning("Can't update all persistent nodes from configuration file.");
        }
        return read;
    } catch (const istd::Exception& e) {
        istd::LogWarning("Can't parse configuration file " + m_fileName + " - Error: " + e.what());
        m_mayWrite.store(false);
        m_configuration->CloseDocument();
        throw;
    }
}

bool RegConfigNode::OnLoadConfiguration()
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::OnLoadConfiguration()");
    ISTD_TRACE(1, "Loading: " << m_fileName);
    bool result = _LoadFile();
    ISTD_TRACE(1, "Loaded: " << m_fileName << (result ? " successfully" : " unsuccessfully"));
    return RegNode::OnLoadConfiguration() && result;
}

bool RegConfigNode::OnWriteConfiguration()
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::OnWriteConfiguration()");
    if (!m_mayWrite.load()) {
        istd::LogWarning("Registry cannot store persistent information to file " + m_fileName +
                         ". Parser reported errors at loading this file.");
        return false;
    }
    bool result = true;
    try {
        m_configuration->Write(*this, m_fileName, m_xsdMode);
    } catch (const istd::Exception& e) {
        istd::LogWarning("Registry cannot store persistent information to file " + m_fileName + ". Error - " +
                         e.what());
        result = false;
    }
    return RegNode::OnWriteConfiguration() && result;
}

bool RegConfigNode::OnCleanup(const mci::Path& path)
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::OnCleanup(const mci::Path&)");
    (void)WriteConfiguration();
    return RegNode::OnCleanup(path);
}

} // namespace ireg
