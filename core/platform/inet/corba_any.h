#ifndef INET_CORBA_ANY_H
#define INET_CORBA_ANY_H

// Conversions between the library's values (istd::Any) and CORBA values.
//
// Note on extraction: the ORB extracts a sequence when the Any's TypeCode is *equivalent* to
// the requested alias, so `any >>= const i_NET::UInt8Buffer*&` also accepts an Int8Buffer, and
// every alias of sequence<string> (StringBuffer, NodeNames, StringVec) extracts as any other.
// Code that must tell aliases apart compares any.type()->id() (e.g. with i_NET::_tc_Int8Buffer).

#include <vector>

#include "inet/i_net.hh"
#include "inet/inet_export.h"
#include "istd/any.h"

namespace inet {

// Puts a value into a CORBA Any:
//   bool (as a boolean), int, unsigned, long, unsigned long, long long, unsigned long long,
//   double, float, std::string (32-bit types as long / unsigned long, 64-bit ones as long long /
//   unsigned long long);
//   a std::vector of any of them as the matching i_NET::*Buffer (BooleanBuffer, Int32Buffer,
//   UInt32Buffer, Int64Buffer, UInt64Buffer, DoubleBuffer, FloatBuffer, StringBuffer).
// An empty value or any other type leaves `out` empty (TypeCode tk_null) and traces at level 2.
// Never throws: its callers (notification delivery) have nobody to report to.
INET_API void AnyToCorbaAny(const istd::Any& value, CORBA::Any& out) noexcept;

// When `value` holds a SEQ: resizes `out` to the sequence's length, assigns every element in
// order and returns true. Otherwise returns false and leaves `out` as it was.
template <class SEQ, class T>
bool CorbaAnyToLocalSeq(const CORBA::Any& value, std::vector<T>& out)
{
    const SEQ* seq = nullptr;
    if (!(value >>= seq)) {
        return false;
    }
    const CORBA::ULong length = seq->length();
    out.resize(length);
    for (CORBA::ULong i = 0; i < length; ++i) {
        out[i] = T((*seq)[i]);
    }
    return true;
}

extern template INET_API bool CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(const CORBA::Any&,
                                                                                  std::vector<std::string>&);

} // namespace inet

#endif
