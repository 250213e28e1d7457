#include "registry_client.h"

#include <netdb.h>
#include <unistd.h>

#include <omniORB4/CORBA.h>
#include <omniORB4/minorCode.h>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "ireg/corba_value.h"
#include "ireg/reg_node.h"
#include "isig/signal_types.h"
#include "istd/convert.h"
#include "istd/trace.h"

namespace regclient {

namespace {

constexpr uint32_t c_listedElements = 16;

const char c_isItThere[] = " (is registry-server running on that port?)";

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

} // namespace

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

namespace {

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

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool IsDecimal(const std::string& text)
{
    const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

bool HostResolves(const std::string& host)
{
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, nullptr, &found);
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
    return rc == 0;
}

template <class SEQ>
bool AppendSequence(const CORBA::Any& value, std::vector<int64_t>& out)
{
    SEQ sequence;
    if (!ireg::ReceivedValue(value, sequence)) {
        return false;
    }
    for (CORBA::ULong i = 0; i < sequence.length(); ++i) {
        out.push_back(sequence[i]);
    }
    return true;
}

} // namespace

std::vector<int64_t> Numbers(const CORBA::Any& value, bool* scalar)
{
    CORBA::Long one = 0;
    CORBA::LongLong wide = 0;
    std::vector<int64_t> out;
    bool single = true;
    if (value >>= one) {
        out.push_back(one);
    } else if (value >>= wide) {
        out.push_back(wide);
    } else {
        single = false;
        AppendSequence<i_NET::Int32Buffer>(value, out) || AppendSequence<i_NET::Int64Buffer>(value, out);
    }
    if (scalar != nullptr) {
        *scalar = single;
    }
    return out;
}

std::vector<std::string> Texts(const CORBA::Any& value)
{
    std::string one;
    if (ireg::ReceivedValue(value, one)) {
        return {one};
    }
    i_NET::StringBuffer many;
    std::vector<std::string> out;
    if (ireg::ReceivedValue(value, many)) {
        for (CORBA::ULong i = 0; i < many.length(); ++i) {
            out.emplace_back(many[i].in());
        }
    }
    return out;
}

std::string Address::Corbaloc() const
{
    return "corbaloc::" + host + ":" + std::to_string(port) + "/" + id;
}

ConnectionLost::ConnectionLost(const Address& address)
    : std::runtime_error("lost the connection to " + address.Corbaloc())
{
}

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

std::string Reason(const CORBA::Exception& e, const std::string& path)
{
    std::string message;
    if (const auto* notFound = i_NET::NotFound::_downcast(&e)) {
        message = notFound->message.in();
    } else if (const auto* invalidType = i_NET::InvalidType::_downcast(&e)) {
        message = invalidType->message.in();
    } else if (const auto* valueException = i_NET::ValueException::_downcast(&e)) {
        message = valueException->message.in();
    } else {
        return inet::ExceptionText(e);
    }
    // The layers' prefixes, then the node's own name: the command line names the node already.
    for (bool stripped = true; stripped;) {
        stripped = false;
        for (const char* layer : {"ireg: ", "mci: ", "inet: ", "icfg: ", "isig: "}) {
            if (StartsWith(message, layer)) {
                message.erase(0, std::strlen(layer));
                stripped = true;
            }
        }
    }
    // "<name>: " of a refused set, "node <name>: " of a refused get (after "ireg ").
    const std::vector<std::string> names = istd::TokenizeString(path, "/");
    for (const std::string& prefix : {std::string("ireg node "), std::string()}) {
        if (!names.empty() && StartsWith(message, prefix + names.back() + ": ")) {
            message.erase(0, prefix.size() + names.back().size() + 2);
        }
    }
    return message;
}

std::string ConnectionFailure(const CORBA::SystemException& e, const Address& address)
{
    const std::string corbaloc = address.Corbaloc();
    const auto* transient = CORBA::TRANSIENT::_downcast(&e);
    // The ORB says TIMEOUT, or TRANSIENT when it is set to.
    if (CORBA::TIMEOUT::_downcast(&e) != nullptr ||
        (transient != nullptr && transient->minor() == omni::TRANSIENT_CallTimedout)) {
        static_assert(inet::OrbManager::c_clientCallTimeOutMs % 1000 == 0, "the time-out is told in seconds");
        return "no answer from " + address.host + ":" + std::to_string(address.port) + " within " +
               std::to_string(inet::OrbManager::c_clientCallTimeOutMs / 1000) + " s";
    }
    if (transient != nullptr) {
        if (!HostResolves(address.host)) {
            return "cannot connect to " + corbaloc + ": unknown host '" + address.host + "'";
        }
        if (transient->minor() == omni::TRANSIENT_ConnectFailed) {
            return "cannot connect to " + corbaloc + ": connection refused" + c_isItThere;
        }
        return "cannot reach " + corbaloc + " (" + inet::ExceptionText(e) + ")";
    }
    if (CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr) {
        return "no object '" + address.id + "' at corbaloc::" + address.host + ":" + std::to_string(address.port) +
               " (registry-server serves '" + inet::c_defaultNetId + "'; see --id)";
    }
    if (CORBA::COMM_FAILURE::_downcast(&e) != nullptr) {
        return "lost the connection to " + corbaloc;
    }
    return corbaloc + ": " + inet::ExceptionText(e);
}

void Watcher::Emit(const i_NET::NotificationData& data)
{
    ISTD_TRACE_FNC("void regclient::Watcher::Emit(const i_NET::NotificationData&)");
    std::string line = PathText(data.path);
    if (data.position != 0) {
        line += "[" + std::to_string(data.position) + "]";
    }
    std::string value;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto enumeration = m_enumerations.find(PathText(data.path));
        value = enumeration != m_enumerations.end() ? _EnumerationText(data, enumeration->second)
                                                    : ireg::CorbaValueText(data.value);
    }
    Print(line + " = " + value);
    ++m_count;
}

