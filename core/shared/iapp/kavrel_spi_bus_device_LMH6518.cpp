#include "iapp/kavrel_spi_bus_device_LMH6518.h"

#include <initializer_list>
#include <mutex>
#include <set>
#include <type_traits>
#include <utility>

#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/validators.h"
#include "istd/any.h"
#include "istd/trace.h"
#include "mci/dispatcher.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "mci/notification.h"
#include "mci/tree_node.h"

ISTD_ENUM_TABLE(iapp::LMH6518::tAttenuator, {iapp::LMH6518::tAttenuator(0), "0"},
                {iapp::LMH6518::tAttenuator(1), "-2"}, {iapp::LMH6518::tAttenuator(2), "-4"},
                {iapp::LMH6518::tAttenuator(3), "-6"}, {iapp::LMH6518::tAttenuator(4), "-8"},
                {iapp::LMH6518::tAttenuator(5), "-10"}, {iapp::LMH6518::tAttenuator(6), "-12"},
                {iapp::LMH6518::tAttenuator(7), "-14"}, {iapp::LMH6518::tAttenuator(8), "-16"},
                {iapp::LMH6518::tAttenuator(9), "-18"}, {iapp::LMH6518::tAttenuator(10), "-20"});
ISTD_ENUM_TABLE(iapp::LMH6518::tFilterBandwidth, {iapp::LMH6518::tFilterBandwidth(0), "full"},
                {iapp::LMH6518::tFilterBandwidth(1), "20Mhz"}, {iapp::LMH6518::tFilterBandwidth(2), "100Mhz"},
                {iapp::LMH6518::tFilterBandwidth(3), "200Mhz"}, {iapp::LMH6518::tFilterBandwidth(4), "350Mhz"},
                {iapp::LMH6518::tFilterBandwidth(5), "650Mhz"}, {iapp::LMH6518::tFilterBandwidth(6), "750Mhz"});

namespace iapp {

namespace {

using Driver = bmc::LMH6518;

} // namespace

// The subscribers of one of the five nodes, kept beside the node's own set (which only the
// node's lock guards), so that the wrapper can notify them while another node is being set.
// Its lock is taken last: nothing else is locked while it is held but the dispatcher's queue.
class LMH6518::Subscribers {
public:
    void Add(const mci::ClientId& client)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.insert(client);
    }
    void Remove(const mci::ClientId& client)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.erase(client);
    }
    // Hands make() to the dispatcher for the subscribers; false, and make not called, when
    // there are none.
    template <class Make>
    bool Emit(Make make) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_clients.empty() && mci::Dispatcher::GetInstance().Emit(m_clients, make());
    }

private:
    mutable std::mutex m_mutex;
    std::set<mci::ClientId> m_clients;
};

// What the wrapper and its five nodes share: the wrapper's lock, the word as last written and
// the nodes' subscribers. The lock is taken inside a node's lock (a set, a get, a notification
// of the node's own) and around bus transfers and hand-overs to the dispatcher, never around
// a node's lock.
class LMH6518::Word {
public:
    std::mutex mutex;
    uint16_t known = bmc::LMH6518::c_rawAtStart;
    Subscribers subscribers[eFields];
    // Weak: each node holds the word.
    std::weak_ptr<mci::TreeNode> nodes[eFields];

    // The field's value in the known word, as its node's notifications carry it (an
    // enumeration as int32_t, as its node's Emit does).
    istd::Any Value(Field_e field) const
    {
        switch (field) {
        case eValue:
            return istd::Any(uint32_t{known});
        case eFullPower:
            return istd::Any((known & Driver::c_fullPowerOff) == 0);
        case eHighGain:
            return istd::Any((known & Driver::c_highGain) != 0);
        case eBandwidth:
            return istd::Any(int32_t{(known & Driver::c_bandwidthMask) >> Driver::c_bandwidthShift});
        default:
            return istd::Any(int32_t{known & Driver::c_attenuationMask});
        }
    }

    // The notification of the node's own set (or Emit), with the value of the known word.
    mci::NotificationData Own(Field_e field, const mci::NotificationData& own) const
    {
        return mci::NotificationData(own.node, own.type, Value(field), own.position);
    }

