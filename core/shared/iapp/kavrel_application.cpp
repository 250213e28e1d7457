#include "iapp/kavrel_application.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <omniORB4/CORBA.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <mutex>
#include <system_error>

#include "bmc/board_pool.h"
#include "iapp/i_kavrel_application_impl.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_feature.h"
#include "iapp/kavrel_lvds_receiver.h"
#include "iapp/kavrel_lvds_transmitter.h"
#include "iapp/kavrel_plugins.h"
#include "iapp/kavrel_signal_repository.h"
#include "inet/orb_manager.h"
#include "ireg/i_remote_node_impl.h"
#include "ireg/reg_config_node.h"
#include "ireg/reg_enum_node.h"
#include "ireg/reg_fnc_node.h"
#include "ireg/reg_node.h"
#include "ireg/reg_value_node.h"
#include "istd/daemon.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/signal_handler.h"
#include "istd/trace.h"
#include "istd/ver_info.h"
#include "mci/dispatcher.h"
#include "mci/factory.h"

namespace inet {

// The network layer declares it; the application library answers it from the ORB it set up.
unsigned int GetMaxPacketSize()
{
    return static_cast<unsigned int>(omniORB::giopMaxMsgSize());
}

} // namespace inet

namespace iapp {

namespace {

const std::string c_logFileDir = "/var/opt/kavrel/log/";
const std::string c_confDir = "/var/opt/kavrel/cfg/";
const std::string c_pluginDir = "/opt/kavrel/plugins/";

// The application instance and the static holder of its shared handle. The handle is what
// lets components take shared references to the application; Destroy lets it go.
std::atomic<KavrelApplication*> s_instance{nullptr};
std::mutex s_holderMutex;
KavrelObjectPtr s_holder;

// A registry node of kind T, made through the factory; a node that cannot be made throws.
template <class T, class... A>
mci::TreeNodePtr MakeNode(const std::string& name, A&&... args)
{
    mci::TreeNodePtr node = mci::factory::Create<T>(name, std::forward<A>(args)...);
    if (!node) {
        throw istd::Exception("Cannot create registry node " + name, true);
    }
    return node;
}

// Whether the file can be opened for reading; never blocks (a FIFO neither). reason says why not.
bool IsReadable(const std::string& path, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

void applicationDeleter(KavrelObject*) {}

void omniORBLogCallback(const char* text)
{
    std::string line = text == nullptr ? std::string() : std::string(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    ISTD_TRACE(1, line);
}

// ---- construction -----------------------------------------------------------------------

KavrelApplication::KavrelApplication(const std::string& name, bool configRegistry, bool configRequired,
                                     const std::string& typesSchemaPath)
    : KavrelObject(*this, name),
      m_sigHandler(this),
      m_logFileDir(c_logFileDir),
      m_confDir(c_confDir),
      m_config(typesSchemaPath),
      m_pluginDir(c_pluginDir),
      m_configRegistry(configRegistry),
      m_configRequired(configRequired)
{
    ISTD_TRACE_FNC("iapp::KavrelApplication::KavrelApplication(const std::string&, bool, bool, const std::string&)");
    icfg::Configuration::Initialize();
    if (s_instance.load() != nullptr) {
        istd::LogError("Created more than one application instance.");
    }
    s_instance.store(this);
    {
        std::lock_guard<std::mutex> lock(s_holderMutex);
        s_holder = MakeRootHandle(applicationDeleter);
    }
    ApplicationStateProvider::SetCurrent(this);
    m_plugins = Create<KavrelPlugins>(*this, "plugins");
    m_signals = Create<KavrelSignalRepository>(*this, "signals");
}

KavrelApplication::~KavrelApplication()
{
    ISTD_TRACE_FNC("iapp::KavrelApplication::~KavrelApplication()");
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelApplication");
    m_sigHandler.Abandon();
    if (istd::SignalHandlerThread* thread = m_sigThread.exchange(nullptr)) {
        thread->Stop();
    }
    if (m_registryRoot) {
        // Destroy never ran (a failed start-up): the remote-node servants let go of the tree,
        // which goes with the application.
        ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    }
    {
        std::lock_guard<std::mutex> lock(s_holderMutex);
        if (s_holder.get() == this) {
            s_holder.reset();
        }
    }
    KavrelApplication* self = this;
    s_instance.compare_exchange_strong(self, nullptr);
    ApplicationStateProvider::ResetCurrent(this);
    icfg::Configuration::Cleanup();
}

KavrelApplication* KavrelApplication::Instance()
{
    return s_instance.load();
}

void KavrelApplication::_SetState(int state)
{
    ISTD_TRACE(2, "Application state: " << state);
    m_state.store(state);
}

// ---- life cycle -------------------------------------------------------------------------

bool KavrelApplication::Run(int argc, char** argv)
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::Run(int, char**)");
    m_failure.clear();
    const bool stopped = _Run(argc, argv);
    if (!stopped && !m_failure.empty()) {
        _PrintFailure(istd::Log::m_enabled.load() ? m_failure + " (log: " + istd::Log::GetInstance().GetPath() + ")"
                                                  : m_failure);
    }
    // A daemon's pid file names a process that is about to go.
    istd::Daemon::Instance().RemovePidFile();
    return stopped;
}

bool KavrelApplication::_Run(int argc, char** argv)
{
    try {
        if (!Init(argc, argv)) {
            return false;
        }
        if (!Setup()) {
            _Fail();
            return false;
        }
        omniORB::setLogFunction(omniORBLogCallback);
        int orbArgc = argc;
        inet::OrbManager::Init(orbArgc, argv, Port(), MaxPacketSize());
        m_orbInitialised = true;
        auto* servant = new i_KavrelApplication_impl;
        try {
            inet::OM()->ActivatePersistent(servant, NetID());
        } catch (...) {
            servant->_remove_ref(); // not handed over: still ours
            throw;
        }
        AcceptRequests();
        ISTD_TRACE(2, "Startup successful. ORB running...");
        // From here a signal may stop the application.
        m_serving.store(true);
        try {
            inet::OM()->ORBRun();
        } catch (const istd::Exception& e) {
            // The signal came before the loop was entered: the ORB, shut down already, refuses
            // to run, and the application is stopped as after a signal in the loop.
            if (!m_stopRequested.load()) {
                throw;
            }
            ISTD_TRACE(2, e.what());
        }
        ISTD_TRACE(2, "ORB returned.");
        m_orbInitialised = false;
        inet::OM()->ORBDestroy();
        return true;
    } catch (const std::system_error& e) {
        std::cout << "Error: " << e.code().message() << std::endl;
        if (m_failure.empty()) {
            m_failure = "Error: " + e.code().message();
        }
    } catch (const std::exception& e) {
        _Failed(std::string("Error: ") + e.what());
    } catch (const CORBA::SystemException& e) {
        _Failed("CORBA System Exception: " + inet::ExceptionText(e));
    } catch (const CORBA::Exception& e) {
        _Failed("CORBA Exception: " + inet::ExceptionText(e));
    } catch (const omniORB::fatalException& e) {
        _Failed(std::string("OmniORB fatal Exception: ") + e.file() + ":" + std::to_string(e.line()) + ": " +
                e.errmsg());
    } catch (...) {
        _Failed("Unknown exception");
    }
    _Fail();
    return false;
}

void KavrelApplication::_Failed(const std::string& reason)
{
    istd::LogCritical(reason);
    if (m_failure.empty()) {
        m_failure = reason;
    }
}

void KavrelApplication::_PrintFailure(const std::string& text) const
{
    std::cout.flush();
    std::cerr << AppName() << ": " << text << std::endl;
}

void KavrelApplication::_Fail()
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::_Fail()");
    m_serving.store(false);
    Shutdown();
    if (m_orbInitialised) {
        // An ORB left behind would keep the port and its threads after Run returned.
        m_orbInitialised = false;
        try {
            inet::OM()->ORBDestroy();
        } catch (const std::exception& e) {
            ISTD_TRACE(1, "Error: " << e.what());
        }
    }
}

bool KavrelApplication::Init(int argc, char** argv)
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::Init(int, char**)");
    _SetState(1);
    // Threads started during start-up (the board pool's USB event thread among them) inherit
    // the mask: a stop signal must reach only the signal thread that Setup starts, never take
    // its default action on another thread. One that comes earlier waits for that thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&stopSignals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    m_logFileName = AppName() + ".log";
    OnInitLogFileDir(m_logFileDir);
    OnInitLogFileName(m_logFileName);
    m_confFile = m_confDir + AppName() + ".xml";
    // What the start says before its log is open (a refused port, an unknown option) reaches
    // the terminal at once and the log once it opens.
    istd::Log::HoldEarlyMessages(AppName() + ": ");
    const bool result = ProcessProgramOptions(argc, argv);
    istd::Log::EndHolding();
    return result;
}

bool KavrelApplication::Setup()
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::Setup()");
    try {
        return _Setup();
    } catch (const istd::Exception& e) {
        _Failed("Error in initialization: " + e.Text());
    } catch (const std::exception& e) {
        _Failed(std::string("Error in initialization: ") + e.what());
        istd::TraceDumpStack();
    } catch (...) {
        _Failed("Unknown exception during initialization");
        istd::TraceDumpStack();
    }
    return false;
}

