#ifndef TESTS_SUPPORT_FREE_PORT_H
#define TESTS_SUPPORT_FREE_PORT_H

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago; throws std::runtime_error when the system
// gives none.
unsigned FreeLoopbackPort();

} // namespace testsupport

#endif
