#include "bmc/uri.h"

#include <limits>
#include <vector>

#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/trace.h"

namespace bmc {

namespace {

// Literals rather than the exported constants: other libraries' static initialisation may
// build URIs before those constants exist.
constexpr char c_schemaText[] = "kvr:";
constexpr char c_locLocalText[] = "local";

std::string _StoredLocation(const std::string& location)
{
    return location == c_locLocalText ? std::string() : location;
}

// The whole text as a decimal int: an optional sign, digits only, within the int range.
bool _ParseSlotNumber(const std::string& text, int& number)
{
    int64_t value = 0;
    if (!istd::ParseDecimalInt64(text, value) || value < std::numeric_limits<int>::min()
        || value > std::numeric_limits<int>::max()) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

} // namespace

const std::string Uri::c_schema = c_schemaText;
const std::string Uri::c_locLocal = c_locLocalText;

Uri::Uri()
    : m_update(true), m_subSystem(eUnknown), m_interface(eInterfaceDefault)
{
}

Uri::Uri(SubSystem_e subSystem, const std::string& id, Interface_e interface)
    : m_update(true), m_subSystem(subSystem), m_interface(interface), m_id(id)
{
}

Uri::Uri(SubSystem_e subSystem, int number, Interface_e interface)
    : m_update(true), m_subSystem(subSystem), m_interface(interface), m_id(std::to_string(number))
{
}

Uri::Uri(const std::string& location, SubSystem_e subSystem, const std::string& id,
         Interface_e interface)
    : m_update(true),
      m_location(_StoredLocation(location)),
      m_subSystem(subSystem),
      m_interface(interface),
      m_id(id)
{
}

// The source is locked too: a const ToString on it may be rebuilding its text meanwhile.
Uri::Uri(const Uri& other)
{
    std::lock_guard<std::mutex> lock(other.m_mutex);
    _CopyFields(other);
}

Uri& Uri::operator=(const Uri& other)
{
    if (this == &other) {
        return *this;
    }
    std::scoped_lock lock(m_mutex, other.m_mutex);
    _CopyFields(other);
    return *this;
}

Uri::~Uri() = default;

void Uri::_CopyFields(const Uri& other)
{
    m_qualified = other.m_qualified;
    m_update = other.m_update;
    m_location = other.m_location;
    m_subSystem = other.m_subSystem;
    m_interface = other.m_interface;
    m_id = other.m_id;
}

const std::string& Uri::GetLocation() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_location;
}

const std::string& Uri::GetId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_id;
}

Uri::SubSystem_e Uri::GetSubSystem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subSystem;
}

Uri::Interface_e Uri::GetInterface() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_interface;
}

std::string Uri::GetSubSystemStr() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return istd::EnumName(m_subSystem);
}

bool Uri::IsLocal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_location.empty() || m_location == c_locLocalText;
}

void Uri::SetLocation(const std::string& location)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_location = location;
    m_update = true;
}

void Uri::SetId(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_id = id;
    m_update = true;
}

void Uri::SetSubSystem(SubSystem_e subSystem)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subSystem = subSystem;
    m_update = true;
}

void Uri::SetInterface(Interface_e interface)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interface = interface;
    m_update = true;
}

const std::string& Uri::ToString() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_update) {
        UpdateQualified();
    }
    return m_qualified;
}

void Uri::UpdateQualified() const
{
    std::string text;
    text.reserve(255);
    text += c_schemaText;
    text += "//";
    text += m_location;
    text += '/';
    text += istd::EnumName(m_subSystem);
    if (m_interface != eInterfaceDefault) {
        text += ';';
        text += istd::EnumName(m_interface);
    }
    text += '/';
    text += m_id;
    m_qualified.swap(text);
    m_update = false;
}

std::ostream& operator<<(std::ostream& os, const Uri& uri)
{
    return os << uri.ToString();
}

Uri DecomposeUri(const std::string& text)
{
    ISTD_TRACE_FNC("bmc::Uri bmc::DecomposeUri(const std::string&)");
    std::string location;
    std::string path;
    if (text.find(':') == std::string::npos) {
        path = text;
    } else {
        if (text.compare(0, sizeof(c_schemaText) - 1, c_schemaText) != 0) {
            throw istd::Exception("URI: wrong schema.", true);
        }
        const std::string rest = text.substr(sizeof(c_schemaText) - 1);
        if (rest.compare(0, 2, "//") != 0) {
            throw istd::Exception("URI: expected // after schema.", true);
        }
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) {
            throw istd::Exception("URI: missing location.", true);
        }
        location = rest.substr(2, slash - 2);
        path = rest.substr(slash + 1);
    }

    int slot = 0;
    if (_ParseSlotNumber(path, slot)) {
        return Uri(Uri::eChassis, slot, Uri::eInterfaceDefault);
    }
    ISTD_TRACE(4, "Path is not just a number, continue parsing");

    const size_t slash = path.find('/');
    const std::string subSystemPart = path.substr(0, slash);
    const std::string id = slash == std::string::npos ? std::string() : path.substr(slash + 1);

    // Empty pieces are dropped by the tokenizer: an empty part gives no token at all.
    const std::vector<std::string> tokens = istd::TokenizeString(subSystemPart, ";");
    const std::string subSystemText = tokens.empty() ? std::string() : tokens[0];
    const std::string interfaceText = tokens.size() < 2 ? std::string() : tokens[1];

    const Uri::SubSystem_e subSystem = istd::EnumCast<Uri::SubSystem_e>(subSystemText);
    const Uri::Interface_e interface = istd::EnumCast<Uri::Interface_e>(interfaceText);
    return Uri(location, subSystem, id, interface);
}

Uri CreateLocalChassisUri(int slot, Uri::Interface_e interface)
{
    return Uri(Uri::eChassis, slot, interface);
}

Uri CreateLocalAmcUri(int slot, Uri::Interface_e interface)
{
    return Uri(Uri::eAmc, slot, interface);
}

const Uri c_localKozUri(Uri::eChassis, 0, Uri::eInterfaceDefault);
const Uri c_localOSUri(Uri::eOs, std::string(), Uri::eInterfaceDefault);

} // namespace bmc

bool std::less<bmc::Uri>::operator()(const bmc::Uri& a, const bmc::Uri& b) const
{
    const std::string& textB = b.ToString();
    const std::string& textA = a.ToString();
    return textA < textB;
}
