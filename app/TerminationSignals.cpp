#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace vantro {

namespace {

// Where the handler writes; -1 while nobody listens. A lock-free atomic is
// safe to read in a signal handler.
std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Only async-signal-safe work here: one byte into the socket, which wakes the
// event loop. A full socket already holds a byte that will wake it.
extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int writeEnd = g_writeEnd.load(std::memory_order_relaxed);
    if (writeEnd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        qWarning("vantro: cannot watch for the end of the session: %s", strerror(errno));
        return;
    }
    int expected = -1;
    if (!g_writeEnd.compare_exchange_strong(expected, ends[1])) {
        // Another object of this process listens already.
        ::close(ends[0]);
        ::close(ends[1]);
        return;
    }
    m_listening = true;
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls carry on; the handler serves one signal, then
    // the default takes over again.
    action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
    for (int i = 0; i < kCount; ++i) {
        struct sigaction current = {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        m_installed[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!m_listening)
        return;
    for (int i = 0; i < kCount; ++i) {
        if (m_installed[i])
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    g_writeEnd.store(-1);
    delete m_notifier;
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

void TerminationSignals::drain()
{
    unsigned char byte = 0;
    while (::read(m_readEnd, &byte, 1) == 1)
        Q_EMIT received(byte);
}

} // namespace vantro
