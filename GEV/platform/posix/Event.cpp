#include "Event.h"

#include <chrono>

namespace Platform {

ManualResetEvent::ManualResetEvent() = default;
ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signalled = true;
    m_changed.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signalled = false;
}

bool ManualResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                              [this] { return m_signalled; });
}

}  // namespace Platform
