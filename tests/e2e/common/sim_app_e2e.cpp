#include "sim_app_e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {

const std::string c_twoBoards = testsupport::ReadFile(E2E_TWO_BOARDS_CHASSIS);

ZoltStruct CodeAtom(int64_t i)
{
    return ZoltStruct{i, 1000000 + 7 * i};
}

std::vector<ZoltStruct> CodeAtoms(int64_t first, int64_t count)
{
    std::vector<ZoltStruct> atoms;
    for (int64_t i = first; i < first + count; ++i) {
        atoms.push_back(CodeAtom(i));
    }
    return atoms;
}

void Receiver::Receive(const CORBA::Any& values, const i_NET::SignalMeta&)
{
    std::this_thread::sleep_for(m_sleep);
    std::vector<uint64_t> got;
    const i_NET::Int64Buffer* signedValues = nullptr;
    const i_NET::UInt64Buffer* unsignedValues = nullptr;
    if (values >>= signedValues) {
        for (CORBA::ULong i = 0; i < signedValues->length(); ++i) {
            got.push_back(static_cast<uint64_t>((*signedValues)[i]));
        }
    } else if (values >>= unsignedValues) {
        for (CORBA::ULong i = 0; i < unsignedValues->length(); ++i) {
            got.push_back((*unsignedValues)[i]);
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.insert(m_values.end(), got.begin(), got.end());
}

void Receiver::Closed(CORBA::Long code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed.push_back(code);
}

std::vector<uint64_t> Receiver::Values() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values;
}

size_t Receiver::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.size();
}

std::vector<int> Receiver::Closes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

Connected MakeReceiver(std::chrono::milliseconds sleep)
{
    auto* receiver = new Receiver(sleep);
    inet::OM().Activate(receiver);
    return {receiver, receiver->_this()};
}

SimAppTest::SimAppTest(const std::string& chassis, const std::string& folderName)
    : m_chassis(chassis), m_dir(folderName)
{
}

void SimAppTest::SetUp()
{
    inettest::OrbTest::SetUp();
    m_appPort = testsupport::FreeLoopbackPort();
    testsupport::WriteFile(m_dir / "chassis.txt", m_chassis);
}

void SimAppTest::TearDown()
{
    if (!CORBA::is_nil(m_node)) {
        try {
            m_app->ReleaseRemoteNode(m_callback);
        } catch (const CORBA::Exception&) {
            // The application may be gone already.
        }
        m_node = i_NET::RemoteNode::_nil();
    }
    if (m_process && m_process->IsRunning()) {
        m_process->Kill(SIGKILL);
    }
    inettest::OrbTest::TearDown();
}

void SimAppTest::Start()
{
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> args{"/usr/bin/env",
                                  "LD_PRELOAD=" E2E_SIM_PRELOAD,
                                  "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") +
                                      ":verify_asan_link_order=0",
                                  "KAVREL_SIM_CHASSIS=" + m_dir / "chassis.txt",
                                  "KAVREL_SIM_FEED_DIR=" + m_dir.Path(),
                                  "KAVREL_SIM_BOARD_LOG=" + m_dir / "board.log",
                                  E2E_INSTRUMENT_APP,
                                  "--no-daemon",
                                  "-p",
                                  std::to_string(m_appPort),
                                  "-L",
                                  m_dir.Path() + "/",
                                  "-l",
                                  "app.log",
                                  "--config-registry",
                                  "-c",
                                  m_dir / "app.xml"};
    args.insert(args.end(), m_extra.begin(), m_extra.end());
    m_process = StartMerged(args);
    CORBA::ORB_var orb = inet::OM().GetORB();
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            if (!m_process->IsRunning()) {
                return true;
            }
            try {
                CORBA::Object_var object = orb->string_to_object(
                    ("corbaloc::127.0.0.1:" + std::to_string(m_appPort) + "/" + inet::c_defaultNetId).c_str());
                m_app = i_NET::Application::_narrow(object);
                CORBA::String_var version = m_app->GetInterfaceVersion();
                return true;
            } catch (const CORBA::Exception&) {
                return false;
            }
        },
        std::chrono::seconds(60)));
    ASSERT_TRUE(m_process->IsRunning()) << m_process->Output();
    m_notes = new Notes;
    inet::OM().Activate(m_notes);
    m_callback = m_notes->_this();
    m_node = m_app->GetRemoteNode(m_callback);
}

int SimAppTest::Stop()
{
    m_app->ReleaseRemoteNode(m_callback);
    m_node = i_NET::RemoteNode::_nil();
    m_process->Kill(SIGTERM);
    return m_process->Wait(60000);
}

std::string SimAppTest::Log() const
{
    return testsupport::ReadFile(m_dir / "app.log");
}

std::string SimAppTest::Get(const std::string& path, CORBA::TypeCode_ptr type)
{
    return Answer([&] {
        CORBA::Any_var value = m_node->GetValue(Path(path), 0, 0, type);
        return Text(value.in());
    });
}

std::string SimAppTest::Set(const std::string& path, const CORBA::Any& value, CORBA::ULong position)
{
    return Refusal([&] { m_node->SetValue(Path(path), value, position); });
}

std::string SimAppTest::Answer(const std::function<std::string()>& read)
{
    std::string text;
    const std::string refusal = Refusal([&] { text = read(); });
    return refusal == "no error" ? text : refusal;
}

std::vector<std::string> SimAppTest::Names(const std::string& path)
{
    i_NET::NodeNames_var names = m_node->GetNodes(Path(path));
    std::vector<std::string> list;
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        list.emplace_back(names[i].in());
    }
    return list;
}

void SimAppTest::Writable(const std::string& path, const std::string& relative, std::vector<std::string>& found)
{
    for (const std::string& name : Names(path)) {
        const std::string child = path + "/" + name;
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        if ((m_node->GetFlags(Path(child)) & 0x4) != 0) {
            found.push_back(rel);
        }
        Writable(child, rel, found);
    }
}

std::vector<std::string> SimAppTest::BoardLog() const
{
    return istd::TokenizeString(testsupport::ReadFile(m_dir / "board.log"), "\n");
}

bool SimAppTest::Feed(const std::string& device, const void* data, size_t bytes) const
{
    // Opened without blocking, so that a FIFO nobody reads (the application has ended) is an
    // error at once; then written blocking, while the board's device is full.
    const int fifo = ::open((m_dir / device).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fifo < 0 || ::fcntl(fifo, F_SETFL, 0) != 0) {
        if (fifo >= 0) {
            ::close(fifo);
        }
        return false;
    }
    // A reader that goes away meanwhile is EPIPE for this thread, not SIGPIPE for the process.
    sigset_t pipe;
    sigset_t before;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &before);
    const char* at = static_cast<const char*>(data);
    bool whole = true;
    while (bytes != 0) {
        const ssize_t written = ::write(fifo, at, bytes);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            whole = false;
            break;
        }
        at += written;
        bytes -= static_cast<size_t>(written);
    }
    ::close(fifo);
    if (!whole) {
        const timespec now{0, 0};
        while (::sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return whole;
}

size_t Find(const std::vector<std::string>& log, const std::string& line)
{
    return static_cast<size_t>(std::find(log.begin(), log.end(), line) - log.begin());
}

} // namespace e2e
