#include "icfg/attribute.h"

#include <utility>

// The type names compose the schema prefix with the XML Schema type names.
#define ICFG_XS "xs:"
#define ICFG_QAREX "qarex:"

ISTD_ENUM_TABLE(icfg::DataType_e,
                {icfg::e_xsBoolean, ICFG_XS "boolean"},
                {icfg::e_xsString, ICFG_XS "string"},
                {icfg::e_xsLong, ICFG_XS "long"},
                {icfg::e_xsInt, ICFG_XS "int"},
                {icfg::e_xsDouble, ICFG_XS "double"},
                {icfg::e_xsFloat, ICFG_XS "float"},
                {icfg::e_xsUnsignedLong, ICFG_XS "unsignedLong"},
                {icfg::e_xsUnsignedInt, ICFG_XS "unsignedInt"},
                {icfg::e_qarexInt, ICFG_QAREX "int"},
                {icfg::e_qarexLong, ICFG_QAREX "long"},
                {icfg::e_qarexUnsignedInt, ICFG_QAREX "unsignedInt"},
                {icfg::e_qarexUnsignedLong, ICFG_QAREX "unsignedLong"});

namespace icfg {

Attribute::Attribute(const std::string& name, const std::string& value, DataType_e type)
    : m_name(name), m_value(value), m_type(type)
{
}

AttributePtr Attribute::Create(const std::string& name, const std::string& value, DataType_e type)
{
    return std::make_shared<Attribute>(name, value, type);
}

void Attribute::SetValidValues(const std::vector<std::string>& values)
{
    if (m_type != e_xsString) {
        throw istd::Exception("Valid values are supported only for string types.", true);
    }
    m_validValues = values;
}

} // namespace icfg