bool KavrelApplication::_Setup()
{
    if (!InitConfiguration()) {
        // Also logged: without a trace, the log is where an operator learns why the start failed;
        // with the reason in plain words (the lines before it give the XML library's).
        _Failed("Error: Cannot read and parse configuration file: " + ConfFile() +
                (m_configFailure.empty() ? "" : ": " + m_configFailure));
        return false;
    }
    _MakeRegistryRoot();
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node(m_registryRoot, mci::c_noRelPath));
    m_sigThread.store(istd::SignalHandlerThread::InstallHandler(m_sigHandler, nullptr));
    CreateBoards();
    m_plugins->Load();
    PreInit();
    _SetState(2);
    DefineRegistry();
    PostInit();
    PreConfig();
    _SetState(3);
    if (m_configRegistry) {
        try {
            auto& root = static_cast<ireg::RegConfigNode&>(*m_registryRoot);
            const bool loaded = root.LoadConfiguration();
            const ireg::RegConfigNode::LoadSummary summary = root.GetLoadSummary();
            if (loaded && summary.defaulted == 0 && summary.refused == 0) {
                istd::LogInfo("Configuration loaded successfully.");
            } else {
                // Not "successfully" after "Will use default values" or refused values: how many.
                istd::LogWarning("Configuration loaded with defaults: " + std::to_string(summary.defaulted) + " of " +
                                 std::to_string(summary.values) + " values defaulted, " +
                                 std::to_string(summary.refused) + " refused.");
            }
        } catch (const istd::Exception& e) {
            _Failed("Error: " + e.Text());
            return false;
        }
    }
    PostConfig();
    if (!TrainLVDS()) {
        _Failed("LVDS training failed.");
        return false;
    }
    _SetState(4);
    StartRunning();
    return true;
}

