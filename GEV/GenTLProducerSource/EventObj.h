// Base of every GenTL event object: what EventGetData, EventGetInfo,
// EventGetDataInfo, EventFlush and EventKill act on. The event handle is the
// object's address. Thread-safe: the lock guards the state of derived classes,
// the condition wakes a consumer thread waiting for data.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "GenTL.h"

namespace GenTL {

class CEventObj {
public:
    CEventObj() = default;
    CEventObj(const CEventObj&) = delete;
    CEventObj& operator=(const CEventObj&) = delete;
    virtual ~CEventObj() = default;

    // Delivers one event's data; false when nothing was delivered (time-out,
    // size query, or woken by a kill).
    virtual bool GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) = 0;
    virtual void GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                         size_t* piSize) = 0;
    virtual void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                             INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) = 0;
    virtual void Flush() = 0;
    // Sets killed and wakes every thread waiting on the condition.
    virtual void Kill();
    virtual void ClearKilled() { m_killed = false; }
    virtual bool IsKilled() { return m_killed; }
    virtual bool IsRegistered() { return m_registered == 1; }

protected:
    // Time-outs at or above this many ms wait without limit: the deadline of a
    // longer one would not fit the clock (about a century; none will notice).
    static constexpr uint64_t kLongestTimedWaitMs = 100ULL * 365 * 24 * 60 * 60 * 1000;

    // Waits on m_condition (lock held) until `ready` holds or `iTimeout` ms
    // pass; GENTL_INFINITE waits without limit. False on time-out.
    template <class Predicate>
    bool WaitFor(std::unique_lock<std::mutex>& lock, uint64_t iTimeout, Predicate ready) {
        if (iTimeout >= kLongestTimedWaitMs) {
            m_condition.wait(lock, ready);
            return true;
        }
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int64_t>(iTimeout));
        return m_condition.wait_until(lock, deadline, ready);
    }

    std::mutex m_lock;
    std::condition_variable m_condition;
    std::atomic<uint64_t> m_registered{0};
    std::atomic<uint8_t> m_killed{0};
};

}  // namespace GenTL
