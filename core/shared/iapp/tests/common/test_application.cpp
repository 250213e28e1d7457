#include "test_application.h"

#include <algorithm>
#include <chrono>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "ireg/reg_value_node.h"
#include "istd/signal_handler.h"
#include "mci/factory.h"
#include "tests/support/files.h"
#include "tests/support/wait_until.h"

namespace iapptest {

TestApplication::TestApplication(bool configRegistry, bool configRequired, const std::string& name)
    : iapp::KavrelApplication(name, configRegistry, configRequired, testsupport::TypesXsd()), m_appName(name)
{
}

TestApplication::~TestApplication() = default;

iapp::KavrelBoard* TestApplication::InstantiateBoard(const bmc::Board* board)
{
    return m_boardFactory ? m_boardFactory(*this, board) : nullptr;
}

void TestApplication::SetHookAction(std::function<void(const std::string&)> action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_action = std::move(action);
}

std::vector<std::pair<std::string, int>> TestApplication::Hooks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hooks;
}

size_t TestApplication::Count(const std::string& hook) const
{
    size_t count = 0;
    for (const auto& entry : Hooks()) {
        count += entry.first == hook ? 1 : 0;
    }
    return count;
}

void TestApplication::AddSetting(const std::string& name, const std::string& value)
{
    m_settings.emplace_back(name, value);
}

void TestApplication::OnRegistryAdd(mci::TreeNodePtr& node)
{
    const mci::Flags flags = mci::enums::eReadable | mci::enums::eWritable | mci::enums::ePersistent;
    for (const auto& [name, value] : m_settings) {
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(name, value, flags));
    }
}

void TestApplication::Deliver(int signal)
{
    SignalThread()->Deliver(signal);
}

void TestApplication::_Hook(const std::string& hook)
{
    std::function<void(const std::string&)> action;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        action = m_action;
    }
    if (action) {
        action(hook);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hooks.emplace_back(hook, GetState());
}

std::vector<std::string> AppArgs(unsigned port, const std::vector<std::string>& extra)
{
    std::vector<std::string> args{"test-app", "--no-daemon", "-p", std::to_string(port), "-l", ""};
    if (std::find(extra.begin(), extra.end(), "-c") == extra.end()) {
        args.insert(args.end(), {"-c", ""});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

Argv::Argv(std::vector<std::string> args) : m_args(std::move(args))
{
    for (std::string& arg : m_args) {
        m_pointers.push_back(arg.data());
    }
    m_pointers.push_back(nullptr);
}

RunningApp::RunningApp(TestApplication& app, std::vector<std::string> args) : m_app(app), m_argv(args)
{
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-p") {
            m_port = static_cast<unsigned>(std::stoul(args[i + 1]));
        }
    }
    m_result = std::async(std::launch::async, [this] { return m_app.Run(m_argv.Count(), m_argv.Get()); });
}

RunningApp::~RunningApp()
{
    if (!m_joined && m_result.valid()) {
        m_result.wait();
    }
}

bool RunningApp::WaitServing()
{
    const std::string corbaloc = "corbaloc::127.0.0.1:" + std::to_string(m_port) + "/" + inet::c_defaultNetId;
    return testsupport::WaitUntil(
        [&] {
            if (m_result.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
                return true;
            }
            if (m_app.GetState() != 4 || !inet::OM().IsInitialised()) {
                return false;
            }
            try {
                CORBA::ORB_var orb = inet::OM().GetORB();
                CORBA::Object_var object = orb->string_to_object(corbaloc.c_str());
                i_NET::Application_var application = i_NET::Application::_narrow(object);
                CORBA::String_var version = application->GetInterfaceVersion();
                return true;
            } catch (...) {
                return false;
            }
        },
        std::chrono::seconds(30)) &&
           m_result.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

int RunningApp::Join()
{
    if (!m_joined) {
        if (m_result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            return -1;
        }
        m_value = m_result.get();
        m_joined = true;
    }
    return m_value ? 1 : 0;
}

FakeDaemon::FakeDaemon(int result)
{
    istd::Daemon::Instance().SetStartHook([this, result](const std::string& pidFile) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(pidFile);
        return result;
    });
}

FakeDaemon::~FakeDaemon()
{
    istd::Daemon::Instance().SetStartHook(nullptr);
}

std::vector<std::string> FakeDaemon::Calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

} // namespace iapptest
