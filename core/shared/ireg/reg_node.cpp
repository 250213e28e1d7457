#include "ireg/reg_node.h"

#include <libxml/tree.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "icfg/configuration.h"
#include "istd/log.h"
#include "istd/outside_text.h"
#include "istd/trace.h"
#include "mci/dispatcher.h"
#include "mci/node.h"

namespace ireg {

namespace {

const char c_valueAttr[] = "value";
const char c_arrayElement[] = "reg.array";
const char c_itemElement[] = "reg.item";
const char c_ownPrefix[] = "reg.";

template <class T>
struct Tag {
    using type = T;
};

// Calls f(Tag<T>, data type) with the type a value of this value type has in a configuration
// file; false for a node without a value (0 or a code above 9).
template <class F>
bool ForConfigType(mci::enums::NodeValType_e valueType, F&& f)
{
    using namespace mci::enums;
    switch (valueType) {
    case eBool:
        f(Tag<bool>(), icfg::e_xsBoolean);
        return true;
    case eInt32:
        f(Tag<int32_t>(), icfg::e_qarexInt);
        return true;
    case eUInt32:
        f(Tag<uint32_t>(), icfg::e_qarexUnsignedInt);
        return true;
    case eInt64:
        f(Tag<int64_t>(), icfg::e_qarexLong);
        return true;
    case eUInt64:
        f(Tag<uint64_t>(), icfg::e_qarexUnsignedLong);
        return true;
    case eDouble:
        f(Tag<double>(), icfg::e_xsDouble);
        return true;
    case eFloat:
        f(Tag<float>(), icfg::e_xsFloat);
        return true;
    case eString:
    case eEnumeration:
        f(Tag<std::string>(), icfg::e_xsString);
        return true;
    default:
        return false;
    }
}

// General notation with the given significant digits, as printf's %g writes it.
template <class F>
std::string GeneralText(F value, int digits)
{
    char buffer[64];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return std::string(buffer, r.ptr);
}

// The 15 (6) digits of a message when they read back to the value, else as many as the
// shortest text that does: the same notation either way.
template <class F>
std::string FloatConfigText(F value, int messageDigits)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    std::string text = GeneralText(value, messageDigits);
    F back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    if (back == value) {
        return text;
    }
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    int digits = 0;
    for (const char* p = buffer; p != r.ptr && *p != 'e'; ++p) {
        digits += (*p >= '0' && *p <= '9') ? 1 : 0;
    }
    return GeneralText(value, digits);
}

// The loaded text of an element's "value" as T: a string as it stands (also empty), every other
// type through the configuration library's readers.
template <class T>
bool ConfigValueOf(const icfg::Element& element, T& out)
{
    icfg::AttributePtr attribute;
    if (!element.FindAttr(c_valueAttr, attribute)) {
        return false;
    }
    if constexpr (std::is_same_v<T, std::string>) {
        out = attribute->GetValue();
        return true;
    } else {
        return attribute->GetValue(out);
    }
}

// A value as the output stream writes it by default (bool as 1 or 0, 6 digits).
template <class T>
std::string StreamText(const T& value)
{
    std::ostringstream os;
    os << value;
    return os.str();
}

icfg::AttributePtr ConfigAttribute(const std::string& text, icfg::DataType_e type,
                                   const std::vector<std::string>& validValues)
{
    icfg::AttributePtr attribute = icfg::Attribute::Create(c_valueAttr, text, type);
    if (type == icfg::e_xsString && !validValues.empty()) {
        attribute->SetValidValues(validValues);
    }
    return attribute;
}

// A text of the file as a refusal quotes it (and the log shows it): at most 80 bytes, escaped.
std::string Shortened(const std::string& text)
{
    return istd::OutsideText(text, 80);
}

// What an element holds as a value: its "value", or for an array its items as "[a, b]".
std::string HeldText(const icfg::Element& element)
{
    icfg::AttributePtr attribute;
    if (element.FindAttr(c_valueAttr, attribute)) {
        return Shortened(attribute->GetValue());
    }
    const icfg::ElementPtr array = element.FindChild(c_arrayElement);
    if (!array) {
        return std::string();
    }
    std::string text = "[";
    const icfg::ElementList& items = array->GetChildren();
    for (size_t i = 0; i < items.size() && i < 8; ++i) {
        text += (i == 0 ? "" : ", ") + (items[i]->FindAttr(c_valueAttr, attribute) ? Shortened(attribute->GetValue()) : "");
    }
    return text + (items.size() > 8 ? ", ... (" + std::to_string(items.size()) + " items)]" : "]");
}

thread_local LoadRefusals* t_refusals = nullptr;

} // namespace

