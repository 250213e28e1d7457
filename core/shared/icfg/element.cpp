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

} // namespace

// An open-addressing table of (hash, position) in one array of eight-byte slots, at most three
// quarters full: a look-up reads one or two cache lines, so that an element of a hundred
// thousand names is indexed and searched in time that grows with their number and little
// faster. The names themselves stay in the element.
class Element::NameIndex {
public:
    static constexpr size_t c_none = static_cast<size_t>(-1);

    explicit NameIndex(size_t expected) { _Resize(expected); }

    // Adds position under name unless the name is there: false then (the first one stays).
    template <class NameAt>
    bool Insert(const std::string& name, size_t position, const NameAt& nameAt)
    {
        if ((m_count + 1) * 4 > m_slots.size() * 3) {
            _Grow();
        }
        const uint32_t hash = Hash(name);
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot& slot = m_slots[i];
            if (slot.position == c_empty) {
                slot = Slot{hash, static_cast<uint32_t>(position)};
                ++m_count;
                return true;
            }
            if (slot.hash == hash && nameAt(slot.position) == name) {
                return false;
            }
        }
    }

    // The position of the name; c_none when it is not there.
    template <class NameAt>
    size_t Find(const std::string& name, const NameAt& nameAt) const
    {
        const uint32_t hash = Hash(name);
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.position == c_empty) {
                return c_none;
            }
            if (slot.hash == hash && nameAt(slot.position) == name) {
                return slot.position;
            }
        }
    }

private:
    static constexpr uint32_t c_empty = 0xFFFFFFFFu;

    struct Slot {
        uint32_t hash = 0;
        uint32_t position = c_empty;
    };

    static uint32_t Hash(const std::string& name)
    {
        const size_t hash = std::hash<std::string>()(name);
        return static_cast<uint32_t>(hash ^ (hash >> 32));
    }

    void _Resize(size_t expected)
    {
        size_t size = 16;
        while (size * 3 < expected * 4) {
            size *= 2;
        }
        m_slots.assign(size, Slot());
        m_mask = size - 1;
        m_count = 0;
    }

    void _Grow()
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        _Resize(old.size()); // twice as many slots as before
        for (const Slot& slot : old) {
            if (slot.position != c_empty) {
                size_t i = slot.hash & m_mask;
                while (m_slots[i].position != c_empty) {
                    i = (i + 1) & m_mask;
                }
                m_slots[i] = slot;
                ++m_count;
            }
        }
    }

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    size_t m_count = 0;
};

template <class NameAt>
std::unique_ptr<Element::NameIndex> Element::_MakeIndex(size_t count, const NameAt& nameAt)
{
    auto index = std::make_unique<NameIndex>(count);
    for (size_t i = 0; i < count; ++i) {
        index->Insert(nameAt(i), i, nameAt); // keeps the first of a name
    }
    return index;
}

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
        m_attributeIndex = _MakeIndex(m_attributes.size(), _AttributeNames());
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
        // Made for the copy's lists, which are now these.
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

std::function<const std::string&(size_t)> Element::_ChildNames() const
{
    return [this](size_t i) -> const std::string& { return m_children[i]->m_name; };
}

std::function<const std::string&(size_t)> Element::_AttributeNames() const
{
    return [this](size_t i) -> const std::string& { return m_attributes[i]->GetName(); };
}

void Element::_RebuildChildIndex()
{
    m_childIndex.reset();
    if (m_children.size() > c_scanLimit) {
        m_childIndex = _MakeIndex(m_children.size(), _ChildNames());
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
        m_childIndex->Insert(child->m_name, m_children.size() - 1, _ChildNames());
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
        m_attributeIndex->Insert(attribute->GetName(), m_attributes.size() - 1, _AttributeNames());
    } else if (m_attributes.size() > c_scanLimit) {
        m_attributeIndex = _MakeIndex(m_attributes.size(), _AttributeNames());
    }
}

void Element::_SetAttributes(std::vector<AttributePtr> attributes)
{
    const auto nameAt = [&attributes](size_t i) -> const std::string& { return attributes[i]->GetName(); };
    std::unique_ptr<NameIndex> index;
    if (attributes.size() > c_scanLimit) {
        // Made in one pass, with room for all.
        index = std::make_unique<NameIndex>(attributes.size());
        for (size_t i = 0; i < attributes.size(); ++i) {
            if (!index->Insert(attributes[i]->GetName(), i, nameAt)) {
                throw istd::Exception("Duplicate configuration attribute name", true);
            }
        }
    } else {
        for (size_t i = 1; i < attributes.size(); ++i) {
            for (size_t j = 0; j < i; ++j) {
                if (nameAt(i) == nameAt(j)) {
                    throw istd::Exception("Duplicate configuration attribute name", true);
                }
            }
        }
    }
    m_attributes = std::move(attributes);
    m_attributeIndex = std::move(index);
}

ElementPtr Element::FindChild(const std::string& name) const
{
    if (m_childIndex) {
        const size_t at = m_childIndex->Find(name, _ChildNames());
        return at == NameIndex::c_none ? ElementPtr() : m_children[at];
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
        const size_t at = m_attributeIndex->Find(name, _AttributeNames());
        if (at == NameIndex::c_none) {
            return false;
        }
        out = m_attributes[at];
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
