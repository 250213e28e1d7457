// registry-server: serves a registry with a node of every kind to remote clients over CORBA,
// keeping its persistent values in a configuration file, until SIGINT or SIGTERM.
//
//   registry-server [--port PORT] [--config-file FILE] [--types-schema FILE]
//                   [--max-packet-size BYTES] [--log-file FILE] [--debug LEVEL [--trace-file FILE]]
//
// Clients reach it as corbaloc::HOST:PORT/Application (see registry-client). The first line of
// standard output says where it serves ("registry-server: serving on port <port> as ..."), also
// for --port 0, where the system chooses the port. Exit codes: see c_exitCodes.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <boost/program_options.hpp>

#include "common/program.h"
#include "common/types_schema.h"
#include "iapp/i_kavrel_application_impl.h"
#include "icfg/configuration.h"
#include "inet/orb_manager.h"
#include "ireg/i_remote_node_impl.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "istd/ver_info.h"
#include "mci/dispatcher.h"
#include "server_registry.h"

namespace {

namespace po = boost::program_options;

const char c_program[] = "registry-server";

const char c_exitCodes[] =
    "Exit codes:\n"
    "  0  stopped by SIGINT or SIGTERM\n"
    "  1  could not start (port in use, configuration file unreadable or damaged, types schema\n"
    "     missing) or the ORB failed\n"
    "  2  a bad command line\n";

struct Settings {
    unsigned port = 5679;
    unsigned maxPacket = 0x20000014;
    std::string configFile = "registry-server.xml";
    std::string typesSchema;
    bool typesSchemaGiven = false;
    std::string logFile = "/dev/stderr";
    int debug = 0;
    std::string traceFile = "+";
};

// False when the help or the version was asked for (and printed).
bool ParseCommandLine(int argc, char** argv, Settings& settings)
{
    ISTD_TRACE_FNC("bool ParseCommandLine(int, char**, Settings&)");
    std::string port;
    std::string maxPacket;
    std::string debug;
    po::options_description options("Options");
    options.add_options()
        ("help,h", "print this help and exit")
        ("version", "print the version and exit")
        ("port,p", po::value(&port), "TCP port to serve on (default 5679; 0: one the system chooses, printed on "
                                     "the first line)")
        ("config-file,c", po::value(&settings.configFile),
         "configuration file of the persistent values (default registry-server.xml); its schema is "
         "written beside it")
        ("types-schema", po::value(&settings.typesSchema),
         ("the shared types schema that written schemas import (default " + examples::DefaultTypesSchema() +
          ", else the copy installed with the libraries)").c_str())
        ("max-packet-size,s", po::value(&maxPacket), "largest GIOP message in bytes (default 0x20000014)")
        ("log-file", po::value(&settings.logFile), "log file of warnings and errors (default /dev/stderr)")
        ("debug,d", po::value(&debug), "trace level 0 to 5 (default 0: no trace)")
        ("trace-file", po::value(&settings.traceFile), "trace file (default: standard error)");
    po::variables_map values;
    try {
        // No positional arguments: without a description of them, they would pass unnoticed.
        const po::positional_options_description none;
        po::store(po::command_line_parser(argc, argv).options(options).positional(none).run(), values);
        po::notify(values);
    } catch (const po::error& e) {
        throw examples::UsageError(e.what());
    }
    if (values.count("help") != 0) {
        std::cout << "Usage: " << c_program << " [options]\n"
                  << "Serves a registry with a node of every kind as corbaloc::HOST:PORT/"
                  << inet::c_defaultNetId << " until SIGINT or SIGTERM.\n\n"
                  << options << "\n"
                  << c_exitCodes << std::flush;
        return false;
    }
    if (values.count("version") != 0) {
        std::cout << c_program << " (kavrel) " << istd::VerInfo::GetInstance().VersionString() << std::endl;
        return false;
    }
    // An option given with an empty value is refused like any other text that is no number.
    if (values.count("port") != 0) {
        settings.port = examples::NumberOption<unsigned>("port", port, 0, 65535);
    }
    if (values.count("max-packet-size") != 0) {
        settings.maxPacket = examples::NumberOption<unsigned>("maximum packet size", maxPacket, 1024);
    }
    if (values.count("debug") != 0) {
        settings.debug = examples::NumberOption<int>("trace level", debug, 0, istd::eTraceScope);
    }
    if (settings.configFile.empty()) {
        throw examples::UsageError("the configuration file name is empty");
    }
    settings.typesSchemaGiven = !settings.typesSchema.empty();
    if (!settings.typesSchemaGiven) {
        settings.typesSchema = examples::DefaultTypesSchema();
    }
    return true;
}

// Waits for SIGINT or SIGTERM (blocked in every thread), then holds new requests until those
// under way end and stops the ORB, so that ORBRun returns on the main thread.
void AwaitStop(const sigset_t& stopSignals)
{
    ISTD_TRACE_FNC("void AwaitStop(const sigset_t&)");
    int signal = 0;
    ::sigwait(&stopSignals, &signal);
    std::cout << c_program << ": stopping on " << ::strsignal(signal) << std::endl;
    try {
        inet::OM().HoldRequests();
    } catch (const istd::Exception& e) {
        std::cerr << c_program << ": " << e.what() << std::endl;
    }
    try {
        inet::OM().ORBShutdown(false);
    } catch (const istd::Exception& e) {
        std::cerr << c_program << ": " << e.what() << std::endl;
    }
}

// Whether the log is a file of its own, not standard error.
bool LogIsAFile(const Settings& settings)
{
    return !settings.logFile.empty() && settings.logFile != "+" && settings.logFile != "/dev/stderr";
}

// A start that failed: the reason on standard error, where the operator looks, and in the log
// when that is a file of its own, which the line then names. Exit code 1.
int StartFailed(const Settings& settings, const std::string& reason)
{
    const bool logFile = LogIsAFile(settings) && istd::Log::m_enabled.load();
    if (logFile) {
        istd::LogCritical(reason);
    }
    std::cerr << c_program << ": " << reason << (logFile ? " (log: " + settings.logFile + ")" : "") << std::endl;
    return 1;
}

// How the load went, for the line after the port's.
std::string LoadText(bool loaded, const ireg::RegConfigNode::LoadSummary& summary, const std::string& file)
{
    if (loaded && summary.defaulted == 0 && summary.refused == 0) {
        return " loaded";
    }
    if (!examples::IsFile(file)) {
        return " not found: built-in values";
    }
    return " loaded with defaults: " + std::to_string(summary.defaulted) + " of " + std::to_string(summary.values) +
           " values defaulted, " + std::to_string(summary.refused) + " refused (see the log)";
}

int Serve(const Settings& settings, const sigset_t& stopSignals, char* program)
{
    ISTD_TRACE_FNC("int Serve(const Settings&, const sigset_t&, char*)");
    // The default may be missing: the configuration library then uses its own copy.
    if (settings.typesSchemaGiven && !examples::IsFile(settings.typesSchema)) {
        return StartFailed(settings, "the types schema " + settings.typesSchema +
                                         " does not exist (give it with --types-schema)");
    }
    std::unique_ptr<regserver::ServerRegistry> registry;
    bool loaded = false;
    try {
        registry = std::make_unique<regserver::ServerRegistry>(settings.configFile, settings.typesSchema);
        loaded = registry->Load();
    } catch (const istd::Exception& e) {
        // A file that could not be read is never written: the registry refuses to from now on.
        return StartFailed(settings, e.what());
    }

    try {
        examples::InitOrb(program, settings.port, settings.maxPacket);
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node(registry->Root(), mci::c_noRelPath));
        inet::OM().ActivatePersistent(new iapp::i_KavrelApplication_impl, inet::c_defaultNetId);
    } catch (const istd::Exception& e) {
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
        registry->Destroy(false); // it never served: nothing of this run reaches the file
        inet::OM().ORBDestroy();
        return StartFailed(settings, e.what());
    }
    // The first line: scripts read the port from it.
    const unsigned port = inet::OM().GetPort();
    std::cout << c_program << ": serving on port " << port << " as corbaloc::127.0.0.1:" << port << "/"
              << inet::c_defaultNetId << std::endl;
    std::cout << c_program << ": configuration " << settings.configFile
              << LoadText(loaded, registry->Root()->GetLoadSummary(), settings.configFile) << std::endl;

