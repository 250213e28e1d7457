#include "sim/boards/environment.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "sim/cmc/simulator.h"

namespace sim::boards {

// Feeds whole atoms from a named FIFO to a stream device. The FIFO is held open for reading and
// writing, so that it never reads the end while writers come and go.
class Environment::Feeder {
public:
    Feeder(const std::string& path, StreamDevice& device) : m_path(path), m_device(device)
    {
        if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot make the FIFO " + path + ": " + std::strerror(errno));
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
            throw std::runtime_error(path + " exists and is no FIFO");
        }
        m_fifo = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_fifo < 0 || m_wake < 0) {
            const std::string reason = std::strerror(errno);
            _Close();
            throw std::runtime_error("cannot open the FIFO " + path + ": " + reason);
        }
        Resume();
    }
    ~Feeder()
    {
        Pause();
        _Close();
    }

    void Pause()
    {
        if (!m_thread.joinable()) {
            return;
        }
        const uint64_t one = 1;
        if (::write(m_wake, &one, sizeof(one)) < 0) {
            std::fprintf(stderr, "sim: cannot stop the feeder of %s: %s\n", m_path.c_str(), std::strerror(errno));
        }
        m_thread.join();
        uint64_t count = 0;
        while (::read(m_wake, &count, sizeof(count)) > 0) {
        }
    }
    void Resume()
    {
        if (!m_thread.joinable()) {
            m_thread = TimingBoard::QuietThread([this] { _Loop(); });
        }
    }

private:
    void _Loop()
    {
        const size_t atom = m_device.GetAtomSize();
        char chunk[65536];
        for (;;) {
            pollfd fds[2] = {{m_fifo, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                std::fprintf(stderr, "sim: feeder of %s: %s\n", m_path.c_str(), std::strerror(errno));
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return;
            }
            const ssize_t got = ::read(m_fifo, chunk, sizeof(chunk));
            if (got <= 0) {
                continue;
            }
            m_pending.append(chunk, static_cast<size_t>(got));
            const size_t whole = m_pending.size() - m_pending.size() % atom;
            if (whole != 0) {
                m_device.Write(m_pending.data(), whole);
                m_pending.erase(0, whole);
            }
        }
    }

    void _Close()
    {
        if (m_fifo >= 0) {
            ::close(m_fifo);
        }
        if (m_wake >= 0) {
            ::close(m_wake);
        }
        m_fifo = m_wake = -1;
    }

    const std::string m_path;
    StreamDevice& m_device;
    int m_fifo = -1;
    int m_wake = -1;
    std::string m_pending; // bytes of an atom not yet whole; the feeder thread's
    std::thread m_thread;
};

namespace {

constexpr int c_typeZolt = 235;

bool IsTimingBoard(const cmc::BoardModel& board)
{
    // PAX and ZOLT: the event-receiver board carries the timing board's blocks too.
    return board.type == 62 || board.type == c_typeZolt;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ResumeAfterFork()
{
    if (Environment* current = Environment::Get()) {
        current->Resume();
    }
}

} // namespace

// The one set-up of the process, made when the library loads.
struct EnvironmentHolder {
    EnvironmentHolder()
    {
        const char* path = std::getenv("KAVREL_SIM_CHASSIS");
        if (path == nullptr || *path == '\0') {
            return;
        }
        try {
            environment.reset(new Environment());
            environment->_Build(std::getenv("KAVREL_SIM_FEED_DIR"), std::getenv("KAVREL_SIM_BOARD_LOG"));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "sim: KAVREL_SIM_CHASSIS=%s: %s\n", path, e.what());
            environment.reset();
            return;
        }
        // Registered for good: after the set-up is gone at exit the handlers find nothing to do.
        ::pthread_atfork(
            [] {
                if (Environment* current = Environment::Get()) {
                    current->Pause();
                }
            },
            &ResumeAfterFork, &ResumeAfterFork);
    }
    std::unique_ptr<Environment> environment;
};

