// The application's command line and environment.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#include <boost/program_options.hpp>

#include "bmc/board_pool.h"
#include "bmc/uri.h"
#include "iapp/kavrel_application.h"
#include "istd/daemon.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/outside_text.h"
#include "istd/prog_opt_multi_val.h"
#include "istd/trace.h"
#include "istd/ver_info.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

namespace po = boost::program_options;

const char c_portOptionWarning[] = "Ignoring non-numeric port CLI option: ";
const char c_sizeOptionWarning[] = "Ignoring non-numeric max_packet_size CLI option: ";

// The whole text as an unsigned 32-bit number: hexadecimal digits after "0x" when the text is
// longer than two characters, else decimal digits. Signs, blanks, trailing characters and
// values beyond 32 bits are refused.
bool ParseNumber(const std::string& text, uint32_t& out)
{
    const bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
    const uint64_t base = hex ? 16 : 10;
    size_t i = hex ? 2 : 0;
    if (i >= text.size()) {
        return false;
    }
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        uint64_t digit = base;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        }
        if (digit >= base) {
            return false;
        }
        value = value * base + digit;
        if (value > std::numeric_limits<uint32_t>::max()) {
            return false;
        }
    }
    out = static_cast<uint32_t>(value);
    return true;
}

bool ParsePort(const std::string& text, uint32_t& out)
{
    uint32_t value = 0;
    if (!ParseNumber(text, value) || value < 1 || value > 65535) {
        return false;
    }
    out = value;
    return true;
}

// Default < environment variable < option text; a refused text leaves the value before it, and
// its warning says which value that is (setting names it: "port").
uint32_t NumberSetting(uint32_t value, bool (*parse)(const std::string&, uint32_t&), const char* variable,
                       const std::string& environmentWarning, const std::string& text,
                       const std::string& optionWarning, const std::string& setting)
{
    const auto refused = [&](const std::string& warning) {
        istd::LogWarning(warning + "; using " + setting + " " + std::to_string(value));
    };
    if (const char* environment = std::getenv(variable)) {
        if (!parse(environment, value)) {
            refused(environmentWarning + istd::OutsideText(environment));
        }
    }
    if (!text.empty() && !parse(text, value)) {
        refused(optionWarning + istd::OutsideText(text));
    }
    return value;
}

void PrintUsage(const std::string& error, const po::options_description& general)
{
    std::cout << error << std::endl << "Usage:" << std::endl << general << std::endl;
}

std::string CurrentDir()
{
    std::string dir(4096, '\0');
    if (::getcwd(dir.data(), dir.size()) == nullptr) {
        throw istd::Exception(std::string("Cannot read the current directory: ") + std::strerror(errno), true);
    }
    dir.resize(std::strlen(dir.c_str()));
    return dir;
}

// A relative path made absolute against dir.
void Anchor(std::string& path, const std::string& dir)
{
    if (!path.empty() && path[0] != '/') {
        path = dir + (dir.back() == '/' ? "" : "/") + path;
    }
}

// Whether the log file can be opened for appending (it is created when missing, as opening the
// log would create it); reason says why not.
bool CanAppend(const std::string& path, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

// Whether the folder can be listed; reason says why not.
bool IsFolder(const std::string& path, std::string& reason)
{
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    ::closedir(dir);
    return true;
}

} // namespace

