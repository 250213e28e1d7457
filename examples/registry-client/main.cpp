// registry-client: browses, reads, writes and watches the registry of a server over CORBA, and reads
// its signals.
//
//   registry-client [--host HOST] [--port PORT] [--id ID] COMMAND [ARGUMENT...]
//   registry-client stream PATH [--count N] [--queue N] [--timeout S] [--ping S]
//
// Run with --help for the commands. Every refusal is one line on standard error,
// "registry-client: <command> <path>: <reason>" ("registry-client: <reason>" when the server
// cannot be reached). Exit codes: see c_exitCodes.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "common/program.h"
#include "inet/orb_manager.h"
#include "isig/i_remote_signal_impl.h"
#include "istd/exception.h"
#include "istd/ver_info.h"
#include "registry_client.h"

namespace {

namespace po = boost::program_options;

const char c_program[] = "registry-client";

// The longest queue the server gives a client; a longer one asked for would be cut to it.
constexpr uint32_t c_maxQueue = isig::i_RemoteSignal_impl::c_maxQueueLength;

const char c_commands[] =
    "Commands (PATH: / for the root, or names joined by /, e.g. /settings/count):\n"
    "  list [PATH]         the node and its subtree: path, type ([size] for arrays), flags, value\n"
    "  get PATH            the value; with --pos and --count a slice of an array\n"
    "  set PATH VALUE...   writes the values (one per element from --pos) as the node's type;\n"
    "                      enumerations by name or number, bool as true/false, 1/0, yes/no\n"
    "                      or on/off (in any letter case)\n"
    "  info PATH           type, size, flags, value, validator, domain values, children\n"
    "  exec PATH           runs a command node\n"
    "  watch PATH...       prints each change of the nodes as PATH = VALUE until interrupted\n"
    "                      (or --timeout, or --notifications)\n"
    "  stream PATH         reads the signal of a signal node (flag s in list): prints its\n"
    "                      description (name, owner, atom size, group size, components, atom\n"
    "                      type), that it is connected (and its name at the server), then one\n"
    "                      line per atom, COMPONENT=VALUE for each component,\n"
    "                      until --count atoms arrived, --timeout passed, the server closed the\n"
    "                      signal or it is interrupted; then the statistics: atoms and calls\n"
    "                      received, how it closed, the device's atoms read and partial reads,\n"
    "                      and this client's queue at the server (atoms pushed and dropped: a\n"
    "                      reader too slow for the signal loses atoms there)\n"
    "Flags: r readable, w writable, p persistent, c constant, h hidden, x command, a array,\n"
    "s signal ('-' where a flag is not set).\n"
    "Values that begin with '-' are values, not options: set /settings/offset -7.\n";

const char c_exitCodes[] =
    "Exit codes:\n"
    "  0  done (a watch also when interrupted; a stream when --count atoms arrived, or without\n"
    "     --count when interrupted or at --timeout)\n"
    "  1  the server refused, or could not be reached, or a watch or stream lost it (the reason\n"
    "     on standard error)\n"
    "  2  a bad command line, or a value that is no value of the node\n"
    "  3  a stream ended short: fewer than --count atoms arrived, or the server closed the\n"
    "     signal (its code on standard error, e.g. terminated(-5) when the server stops)\n";

struct Settings {
    std::string host = "127.0.0.1";
    unsigned port = 5679;
    std::string id = "Application";
    uint32_t pos = 0;
    uint32_t count = 0;
    unsigned timeout = 0;       // seconds; 0: none
    size_t notifications = 0;   // 0: no limit
    uint32_t queue = 0;         // stream: buffers at the server; 0: its default
    unsigned ping = static_cast<unsigned>(regclient::RegistryClient::c_checkPeriod.count()); // seconds; 0: never
    std::string command;
    std::vector<std::string> arguments;
};

std::atomic<bool> g_interrupted{false};

// A stream that ended before it delivered what was asked: exit code 3.
class StreamEnded : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern "C" void OnInterrupt(int)
{
    g_interrupted = true;
}

// The arguments with "-h" as "--help" where options stand, before the command; after it words
// that begin with '-' are values.
std::vector<std::string> Arguments(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-h") {
            args[i] = "--help";
        } else if (args[i].compare(0, 2, "--") != 0) {
            break;
        } else if (args[i] != "--help" && args[i] != "--version" && args[i].find('=') == std::string::npos) {
            ++i; // the option's value
        }
    }
    return args;
}

