#include "iapp/multi_port_table.h"

#include <any>
#include <limits>
#include <mutex>
#include <set>
#include <type_traits>

#include "devio/reg_access.h"
#include "iapp/activator.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/validators.h"
#include "istd/any.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/dispatcher.h"
#include "mci/factory.h"
#include "mci/notification.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

// The node kind of "data" and of the entries. Besides the registry's own notification of a
// write through it, the table announces changes that a write through another of its nodes made
// to this one. That write holds its own node's lock, so the announcement must not take this
// node's lock (an entry write and a "data" write would wait for each other's node): the node
// keeps a copy of its subscribers under a mutex of its own, which is only ever taken last.
template <class T>
class TableNode final : public ireg::RegFncNode<T> {
public:
    using Base = ireg::RegFncNode<T>;
    using Base::Base;

    bool OnSubscribe(const mci::ClientId& client, const mci::Path& path) override
    {
        const bool added = Base::OnSubscribe(client, path);
        if (added) {
            std::lock_guard<std::mutex> lock(m_subscribersMutex);
            m_subscribers.insert(client);
        }
        return added;
    }

    bool OnUnsubscribe(const mci::ClientId& client, const mci::Path& path, bool unregister) override
    {
        const bool removed = Base::OnUnsubscribe(client, path, unregister);
        if (removed) {
            std::lock_guard<std::mutex> lock(m_subscribersMutex);
            m_subscribers.erase(client);
        }
        return removed;
    }

    // The registry's own notifications go out under the same mutex as the announcements, and
    // like them with the value read from the words at that moment (the written one unless a
    // later write overtook it, which then notifies in turn): so the last notification of every
    // node carries what the words finally hold, however writes through the table's nodes
    // interleave.
    bool OnEmit(const mci::NotificationData& data) override
    {
        std::lock_guard<std::mutex> lock(m_subscribersMutex);
        return !m_subscribers.empty() && mci::Dispatcher::GetInstance().Emit(m_subscribers, _Current(data));
    }

    // Reads the value with read() (only when someone listens) and hands it over at position 0,
    // without the node's lock. The read happens under the subscribers' mutex, so announcements
    // leave in the order of their reads.
    template <class Read>
    bool Announce(Read read)
    {
        std::lock_guard<std::mutex> lock(m_subscribersMutex);
        if (m_subscribers.empty()) {
            return false;
        }
        const mci::NotificationData data(mci::Node(this->shared_from_this(), mci::c_noRelPath),
                                         mci::enums::eValueChanged, istd::Any(read()), 0);
        return mci::Dispatcher::GetInstance().Emit(m_subscribers, data);
    }

private:
    // The notification with its value read again at the same position and size.
    mci::NotificationData _Current(const mci::NotificationData& data) const
    {
        if (const auto* values = std::any_cast<std::vector<T>>(&data.value)) {
            std::vector<T> current(values->size());
            if (!current.empty() && this->OnGet(current.data(), data.position, current.size()) == current.size()) {
                return mci::NotificationData(data.node, data.type, istd::Any(std::move(current)), data.position);
            }
        } else if (std::any_cast<T>(&data.value) != nullptr) {
            T current{};
            if (this->OnGet(&current, data.position, 1) == 1) {
                return mci::NotificationData(data.node, data.type, istd::Any(current), data.position);
            }
        }
        return data;
    }

    std::mutex m_subscribersMutex;
    std::set<mci::ClientId> m_subscribers;
};

template <class T>
uint64_t MaskOf(uint32_t width)
{
    return width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
}

// The validator of every node of the table: [0, mask], the mask cut to what T holds (a signed
// table as wide as its word).
template <class T>
std::shared_ptr<ireg::Expression> Validator(uint64_t mask)
{
    const uint64_t high = std::min<uint64_t>(mask, static_cast<uint64_t>(std::numeric_limits<T>::max()));
    return ireg::Expr<ireg::expr::Range<T, T>>(T(0), static_cast<T>(high));
}

} // namespace

// ---------------------------------------------------------------------------------------------

template <class T>
MultiPortTableEntry<T>::MultiPortTableEntry(MultiPortTable<T>& table, const std::string& name, volatile T* word)
    : m_table(&table), m_name(name), m_word(word)
{
}

template <class T>
MultiPortTableEntry<T>::~MultiPortTableEntry() = default;

template <class T>
bool MultiPortTableEntry<T>::_Get(T& value) const
{
    return m_table->Get(*m_word, value);
}

template <class T>
bool MultiPortTableEntry<T>::_Set(const T& value)
{
    return m_table->Set(*m_word, value);
}

template <class T>
void MultiPortTableEntry<T>::AddReg(mci::TreeNodePtr parent, uint64_t flags)
{
    m_node = parent->Add(mci::factory::Create<TableNode<T>>(Validator<T>(m_table->GetMask()), m_name, this,
                                                            &MultiPortTableEntry::_Set, &MultiPortTableEntry::_Get,
                                                            flags));
}

// ---------------------------------------------------------------------------------------------

