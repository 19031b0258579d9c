#include "EventQueue.h"

#include <cstring>
#include <stdexcept>

#include "DebugOutput.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

// The event whose wait on this thread a kill ended last: the export asks
// IsKilled after the wait, when an unregistering may already have cleared it.
thread_local const void* t_killedWait = nullptr;

const ErrorEventEntry& EntryOf(const std::shared_ptr<ErrorEventEntry>& entry) {
    return *entry;
}
const ModuleEventEntry& EntryOf(const ModuleEventEntry& entry) {
    return entry;
}

template <class Record>
void CopyEntry(const Record& entry, void* pBuffer, size_t* piSize) {
    if (pBuffer == nullptr) throw invalid_buffer_size_exception("Invalid buffer");
    const size_t dataSize = entry.DataSize();
    if (*piSize < dataSize) throw invalid_parameter_exception("Invalid buffer Size");
    entry.CopyTo(static_cast<unsigned char*>(pBuffer));
    *piSize = dataSize;
}

// Error event data must hold at least the code.
void CheckErrorRecord(const void* pInBuffer, size_t iInSize) {
    if (pInBuffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pInBuffer is invalid: pInBuffer = 0x%p.", pInBuffer));
    }
    if (iInSize < 4) {
        throw invalid_parameter_exception(
            Format("Specified iInSize is invalid: iInSize = %d.", iInSize));
    }
}

// Leaves GetData's count of waiters, and lets a pending destruction go on.
class WaiterScope {
public:
    WaiterScope(size_t& waiters, bool& closing, std::condition_variable& condition)
        : m_waiters(waiters), m_closing(closing), m_condition(condition) {
        ++m_waiters;
    }
    WaiterScope(const WaiterScope&) = delete;
    WaiterScope& operator=(const WaiterScope&) = delete;
    ~WaiterScope() {
        --m_waiters;
        if (m_closing) m_condition.notify_all();
    }

private:
    size_t& m_waiters;
    bool& m_closing;
    std::condition_variable& m_condition;
};

}  // namespace

// The code at offset 0, the text and its NUL from offset 4.
void ErrorEventEntry::CopyTo(unsigned char* bytes) const {
    std::memcpy(bytes, &code, sizeof code);
    std::memcpy(bytes + 4, message.c_str(), message.size() + 1);
}

void ModuleEventEntry::CopyTo(unsigned char* bytes) const {
    std::memcpy(bytes + kIdOffset, &eventId, sizeof eventId);
    std::memcpy(bytes + kTimestampOffset, &timestamp, sizeof timestamp);
}

template <class Entry>
CEventQueue<Entry>::~CEventQueue() {
    CloseForWaiters();
}

template <class Entry>
void CEventQueue<Entry>::CloseForWaiters() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_closing = true;
    m_queueRegistered = 0;
    m_condition.notify_all();
    m_condition.wait(lock, [this] { return m_waiters == 0; });
}

template <class Entry>
void CEventQueue<Entry>::Push(const Entry& entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queueRegistered) return;
    ++m_fired;
    m_queue.push_back(entry);
    m_condition.notify_all();
}

template <class Entry>
void CEventQueue<Entry>::Register() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_queueRegistered) throw resource_in_use_exception("Event already registered");
    m_queueRegistered = 1;
    m_fired = 0;
    m_killed = 0;
    if (t_killedWait == this) t_killedWait = nullptr;
}

template <class Entry>
void CEventQueue<Entry>::Unregister() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queueRegistered) throw not_initialized_exception("Event not yet registered");
    m_queueRegistered = 0;
    m_killed = 0;
    if (t_killedWait == this) t_killedWait = nullptr;
    m_condition.notify_all();
}

template <class Entry>
bool CEventQueue<Entry>::GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified piSize is invalid: piSize = 0x%p.", piSize));
    }
    t_killedWait = nullptr;
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_queueRegistered || m_closing) {
        throw invalid_handle_exception("Event EventNewBuffer not registered");
    }
    WaiterScope scope(m_waiters, m_closing, m_condition);
    const uint64_t killsBefore = m_kills;
    const auto killed = [&] { return m_killed || m_kills != killsBefore; };
    const bool woken = WaitFor(lock, iTimeout, [&] {
        return !m_queue.empty() || killed() || !m_queueRegistered || m_closing;
    });
    if (!woken) return false;
    // Killed: nothing is taken, so no entry is lost to an aborted wait.
    if (killed()) {
        t_killedWait = this;
        return false;
    }
    if (!m_queueRegistered || m_closing) {
        throw invalid_handle_exception("Event EventNewBuffer not registered");
    }
    if (m_queue.empty()) throw std::runtime_error(" Empty event queue but signaled");

    const auto& entry = EntryOf(m_queue.front());
    const size_t dataSize = entry.DataSize();
    if (*piSize == 0) {
        *piSize = dataSize;
        return false;
    }
    if (dataSize > *piSize) {
        throw buffer_too_small_exception(
            Format("Prepared buffer is too small. Required: %d. Prepared: %d.", dataSize, *piSize));
    }
    CopyEntry(entry, pBuffer, piSize);
    m_queue.pop_front();
    return true;
}

