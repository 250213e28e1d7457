#ifndef TESTS_SUPPORT_OPEN_DESCRIPTORS_H
#define TESTS_SUPPORT_OPEN_DESCRIPTORS_H

#include <cstddef>

namespace testsupport {

// The descriptors this process has open (from /proc/self/fd).
size_t CountOpenDescriptors();

} // namespace testsupport

#endif
