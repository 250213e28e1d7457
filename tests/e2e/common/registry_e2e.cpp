#include "registry_e2e.h"

#include <omniORB4/CORBA.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "inet/tests/support/refusal_text.h"
#include "ireg/corba_value.h"
#include "istd/convert.h"
#include "tests/support/wait_until.h"

namespace e2e {

namespace {

const std::string c_server = E2E_REGISTRY_SERVER;
const std::string c_client = E2E_REGISTRY_CLIENT;

std::string PathText(const i_NET::NodeNames& path)
{
    using mci::operator<<;
    std::ostringstream text;
    text << mci::RemoteNodeNamesToPath(path);
    return text.str();
}

std::vector<std::string> ClientArgs(unsigned port, const std::vector<std::string>& args)
{
    std::vector<std::string> all{c_client, "--port", std::to_string(port)};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace

std::unique_ptr<inettest::ChildProcess> StartMerged(const std::vector<std::string>& args)
{
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    shell.insert(shell.end(), args.begin(), args.end());
    return std::make_unique<inettest::ChildProcess>(shell);
}

#ifdef E2E_PEER
std::unique_ptr<inettest::ChildProcess> Peer(unsigned port, const std::vector<std::string>& args)
{
    std::vector<std::string> all{E2E_PEER, args.at(0), std::to_string(port)};
    all.insert(all.end(), args.begin() + 1, args.end());
    return StartMerged(all);
}
#endif

int64_t Rss(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return istd::FromString<int64_t>(istd::TokenizeString(line.substr(6), " \t").at(0)) * 1024;
        }
    }
    return -1;
}

Server::Server(const std::string& dir, const std::vector<std::string>& options) : m_dir(dir)
{
    std::vector<std::pair<std::string, std::string>> settings{{"--port", "0"},
                                                              {"--config-file", dir + "/registry-server.xml"},
                                                              {"--types-schema", testsupport::TypesXsd()},
                                                              {"--debug", "1"},
                                                              {"--trace-file", dir + "/trace.log"}};
    for (size_t i = 0; i + 1 < options.size(); i += 2) {
        auto it = std::find_if(settings.begin(), settings.end(), [&](const auto& s) { return s.first == options[i]; });
        if (it == settings.end()) {
            settings.emplace_back(options[i], options[i + 1]);
        } else {
            it->second = options[i + 1];
        }
    }
    m_port = static_cast<unsigned>(std::stoul(settings.front().second));
    std::vector<std::string> args{c_server};
    for (const auto& [option, value] : settings) {
        args.push_back(option);
        args.push_back(value);
    }
    m_process = StartMerged(args);
}

Server::~Server()
{
    if (m_process->IsRunning()) {
        m_process->Kill(SIGKILL);
        m_process->Wait();
    }
}

bool Server::WaitServing()
{
    const std::string serving = "registry-server: serving on port ";
    std::string output;
    const bool ended = testsupport::WaitUntil(
        [&] {
            output = Output();
            const size_t at = output.find(serving);
            return (at != std::string::npos && output.find('\n', at) != std::string::npos) || !m_process->IsRunning();
        },
        std::chrono::seconds(120));
    const size_t at = output.find(serving);
    if (!ended || at == std::string::npos || !m_process->IsRunning()) {
        return false;
    }
    // The port it serves on, also the one the system chose for port 0.
    m_port = static_cast<unsigned>(std::stoul(output.substr(at + serving.size())));
    return true;
}

int Server::Stop(int signal)
{
    m_process->Kill(signal);
    return m_process->Wait(60000);
}

std::string Server::Corbaloc() const
{
    return "corbaloc::127.0.0.1:" + std::to_string(m_port) + "/Application";
}

std::string Server::Trace() const
{
    return testsupport::ReadFile(m_dir + "/trace.log");
}

std::pair<int, std::string> RunClient(unsigned port, const std::vector<std::string>& args)
{
    auto client = StartClient(port, args);
    const int rc = client->Wait(60000);
    return {rc, client->Output()};
}

std::unique_ptr<inettest::ChildProcess> StartClient(unsigned port, const std::vector<std::string>& args)
{
    return StartMerged(ClientArgs(port, args));
}

void Notes::Emit(const i_NET::NotificationData& data)
{
    std::string line = PathText(data.path);
    if (data.position != 0) {
        line += " [" + std::to_string(data.position) + "]";
    }
    line += " = " + Text(data.value);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(line);
    m_arrived.notify_all();
}

std::vector<std::string> Notes::WaitFor(size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::seconds(15), [&] { return m_lines.size() >= count; });
    return m_lines;
}

