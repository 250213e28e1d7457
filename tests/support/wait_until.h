#ifndef TESTS_SUPPORT_WAIT_UNTIL_H
#define TESTS_SUPPORT_WAIT_UNTIL_H

#include <chrono>
#include <functional>

namespace testsupport {

// Polls the condition every millisecond until it holds (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace testsupport

#endif
