#ifndef IREG_REG_NODE_H
#define IREG_REG_NODE_H

// The registry node: the base of every node kind of the registry.
//
// Every typed Get and Set of the eight value types runs one fixed sequence, written once in the
// member templates below (FetchValue, UpdateValue and the _...Locked steps they share):
//
//   set:  lock; not writable -> "Node is not writable." (no prefix); constant -> "Node is a
//         constant."; position and size; the validator on every value; OnSet once for the run;
//         the change notification handed to the dispatcher; unlock. Failures after the writable
//         test come back as "ireg: " + name + ": " + cause.
//   get:  lock; not readable -> "TreeNode is not readable."; position; OnGet once for the run;
//         0 values -> "Unable to get value."; unlock. Failures come back as
//         "ireg node " + name + ": " + cause.
//
// A node kind only stores and reads: it overrides OnGet and OnSet for the type it holds (and
// OnGetSize, OnResize, OnGetValueType). The hooks run under the node lock, after the checks, so
// they test nothing themselves. Every other type reaches the defaults here, which refuse it.
//
// The value and reference nodes of the scalar types take a short path for their own type (see
// _QuickSet): one lock, the same checks inline, their own hooks called directly. It is taken
// per call only while the node has no validator and no subscriber, is of that very kind (no
// class derived from it, which could override a hook) and tracing is off;
// a check that fails sends the call to the sequence above, which gives the texts. So a node
// behaves the same on either path.
//
// Persistence: a persistent node turns its value into one configuration element named after it
// (attribute "value", or a child "reg.array" of "reg.item" elements for an array), its
// persistent descendants nested inside, and takes its value back from such an element. Every
// node kind persists through its typed reads and stores alone: an enumeration node (value type
// 9) is saved by the names its string read gives, with its domain values as the valid values
// of the schema, and loaded through its string store. Loading skips the writable and constant
// tests and logs, never throws, what it cannot store. Saving leaves out, with a logged error, a
// value that cannot be read or that XML cannot hold, and a node whose name is no XML name, so
// that one bad node never costs the rest of the file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iomanip>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "icfg/element.h"
#include "ireg/expression.h"
#include "ireg/ireg_export.h"
#include "istd/any.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/notification.h"
#include "mci/tree_node.h"

namespace ireg {

// The eight value types a registry node exchanges.
template <class T>
inline constexpr bool IsRegValueType =
    std::is_same_v<T, std::string> || std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t> ||
    std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t> || std::is_same_v<T, double> ||
    std::is_same_v<T, float> || std::is_same_v<T, bool>;

// The value-type code of T; eNone for any other type (an enumeration's own code comes from the
// enumeration node, not from its storage type).
template <class T>
constexpr mci::enums::NodeValType_e ValueTypeCode()
{
    using namespace mci::enums;
    if constexpr (std::is_same_v<T, bool>) {
        return eBool;
    } else if constexpr (std::is_same_v<T, int32_t>) {
        return eInt32;
    } else if constexpr (std::is_same_v<T, uint32_t>) {
        return eUInt32;
    } else if constexpr (std::is_same_v<T, int64_t>) {
        return eInt64;
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        return eUInt64;
    } else if constexpr (std::is_same_v<T, double>) {
        return eDouble;
    } else if constexpr (std::is_same_v<T, float>) {
        return eFloat;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return eString;
    } else {
        return eNone;
    }
}

// A value as messages quote it: "true"/"false", the text itself, decimal integers, doubles with
// 15 and floats with 6 significant digits in general notation.
template <class T>
std::string ValueText(const T& value)
{
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_same_v<T, std::string>) {
        return value;
    } else if constexpr (std::is_floating_point_v<T>) {
        std::ostringstream os;
        os << std::setprecision(std::is_same_v<T, float> ? 6 : 15) << value;
        return os.str();
    } else if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<std::underlying_type_t<T>>(value));
    } else {
        return std::to_string(value);
    }
}