void KavrelApplication::_MakeRegistryRoot()
{
    if (m_configRegistry) {
        mci::TreeNodePtr root = MakeNode<ireg::RegConfigNode>("root", ConfFile(), &m_config);
        static_cast<ireg::RegConfigNode&>(*root).CreateXsdFileOnSave(CreateXsd());
        m_registryRoot = root;
    } else {
        m_registryRoot = MakeNode<ireg::RegNode>("root");
    }
}

bool KavrelApplication::InitConfiguration()
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::InitConfiguration()");
    m_configFailure.clear();
    try {
        if (ConfFile().empty() || m_configRegistry) {
            return true;
        }
        std::string unreadable;
        if (!IsReadable(ConfFile(), unreadable)) {
            if (!m_configRequired) {
                istd::LogWarning("No configuration file available.");
                return true;
            }
            // The plain reason ("No such file or directory") for Setup's report; the document
            // still tries, and logs the XML library's words.
            m_configFailure = unreadable;
        }
        m_config.OpenDocument(ConfFile(), true);
        istd::LogInfo("Configuration loaded successfully.");
        return true;
    } catch (const std::exception& e) {
        // The reason; Setup reports the failure itself.
        istd::LogError(e.what());
        if (m_configFailure.empty()) {
            m_configFailure = e.what();
        }
    } catch (...) {
    }
    return false;
}

void KavrelApplication::Shutdown()
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::Shutdown()");
    _SetState(5);
    KavrelObject::Shutdown();
}

void KavrelApplication::Destroy()
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::Destroy()");
    _SetState(6);
    mci::Dispatcher::GetInstance().Stop();
    // Held requests that still reach a remote node find no tree any more.
    ireg::i_RemoteNode_impl::SetRootNode(mci::Node());
    mci::DestroyNode(m_registryRoot);
    std::lock_guard<std::mutex> lock(s_holderMutex);
    if (s_holder.get() == this) {
        s_holder.reset();
    }
}

std::string KavrelApplication::LogFile() const
{
    if (m_logFileName.empty()) {
        return std::string();
    }
    const bool slash = !m_logFileDir.empty() && m_logFileDir.back() != '/';
    return m_logFileDir + (slash ? "/" : "") + m_logFileName;
}

bool KavrelApplication::OnQueryChild(const KavrelObject& child)
{
    if (dynamic_cast<const KavrelBoard*>(&child) != nullptr || dynamic_cast<const KavrelFeature*>(&child) != nullptr) {
        return true;
    }
    return KavrelObject::OnQueryChild(child);
}

// ---- registry ---------------------------------------------------------------------------

