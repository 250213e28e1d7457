#include "ireg/corba_value.h"

#include <cstring>
#include <vector>

#include "ireg/reg_node.h"
#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

namespace ireg {

namespace {

// The CORBA element of a sequence of T, from a registry value.
template <class T>
auto CorbaElement(const T& value)
{
    if constexpr (std::is_same_v<T, bool>) {
        return CORBA::Boolean(value ? 1 : 0);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return value.c_str(); // a string member copies it
    } else {
        return value;
    }
}

// A received boolean: any octet but 0 is true. The ORB copies the octets of a boolean sequence
// as they came into storage of C++ bool, so one of them may hold 2 or 249, which must not be
// read as a bool.
static_assert(sizeof(CORBA::Boolean) == 1, "a boolean travels as one octet");

bool OctetIsTrue(const CORBA::Boolean& element)
{
    unsigned char octet = 0;
    std::memcpy(&octet, &element, 1);
    return octet != 0;
}

// The registry value of a CORBA sequence element.
template <class T, class E>
T LocalElement(const E& element)
{
    if constexpr (std::is_same_v<T, bool>) {
        return OctetIsTrue(element);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return std::string(static_cast<const char*>(element));
    } else {
        return static_cast<T>(element);
    }
}

const char* const c_invalidValue = "<invalid value>";

// The TypeCodes of the registry's sequence types.
CORBA::TypeCode_ptr TypeOf(const i_NET::BooleanBuffer*) { return i_NET::_tc_BooleanBuffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::Int32Buffer*) { return i_NET::_tc_Int32Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::UInt32Buffer*) { return i_NET::_tc_UInt32Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::Int64Buffer*) { return i_NET::_tc_Int64Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::UInt64Buffer*) { return i_NET::_tc_UInt64Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::DoubleBuffer*) { return i_NET::_tc_DoubleBuffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::FloatBuffer*) { return i_NET::_tc_FloatBuffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::StringBuffer*) { return i_NET::_tc_StringBuffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::Int16Buffer*) { return i_NET::_tc_Int16Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::UInt16Buffer*) { return i_NET::_tc_UInt16Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::Int8Buffer*) { return i_NET::_tc_Int8Buffer; }
CORBA::TypeCode_ptr TypeOf(const i_NET::UInt8Buffer*) { return i_NET::_tc_UInt8Buffer; }

// Reads the Any's value with `read` when its TypeCode is equivalent to `type` (as the ORB's own
// extraction decides); false otherwise. A client can send bytes that do not make what their
// TypeCode says (a string without its terminator); the ORB finds that only when the value is
// read, and the stubs' extraction then loses the half-read value. Here it is read into the
// caller's objects, which clean up after themselves, and such a value counts as none.
template <class F>
bool ReadAs(const CORBA::Any& value, CORBA::TypeCode_ptr type, F read)
{
    if (!value.NP_type()->equivalent(type)) {
        return false;
    }
    try {
        cdrMemoryStream stream;
        value.NP_marshalDataOnly(stream);
        read(stream);
        return true;
    } catch (const CORBA::SystemException&) {
        return false;
    }
}

template <class SEQ>
bool Extract(const CORBA::Any& value, SEQ& seq)
{
    return ReadAs(value, TypeOf(&seq), [&seq](cdrStream& stream) { seq <<= stream; });
}

[[noreturn]] void ThrowInvalidType(const std::string& text)
{
    throw i_NET::InvalidType(text.c_str());
}

[[noreturn]] void ThrowNoValue()
{
    ThrowInvalidType("Node doesn't contain any value.");
}

[[noreturn]] void ThrowUnsupported(mci::enums::NodeValType_e type)
{
    ThrowInvalidType("Unsupported type: " + istd::ToString(type));
}

// Reads a row of the table: the sequence form on an array node, else the scalar form.
template <class T, class SEQ>
void ReadRow(bool array, const mci::Node& node, CORBA::ULong pos, CORBA::ULong count, CORBA::Any& out)
{
    if (array) {
        NodeValueToAny<T, SEQ>(node, pos, count, out);
    } else {
        NodeValueToAny<T>(node, pos, out);
    }
}

// The text of a sequence of SEQ (one of the value buffers).
template <class SEQ>
bool SequenceText(const CORBA::Any& value, std::string& text)
{
    SEQ seq;
    if (!value.NP_type()->equivalent(TypeOf(&seq))) {
        return false;
    }
    if (!Extract(value, seq)) {
        text = c_invalidValue;
        return true;
    }
    text = "[";
    for (CORBA::ULong i = 0; i < seq.length(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        if constexpr (std::is_same_v<SEQ, i_NET::BooleanBuffer>) {
            text += ValueText(OctetIsTrue(seq[i]));
        } else if constexpr (std::is_same_v<SEQ, i_NET::StringBuffer>) {
            text += seq[i].in();
        } else {
            text += ValueText(seq[i]);
        }
    }
    text += "]";
    return true;
}

template <class T>
bool ScalarText(const CORBA::Any& value, std::string& text)
{
    T scalar{};
    if (!(value >>= scalar)) {
        return false;
    }
    text = ValueText(scalar);
    return true;
}

} // namespace

template <class T, class SEQ>
void NodeValueToAny(const mci::Node& node, CORBA::ULong pos, CORBA::ULong count, CORBA::Any& out)
{
    ISTD_TRACE_FNC("void ireg::NodeValueToAny(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&)");
    std::vector<T> values;
    try {
        node.Get(values, pos, count);
    } catch (const istd::Exception& e) {
        throw i_NET::ValueException(e.what());
    }
    auto* seq = new SEQ;
    seq->length(static_cast<CORBA::ULong>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        (*seq)[static_cast<CORBA::ULong>(i)] = CorbaElement<T>(values[i]);
    }
    out <<= seq; // the Any takes the sequence over
}

template <class T>
void NodeValueToAny(const mci::Node& node, CORBA::ULong pos, CORBA::Any& out)
{
    ISTD_TRACE_FNC("void ireg::NodeValueToAny(const mci::Node&, CORBA::ULong, CORBA::Any&)");
    T value{};
    try {
        node.Get(value, pos);
    } catch (const istd::Exception& e) {
        throw i_NET::ValueException(e.what());
    }
    if constexpr (std::is_same_v<T, bool>) {
        out <<= CORBA::Any::from_boolean(value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        out <<= value.c_str();
    } else {
        out <<= value;
    }
}

template <class SEQ, class T>
void AnyToNodeValue(const CORBA::Any& value, const mci::Node& node, CORBA::ULong pos)
{
    ISTD_TRACE_FNC("void ireg::AnyToNodeValue(const CORBA::Any&, const mci::Node&, CORBA::ULong)");
    try {
        SEQ seq;
        if (Extract(value, seq)) {
            std::vector<T> values;
            values.reserve(seq.length());
            for (CORBA::ULong i = 0; i < seq.length(); ++i) {
                values.push_back(LocalElement<T>(seq[i]));
            }
            node.Set(values, pos);
            return;
        }
        i_NET::StringBuffer texts;
        if (Extract(value, texts)) {
            std::vector<std::string> values;
            values.reserve(texts.length());
            for (CORBA::ULong i = 0; i < texts.length(); ++i) {
                values.emplace_back(texts[i].in());
            }
            node.Set(values, pos);
            return;
        }
        throw istd::Exception("Cannot convert corba to local type.");
    } catch (const istd::Exception& e) {
        throw i_NET::ValueException(e.what());
    }
}

template void NodeValueToAny<bool, i_NET::BooleanBuffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<int32_t, i_NET::Int32Buffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<uint32_t, i_NET::UInt32Buffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<int64_t, i_NET::Int64Buffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<uint64_t, i_NET::UInt64Buffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<double, i_NET::DoubleBuffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<float, i_NET::FloatBuffer>(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<std::string, i_NET::StringBuffer>(const mci::Node&, CORBA::ULong, CORBA::ULong,
                                                               CORBA::Any&);

template void NodeValueToAny<bool>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<int32_t>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<uint32_t>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<int64_t>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<uint64_t>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<double>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<float>(const mci::Node&, CORBA::ULong, CORBA::Any&);
template void NodeValueToAny<std::string>(const mci::Node&, CORBA::ULong, CORBA::Any&);

template void AnyToNodeValue<i_NET::BooleanBuffer, bool>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::Int32Buffer, int32_t>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::UInt32Buffer, uint32_t>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::Int64Buffer, int64_t>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::UInt64Buffer, uint64_t>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::DoubleBuffer, double>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::FloatBuffer, float>(const CORBA::Any&, const mci::Node&, CORBA::ULong);
template void AnyToNodeValue<i_NET::StringBuffer, std::string>(const CORBA::Any&, const mci::Node&, CORBA::ULong);

void GetCorbaValue(const mci::Node& node, CORBA::ULong pos, CORBA::ULong count, CORBA::TCKind requested,
                   CORBA::Any& out)
{
    ISTD_TRACE_FNC("void ireg::GetCorbaValue(const mci::Node&, CORBA::ULong, CORBA::ULong, CORBA::TCKind, CORBA::Any&)");
    using namespace mci::enums;
    NodeValType_e type = eNone;
    bool array = false;
    try {
        type = node.GetValueType();
        array = node.IsArray();
    } catch (const istd::Exception& e) {
        throw i_NET::ValueException(e.what());
    }
    switch (type) {
    case eNone:
        ThrowNoValue();
    case eBool:
        return ReadRow<bool, i_NET::BooleanBuffer>(array, node, pos, count, out);
    case eInt32:
        return ReadRow<int32_t, i_NET::Int32Buffer>(array, node, pos, count, out);
    case eUInt32:
        return ReadRow<uint32_t, i_NET::UInt32Buffer>(array, node, pos, count, out);
    case eInt64:
        return ReadRow<int64_t, i_NET::Int64Buffer>(array, node, pos, count, out);
    case eUInt64:
        return ReadRow<uint64_t, i_NET::UInt64Buffer>(array, node, pos, count, out);
    case eDouble:
        return ReadRow<double, i_NET::DoubleBuffer>(array, node, pos, count, out);
    case eFloat:
        return ReadRow<float, i_NET::FloatBuffer>(array, node, pos, count, out);
    case eString:
        return ReadRow<std::string, i_NET::StringBuffer>(array, node, pos, count, out);
    case eEnumeration:
        if (requested == CORBA::tk_long) {
            return ReadRow<int32_t, i_NET::Int32Buffer>(array, node, pos, count, out);
        }
        if (requested == CORBA::tk_string) {
            return ReadRow<std::string, i_NET::StringBuffer>(array, node, pos, count, out);
        }
        return ReadRow<int64_t, i_NET::Int64Buffer>(array, node, pos, count, out);
    }
    ThrowUnsupported(type);
}

void SetCorbaValue(const mci::Node& node, const CORBA::Any& value, CORBA::ULong pos)
{
    ISTD_TRACE_FNC("void ireg::SetCorbaValue(const mci::Node&, const CORBA::Any&, CORBA::ULong)");
    using namespace mci::enums;
    NodeValType_e type = eNone;
    try {
        type = node.GetValueType();
    } catch (const istd::Exception& e) {
        throw i_NET::ValueException(e.what());
    }
    if (type == eNone) {
        ThrowNoValue();
    }
    switch (ElementKind(value)) {
    case CORBA::tk_long:
        AnyToNodeValue<i_NET::Int32Buffer, int32_t>(value, node, pos);
        break;
    case CORBA::tk_ulong:
        AnyToNodeValue<i_NET::UInt32Buffer, uint32_t>(value, node, pos);
        break;
    case CORBA::tk_float:
        AnyToNodeValue<i_NET::FloatBuffer, float>(value, node, pos);
        break;
    case CORBA::tk_double:
        AnyToNodeValue<i_NET::DoubleBuffer, double>(value, node, pos);
        break;
    case CORBA::tk_boolean:
        AnyToNodeValue<i_NET::BooleanBuffer, bool>(value, node, pos);
        break;
    case CORBA::tk_string:
        AnyToNodeValue<i_NET::StringBuffer, std::string>(value, node, pos);
        break;
    case CORBA::tk_longlong:
        AnyToNodeValue<i_NET::Int64Buffer, int64_t>(value, node, pos);
        break;
    case CORBA::tk_ulonglong:
        AnyToNodeValue<i_NET::UInt64Buffer, uint64_t>(value, node, pos);
        break;
    default:
        ThrowUnsupported(type);
    }
    if (type == eEnumeration) {
        ISTD_TRACE(4, "Enumeration: " << node.GetName() << " " << istd::OutsideText(CorbaValueText(value)));
    }
}

CORBA::TCKind ElementKind(const CORBA::Any& value)
{
    const CORBA::TypeCode_ptr type = value.NP_type(); // borrowed
    CORBA::TCKind kind = type->kind();
    if (kind != CORBA::tk_alias) {
        return kind;
    }
    CORBA::TypeCode_var aliased = type->content_type();
    kind = aliased->kind();
    if (kind != CORBA::tk_sequence) {
        return kind;
    }
    CORBA::TypeCode_var element = aliased->content_type();
    return element->kind();
}

namespace {

std::string AnyText(const CORBA::Any& value)
{
    CORBA::TypeCode_var type = value.type();
    std::string text;
    switch (type->kind()) {
    case CORBA::tk_null:
    case CORBA::tk_void:
        return text;
    case CORBA::tk_boolean: {
        CORBA::Boolean flag = 0;
        value >>= CORBA::Any::to_boolean(flag);
        return ValueText(OctetIsTrue(flag));
    }
    case CORBA::tk_string:
        if (!ReceivedValue(value, text)) {
            text = c_invalidValue;
        }
        return text;
    default:
        break;
    }
    // Sequences through their alias; the scalars the registry exchanges.
    if (SequenceText<i_NET::BooleanBuffer>(value, text) || SequenceText<i_NET::Int32Buffer>(value, text) ||
        SequenceText<i_NET::UInt32Buffer>(value, text) || SequenceText<i_NET::Int64Buffer>(value, text) ||
        SequenceText<i_NET::UInt64Buffer>(value, text) || SequenceText<i_NET::DoubleBuffer>(value, text) ||
        SequenceText<i_NET::FloatBuffer>(value, text) || SequenceText<i_NET::StringBuffer>(value, text) ||
        ScalarText<CORBA::Long>(value, text) || ScalarText<CORBA::ULong>(value, text) ||
        ScalarText<CORBA::LongLong>(value, text) || ScalarText<CORBA::ULongLong>(value, text) ||
        ScalarText<CORBA::Double>(value, text) || ScalarText<CORBA::Float>(value, text)) {
        return text;
    }
    return "<kind " + std::to_string(static_cast<int>(type->kind())) + ">";
}

} // namespace

template <class T>
bool ReceivedValue(const CORBA::Any& value, T& out)
{
    if constexpr (std::is_same_v<T, std::string>) {
        return ReadAs(value, CORBA::_tc_string, [&out](cdrStream& stream) {
            CORBA::String_var chars = stream.unmarshalString();
            out = chars.in();
        });
    } else {
        return Extract(value, out);
    }
}

template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::BooleanBuffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::Int32Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::UInt32Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::Int64Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::UInt64Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::DoubleBuffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::FloatBuffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::StringBuffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::Int16Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::UInt16Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::Int8Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, i_NET::UInt8Buffer&);
template IREG_API bool ReceivedValue(const CORBA::Any&, std::string&);

std::string CorbaValueText(const CORBA::Any& value)
{
    ISTD_TRACE_FNC("std::string ireg::CorbaValueText(const CORBA::Any&)");
    try {
        return AnyText(value);
    } catch (const CORBA::SystemException&) {
        return c_invalidValue;
    }
}

} // namespace ireg