// The text of a value in a configuration file: ValueText, but floating-point values in the
// shortest general notation that reads back to the same value (the 15 or 6 digits of
// ValueText when those suffice, so such texts are unchanged), infinities as "INF" and "-INF"
// and NaN as "NaN" (the XML Schema forms).
IREG_API std::string ConfigText(double value);
IREG_API std::string ConfigText(float value);
template <class T>
std::string ConfigText(const T& value)
{
    return ValueText(value);
}

// Text that a configuration file can hold: well-formed UTF-8 (no overlong forms, no
// surrogates) of characters XML allows, so no control characters but tab, line feed and
// carriage return.
IREG_API bool IsConfigText(const std::string& text);
// A name that can be an element of a configuration file and be declared in its schema: an
// XML name without a colon.
IREG_API bool IsConfigName(const std::string& name);

// The values a load could not apply, collected on the calling thread while an object lives
// (the innermost one when they nest): a configuration node keeps its file when there were any,
// since its next write would lose them.
class IREG_API LoadRefusals {
public:
    struct Entry {
        std::string node;   // path from the registry root, "/a/b"
        std::string value;  // the text the file holds (shortened)
        std::string reason;
    };

    LoadRefusals();
    ~LoadRefusals();
    LoadRefusals(const LoadRefusals&) = delete;
    LoadRefusals& operator=(const LoadRefusals&) = delete;

    const std::vector<Entry>& Entries() const { return m_entries; }

    // Adds to the collector of the calling thread, if there is one.
    static void Report(const std::string& node, const std::string& value, const std::string& reason);

private:
    std::vector<Entry> m_entries;
    LoadRefusals* m_outer;
};

class IREG_API RegNode : public mci::TreeNode {
public:
    using ClientSet = std::set<mci::ClientId>;

    // Without a name, flags 6 (readable and writable).
    RegNode();
    explicit RegNode(const std::string& name, mci::Flags flags = c_defaultFlags);
    // Unregisters the clients that are still subscribed; takes no lock.
    ~RegNode() override;

    using mci::TreeNode::Emit;
    using mci::TreeNode::Set; // keeps the overload that makes a text literal a string

    // Typed access. The path is not used: the tree resolves paths before the node is reached.
    void Get(std::string& value, size_t pos, const mci::Path& path) const override;
    void Get(int64_t& value, size_t pos, const mci::Path& path) const override;
    void Get(uint64_t& value, size_t pos, const mci::Path& path) const override;
    void Get(int32_t& value, size_t pos, const mci::Path& path) const override;
    void Get(uint32_t& value, size_t pos, const mci::Path& path) const override;
    void Get(double& value, size_t pos, const mci::Path& path) const override;
    void Get(float& value, size_t pos, const mci::Path& path) const override;
    void Get(bool& value, size_t pos, const mci::Path& path) const override;

    // count 0 reads the whole node from pos; more than remains gives what remains.
    void Get(std::vector<std::string>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<int64_t>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<uint64_t>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<int32_t>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<uint32_t>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<double>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<float>& values, size_t pos, size_t count, const mci::Path& path) const override;
    void Get(std::vector<bool>& values, size_t pos, size_t count, const mci::Path& path) const override;

    void Set(const std::string& value, size_t pos, const mci::Path& path) override;
    void Set(const int64_t& value, size_t pos, const mci::Path& path) override;
    void Set(const uint64_t& value, size_t pos, const mci::Path& path) override;
    void Set(const int32_t& value, size_t pos, const mci::Path& path) override;
    void Set(const uint32_t& value, size_t pos, const mci::Path& path) override;
    void Set(const double& value, size_t pos, const mci::Path& path) override;
    void Set(const float& value, size_t pos, const mci::Path& path) override;
    void Set(const bool& value, size_t pos, const mci::Path& path) override;

    // A vector is refused whole when any element fails; an empty one stores and sends nothing.
    void Set(const std::vector<std::string>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<int64_t>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<uint64_t>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<int32_t>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<uint32_t>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<double>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<float>& values, size_t pos, const mci::Path& path) override;
    void Set(const std::vector<bool>& values, size_t pos, const mci::Path& path) override;

