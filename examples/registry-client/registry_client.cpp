#include "registry_client.h"

#include <omniORB4/CORBA.h>

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "ireg/corba_value.h"
#include "istd/convert.h"
#include "istd/trace.h"

namespace regclient {

namespace {

constexpr uint32_t c_listedElements = 16;

bool IsReadable(uint64_t flags)
{
    return (flags & 0x2) != 0;
}

bool IsArray(uint64_t flags)
{
    return (flags & 0x200) != 0;
}

// The kind a value of the type is asked for with; only enumerations look at it (by name).
CORBA::TypeCode_ptr Requested(CORBA::Long type)
{
    switch (type) {
    case 1: return CORBA::_tc_boolean;
    case 2: return CORBA::_tc_long;
    case 3: return CORBA::_tc_ulong;
    case 4: return CORBA::_tc_longlong;
    case 5: return CORBA::_tc_ulonglong;
    case 6: return CORBA::_tc_double;
    case 7: return CORBA::_tc_float;
    case 8:
    case 9: return CORBA::_tc_string;
    default: return CORBA::_tc_null;
    }
}

template <class T>
T Parse(const std::string& text, CORBA::Long type)
{
    try {
        return istd::FromString<T>(text);
    } catch (const istd::Exception&) {
        throw std::invalid_argument("'" + text + "' is no " + TypeName(type) + " value");
    }
}

// The values as the i_NET buffer SEQ of elements T, each converted from its text.
template <class SEQ, class T>
CORBA::Any Buffer(const std::vector<std::string>& texts, CORBA::Long type)
{
    SEQ sequence;
    sequence.length(static_cast<CORBA::ULong>(texts.size()));
    for (CORBA::ULong i = 0; i < sequence.length(); ++i) {
        if constexpr (std::is_same_v<T, std::string>) {
            sequence[i] = texts[i].c_str();
        } else {
            sequence[i] = Parse<T>(texts[i], type);
        }
    }
    CORBA::Any any;
    any <<= sequence;
    return any;
}

CORBA::Any ToValue(const std::vector<std::string>& texts, CORBA::Long type)
{
    switch (type) {
    case 1: return Buffer<i_NET::BooleanBuffer, bool>(texts, type);
    case 2: return Buffer<i_NET::Int32Buffer, int32_t>(texts, type);
    case 3: return Buffer<i_NET::UInt32Buffer, uint32_t>(texts, type);
    case 4: return Buffer<i_NET::Int64Buffer, int64_t>(texts, type);
    case 5: return Buffer<i_NET::UInt64Buffer, uint64_t>(texts, type);
    case 6: return Buffer<i_NET::DoubleBuffer, double>(texts, type);
    case 7: return Buffer<i_NET::FloatBuffer, float>(texts, type);
    default:
        // Strings, enumerations (the node takes names and numbers) and anything else, which the
        // node refuses with its own reason.
        return Buffer<i_NET::StringBuffer, std::string>(texts, type);
    }
}

std::string Join(const std::vector<std::string>& items, const std::string& separator)
{
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

std::vector<std::string> Names(const i_NET::StringVec& names)
{
    std::vector<std::string> out;
    for (CORBA::ULong i = 0; i < names.length(); ++i) {
        out.emplace_back(names[i].in());
    }
    return out;
}

} // namespace

i_NET::NodePath ToNodePath(const std::string& path)
{
    return mci::PathToRemoteNodeNames(istd::TokenizeString(path, "/"));
}

std::string PathText(const i_NET::NodeNames& path)
{
    using mci::operator<<;
    std::ostringstream text;
    text << mci::RemoteNodeNamesToPath(path);
    return text.str();
}

std::string TypeName(CORBA::Long type)
{
    static const char* const names[] = {"-", "bool", "int32", "uint32", "int64", "uint64", "double", "float", "string",
                                        "enum"};
    return type >= 0 && type <= 9 ? names[type] : "type " + std::to_string(type);
}

std::string FlagsText(uint64_t flags)
{
    static const std::pair<uint64_t, char> letters[] = {{0x2, 'r'},  {0x4, 'w'},   {0x8, 'p'},   {0x20, 'c'},
                                                        {0x40, 'h'}, {0x80, 'x'}, {0x200, 'a'}, {0x400, 's'}};
    std::string text;
    for (const auto& [bit, letter] : letters) {
        text += (flags & bit) != 0 ? letter : '-';
    }
    return text;
}

std::string Describe(const CORBA::Exception& e)
{
    if (const auto* notFound = i_NET::NotFound::_downcast(&e)) {
        return std::string("NotFound: ") + notFound->message.in();
    }
    if (const auto* invalidType = i_NET::InvalidType::_downcast(&e)) {
        return std::string("InvalidType: ") + invalidType->message.in();
    }
    if (const auto* valueException = i_NET::ValueException::_downcast(&e)) {
        return std::string("ValueException: ") + valueException->message.in();
    }
    return inet::ExceptionText(e);
}

void Watcher::Emit(const i_NET::NotificationData& data)
{
    ISTD_TRACE_FNC("void regclient::Watcher::Emit(const i_NET::NotificationData&)");
    std::string line = PathText(data.path);
    if (data.position != 0) {
        line += "[" + std::to_string(data.position) + "]";
    }
    line += " = " + ireg::CorbaValueText(data.value);
    Print(line);
    ++m_count;
}

void Watcher::Print(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::endl;
}

RegistryClient::RegistryClient(const std::string& address, std::ostream& out) : m_out(out)
{
    ISTD_TRACE_FNC("regclient::RegistryClient::RegistryClient(const std::string&, std::ostream&)");
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(address.c_str());
    m_app = i_NET::Application::_narrow(object);
    if (CORBA::is_nil(m_app)) {
        throw std::runtime_error(address + " is no application");
    }
    m_watcher = new Watcher(out);
    inet::OM().Activate(m_watcher);
    m_callback = m_watcher->_this();
    m_node = m_app->GetRemoteNode(m_callback);
}

RegistryClient::~RegistryClient()
{
    ISTD_TRACE_FNC("regclient::RegistryClient::~RegistryClient()");
    try {
        m_app->ReleaseRemoteNode(m_callback);
    } catch (const CORBA::Exception&) {
        // The server may be gone: its node went with it.
    }
}

std::string RegistryClient::_ValueText(const i_NET::NodePath& path, CORBA::Long type, uint64_t flags, uint32_t pos,
                                       uint32_t count)
{
    if (type == 0 || !IsReadable(flags)) {
        return "";
    }
    try {
        CORBA::Any_var value = m_node->GetValue(path, pos, count, Requested(type));
        return ireg::CorbaValueText(value.in());
    } catch (const CORBA::Exception& e) {
        return "<" + Describe(e) + ">";
    }
}

void RegistryClient::_ListNode(const i_NET::NodePath& path, std::vector<std::vector<std::string>>& rows)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::_ListNode(const i_NET::NodePath&, std::vector<std::vector<std::string>>&)");
    const CORBA::Long type = m_node->GetValueType(path);
    const uint64_t flags = m_node->GetFlags(path);
    std::string typeText = TypeName(type);
    std::string value;
    if (IsArray(flags)) {
        const CORBA::ULong size = m_node->GetSize(path);
        typeText += "[" + std::to_string(size) + "]";
        value = _ValueText(path, type, flags, 0, std::min<CORBA::ULong>(size, c_listedElements));
        if (size > c_listedElements && value.size() > 1 && value.back() == ']') {
            value.insert(value.size() - 1, ", ...");
        }
    } else {
        value = _ValueText(path, type, flags, 0, 1);
    }
    rows.push_back({PathText(path), typeText, FlagsText(flags), value});
    i_NET::NodeNames_var children = m_node->GetNodes(path);
    for (CORBA::ULong i = 0; i < children->length(); ++i) {
        i_NET::NodePath child(path);
        child.length(path.length() + 1);
        child[path.length()] = children[i];
        _ListNode(child, rows);
    }
}

void RegistryClient::List(const std::string& path)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::List(const std::string&)");
    std::vector<std::vector<std::string>> rows;
    _ListNode(ToNodePath(path), rows);
    std::vector<size_t> widths(3, 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < widths.size(); ++i) {
            line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
        }
        line += row[3];
        line.erase(line.find_last_not_of(' ') + 1);
        m_out << line << "\n";
    }
    m_out << std::flush;
}

