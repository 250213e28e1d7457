#ifndef IREG_TESTS_COMMON_IREG_CONFIG_UTIL_H
#define IREG_TESTS_COMMON_IREG_CONFIG_UTIL_H

// Helpers of the persistence tests (files, folders, xmllint and child processes come from the
// configuration library's test helpers): stand-in node kinds for what the value nodes cannot
// show (a value that cannot be read).

#include <cstdint>
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

} // namespace iregtest

#endif