    // Pushes the node's current value to its subscribers (by its value type; an enumeration as
    // int32_t). False when nobody is subscribed, the node has no value or the read fails; then
    // nothing is sent.
    bool Emit() override;

    // Subscriptions. The tree node runs these under the node lock.
    bool OnSubscribe(const mci::ClientId& client, const mci::Path& path) override;
    bool OnUnsubscribe(const mci::ClientId& client, const mci::Path& path, bool unregister) override;
    // Queues the notification for all subscribed clients; false when there are none.
    bool OnEmit(const mci::NotificationData& data) override;

    // The validator's text, or "" without one; always true.
    bool OnGetValidatorExpression(std::string& text, const mci::Path& path) const override;

    // Persistence entry points: each runs its hook under the node lock (so a traversal holds
    // the locks of the node it handles and of its ancestors, taken from parent to child).
    // The node's element, or an empty pointer when neither it nor a descendant is persistent.
    icfg::ElementPtr Serialize();
    // Loads the node's value and its descendants' from its element; false when a descendant's
    // load threw (the rest still loaded).
    bool Deserialize(const icfg::ElementPtr& element);
    // Carry a write or load of the configuration down to the configuration nodes below.
    bool WriteConfiguration();
    bool LoadConfiguration();

    // Hooks of the entry points above. The defaults: the element of the node's value and of its
    // descendants; loading it back (errors logged, never thrown but for exceptions other than
    // istd::Exception); calling the entry point on every registry-node child, ANDing results.
    virtual bool OnDeserialize(const icfg::ElementPtr& element);
    virtual icfg::ElementPtr OnSerialize();
    virtual bool OnLoadConfiguration();
    virtual bool OnWriteConfiguration();

    // Read hook: writes up to count values from pos into values and returns how many, 0 meaning
    // failure. Runs under the node lock with pos inside the size and count limited to what
    // remains. The defaults throw name + ": unsupported argument type while getting a node value".
    virtual size_t OnGet(std::string* values, size_t pos, size_t count) const;
    virtual size_t OnGet(int32_t* values, size_t pos, size_t count) const;
    virtual size_t OnGet(uint32_t* values, size_t pos, size_t count) const;
    virtual size_t OnGet(int64_t* values, size_t pos, size_t count) const;
    virtual size_t OnGet(uint64_t* values, size_t pos, size_t count) const;
    virtual size_t OnGet(double* values, size_t pos, size_t count) const;
    virtual size_t OnGet(float* values, size_t pos, size_t count) const;
    virtual size_t OnGet(bool* values, size_t pos, size_t count) const;

    // Store hook: stores count values at pos, or throws istd::Exception. Runs under the node
    // lock after the position and count tests and after the validator accepted every value.
    // The defaults throw name + ": unsupported argument type while setting a node value".
    virtual void OnSet(const std::string* values, size_t pos, size_t count);
    virtual void OnSet(const int32_t* values, size_t pos, size_t count);
    virtual void OnSet(const uint32_t* values, size_t pos, size_t count);
    virtual void OnSet(const int64_t* values, size_t pos, size_t count);
    virtual void OnSet(const uint64_t* values, size_t pos, size_t count);
    virtual void OnSet(const double* values, size_t pos, size_t count);
    virtual void OnSet(const float* values, size_t pos, size_t count);
    virtual void OnSet(const bool* values, size_t pos, size_t count);

    // An empty pointer removes the validator.
    void SetValidator(const ExpressionPtr& validator);
    ExpressionPtr GetValidator() const;

    // "Position out of range" when pos is not below the size, else "Size too large" when fewer
    // than count values remain from pos.
    void VerifySetArgs(size_t pos, size_t count) const;
    // "Position out of range" when pos is not below the size; else the smaller of count and
    // what remains from pos.
    size_t VerifyGetArgs(size_t pos, size_t count) const;