void RegistryClient::Get(const std::string& path, uint32_t pos, uint32_t count)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Get(const std::string&, uint32_t, uint32_t)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    const CORBA::Long type = m_node->GetValueType(nodePath);
    CORBA::Any_var value = m_node->GetValue(nodePath, pos, count, Requested(type));
    m_out << PathText(nodePath) << " = " << ireg::CorbaValueText(value.in()) << std::endl;
}

void RegistryClient::Set(const std::string& path, const std::vector<std::string>& values, uint32_t pos)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Set(const std::string&, const std::vector<std::string>&, uint32_t)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    const CORBA::Long type = m_node->GetValueType(nodePath);
    m_node->SetValue(nodePath, ToValue(values, type), pos);
    const uint64_t flags = m_node->GetFlags(nodePath);
    if (!IsReadable(flags)) {
        m_out << PathText(nodePath) << " set" << std::endl;
        return;
    }
    const auto count = static_cast<uint32_t>(values.size());
    m_out << PathText(nodePath) << " = " << _ValueText(nodePath, type, flags, pos, count) << std::endl;
}

void RegistryClient::Info(const std::string& path)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Info(const std::string&)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    const CORBA::Long type = m_node->GetValueType(nodePath);
    const uint64_t flags = m_node->GetFlags(nodePath);
    const CORBA::ULong size = m_node->GetSize(nodePath);
    CORBA::String_var validator;
    const bool hasValidator = m_node->GetValidatorExpression(nodePath, validator.out());
    i_NET::StringVec_var domain;
    const bool hasDomain = m_node->GetDomainValues(nodePath, domain.out());
    i_NET::NodeNames_var children = m_node->GetNodes(nodePath);
    const std::string value = _ValueText(nodePath, type, flags, 0, 0);

    auto line = [this](const char* label, const std::string& text) {
        m_out << "  " << std::left << std::setw(11) << label << (text.empty() ? "-" : text) << "\n";
    };
    m_out << PathText(nodePath) << "\n";
    line("type", TypeName(type));
    line("size", std::to_string(size));
    char hex[32];
    std::snprintf(hex, sizeof(hex), " (0x%llx)", static_cast<unsigned long long>(flags));
    line("flags", FlagsText(flags) + hex);
    line("value", value);
    line("validator", hasValidator ? validator.in() : "");
    line("domain", hasDomain ? Join(Names(domain.in()), ", ") : "");
    line("children", Join(mci::RemoteNodeNamesToPath(children.in()), ", "));
    m_out << std::flush;
}

void RegistryClient::Watch(const std::vector<std::string>& paths, const std::function<bool(size_t)>& stop)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Watch(const std::vector<std::string>&, const std::function<bool(size_t)>&)");
    for (const std::string& path : paths) {
        const i_NET::NodePath nodePath = ToNodePath(path);
        if (!m_node->Subscribe(nodePath)) {
            m_node->StopNotifications();
            throw std::runtime_error("the node " + PathText(nodePath) + " refused the subscription");
        }
        m_watcher->Print("watching " + PathText(nodePath));
    }
    while (!stop(m_watcher->Count())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_node->StopNotifications();
}

} // namespace regclient
