// A manual-reset event: stays signalled until reset; waiters wake at once
// while it is signalled. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Platform {

class ManualResetEvent {
public:
    void Set() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_signalled = true;
        m_changed.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_signalled = false;
    }
    // True when signalled within the wait, false on time-out.
    bool Wait(uint32_t milliseconds) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                  [this] { return m_signalled; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_signalled = false;
};

}  // namespace Platform