void Watcher::WatchEnumeration(i_NET::RemoteNode_ptr node, const i_NET::NodePath& path)
{
    ISTD_TRACE_FNC("void regclient::Watcher::WatchEnumeration(i_NET::RemoteNode_ptr, const i_NET::NodePath&)");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_node = i_NET::RemoteNode::_duplicate(node);
    _Learn(path, 0, 0, m_enumerations[PathText(path)]);
}

void Watcher::_Learn(const i_NET::NodePath& path, CORBA::ULong pos, CORBA::ULong count, Names& names)
{
    try {
        CORBA::Any_var numbers = m_node->GetValue(path, pos, count, CORBA::_tc_long);
        CORBA::Any_var texts = m_node->GetValue(path, pos, count, CORBA::_tc_string);
        const std::vector<int64_t> n = Numbers(numbers.in());
        const std::vector<std::string> t = Texts(texts.in());
        for (size_t i = 0; i < n.size() && i < t.size(); ++i) {
            names.emplace(n[i], t[i]);
        }
    } catch (const CORBA::Exception& e) {
        // Numbers without a name are printed as numbers.
        ISTD_TRACE(2, "names of " << PathText(path) << " not read: " << inet::ExceptionText(e));
    }
}

std::string Watcher::_EnumerationText(const i_NET::NotificationData& data, Names& names)
{
    bool scalar = false;
    const std::vector<int64_t> numbers = Numbers(data.value, &scalar);
    if (std::any_of(numbers.begin(), numbers.end(), [&](int64_t n) { return names.count(n) == 0; })) {
        // A number not met before: the node most likely still holds it where it changed.
        _Learn(data.path, data.position, static_cast<CORBA::ULong>(numbers.size()), names);
    }
    std::vector<std::string> texts;
    for (const int64_t n : numbers) {
        auto name = names.find(n);
        texts.push_back(name != names.end() ? name->second : std::to_string(n));
    }
    if (numbers.empty()) {
        return ireg::CorbaValueText(data.value); // not numbers: as it came
    }
    return scalar ? texts.front() : "[" + Join(texts, ", ") + "]";
}

