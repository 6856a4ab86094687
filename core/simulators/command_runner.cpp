#include "core/simulators/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "core/platform/file_system.h"
#include "core/platform/utf8.h"
#include "core/records/storage_error.h"

extern char** environ;

namespace tarnby::CommandRunner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTimedOutText = "The Xcode command timed out. Nothing else was scheduled; try scanning again.";
constexpr const char* kFailedText = "The Xcode command failed.";
constexpr const char* kStoppedText = "The Xcode command was stopped.";
constexpr const char* kTooMuchText = "The Xcode command printed more than 64 MiB of output.";

// Longer limits are as good as none, and keep the deadline arithmetic from overflowing.
constexpr double kLongestWaitSeconds = 365.0 * 24 * 3600;

Clock::time_point deadlineAfter(Clock::time_point start, double seconds) {
    const double bounded = seconds > 0 ? std::min(seconds, kLongestWaitSeconds) : 0.0;
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

// Shared between the caller and the reader. Held through a shared_ptr so a reader left
// behind after a time-out still writes into live memory.
struct OutputBox {
    std::mutex lock;
    std::condition_variable changed;
    std::string data;
    bool overflowed = false;  // past kOutputLimit; `data` holds the start only
    bool finished = false;
};

void closeRetainingErrno(int fd) {
    const int saved = errno;
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    ::close(fd);
    errno = saved;
}

// Reads until every holder of the write end has exited, so the tool never blocks on a full pipe.
// Each piece is handed over as it arrives: a holder that escaped the tool's process group can
// delay the end of file, but must not take what the tool wrote with it.
void drain(int fd, std::shared_ptr<OutputBox> box) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            std::lock_guard guard(box->lock);
            if (box->data.size() + static_cast<std::size_t>(count) <= kOutputLimit) {
                box->data.append(buffer, static_cast<std::size_t>(count));
            } else {
                box->overflowed = true;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    closeRetainingErrno(fd);
    {
        std::lock_guard guard(box->lock);
        box->finished = true;
    }
    box->changed.notify_all();
}

// The started tool, leader of its own process group. Once it is seen to end, and while its
// unreaped pid still holds the group id, whatever else is left in the group is killed; then it
// is reaped. So the group id is never signalled after it could have been reused, and nothing
// the tool started outlives the run (nor keeps the pipe open).
class Child {
public:
    explicit Child(pid_t pid) : m_pid(pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
        // A process descriptor turns "has it ended?" into poll() with a deadline; older
        // kernels say ENOSYS and the runner falls back to asking every few milliseconds.
        m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
    }
    ~Child() {
        if (m_pidfd >= 0) closeRetainingErrno(m_pidfd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool ended() const { return m_reaped; }
    bool exitedWithSuccess() const { return m_reaped && WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0; }

    void signal(int number) const {
        if (!m_reaped) ::kill(-m_pid, number);
    }

    enum class Wait { ended, deadline, cancelled };

    // Until the tool has ended (and been reaped), `deadline` has passed or `cancellation`
    // (when given) is cancelled, whichever comes first.
    Wait waitUntil(Clock::time_point deadline, const ScanCancellation* cancellation = nullptr) {
        for (;;) {
            if (tryReap()) return Wait::ended;
            if (cancellation != nullptr && cancellation->isCancelled()) return Wait::cancelled;
            const auto now = Clock::now();
            if (now >= deadline) return Wait::deadline;
            auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            if (cancellation != nullptr)
                remaining = std::min(remaining, std::chrono::milliseconds(kCancelPollMilliseconds));
            if (m_pidfd >= 0) {
                pollfd entry{m_pidfd, POLLIN, 0};
                const int milliseconds = static_cast<int>(std::min<std::int64_t>(remaining.count(), INT_MAX));
                const int ready = ::poll(&entry, 1, milliseconds);
                if (ready < 0 && errno != EINTR) {
                    closeRetainingErrno(m_pidfd);
                    m_pidfd = -1;
                } else if (ready > 0 && !tryReap()) {
                    // Readable but not yet waitable: do not spin on it.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            } else {
                std::this_thread::sleep_for(std::min<Clock::duration>(remaining, std::chrono::milliseconds(5)));
            }
        }
    }

    // Only after SIGKILL, which nothing can ignore.
    void reapBlocking() {
        while (!reap(0)) {}
    }

private:
    bool tryReap() { return reap(WNOHANG); }

    // True once reaped. `options`: WNOHANG or 0.
    bool reap(int options) {
        if (m_reaped) return true;
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT | options) != 0) {
                if (errno == EINTR) continue;
                // Someone else reaped it (SIGCHLD ignored, or a wait for any child): it has
                // ended, with an unknown status that counts as failure. Its group cannot be
                // signalled safely any more.
                m_status = -1;
                m_reaped = true;
                return true;
            }
            if (info.si_pid == 0) return false;
            break;
        }
        ::kill(-m_pid, SIGKILL);
        for (;;) {
            const pid_t result = ::waitpid(m_pid, &m_status, 0);
            if (result == m_pid) break;
            if (result < 0 && errno != EINTR) {
                m_status = -1;
                break;
            }
        }
        m_reaped = true;
        return true;
    }

    pid_t m_pid;
    int m_pidfd = -1;
    bool m_reaped = false;
    int m_status = 0;
};

// Both ends close-on-exec, so no other child started meanwhile inherits the write end and
// keeps our reader from ever seeing end of file.
bool makePipe(int fds[2]) {
#if defined(__linux__)
    return ::pipe2(fds, O_CLOEXEC) == 0;
#else
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
#endif
}

class SpawnSetup {
public:
    SpawnSetup(int readEnd, int writeEnd) {
        ::posix_spawn_file_actions_init(&m_actions);
        ::posix_spawnattr_init(&m_attributes);
        ::posix_spawn_file_actions_adddup2(&m_actions, writeEnd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&m_actions, writeEnd, STDERR_FILENO);
        if (readEnd > STDERR_FILENO) ::posix_spawn_file_actions_addclose(&m_actions, readEnd);
        // The tool has nothing to read from us, and must not take input meant for a terminal.
        ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

        // A caller thread may block or ignore signals; the tool must still feel our
        // termination request and a broken pipe the ordinary way.
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGTERM);
        ::posix_spawnattr_setsigmask(&m_attributes, &none);
        ::posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        // A group of its own, so a time-out reaches whatever the tool started too.
        ::posix_spawnattr_setpgroup(&m_attributes, 0);
        auto flags = static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
#if defined(POSIX_SPAWN_CLOEXEC_DEFAULT)
        // Without pipe2 our descriptors are briefly inheritable; this closes the rest in the tool.
        flags = static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT);
#endif
        ::posix_spawnattr_setflags(&m_attributes, flags);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&m_actions);
        ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

