// A recursive lock and its scoped guard: the lock of every controller registry.
#pragma once

#include <mutex>

namespace GenTL {

class CCriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    virtual ~CCriticalSection() = default;
    virtual void Lock() { m_mutex.lock(); }
    virtual void Unlock() { m_mutex.unlock(); }
    virtual bool TryLock() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

// Locks (wait set) or tries to lock (wait clear) on construction; unlocks on
// destruction only if it holds the lock.
class CAutoLock {
public:
    explicit CAutoLock(CCriticalSection& lock, bool wait = true)
        : m_lock(lock), m_held(wait ? (lock.Lock(), true) : lock.TryLock()) {}
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;
    ~CAutoLock() {
        if (m_held) m_lock.Unlock();
    }
    bool IsLocked() const { return m_held; }

private:
    CCriticalSection& m_lock;
    bool m_held;
};

}  // namespace GenTL