void Watcher::Print(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::endl;
}

std::string SignalCodeText(int code)
{
    std::ostringstream text;
    text << static_cast<isig::SuccessCode_e>(code);
    return text.str();
}

AtomPrinter::AtomPrinter(std::ostream& out, std::vector<std::string> components, CORBA::Long atomType,
                         uint64_t limit)
    : m_out(out), m_components(std::move(components)), m_atomType(atomType), m_limit(limit)
{
}

void AtomPrinter::_Line(const std::vector<std::string>& texts)
{
    // With the mutex held; one atom's components, as many as the signal names.
    std::string line;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string name = i < m_components.size() ? m_components[i] : "[" + std::to_string(i) + "]";
        line += (line.empty() ? "" : " ") + name + "=" + texts[i];
    }
    m_out << line << "\n";
}

// The values as the buffer SEQ, printed atom by atom (as T where the element type is not the
// value's own, as for signed octets); false when the values are no SEQ.
template <class SEQ, class T>
bool AtomPrinter::_Print(const CORBA::Any& values)
{
    SEQ sequence;
    if (!ireg::ReceivedValue(values, sequence)) {
        return false;
    }
    const size_t perAtom = std::max<size_t>(m_components.size(), 1);
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t atoms = sequence.length() / perAtom;
    std::vector<std::string> texts(perAtom);
    if (m_finished) {
        return true;
    }
    for (uint64_t a = 0; a < atoms; ++a) {
        if (m_limit == 0 || m_result.atoms + a < m_limit) {
            for (size_t c = 0; c < perAtom; ++c) {
                const auto value = sequence[static_cast<CORBA::ULong>(a * perAtom + c)];
                if constexpr (std::is_void_v<T>) {
                    texts[c] = ireg::ValueText(value);
                } else {
                    texts[c] = ireg::ValueText(static_cast<T>(value));
                }
            }
            _Line(texts);
        }
    }
    m_out << std::flush;
    m_result.atoms += atoms;
    ++m_result.calls;
    m_changed.notify_all();
    return true;
}

void AtomPrinter::Note(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_finished) {
        m_out << text << std::endl;
    }
}

void AtomPrinter::Receive(const CORBA::Any& values, const i_NET::SignalMeta&)
{
    ISTD_TRACE_FNC("void regclient::AtomPrinter::Receive(const CORBA::Any&, const i_NET::SignalMeta&)");
    bool printed = false;
    switch (m_atomType) {
    case isig::eAtomDouble: printed = _Print<i_NET::DoubleBuffer>(values); break;
    case isig::eAtomFloat: printed = _Print<i_NET::FloatBuffer>(values); break;
    case isig::eAtomUInt64: printed = _Print<i_NET::UInt64Buffer, uint64_t>(values); break;
    case isig::eAtomInt64: printed = _Print<i_NET::Int64Buffer, int64_t>(values); break;
    case isig::eAtomUInt32: printed = _Print<i_NET::UInt32Buffer, uint32_t>(values); break;
    case isig::eAtomInt32: printed = _Print<i_NET::Int32Buffer, int32_t>(values); break;
    case isig::eAtomUInt16: printed = _Print<i_NET::UInt16Buffer, uint32_t>(values); break;
    case isig::eAtomInt16: printed = _Print<i_NET::Int16Buffer, int32_t>(values); break;
    case isig::eAtomUInt8: printed = _Print<i_NET::UInt8Buffer, uint32_t>(values); break;
    case isig::eAtomInt8: printed = _Print<i_NET::Int8Buffer, int8_t>(values); break;
    default: break;
    }
    if (!printed) {
        // Values of another type than the signal said: counted as a call, shown as they came.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished) {
            return;
        }
        m_out << "<" << ireg::CorbaValueText(values) << ">" << std::endl;
        ++m_result.calls;
        m_changed.notify_all();
    }
}

