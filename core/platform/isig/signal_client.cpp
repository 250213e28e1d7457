#include "isig/signal_client.h"

#include <type_traits>

#include "istd/exception.h"
#include "istd/trace.h"

namespace isig {

namespace {

// Builds the buffer and calls Receive. When the values already have the CORBA element type,
// the sequence borrows them instead of copying: the call is synchronous and the ORB only reads
// the buffer while it marshals (or, for a receiver in this process, while the call lasts).
template <class SEQ, class CorbaT, class X>
void Deliver(i_NET::_objref_SignalReceiver* receiver, const X* values, unsigned count, const SignalMeta& meta)
{
    if (CORBA::is_nil(receiver)) {
        throw istd::Exception("isig: DoDispatch: no receiver.");
    }
    CORBA::Any any;
    if constexpr (std::is_same_v<X, CorbaT>) {
        any <<= new SEQ(count, count, const_cast<CorbaT*>(values), false);
    } else {
        auto* seq = new SEQ;
        any <<= seq; // the Any owns it from here
        seq->length(count);
        for (unsigned i = 0; i < count; ++i) {
            (*seq)[i] = static_cast<CorbaT>(values[i]);
        }
    }
    receiver->Receive(any, ToCorbaMeta(meta));
}

} // namespace

SuccessCode_e SignalClientBase::Open(AccessMode_e, unsigned, int64_t)
{
    return Open();
}

int SignalClientBase::SignalAccessType()
{
    return eAccessStream;
}

SignalStats SignalClientBase::GetStatistics() const
{
    return {};
}

SignalClientBase::~SignalClientBase() = default;

#define ISIG_READ_NOT_SUPPORTED(T)                                                     \
    SuccessCode_e SignalClientBase::Read(T*, unsigned& count, uint64_t, SignalMeta&) \
    {                                                                                  \
        count = 0;                                                                     \
        return eFailure;                                                               \
    }
ISIG_FOR_EACH_BASE_TYPE(ISIG_READ_NOT_SUPPORTED)
#undef ISIG_READ_NOT_SUPPORTED

#define ISIG_DO_DISPATCH(T, SEQ, CorbaT)                                                                    \
    void SignalClientBase::DoDispatch(i_NET::_objref_SignalReceiver* receiver, const T* values, unsigned count, \
                                      const SignalMeta& meta)                                               \
    {                                                                                                       \
        ISTD_TRACE_FNC("static void isig::SignalClientBase::DoDispatch(i_NET::_objref_SignalReceiver*, const " \
                       #T "*, unsigned, const isig::SignalMeta&)");                                         \
        Deliver<i_NET::SEQ, CorbaT>(receiver, values, count, meta);                                         \
    }
ISIG_DO_DISPATCH(double, DoubleBuffer, CORBA::Double)
ISIG_DO_DISPATCH(float, FloatBuffer, CORBA::Float)
ISIG_DO_DISPATCH(uint64_t, UInt64Buffer, CORBA::ULongLong)
ISIG_DO_DISPATCH(int64_t, Int64Buffer, CORBA::LongLong)
ISIG_DO_DISPATCH(uint32_t, UInt32Buffer, CORBA::ULong)
ISIG_DO_DISPATCH(int32_t, Int32Buffer, CORBA::Long)
ISIG_DO_DISPATCH(uint16_t, UInt16Buffer, CORBA::UShort)
ISIG_DO_DISPATCH(int16_t, Int16Buffer, CORBA::Short)
ISIG_DO_DISPATCH(uint8_t, UInt8Buffer, CORBA::Octet)
ISIG_DO_DISPATCH(int8_t, Int8Buffer, CORBA::Octet)
#undef ISIG_DO_DISPATCH

i_NET::SignalMeta ToCorbaMeta(const SignalMeta& meta)
{
    i_NET::SignalMeta out;
    out.length(static_cast<CORBA::ULong>(meta.size()));
    CORBA::ULong i = 0;
    for (const auto& [id, value] : meta) {
        out[i].id = id;
        out[i].value = value;
        ++i;
    }
    return out;
}

SignalMeta FromCorbaMeta(const i_NET::SignalMeta& meta)
{
    SignalMeta out;
    for (CORBA::ULong i = 0; i < meta.length(); ++i) {
        out.emplace(static_cast<SignalMetaId_e>(meta[i].id), meta[i].value);
    }
    return out;
}

} // namespace isig