void KavrelApplication::DefineRegistry()
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::DefineRegistry()");
    using istd::TraceFile;
    const mci::Flags readOnly = mci::enums::eReadable;
    const mci::Flags hidden = mci::enums::eHidden;

    AddRegNode(MakeNode<ireg::RegValueNode<std::string>>("app-name", AppName(), readOnly));
    AddRegNode(MakeNode<ireg::RegValueNode<std::string>>("version", istd::VerInfo::GetInstance().VersionString(),
                                                         readOnly));

    TraceFile& trace = TraceFile::GetInstance();
    mci::TreeNodePtr tracing = MakeNode<ireg::RegNode>("tracing", hidden);
    tracing->Add(MakeNode<ireg::RegFncEnumNode<istd::TraceLevel_e>>("level", &trace, &TraceFile::SetLevel,
                                                                    &TraceFile::GetLevel));
    mci::TreeNodePtr print = MakeNode<ireg::RegNode>("print");
    print->Add(MakeNode<ireg::RegFncNode<bool>>("file", &trace, &TraceFile::SetPrintFile, &TraceFile::GetPrintFile));
    print->Add(MakeNode<ireg::RegFncNode<bool>>("line", &trace, &TraceFile::SetPrintLine, &TraceFile::GetPrintLine));
    print->Add(MakeNode<ireg::RegFncNode<bool>>("header", &trace, &istd::LogFile::SetPrintLineHeader,
                                                &istd::LogFile::GetPrintLineHeader));
    print->Add(MakeNode<ireg::RegFncNode<bool>>("trailer", &trace, &istd::LogFile::SetPrintLineTrailer,
                                                &istd::LogFile::GetPrintLineTrailer));
    tracing->Add(print);
    tracing->Add(
        MakeNode<ireg::RegFncNode<bool>>("dump_stack", &trace, &TraceFile::SetDumpStack, &TraceFile::GetDumpStack));
    tracing->Add(MakeNode<ireg::RegFncNode<std::string>>("message", this, &KavrelApplication::TraceMessage, 0));
    AddRegNode(tracing);

    mci::TreeNodePtr boards = MakeNode<ireg::RegNode>("boards");
    for (KavrelBoard* board : m_boards) {
        board->AddRegistry(boards, nullptr);
    }
    AddRegNode(boards);

    AddRegistry(m_registryRoot, "application");

    mci::TreeNodePtr system = MakeNode<ireg::RegNode>("system", hidden);
    mci::TreeNodePtr net = MakeNode<ireg::RegNode>("net");
    net->Add(MakeNode<ireg::RegFncNode<uint32_t>>("max_packet_size", this, 0, &KavrelApplication::_GetMaxPacketSize));
    system->Add(net);
    AddRegNode(system);
}

void KavrelApplication::AddRegNode(mci::TreeNodePtr node)
{
    m_registryRoot->Merge(node);
}

mci::Node KavrelApplication::GetRegistry() const
{
    return mci::Node(m_registryRoot, mci::c_noRelPath);
}

bool KavrelApplication::TraceMessage(const std::string& text)
{
    ISTD_TRACE(1, text);
    return true;
}

bool KavrelApplication::_GetMaxPacketSize(uint32_t& value) const
{
    value = inet::GetMaxPacketSize();
    return true;
}

// ---- boards -----------------------------------------------------------------------------

void KavrelApplication::CreateBoards()
{
    ISTD_TRACE_FNC("void iapp::KavrelApplication::CreateBoards()");
    // One board that cannot be reached or made costs that board only: start-up goes on.
    for (const bmc::Uri& uri : m_boardsDomain) {
        const std::string name = uri.GetSubSystemStr() + "_" + uri.GetId();
        try {
            const bmc::Board* board = bmc::BoardPool::Instance().GetBoard(uri);
            if (board == nullptr) {
                istd::LogError("Problem accessing board: " + name);
                continue;
            }
            if (KavrelBoard* component = InstantiateBoard(board)) {
                m_boards.push_back(component);
            }
        } catch (const std::exception& e) {
            istd::LogError("Problem accessing board " + name + ". Exception: " + e.what());
        } catch (...) {
            istd::LogError("Problem accessing board " + name + ". Unknown exception.");
        }
    }
}

bool KavrelApplication::AddBoard(KavrelBoard* board)
{
    if (board == nullptr) {
        return false;
    }
    m_boards.push_back(board);
    return true;
}

void KavrelApplication::GetBoards(std::vector<KavrelBoard*>& list) const
{
    list.insert(list.end(), m_boards.begin(), m_boards.end());
}

void KavrelApplication::GetBoards(std::vector<KavrelBoard*>& list, bmc::BoardType_e type) const
{
    for (KavrelBoard* board : m_boards) {
        if (board->GetType() == type) {
            list.push_back(board);
        }
    }
}