bool KavrelApplication::ProcessProgramOptions(int argc, char** argv)
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::ProcessProgramOptions(int, char**)");
    try {
        std::vector<std::string> debugWords;
        std::vector<std::string> boardWords;
        std::vector<std::string> positional;
        std::string port;
        std::string maxPacketSize;

        po::options_description general("General Options");
        general.add_options()
            ("help,h", "This help screen.")
            ("no-daemon,n", "Start as normal application.")
            ("debug,d", new istd::ProgOptMultiVal<std::string>(&debugWords, 0, 2), "file level")
            ("version,v", "Version info.")
            ("config-file,c", po::value<std::string>(&m_confFile), "Configuration file.")
            ("plugin-path,P", po::value<std::string>(&m_pluginDir),
             "Path to the file folder from where plug-in modules are loaded.")
            ("log-path,L", po::value<std::string>(&m_logFileDir), "Log files path.")
            ("log-name,l", po::value<std::string>(&m_logFileName), "Log file  name.")
            ("port,p", po::value<std::string>(&port), "Port number for communication with outside world.")
            ("max-packet-size,s", po::value<std::string>(&maxPacketSize),
             "Maximal size of data packet for communication with outside world.")
            ("boards,b", po::value<std::vector<std::string>>(&boardWords)->multitoken()->zero_tokens(),
             "Domain of used boards");
        po::options_description notAllowed("Not Allowed Options");
        notAllowed.add_options()
            ("positional-arguments", po::value<std::vector<std::string>>(&positional)->multitoken()->zero_tokens(), "");
        po::options_description internal("Internal Options");
        internal.add_options()("expose-hidden-registry,R", "expose hidden registry nodes");
        OnProgramOptionsAdd(general, internal);
        po::options_description all;
        all.add(general).add(notAllowed).add(internal);
        po::positional_options_description positionalMap;
        positionalMap.add("positional-arguments", -1);

        po::variables_map values;
        std::vector<std::string> unknown;
        try {
            const po::parsed_options parsed =
                po::command_line_parser(argc, argv).options(all).positional(positionalMap).allow_unregistered().run();
            unknown = po::collect_unrecognized(parsed.options, po::exclude_positional);
            po::store(parsed, values);
            po::notify(values);
        } catch (const std::exception& e) {
            PrintUsage(e.what(), general);
            return false;
        }

        if (values.count("version") != 0 && argc == 2) {
            istd::VerInfo::GetInstance().Dump();
            return false;
        }
        if (values.count("help") != 0) {
            std::cout << std::endl << general << std::endl;
            return false;
        }
        if (values.count("positional-arguments") != 0) {
            PrintUsage(positional.empty() ? std::string("unknown option positional-arguments")
                                          : "unknown argument " + positional.front(),
                       general);
            return false;
        }
        // The start goes on without them; but a mistyped option ("--no-deamon") must not pass
        // unnoticed.
        for (const std::string& word : unknown) {
            istd::LogWarning("Ignoring unknown option: " + istd::OutsideText(word));
        }
        if (values.count("expose-hidden-registry") != 0) {
            mci::ExposeHiddenRegistry();
        }

        // The board words are only parsed here; the pool, which the empty list asks for all
        // boards of the chassis, opens devices and may start threads: it is asked in the
        // process that stays.
        if (!boardWords.empty()) {
            DefineBoardsDomain(boardWords);
        }
        DefinePort(port);
        DefineMaxPacketSize(maxPacketSize);
        // An empty text is what an absent option hands on; one given empty ("-p ''") is refused
        // like any other text that is no number.
        if (values.count("port") != 0 && port.empty()) {
            istd::LogWarning(std::string(c_portOptionWarning) + "; using port " + std::to_string(m_port));
        }
        if (values.count("max-packet-size") != 0 && maxPacketSize.empty()) {
            istd::LogWarning(std::string(c_sizeOptionWarning) + "; using max packet size " +
                             std::to_string(m_maxPacketSize));
        }
        if (values.count("plugin-path") != 0) {
            // Said here, while the operator still watches the terminal: a daemon loads its
            // plug-ins later.
            std::string reason;
            if (!IsFolder(m_pluginDir, reason)) {
                istd::LogWarning("Failed to access folder " + m_pluginDir +
                                 " while looking for kavrel application plugins: " + reason);
            }
        }

        rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_MEMLOCK, &unlimited) != 0) {
            ISTD_TRACE(1, "setrlimit(RLIMIT_MEMLOCK) returned '" << std::strerror(errno) << "'");
            ISTD_TRACE(1, "Some features might not work correctly.");
        }

        // Everything that can refuse the command line is checked before the process goes to
        // the background, where its standard output is gone and its caller has already been
        // told that it started.
        const bool debug = values.count("debug") != 0;
        istd::TraceLevel_e level = istd::eTraceNone;
        if (debug) {
            if (debugWords.size() != 2) {
                PrintUsage("required parameter is missing in 'debug'", general);
                return false;
            }
            try {
                level = istd::EnumCast<istd::TraceLevel_e>(debugWords[1]);
            } catch (const istd::Exception& e) {
                throw istd::Exception("Invalid trace level '" + debugWords[1] + "' in 'debug': " + e.Text(), true);
            }
        }
        const bool daemon = values.count("no-daemon") == 0;
        if (daemon) {
            // The daemon runs in "/": relative paths keep meaning what they meant here.
            const std::string dir = CurrentDir();
            Anchor(m_confFile, dir);
            Anchor(m_pluginDir, dir);
            if (m_logFileDir.empty()) {
                Anchor(m_logFileName, dir);
                if (debug) {
                    Anchor(debugWords[0], dir);
                }
            } else {
                Anchor(m_logFileDir, dir);
            }
            const std::string log = LogFile();
            std::string reason;
            if (!log.empty() && log != "+" && !CanAppend(log, reason)) {
                ISTD_TRACE(1, "Error: Cannot open log file: " << log);
                std::cout << "Cannot open log file: " << log << std::endl;
                _PrintFailure("Cannot open log file: " + log + ": " + reason);
                return false;
            }
            if (istd::Daemon::Instance().Start(PidFile()) == -1) {
                const std::string reason = istd::Daemon::Instance().LastError();
                throw istd::Exception("Can not daemonize" + (reason.empty() ? "" : ": " + reason), true);
            }
        }
        if (boardWords.empty()) {
            DefineBoardsDomain(boardWords);
        }

        if (debug) {
            istd::TraceFile::Init(debugWords[0], LogFileDir());
            istd::TraceFile& trace = istd::TraceFile::GetInstance();
            if (!trace.Start(level)) {
                // The start goes on without a trace: a warning, in the log too.
                istd::LogWarning("Cannot open trace file: " + istd::TraceFile::GetInitPath() + ": " +
                                 std::strerror(errno));
            }
            trace.SetLevel(level);
        } else {
            istd::TraceFile::Init("+", LogFileDir());
        }

        if (!OnProgramOptionsProcess(values)) {
            return false;
        }

        const std::string log = LogFile();
        if (!log.empty() && !istd::Log::Init(log)) {
            const int error = errno;
            ISTD_TRACE(1, "Error: Cannot open log file: " << log);
            std::cout << "Cannot open log file: " << log << std::endl;
            _PrintFailure("Cannot open log file: " + log + ": " + std::strerror(error));
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        _PrintFailure(e.what());
    } catch (...) {
        _PrintFailure("Unknown exception while reading the command line");
    }
    return false;
}