    // Under mutex: the fields' notifications with the known word, without their nodes' locks.
    void Publish(std::initializer_list<Field_e> fields) const
    {
        for (Field_e field : fields) {
            if (const mci::TreeNodePtr node = nodes[field].lock()) {
                subscribers[field].Emit([&] {
                    return mci::NotificationData(mci::Node(node, mci::c_noRelPath), mci::enums::eValueChanged,
                                                 Value(field), 0);
                });
            }
        }
    }
};

// One of the five nodes: Kind is its node kind, Store the function node under it (the same for
// bool and uint32; the virtual base of an enumeration node, which the most derived class
// constructs). It keeps its subscribers in the word too, and hands its own notifications over
// under the wrapper's lock with the known word, so that they keep the order of the words written.
template <class Kind, class Store>
class LMH6518::WordNode : public Kind {
public:
    template <class... A, class K = Kind, std::enable_if_t<std::is_same_v<K, Store>, int> = 0>
    WordNode(Field_e field, std::shared_ptr<Word> word, A&&... args)
        : Kind(std::forward<A>(args)...), m_field(field), m_word(std::move(word))
    {
    }
    template <class... A, class K = Kind, std::enable_if_t<!std::is_same_v<K, Store>, int> = 0>
    WordNode(Field_e field, std::shared_ptr<Word> word, A&&... args)
        : Store(args...), Kind(args...), m_field(field), m_word(std::move(word))
    {
    }

    bool OnSubscribe(const mci::ClientId& client, const mci::Path& path) override
    {
        const bool subscribed = Kind::OnSubscribe(client, path);
        m_word->subscribers[m_field].Add(client);
        return subscribed;
    }

    bool OnUnsubscribe(const mci::ClientId& client, const mci::Path& path, bool unregister) override
    {
        const bool unsubscribed = Kind::OnUnsubscribe(client, path, unregister);
        m_word->subscribers[m_field].Remove(client);
        return unsubscribed;
    }

    bool OnEmit(const mci::NotificationData& data) override
    {
        if (data.type != mci::enums::eValueChanged) {
            return Kind::OnEmit(data);
        }
        std::lock_guard<std::mutex> lock(m_word->mutex);
        return Kind::OnEmit(m_word->Own(m_field, data));
    }

private:
    const Field_e m_field;
    const std::shared_ptr<Word> m_word;
};

LMH6518::LMH6518(KavrelSpiBusController& controller, const std::string& name, bmc::BusDeviceId id, bool useCache)
    : KavrelSpiBusDevice(controller, bmc::Create<bmc::LMH6518>(controller.GetController(), name, id, useCache)),
      m_driver(DriverAs<bmc::LMH6518>()),
      m_useCache(useCache),
      m_word(std::make_shared<Word>())
{
}

LMH6518::~LMH6518()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " LMH6518");
}

void LMH6518::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::LMH6518::OnRegistryAdd(mci::TreeNodePtr&)");
    using mci::factory::Create;
    using Word32 = WordNode<ireg::RegFncNode<uint32_t>, ireg::RegFncNode<uint32_t>>;
    using Bool = WordNode<ireg::RegFncNode<bool>, ireg::RegFncNode<bool>>;
    using Bandwidth = WordNode<ireg::RegFncEnumNode<tFilterBandwidth>, ireg::RegFncNode<tFilterBandwidth>>;
    using Attenuation = WordNode<ireg::RegFncEnumNode<tAttenuator>, ireg::RegFncNode<tAttenuator>>;
    const mci::Flags flags = mci::TreeNode::c_defaultFlags;

    m_value = node->Add(Create<Word32>(ireg::Expr<ireg::expr::Range<uint32_t, uint32_t>>(0, 65535), eValue, m_word,
                                       "value", this, &LMH6518::_SetRaw, &LMH6518::_GetRaw, flags));
    m_fullPower = node->Add(
        Create<Bool>(eFullPower, m_word, "full_power", this, &LMH6518::_SetFullPower, &LMH6518::_GetFullPower, flags));
    m_highGain = node->Add(
        Create<Bool>(eHighGain, m_word, "high_gain", this, &LMH6518::_SetHiGain, &LMH6518::_GetHiGain, flags));
    m_bandwidth = node->Add(Create<Bandwidth>(eBandwidth, m_word, "bandwidth", this, &LMH6518::_SetFilterBandWidth,
                                              &LMH6518::_GetFilterBandWidth, flags));
    m_attenuation = node->Add(Create<Attenuation>(eAttenuation, m_word, "attenuation", this,
                                                  &LMH6518::_SetAttenuation, &LMH6518::_GetAttenuation, flags));

    std::lock_guard<std::mutex> lock(m_word->mutex);
    const mci::TreeNodePtr* nodes[eFields] = {&m_value, &m_fullPower, &m_highGain, &m_bandwidth, &m_attenuation};
    for (int field = 0; field < eFields; ++field) {
        m_word->nodes[field] = *nodes[field];
    }
}