template <class Entry>
void CEventQueue<Entry>::Kill() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_kills;
    m_killed = true;
    m_condition.notify_all();
}

template <class Entry>
bool CEventQueue<Entry>::IsKilled() {
    if (t_killedWait == this) {
        t_killedWait = nullptr;
        return true;
    }
    return m_killed;
}

template <class Entry>
void CEventQueue<Entry>::GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                 size_t* piSize) {
    if (!m_queueRegistered) {
        throw invalid_handle_exception(Format("Event ID %ld not registered", EventType()));
    }
    switch (iInfoCmd) {
        case EVENT_EVENT_TYPE:
            CopyInfoInt32(piType, pBuffer, piSize, EventType());
            break;
        case EVENT_NUM_IN_QUEUE: {
            size_t length = 0;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                length = m_queue.size();
            }
            CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, length);
            break;
        }
        case EVENT_NUM_FIRED: {
            uint64_t fired = 0;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                fired = m_fired;
            }
            CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, fired);
            break;
        }
        case EVENT_SIZE_MAX:
        case EVENT_INFO_DATA_SIZE_MAX: {
            const size_t maxSize = kMaxDataSize;
            Platform::DebugOutput(Format("EVENT_INFO_DATA_SIZE_MAX: %d", maxSize) + "\n");
            CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, maxSize);
            break;
        }
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

template <class Entry>
void CEventQueue<Entry>::GetDataInfo(const void* pInBuffer, size_t iInSize,
                                     EVENT_DATA_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                     void* pOutBuffer, size_t* piOutSize) {
    const auto* bytes = static_cast<const unsigned char*>(pInBuffer);
    switch (iInfoCmd) {
        case EVENT_DATA_ID: {
            CheckErrorRecord(pInBuffer, iInSize);
            int32_t code = 0;
            std::memcpy(&code, bytes, sizeof code);
            CopyInfoInt32(piType, pOutBuffer, piOutSize, code);
            break;
        }
        case EVENT_DATA_VALUE: {
            CheckErrorRecord(pInBuffer, iInSize);
            // The text ends at its NUL or at the end of the input, whichever
            // comes first: nothing past iInSize is read.
            const char* text = reinterpret_cast<const char*>(bytes + 4);
            const size_t length = strnlen(text, iInSize - 4);
            CopyInfoString(piType, pOutBuffer, piOutSize, std::string(text, length));
            break;
        }
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

template <class Entry>
void CEventQueue<Entry>::Flush() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queueRegistered) throw invalid_handle_exception("Event not registered");
    m_queue.clear();
}

template class CEventQueue<std::shared_ptr<ErrorEventEntry>>;
template class CEventQueue<ModuleEventEntry>;

CEventError::~CEventError() {
    CloseForWaiters();
}

void CEventError::GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                              INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) {
    CEventQueue::GetDataInfo(pInBuffer, iInSize, iInfoCmd, piType, pOutBuffer, piOutSize);
}

void CEventError::Push(const std::shared_ptr<ErrorEventEntry>& entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queueRegistered) return;
    ++m_fired;
    // A failure that repeats (an incomplete frame after another) is told once while unread.
    if (!m_queue.empty() && m_queue.back()->code == entry->code &&
        m_queue.back()->message == entry->message) {
        ++m_folded;
        return;
    }
    m_queue.push_back(entry);
    if (m_queue.size() > kMaxQueued) {
        m_queue.pop_front();
        if (m_dropped++ == 0)
            Platform::DebugOutput("[ERROR] - Error event queue full: oldest reports dropped");
    }
    m_condition.notify_all();
}

uint64_t CEventError::Folded() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_folded;
}

uint64_t CEventError::Dropped() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_dropped;
}

void CEventError::Report(GC_ERROR code, const std::string& message) {
    try {
        auto entry = std::make_shared<ErrorEventEntry>();
        entry->code = code;
        entry->message = message;
        Push(entry);
    } catch (...) {
        // A report that cannot be stored is dropped: the caller's own result stands.
    }
}

}  // namespace GenTL