    // The typed get, answering false (traced at level 1 as "Cannot get value " + cause) where
    // Get throws.
    template <class T>
    bool GetValue(T& value, size_t pos = 0) const;
    template <class T>
    bool GetValue(std::vector<T>& values, size_t pos, size_t count) const;

    // For components that change a value from inside the program: refuses a constant node, but
    // not a read-only one. False (traced at level 1 as "Cannot set value " + cause) where a
    // typed set would throw.
    template <class T>
    bool SetValue(const T& value, size_t pos = 0);
    bool SetValue(const char* value, size_t pos = 0) { return SetValue(std::string(value), pos); }
    // The same set for a caller that passes the refusal on: it throws the cause unchanged
    // ("Node is a constant.", a validation error as it is).
    template <class T>
    void SetValueOrThrow(const T& value, size_t pos = 0);

    // Position test, validation, store and notification, without the writable and constant
    // tests and without the rewording of errors.
    template <class T>
    void ApplyAndEmitValue(const T& value, size_t pos);
    template <class T>
    void ApplyAndEmitValue(const std::vector<T>& values, size_t pos);

    // Hands the notification of a new value to the dispatcher: on an array node a one-element
    // vector, else the value. False when nobody is subscribed; the notification is then not
    // even built, so a set that nobody listens to costs no allocation.
    template <class T>
    bool EmitValue(const T& value, size_t pos);
    // The whole vector on an array node, its first element on a scalar node; an empty vector
    // sends nothing.
    template <class T>
    bool EmitValue(const std::vector<T>& values, size_t pos);

protected:
    // The short path of a typed set and get of one value for a node kind Self whose OnSet,
    // OnGet and OnGetSize for T touch only its own storage: taken when the node is exactly a
    // Self with no validator and no subscriber, while tracing is off, and every check passes;
    // otherwise the general sequence runs (under the lock already taken while tracing is off,
    // else through RegNode::Set and RegNode::Get with their trace scopes).
    template <class Self, class T>
    void _QuickSet(const T& value, size_t pos);
    template <class Self, class T>
    void _QuickGet(T& value, size_t pos) const;

    // The typed set of one value or of a vector: the whole sequence above.
    template <class V>
    void UpdateValue(const V& value, size_t pos);
    // The typed get of one value and of a run of values.
    template <class T>
    void FetchValue(T& value, size_t pos) const;
    // The two above with the node lock held; the read's errors come without their prefix.
    template <class V>
    void _UpdateLocked(const V& value, size_t pos);
    template <class T>
    void _FetchLocked(T& value, size_t pos) const;
    template <class T>
    void FetchValue(std::vector<T>& values, size_t pos, size_t count) const;

    // The guarded store of a run: lock, position and count, validator on each value in order
    // (ValidationError for the first refused, before anything is stored), one OnSet.
    template <class T>
    void _ApplyValue(const T* values, size_t pos, size_t count);
    // The same for bool: a packed vector has no contiguous bools. Runs also for an empty
    // vector (position test, OnSet with count 0).
    void ApplyValue(const std::vector<bool>& values, size_t pos);

    // The steps above with the node lock already held.
    template <class T>
    void _StoreLocked(const T* values, size_t pos, size_t count);
    void _StoreBitsLocked(const std::vector<bool>& values, size_t pos);
    template <class T>
    void _ApplyAndEmitLocked(const T& value, size_t pos);
    template <class T>
    void _ApplyAndEmitLocked(const std::vector<T>& values, size_t pos);
    template <class T>
    bool _EmitLocked(const T& value, size_t pos);
    template <class T>
    bool _EmitLocked(const std::vector<T>& values, size_t pos);
    // The node's own flags, without the path resolution of GetFlags().
    mci::Flags _Flags() const { return OnGetFlags(mci::c_noRelPath); }

    // Reads the current value and emits it; false when the read fails.
    template <class T>
    bool _Emit();

