#ifndef IREG_CORBA_VALUE_H
#define IREG_CORBA_VALUE_H

// Registry values as CORBA values, both ways, for the remote-node servant.
//
//   value type      scalar read as        sequence (array read; every write)   element kind on write
//   1 bool          boolean               i_NET::BooleanBuffer                  tk_boolean
//   2 int32         long                  i_NET::Int32Buffer                    tk_long
//   3 uint32        unsigned long         i_NET::UInt32Buffer                   tk_ulong
//   4 int64         long long             i_NET::Int64Buffer                    tk_longlong
//   5 uint64        unsigned long long    i_NET::UInt64Buffer                   tk_ulonglong
//   6 double        double                i_NET::DoubleBuffer                   tk_double
//   7 float         float                 i_NET::FloatBuffer                    tk_float
//   8 string        string                i_NET::StringBuffer                   tk_string
//   9 enumeration   by the kind the client asks for: tk_long as int32 (long), tk_string as the
//                   value's name (string), any other kind as int64 (long long); arrays likewise
//                   as Int32Buffer, StringBuffer or Int64Buffer. Written by any of the kinds
//                   above; the node converts.
//
// Reading: the node's IsArray() picks the scalar form (at the position; the count is not used)
// or the sequence form (the node's slice for position and count). Writing: the value always
// travels as a sequence, also for a scalar node; its element kind is found through exactly one
// alias and one sequence level of its TypeCode, so a sequence that is not declared through an
// alias (or an alias of an alias) is an unsupported kind. The value is taken as the kind's
// sequence, else as a string sequence (the node converts texts, e.g. enumeration names). The
// node's typed set decides whether it takes the values: the received sequence type is not
// compared with the node's value type. Any boolean octet but 0 is true.
//
// Refusals:
//   node without a value (read, write)              i_NET::InvalidType "Node doesn't contain any value."
//   value type above 9 (read)                       i_NET::InvalidType "Unsupported type: " + code
//   element kind not in the table (write)           i_NET::InvalidType "Unsupported type: " + the
//                                                   node's value-type code (not the kind received)
//   neither the chosen sequence nor a string one    i_NET::ValueException "Cannot convert corba to local type."
//   (also a value whose bytes do not make what its TypeCode says)
//   the node's get or set throws istd::Exception    i_NET::ValueException with its text

// Every function here needs the process's ORB initialised: strings are read through its code sets.

#include <cstdint>
#include <string>

#include "inet/i_net.hh"
#include "ireg/ireg_export.h"
#include "mci/node.h"

namespace ireg {

// Array form: the node's values from pos (count 0: all from pos; more than remain: what remains)
// into `out` as a SEQ of exactly the elements read. T is the registry element type.
template <class T, class SEQ>
IREG_API void NodeValueToAny(const mci::Node& node, CORBA::ULong pos, CORBA::ULong count, CORBA::Any& out);

// Scalar form: the node's value at pos into `out` as the plain CORBA type of T (a bool as a
// boolean, a string as a copy of its text).
template <class T>
IREG_API void NodeValueToAny(const mci::Node& node, CORBA::ULong pos, CORBA::Any& out);

// Writes the SEQ in `value` from pos on as a vector of T; else, when `value` holds a string
// sequence, writes that; else throws i_NET::ValueException "Cannot convert corba to local type.".
template <class SEQ, class T>
IREG_API void AnyToNodeValue(const CORBA::Any& value, const mci::Node& node, CORBA::ULong pos);

// The whole read of the table above. `requested` is the kind of the TypeCode the client passed.
IREG_API void GetCorbaValue(const mci::Node& node, CORBA::ULong pos, CORBA::ULong count, CORBA::TCKind requested,
                   CORBA::Any& out);
// The whole write of the table above.
IREG_API void SetCorbaValue(const mci::Node& node, const CORBA::Any& value, CORBA::ULong pos);

// The element kind of a written value: the TypeCode's kind; through one tk_alias to the aliased
// kind; from a tk_sequence reached so to its element's kind. tk_null for an empty Any.
IREG_API CORBA::TCKind ElementKind(const CORBA::Any& value);

// Takes the value out of an Any received from the other side, into `out`: one of the i_NET
// value buffers (BooleanBuffer ... StringBuffer, and Int16Buffer, UInt16Buffer, Int8Buffer,
// UInt8Buffer) or a string (std::string). False when the value is of another type, or when its
// bytes do not make one (a string without its terminator, which the ORB finds only when the
// value is read); nothing leaks then, unlike the stubs' own extraction.
template <class T>
IREG_API bool ReceivedValue(const CORBA::Any& value, T& out);

// A CORBA value as text, as registry messages write values: booleans "true"/"false", integers in
// decimal, doubles with 15 and floats with 6 significant digits, strings unchanged, a sequence
// as "[a, b]". An empty Any gives ""; a kind outside the registry's gives "<kind N>"; a value
// whose bytes do not make what its TypeCode says gives "<invalid value>". Never throws a CORBA
// exception.
IREG_API std::string CorbaValueText(const CORBA::Any& value);

} // namespace ireg

#endif
