#ifndef IAPP_FEATURES_REG_NODE_PROPERTIES_H
#define IAPP_FEATURES_REG_NODE_PROPERTIES_H

// The names and registry flags of a timing block's nodes: a table of default rows that the
// application may override row by row when it constructs the block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "iapp/iapp_export.h"
#include "istd/exception.h"

namespace ifeature {

// One node: its name and registry flags.
struct IAPP_API RegNodeProperty {
    const char* name;
    uint64_t flags;
};

// Replaces name and flags of row `index`.
struct IAPP_API RegNodeConfiguration {
    uint32_t index;
    const char* name;
    uint64_t flags;
};

// The rows with the overrides (may be null) applied in order. A row index the table does not
// have is refused with istd::Exception "<owner>: node override row <index> is out of range
// [0:<last>]", so that no override lands outside the table; a row without a name with
// "<owner>: node override row <index> has no name".
template <size_t N>
std::array<RegNodeProperty, N> ApplyOverrides(std::array<RegNodeProperty, N> rows,
                                              const std::vector<RegNodeConfiguration>* overrides,
                                              const std::string& owner)
{
    if (overrides == nullptr) {
        return rows;
    }
    for (const RegNodeConfiguration& row : *overrides) {
        if (row.index >= N) {
            throw istd::Exception(owner + ": node override row " + std::to_string(row.index) +
                                      " is out of range [0:" + std::to_string(N - 1) + "]",
                                  true);
        }
        if (row.name == nullptr) {
            throw istd::Exception(owner + ": node override row " + std::to_string(row.index) + " has no name", true);
        }
        rows[row.index] = RegNodeProperty{row.name, row.flags};
    }
    return rows;
}

} // namespace ifeature

#endif
