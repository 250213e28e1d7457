// Start-up and shutdown of an application process, and remote reads through it, each against a
// baseline measured in the same run.
//
// BM_StartAndStop, instrument-app as scripts/demo.sh runs it against two baselines:
// - start: from the spawn of the program to the first answered GetInterfaceVersion of its
//   i_NET::Application on a loopback port (the client in this process retries until it answers);
// - stop: from SIGTERM, the process idle, to its exit.
// The first baseline is this program run again as a bare server: ORB up, an Application servant
// activated under the same network id, ORB loop on the main thread; SIGTERM, taken by a thread
// of its own, holds requests and shuts the ORB down, and main destroys it. The second is the same
// bare server that also does the application's file work: before the ORB it opens and validates
// a copy of the application's persisted registry and reads it into elements, and at SIGTERM it
// writes them back (document and schema) before the ORB goes down. The application runs on the
// simulated chassis of the demo (the chassis manager, an event-receiver board and a timing
// board, preloaded into its process) with its registry persisted (--config-registry), its log,
// registry file and the boards' files in a temporary folder; one start and stop beforehand
// writes the registry file that every measured start loads. Starts and stops of the three
// alternate; the counters give the medians and the ratios of the application to each baseline
// (`*_ratio` against the bare server with the file work, `*_ratio_bare` against the bare one).
//
// BM_StartWithPlugins: instrument-app's start (spawn to first answered call) with ten copies of
// the example plug-in in its plug-in folder, against the same start with an empty folder;
// medians and their ratio (plug-ins / none).
//
// BM_RemoteScalarGet: one remote GetValue of a double (the example plug-in's settings/gain in
// instrument-app) against the same node of registry-server (settings/gain), both processes
// running, one client ORB in this process; batches of 200 calls alternate; the counters give the
// time of a call from the median batches and their ratio (application / registry-server).

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "icfg/configuration.h"
#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "inet/remote_path.h"
#include "istd/convert.h"
#include "tests/support/element_recorder.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const char c_bareServer[] = "--bare-server";
const char c_fileServer[] = "--file-server";

class BareApplication : public POA_i_NET::Application {
public:
    char* GetInterfaceVersion() override { return CORBA::string_dup("2.6"); }
    i_NET::RemoteNode_ptr GetRemoteNode(i_NET::Notification_ptr) override { return i_NET::RemoteNode::_nil(); }
    void ReleaseRemoteNode(i_NET::Notification_ptr) override {}
};

// The element with its values typed as text and its arrays as sequences (a file read back has
// neither, and the schema written beside a document needs both), as the registry's nodes give
// them when it saves.
icfg::ElementPtr Typed(const icfg::ElementPtr& element)
{
    icfg::ElementPtr typed = icfg::Element::Create(element->GetName(), element->GetType());
    const icfg::ElementList& children = element->GetChildren();
    const bool array = children.size() > 1 && children[0]->GetName() == children[1]->GetName();
    typed->SetOrder(array ? icfg::Element::e_sequence : element->GetOrder());
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        typed->AddAttribute(icfg::Attribute::Create(attribute->GetName(), attribute->GetValue(), icfg::e_xsString));
    }
    for (const icfg::ElementPtr& child : children) {
        typed->AddChild(Typed(child));
    }
    return typed;
}

// The baseline processes: the least an ORB server does to start, serve and stop on SIGTERM;
// with a registry file, also loaded at the start and saved at the stop.
int BareServer(char* program, unsigned port, const std::string& registryFile)
{
    icfg::Configuration::Initialize();
    icfg::Configuration document("1.0", "");
    testsupport::ElementRecorder registry;
    if (!registryFile.empty()) {
        document.OpenDocument(registryFile, true);
        if (!document.Read(registry)) {
            return 1;
        }
        document.CloseDocument();
        // Read hands over the root element; Write makes its own.
        for (const icfg::ElementPtr& element : registry.received.front()->GetChildren()) {
            registry.toWrite.push_back(Typed(element));
        }
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    int argc = 1;
    char* argv[] = {program, nullptr};
    inet::OrbManager::Init(argc, argv, port, 0x20000014);
    inet::OM().ActivatePersistent(new BareApplication, inet::c_defaultNetId);
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stop, &signal);
        inet::OM().HoldRequests();
        if (!registryFile.empty()) {
            document.Write(registry, registryFile);
        }
        inet::OM().ORBShutdown(true);
    });
    inet::OM().ORBRun();
    stopper.join();
    inet::OM().ORBDestroy();
    icfg::Configuration::Cleanup();
    return 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {})
{
    std::vector<char*> env;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        env.push_back(*variable);
    }
    for (const std::string& variable : extraEnv) {
        env.push_back(const_cast<char*>(variable.c_str()));
    }
    env.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The programs' output (the board pool's complaints among it) is not the measure.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// True once the Application on the port answers; false when the process ended first.
