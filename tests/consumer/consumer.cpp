// A program built against an installed kavrel, as the developer of an instrument application
// builds one: a registry with a value node and an enumeration node under a configuration root,
// its values saved to the configuration file and loaded into a second registry, which is then
// served over CORBA to a client in a process of its own (this program again) for one remote get.
//
//   kavrel-consumer <folder> <types schema>   the whole run; exit code 0 when every step did
//                                             what it should, else 1 and why
//   kavrel-consumer get <corbaloc> <node>     the client: prints the node's value
//
// Only installed headers, included as an application includes them.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <iapp/i_kavrel_application_impl.h>
#include <icfg/configuration.h>
#include <inet/i_net.hh>
#include <inet/orb_manager.h>
#include <ireg/corba_value.h>
#include <ireg/i_remote_node_impl.h>
#include <ireg/reg_config_node.h>
#include <ireg/reg_enum_node.h>
#include <ireg/reg_value_node.h>
#include <istd/enum_map.h>
#include <istd/exception.h>
#include <mci/factory.h>
#include <mci/tree_node.h>

extern char** environ;

namespace consumer {

enum Mode_e : int32_t {
    eModeSlow = 0,
    eModeFast = 1,
    eModeBurst = 5,
};

} // namespace consumer

ISTD_ENUM_TABLE_DECL(consumer::Mode_e)
ISTD_ENUM_TABLE(consumer::Mode_e, {consumer::eModeSlow, "slow"}, {consumer::eModeFast, "fast"},
                {consumer::eModeBurst, "burst"});

namespace consumer {
namespace {

constexpr mci::Flags c_persistent =
    mci::enums::eReadable | mci::enums::eWritable | mci::enums::ePersistent;

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

// root (the configuration file's node) with "gain" (double) and "mode" (Mode_e).
std::shared_ptr<ireg::RegConfigNode> MakeRegistry(const std::string& file, icfg::Configuration& configuration)
{
    auto root = std::static_pointer_cast<ireg::RegConfigNode>(mci::factory::Create<ireg::RegConfigNode>(
        "root", file, &configuration, mci::enums::eReadable | mci::enums::eWritable));
    root->Add(mci::factory::Create<ireg::RegValueNode<double>>("gain", 1.5, c_persistent));
    root->Add(mci::factory::Create<ireg::RegValueEnumNode<Mode_e>>("mode", eModeSlow, c_persistent));
    return root;
}

std::shared_ptr<ireg::RegNode> Child(const std::shared_ptr<ireg::RegConfigNode>& root, const std::string& name)
{
    return std::dynamic_pointer_cast<ireg::RegNode>(root->GetNode(name));
}

// Runs this program as the client; its standard output.
std::string RemoteGet(const std::string& program, const std::string& corbaloc, const std::string& node)
{
    int pipeFds[2];
    Check(::pipe(pipeFds) == 0, "pipe");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string get = "get";
    char* argv[] = {const_cast<char*>(program.c_str()), get.data(), const_cast<char*>(corbaloc.c_str()),
                    const_cast<char*>(node.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Check(rc == 0, "cannot start the client");
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0;) {
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the client failed: " + output);
    return output;
}

// The client's callback object, which GetRemoteNode asks for.
class Callback : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData&) override {}
};

int Client(char* program, const std::string& corbaloc, const std::string& node)
{
    int argc = 1;
    char* argv[] = {program, nullptr};
    inet::OrbManager::Init(argc, argv, 0, 1 << 20);
    {
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(corbaloc.c_str());
        i_NET::Application_var application = i_NET::Application::_narrow(object);
        auto* callback = new Callback;
        inet::OM().Activate(callback);
        i_NET::Notification_var callbackRef = callback->_this();
        i_NET::RemoteNode_var remote = application->GetRemoteNode(callbackRef);
        i_NET::NodePath path;
        path.length(1);
        path[0] = node.c_str();
        CORBA::Any_var value = remote->GetValue(path, 0, 1, CORBA::_tc_string);
        std::cout << ireg::CorbaValueText(value.in()) << std::endl;
        application->ReleaseRemoteNode(callbackRef);
    }
    inet::OM().ORBDestroy();
    return 0;
}

int Run(const std::string& program, const std::string& folder, const std::string& typesSchema)
{
    const std::string file = folder + "/consumer.xml";
    icfg::Configuration configuration("1.0", typesSchema);

    // Values set, saved, and loaded into a registry of their own.
    mci::TreeNodePtr first = MakeRegistry(file, configuration);
    {
        auto root = std::static_pointer_cast<ireg::RegConfigNode>(first);
        Check(Child(root, "gain")->SetValue(2.25), "set gain");
        Check(Child(root, "mode")->SetValue(std::string("burst")), "set mode by name");
        Check(root->WriteConfiguration(), "write " + file);
    }
    mci::DestroyNode(first);

    auto second = MakeRegistry(file, configuration);
    Check(second->LoadConfiguration(), "load " + file);
    double gain = 0;
    std::string mode;
    Check(Child(second, "gain")->GetValue(gain) && gain == 2.25, "gain read back");
    Check(Child(second, "mode")->GetValue(mode) && mode == "burst", "mode read back: " + mode);
    std::cout << "saved and loaded: gain " << gain << ", mode " << mode << std::endl;

    // Served on a port the system chooses; a client in another process reads the enumeration.
    int argc = 1;
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    inet::OrbManager::Init(argc, argv, 0, 1 << 20);
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node(second, mci::c_noRelPath));
    inet::OM().ActivatePersistent(new iapp::i_KavrelApplication_impl, inet::c_defaultNetId);
    std::thread orb([] { inet::OM().ORBRun(); });
    std::string remote;
    try {
        const std::string corbaloc =
            "corbaloc::127.0.0.1:" + std::to_string(inet::OM().GetPort()) + "/" + inet::c_defaultNetId;
        remote = RemoteGet(program, corbaloc, "mode");
    } catch (...) {
        inet::OM().ORBShutdown(true);
        orb.join();
        throw;
    }
    inet::OM().ORBShutdown(true);
    orb.join();
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    mci::TreeNodePtr tree = second;
    second.reset();
    mci::DestroyNode(tree);
    inet::OM().ORBDestroy();
    Check(remote == "burst\n", "remote get: '" + remote + "'");
    std::cout << "remote get: mode = " << remote << std::flush;
    return 0;
}

} // namespace
} // namespace consumer

int main(int argc, char** argv)
{
    try {
        if (argc == 4 && std::string(argv[1]) == "get") {
            return consumer::Client(argv[0], argv[2], argv[3]);
        }
        if (argc != 3) {
            std::cerr << "usage: " << argv[0] << " <folder> <types schema> | get <corbaloc> <node>" << std::endl;
            return 2;
        }
        icfg::Configuration::Initialize();
        const int rc = consumer::Run(argv[0], argv[1], argv[2]);
        icfg::Configuration::Cleanup();
        return rc;
    } catch (const CORBA::Exception& e) {
        std::cerr << argv[0] << ": " << inet::ExceptionText(e) << std::endl;
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << std::endl;
    }
    return 1;
}
