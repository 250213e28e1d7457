#ifndef IREG_TESTS_COMMON_IREG_TEST_UTIL_H
#define IREG_TESTS_COMMON_IREG_TEST_UTIL_H

// Helpers of the registry tests: a client that records what it is sent, a validator that
// refuses one value, and sample values of the eight value types.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ireg/terminal.h"
#include "mci/mci.h"

namespace iregtest {

// mci::factory::Create, typed as the node kind made.
template <class N, class... A>
std::shared_ptr<N> Make(A&&... args)
{
    return std::static_pointer_cast<N>(mci::factory::Create<N>(std::forward<A>(args)...));
}

// A notification client that keeps a copy of every notification delivered to it.
class Recorder {
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    const mci::NotificationClientPtr& Client() const { return m_client; }
    bool Subscribe(const mci::TreeNodePtr& node);

    // Waits (ten seconds at most) until count notifications have arrived; false on time-out.
    bool WaitFor(size_t count);
    // Waits until a notification of the node has arrived; false on time-out. A client is sent
    // its notifications in the order they were emitted, so once a change made last (a marker)
    // has arrived, every earlier one has too.
    bool WaitForNode(const mci::TreeNodePtr& node, std::chrono::milliseconds timeout);
    std::vector<mci::NotificationData> Received();

private:
    mci::NotificationClientPtr m_client;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<mci::NotificationData> m_received;
};

// Accepts every value of T but one; refuses every other type with the base's SyntaxError.
template <class T>
class RejectOne : public ireg::Terminal {
public:
    explicit RejectOne(const T& refused) : Terminal("reject"), m_refused(refused) {}
    using Terminal::OnEvaluate;
    bool OnEvaluate(const T& value) const override { return !(value == m_refused); }

private:
    T m_refused;
};

// Three sample values of T (the third unlike the first two), its value text, and a type the
// node of T does not take.
template <class T>
struct Sample;

template <>
struct Sample<bool> {
    static std::vector<bool> Values() { return {false, false, true}; }
    static constexpr const char* c_thirdText = "true";
    using Other = std::string;
};
template <>
struct Sample<int32_t> {
    static std::vector<int32_t> Values() { return {7, 12, -5}; }
    static constexpr const char* c_thirdText = "-5";
    using Other = std::string;
};
template <>
struct Sample<uint32_t> {
    static std::vector<uint32_t> Values() { return {7, 12, 4000000000u}; }
    static constexpr const char* c_thirdText = "4000000000";
    using Other = std::string;
};
template <>
struct Sample<int64_t> {
    static std::vector<int64_t> Values() { return {7, 12, -9000000000}; }
    static constexpr const char* c_thirdText = "-9000000000";
    using Other = std::string;
};
template <>
struct Sample<uint64_t> {
    static std::vector<uint64_t> Values() { return {7, 12, std::numeric_limits<uint64_t>::max()}; }
    static constexpr const char* c_thirdText = "18446744073709551615";
    using Other = std::string;
};
template <>
struct Sample<double> {
    static std::vector<double> Values() { return {0.5, 2.25, 1.0 / 3.0}; }
    static constexpr const char* c_thirdText = "0.333333333333333";
    using Other = std::string;
};
template <>
struct Sample<float> {
    static std::vector<float> Values() { return {0.5f, 2.25f, 1234567.0f}; }
    static constexpr const char* c_thirdText = "1.23457e+06";
    using Other = std::string;
};
template <>
struct Sample<std::string> {
    static std::vector<std::string> Values() { return {"alpha", "beta", "gamma"}; }
    static constexpr const char* c_thirdText = "gamma";
    using Other = int32_t;
};

} // namespace iregtest

#endif
