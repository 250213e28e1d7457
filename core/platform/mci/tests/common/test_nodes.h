#ifndef MCI_TESTS_COMMON_TEST_NODES_H
#define MCI_TESTS_COMMON_TEST_NODES_H

// Node kinds for the tests: a node holding values of one type that keeps subscribers and emits
// like a registry node, and a node that counts its clean-ups and releases.

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "mci/mci.h"

namespace mcitest {

template <class T>
mci::enums::NodeValType_e TypeCode()
{
    using namespace mci::enums;
    if constexpr (std::is_same_v<T, bool>) return eBool;
    else if constexpr (std::is_same_v<T, int32_t>) return eInt32;
    else if constexpr (std::is_same_v<T, uint32_t>) return eUInt32;
    else if constexpr (std::is_same_v<T, int64_t>) return eInt64;
    else if constexpr (std::is_same_v<T, uint64_t>) return eUInt64;
    else if constexpr (std::is_same_v<T, double>) return eDouble;
    else if constexpr (std::is_same_v<T, float>) return eFloat;
    else return eString;
}

// Holds values of T (several with the array flag). A set stores under the node lock and emits
// the value to the subscribers, still under the lock; a get of an unreadable node throws.
template <class T>
class ValueNode : public mci::TreeNode {
public:
    ValueNode(const std::string& name, std::vector<T> values, mci::Flags flags = c_defaultFlags)
        : TreeNode(name, flags | (values.size() > 1 ? mci::Flags(mci::enums::eArray) : mci::Flags(0))), m_values(std::move(values))
    {
    }
    ~ValueNode() override
    {
        if (!m_clients.empty()) {
            mci::Dispatcher::GetInstance().Unregister(GetId(), mci::c_noRelPath, m_clients);
        }
    }

    using TreeNode::Emit;
    using TreeNode::Get;
    using TreeNode::Set;

    void Get(T& value, size_t pos, const mci::Path&) const override
    {
        auto lock = LockRead();
        _CheckRead(pos);
        value = m_values[pos];
    }
    void Get(std::vector<T>& values, size_t pos, size_t count, const mci::Path&) const override
    {
        auto lock = LockRead();
        _CheckRead(pos);
        const size_t n = count == 0 || count > m_values.size() - pos ? m_values.size() - pos : count;
        values.assign(m_values.begin() + pos, m_values.begin() + pos + n);
    }
    void Set(const T& value, size_t pos, const mci::Path&) override
    {
        auto lock = Lock();
        _CheckWrite(pos);
        m_values[pos] = value;
        OnEmitValue(IsArray() ? istd::Any(std::vector<T>{value}) : istd::Any(value), pos);
    }
    void Set(const std::vector<T>& values, size_t pos, const mci::Path&) override
    {
        auto lock = Lock();
        _CheckWrite(pos);
        for (size_t i = 0; i < values.size() && pos + i < m_values.size(); ++i) {
            m_values[pos + i] = values[i];
        }
        OnEmitValue(istd::Any(values), pos);
    }

    size_t OnGetSize(const mci::Path&) const override { return m_values.size(); }
    mci::enums::NodeValType_e OnGetValueType(const mci::Path&) const override { return TypeCode<T>(); }

    bool OnSubscribe(const mci::ClientId& client, const mci::Path&) override
    {
        if (!m_clients.insert(client).second) {
            return false;
        }
        return mci::Dispatcher::GetInstance().Register(client, mci::Node(shared_from_this(), mci::c_noRelPath));
    }
    bool OnUnsubscribe(const mci::ClientId& client, const mci::Path&, bool unregister) override
    {
        if (m_clients.erase(client) == 0) {
            return false;
        }
        return !unregister ||
               mci::Dispatcher::GetInstance().Unregister(client, mci::Node(shared_from_this(), mci::c_noRelPath));
    }
    bool OnEmit(const mci::NotificationData& data) override
    {
        return !m_clients.empty() && mci::Dispatcher::GetInstance().Emit(m_clients, data);
    }

    size_t ClientCount() const
    {
        auto lock = Lock();
        return m_clients.size();
    }

private:
    void _CheckRead(size_t pos) const
    {
        if (!IsReadable()) {
            throw istd::Exception("not readable");
        }
        if (pos >= m_values.size()) {
            throw istd::Exception("Position out of range");
        }
    }
    void _CheckWrite(size_t pos) const
    {
        if (!IsWritable() || IsConstant()) {
            throw istd::Exception("not writable");
        }
        if (pos >= m_values.size()) {
            throw istd::Exception("Position out of range");
        }
    }

    std::vector<T> m_values;
    std::set<mci::ClientId> m_clients;
};

// Counts the clean-ups and releases of all its instances.
class CountingNode : public mci::TreeNode {
public:
    static std::atomic<int> cleanups;
    static std::atomic<int> releases;

    CountingNode(const std::string& name, bool cleanupResult = true, bool initResult = true)
        : TreeNode(name, c_defaultFlags), m_cleanupResult(cleanupResult), m_initResult(initResult)
    {
    }
    ~CountingNode() override { ++releases; }

    bool Init() override { return m_initResult; }
    bool OnCleanup(const mci::Path& path) override
    {
        ++cleanups;
        return TreeNode::OnCleanup(path) && m_cleanupResult;
    }

private:
    bool m_cleanupResult;
    bool m_initResult;
};

} // namespace mcitest

#endif