void AtomPrinter::Closed(CORBA::Long code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_finished) {
        return;
    }
    m_result.closed = true;
    m_result.closeCode = code;
    m_changed.notify_all();
}

StreamResult AtomPrinter::Wait(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, wait,
                       [this] { return m_result.closed || (m_limit != 0 && m_result.atoms >= m_limit); });
    return m_result;
}

StreamResult AtomPrinter::Finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    return m_result;
}

RegistryClient::RegistryClient(const Address& address, std::ostream& out) : m_out(out), m_address(address)
{
    ISTD_TRACE_FNC("regclient::RegistryClient::RegistryClient(const Address&, std::ostream&)");
    CORBA::ORB_var orb = inet::OM().GetORB();
    try {
        CORBA::Object_var object = orb->string_to_object(address.Corbaloc().c_str());
        m_app = i_NET::Application::_narrow(object);
        if (CORBA::is_nil(m_app)) {
            throw ConnectionError(address.Corbaloc() + " is no registry application");
        }
        m_watcher = new Watcher(out);
        inet::OM().Activate(m_watcher);
        m_callback = m_watcher->_this();
        m_node = m_app->GetRemoteNode(m_callback);
    } catch (const CORBA::COMM_FAILURE&) {
        // The first call on the connection got no reply: what listens on the port closed it, or
        // answered in another protocol.
        throw ConnectionError("cannot connect to " + address.Corbaloc() +
                              ": the program on that port does not answer in GIOP" + c_isItThere);
    } catch (const CORBA::SystemException& e) {
        throw ConnectionError(ConnectionFailure(e, address));
    }
}

RegistryClient::~RegistryClient()
{
    ISTD_TRACE_FNC("regclient::RegistryClient::~RegistryClient()");
    if (m_lost) {
        return; // a server that does not answer would hold the exit up for the call time-out
    }
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
    } catch (const CORBA::UserException& e) {
        return "<" + Reason(e, PathText(path)) + ">";
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
    CORBA::Any_var value;
    try {
        value = m_node->GetValue(nodePath, pos, count, Requested(type));
    } catch (const i_NET::ValueException& e) {
        throw _Explained(e, nodePath, pos, count);
    }
    m_out << PathText(nodePath) << " = " << ireg::CorbaValueText(value.in()) << std::endl;
}

void RegistryClient::Set(const std::string& path, const std::vector<std::string>& values, uint32_t pos)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Set(const std::string&, const std::vector<std::string>&, uint32_t)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    const CORBA::Long type = m_node->GetValueType(nodePath);
    if (type == 9) {
        // Names are checked here, so that a wrong one is answered with the names there are;
        // numbers are the node's to check.
        const std::vector<std::string> names = _DomainNames(nodePath);
        for (const std::string& value : values) {
            if (!IsDecimal(value) && std::find(names.begin(), names.end(), value) == names.end()) {
                throw std::invalid_argument("'" + value + "' is not one of " + Join(names, ", "));
            }
        }
    }
    try {
        m_node->SetValue(nodePath, ToValue(values, type), pos);
    } catch (const i_NET::ValueException& e) {
        throw _Explained(e, nodePath, pos, values.size());
    }
    const uint64_t flags = m_node->GetFlags(nodePath);
    if (!IsReadable(flags)) {
        m_out << PathText(nodePath) << " set" << std::endl;
        return;
    }
    const auto count = static_cast<uint32_t>(values.size());
    m_out << PathText(nodePath) << " = " << _ValueText(nodePath, type, flags, pos, count) << std::endl;
}

std::vector<std::string> RegistryClient::_DomainNames(const i_NET::NodePath& path)
{
    i_NET::StringVec_var domain;
    m_node->GetDomainValues(path, domain.out());
    return Names(domain.in());
}

