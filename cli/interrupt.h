#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "core/records/scan_cancellation.h"

namespace quillet::cli {

// Turns the first Ctrl-C (SIGINT) into a cancellation of `cancellation`; a second one ends the
// process the usual way. The signal handler only writes one byte to a pipe, since taking the
// flag's lock inside a handler could deadlock; a watcher thread does the cancelling.
class InterruptCancels {
public:
    explicit InterruptCancels(std::shared_ptr<tarnby::ScanCancellation> cancellation);
    ~InterruptCancels();
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

    // True once a Ctrl-C arrived.
    bool interrupted() const { return m_interrupted.load(); }

    // Cancels now if a Ctrl-C is waiting for the watcher, so one that came during a blocking
    // read (or, under a sanitizer, whose handler ran late) stops what starts next.
    void settle();

private:
    std::shared_ptr<tarnby::ScanCancellation> m_cancellation;
    std::atomic<bool> m_interrupted{false};
    std::thread m_watcher;
    int m_stopFd = -1;
    bool m_installed = false;
};

}  // namespace quillet::cli
