#ifndef IREG_TESTS_COMMON_IREG_KINDS_UTIL_H
#define IREG_TESTS_COMMON_IREG_KINDS_UTIL_H

// Helpers of the tests of the node kinds over variables, functions, enumerations and register
// words.

#include <memory>
#include <utility>

#include "mci/mci.h"

namespace iregtest {

// mci::factory::Create, typed as the node kind made. A dynamic cast: the enumeration kinds reach
// the tree node through a virtual base, which a static cast cannot cross.
template <class N, class... A>
std::shared_ptr<N> MakeKind(A&&... args)
{
    return std::dynamic_pointer_cast<N>(mci::factory::Create<N>(std::forward<A>(args)...));
}

} // namespace iregtest

#endif
