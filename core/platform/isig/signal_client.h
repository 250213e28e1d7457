#ifndef ISIG_SIGNAL_CLIENT_H
#define ISIG_SIGNAL_CLIENT_H

// A consumer of one signal, made by the signal's SignalSource::NewSignalClient. A client is
// either read locally (Read) or forwards its data to a remote i_NET::SignalReceiver
// (ForwardTo, driven by the forwarding thread of i_RemoteSignal_impl).
//
// Threads: Close() may be called on another thread while ForwardTo or Read waits for data; it
// must make them return promptly (the stream's queue wakes its reader with eCancelled). IsOpen
// is called from both threads.

#include <cstdint>
#include <string>

#include "inet/i_net.hh"
#include "isig/isig_export.h"
#include "isig/signal_dispatch.h"
#include "isig/signal_types.h"

namespace isig {

class ISIG_API SignalClientBase {
public:
    SignalClientBase() = default;
    SignalClientBase(const SignalClientBase&) = delete;
    SignalClientBase& operator=(const SignalClientBase&) = delete;

    // Starts receiving: eSuccess, or the code that refused it (eTerminated, eNotStarted, ...).
    virtual SuccessCode_e Open() = 0;
    // Open with the way the client will be used, its queue length and read time-out in ms
    // (0: none). This default ignores them and calls Open(). A class that overrides Open()
    // alone hides this overload for callers of the class itself: they call it through a
    // SignalClientBase or add `using SignalClientBase::Open;`.
    virtual SuccessCode_e Open(AccessMode_e mode, unsigned length, int64_t timeoutMs);
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // How the client reads its signal: 1 for a stream client.
    virtual int SignalAccessType();
    virtual std::string GetName() const = 0;
    // Empty by default.
    virtual SignalStats GetStatistics() const;

    virtual ~SignalClientBase();

    // Sends what the client has to the receiver, waiting for data when it has none. eSuccess
    // to be called again; another code ends the forwarding with that code. Throws when the
    // receiver fails (a CORBA exception) or the client cannot continue (istd::Exception).
    virtual SuccessCode_e ForwardTo(i_NET::_objref_SignalReceiver* receiver) = 0;

    // Reads up to `count` values (in: room in `data`, out: values read) with their metadata,
    // waiting at most `timeoutMs` (0: no limit). A client reads the overload of its signal's
    // base type; every other one, and all of them by default, answer eFailure with count 0.
    virtual SuccessCode_e Read(double* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(float* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(uint64_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(int64_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(uint32_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(int32_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(uint16_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(int16_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(uint8_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);
    virtual SuccessCode_e Read(int8_t* data, unsigned& count, uint64_t timeoutMs, SignalMeta& meta);

protected:
    // Delivers `count` values and their metadata to the receiver with one synchronous
    // Receive call: the values travel as the i_NET buffer of their type (DoubleBuffer,
    // FloatBuffer, UInt64Buffer, Int64Buffer, UInt32Buffer, Int32Buffer, UInt16Buffer,
    // Int16Buffer, UInt8Buffer, Int8Buffer; the last two are both octet sequences and differ
    // only in their TypeCode's id), the metadata as i_NET::SignalMeta. CORBA exceptions pass
    // to the caller; a nil receiver throws istd::Exception.
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const double* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const float* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const uint64_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const int64_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const uint32_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const int32_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const uint16_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const int16_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const uint8_t* values, unsigned count,
                           const SignalMeta& meta);
    static void DoDispatch(i_NET::_objref_SignalReceiver* receiver, const int8_t* values, unsigned count,
                           const SignalMeta& meta);
};

// The metadata as it travels: one item per key, in key order.
ISIG_API i_NET::SignalMeta ToCorbaMeta(const SignalMeta& meta);
// Back again; an id that names no SignalMetaId_e is kept as it is, a repeated id keeps its
// first value.
ISIG_API SignalMeta FromCorbaMeta(const i_NET::SignalMeta& meta);

} // namespace isig

#endif
