#include "inet/corba_any.h"

#include <string>
#include <typeindex>
#include <unordered_map>

#include "istd/convert.h"
#include "istd/trace.h"

namespace inet {

template bool CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(const CORBA::Any&, std::vector<std::string>&);

namespace {

using Inserter = void (*)(const istd::Any&, CORBA::Any&);

// Scalars whose CORBA type differs from the C++ one only in name.
template <class T, class CorbaT>
void InsertScalar(const istd::Any& value, CORBA::Any& out)
{
    out <<= static_cast<CorbaT>(std::any_cast<const T&>(value));
}

void InsertBool(const istd::Any& value, CORBA::Any& out)
{
    out <<= CORBA::Any::from_boolean(std::any_cast<const bool&>(value));
}

void InsertString(const istd::Any& value, CORBA::Any& out)
{
    out <<= std::any_cast<const std::string&>(value).c_str();
}

template <class T, class SEQ, class CorbaT>
void InsertVector(const istd::Any& value, CORBA::Any& out)
{
    const auto& values = std::any_cast<const std::vector<T>&>(value);
    SEQ seq;
    seq.length(static_cast<CORBA::ULong>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        seq[static_cast<CORBA::ULong>(i)] = static_cast<CorbaT>(values[i]);
    }
    out <<= seq;
}

void InsertStringVector(const istd::Any& value, CORBA::Any& out)
{
    const auto& values = std::any_cast<const std::vector<std::string>&>(value);
    i_NET::StringBuffer seq;
    seq.length(static_cast<CORBA::ULong>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        seq[static_cast<CORBA::ULong>(i)] = values[i].c_str();
    }
    out <<= seq;
}

const std::unordered_map<std::type_index, Inserter>& Inserters()
{
    static const std::unordered_map<std::type_index, Inserter> table{
        {typeid(bool), &InsertBool},
        {typeid(int), &InsertScalar<int, CORBA::Long>},
        {typeid(unsigned int), &InsertScalar<unsigned int, CORBA::ULong>},
        {typeid(long), &InsertScalar<long, CORBA::LongLong>},
        {typeid(unsigned long), &InsertScalar<unsigned long, CORBA::ULongLong>},
        {typeid(long long), &InsertScalar<long long, CORBA::LongLong>},
        {typeid(unsigned long long), &InsertScalar<unsigned long long, CORBA::ULongLong>},
        {typeid(double), &InsertScalar<double, CORBA::Double>},
        {typeid(float), &InsertScalar<float, CORBA::Float>},
        {typeid(std::string), &InsertString},
        {typeid(std::vector<bool>), &InsertVector<bool, i_NET::BooleanBuffer, CORBA::Boolean>},
        {typeid(std::vector<int>), &InsertVector<int, i_NET::Int32Buffer, CORBA::Long>},
        {typeid(std::vector<unsigned int>), &InsertVector<unsigned int, i_NET::UInt32Buffer, CORBA::ULong>},
        {typeid(std::vector<long>), &InsertVector<long, i_NET::Int64Buffer, CORBA::LongLong>},
        {typeid(std::vector<unsigned long>), &InsertVector<unsigned long, i_NET::UInt64Buffer, CORBA::ULongLong>},
        {typeid(std::vector<long long>), &InsertVector<long long, i_NET::Int64Buffer, CORBA::LongLong>},
        {typeid(std::vector<unsigned long long>),
         &InsertVector<unsigned long long, i_NET::UInt64Buffer, CORBA::ULongLong>},
        {typeid(std::vector<double>), &InsertVector<double, i_NET::DoubleBuffer, CORBA::Double>},
        {typeid(std::vector<float>), &InsertVector<float, i_NET::FloatBuffer, CORBA::Float>},
        {typeid(std::vector<std::string>), &InsertStringVector},
    };
    return table;
}

} // namespace

void AnyToCorbaAny(const istd::Any& value, CORBA::Any& out) noexcept
{
    ISTD_TRACE_FNC("void inet::AnyToCorbaAny(const istd::Any&, CORBA::Any&)");
    try {
        out = CORBA::Any();
        if (!value.has_value()) {
            ISTD_TRACE(2, "inet: AnyToCorbaAny: empty value");
            return;
        }
        const auto& table = Inserters();
        const auto it = table.find(std::type_index(value.type()));
        if (it == table.end()) {
            ISTD_TRACE(2, "inet: AnyToCorbaAny: unsupported type " << istd::CppName(value.type()));
            return;
        }
        it->second(value, out);
    } catch (const std::exception& e) {
        // Only allocation can fail here; the caller gets an empty value rather than an exception.
        out = CORBA::Any();
        ISTD_TRACE(1, "inet: AnyToCorbaAny failed: " << e.what());
    }
}

} // namespace inet