i_NET::ValueException RegistryClient::_Explained(const i_NET::ValueException& e, const i_NET::NodePath& path,
                                                 uint32_t pos, size_t count)
{
    const std::string reason = Reason(e, PathText(path));
    const auto values = [](size_t n) { return std::to_string(n) + (n == 1 ? " value" : " values"); };
    std::string text = e.message.in();
    if (reason == "Size too large") {
        text += " (" + values(count) + " from position " + std::to_string(pos) + ", the node has " +
                values(m_node->GetSize(path)) + ")";
    } else if (reason == "Position out of range") {
        text += " (position " + std::to_string(pos) + ", the node has " + values(m_node->GetSize(path)) + ")";
    } else if (reason == "Invalid enum value") {
        text += " (its names are " + Join(_DomainNames(path), ", ") + ")";
    } else if (reason == "TreeNode is not readable.") {
        const bool command = (m_node->GetFlags(path) & 0x80) != 0;
        text = command ? "the node is a command and cannot be read; run it with exec"
                       : "the node cannot be read, only written";
        text += " (" + reason + ")";
    }
    return i_NET::ValueException(text.c_str());
}

void RegistryClient::Exec(const std::string& path)
{
    ISTD_TRACE_FNC("void regclient::RegistryClient::Exec(const std::string&)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    if ((m_node->GetFlags(nodePath) & 0x80) == 0) {
        throw Refused("the node is no command (commands have the flag x in list)");
    }
    m_node->SetValue(nodePath, ToValue({"Execute"}, 8), 0);
    m_out << PathText(nodePath) << " executed" << std::endl;
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
    std::vector<std::pair<i_NET::NodePath, CORBA::Long>> nodes;
    for (const std::string& path : paths) {
        const i_NET::NodePath nodePath = ToNodePath(path);
        const CORBA::Long type = m_node->GetValueType(nodePath);
        if (type == 0) {
            throw Refused("the node " + PathText(nodePath) + " has no value to watch");
        }
        nodes.emplace_back(nodePath, type);
    }
    for (const auto& [nodePath, type] : nodes) {
        if (type == 9) {
            m_watcher->WatchEnumeration(m_node, nodePath);
        }
        if (!m_node->Subscribe(nodePath)) {
            m_node->StopNotifications();
            throw Refused("the node " + PathText(nodePath) + " refused the subscription");
        }
        m_watcher->Print("watching " + PathText(nodePath));
    }
    auto check = std::chrono::steady_clock::now() + m_checkPeriod;
    while (!stop(m_watcher->Count())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        _CheckServer(check);
    }
    m_node->StopNotifications();
}

void RegistryClient::_CheckServer(std::chrono::steady_clock::time_point& next)
{
    if (m_checkPeriod.count() == 0 || std::chrono::steady_clock::now() < next) {
        return;
    }
    try {
        CORBA::String_var name = m_node->GetName(i_NET::NodePath());
    } catch (const CORBA::SystemException& e) {
        // A server merely busy answers within the call time-out, which is generous.
        const bool gone = CORBA::COMM_FAILURE::_downcast(&e) != nullptr || CORBA::TRANSIENT::_downcast(&e) != nullptr ||
                          CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr;
        ISTD_TRACE(2, "server check: " << inet::ExceptionText(e));
        if (gone) {
            m_lost = true;
            throw ConnectionLost(m_address);
        }
    } catch (const CORBA::UserException&) {
        // It answered.
    }
    next = std::chrono::steady_clock::now() + m_checkPeriod;
}

