#include "ireg/reg_config_node.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "istd/log.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

namespace ireg {

namespace {

const char c_defaultVersion[] = "1.0";
const char c_defaultTypesSchema[] = "/opt/kavrel/xsd/2.8/types.xsd";

// Refused values listed in the warning about a kept file; the log has each of them already.
constexpr size_t c_listedRefusals = 20;
// The parser's messages quote the file: the log shows this much of them.
constexpr size_t c_parseErrorBytes = 1024;

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd = -1;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Copies the file byte for byte to a new file at copy (which must not exist), flushed to disk;
// the reason when it fails.
bool CopyFile(const std::string& from, const std::string& copy, std::string& reason)
{
    const int in = OpenRetrying(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (in < 0) {
        reason = std::strerror(errno);
        return false;
    }
    const int out = OpenRetrying(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (out < 0) {
        reason = std::strerror(errno);
        ::close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
        if (!ok) {
            break;
        }
    }
    ok = ok && ::fsync(out) == 0;
    if (!ok) {
        reason = std::strerror(errno);
    }
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok) {
        ::unlink(copy.c_str());
    }
    return ok;
}

// "<file>.refused-<UTC time>", with "-2", "-3" ... when that name is taken.
std::string KeptName(const std::string& fileName)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = fileName + ".refused-" + stamp;
    std::string name = base;
    struct stat st {};
    for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

// The paths ("/a/b") of the elements below element that hold a value (the attribute "value" or
// an array's "reg.array"). path is the element's own, extended for each child in place.
void CollectFileValues(const icfg::Element& element, std::string& path, detail::PathSet& out)
{
    for (const icfg::ElementPtr& child : element.GetChildren()) {
        if (!child) {
            continue;
        }
        const size_t length = path.size();
        path += '/';
        path += child->GetName();
        bool value = false;
        for (const icfg::AttributePtr& attribute : child->GetAttributes()) {
            value = value || (attribute && attribute->GetName() == "value");
        }
        if (value || child->FindChild("reg.array")) {
            out.Add(path);
        }
        CollectFileValues(*child, path, out);
        path.resize(length);
    }
}

// The persistent values below node that its file holds: a configuration node further down
// keeps its own. counted.first counts them, counted.second those the file gave no value.
void CountPersistent(const mci::TreeNode& node, std::string& path, const detail::PathSet& fileValues,
                     std::pair<size_t, size_t>& counted)
{
    for (const mci::TreeNodePtr& child : node.GetAllNodes()) {
        auto* regNode = dynamic_cast<RegNode*>(child.get());
        if (regNode == nullptr || dynamic_cast<RegConfigNode*>(regNode) != nullptr) {
            continue;
        }
        const size_t length = path.size();
        path += '/';
        path += regNode->GetName();
        if (regNode->IsPersistent() && regNode->GetValueType() != mci::enums::eNone) {
            ++counted.first;
            counted.second += fileValues.Contains(path) ? 0 : 1;
        }
        CountPersistent(*regNode, path, fileValues, counted);
        path.resize(length);
    }
}

// The summaries of the configuration nodes below node, added to summary.
void AddNestedSummaries(const mci::TreeNode& node, RegConfigNode::LoadSummary& summary)
{
    for (const mci::TreeNodePtr& child : node.GetAllNodes()) {
        if (auto* nested = dynamic_cast<RegConfigNode*>(child.get())) {
            const RegConfigNode::LoadSummary own = nested->GetLoadSummary();
            summary.values += own.values;
            summary.defaulted += own.defaulted;
            summary.refused += own.refused;
        } else if (child) {
            AddNestedSummaries(*child, summary);
        }
    }
}

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
    std::string path;
    // The values of this file only: a document read again without a load in between would
    // otherwise add its paths to those of the last read.
    m_fileValues.Clear();
    CollectFileValues(*elements.front(), path, m_fileValues);
    m_fileValues.Seal();
    bool result = true;
    for (const icfg::ElementPtr& element : elements.front()->GetChildren()) {
        try {
            const mci::TreeNodePtr child = GetNode(element->GetName(), mci::c_noRelPath);
            if (auto* node = dynamic_cast<RegNode*>(child.get())) {
                result = node->Deserialize(element) && result;
            } else {
                // Passed over as before; but the next write drops it.
                _ReportRefusal(std::string(), child ? "not a registry node" : "no such node", element->GetName());
            }
        } catch (const istd::Exception& e) {
            ISTD_TRACE(2, e.what());
            _ReportRefusal(std::string(), e.what(), element->GetName());
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

void detail::PathSet::Add(const std::string& path)
{
    m_spans.push_back(Span{std::hash<std::string_view>()(path), m_text.size(), path.size()});
    m_text += path;
}

void detail::PathSet::Seal()
{
    // A path added twice stays twice: the set lives for one load, and Contains finds either.
    std::sort(m_spans.begin(), m_spans.end(), [](const Span& a, const Span& b) { return a.hash < b.hash; });
}

bool detail::PathSet::Contains(const std::string& path) const
{
    const std::string_view text(m_text);
    const size_t hash = std::hash<std::string_view>()(path);
    auto at = std::lower_bound(m_spans.begin(), m_spans.end(), hash,
                               [](const Span& span, size_t h) { return span.hash < h; });
    for (; at != m_spans.end() && at->hash == hash; ++at) {
        if (text.substr(at->offset, at->length) == path) {
            return true;
        }
    }
    return false;
}

void detail::PathSet::Clear()
{
    m_text.clear();
    m_spans.clear();
}

RegConfigNode::LoadSummary RegConfigNode::GetLoadSummary()
{
    auto lock = Lock();
    LoadSummary summary = m_summary;
    AddNestedSummaries(*this, summary);
    return summary;
}

void RegConfigNode::_CountLoad()
{
    std::pair<size_t, size_t> counted{0, 0};
    std::string path;
    CountPersistent(*this, path, m_fileValues, counted);
    m_summary.values = counted.first;
    m_summary.defaulted = counted.second;
    m_summary.refused = m_refused.size();
    m_fileValues.Clear();
}

void RegConfigNode::_CheckWritable()
{
    std::string reason;
    if (m_mayWrite.load() && !icfg::Configuration::CanWrite(m_fileName, reason)) {
        // Found now rather than at the stop, when every setting of the run would be lost.
        istd::LogWarning("Can't write configuration file " + m_fileName + ", error: " + reason +
                         ". Settings changed from now on will be lost at stop.");
    }
}

bool RegConfigNode::_LoadFile()
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::_LoadFile()");
    m_refused.clear();
    m_fileValues.Clear();
    m_summary = LoadSummary();
    try {
        // Only a file that does not exist is missing. One that exists but cannot be read
        // (permissions, I/O) may hold the real settings: it is treated like a damaged file, so
        // that the clean-up at shutdown does not replace it with the built-in values. Nothing
        // but a regular file is opened: a FIFO would block the start for ever.
        struct stat st {};
        const auto refuse = [this](const std::string& reason) {
            throw istd::Exception("Can't read configuration file " + m_fileName + ", error: " + reason + ".", true);
        };
        if (::stat(m_fileName.c_str(), &st) != 0) {
            const int error = errno;
            if (error == ENOENT) {
                istd::LogWarning("Can't read configuration file " + m_fileName + ", error: " + std::strerror(error) +
                                 ". Will use default values.");
                _CountLoad();
                _CheckWritable();
                return false;
            }
            refuse(std::strerror(error));
        }
        if (!S_ISREG(st.st_mode)) {
            refuse("not a regular file");
        }
        const int probe = OpenRetrying(m_fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        if (probe < 0) {
            refuse(std::strerror(errno));
        }
        ::close(probe);
        m_configuration->OpenDocument(m_fileName, true);
        LoadRefusals refusals;
        const bool read = m_configuration->Read(*this);
        m_configuration->CloseDocument();
        m_refused = refusals.Entries();
        if (!read) {
            istd::LogWarning("Can't update all persistent nodes from configuration file.");
        }
        _CountLoad();
        _CheckWritable();
        return read;
    } catch (const istd::Exception& e) {
        istd::LogWarning("Can't parse configuration file " + m_fileName + " - Error: " +
                         istd::OutsideText(e.what(), c_parseErrorBytes));
        m_mayWrite.store(false);
        m_refused.clear();
        m_fileValues.Clear();
        m_configuration->CloseDocument();
        throw;
    }
}

bool RegConfigNode::_KeepRefusedFile()
{
    ISTD_TRACE_FNC("bool ireg::RegConfigNode::_KeepRefusedFile()");
    if (m_refused.empty()) {
        return true;
    }
    struct stat st {};
    if (::stat(m_fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_refused.clear(); // gone meanwhile: nothing left to keep
        return true;
    }
    const std::string kept = KeptName(m_fileName);
    // A second name for the file (the one a symbolic link leads to), which the atomic write
    // leaves as it is; a copy where the file system has no hard links.
    std::string reason;
    if (::linkat(AT_FDCWD, m_fileName.c_str(), AT_FDCWD, kept.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        !CopyFile(m_fileName, kept, reason)) {
        istd::LogError("Registry cannot keep configuration file " + m_fileName + " as " + kept + ": " + reason +
                       ". The file is not written, so that the values the registry refused stay in it.");
        return false;
    }
    std::string list;
    for (size_t i = 0; i < m_refused.size() && i < c_listedRefusals; ++i) {
        const LoadRefusals::Entry& entry = m_refused[i];
        // The value is shortened and escaped already; the node's names and the reason may quote the file.
        list += (i == 0 ? "" : "; ") + istd::OutsideText(entry.node) +
                (entry.value.empty() ? "" : " = '" + entry.value + "'") + " (" + istd::OutsideText(entry.reason) + ")";
    }
    if (m_refused.size() > c_listedRefusals) {
        list += "; and " + std::to_string(m_refused.size() - c_listedRefusals) + " more";
    }
    istd::LogWarning("Configuration file " + m_fileName + " held " + std::to_string(m_refused.size()) +
                     " values the registry refused when it was loaded; it is kept as " + kept +
                     " before it is written again. Refused: " + list);
    m_refused.clear();
    return true;
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
    bool result = _KeepRefusedFile();
    try {
        if (result) {
            m_configuration->Write(*this, m_fileName, m_xsdMode);
        }
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
    if (m_writeOnCleanup.load()) {
        (void)WriteConfiguration();
    }
    return RegNode::OnCleanup(path);
}

} // namespace ireg
