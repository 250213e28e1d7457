#ifndef TESTS_SUPPORT_FREE_PORT_H
#define TESTS_SUPPORT_FREE_PORT_H

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago; throws std::runtime_error when the system
// gives none.
unsigned FreeLoopbackPort();

// The TCP port of every interface taken by a listening socket while the object lives, as
// another server would hold it (port 0: one the system chooses, without the race of a port found
// free before); throws std::runtime_error when it cannot be taken.
class PortTaken {
public:
    explicit PortTaken(unsigned port);
    ~PortTaken();
    PortTaken(const PortTaken&) = delete;
    PortTaken& operator=(const PortTaken&) = delete;

    unsigned Port() const { return m_port; }

private:
    int m_fd;
    unsigned m_port = 0;
};

} // namespace testsupport

#endif