LoadRefusals::LoadRefusals() : m_outer(t_refusals)
{
    t_refusals = this;
}

LoadRefusals::~LoadRefusals()
{
    t_refusals = m_outer;
}

void LoadRefusals::Report(const std::string& node, const std::string& value, const std::string& reason)
{
    if (t_refusals != nullptr) {
        t_refusals->m_entries.push_back(Entry{node, value, reason});
    }
}

std::string ConfigText(double value)
{
    return FloatConfigText(value, 15);
}

std::string ConfigText(float value)
{
    return FloatConfigText(value, 6);
}

bool IsConfigText(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    while (left > 0) {
        size_t length = 0;
        const int c = istd::DecodeUtf8(p, left, length);
        if (c < 0 || (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
        p += length;
        left -= length;
    }
    return true;
}

bool IsConfigName(const std::string& name)
{
    // libxml2 checks a name by the narrower rules that schemas declare names by; it takes the
    // text for UTF-8 without checking that it is.
    return !name.empty() && IsConfigText(name) &&
           xmlValidateNCName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) == 0;
}

RegNode::RegNode() : mci::TreeNode() {}

RegNode::RegNode(const std::string& name, mci::Flags flags) : mci::TreeNode(name, flags) {}

RegNode::~RegNode()
{
    ISTD_TRACE_FNC("ireg::RegNode::~RegNode()");
    if (!m_clients.empty()) {
        mci::Dispatcher::GetInstance().Unregister(GetId(), mci::c_noRelPath, m_clients);
    }
}

// The 32 typed entry points all run the one sequence of the member templates.
#define IREG_REG_NODE_TYPED_ACCESS(T)                                                              \
    void RegNode::Get(T& value, size_t pos, const mci::Path&) const                                \
    {                                                                                              \
        ISTD_TRACE_FNC("void ireg::RegNode::Get(" #T "&, size_t, const mci::Path&) const");       \
        FetchValue(value, pos);                                                                    \
    }                                                                                              \
    void RegNode::Get(std::vector<T>& values, size_t pos, size_t count, const mci::Path&) const    \
    {                                                                                              \
        ISTD_TRACE_FNC("void ireg::RegNode::Get(std::vector<" #T ">&, size_t, size_t, const mci::Path&) const"); \
        FetchValue(values, pos, count);                                                            \
    }                                                                                              \
    void RegNode::Set(const T& value, size_t pos, const mci::Path&)                                \
    {                                                                                              \
        ISTD_TRACE_FNC("void ireg::RegNode::Set(const " #T "&, size_t, const mci::Path&)");       \
        UpdateValue(value, pos);                                                                   \
    }                                                                                              \
    void RegNode::Set(const std::vector<T>& values, size_t pos, const mci::Path&)                  \
    {                                                                                              \
        ISTD_TRACE_FNC("void ireg::RegNode::Set(const std::vector<" #T ">&, size_t, const mci::Path&)"); \
        UpdateValue(values, pos);                                                                  \
    }                                                                                              \
    size_t RegNode::OnGet(T*, size_t, size_t) const                                                \
    {                                                                                              \
        _ThrowUnsupportedGet();                                                                    \
    }                                                                                              \
    void RegNode::OnSet(const T*, size_t, size_t)                                                  \
    {                                                                                              \
        _ThrowUnsupportedSet();                                                                    \
    }

IREG_REG_NODE_TYPED_ACCESS(std::string)
IREG_REG_NODE_TYPED_ACCESS(int64_t)
IREG_REG_NODE_TYPED_ACCESS(uint64_t)
IREG_REG_NODE_TYPED_ACCESS(int32_t)
IREG_REG_NODE_TYPED_ACCESS(uint32_t)
IREG_REG_NODE_TYPED_ACCESS(double)
IREG_REG_NODE_TYPED_ACCESS(float)
IREG_REG_NODE_TYPED_ACCESS(bool)

#undef IREG_REG_NODE_TYPED_ACCESS

void RegNode::ApplyValue(const std::vector<bool>& values, size_t pos)
{
    auto lock = Lock();
    _StoreBitsLocked(values, pos);
}

void RegNode::_StoreBitsLocked(const std::vector<bool>& values, size_t pos)
{
    ISTD_TRACE_FNC("void ireg::RegNode::_StoreBitsLocked(const std::vector<bool>&, size_t)");
    const size_t count = values.size();
    std::unique_ptr<bool[]> bits(new bool[count == 0 ? 1 : count]());
    std::copy(values.begin(), values.end(), bits.get());
    _StoreLocked(bits.get(), pos, count);
}

bool RegNode::Emit()
{
    ISTD_TRACE_FNC("bool ireg::RegNode::Emit()");
    using namespace mci::enums;
    switch (GetValueType()) {
    case eBool:
        return _Emit<bool>();
    case eInt32:
        return _Emit<int32_t>();
    case eUInt32:
        return _Emit<uint32_t>();
    case eInt64:
        return _Emit<int64_t>();
    case eUInt64:
        return _Emit<uint64_t>();
    case eDouble:
        return _Emit<double>();
    case eFloat:
        return _Emit<float>();
    case eString:
        return _Emit<std::string>();
    case eEnumeration:
        return _Emit<int32_t>();
    default:
        return false;
    }
}

bool RegNode::OnSubscribe(const mci::ClientId& client, const mci::Path&)
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnSubscribe(const mci::ClientId&, const mci::Path&)");
    if (m_clients.count(client) != 0) {
        return false;
    }
    // The handle first: a node that no shared pointer owns throws std::bad_weak_ptr here and
    // keeps no client it could never notify.
    const mci::Node node(shared_from_this(), mci::c_noRelPath);
    m_clients.insert(client);
    _ClientsChanged();
    return mci::Dispatcher::GetInstance().Register(client, node);
}

bool RegNode::OnUnsubscribe(const mci::ClientId& client, const mci::Path&, bool unregister)
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnUnsubscribe(const mci::ClientId&, const mci::Path&, bool)");
    auto it = m_clients.find(client);
    if (it == m_clients.end()) {
        return false;
    }
    if (!unregister) {
        m_clients.erase(it);
        _ClientsChanged();
        return true;
    }
    const mci::Node node(shared_from_this(), mci::c_noRelPath);
    m_clients.erase(it);
    _ClientsChanged();
    return mci::Dispatcher::GetInstance().Unregister(client, node);
}

void RegNode::_ClientsChanged()
{
    m_clientList.reset(); // an allocation that fails leaves no list behind, which OnEmit notices
    if (!m_clients.empty()) {
        m_clientList = std::make_shared<const std::vector<mci::ClientId>>(m_clients.begin(), m_clients.end());
    }
}

bool RegNode::OnEmit(const mci::NotificationData& data)
{
    if (m_clients.empty()) {
        return false;
    }
    mci::Dispatcher& dispatcher = mci::Dispatcher::GetInstance();
    return m_clientList ? dispatcher.EmitShared(m_clientList, data) : dispatcher.Emit(m_clients, data);
}

bool RegNode::OnGetValidatorExpression(std::string& text, const mci::Path&) const
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnGetValidatorExpression(std::string&, const mci::Path&) const");
    auto lock = Lock();
    text = m_validator ? m_validator->ToText() : std::string();
    return true;
}

void RegNode::SetValidator(const ExpressionPtr& validator)
{
    auto lock = Lock();
    m_validator = validator;
}

ExpressionPtr RegNode::GetValidator() const
{
    auto lock = Lock();
    return m_validator;
}

void RegNode::VerifySetArgs(size_t pos, size_t count) const
{
    const size_t size = OnGetSize(mci::c_noRelPath);
    if (pos >= size) {
        throw istd::Exception("Position out of range", true);
    }
    if (count > size - pos) {
        throw istd::Exception("Size too large", true);
    }
}

size_t RegNode::VerifyGetArgs(size_t pos, size_t count) const
{
    const size_t size = OnGetSize(mci::c_noRelPath);
    if (pos >= size) {
        throw istd::Exception("Position out of range", true);
    }
    return std::min(count, size - pos);
}

void RegNode::_CheckStoredTexts(const std::string* values, size_t count) const
{
    if ((_Flags() & mci::enums::ePersistent) == 0) {
        return;
    }
    const bool isString = OnGetValueType(mci::c_noRelPath) == mci::enums::eString;
    const std::string& tag = (_Flags() & mci::enums::eArray) != 0 ? c_itemElement : GetName();
    for (size_t i = 0; i < count; ++i) {
        // An enumeration refuses a text that is none of its names itself.
        if (!isString) {
            continue;
        }
        if (!IsConfigText(values[i])) {
            throw istd::Exception(
                "Invalid text: control characters and invalid UTF-8 cannot be kept in a configuration file",
                true);
        }
        // Refused now rather than at the save, where it could only be left out.
        if (!icfg::IsReadableTag(tag, c_valueAttr, values[i])) {
            throw istd::Exception("Invalid text: " + std::to_string(values[i].size()) +
                                      " bytes are too long to be read back from a configuration file",
                                  true);
        }
    }
}

void RegNode::_ReportRefusal(const std::string& value, const std::string& reason, const std::string& child)
{
    std::string path;
    try {
        const mci::Path names = mci::Node(shared_from_this(), mci::c_noRelPath).GetFullPath(true);
        for (const std::string& name : names) {
            path += "/" + name;
        }
    } catch (const std::exception&) {
        path = "/" + GetName(); // a node that no shared pointer holds
    }
    if (!child.empty()) {
        path += "/" + child;
    }
    LoadRefusals::Report(path.empty() ? "/" : path, value, reason);
}

// ---------------------------------------------------------------------------------------------
// Persistence

icfg::ElementPtr RegNode::Serialize()
{
    auto lock = Lock();
    return OnSerialize();
}

bool RegNode::Deserialize(const icfg::ElementPtr& element)
{
    auto lock = Lock();
    return OnDeserialize(element);
}

bool RegNode::WriteConfiguration()
{
    auto lock = Lock();
    return OnWriteConfiguration();
}

bool RegNode::LoadConfiguration()
{
    auto lock = Lock();
    return OnLoadConfiguration();
}

icfg::ElementPtr RegNode::OnSerialize()
{
    ISTD_TRACE_FNC("icfg::ElementPtr ireg::RegNode::OnSerialize()");
    const std::string& name = GetName();
    const bool validName = IsConfigName(name);
    icfg::ElementPtr element;
    auto logInvalidName = [&name] {
        istd::LogError("Storing configuration: Node name \"" + name +
                       "\" is no valid XML name. The node is left out of the file.");
    };
    if (_Flags() & mci::enums::ePersistent) {
        if (!validName) {
            logInvalidName();
            return icfg::ElementPtr();
        }
        element = icfg::Element::Create(name, icfg::e_none);
        ForConfigType(OnGetValueType(mci::c_noRelPath), [this, &element](auto tag, icfg::DataType_e type) {
            CreateConfigValue<typename decltype(tag)::type>(element, type);
        });
    }
    for (const mci::TreeNodePtr& child : GetAllNodes()) {
        auto* node = dynamic_cast<RegNode*>(child.get());
        if (node == nullptr) {
            continue;
        }
        icfg::ElementPtr childElement = node->Serialize();
        if (!childElement) {
            continue;
        }
        if (!element) {
            if (!validName) {
                logInvalidName();
                return icfg::ElementPtr();
            }
            element = icfg::Element::Create(name, icfg::e_none);
        }
        if (childElement->GetName() == c_arrayElement && element->FindChild(c_arrayElement)) {
            // Two elements of that name would make the file one that no schema describes.
            istd::LogError("Storing configuration: Node " + name + "/" + c_arrayElement +
                           " has the name of its parent's values. The node is left out of the file.");
            continue;
        }
        element->AddChild(childElement);
    }
    return element;
}

template <class T>
bool RegNode::CreateConfigValue(const icfg::ElementPtr& element, icfg::DataType_e type)
{
    ISTD_TRACE_FNC("bool ireg::RegNode::CreateConfigValue(const icfg::ElementPtr&, icfg::DataType_e)");
    // A value that cannot be read, or that the file cannot hold, is left out rather than
    // replaced: the file keeps no value for the node instead of a wrong one.
    auto unreadable = [this](const char* what) {
        istd::LogError(std::string("Storing configuration: Cannot read ") + what + " from node " + GetName() +
                       ". The node's value is left out of the file.");
        return false;
    };
    auto unwritable = [this] {
        istd::LogError("Storing configuration: The value of node " + GetName() +
                       " holds characters XML cannot carry. The node's value is left out of the file.");
        return false;
    };
    auto tooLong = [this](size_t bytes) {
        istd::LogError("Storing configuration: The value of node " + GetName() + " (" + std::to_string(bytes) +
                       " bytes) is too long to be read back. The node's value is left out of the file.");
        return false;
    };
    if ((_Flags() & mci::enums::eArray) == 0) {
        T value{};
        bool read = false;
        try {
            read = GetValue(value, 0);
        } catch (...) {
        }
        if (!read) {
            return unreadable("value");
        }
        std::string text = ConfigText(value);
        if (std::is_same_v<T, std::string> && !IsConfigText(text)) {
            return unwritable();
        }
        if (!icfg::IsReadableTag(GetName(), c_valueAttr, text)) {
            return tooLong(text.size());
        }
        SetConfigValue(element, text, type);
        return true;
    }

    std::vector<T> values;
    bool read = false;
    try {
        read = GetValue(values, 0, 0);
    } catch (...) {
    }
    if (!read) {
        return unreadable("values");
    }
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        texts.push_back(ConfigText(static_cast<T>(values[i])));
        if (std::is_same_v<T, std::string> && !IsConfigText(texts.back())) {
            return unwritable();
        }
        if (!icfg::IsReadableTag(c_itemElement, c_valueAttr, texts.back())) {
            return tooLong(texts.back().size());
        }
    }
    std::vector<std::string> validValues;
    if (type == icfg::e_xsString) {
        GetDomainValues(validValues);
    }
    icfg::ElementPtr array = icfg::Element::Create(c_arrayElement, icfg::e_none);
    array->SetOrder(icfg::Element::e_sequence);
    for (const std::string& text : texts) {
        icfg::ElementPtr item = icfg::Element::Create(c_itemElement, icfg::e_none);
        item->AddAttribute(ConfigAttribute(text, type, validValues));
        array->AddChild(item);
    }
    element->AddChild(array);
    return true;
}

void RegNode::SetConfigValue(const icfg::ElementPtr& element, const std::string& text, icfg::DataType_e type)
{
    std::vector<std::string> validValues;
    if (type == icfg::e_xsString) {
        GetDomainValues(validValues);
    }
    element->AddAttribute(ConfigAttribute(text, type, validValues));
}

bool RegNode::OnDeserialize(const icfg::ElementPtr& element)
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnDeserialize(const icfg::ElementPtr&)");
    if (!element) {
        return false;
    }
    if (_Flags() & mci::enums::ePersistent) {
        ForConfigType(OnGetValueType(mci::c_noRelPath), [this, &element](auto tag, icfg::DataType_e) {
            ReadConfigValue<typename decltype(tag)::type>(element);
        });
    }
    bool result = true;
    for (const icfg::ElementPtr& child : element->GetChildren()) {
        const std::string childName = child->GetName();
        if (childName.compare(0, sizeof c_ownPrefix - 1, c_ownPrefix) == 0) {
            continue;
        }
        try {
            const mci::TreeNodePtr node = GetNode(childName, mci::c_noRelPath);
            if (auto* regNode = dynamic_cast<RegNode*>(node.get())) {
                result = regNode->Deserialize(child) && result;
            } else {
                // Passed over as before; but the next write drops it.
                _ReportRefusal(HeldText(*child), node ? "not a registry node" : "no such node", childName);
            }
        } catch (const istd::Exception& e) {
            std::ostringstream os;
            os << "Loading value for node \"" << GetName() << "/" << istd::OutsideText(childName)
               << "\". Error: " << istd::OutsideText(e.what());
            istd::LogWarning(os.str());
            _ReportRefusal(HeldText(*child), e.what(), childName);
            result = false;
        }
    }
    return result;
}