bool AwaitAnswer(pid_t pid, unsigned port)
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    const std::string corbaloc = "corbaloc::127.0.0.1:" + std::to_string(port) + "/" + inet::c_defaultNetId;
    for (;;) {
        try {
            CORBA::Object_var object = orb->string_to_object(corbaloc.c_str());
            i_NET::Application_var app = i_NET::Application::_unchecked_narrow(object);
            CORBA::String_var version = app->GetInterfaceVersion();
            return true;
        } catch (const CORBA::Exception&) {
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

struct Times {
    double start = 0;
    double stop = 0;
};

// One start and stop of the program; false when it failed.
bool Measure(const std::vector<std::string>& args, unsigned port, Times& times,
             const std::vector<std::string>& extraEnv = {})
{
    const Clock::time_point spawned = Clock::now();
    const pid_t pid = Spawn(args, extraEnv);
    if (pid < 0 || !AwaitAnswer(pid, port)) {
        return false;
    }
    times.start = std::chrono::duration<double, std::milli>(Clock::now() - spawned).count();
    // Idle: the first request is answered, nothing else comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Clock::time_point signalled = Clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    times.stop = std::chrono::duration<double, std::milli>(Clock::now() - signalled).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string g_self;

// A configuration file that any schema check takes, in the folder.
void WriteAnyConfiguration(const testsupport::TempDir& dir)
{
    testsupport::WriteFile(dir / "any.xsd", "<?xml version=\"1.0\"?>\n"
                                            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                                            "<xs:element name=\"configuration\"/></xs:schema>\n");
    testsupport::WriteFile(dir / "app.xml", "<?xml version=\"1.0\"?>\n"
                                            "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                            "xsi:noNamespaceSchemaLocation=\"any.xsd\"/>\n");
}

// instrument-app's command line on the port with its files in the folder.
std::vector<std::string> AppArgs(const testsupport::TempDir& dir, unsigned port, const std::string& pluginDir)
{
    return {BENCH_INSTRUMENT_APP, "--no-daemon", "-p", std::to_string(port), "-L", dir.Path(), "-l",
            "app.log",            "-c",          dir / "app.xml", "-P", pluginDir};
}

// instrument-app as the demo starts it on the simulated chassis: its command line and the
// environment added for the preloaded simulators, with every file in the folder.
struct DemoApp {
    std::vector<std::string> args;
    std::vector<std::string> env;
};
DemoApp DemoAppIn(const testsupport::TempDir& dir, unsigned port)
{
    return {{BENCH_INSTRUMENT_APP, "--no-daemon", "-p", std::to_string(port), "-L", dir.Path() + "/", "-l",
             "app.log", "-c", dir / "app.xml", "--config-registry", "-b", "kvr:///3", "kvr:///2"},
            {"LD_PRELOAD=" BENCH_SIM_PRELOAD, "KAVREL_SIM_CHASSIS=" BENCH_TWO_BOARDS_CHASSIS,
             "KAVREL_SIM_FEED_DIR=" + dir.Path(), "KAVREL_SIM_BOARD_LOG=" + (dir / "boards.log")}};
}

void BM_StartAndStop(benchmark::State& state)
{
    testsupport::TempDir dir("iapp-lifecycle-bench");
    // The registry file every measured start loads, as the application saves it.
    Times first;
    unsigned port = testsupport::FreeLoopbackPort();
    DemoApp app = DemoAppIn(dir, port);
    if (!Measure(app.args, port, first, app.env) || !std::filesystem::exists(dir / "app.xml")) {
        state.SkipWithError("instrument-app did not start, stop and save its registry cleanly");
        return;
    }
    // The file server's own copy, with the schema the file names.
    const std::string copy = dir / "bare";
    std::filesystem::create_directory(copy);
    for (const char* name : {"app.xml", "app.xsd"}) {
        std::filesystem::copy_file(dir / name, copy + "/" + name);
    }
    std::vector<double> bareStart, bareStop, fileStart, fileStop, appStart, appStop;
    for (auto _ : state) {
        Times bare, file, measured;
        port = testsupport::FreeLoopbackPort();
        if (!Measure({g_self, c_bareServer, std::to_string(port)}, port, bare)) {
            state.SkipWithError("the bare server did not start or stop cleanly");
            return;
        }
        port = testsupport::FreeLoopbackPort();
        if (!Measure({g_self, c_fileServer, std::to_string(port), copy + "/app.xml"}, port, file)) {
            state.SkipWithError("the bare server with the registry file did not start or stop cleanly");
            return;
        }
        port = testsupport::FreeLoopbackPort();
        app = DemoAppIn(dir, port);
        if (!Measure(app.args, port, measured, app.env)) {
            state.SkipWithError("instrument-app did not start or stop cleanly");
            return;
        }
        bareStart.push_back(bare.start);
        bareStop.push_back(bare.stop);
        fileStart.push_back(file.start);
        fileStop.push_back(file.stop);
        appStart.push_back(measured.start);
        appStop.push_back(measured.stop);
        state.SetIterationTime((measured.start + measured.stop) / 1000.0);
    }
    state.counters["bare_start_ms"] = Median(bareStart);
    state.counters["file_start_ms"] = Median(fileStart);
    state.counters["app_start_ms"] = Median(appStart);
    state.counters["start_ratio"] = Median(appStart) / Median(fileStart);
    state.counters["start_ratio_bare"] = Median(appStart) / Median(bareStart);
    state.counters["bare_stop_ms"] = Median(bareStop);
    state.counters["file_stop_ms"] = Median(fileStop);
    state.counters["app_stop_ms"] = Median(appStop);
    state.counters["stop_ratio"] = Median(appStop) / Median(fileStop);
    state.counters["stop_ratio_bare"] = Median(appStop) / Median(bareStop);
}
BENCHMARK(BM_StartAndStop)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_StartWithPlugins(benchmark::State& state)
{
    testsupport::TempDir dir("iapp-plugins-bench");
    WriteAnyConfiguration(dir);
    const std::string none = dir / "none";
    const std::string ten = dir / "ten";
    std::filesystem::create_directory(none);
    std::filesystem::create_directory(ten);
    for (int i = 0; i < 10; ++i) {
        std::filesystem::copy_file(BENCH_DEMO_PLUGIN, ten + "/demo" + std::to_string(i) + ".so");
    }
    std::vector<double> noneStart, tenStart;
    for (auto _ : state) {
        Times without;
        unsigned port = testsupport::FreeLoopbackPort();
        if (!Measure(AppArgs(dir, port, none), port, without)) {
            state.SkipWithError("instrument-app without plug-ins did not start or stop cleanly");
            return;
        }
        Times with;
        port = testsupport::FreeLoopbackPort();
        if (!Measure(AppArgs(dir, port, ten), port, with)) {
            state.SkipWithError("instrument-app with ten plug-ins did not start or stop cleanly");
            return;
        }
        noneStart.push_back(without.start);
        tenStart.push_back(with.start);
        state.SetIterationTime(with.start / 1000.0);
    }
    state.counters["none_start_ms"] = Median(noneStart);
    state.counters["ten_plugins_start_ms"] = Median(tenStart);
    state.counters["start_ratio"] = Median(tenStart) / Median(noneStart);
}
BENCHMARK(BM_StartWithPlugins)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

class SilentCallback : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData&) override {}
};

// A remote node of the program serving on the port, for this process's callback object.
i_NET::RemoteNode_ptr RemoteNode(unsigned port, i_NET::Notification_ptr callback)
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(
        ("corbaloc::127.0.0.1:" + std::to_string(port) + "/" + inet::c_defaultNetId).c_str());
    i_NET::Application_var app = i_NET::Application::_narrow(object);
    return app->GetRemoteNode(callback);
}

