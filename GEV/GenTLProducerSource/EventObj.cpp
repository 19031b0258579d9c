#include "EventObj.h"

namespace GenTL {

void CEventObj::Kill() {
    // Set under the lock so a waiter between its check and its wait cannot miss it.
    std::lock_guard<std::mutex> guard(m_lock);
    m_killed = true;
    m_condition.notify_all();
}

}  // namespace GenTL
