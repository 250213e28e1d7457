#include "isig/signal_types.h"

#include <ostream>
#include <typeindex>
#include <unordered_map>

ISTD_ENUM_TABLE(isig::SuccessCode_e, {isig::eSuccess, "success"}, {isig::eFailure, "failure"},
                {isig::eNoData, "no data"}, {isig::eTimeout, "timeout"}, {isig::eCancelled, "cancelled"},
                {isig::eTerminated, "terminated"}, {isig::eNotStarted, "not started"});

ISTD_ENUM_TABLE(isig::StreamState, {isig::eStreamIdle, "idle"}, {isig::eStreamStarting, "starting"},
                {isig::eStreamRunning, "running"}, {isig::eStreamStopping, "stopping"},
                {isig::eStreamShutDown, "shut down"});

ISTD_ENUM_TABLE(isig::AtomType_e, {isig::eAtomUnknown, "unknown"}, {isig::eAtomDouble, "double"},
                {isig::eAtomFloat, "float"}, {isig::eAtomUInt64, "uint64"}, {isig::eAtomInt64, "int64"},
                {isig::eAtomUInt32, "uint32"}, {isig::eAtomInt32, "int32"}, {isig::eAtomUInt16, "uint16"},
                {isig::eAtomInt16, "int16"}, {isig::eAtomUInt8, "uint8"}, {isig::eAtomInt8, "int8"});

ISTD_ENUM_TABLE(isig::AccessType_e, {isig::eAccessInvalid, "invalid"}, {isig::eAccessRandom, "random"},
                {isig::eAccessStream, "stream"});

namespace isig {

const SignalMeta c_noMeta;

namespace {

// "name(value)", or "code(value)" for a value without a row.
template <class E>
std::ostream& PrintNamed(std::ostream& os, E value)
{
    const char* name = istd::EnumMap<E>::items.FindName(value);
    return os << (name ? name : "code") << '(' << static_cast<int>(value) << ')';
}

} // namespace

std::ostream& operator<<(std::ostream& os, SuccessCode_e code)
{
    return PrintNamed(os, code);
}

std::ostream& operator<<(std::ostream& os, StreamState state)
{
    return PrintNamed(os, state);
}

AtomType_e AtomTypeOf(const std::type_info& type)
{
    static const std::unordered_map<std::type_index, AtomType_e> table{
        {typeid(double), eAtomDouble},
        {typeid(float), eAtomFloat},
        {typeid(unsigned long), eAtomUInt64},
        {typeid(unsigned long long), eAtomUInt64},
        {typeid(long), eAtomInt64},
        {typeid(long long), eAtomInt64},
        {typeid(unsigned int), eAtomUInt32},
        {typeid(int), eAtomInt32},
        {typeid(unsigned short), eAtomUInt16},
        {typeid(short), eAtomInt16},
        {typeid(unsigned char), eAtomUInt8},
        {typeid(signed char), eAtomInt8},
    };
    const auto it = table.find(std::type_index(type));
    return it == table.end() ? eAtomUnknown : it->second;
}

} // namespace isig