    // Persistence steps, for the value types of the file (an enumeration as std::string).
    // Adds the node's value (attribute "value" or "reg.array") to its element; false, with a
    // logged error and nothing added, when the value cannot be read or held by XML.
    template <class T>
    bool CreateConfigValue(const icfg::ElementPtr& element, icfg::DataType_e type);
    // Adds the attribute "value"; for type 3 with the node's domain values as valid values.
    void SetConfigValue(const icfg::ElementPtr& element, const std::string& text, icfg::DataType_e type);
    // Loads the node's value from its element (an array through ReadConfigArray); logs and
    // returns what it cannot store.
    template <class T>
    void ReadConfigValue(const icfg::ElementPtr& element);
    template <class T>
    void ReadConfigArray(const icfg::ElementPtr& element);
    // Runs the entry point on every registry-node child, all of them; the AND of the results.
    bool _OnEveryChild(bool (RegNode::*entry)());
    // A string stored into a persistent string node must be text a configuration file can hold
    // and read back.
    void _CheckStoredTexts(const std::string* values, size_t count) const;
    // Reports a value this node's load refused (see LoadRefusals); child names an element below
    // the node that names no node.
    void _ReportRefusal(const std::string& value, const std::string& reason, const std::string& child = {});

    // The texts of the default hooks.
    [[noreturn]] void _ThrowUnsupportedGet() const;
    [[noreturn]] void _ThrowUnsupportedSet() const;
    // Rethrow a cause with the prefix of a write or a read.
    [[noreturn]] void _ThrowSetError(const istd::Exception& cause) const;
    [[noreturn]] void _ThrowGetError(const istd::Exception& cause) const;
    void _TraceSetFailure(const istd::Exception& cause) const;
    static void _TraceGetFailure(const istd::Exception& cause);

private:
    // Whether the node is exactly a Self, found out once under the node lock (the dynamic type
    // is final once a set or get can reach the node).
    template <class Self>
    bool _IsExactlyLocked() const;

    // Makes m_clientList anew from m_clients.
    void _ClientsChanged();

    ClientSet m_clients;
    // The same clients as the list the dispatcher queues without copying it.
    std::shared_ptr<const std::vector<mci::ClientId>> m_clientList;
    ExpressionPtr m_validator;
    enum Kind_e : uint8_t { eKindUnknown, eKindExact, eKindDerived };
    mutable Kind_e m_kind = eKindUnknown;
};

using RegNodePtr = std::shared_ptr<RegNode>;

// ---------------------------------------------------------------------------------------------
// The public templates take the node lock once and run the _...Locked steps under it: the lock
// is recursive, but each further acquisition would cost a library call on every set.

template <class T>
void RegNode::_StoreLocked(const T* values, size_t pos, size_t count)
{
    static_assert(IsRegValueType<T>, "a registry node stores its eight value types");
    VerifySetArgs(pos, count);
    if constexpr (std::is_same_v<T, std::string>) {
        _CheckStoredTexts(values, count);
    }
    if (m_validator) {
        for (size_t i = 0; i < count; ++i) {
            if (!m_validator->Evaluate(values[i])) {
                throw ValidationError(m_validator, ValueText(values[i]));
            }
        }
    }
    OnSet(values, pos, count);
}

template <class T>
void RegNode::_ApplyAndEmitLocked(const T& value, size_t pos)
{
    _StoreLocked(&value, pos, 1);
    _EmitLocked(value, pos);
}

template <class T>
void RegNode::_ApplyAndEmitLocked(const std::vector<T>& values, size_t pos)
{
    if constexpr (std::is_same_v<T, bool>) {
        _StoreBitsLocked(values, pos);
    } else if (!values.empty()) {
        _StoreLocked(values.data(), pos, values.size());
    }
    _EmitLocked(values, pos);
}

template <class T>
bool RegNode::_EmitLocked(const T& value, size_t pos)
{
    if (m_clients.empty()) {
        return false;
    }
    const istd::Any any = _Flags() & mci::enums::eArray ? istd::Any(std::vector<T>{value}) : istd::Any(value);
    return mci::TreeNode::OnEmitValue(any, pos);
}

