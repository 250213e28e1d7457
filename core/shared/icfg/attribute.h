#ifndef ICFG_ATTRIBUTE_H
#define ICFG_ATTRIBUTE_H

// Attributes of configuration elements, the XML Schema data types of elements and attributes,
// and the text conversions of the typed accessors.

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "icfg/icfg_export.h"
#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace icfg {

// Every unit that includes this header gets its own copy of these texts.
static const char* const c_xsPrefix = "xs";
static const char* const c_typesPrefix = "qarex";
static const char* const c_xsNamespace = "http://www.w3.org/2001/XMLSchema";
// The namespace of the shared types schema (types.xsd); a name, never fetched.
static const char* const c_typesNamespace = "urn:kavrel:xsd:types";

// The XML Schema data type of an element or attribute. 0 and 1 have no simple type and no
// row in the name table; the others are named "xs:..." or "qarex:..." (the shared types).
enum DataType_e {
    e_none = 0,
    e_root = 1,
    e_xsBoolean = 2,
    e_xsString = 3,
    e_xsLong = 4,
    e_xsInt = 5,
    e_xsDouble = 6,
    e_xsFloat = 7,
    e_xsUnsignedLong = 8,
    e_xsUnsignedInt = 9,
    e_qarexInt = 10,
    e_qarexLong = 11,
    e_qarexUnsignedInt = 12,
    e_qarexUnsignedLong = 13,
};

namespace detail {

// The conversion rule of every typed accessor: an empty text gives false without a trace; a
// refused text is traced at level 2 and gives false; out changes only on success.
template <class T>
bool ConvertText(const std::string& text, T& out)
{
    static_assert(std::is_same_v<T, std::string> || std::is_arithmetic_v<T>,
                  "configuration values convert to text, bool, integers or floating point");
    if (text.empty()) {
        return false;
    }
    if constexpr (std::is_same_v<T, bool>) {
        try {
            out = istd::ToBool(text);
            return true;
        } catch (const istd::Exception& e) {
            ISTD_TRACE(2, "Cannot cast from config value: Wrong bool value " << text
                                                                           << " .Error: " << e.what());
            return false;
        }
    } else {
        try {
            out = istd::FromString<T>(text);
            return true;
        } catch (const istd::Exception& e) {
            ISTD_TRACE(2, "Cannot cast from config value: " << e.what());
            return false;
        }
    }
}

} // namespace detail

class Attribute;
using AttributePtr = std::shared_ptr<Attribute>;

class ICFG_API Attribute {
public:
    Attribute(const std::string& name, const std::string& value, DataType_e type = e_none);
    static AttributePtr Create(const std::string& name, const std::string& value,
                               DataType_e type = e_none);

    const std::string& GetName() const { return m_name; }
    // The value exactly as stored, never trimmed.
    std::string GetValue() const { return m_value; }
    DataType_e GetType() const { return m_type; }

    // The value converted to T (see detail::ConvertText); false leaves out unchanged.
    template <class T>
    bool GetValue(T& out) const
    {
        return detail::ConvertText(m_value, out);
    }

    // Only string attributes (e_xsString) carry valid values; others throw
    // "Valid values are supported only for string types.".
    void SetValidValues(const std::vector<std::string>& values);
    std::vector<std::string> GetValidValues() const { return m_validValues; }

private:
    std::string m_name;
    std::string m_value;
    DataType_e m_type;
    std::vector<std::string> m_validValues;
};

} // namespace icfg

ISTD_ENUM_TABLE_DECL(icfg::DataType_e)

#endif
