#pragma once

#include <mutex>

namespace tarnby {

// The one flag shared between the thread that stops work and the thread doing it.
// Once cancelled it stays cancelled; new work takes a new flag.
class ScanCancellation {
public:
    void cancel() {
        std::lock_guard guard(m_lock);
        m_value = true;
    }
    bool isCancelled() const {
        std::lock_guard guard(m_lock);
        return m_value;
    }

private:
    mutable std::mutex m_lock;
    bool m_value = false;
};

}  // namespace tarnby
