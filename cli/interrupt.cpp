#include "cli/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quillet::cli {

namespace {

// Written by the handler, read by the watcher. A process has one SIGINT disposition, so one
// pipe serves whichever guard is installed.
int gSignalPipe[2] = {-1, -1};

extern "C" void onInterrupt(int) {
    const int saved = errno;
    const char byte = 'i';
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

InterruptCancels::InterruptCancels(std::shared_ptr<tarnby::ScanCancellation> cancellation)
    : m_cancellation(std::move(cancellation)) {
    int stop[2];
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    if (::pipe2(stop, O_CLOEXEC) != 0) {
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        return;
    }
    const int signalFd = gSignalPipe[0];
    const int stopRead = stop[0];
    try {
        m_watcher = std::thread([this, signalFd, stopRead] {
            pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopRead, POLLIN, 0}};
            for (;;) {
                if (::poll(fds, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                if (fds[0].revents & POLLIN) {
                    m_interrupted.store(true);
                    m_cancellation->cancel();
                    break;
                }
                if (fds[1].revents) break;
            }
            ::close(stopRead);
        });
    } catch (const std::system_error&) {
        // No thread to be had (too little memory): Ctrl-C keeps ending the process the usual way.
        for (const int fd : {stop[0], stop[1], gSignalPipe[0], gSignalPipe[1]}) ::close(fd);
        gSignalPipe[0] = gSignalPipe[1] = -1;
        return;
    }
    m_stopFd = stop[1];

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // The second Ctrl-C gets the default action: a user who presses it again wants out now.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    m_installed = ::sigaction(SIGINT, &action, nullptr) == 0;
}

void InterruptCancels::settle() {
    if (m_stopFd < 0) return;
    pollfd pending{gSignalPipe[0], POLLIN, 0};
    if (::poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN)) {
        m_interrupted.store(true);
        m_cancellation->cancel();
    }
}

InterruptCancels::~InterruptCancels() {
    if (m_installed) ::signal(SIGINT, SIG_DFL);
    if (m_stopFd >= 0) {
        ::close(m_stopFd);  // wakes the watcher
        if (m_watcher.joinable()) m_watcher.join();
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
}

}  // namespace quillet::cli