std::vector<std::string> Notes::Lines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

ClientThreads::ClientThreads(i_NET::Application_ptr app, int count, Body body)
{
    for (int t = 0; t < count; ++t) {
        m_threads.emplace_back([this, app = i_NET::Application::_duplicate(app), body, t] {
            try {
                auto* notes = new Notes;
                inet::OM().Activate(notes);
                i_NET::Notification_var callback = notes->_this();
                i_NET::RemoteNode_var node = app->GetRemoteNode(callback);
                for (CORBA::ULong turn = 0; !m_stop; ++turn) {
                    body(node.in(), t, turn);
                    ++m_operations;
                }
            } catch (const CORBA::Exception& e) {
                if (!m_terminating) {
                    ++m_failures;
                    ADD_FAILURE() << "client thread " << t << ": " << inet::ExceptionText(e);
                }
            }
            CORBA::release(app);
        });
    }
}

ClientThreads::~ClientThreads()
{
    Stop();
}

void ClientThreads::Stop()
{
    m_stop = true;
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

i_NET::NodePath Path(const std::string& path)
{
    return mci::PathToRemoteNodeNames(istd::TokenizeString(path, "/"));
}

std::string Text(const CORBA::Any& value)
{
    CORBA::TypeCode_var type = value.type();
    std::string name;
    switch (type->kind()) {
    case CORBA::tk_alias: name = type->name(); break;
    case CORBA::tk_boolean: name = "boolean"; break;
    case CORBA::tk_long: name = "long"; break;
    case CORBA::tk_ulong: name = "ulong"; break;
    case CORBA::tk_longlong: name = "longlong"; break;
    case CORBA::tk_ulonglong: name = "ulonglong"; break;
    case CORBA::tk_double: name = "double"; break;
    case CORBA::tk_float: name = "float"; break;
    case CORBA::tk_string: name = "string"; break;
    default: name = "kind " + std::to_string(int(type->kind())); break;
    }
    return name + " " + ireg::CorbaValueText(value);
}

std::string Refusal(const std::function<void()>& f)
{
    try {
        f();
        return "no error";
    } catch (const CORBA::Exception& e) {
        return inettest::RefusalText(e);
    }
}

CORBA::Any Strings(const std::vector<std::string>& values)
{
    return Buffer<i_NET::StringBuffer>(values);
}

void RegistryServerTest::SetUp()
{
    inettest::OrbTest::SetUp();
    Restart();
}

void RegistryServerTest::TearDown()
{
    if (m_server && m_server->IsRunning()) {
        EXPECT_EQ(m_server->Stop(), 0) << m_server->Output();
    }
    m_app = i_NET::Application::_nil();
    inettest::OrbTest::TearDown();
}

i_NET::RemoteNode_ptr RegistryServerTest::Connect(Notes** notes)
{
    auto* callback = new Notes;
    inet::OM().Activate(callback);
    if (notes != nullptr) {
        *notes = callback;
    }
    i_NET::Notification_var reference = callback->_this();
    return m_app->GetRemoteNode(reference);
}

void RegistryServerTest::Restart(const std::vector<std::string>& extra)
{
    m_server = std::make_unique<Server>(m_dir.Path(), extra);
    ASSERT_TRUE(m_server->WaitServing()) << m_server->Output();
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(m_server->Corbaloc().c_str());
    m_app = i_NET::Application::_narrow(object);
    ASSERT_FALSE(CORBA::is_nil(m_app));
}

} // namespace e2e
