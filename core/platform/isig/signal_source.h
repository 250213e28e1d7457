#ifndef ISIG_SIGNAL_SOURCE_H
#define ISIG_SIGNAL_SOURCE_H

// A source of fixed-size atoms: a board's data stream, as the registry's signal nodes and
// remote clients see it. A stream derives from it; the signal repository lists every source
// of the process.

#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "isig/isig_export.h"
#include "istd/id.h"
#include "isig/signal_types.h"

namespace isig {

class SignalClientBase;

// Tag of the source id counter.
struct ISIG_API IdSignalSource {};
using SignalSourceId = istd::Id<IdSignalSource>;

class ISIG_API SignalSource {
public:
    // Registers the source in SignalRepository under a new id.
    SignalSource(const std::string& name, const std::string& owner);
    SignalSource(const SignalSource&) = delete;
    SignalSource& operator=(const SignalSource&) = delete;
    // Leaves the repository (unless UnregisterSource did so already).
    virtual ~SignalSource();

    // Bytes in one atom.
    virtual unsigned AtomSize() const = 0;
    // Atoms one read and one dispatch handle.
    virtual unsigned GroupSize() const = 0;
    virtual const std::type_info& AtomType() const = 0;
    // The type of one component of an atom.
    virtual const std::type_info& BaseType() const = 0;
    // Components (base values) in one atom.
    virtual unsigned Length() const = 0;
    virtual std::vector<std::string> GetComponentNames() const = 0;
    virtual AccessType_e AccessType() const = 0;
    // 0.
    virtual int SourceType() const;
    // Empty.
    virtual SignalStats GetStatistics() const;
    // A new client, closed, with a queue of `length` buffers; the caller owns it. Throws
    // istd::Exception or answers nullptr when it cannot make one.
    virtual SignalClientBase* NewSignalClient(const std::string& name, unsigned length) = 0;
    // The final stop: every client ends with eTerminated.
    virtual void ShutDown() = 0;
    // The owner's time stamps are about to move (SignalRepository::NotifyAnnouncedTimestampChange).
    // Does nothing.
    virtual void OnAnnouncedTimestampChange();
    // The owner's time stamps moved by `offset` to the new local machine time `lmt`
    // (SignalRepository::NotifyAdjustedTimestamp). Does nothing.
    virtual void OnAdjustedTimestamp(int64_t offset, uint64_t lmt);
    // Cancels every client with the code.
    virtual void Cancel(SuccessCode_e code) = 0;

    const std::string& GetName() const { return m_name; }
    const std::string& GetOwner() const { return m_owner; }
    uint64_t GetId() const { return m_id.Value(); }
    // BaseType() as an AtomType_e (eAtomUnknown for a type without one).
    AtomType_e BaseEnumType() const;

protected:
    // Leaves the repository now. A derived destructor calls it first, so that no repository
    // notification reaches a source that is half destroyed. Calling it again does nothing.
    void UnregisterSource();

private:
    const std::string m_name;
    const std::string m_owner;
    const SignalSourceId m_id;
};

} // namespace isig

ISTD_DECLARE_ID_COUNTER(isig::IdSignalSource)

#endif