void KavrelApplication::DefineBoardsDomain(const std::vector<std::string>& words)
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::DefineBoardsDomain(const std::vector<std::string>&)");
    if (words.empty()) {
        m_boardsDomain = bmc::BoardPool::Instance().GetAllLocalBoardUris();
    }
    for (const std::string& word : words) {
        try {
            m_boardsDomain.push_back(bmc::DecomposeUri(word));
        } catch (const std::exception& e) {
            throw istd::Exception("Invalid board URI '" + word + "': " + e.what(), true);
        }
    }
    // What the HPI library says matters to the log only when a board of the domain is reached
    // through it; otherwise (a daemon that is not there, say) it stays in the trace.
    bmc::LogHpiLibraryMessages(std::any_of(m_boardsDomain.begin(), m_boardsDomain.end(),
                                           [](const bmc::Uri& uri) { return bmc::UsesHpi(uri); }));
}

void KavrelApplication::DefinePort(const std::string& text)
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::DefinePort(const std::string&)");
    m_port = NumberSetting(DefaultPort(), ParsePort, c_portVariable,
                           std::string("Ignoring non-numeric ") + c_portVariable + " environment variable: ", text,
                           c_portOptionWarning, "port");
    ISTD_TRACE(1, "Using port: " << m_port);
}

void KavrelApplication::DefineMaxPacketSize(const std::string& text)
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::DefineMaxPacketSize(const std::string&)");
    m_maxPacketSize =
        NumberSetting(DefaultMaxPacketSize(), ParseNumber, c_maxPacketSizeVariable,
                      std::string("Ignoring non-numeric ") + c_maxPacketSizeVariable + " environment variable: ", text,
                      c_sizeOptionWarning, "max packet size");
    ISTD_TRACE(1, "max packet data size is set to: " << m_maxPacketSize);
}

} // namespace iapp
