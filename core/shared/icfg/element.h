#ifndef ICFG_ELEMENT_H
#define ICFG_ELEMENT_H

// The in-memory tree of a configuration document: elements that own their children and
// attributes and know their parent through a weak link.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "icfg/attribute.h"
#include "icfg/icfg_export.h"

namespace icfg {

class Element;
using ElementPtr = std::shared_ptr<Element>;
using ElementList = std::vector<ElementPtr>;

class ICFG_API Element : public std::enable_shared_from_this<Element> {
public:
    // How the children are grouped in a generated schema.
    enum Order_e {
        e_all = 0,      // any order, each at most once
        e_choice = 1,   // one of them
        e_sequence = 2, // a list of items shaped like the first child
    };

    Element();
    explicit Element(const std::string& name, DataType_e type = e_none);
    // A copy has the children and attributes (shared) but its own name indexes.
    Element(const Element& other);
    Element& operator=(const Element& other);
    ~Element();
    // Only an element made here (owned by a shared pointer) can take children.
    static ElementPtr Create(const std::string& name, DataType_e type = e_none);

    std::string GetName() const { return m_name; }
    void SetName(const std::string& name);
    DataType_e GetType() const { return m_type; }
    Order_e GetOrder() const { return m_order; }
    void SetOrder(Order_e order) { m_order = order; }

    // The text content without surrounding white space.
    std::string GetValue() const;
    bool GetUntrimedValue(std::string& out) const;
    // The untrimmed text of the first direct child of that name; false when there is none.
    bool GetUntrimedValue(const std::string& childName, std::string& out) const;

    // The trimmed text converted to T; false (out unchanged) when empty or refused.
    template <class T>
    bool GetValue(T& out) const
    {
        return detail::ConvertText(GetValue(), out);
    }

    // The named attribute's value converted to T; false without a trace when it is missing.
    template <class T>
    bool GetAttrValue(const std::string& name, T& out) const
    {
        AttributePtr attribute;
        return FindAttr(name, attribute) && attribute->GetValue(out);
    }

    const ElementList& GetChildren() const { return m_children; }
    const std::vector<AttributePtr>& GetAttributes() const { return m_attributes; }

    // Appends the child and makes this element its parent. Throws std::bad_weak_ptr, and
    // appends nothing, when no shared pointer owns this element.
    void AddChild(ElementPtr child);
    // Throws "Duplicate configuration attribute name" when the name is taken already.
    void AddAttribute(const AttributePtr& attribute);

    void SetParent(const ElementPtr& parent) { m_parent = parent; }
    // Empty when there is no parent or it is gone.
    ElementPtr GetParent() const { return m_parent.lock(); }

    // Exact name comparisons throughout. Look-ups and the duplicate test of AddAttribute take
    // constant time on average: beyond a few attributes or children an element keeps an index
    // of their names.
    ElementPtr FindChild(const std::string& name) const;
    // A direct child first; else the first match in each child's subtree, in child order.
    ElementPtr FindSubtree(const std::string& name) const;
    bool FindAttr(const std::string& name, AttributePtr& out) const;

private:
    friend class Configuration; // sets the text read from a document
    void _SetValue(std::string value) { m_value = std::move(value); }
    void _ReserveChildren(size_t count) { m_children.reserve(count); }
    // A child's name changed: the child index is made again.
    void _RebuildChildIndex();
    // The attributes of an element read from a document, taken at once (in place of any it
    // had); throws as AddAttribute does for a name given twice.
    void _SetAttributes(std::vector<AttributePtr> attributes);

    // Name -> position of the first attribute or child of that name (element.cpp).
    class NameIndex;
    template <class NameAt>
    static std::unique_ptr<NameIndex> _MakeIndex(size_t count, const NameAt& nameAt);
    // The names of the children and of the attributes by position, for the indexes.
    std::function<const std::string&(size_t)> _ChildNames() const;
    std::function<const std::string&(size_t)> _AttributeNames() const;

    std::string m_name;
    std::string m_value;
    DataType_e m_type = e_none;
    Order_e m_order = e_all;
    ElementList m_children;
    std::vector<AttributePtr> m_attributes;
    std::weak_ptr<Element> m_parent;
    // Made once there are more than c_scanLimit of them; a few are faster scanned.
    std::unique_ptr<NameIndex> m_childIndex;
    std::unique_ptr<NameIndex> m_attributeIndex;
};

} // namespace icfg

ISTD_ENUM_TABLE_DECL(icfg::Element::Order_e)

#endif