template <class T>
MultiPortTable<T>::MultiPortTable(KavrelObject& parent, volatile FPGAMem_t* base, const std::string& name,
                                  const std::vector<std::string>& names, const std::vector<T>& initValues,
                                  Activator* activator, uint32_t width, uint32_t offset, uint32_t gap,
                                  mci::Flags flags)
    : KavrelFpgaObject(parent, name),
      m_base(base),
      m_activator(activator),
      m_width(width),
      m_offset(offset),
      m_mask(MaskOf<T>(width)),
      m_gap(gap),
      m_flags(flags)
{
    ISTD_TRACE_FNC("iapp::MultiPortTable<T>::MultiPortTable(...)");
    // Width 0 would make a table that holds nothing but 0.
    if (width == 0 || uint64_t(offset) + width > sizeof(T) * 8) {
        throw istd::Exception("Internal error: Invalid width argument.", true);
    }
    if (names.size() != initValues.size()) {
        throw istd::Exception("Internal error: list of names and init values must be synchronized.", true);
    }
    if (base == nullptr) {
        throw istd::Exception("Internal error: Invalid base address.", true);
    }
    // A word straddling its alignment is no register access the FPGA bus can serve.
    if (gap % sizeof(T) != 0) {
        throw istd::Exception("Internal error: Invalid gap argument.", true);
    }
    const size_t stride = sizeof(T) + gap;
    m_entries.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        auto* word = reinterpret_cast<volatile T*>(m_base + i * stride);
        m_entries.push_back(std::make_unique<MultiPortTableEntry<T>>(*this, names[i], word));
        devio::Write(word, initValues[i]);
    }
    Register(activator);
}

template <class T>
MultiPortTable<T>::~MultiPortTable()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " MultiPortTable");
}

template <class T>
bool MultiPortTable<T>::Set(volatile T& word, const T& value)
{
    bool fits = false;
    if constexpr (std::is_signed_v<T>) {
        if (m_width >= 64) {
            fits = true;
        } else {
            const int64_t high = (int64_t(1) << (m_width - 1)) - 1;
            fits = int64_t(value) >= -high - 1 && int64_t(value) <= high;
        }
    } else {
        fits = uint64_t(value) <= m_mask;
    }
    if (!fits) {
        throw istd::Exception("The specified value " + std::to_string(value) + "is out of range", true);
    }
    using U = std::make_unsigned_t<T>;
    devio::Write(&word, static_cast<T>(static_cast<U>(value) & static_cast<U>(m_mask)));
    UpdateSlaves(eImportanceEntry);
    _AnnounceData();
    return true;
}

template <class T>
bool MultiPortTable<T>::Get(volatile T& word, T& value) const
{
    using U = std::make_unsigned_t<T>;
    const U mask = static_cast<U>(m_mask);
    const U raw = static_cast<U>(devio::Read(&word));
    if constexpr (std::is_signed_v<T>) {
        const U top = U(1) << (m_width - 1);
        value = static_cast<T>((raw & top) != 0 ? ((raw & mask) | ~mask) : raw);
    } else {
        value = static_cast<T>(raw & mask);
    }
    return true;
}

template <class T>
size_t MultiPortTable<T>::GetMultiple(T* values, size_t position, size_t count) const
{
    if (position > m_entries.size() || count > m_entries.size() - position) {
        return 0;
    }
    using U = std::make_unsigned_t<T>;
    for (size_t k = 0; k < count; ++k) {
        const U raw = static_cast<U>(devio::Read(m_entries[position + k]->GetWord()));
        values[k] = static_cast<T>(raw & static_cast<U>(m_mask));
    }
    return count;
}

template <class T>
bool MultiPortTable<T>::_SetMultiple(const T* values, size_t position, size_t count)
{
    if (position > m_entries.size() || count > m_entries.size() - position) {
        return false;
    }
    for (size_t k = 0; k < count; ++k) {
        devio::Write(m_entries[position + k]->GetWord(), values[k]);
    }
    UpdateSlaves(eImportanceBlock);
    for (size_t k = 0; k < count; ++k) {
        _AnnounceEntry(*m_entries[position + k]);
    }
    return true;
}

template <class T>
bool MultiPortTable<T>::SetMultiple(const T* values, size_t position, size_t count)
{
    if (!_SetMultiple(values, position, count)) {
        return false;
    }
    _AnnounceData();
    return true;
}

template <class T>
void MultiPortTable<T>::_AnnounceData()
{
    if (!m_dataNode) {
        return;
    }
    static_cast<TableNode<T>&>(*m_dataNode).Announce([this] {
        std::vector<T> values(m_entries.size());
        GetMultiple(values.data(), 0, values.size());
        return values;
    });
}

template <class T>
void MultiPortTable<T>::_AnnounceEntry(const MultiPortTableEntry<T>& entry)
{
    if (!entry.GetNode()) {
        return;
    }
    static_cast<TableNode<T>&>(*entry.GetNode()).Announce([this, &entry] {
        T value{};
        Get(*entry.GetWord(), value);
        return value;
    });
}

template <class T>
void MultiPortTable<T>::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::MultiPortTable<T>::OnRegistryAdd(mci::TreeNodePtr&)");
    if (m_activator != nullptr) {
        m_activator->AddRegistry(node);
    }
    m_dataNode = node->Add(mci::factory::Create<TableNode<T>>(Validator<T>(m_mask), "data", m_entries.size(), this,
                                                              &MultiPortTable::_SetMultiple,
                                                              &MultiPortTable::GetMultiple,
                                                              m_flags | mci::enums::eArray));
    for (const auto& entry : m_entries) {
        entry->AddReg(m_dataNode, m_flags & ~mci::Flags(mci::enums::ePersistent));
    }
}

template class MultiPortTableEntry<int32_t>;
template class MultiPortTableEntry<uint32_t>;
template class MultiPortTableEntry<int64_t>;
template class MultiPortTableEntry<uint64_t>;
template class MultiPortTable<int32_t>;
template class MultiPortTable<uint32_t>;
template class MultiPortTable<int64_t>;
template class MultiPortTable<uint64_t>;

} // namespace iapp