// NUL-terminated pointer arrays over strings that outlive the spawn.
std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (std::string& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments,
            const std::optional<Environment>& environment, int readEnd, int writeEnd) {
    std::vector<std::string> argumentTexts;
    argumentTexts.reserve(arguments.size() + 1);
    argumentTexts.push_back(executable);
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = pointers(argumentTexts);

    std::vector<std::string> environmentTexts;
    std::vector<char*> envp;
    if (environment) {
        environmentTexts.reserve(environment->size());
        for (const auto& [name, value] : *environment) environmentTexts.push_back(name + "=" + value);
        envp = pointers(environmentTexts);
    }

    const SpawnSetup setup(readEnd, writeEnd);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(), argv.data(),
                                    environment ? envp.data() : environ);
    if (error != 0) throw LaunchError("Could not start " + executable + ": " + fs::describeErrno(error));
    return pid;
}

// Whatever happens, the caller must not end with a joinable thread (std::terminate).
class ReaderThread {
public:
    ~ReaderThread() {
        if (m_thread.joinable()) m_thread.detach();
    }
    void start(int fd, std::shared_ptr<OutputBox> box) { m_thread = std::thread(drain, fd, std::move(box)); }
    void finish(bool done) {
        if (done) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

private:
    std::thread m_thread;
};

}  // namespace

std::string run(const std::string& executable, const std::vector<std::string>& arguments, double timeout,
                const std::optional<Environment>& environment, const ScanCancellation* cancellation) {
    // Allocated before the tool exists, so nothing can throw between spawning and reaping.
    auto box = std::make_shared<OutputBox>();
    int fds[2];
    if (!makePipe(fds)) throw LaunchError("Could not start " + executable + ": " + fs::describeErrno(errno));
    const int readEnd = fds[0];
    const int writeEnd = fds[1];

    pid_t pid = -1;
    try {
        pid = spawn(executable, arguments, environment, readEnd, writeEnd);
    } catch (...) {
        closeRetainingErrno(readEnd);
        closeRetainingErrno(writeEnd);
        throw;
    }
    const auto start = Clock::now();
    // Only the tool holds the write end now, so its exit brings end of file.
    closeRetainingErrno(writeEnd);

    Child child(pid);
    ReaderThread reader;
    try {
        reader.start(readEnd, box);
    } catch (...) {
        closeRetainingErrno(readEnd);
        child.signal(SIGKILL);
        child.reapBlocking();
        throw;
    }

    if (const auto waited = child.waitUntil(deadlineAfter(start, timeout), cancellation);
        waited != Child::Wait::ended) {
        const bool stopped = waited == Child::Wait::cancelled;
        child.signal(SIGTERM);
        if (child.waitUntil(deadlineAfter(Clock::now(), stopped ? kCancelGraceSeconds : kGraceSeconds)) !=
            Child::Wait::ended) {
            child.signal(SIGKILL);
            child.reapBlocking();
        }
        // The group is gone, so the reader ends soon; only a process that left the group can
        // still hold the pipe, and the reader is then left to finish on its own.
        throw StorageError::command(stopped ? kStoppedText : kTimedOutText);
    }

    // The rest of the group was killed when the tool ended. A process that left the group may
    // still hold the pipe: after the wait, what the tool wrote has been read and is kept.
    std::string output;
    bool overflowed = false;
    {
        std::unique_lock guard(box->lock);
        const bool done = box->changed.wait_until(guard, deadlineAfter(Clock::now(), kReaderWaitSeconds),
                                                  [&] { return box->finished; });
        output = std::move(box->data);
        box->data.clear();
        overflowed = box->overflowed;
        guard.unlock();
        reader.finish(done);
    }

    if (overflowed) throw StorageError::command(kTooMuchText);
    if (child.exitedWithSuccess()) return output;
    if (!utf8::isValid(output)) throw StorageError::command(kFailedText);
    throw StorageError::command(utf8::prefix(utf8::trimmedWhitespace(output), kErrorTextLimit));
}

Environment currentEnvironment() {
    Environment result;
    if (environ == nullptr) return result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        // getenv() answers with the first of duplicate names; so does this.
        result.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return result;
}

}  // namespace tarnby::CommandRunner
