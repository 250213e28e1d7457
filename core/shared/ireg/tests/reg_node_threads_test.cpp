// Registry nodes under concurrent use: eight threads set, get and emit while other threads
// subscribe and unsubscribe clients. Sets must be atomic for readers, and each node's
// notifications must reach a subscriber complete and in the order of the sets.

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <map>
#include <thread>

#include "common/ireg_test_util.h"
#include "ireg/reg_value_node.h"
#include "tests/support/wait_until.h"

using iregtest::Make;
using iregtest::RejectOne;
using mci::c_noRelPath;

namespace {

constexpr int c_setters = 8;
constexpr int c_rounds = 1500;
constexpr size_t c_width = 16;
constexpr int32_t c_refused = -1;

// Checks every notification on the dispatcher's thread: scalar values of one writer never go
// back, array values are whole (all elements equal).
class Checker {
public:
    Checker()
        : m_client(mci::NotificationClient::Create(
              mci::Callback(mci::CallbackId(), [this](const mci::NotificationData& d) { _Check(d); })))
    {
    }
    ~Checker() { m_client->Shutdown(); }

    const mci::NotificationClientPtr& Client() const { return m_client; }
    int64_t Count() const { return m_count.load(); }
    int64_t Faults() const { return m_faults.load(); }

private:
    void _Check(const mci::NotificationData& d)
    {
        if (const auto* value = std::any_cast<int32_t>(&d.value)) {
            const int32_t writer = *value / 100000;
            const int32_t round = *value % 100000;
            auto it = m_last.find(writer);
            if (*value == c_refused || (it != m_last.end() && it->second > round)) {
                ++m_faults;
            }
            m_last[writer] = round;
        } else if (const auto* values = std::any_cast<std::vector<int32_t>>(&d.value)) {
            if (values->size() != c_width || d.position != 0 ||
                std::count(values->begin(), values->end(), values->front()) != static_cast<long>(c_width)) {
                ++m_faults;
            }
        }
        ++m_count;
    }

    mci::NotificationClientPtr m_client;
    std::map<int32_t, int32_t> m_last; // only the dispatcher's thread touches it
    std::atomic<int64_t> m_count{0};
    std::atomic<int64_t> m_faults{0};
};

TEST(RegNodeThreads, SettersReadersAndSubscribersTogether)
{
    auto scalar = Make<ireg::RegValueNode<int32_t>>("scalar", 0);
    scalar->SetValidator(std::make_shared<RejectOne<int32_t>>(c_refused));
    auto array = Make<ireg::RegValueNode<int32_t>>("array", c_width, 0, mci::Flags(6));
    auto text = Make<ireg::RegValueNode<std::string>>("text", std::string("start"));

    Checker checker;
    ASSERT_TRUE(checker.Client()->Register(mci::Node(scalar, c_noRelPath)));
    ASSERT_TRUE(checker.Client()->Register(mci::Node(array, c_noRelPath)));

    std::atomic<int64_t> sent{0};   // notifications handed to the dispatcher for the checker
    std::atomic<int64_t> torn{0};   // reads that saw half of a set
    std::atomic<bool> stop{false};

    std::vector<std::thread> threads;
    for (int t = 0; t < c_setters; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < c_rounds; ++i) {
                const int32_t value = (t + 1) * 100000 + i;
                scalar->Set(value, 0, c_noRelPath);
                ++sent;
                array->Set(std::vector<int32_t>(c_width, value), 0, c_noRelPath);
                ++sent;
                if (scalar->SetValue(c_refused)) {
                    ++sent; // never: the validator refuses it
                }
                if (i % 8 == 0 && scalar->Emit()) {
                    ++sent;
                }
                std::vector<int32_t> seen;
                array->Get(seen, 0, 0, c_noRelPath);
                if (std::count(seen.begin(), seen.end(), seen.front()) != static_cast<long>(c_width)) {
                    ++torn;
                }
                int32_t one = 0;
                scalar->Get(one, 0, c_noRelPath);
                text->Set(std::to_string(value), 0, c_noRelPath);
                std::string word;
                text->Get(word, 0, c_noRelPath);
            }
        });
    }
    // Clients come and go on the same nodes while the setters run.
    for (int s = 0; s < 2; ++s) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                auto client = mci::NotificationClient::Create(
                    mci::Callback(mci::CallbackId(), [](const mci::NotificationData&) {}));
                client->Register(mci::Node(scalar, c_noRelPath));
                client->Register(mci::Node(array, c_noRelPath));
                client->Register(mci::Node(text, c_noRelPath));
                const mci::ClientId bare;
                text->Subscribe(bare);
                client->Unregister(mci::Node(array, c_noRelPath));
                text->Unsubscribe(bare, c_noRelPath, false);
                client->Shutdown();
            }
        });
    }
    // And the validator is looked at from outside.
    threads.emplace_back([&] {
        std::string expression;
        while (!stop.load()) {
            scalar->GetValidatorExpression(expression);
            scalar->GetValidator();
        }
    });

    for (int t = 0; t < c_setters; ++t) {
        threads[t].join();
    }
    stop.store(true);
    for (size_t t = c_setters; t < threads.size(); ++t) {
        threads[t].join();
    }

    EXPECT_EQ(torn.load(), 0);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return checker.Count() >= sent.load(); }));
    EXPECT_EQ(checker.Count(), sent.load());
    EXPECT_EQ(checker.Faults(), 0);
}

} // namespace