// False when the help or the version was asked for (and printed).
bool ParseCommandLine(int argc, char** argv, Settings& settings)
{
    std::string port;
    std::string pos;
    std::string count;
    std::string timeout;
    std::string notifications;
    std::string queue;
    std::string ping;
    std::vector<std::string> words;
    const std::string queueHelp = "stream: length of this client's queue at the server, in buffers of one group "
                                  "each (default 0: the server's default; at most " +
                                  std::to_string(c_maxQueue) + ")";
    const std::string pingHelp = "watch, stream: make sure every this many seconds that the server is still "
                                 "there (default " +
                                 std::to_string(regclient::RegistryClient::c_checkPeriod.count()) +
                                 "; 0: never); a server that stopped or died ends the command with 'lost the "
                                 "connection' and exit code 1";
    po::options_description options("Options");
    options.add_options()
        ("help,h", "print this help and exit")
        ("version", "print the version and exit")
        ("host", po::value(&settings.host), "server host (default 127.0.0.1)")
        ("port", po::value(&port), "server port (default 5679)")
        ("id", po::value(&settings.id), "the server's network id (default Application)")
        ("pos", po::value(&pos), "get, set: first element (default 0)")
        ("count", po::value(&count), "get: elements to read (default 0: to the end); stream: atoms to read "
                                     "(default 0: until interrupted, --timeout or the signal's end)")
        ("timeout", po::value(&timeout), "watch, stream: stop after this many seconds")
        ("notifications", po::value(&notifications), "watch: stop after this many notifications")
        ("queue", po::value(&queue), queueHelp.c_str())
        ("ping", po::value(&ping), pingHelp.c_str());
    po::options_description all;
    all.add(options).add_options()("words", po::value(&words));
    po::positional_options_description positional;
    positional.add("words", -1);
    po::variables_map values;
    try {
        // Long options only, so that negative numbers reach the command as values.
        const int style = po::command_line_style::unix_style & ~po::command_line_style::allow_short &
                          ~po::command_line_style::allow_guessing;
        po::store(po::command_line_parser(Arguments(argc, argv)).options(all).positional(positional).style(style).run(),
                  values);
        po::notify(values);
    } catch (const po::error& e) {
        throw examples::UsageError(e.what());
    }
    if (values.count("help") != 0) {
        std::cout << "Usage: " << c_program << " [options] COMMAND [ARGUMENT...]\n"
                  << "Reaches the server as corbaloc::HOST:PORT/ID.\n\n"
                  << c_commands << "\n"
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
        settings.port = examples::NumberOption<unsigned>("port", port, 1, 65535);
    }
    if (values.count("pos") != 0) {
        settings.pos = examples::NumberOption<uint32_t>("position", pos);
    }
    if (values.count("count") != 0) {
        settings.count = examples::NumberOption<uint32_t>("count", count);
    }
    if (values.count("timeout") != 0) {
        settings.timeout = examples::NumberOption<unsigned>("time-out", timeout, 1, 86400);
    }
    if (values.count("queue") != 0) {
        settings.queue = examples::NumberOption<uint32_t>("queue length", queue, 0, c_maxQueue);
    }
    if (values.count("ping") != 0) {
        settings.ping = examples::NumberOption<unsigned>("ping period", ping, 0, 3600);
    }
    if (values.count("notifications") != 0) {
        settings.notifications = examples::NumberOption<size_t>("number of notifications", notifications, 1);
    }
    if (settings.host.empty() || settings.host.find_first_of("/:@ ") != std::string::npos) {
        throw examples::UsageError("invalid host '" + settings.host + "'");
    }
    if (settings.id.empty()) {
        throw examples::UsageError("the network id is empty");
    }
    if (words.empty()) {
        throw examples::UsageError("no command given");
    }
    settings.command = words.front();
    settings.arguments.assign(words.begin() + 1, words.end());

    const std::string& c = settings.command;
    const size_t n = settings.arguments.size();
    const bool fits = (c == "list" && n <= 1) ||
                      ((c == "get" || c == "info" || c == "exec" || c == "stream") && n == 1) ||
                      (c == "set" && n >= 2) || (c == "watch" && n >= 1);
    if (c != "list" && c != "get" && c != "info" && c != "set" && c != "exec" && c != "watch" && c != "stream") {
        throw examples::UsageError("unknown command '" + c + "'");
    }
    if (!fits) {
        throw examples::UsageError("wrong number of arguments for '" + c + "'");
    }
    return true;
}