    int rc = 0;
    std::thread stopper([&stopSignals] { AwaitStop(stopSignals); });
    try {
        inet::OM().ORBRun();
    } catch (const istd::Exception& e) {
        std::cerr << c_program << ": " << e.what() << std::endl;
        rc = 1;
        ::pthread_kill(stopper.native_handle(), SIGTERM);
    }
    stopper.join();

    // No request runs now: the notifications end, then the tree (which writes the
    // configuration and withdraws the signal servant), then the ORB with the remote nodes.
    mci::Dispatcher::GetInstance().Stop();
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    registry->Destroy();
    inet::OM().ORBDestroy();
    registry.reset();
    std::cout << c_program << ": stopped" << std::endl;
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (const int rc = examples::ParseCommandLine(c_program, [&] { return ParseCommandLine(argc, argv, settings); });
        rc >= 0) {
        return rc;
    }

    // Blocked before any thread starts, so that every thread inherits the mask and the signals
    // reach only the thread that waits for them.
    sigset_t stopSignals;
    ::sigemptyset(&stopSignals);
    ::sigaddset(&stopSignals, SIGINT);
    ::sigaddset(&stopSignals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!istd::Log::Init(settings.logFile)) {
        const int error = errno;
        std::cerr << c_program << ": cannot open the log file " << settings.logFile << ": " << std::strerror(error)
                  << std::endl;
        return 1;
    }
    if (settings.debug > 0) {
        istd::TraceFile::Init(settings.traceFile, "");
        if (!istd::TraceFile::GetInstance().Start(static_cast<istd::TraceLevel_e>(settings.debug))) {
            const int error = errno;
            return StartFailed(settings, "cannot open the trace file " + settings.traceFile + ": " +
                                             std::strerror(error));
        }
    }
    icfg::Configuration::Initialize();
    const int rc = Serve(settings, stopSignals, argv[0]);
    icfg::Configuration::Cleanup();
    istd::TraceFile::GetInstance().Stop();
    istd::Log::Stop();
    return rc;
}
