// A manual-reset event: stays signalled until reset; waiters wake at once
// while it is signalled. Thread-safe. A Kernel32 event object on Windows.
#pragma once

#include <cstdint>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#endif

namespace Platform {

class ManualResetEvent {
public:
    ManualResetEvent();
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    // True when signalled within the wait, false on time-out.
    bool Wait(uint32_t milliseconds);

private:
#if defined(_WIN32)
    void* m_event;  // the event object's handle
#else
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_signalled = false;
#endif
};

}  // namespace Platform