bool LMH6518::Set(const uint32_t& value)
{
    if (m_value) {
        return mci::Node(m_value, mci::c_noRelPath).SetValue(value);
    }
    if (value > 0xFFFF) {
        ISTD_TRACE(1, "Cannot set value LMH6518 " << GetName() << ": " << value << " is not a 16-bit word");
        return false;
    }
    return _SetRaw(value);
}

bool LMH6518::_SetRaw(const uint32_t& value)
{
    ISTD_TRACE(4, "LMH6518::_Set:" << value);
    const auto word = static_cast<uint16_t>(value);
    std::lock_guard<std::mutex> lock(m_word->mutex);
    if (!m_driver.SetRaw(word)) {
        return false;
    }
    m_word->known = word;
    m_word->Publish({eFullPower, eHighGain, eBandwidth, eAttenuation});
    return true;
}

bool LMH6518::_GetRaw(uint32_t& value) const
{
    uint16_t word = 0;
    {
        std::lock_guard<std::mutex> lock(m_word->mutex);
        m_driver.GetRaw(word);
    }
    value = word;
    ISTD_TRACE(4, "LMH6518::_Get:" << word << " " << word);
    return true;
}

template <class Write>
bool LMH6518::_SetField(Write write, uint16_t mask, uint16_t bits)
{
    std::lock_guard<std::mutex> lock(m_word->mutex);
    if (!write()) {
        return false;
    }
    uint16_t word = static_cast<uint16_t>((m_word->known & ~mask) | bits);
    if (m_useCache) {
        // What the driver wrote, without a transfer.
        m_driver.GetRaw(word);
    }
    m_word->known = word;
    m_word->Publish({eValue});
    return true;
}

bool LMH6518::_SetAttenuation(const tAttenuator& code)
{
    const auto bits = static_cast<uint16_t>(code & Driver::c_attenuationMask);
    return _SetField([&] { return m_driver.SetAttenuation(bits); }, Driver::c_attenuationMask, bits);
}

bool LMH6518::_GetAttenuation(tAttenuator& code) const
{
    bmc::LMH6518::tAttenuator raw = 0;
    std::lock_guard<std::mutex> lock(m_word->mutex);
    const bool ok = m_driver.GetAttenuation(raw);
    code = static_cast<tAttenuator>(raw);
    return ok;
}

bool LMH6518::_SetFilterBandWidth(const tFilterBandwidth& code)
{
    const auto field = static_cast<uint16_t>(code & 7);
    return _SetField([&] { return m_driver.SetFilterBandWidth(field); }, Driver::c_bandwidthMask,
                     static_cast<uint16_t>(field << Driver::c_bandwidthShift));
}

bool LMH6518::_GetFilterBandWidth(tFilterBandwidth& code) const
{
    bmc::LMH6518::tFilterBandwidth raw = 0;
    std::lock_guard<std::mutex> lock(m_word->mutex);
    const bool ok = m_driver.GetFilterBandWidth(raw);
    code = static_cast<tFilterBandwidth>(raw);
    return ok;
}

bool LMH6518::_SetHiGain(const bool& on)
{
    return _SetField([&] { return m_driver.SetHiGain(on); }, Driver::c_highGain, on ? Driver::c_highGain : 0);
}

bool LMH6518::_GetHiGain(bool& on) const
{
    std::lock_guard<std::mutex> lock(m_word->mutex);
    return m_driver.GetHiGain(on);
}

bool LMH6518::_SetFullPower(const bool& on)
{
    return _SetField([&] { return m_driver.SetFullPower(on); }, Driver::c_fullPowerOff,
                     on ? 0 : Driver::c_fullPowerOff);
}

bool LMH6518::_GetFullPower(bool& on) const
{
    std::lock_guard<std::mutex> lock(m_word->mutex);
    return m_driver.GetFullPower(on);
}

} // namespace iapp