template <class T>
bool RegNode::_EmitLocked(const std::vector<T>& values, size_t pos)
{
    if (values.empty() || m_clients.empty()) {
        return false;
    }
    const istd::Any any =
        _Flags() & mci::enums::eArray ? istd::Any(values) : istd::Any(static_cast<T>(values.front()));
    return mci::TreeNode::OnEmitValue(any, pos);
}

template <class T>
void RegNode::_ApplyValue(const T* values, size_t pos, size_t count)
{
    auto lock = Lock();
    _StoreLocked(values, pos, count);
}

template <class T>
void RegNode::ApplyAndEmitValue(const T& value, size_t pos)
{
    auto lock = Lock();
    _ApplyAndEmitLocked(value, pos);
}

template <class T>
void RegNode::ApplyAndEmitValue(const std::vector<T>& values, size_t pos)
{
    auto lock = Lock();
    _ApplyAndEmitLocked(values, pos);
}

template <class T>
bool RegNode::EmitValue(const T& value, size_t pos)
{
    auto lock = Lock();
    return _EmitLocked(value, pos);
}

template <class T>
bool RegNode::EmitValue(const std::vector<T>& values, size_t pos)
{
    auto lock = Lock();
    return _EmitLocked(values, pos);
}

template <class Self>
bool RegNode::_IsExactlyLocked() const
{
    if (m_kind == eKindUnknown) {
        m_kind = typeid(*this) == typeid(Self) ? eKindExact : eKindDerived;
    }
    return m_kind == eKindExact;
}

template <class Self, class T>
void RegNode::_QuickSet(const T& value, size_t pos)
{
    static_assert(IsRegValueType<T> && !std::is_same_v<T, std::string>, "the short path is for scalar types");
    if (!istd::TraceFile::IsActive(istd::eTraceError)) {
        auto lock = Lock();
        using namespace mci::enums;
        if ((_OwnFlags() & (eWritable | eConstant)) == eWritable && !m_validator && m_clients.empty() &&
            _IsExactlyLocked<Self>()) {
            Self& self = static_cast<Self&>(*this);
            if (pos < self.Self::OnGetSize(mci::c_noRelPath)) {
                self.Self::OnSet(&value, pos, 1);
                return;
            }
        }
        // With tracing off the entry point's trace scope does nothing: the sequence runs on
        // under the lock already held.
        _UpdateLocked(value, pos);
        return;
    }
    RegNode::Set(value, pos, mci::c_noRelPath);
}

template <class Self, class T>
void RegNode::_QuickGet(T& value, size_t pos) const
{
    static_assert(IsRegValueType<T> && !std::is_same_v<T, std::string>, "the short path is for scalar types");
    if (!istd::TraceFile::IsActive(istd::eTraceError)) {
        try {
            auto lock = LockRead();
            if ((_OwnFlags() & mci::enums::eReadable) != 0 && _IsExactlyLocked<Self>()) {
                const Self& self = static_cast<const Self&>(*this);
                if (pos < self.Self::OnGetSize(mci::c_noRelPath)) {
                    self.Self::OnGet(&value, pos, 1); // these kinds read every value asked for
                    return;
                }
            }
            _FetchLocked(value, pos);
        } catch (const istd::Exception& e) {
            _ThrowGetError(e);
        }
        return;
    }
    RegNode::Get(value, pos, mci::c_noRelPath);
}

template <class V>
void RegNode::UpdateValue(const V& value, size_t pos)
{
    auto lock = Lock();
    _UpdateLocked(value, pos);
}

template <class V>
void RegNode::_UpdateLocked(const V& value, size_t pos)
{
    const mci::Flags flags = _Flags();
    if ((flags & mci::enums::eWritable) == 0) {
        throw istd::Exception("Node is not writable.", true);
    }
    try {
        if (flags & mci::enums::eConstant) {
            throw istd::Exception("Node is a constant.", true);
        }
        _ApplyAndEmitLocked(value, pos);
    } catch (const istd::Exception& e) {
        _ThrowSetError(e);
    }
}

