#include "instrument_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "bmc/board.h"
#include "iapp/boards/pax/pax_board.h"
#include "iapp/boards/zolt/zolt_board.h"
#include "iapp/kavrel_feature.h"
#include "ireg/reg_value_node.h"
#include "istd/enum_map.h"
#include "istd/log.h"
#include "istd/trace.h"
#include "mci/factory.h"

namespace instrument {

namespace po = boost::program_options;

namespace {

const char c_configRegistry[] = "config-registry";

// What the registry shows of a board the application has no component of its own for: the
// board's URI and type ("boards/<board>/identity/uri" and "type"), read-only.
class BoardIdentity : public iapp::KavrelFeature {
public:
    BoardIdentity(iapp::KavrelBoard& board, const std::string& name) : KavrelFeature(board, name), m_board(board) {}

    void OnRegistryAdd(mci::TreeNodePtr& node) override
    {
        const mci::Flags flags = mci::enums::eReadable;
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("uri", m_board.Uri().ToString(), flags));
        node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>(
            "type", istd::EnumName(m_board.GetType()), flags));
    }

private:
    const iapp::KavrelBoard& m_board;
};

} // namespace

InstrumentApp::InstrumentApp(bool configRegistry, const std::string& typesSchemaPath)
    : KavrelApplication(c_name, configRegistry, true, typesSchemaPath)
{
}

iapp::KavrelBoard* InstrumentApp::InstantiateBoard(const bmc::Board* board)
{
    if (board->GetType() == bmc::eBoardTypePAX) {
        return new iboard::PaxBoard(*this, board, iboard::PaxBoard::c_evtDesc,
                                    ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr, false);
    }
    if (board->GetType() == bmc::eBoardTypeZOLT) {
        return new iboard::ZoltBoard(*this, board, iboard::PaxBoard::c_evtDesc,
                                     ifeature::PaxTriggerGeneration::c_trigConfigurations, nullptr);
    }
    auto* plain = new iapp::KavrelBoard(*this, board);
    iapp::Create<BoardIdentity>(*plain, "identity");
    return plain;
}

std::string InstrumentApp::PidFile() const
{
    return m_pidFile.empty() ? KavrelApplication::PidFile() : m_pidFile;
}

void InstrumentApp::OnProgramOptionsAdd(po::options_description& general, po::options_description&)
{
    // Bound to the members, so that the pid file is known when the framework daemonises.
    general.add_options()
        ("pid-file", po::value<std::string>(&m_pidFile), "Pid file of the daemon.")
        ("marker-dir", po::value<std::string>(&m_markerDir)->notifier([this](const std::string& dir) { _AnchorMarkerDir(dir); }),
         "Folder where each phase hook leaves a marker.")
        (c_configRegistry, "The registry persists its settings in the configuration file, which is made at "
                           "the first stop when missing. Without this option the configuration file must exist.");
}

bool InstrumentApp::OnProgramOptionsProcess(const po::variables_map& values)
{
    if ((values.count(c_configRegistry) != 0) != IsConfigRegistry()) {
        std::cout << "--" << c_configRegistry << " must be given as an option of its own" << std::endl;
        return false;
    }
    return true;
}

void InstrumentApp::OnRegistryAdd(mci::TreeNodePtr& node)
{
    const mci::Flags flags = mci::enums::eReadable | mci::enums::eWritable | mci::enums::ePersistent;
    node->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("label", std::string("instrument"), flags));
}

void InstrumentApp::OnPreInit() { _Mark("pre-init"); }
void InstrumentApp::OnPostInit() { _Mark("post-init"); }
void InstrumentApp::OnPreConfig() { _Mark("pre-config"); }
void InstrumentApp::OnPostConfig() { _Mark("post-config"); }
void InstrumentApp::OnStartRunning() { _Mark("start-running"); }
void InstrumentApp::OnAcceptRequests()
{
    _Mark("accept-requests");
    // The operator's signs of life in the log: where it serves, and that a stop signal came.
    istd::LogInfo("Serving requests on port " + std::to_string(Port()) + ".");
}

void InstrumentApp::OnShutdown()
{
    _Mark("shutdown");
    istd::LogInfo("Shutting down.");
}

void InstrumentApp::_AnchorMarkerDir(const std::string& dir)
{
    // Read before the framework daemonises, and the daemon runs in "/": also the moment to say
    // that no marker will be left, while the terminal still shows it.
    if (!dir.empty() && dir[0] != '/') {
        m_markerDir = std::filesystem::absolute(dir).string();
    }
    struct stat status {};
    std::string reason;
    if (::stat(m_markerDir.c_str(), &status) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISDIR(status.st_mode)) {
        reason = "not a folder";
    }
    if (!reason.empty()) {
        istd::LogWarning("Cannot use the marker folder " + m_markerDir + ": " + reason);
    }
}

void InstrumentApp::_Mark(const char* hook) const
{
    if (m_markerDir.empty()) {
        return;
    }
    const std::string path = m_markerDir + "/" + hook;
    const std::string line = std::to_string(GetState()) + "\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        ISTD_TRACE(1, "Cannot write the marker " << path << ": " << std::strerror(errno));
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

bool WantsConfigRegistry(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config-registry") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace instrument
