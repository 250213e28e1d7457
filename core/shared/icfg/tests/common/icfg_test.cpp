#include "icfg_test.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace icfg_test {

std::string DataFile(const std::string& name)
{
    return std::string(KAVREL_TEST_DATA_DIR) + "/" + name;
}

std::string Dump(const icfg::ElementPtr& element)
{
    std::string text = element->GetName();
    const std::string value = element->GetValue();
    if (!value.empty()) {
        text += "='" + value + "'";
    }
    for (const icfg::AttributePtr& attribute : element->GetAttributes()) {
        text += " @" + attribute->GetName() + "='" + attribute->GetValue() + "'";
    }
    if (!element->GetChildren().empty()) {
        text += " (" + Dump(element->GetChildren()) + ")";
    }
    return text;
}

std::string Dump(const icfg::ElementList& elements)
{
    std::string text;
    for (const icfg::ElementPtr& element : elements) {
        text += (text.empty() ? "" : ", ") + Dump(element);
    }
    return text;
}

void CapturingConfiguration::ErrorCallback(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(message);
    m_threads.push_back(std::this_thread::get_id());
}

std::vector<std::string> CapturingConfiguration::Messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<std::thread::id> CapturingConfiguration::Threads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads;
}

std::string CapturingConfiguration::AllText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    for (const std::string& message : m_messages) {
        text += message;
    }
    return text;
}

int RunInChild(const std::function<int()>& body, bool unprivileged, pid_t* childPid)
{
    const pid_t pid = fork();
    if (childPid != nullptr) {
        *childPid = pid;
    }
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        int status = 100;
        if (unprivileged && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(101);
        }
        try {
            status = body();
        } catch (...) {
            status = 102;
        }
        _exit(status);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool XmllintAccepts(const std::string& document, const std::string& schema)
{
    const std::string command = "xmllint --noout --nonet --schema '" + schema + "' '" + document + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

} // namespace icfg_test