template <class T>
void RegNode::SetValueOrThrow(const T& value, size_t pos)
{
    auto lock = Lock();
    if (_Flags() & mci::enums::eConstant) {
        throw istd::Exception("Node is a constant.", true);
    }
    _ApplyAndEmitLocked(value, pos);
}

template <class T>
bool RegNode::SetValue(const T& value, size_t pos)
{
    try {
        SetValueOrThrow(value, pos);
        return true;
    } catch (const istd::Exception& e) {
        _TraceSetFailure(e);
        return false;
    } catch (const std::exception& e) {
        // A bound setter may throw anything; program code relies on the answer, and a thread
        // such as the events reader must not be ended by it.
        _TraceSetFailure(istd::Exception(e.what(), true));
        return false;
    }
}

template <class T>
void RegNode::FetchValue(T& value, size_t pos) const
{
    static_assert(IsRegValueType<T>, "a registry node reads its eight value types");
    try {
        auto lock = LockRead();
        _FetchLocked(value, pos);
    } catch (const istd::Exception& e) {
        _ThrowGetError(e);
    }
}

template <class T>
void RegNode::_FetchLocked(T& value, size_t pos) const
{
    if ((_Flags() & mci::enums::eReadable) == 0) {
        throw istd::Exception("TreeNode is not readable.", true);
    }
    const size_t n = VerifyGetArgs(pos, 1);
    if (OnGet(&value, pos, n) == 0) {
        throw istd::Exception("Unable to get value.", true);
    }
}

template <class T>
void RegNode::FetchValue(std::vector<T>& values, size_t pos, size_t count) const
{
    static_assert(IsRegValueType<T>, "a registry node reads its eight value types");
    try {
        auto lock = LockRead();
        const size_t size = OnGetSize(mci::c_noRelPath);
        if (count == 0) {
            count = size;
            if (count == 0) {
                // An empty node reads as an empty vector, readable or not.
                values.clear();
                return;
            }
        }
        // The vector is sized to what the node holds, never to what the caller asked for: a
        // remote count of 0xFFFFFFFF must not allocate billions of elements.
        values.resize(pos < size ? std::min(count, size - pos) : 0);
        if ((_Flags() & mci::enums::eReadable) == 0) {
            throw istd::Exception("TreeNode is not readable.", true);
        }
        const size_t n = VerifyGetArgs(pos, count);
        size_t read = 0;
        if constexpr (std::is_same_v<T, bool>) {
            std::unique_ptr<bool[]> bits(new bool[n]());
            read = std::min(OnGet(bits.get(), pos, n), n);
            std::copy_n(bits.get(), read, values.begin());
        } else {
            read = std::min(OnGet(values.data(), pos, n), n);
        }
        if (read == 0) {
            throw istd::Exception("Unable to get value.", true);
        }
        values.resize(read);
    } catch (const istd::Exception& e) {
        _ThrowGetError(e);
    }
}

template <class T>
bool RegNode::GetValue(T& value, size_t pos) const
{
    try {
        FetchValue(value, pos);
        return true;
    } catch (const istd::Exception& e) {
        _TraceGetFailure(e);
        return false;
    }
}

template <class T>
bool RegNode::GetValue(std::vector<T>& values, size_t pos, size_t count) const
{
    try {
        FetchValue(values, pos, count);
        return true;
    } catch (const istd::Exception& e) {
        _TraceGetFailure(e);
        return false;
    }
}

template <class T>
bool RegNode::_Emit()
{
    try {
        // Held across the read and the hand-off, so a set on another thread cannot slip in
        // between and have its newer value overtaken by this older one.
        auto lock = Lock();
        if (m_clients.empty()) {
            return false;
        }
        if (_Flags() & mci::enums::eArray) {
            std::vector<T> values;
            return GetValue(values, 0, 0) && _EmitLocked(values, 0);
        }
        T value{};
        return GetValue(value, 0) && _EmitLocked(value, 0);
    } catch (...) {
        return false;
    }
}

} // namespace ireg

#endif
