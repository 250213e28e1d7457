#ifndef IREG_TESTS_COMMON_IREG_CONFIG_UTIL_H
#define IREG_TESTS_COMMON_IREG_CONFIG_UTIL_H

// Helpers of the persistence tests (files, folders, xmllint and child processes come from the
// configuration library's test helpers): stand-in node kinds for what the value nodes cannot
// show (a value that cannot be read, an enumeration).

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "icfg/element.h"
#include "ireg/reg_value_node.h"

namespace iregtest {

// The attribute "value" of an element, or "<none>".
std::string ValueAttr(const icfg::ElementPtr& element);

// A node of T whose reads fail: by a result of 0, by an istd::Exception or by another exception.
template <class T>
class FailingReadNode : public ireg::RegTypeNode<T> {
public:
    enum How_e { e_zero, e_istd, e_other };
    FailingReadNode(const std::string& name, mci::Flags flags, How_e how, size_t size = 1)
        : ireg::RegTypeNode<T>(name, flags), m_how(how), m_size(size)
    {
    }
    size_t OnGetSize(const mci::Path&) const override { return m_size; }
    using ireg::RegTypeNode<T>::OnGet;
    size_t OnGet(T*, size_t, size_t) const override
    {
        if (m_how == e_istd) {
            throw istd::Exception("getter failed", true);
        }
        if (m_how == e_other) {
            throw std::runtime_error("getter failed");
        }
        return 0;
    }

private:
    How_e m_how;
    size_t m_size;
};

// An enumeration in the shape the registry gives every enumeration node: value type 9, its
// names as domain values, read and written as int32_t and by name, an int32_t that is no value
// of the table failing the read with "invalid value".
class TestEnumNode : public ireg::RegTypeNode<int32_t> {
public:
    TestEnumNode(const std::string& name, std::vector<int32_t> values, mci::Flags flags);

    static const std::map<int32_t, std::string>& Table();

    size_t OnGetSize(const mci::Path&) const override { return m_values.size(); }
    mci::enums::NodeValType_e OnGetValueType(const mci::Path&) const override
    {
        return mci::enums::eEnumeration;
    }
    bool OnGetDomainValues(std::vector<std::string>& values, const mci::Path&) const override;

    using ireg::RegTypeNode<int32_t>::OnGet;
    using ireg::RegTypeNode<int32_t>::OnSet;
    size_t OnGet(int32_t* values, size_t pos, size_t count) const override;
    size_t OnGet(std::string* values, size_t pos, size_t count) const override;
    void OnSet(const int32_t* values, size_t pos, size_t count) override;
    void OnSet(const std::string* values, size_t pos, size_t count) override;

    // Stores a code without looking it up, as a variable behind a reference node may hold one.
    void Poke(size_t pos, int32_t code) { m_values.at(pos) = code; }

private:
    std::vector<int32_t> m_values;
};

} // namespace iregtest

#endif