template <class T>
void RegNode::ReadConfigValue(const icfg::ElementPtr& element)
{
    ISTD_TRACE_FNC("void ireg::RegNode::ReadConfigValue(const icfg::ElementPtr&)");
    if (_Flags() & mci::enums::eArray) {
        ReadConfigArray<T>(element);
        return;
    }
    T value{};
    if (!ConfigValueOf(*element, value)) {
        istd::LogError("Invalid config value for node: " + GetName());
        _ReportRefusal(HeldText(*element), "no value of the node's type");
        return;
    }
    try {
        _ApplyValue(&value, 0, 1);
        EmitValue(value, 0);
    } catch (const istd::Exception& e) {
        istd::LogError("Cannot set value to node: " + GetName() + " value: " + istd::OutsideText(StreamText(value)) +
                       " reason: " + istd::OutsideText(e.what()));
        _ReportRefusal(HeldText(*element), e.what());
    }
}

template <class T>
void RegNode::ReadConfigArray(const icfg::ElementPtr& element)
{
    ISTD_TRACE_FNC("void ireg::RegNode::ReadConfigArray(const icfg::ElementPtr&)");
    const icfg::ElementPtr array = element->FindChild(c_arrayElement);
    if (!array) {
        istd::LogError("Invalid config element for node: " + GetName());
        _ReportRefusal(HeldText(*element), "no " + std::string(c_arrayElement) + " element");
        return;
    }
    const icfg::ElementList& items = array->GetChildren();
    std::vector<T> values(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        T value{};
        if (!ConfigValueOf(*items[i], value)) {
            istd::LogError("Invalid config value for node: " + GetName());
            _ReportRefusal(HeldText(*element), "item " + std::to_string(i) + " is no value of the node's type");
            return;
        }
        values[i] = std::move(value);
    }
    try {
        if constexpr (std::is_same_v<T, bool>) {
            ApplyValue(values, 0);
        } else if (!values.empty()) {
            _ApplyValue(values.data(), 0, values.size());
        }
        EmitValue(values, 0);
    } catch (const istd::Exception& e) {
        istd::LogError("Cannot set values to node: " + GetName() + " reason: " + istd::OutsideText(e.what()));
        _ReportRefusal(HeldText(*element), e.what());
    }
}

