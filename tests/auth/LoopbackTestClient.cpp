#include "LoopbackTestClient.h"


#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmo::test {

RawClient::RawClient(quint16 port, const char* host)
{
    sockaddr_in6 v6 { .sin6_family = AF_INET6, .sin6_port = htons(port) };
    sockaddr_in v4 { .sin_family = AF_INET, .sin_port = htons(port) };
    const bool isV6 = ::inet_pton(AF_INET6, host, &v6.sin6_addr) == 1;
    ::inet_pton(AF_INET, host, &v4.sin_addr);
    m_fd = ::socket(isV6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_connected = isV6 ? ::connect(m_fd, reinterpret_cast<sockaddr*>(&v6), sizeof v6) == 0
                       : ::connect(m_fd, reinterpret_cast<sockaddr*>(&v4), sizeof v4) == 0;
}

RawClient::~RawClient()
{
    ::close(m_fd);
}

void RawClient::send(const QByteArray& bytes)
{
    // A server that closes early makes the rest of a long request fail: fine.
    ::send(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
}

bool RawClient::closed()
{
    char buffer[4096];
    ssize_t n = 0;
    while (!m_closed && (n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        m_received.append(buffer, n);
    m_closed = m_closed || n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
    return m_closed;
}

QByteArray exchange(quint16 port, const QByteArray& request)
{
    RawClient client(port);
    client.send(request);
    return client.waitUntilClosed() ? client.received() : QByteArray();
}

} // namespace velmo::test
