#ifndef ICFG_TESTS_ICFG_TEST_H
#define ICFG_TESTS_ICFG_TEST_H

// Helpers of the icfg tests: a recording serialisable object, a document that records its error
// messages, and child processes. Temporary folders, files, the types schema and exception texts
// come from tests/support.

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "icfg/configuration.h"
#include "icfg/element.h"
#include "icfg/serializable.h"
#include "tests/support/files.h"

namespace icfg_test {

// A fixture of tests/data.
std::string DataFile(const std::string& name);

// A tree as one line of text: name, trimmed value, attributes and children, recursively.
std::string Dump(const icfg::ElementPtr& element);
std::string Dump(const icfg::ElementList& elements);

// Records what Configuration::Read hands over and gives Configuration::Write a prepared list.
class Recorder : public icfg::ISerializable {
public:
    explicit Recorder(const std::string& className = std::string(), bool answer = true)
        : m_className(className), m_answer(answer)
    {
    }
    bool Deserialize(const icfg::ElementList& elements) override
    {
        received.push_back(elements);
        return m_answer;
    }
    bool Serialize(icfg::ElementList& elements) override
    {
        elements.insert(elements.end(), toWrite.begin(), toWrite.end());
        return serializeResult;
    }
    std::string GetClassName() override { return m_className; }

    icfg::ElementList toWrite;
    bool serializeResult = true;
    std::vector<icfg::ElementList> received;

private:
    std::string m_className;
    bool m_answer;
};

// A document that keeps every message of its error channel, with the thread it came on.
class CapturingConfiguration : public icfg::Configuration {
public:
    explicit CapturingConfiguration(const std::string& typesSchemaPath = testsupport::TypesXsd(),
                                    const std::string& version = "1.0")
        : icfg::Configuration(version, typesSchemaPath)
    {
    }
    void ErrorCallback(const std::string& message) override;
    std::vector<std::string> Messages() const;
    std::vector<std::thread::id> Threads() const;
    std::string AllText() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    std::vector<std::thread::id> m_threads;
};

// Runs body in a child process (as the unprivileged user "nobody" when asked and when this
// process is root, so that file permissions apply); the child's exit status, or -1 when it
// died by a signal. The child's id goes to *pid when asked.
int RunInChild(const std::function<int()>& body, bool unprivileged, pid_t* pid = nullptr);

// True when xmllint, run as its own process, finds the document valid against the schema.
bool XmllintAccepts(const std::string& document, const std::string& schema);

} // namespace icfg_test

#endif
