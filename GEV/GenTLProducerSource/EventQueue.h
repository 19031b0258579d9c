// Queued events: CEventQueue keeps entries first in, first out for a consumer
// that waits in EventGetData; CEventError is the error event every module
// owns. Pushes come from any producer thread; all state is under m_lock.
//
// Killed: a kill wakes the waiters and ends every wait (and every later one,
// without taking an entry) as not delivered until the event is unregistered,
// which clears it; a wait that a kill ended still reads as killed on its own
// thread, however soon the event is unregistered. Entries survive a kill.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "EventObj.h"

namespace GenTL {

// One error report: its event data is the code (4 bytes) and the text with its NUL.
struct ErrorEventEntry {
    GC_ERROR code = GC_ERR_SUCCESS;
    std::string message;
    size_t DataSize() const { return message.size() + 5; }
    void CopyTo(unsigned char* bytes) const;
};

// One module event: its event data is the event ID at offset 0 and the host's
// time of the event in nanoseconds at offset 8, both 64 bits in host order.
struct ModuleEventEntry {
    static constexpr size_t kIdOffset = 0;
    static constexpr size_t kTimestampOffset = 8;
    static constexpr size_t kSize = 16;
    uint64_t eventId = 0;
    uint64_t timestamp = 0;
    size_t DataSize() const { return kSize; }
    void CopyTo(unsigned char* bytes) const;
};

template <class Entry>
class CEventQueue : public CEventObj {
public:
    // The largest event data the consumer is told to expect (EVENT_SIZE_MAX).
    static constexpr size_t kMaxDataSize = 2048;

    CEventQueue() = default;
    // Wakes any waiter and lets it leave before the object goes.
    ~CEventQueue() override;

    // Appends and wakes a waiter; ignored while the event is not registered.
    virtual void Push(const Entry& entry);
    // Throws resource_in_use_exception "Event already registered" when registered.
    virtual void Register();
    // Throws not_initialized_exception "Event not yet registered" when not registered.
    virtual void Unregister();

    bool GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) override;
    void GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                 size_t* piSize) override;
    void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) override;
    void Flush() override;
    // Counts the kill too, so a wait it ended knows even if unregistering
    // cleared the flag before the waiter woke.
    void Kill() override;
    // Also true, once, on a thread whose last wait here was ended by a kill.
    bool IsKilled() override;
    bool IsRegistered() override { return m_queueRegistered; }

protected:
    // What EVENT_EVENT_TYPE answers.
    virtual EVENT_TYPE EventType() const { return EVENT_ERROR; }
    // Ends every wait and returns once no thread is inside GetData. The most
    // derived destructor calls it, while the object is still whole.
    void CloseForWaiters();

    std::deque<Entry> m_queue;
    std::atomic<uint8_t> m_queueRegistered{0};
    // Entries pushed since the registration (EVENT_NUM_FIRED), dropped or
    // folded ones included; under m_lock.
    uint64_t m_fired = 0;

private:
    // Threads inside GetData, and set once destruction has begun; both under m_lock.
    size_t m_waiters = 0;
    bool m_closing = false;
    // Kills so far, under m_lock.
    uint64_t m_kills = 0;
};

// Bounded: a consumer that registers the event and never reads it must not
// grow the producer's memory. A report equal to the newest one still queued is
// folded into it; past kMaxQueued entries the oldest goes, and is counted.
class CEventError : public CEventQueue<std::shared_ptr<ErrorEventEntry>> {
public:
    static constexpr size_t kMaxQueued = 256;

    CEventError() = default;
    ~CEventError() override;

    void Push(const std::shared_ptr<ErrorEventEntry>& entry) override;
    // Reports folded into an equal one or dropped as the oldest since construction.
    uint64_t Folded();
    uint64_t Dropped();

    void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) override;

    // Convenience for producers: pushes (code, message). Never throws.
    void Report(GC_ERROR code, const std::string& message);

private:
    uint64_t m_folded = 0, m_dropped = 0;  // under m_lock
};

// Defined once, in EventQueue.cpp.
extern template class CEventQueue<std::shared_ptr<ErrorEventEntry>>;
extern template class CEventQueue<ModuleEventEntry>;

}  // namespace GenTL