namespace {
EnvironmentHolder g_holder;
}

Environment* Environment::Get()
{
    return g_holder.environment.get();
}

void Environment::_Build(const char* feedDir, const char* boardLog)
{
    const std::string chassisPath = std::getenv("KAVREL_SIM_CHASSIS");
    // The controller reads the variable itself when first used; a file it could not load leaves
    // it empty, and its libusb_init says why.
    if (::access(chassisPath.c_str(), R_OK) != 0) {
        throw std::runtime_error(std::string("cannot read the chassis file: ") + std::strerror(errno));
    }
    const cmc::Simulator& simulator = cmc::Simulator::Instance();
    m_chassis = Chassis::OfSimulator();

    if (boardLog != nullptr && *boardLog != '\0') {
        m_logFd = ::open(boardLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (m_logFd < 0) {
            std::fprintf(stderr, "sim: KAVREL_SIM_BOARD_LOG=%s: %s\n", boardLog, std::strerror(errno));
        }
    }
    for (int slot : m_chassis->Slots()) {
        if (!IsTimingBoard(simulator.Board(slot))) {
            continue;
        }
        m_timingBoards.push_back(std::make_unique<TimingBoard>(m_chassis->Get(slot)));
        if (simulator.Board(slot).type == c_typeZolt) {
            m_eventReceivers.push_back(std::make_unique<EventReceiverBoard>(m_chassis->Get(slot), *m_timingBoards.back()));
        }
        if (m_logFd >= 0) {
            const int fd = m_logFd;
            const std::string prefix = "slot " + std::to_string(slot) + " ";
            const auto sink = [fd, prefix](const std::string& line) {
                const std::string text = prefix + line + "\n";
                if (::write(fd, text.data(), text.size()) < 0) {
                    // The log is for tests to read; a full disk must not stop the board.
                }
            };
            m_timingBoards.back()->SetLineSink(sink);
            if (EventReceiverBoard* receiver = FindEventReceiverBoard(slot)) {
                receiver->SetLineSink(sink);
            }
        }
    }
    if (feedDir == nullptr || *feedDir == '\0') {
        return;
    }
    for (const auto& board : m_timingBoards) {
        std::vector<StreamDevice*> devices{&board->Events()};
        if (EventReceiverBoard* receiver = FindEventReceiverBoard(board->GetBoard().GetSlot())) {
            devices.push_back(&receiver->Codes());
        }
        for (StreamDevice* device : devices) {
            const std::string path = std::string(feedDir) + "/" + BaseName(device->GetPath());
            try {
                m_feeders.push_back(std::make_unique<Feeder>(path, *device));
                m_feedPaths.push_back(path);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "sim: KAVREL_SIM_FEED_DIR=%s: %s\n", feedDir, e.what());
            }
        }
    }
}

Environment::~Environment()
{
    m_feeders.clear();
    m_eventReceivers.clear();
    m_timingBoards.clear();
    m_chassis.reset();
    if (m_logFd >= 0) {
        ::close(m_logFd);
    }
}

TimingBoard* Environment::FindTimingBoard(int slot) const
{
    for (const auto& board : m_timingBoards) {
        if (board->GetBoard().GetSlot() == slot) {
            return board.get();
        }
    }
    return nullptr;
}

EventReceiverBoard* Environment::FindEventReceiverBoard(int slot) const
{
    for (const auto& board : m_eventReceivers) {
        if (board->GetBoard().GetSlot() == slot) {
            return board.get();
        }
    }
    return nullptr;
}

void Environment::Pause()
{
    for (const auto& feeder : m_feeders) {
        feeder->Pause();
    }
    for (const auto& board : m_timingBoards) {
        board->PauseClock();
    }
}

void Environment::Resume()
{
    for (const auto& board : m_timingBoards) {
        board->ResumeClock();
    }
    for (const auto& feeder : m_feeders) {
        feeder->Resume();
    }
}

} // namespace sim::boards
