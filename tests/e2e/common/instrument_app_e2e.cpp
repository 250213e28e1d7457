#include "instrument_app_e2e.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "inet/orb_manager.h"
#include "istd/convert.h"
#include "tests/support/files.h"
#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

namespace e2e {

namespace {

const std::string c_app = E2E_INSTRUMENT_APP;
const std::string c_demoPlugin = E2E_DEMO_PLUGIN;
const std::string c_testPlugins = E2E_TEST_PLUGINS_DIR;

} // namespace

std::vector<std::string> Lines(const std::string& path)
{
    return istd::TokenizeString(testsupport::ReadFile(path), "\n");
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t CountLines(const std::string& text, const std::string& part)
{
    const std::vector<std::string> lines = istd::TokenizeString(text, "\n");
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return Has(line, part); }));
}

void InstrumentAppTest::SetUp()
{
    inettest::OrbTest::SetUp();
    m_appPort = testsupport::FreeLoopbackPort();
    // A configuration file that any schema check takes.
    testsupport::WriteFile(m_dir / "any.xsd",
                           "<?xml version=\"1.0\"?>\n"
                           "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                           "<xs:element name=\"configuration\"/></xs:schema>\n");
    testsupport::WriteFile(m_dir / "app.xml",
                           "<?xml version=\"1.0\"?>\n"
                           "<configuration xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                           "xsi:noNamespaceSchemaLocation=\"any.xsd\"/>\n");
}

std::unique_ptr<inettest::ChildProcess> InstrumentAppTest::Start(const std::vector<std::string>& extra,
                                                                  const std::vector<std::string>& environment)
{
    std::vector<std::string> args{c_app,         "--no-daemon", "-p",        std::to_string(m_appPort),
                                  "-L",          m_dir.Path() + "/", "-l",   "app.log",
                                  "-d",          "trace.log",   "2",         "--marker-dir",
                                  m_dir.Path()};
    if (std::find(extra.begin(), extra.end(), "-c") == extra.end()) {
        args.insert(args.end(), {"-c", m_dir / "app.xml"});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    if (!environment.empty()) {
        // env execs the application, which so keeps the process id.
        args.insert(args.begin(), environment.begin(), environment.end());
        args.insert(args.begin(), "/usr/bin/env");
    }
    return StartMerged(args);
}

i_NET::Application_ptr InstrumentAppTest::App()
{
    CORBA::ORB_var orb = inet::OM().GetORB();
    CORBA::Object_var object = orb->string_to_object(
        ("corbaloc::127.0.0.1:" + std::to_string(m_appPort) + "/" + inet::c_defaultNetId).c_str());
    return i_NET::Application::_narrow(object);
}

bool InstrumentAppTest::WaitServing(inettest::ChildProcess* process)
{
    return testsupport::WaitUntil(
               [&] {
                   if (process != nullptr && !process->IsRunning()) {
                       return true;
                   }
                   try {
                       i_NET::Application_var app = App();
                       CORBA::String_var version = app->GetInterfaceVersion();
                       return true;
                   } catch (const CORBA::Exception&) {
                       return false;
                   }
               },
               std::chrono::seconds(120)) &&
           (process == nullptr || process->IsRunning());
}

std::string InstrumentAppTest::PluginFolder(const std::vector<std::string>& names)
{
    const std::string folder = m_dir / "plugins";
    std::filesystem::create_directories(folder);
    for (const std::string& name : names) {
        const std::string from = name == "demo" ? c_demoPlugin : c_testPlugins + "/" + name + ".so";
        std::filesystem::copy_file(from, folder + "/" + name + ".so");
    }
    return folder;
}

std::string InstrumentAppTest::Log() const
{
    return testsupport::ReadFile(m_dir / "app.log");
}

std::string InstrumentAppTest::Trace() const
{
    return testsupport::ReadFile(m_dir / "trace.log");
}

} // namespace e2e
