#include "Event.h"

#include <windows.h>

#include <stdexcept>

namespace Platform {

ManualResetEvent::ManualResetEvent() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (m_event == nullptr) throw std::runtime_error("CreateEvent failed");
}

ManualResetEvent::~ManualResetEvent() {
    CloseHandle(m_event);
}

void ManualResetEvent::Set() {
    SetEvent(m_event);
}

void ManualResetEvent::Reset() {
    ResetEvent(m_event);
}

bool ManualResetEvent::Wait(uint32_t milliseconds) {
    return WaitForSingleObject(m_event, milliseconds) == WAIT_OBJECT_0;
}

}  // namespace Platform