// Seconds for `calls` reads of the node.
double TimeGets(i_NET::RemoteNode_ptr node, const i_NET::NodePath& path, int calls)
{
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        CORBA::Any_var value = node->GetValue(path, 0, 1, CORBA::_tc_double);
        benchmark::DoNotOptimize(value.in());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_RemoteScalarGet(benchmark::State& state)
{
    constexpr int c_batch = 200;
    testsupport::TempDir dir("iapp-get-bench");
    WriteAnyConfiguration(dir);
    const std::string plugins = dir / "plugins";
    std::filesystem::create_directory(plugins);
    std::filesystem::copy_file(BENCH_DEMO_PLUGIN, plugins + "/demo.so");
    const unsigned appPort = testsupport::FreeLoopbackPort();
    const pid_t app = Spawn(AppArgs(dir, appPort, plugins));
    const unsigned serverPort = testsupport::FreeLoopbackPort();
    const pid_t server = Spawn({BENCH_REGISTRY_SERVER, "--port", std::to_string(serverPort), "--config-file",
                                dir / "server.xml", "--types-schema", testsupport::TypesXsd()});
    auto stop = [](pid_t pid) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    };
    if (app < 0 || server < 0 || !AwaitAnswer(app, appPort) || !AwaitAnswer(server, serverPort)) {
        stop(app);
        stop(server);
        state.SkipWithError("instrument-app or registry-server did not start");
        return;
    }
    auto* callback = new SilentCallback;
    inet::OM().Activate(callback);
    {
        i_NET::Notification_var reference = callback->_this();
        i_NET::RemoteNode_var appNode = RemoteNode(appPort, reference);
        i_NET::RemoteNode_var serverNode = RemoteNode(serverPort, reference);
        const i_NET::NodePath appPath =
            mci::PathToRemoteNodeNames(istd::TokenizeString("application/plugins/demo/settings/gain", "/"));
        const i_NET::NodePath serverPath = mci::PathToRemoteNodeNames(istd::TokenizeString("settings/gain", "/"));
        // Per batch, the order alternating, so that a slow spell of the machine weighs on both
        // alike; the medians keep a stray batch out.
        std::vector<double> appBatches, serverBatches;
        bool appFirst = false;
        for (auto _ : state) {
            double app = 0;
            if (appFirst) {
                app = TimeGets(appNode, appPath, c_batch);
            }
            serverBatches.push_back(TimeGets(serverNode, serverPath, c_batch));
            if (!appFirst) {
                app = TimeGets(appNode, appPath, c_batch);
            }
            appBatches.push_back(app);
            appFirst = !appFirst;
            state.SetIterationTime(app);
        }
        state.counters["server_get_us"] = Median(serverBatches) * 1e6 / c_batch;
        state.counters["app_get_us"] = Median(appBatches) * 1e6 / c_batch;
        state.counters["get_ratio"] = Median(appBatches) / Median(serverBatches);
    }
    inet::OM().Deactivate(callback);
    stop(app);
    stop(server);
}
BENCHMARK(BM_RemoteScalarGet)->UseManualTime()->Iterations(100)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], c_bareServer) == 0) {
        return BareServer(argv[0], static_cast<unsigned>(std::stoul(argv[2])), "");
    }
    if (argc == 4 && std::strcmp(argv[1], c_fileServer) == 0) {
        return BareServer(argv[0], static_cast<unsigned>(std::stoul(argv[2])), argv[3]);
    }
    g_self = std::filesystem::read_symlink("/proc/self/exe").string();
    int orbArgc = 1;
    inet::OrbManager::Init(orbArgc, argv, 0, 0x20000014);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    inet::OM().ORBDestroy();
    return 0;
}
