// The application's command line and environment on arbitrary words, with the daemon faked. The
// input is words separated by NUL bytes: the values of KAVREL_APP_PORT and
// KAVREL_APP_MAX_PACKET_SIZE (an empty word leaves the variable unset), then the arguments after
// the program name. A word's leading "/" and every ".." become "_" and "__", so that the trace
// and log files the command line names stay in the run's own folder. Processing must never throw or crash; a refusal
// answers false and says why on standard output (usage) or standard error (a failure); an accepted command line has a
// usable port.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "iapp/kavrel_application.h"
#include "istd/daemon.h"
#include "istd/log.h"
#include "istd/trace.h"

namespace {

class FuzzApp : public iapp::KavrelApplication {
public:
    FuzzApp() : KavrelApplication("fuzz-app", false, false) {}
    const std::string& AppName() const override { return m_name; }
    iapp::KavrelBoard* InstantiateBoard(const bmc::Board*) override { return nullptr; }
    void OnInitLogFileDir(std::string& dir) const override { dir = fuzzsupport::ScratchDir(); }

private:
    const std::string m_name = "fuzz-app";
};

// A path in the word stays below the current folder.
std::string Contained(std::string word)
{
    if (!word.empty() && word[0] == '/') {
        word[0] = '_';
    }
    for (size_t at = word.find(".."); at != std::string::npos; at = word.find("..", at)) {
        word.replace(at, 2, "__");
    }
    return word;
}

std::vector<std::string> Words(const uint8_t* data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() <= 66; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            words.emplace_back();
        } else {
            words.back().push_back(c);
        }
    }
    for (std::string& word : words) {
        word = Contained(word);
    }
    return words;
}

void SetVariable(const char* name, const std::string& value)
{
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    istd::Daemon::Instance().SetStartHook([](const std::string&) { return 0; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words = Words(data, size);
    words.resize(std::max<size_t>(words.size(), 2));
    SetVariable("KAVREL_APP_PORT", words[0]);
    SetVariable("KAVREL_APP_MAX_PACKET_SIZE", words[1]);
    std::vector<std::string> args{"fuzz-app"};
    args.insert(args.end(), words.begin() + 2, words.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    bool result = false;
    std::ostringstream printed;
    // Relative paths of the command line land in the run's folder.
    testsupport::CurrentDir here(fuzzsupport::ScratchDir());
    {
        FuzzApp app;
        std::streambuf* previous = std::cout.rdbuf(printed.rdbuf());
        std::streambuf* previousError = std::cerr.rdbuf(printed.rdbuf());
        const auto restore = [&] {
            std::cout.rdbuf(previous);
            std::cerr.rdbuf(previousError);
        };
        try {
            result = app.Init(static_cast<int>(args.size()), argv.data());
        } catch (...) {
            restore();
            fuzzsupport::Finding("exception", "Init let an exception out");
        }
        restore();
        if (result && (app.Port() < 1 || app.Port() > 65535)) {
            fuzzsupport::Finding("port", std::to_string(app.Port()));
        }
        if (!result && printed.str().empty()) {
            fuzzsupport::Finding("silent refusal", "false without a word on standard output or error");
        }
    }
    istd::Log::Stop();
    istd::TraceFile::GetInstance().Stop();
    return 0;
}