bool RegNode::_OnEveryChild(bool (RegNode::*entry)())
{
    bool result = true;
    for (const mci::TreeNodePtr& child : GetAllNodes()) {
        if (auto* node = dynamic_cast<RegNode*>(child.get())) {
            result = (node->*entry)() && result;
        }
    }
    return result;
}

bool RegNode::OnLoadConfiguration()
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnLoadConfiguration()");
    return _OnEveryChild(&RegNode::LoadConfiguration);
}

bool RegNode::OnWriteConfiguration()
{
    ISTD_TRACE_FNC("bool ireg::RegNode::OnWriteConfiguration()");
    return _OnEveryChild(&RegNode::WriteConfiguration);
}

void RegNode::_ThrowUnsupportedGet() const
{
    throw istd::Exception(GetName() + ": unsupported argument type while getting a node value", true);
}

void RegNode::_ThrowUnsupportedSet() const
{
    throw istd::Exception(GetName() + ": unsupported argument type while setting a node value", true);
}

void RegNode::_ThrowSetError(const istd::Exception& cause) const
{
    throw istd::Exception("ireg: " + GetName() + ": " + cause.what(), true);
}

void RegNode::_ThrowGetError(const istd::Exception& cause) const
{
    throw istd::Exception("ireg node " + GetName() + ": " + cause.what(), true);
}

void RegNode::_TraceSetFailure(const istd::Exception& cause) const
{
    ISTD_TRACE(1, "Cannot set value ireg: " << GetName() << ": " << cause.what());
}

void RegNode::_TraceGetFailure(const istd::Exception& cause)
{
    ISTD_TRACE(1, "Cannot get value " << cause.what());
}

} // namespace ireg