KavrelBoard* KavrelApplication::GetBoard(bmc::BoardType_e type) const
{
    for (KavrelBoard* board : m_boards) {
        if (board->GetType() == type) {
            return board;
        }
    }
    return nullptr;
}

bool KavrelApplication::TrainLVDS()
{
    ISTD_TRACE_FNC("bool iapp::KavrelApplication::TrainLVDS()");
    std::vector<KavrelObjectPtr> transmitters;
    std::vector<KavrelObjectPtr> receivers;
    if (!GetObjects(typeid(KavrelLvdsTransmitter), transmitters) || !GetObjects(typeid(KavrelLvdsReceiver), receivers)) {
        ISTD_TRACE(1, "ERROR: TrainLVDS() getting receivers and transmitters failed!");
        return false;
    }
    ISTD_TRACE(4, "TrainLVDS() receivers=" << receivers.size() << " transmitters=" << transmitters.size());
    if (receivers.empty() || transmitters.empty()) {
        return true;
    }
    if (receivers.size() > 1) {
        istd::LogError("ERROR: TrainLVDS() only one receiver  supported, found: " + std::to_string(receivers.size()));
        return false;
    }
    auto& receiver = static_cast<KavrelLvdsReceiver&>(*receivers.front());
    bool result = true;
    // Pass 1: each transmitter sends the training words while the receiver finds the window of
    // its slot's input delay. A failed slot does not stop the others.
    for (const KavrelObjectPtr& object : transmitters) {
        auto& transmitter = static_cast<KavrelLvdsTransmitter&>(*object);
        const int32_t slot = transmitter.GetSlot();
        transmitter.SetTrainWords(c_lvdsTrainWord1, c_lvdsTrainWord2);
        transmitter.SetMode(KavrelLvdsTransmitter::eTraining);
        if (receiver.GetWindow(static_cast<size_t>(slot))) {
            ISTD_TRACE(4, "LVDS GetWindow() for slot: " << slot << " succeeded.");
        } else {
            istd::LogError("ERROR: LVDS GetWindow() for board on slot: " + std::to_string(slot) + " failed.");
            result = false;
        }
    }
    // Pass 2, whatever pass 1 gave: the word boundary of every lane, then the port enabled; every
    // transmitter goes back to normal operation.
    for (const KavrelObjectPtr& object : transmitters) {
        auto& transmitter = static_cast<KavrelLvdsTransmitter&>(*object);
        const int32_t slot = transmitter.GetSlot();
        transmitter.SetTrainWords(c_lvdsBitslipPattern, c_lvdsBitslipPattern);
        if (receiver.SetBitslip(static_cast<size_t>(slot), c_lvdsBitslipPattern)) {
            receiver.Enable(static_cast<size_t>(slot));
            ISTD_TRACE(4, "LVDS SetBitslip() for slot: " << slot << " succeeded.");
        } else {
            istd::LogError("ERROR: LVDS SetBitslip for board on on slot: " + std::to_string(slot) + " failed.");
            result = false;
        }
        transmitter.SetMode(KavrelLvdsTransmitter::eNormal);
    }
    return result;
}

// ---- defaults ---------------------------------------------------------------------------

std::string KavrelApplication::PidFile() const
{
    return "/var/run/" + AppName() + ".pid";
}

const std::string& KavrelApplication::NetID() const
{
    return inet::c_defaultNetId;
}

uint32_t KavrelApplication::DefaultPort() const
{
    return c_defaultPort;
}

uint32_t KavrelApplication::DefaultMaxPacketSize() const
{
    return c_defaultMaxPacketSize;
}

const std::string& KavrelApplication::ConfDir() const
{
    return m_confDir;
}

const std::string& KavrelApplication::ConfFile() const
{
    return m_confFile;
}

icfg::Configuration::CreateXsd_e KavrelApplication::CreateXsd() const
{
    return icfg::Configuration::e_xsdAlways;
}

void KavrelApplication::OnSyncAnnounced(ifeature::LocalTimingSync&) {}
void KavrelApplication::OnSynchronized(ifeature::LocalTimingSync&) {}
void KavrelApplication::OnInitLogFileName(std::string&) const {}
void KavrelApplication::OnInitLogFileDir(std::string&) const {}
void KavrelApplication::OnProgramOptionsAdd(boost::program_options::options_description&,
                                            boost::program_options::options_description&)
{
}

bool KavrelApplication::OnProgramOptionsProcess(const boost::program_options::variables_map&)
{
    return true;
}

} // namespace iapp
