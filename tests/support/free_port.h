#ifndef TESTS_SUPPORT_FREE_PORT_H
#define TESTS_SUPPORT_FREE_PORT_H

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago; throws std::runtime_error when the system
// gives none.
unsigned FreeLoopbackPort();

// The TCP port of every interface taken by a listening socket while the object lives, as
// another server would hold it; throws std::runtime_error when it cannot be taken.
class PortTaken {
public:
    explicit PortTaken(unsigned port);
    ~PortTaken();
    PortTaken(const PortTaken&) = delete;
    PortTaken& operator=(const PortTaken&) = delete;

private:
    int m_fd;
};

} // namespace testsupport

#endif
