#include "icfg/element.h"

#include <utility>

#include "istd/convert.h"
#include "istd/trace.h"

ISTD_ENUM_TABLE(icfg::Element::Order_e,
                {icfg::Element::e_all, "all"},
                {icfg::Element::e_choice, "choice"},
                {icfg::Element::e_sequence, "sequence"});

namespace icfg {

namespace {

// Up to this many attributes or children an element scans them; beyond, it keeps an index.
constexpr size_t c_scanLimit = 8;

template <class List, class NameOf>
std::unique_ptr<std::unordered_map<std::string, size_t>> MakeIndex(const List& list, NameOf nameOf)
{
    auto index = std::make_unique<std::unordered_map<std::string, size_t>>();
    index->reserve(list.size() * 2);
    for (size_t i = 0; i < list.size(); ++i) {
        index->emplace(nameOf(list[i]), i); // keeps the first of a name
    }
    return index;
}

} // namespace

Element::Element() = default;

Element::Element(const std::string& name, DataType_e type) : m_name(name), m_type(type)
{
}

Element::Element(const Element& other)
    : std::enable_shared_from_this<Element>(other),
      m_name(other.m_name),
      m_value(other.m_value),
      m_type(other.m_type),
      m_order(other.m_order),
      m_children(other.m_children),
      m_attributes(other.m_attributes),
      m_parent(other.m_parent)
{
    _RebuildChildIndex();
    if (m_attributes.size() > c_scanLimit) {
        m_attributeIndex = MakeIndex(m_attributes, [](const AttributePtr& a) { return a->GetName(); });
    }
}

Element& Element::operator=(const Element& other)
{
    if (this != &other) {
        Element copy(other);
        m_name = std::move(copy.m_name);
        m_value = std::move(copy.m_value);
        m_type = copy.m_type;
        m_order = copy.m_order;
        m_children = std::move(copy.m_children);
        m_attributes = std::move(copy.m_attributes);
        m_parent = std::move(copy.m_parent);
        m_childIndex = std::move(copy.m_childIndex);
        m_attributeIndex = std::move(copy.m_attributeIndex);
    }
    return *this;
}

Element::~Element() = default;

ElementPtr Element::Create(const std::string& name, DataType_e type)
{
    return std::make_shared<Element>(name, type);
}

void Element::SetName(const std::string& name)
{
    m_name = name;
    if (ElementPtr parent = m_parent.lock()) {
        parent->_RebuildChildIndex();
    }
}

void Element::_RebuildChildIndex()
{
    m_childIndex.reset();
    if (m_children.size() > c_scanLimit) {
        m_childIndex = MakeIndex(m_children, [](const ElementPtr& child) { return child->m_name; });
    }
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
    if (m_childIndex) {
        m_childIndex->emplace(child->m_name, m_children.size() - 1);
    } else if (m_children.size() > c_scanLimit) {
        _RebuildChildIndex();
    }
}

void Element::AddAttribute(const AttributePtr& attribute)
{
    AttributePtr present;
    if (FindAttr(attribute->GetName(), present)) {
        throw istd::Exception("Duplicate configuration attribute name", true);
    }
    m_attributes.push_back(attribute);
    if (m_attributeIndex) {
        m_attributeIndex->emplace(attribute->GetName(), m_attributes.size() - 1);
    } else if (m_attributes.size() > c_scanLimit) {
        m_attributeIndex = MakeIndex(m_attributes, [](const AttributePtr& a) { return a->GetName(); });
    }
}

ElementPtr Element::FindChild(const std::string& name) const
{
    if (m_childIndex) {
        const auto it = m_childIndex->find(name);
        return it == m_childIndex->end() ? ElementPtr() : m_children[it->second];
    }
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
    if (m_attributeIndex) {
        const auto it = m_attributeIndex->find(name);
        if (it == m_attributeIndex->end()) {
            return false;
        }
        out = m_attributes[it->second];
        return true;
    }
    for (const AttributePtr& attribute : m_attributes) {
        if (attribute->GetName() == name) {
            out = attribute;
            return true;
        }
    }
    return false;
}

} // namespace icfg