// Installed for watch and stream only: an interrupted one-shot command simply ends.
void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void Watch(regclient::RegistryClient& client, const Settings& settings)
{
    CatchInterrupts();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeout);
    size_t seen = 0;
    client.Watch(settings.arguments, [&](size_t notifications) {
        seen = notifications;
        return g_interrupted.load() || (settings.notifications != 0 && notifications >= settings.notifications) ||
               (settings.timeout != 0 && std::chrono::steady_clock::now() >= end);
    });
    if (settings.notifications != 0 && seen < settings.notifications && !g_interrupted.load()) {
        throw regclient::Refused(std::to_string(seen) + " of " + std::to_string(settings.notifications) +
                                 " notifications arrived in " + std::to_string(settings.timeout) + " s");
    }
}

void Stream(regclient::RegistryClient& client, const Settings& settings)
{
    CatchInterrupts();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeout);
    const regclient::StreamResult result = client.Stream(settings.arguments[0], settings.count, settings.queue, [&] {
        return g_interrupted.load() || (settings.timeout != 0 && std::chrono::steady_clock::now() >= end);
    });
    const std::string wanted = std::to_string(result.atoms) + " of " + std::to_string(settings.count) + " atoms";
    if (settings.count != 0 && result.atoms >= settings.count) {
        return;
    }
    if (result.closed) {
        throw StreamEnded("the server closed the signal: " + regclient::SignalCodeText(result.closeCode) + " after " +
                          (settings.count != 0 ? wanted : std::to_string(result.atoms) + " atoms"));
    }
    if (settings.count != 0) {
        throw StreamEnded(wanted + (g_interrupted.load() ? " arrived before the interrupt"
                                                        : " arrived in " + std::to_string(settings.timeout) + " s"));
    }
}

void Run(const Settings& settings, const regclient::Address& address)
{
    regclient::RegistryClient client(address, std::cout);
    client.SetCheckPeriod(std::chrono::seconds(settings.ping));
    const std::vector<std::string>& a = settings.arguments;
    if (settings.command == "list") {
        client.List(a.empty() ? "/" : a[0]);
    } else if (settings.command == "get") {
        client.Get(a[0], settings.pos, settings.count);
    } else if (settings.command == "set") {
        client.Set(a[0], std::vector<std::string>(a.begin() + 1, a.end()), settings.pos);
    } else if (settings.command == "info") {
        client.Info(a[0]);
    } else if (settings.command == "exec") {
        client.Exec(a[0]);
    } else if (settings.command == "stream") {
        Stream(client, settings);
    } else {
        Watch(client, settings);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (const int rc = examples::ParseCommandLine(c_program, [&] { return ParseCommandLine(argc, argv, settings); });
        rc >= 0) {
        return rc;
    }
    const regclient::Address address{settings.host, settings.port, settings.id};
    const std::string path = settings.arguments.empty() ? "/" : settings.arguments[0];
    const std::string what = settings.command + (settings.arguments.empty() ? "" : " " + path);
    int rc = 0;
    try {
        // Port 0: the system chooses where the server sends the notifications.
        examples::InitOrb(argv[0], 0, 64u << 20);
        Run(settings, address);
    } catch (const std::invalid_argument& e) {
        std::cerr << c_program << ": " << what << ": " << e.what() << std::endl;
        rc = 2;
    } catch (const StreamEnded& e) {
        std::cerr << c_program << ": " << what << ": " << e.what() << std::endl;
        rc = 3;
    } catch (const regclient::ConnectionError& e) {
        std::cerr << c_program << ": " << e.what() << std::endl;
        rc = 1;
    } catch (const CORBA::UserException& e) {
        std::cerr << c_program << ": " << what << ": " << regclient::Reason(e, path) << std::endl;
        rc = 1;
    } catch (const CORBA::SystemException& e) {
        // The ORB's own failures: the server went away, or stopped answering.
        std::cerr << c_program << ": " << what << ": " << regclient::ConnectionFailure(e, address) << std::endl;
        rc = 1;
    } catch (const std::exception& e) {
        std::cerr << c_program << ": " << what << ": " << e.what() << std::endl;
        rc = 1;
    }
    try {
        inet::OM().ORBDestroy();
    } catch (const istd::Exception&) {
        // Nothing is left to report to.
    }
    return rc;
}
