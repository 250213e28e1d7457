#include "ireg/reg_node.h"

#include "istd/trace.h"
#include "mci/dispatcher.h"
#include "mci/node.h"

namespace ireg {

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
        return true;
    }
    const mci::Node node(shared_from_this(), mci::c_noRelPath);
    m_clients.erase(it);
    return mci::Dispatcher::GetInstance().Unregister(client, node);
}

bool RegNode::OnEmit(const mci::NotificationData& data)
{
    return !m_clients.empty() && mci::Dispatcher::GetInstance().Emit(m_clients, data);
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
