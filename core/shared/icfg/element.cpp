#include "icfg/element.h"

#include <utility>

#include "istd/convert.h"
#include "istd/trace.h"

ISTD_ENUM_TABLE(icfg::Element::Order_e,
                {icfg::Element::e_all, "all"},
                {icfg::Element::e_choice, "choice"},
                {icfg::Element::e_sequence, "sequence"});

namespace icfg {

Element::Element() = default;

Element::Element(const std::string& name, DataType_e type) : m_name(name), m_type(type)
{
}

ElementPtr Element::Create(const std::string& name, DataType_e type)
{
    return std::make_shared<Element>(name, type);
}

std::string Element::GetValue() const
{
    return istd::TrimString(m_value);
}

bool Element::GetUntrimedValue(std::string& out) const
{
    out = m_value;
    return true;
}

bool Element::GetUntrimedValue(const std::string& childName, std::string& out) const
{
    const ElementPtr child = FindChild(childName);
    return child && child->GetUntrimedValue(out);
}

void Element::AddChild(ElementPtr child)
{
    ElementPtr self = shared_from_this(); // before the append, so a failure changes nothing
    m_children.push_back(child);
    child->SetParent(self);
}

void Element::AddAttribute(const AttributePtr& attribute)
{
    const std::string name = attribute->GetName();
    for (const AttributePtr& present : m_attributes) {
        if (present->GetName() == name) {
            throw istd::Exception("Duplicate configuration attribute name", true);
        }
    }
    m_attributes.push_back(attribute);
}

ElementPtr Element::FindChild(const std::string& name) const
{
    for (const ElementPtr& child : m_children) {
        if (child->m_name == name) {
            return child;
        }
    }
    return ElementPtr();
}

ElementPtr Element::FindSubtree(const std::string& name) const
{
    ISTD_TRACE_FNC("icfg::ElementPtr icfg::Element::FindSubtree(const std::string&) const");
    if (ElementPtr direct = FindChild(name)) {
        return direct;
    }
    for (const ElementPtr& child : m_children) {
        if (ElementPtr found = child->FindSubtree(name)) {
            return found;
        }
    }
    return ElementPtr();
}

bool Element::FindAttr(const std::string& name, AttributePtr& out) const
{
    for (const AttributePtr& attribute : m_attributes) {
        if (attribute->GetName() == name) {
            out = attribute;
            return true;
        }
    }
    return false;
}

} // namespace icfg
