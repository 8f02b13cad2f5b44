#include "UnixSignalNotifier.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end, read by the handler; -1 while no instance exists.
volatile std::sig_atomic_t writeFd = -1;

void onSignal(int signalNumber)
{
    // Only async-signal-safe calls here; errno is the interrupted code's.
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    const int fd = writeFd;
    if (fd >= 0) {
        // A full socket drops the byte: the reader is already due to wake.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct UnixSignalNotifier::Installed {
    int signalNumber;
    struct sigaction previous;
};

UnixSignalNotifier::UnixSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (writeFd >= 0)
        throw std::runtime_error("a Unix signal notifier exists already");
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error(std::string("socketpair failed: ") + std::strerror(errno));
    m_readFd = fds[0];
    writeFd = fds[1];

    for (int signalNumber : signalNumbers) {
        struct sigaction action = {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls resume; the loop learns of the signal from the pipe.
        action.sa_flags = SA_RESTART;
        Installed installed { signalNumber, {} };
        if (::sigaction(signalNumber, &action, &installed.previous) != 0) {
            const std::string reason = std::strerror(errno);
            release();
            throw std::runtime_error("cannot handle signal " + std::to_string(signalNumber) + ": " + reason);
        }
        m_installed.push_back(installed);
    }

    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &UnixSignalNotifier::drain);
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    release();
}

void UnixSignalNotifier::release()
{
    for (auto it = m_installed.rbegin(); it != m_installed.rend(); ++it)
        ::sigaction(it->signalNumber, &it->previous, nullptr);
    m_installed.clear();
    m_notifier.reset();
    const int fd = writeFd;
    writeFd = -1;
    if (fd >= 0)
        ::close(fd);
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
}

void UnixSignalNotifier::drain()
{
    unsigned char buffer[64];
    for (;;) {
        const ssize_t count = ::read(m_readFd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        // A receiver may delete us (stop on SIGTERM).
        const QPointer<UnixSignalNotifier> self(this);
        for (ssize_t i = 0; i < count && self; ++i)
            emit received(buffer[i]);
        if (!self)
            return;
    }
}
