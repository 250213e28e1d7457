#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace testsupport {

unsigned FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

PortTaken::PortTaken(unsigned port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_fd, 1) != 0) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        throw std::runtime_error("cannot take port " + std::to_string(port));
    }
    socklen_t length = sizeof(address);
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_fd);
        throw std::runtime_error("cannot read the port taken");
    }
    m_port = ntohs(address.sin_port);
}

PortTaken::~PortTaken()
{
    ::close(m_fd);
}

} // namespace testsupport
