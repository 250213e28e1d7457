#include "sim_app_e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {

const char c_twoBoards[] = R"(vendor 0x6B76
manufacturer 0x00C0DE
seed 1

slot 0 KOZ
  identity format=ext rev=1 fw=2.4 support=0x29 fwrev=0x0203 fpga=0x0110 status=4

slot 2 ZOLT
  identity format=ext rev=1 fw=2.6 fwtype=ZOLT fwrev=0x0102 fpga=0x0210 status=4
  spi 0x0008 0x0002
  spi 0x000A 0x0030

slot 3 PAX
  identity format=ext rev=2 fw=2.6 fwtype=PAX fwrev=0x0105 fpga=0x0321 status=4
  spi 0x0008 0x0002
  spi 0x000A 0x0030
)";

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
    auto* notes = new Notes;
    inet::OM().Activate(notes);
    m_callback = notes->_this();
    m_node = m_app->GetRemoteNode(m_callback);
}

int SimAppTest::Stop()
{
    m_app->ReleaseRemoteNode(m_callback);
    m_node = i_NET::RemoteNode::_nil();
    m_process->Kill(SIGTERM);
    return m_process->Wait(60000);
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
    const int fifo = ::open((m_dir / device).c_str(), O_WRONLY | O_CLOEXEC);
    if (fifo < 0) {
        return false;
    }
    const char* at = static_cast<const char*>(data);
    while (bytes != 0) {
        const ssize_t written = ::write(fifo, at, bytes);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ::close(fifo);
            return false;
        }
        at += written;
        bytes -= static_cast<size_t>(written);
    }
    ::close(fifo);
    return true;
}

size_t Find(const std::vector<std::string>& log, const std::string& line)
{
    return static_cast<size_t>(std::find(log.begin(), log.end(), line) - log.begin());
}

} // namespace e2e
