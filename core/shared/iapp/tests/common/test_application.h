#ifndef IAPP_TESTS_COMMON_TEST_APPLICATION_H
#define IAPP_TESTS_COMMON_TEST_APPLICATION_H

// An application object for in-process tests of the life cycle: Run on a thread of its own,
// with the ORB on a free loopback port, no log and no configuration file unless a test asks,
// signals handed to the application's signal thread directly, and the phase hooks recorded
// with the state they saw.
//
//     TestApplication app;
//     RunningApp running(app, AppArgs(port));
//     ASSERT_TRUE(running.WaitServing());
//     app.Deliver(SIGTERM);
//     EXPECT_EQ(running.Join(), 1);                 // Run returned true
//
// Its board factory answers null unless a test gives it one (SetBoardFactory). AppRoot is an
// application that stands as the root of component tests (boards need one as their parent).

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "iapp/kavrel_application.h"
#include "istd/daemon.h"

namespace iapptest {

class TestApplication : public iapp::KavrelApplication {
public:
    // The configuration document imports the build's types schema.
    explicit TestApplication(bool configRegistry = false, bool configRequired = false,
                             const std::string& name = "test-app");
    ~TestApplication() override;

    using BoardFactory = std::function<iapp::KavrelBoard*(TestApplication& app, const bmc::Board* board)>;

    const std::string& AppName() const override { return m_appName; }
    // The factory's board, or null without one.
    iapp::KavrelBoard* InstantiateBoard(const bmc::Board* board) override;
    void SetBoardFactory(BoardFactory factory) { m_boardFactory = std::move(factory); }

    void OnPreInit() override { _Hook("pre-init"); }
    void OnPostInit() override { _Hook("post-init"); }
    void OnPreConfig() override { _Hook("pre-config"); }
    void OnPostConfig() override { _Hook("post-config"); }
    void OnStartRunning() override { _Hook("start-running"); }
    void OnAcceptRequests() override { _Hook("accept-requests"); }
    void OnShutdown() override { _Hook("shutdown"); }
    // Adds the settings given to AddSetting under the application's node.
    void OnRegistryAdd(mci::TreeNodePtr& node) override;

    // A persistent string node under "application", made when the registry is defined.
    void AddSetting(const std::string& name, const std::string& value);

    // Runs in every hook (on the thread that walks the tree) before it is recorded.
    void SetHookAction(std::function<void(const std::string& hook)> action);
    // {hook, state} in call order.
    std::vector<std::pair<std::string, int>> Hooks() const;
    size_t Count(const std::string& hook) const;

    // Hands the signal to the signal thread as if the process had received it.
    void Deliver(int signal);
    bool HasSignalThread() const { return SignalThread() != nullptr; }

private:
    void _Hook(const std::string& hook);

    const std::string m_appName;
    BoardFactory m_boardFactory;
    mutable std::mutex m_mutex;
    std::function<void(const std::string&)> m_action;
    std::vector<std::pair<std::string, int>> m_hooks;
    std::vector<std::pair<std::string, std::string>> m_settings;
};

// An application as the root of component tests that never run it: it accepts every child, and
// its state (what GetApplicationState of its components answers) is the test's to set.
//
//     auto root = std::make_unique<iapptest::AppRoot>();
//     auto* board = new iapp::KavrelBoard(*root, poolBoard);
//     root->SetState(4);
class AppRoot : public TestApplication {
public:
    explicit AppRoot(const std::string& name = "app") : TestApplication(false, false, name) {}

    bool OnQueryChild(const iapp::KavrelObject&) override { return true; }
    int GetState() const override { return m_rootState.load(); }
    void SetState(int state) { m_rootState.store(state); }

private:
    std::atomic<int> m_rootState{0};
};

// The arguments of a foreground application on the port, without log, and without configuration
// file unless extra gives one with "-c".
std::vector<std::string> AppArgs(unsigned port, const std::vector<std::string>& extra = {});

// An argv for the arguments (argv[0] first); valid while the object lives.
class Argv {
public:
    explicit Argv(std::vector<std::string> args);
    int Count() const { return static_cast<int>(m_pointers.size()) - 1; }
    char** Get() { return m_pointers.data(); }

private:
    std::vector<std::string> m_args;
    std::vector<char*> m_pointers;
};

// Run on a thread of its own.
class RunningApp {
public:
    RunningApp(TestApplication& app, std::vector<std::string> args);
    // Waits for the end.
    ~RunningApp();

    // Waits (30 s at most) until the application serves a GetInterfaceVersion on the port of
    // its arguments; false when Run ended first.
    bool WaitServing();
    // Waits (30 s at most) for Run: 1 true, 0 false, -1 still running.
    int Join();

private:
    TestApplication& m_app;
    Argv m_argv;
    unsigned m_port = 0;
    std::future<bool> m_result;
    bool m_joined = false;
    bool m_value = false;
};

// The fake daemon while it lives: Start only records the pid file path and answers result.
class FakeDaemon {
public:
    explicit FakeDaemon(int result = 0);
    ~FakeDaemon();
    std::vector<std::string> Calls() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

} // namespace iapptest

#endif