StreamResult RegistryClient::Stream(const std::string& path, uint64_t count, uint32_t queueLength,
                                    const std::function<bool()>& stop)
{
    ISTD_TRACE_FNC("regclient::StreamResult regclient::RegistryClient::Stream(const std::string&, uint64_t, uint32_t, const std::function<bool()>&)");
    const i_NET::NodePath nodePath = ToNodePath(path);
    i_NET::RemoteSignal_var signal = m_node->GetRemoteSignal(nodePath);
    if (CORBA::is_nil(signal)) {
        throw Refused("the node is no signal (signals have the flag s in list)");
    }
    CORBA::String_var name = signal->GetName();
    CORBA::String_var owner = signal->GetOwner();
    i_NET::StringVec_var components = signal->GetComponentNames();
    const CORBA::Long atomType = signal->GetAtomType();
    const char* typeName = istd::EnumMap<isig::AtomType_e>::items.FindName(static_cast<isig::AtomType_e>(atomType));
    auto line = [this](const char* label, const std::string& text) {
        m_out << "  " << std::left << std::setw(12) << label << text << "\n";
    };
    m_out << "signal " << name.in() << " (owner " << owner.in() << ")\n";
    line("atom size", std::to_string(signal->GetAtomSize()) + " bytes");
    line("group size", std::to_string(signal->GetGroupSize()));
    line("components", Join(Names(components.in()), ", "));
    line("atom type", typeName != nullptr ? typeName : "type " + std::to_string(atomType));
    m_out << std::flush;

    auto* printer = new AtomPrinter(m_out, Names(components.in()), atomType, count);
    inet::OM().Activate(printer); // the ORB owns it from here
    i_NET::SignalReceiver_var receiver = printer->_this();
    const std::string clientName = "registry-client-" + std::to_string(::getpid());
    const CORBA::Long connected = signal->Connect(receiver, clientName.c_str(), queueLength);
    if (connected != 0) {
        throw Refused("the server refused the connection: " + SignalCodeText(connected));
    }
    // Atoms reach only the receivers connected when the device delivers them: a script that
    // feeds the signal waits for this line (atoms that came first are printed before it).
    std::ostringstream connectedLine;
    connectedLine << "  " << std::left << std::setw(12) << "connected" << "as " << clientName;
    printer->Note(connectedLine.str());
    auto check = std::chrono::steady_clock::now() + m_checkPeriod;
    for (;;) {
        const StreamResult now = printer->Wait(std::chrono::milliseconds(100));
        if (now.closed || (count != 0 && now.atoms >= count) || stop()) {
            break;
        }
        try {
            _CheckServer(check);
        } catch (const ConnectionLost&) {
            // A server that stops closes the signal first; the close may still be on its way.
            if (printer->Wait(std::chrono::seconds(1)).closed) {
                break;
            }
            printer->Finish();
            throw;
        }
    }
    // Nothing more is printed; the server's statistics while this client is still connected.
    const StreamResult result = printer->Finish();
    i_NET::SignalStats_var stats;
    bool haveStats = false;
    try {
        stats = signal->GetStatistics();
        haveStats = true;
    } catch (const CORBA::SystemException& e) {
        ISTD_TRACE(2, "statistics not read: " << inet::ExceptionText(e));
    }
    if (!result.closed) {
        try {
            signal->Disconnect(receiver);
        } catch (const CORBA::SystemException& e) {
            ISTD_TRACE(2, "disconnect failed: " << inet::ExceptionText(e));
        }
    }
    m_out << "statistics\n";
    line("received", std::to_string(result.atoms) + " atoms in " + std::to_string(result.calls) + " calls");
    line("closed", result.closed ? "by the server: " + SignalCodeText(result.closeCode) : "no");
    // The device's items and this client's queue; other clients' queues are theirs.
    for (CORBA::ULong i = 0; haveStats && i < stats->length(); ++i) {
        const std::string item = stats[i].name.in();
        const std::string one = std::to_string(stats[i].count1);
        const std::string two = std::to_string(stats[i].count2);
        if (item == clientName) {
            line("queue", "pushed " + one + ", dropped " + two);
        } else if (item == "device") {
            line("device", "atoms read " + one + ", partial reads " + two);
        }
    }
    m_out << std::flush;
    return result;
}

} // namespace regclient
