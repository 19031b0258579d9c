// One registry of the library controller: entries of (owner key, object,
// held value) under a recursive lock of its own, looked up by the object's
// handle. A lookup compares handles before it touches a module, so no module
// is made strong, or let go, while the lock is held: what a lookup or a
// removal hands out is released by its caller, outside the lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "CriticalSection.h"
#include "ICommonBase.h"

namespace GenTL {

// A module held for the length of a call: a lookup hands out a strong
// reference, so a close on another thread unregisters the module at once but
// frees it only when the last call on it has returned. Calls that were running
// on a closed module finish against the module's closed state (its camera
// connection and streams stay until then) and never touch freed memory.
using ModuleRef = std::shared_ptr<ICommonBase>;

// Whether a registered value still stands for a live module; overloaded for
// each kind of value a registry holds.
inline bool IsLive(const ModuleRef& module) {
    return module != nullptr;
}
inline bool IsLive(const std::weak_ptr<ICommonBase>& module) {
    return !module.expired();
}

template <typename Key, typename Object, typename Value>
class CModuleRegistry {
public:
    struct Entry {
        Key key{};
        Object* object = nullptr;
        Value value{};
    };

    // Held across several calls where one change spans registries; see the
    // lock order in LibraryController.h.
    CCriticalSection& Lock() { return m_lock; }

    void Add(Key key, Object* object, Value value) {
        CAutoLock guard(m_lock);
        m_entries.push_back(Entry{std::move(key), object, std::move(value)});
    }

    // The live entry registered under `handle`.
    bool Find(const void* handle, Entry* found) {
        return FindIf([handle](const Entry& e) { return Matches(e, handle); }, found);
    }

    template <typename Match>
    bool FindIf(Match match, Entry* found) {
        CAutoLock guard(m_lock);
        auto it = std::find_if(m_entries.begin(), m_entries.end(), match);
        if (it == m_entries.end()) return false;
        if (found != nullptr) *found = *it;
        return true;
    }

    // Removes the live entry registered under `handle` and hands it out.
    bool Take(const void* handle, Entry* taken) {
        CAutoLock guard(m_lock);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [handle](const Entry& e) { return Matches(e, handle); });
        if (it == m_entries.end()) return false;
        *taken = std::move(*it);
        m_entries.erase(it);
        return true;
    }

    // Removes every matching entry; the values go with the returned vector.
    template <typename Match>
    std::vector<Entry> RemoveIf(Match match) {
        std::vector<Entry> removed;
        CAutoLock guard(m_lock);
        auto keep = std::stable_partition(m_entries.begin(), m_entries.end(),
                                          [&](const Entry& e) { return !match(e); });
        std::move(keep, m_entries.end(), std::back_inserter(removed));
        m_entries.erase(keep, m_entries.end());
        return removed;
    }

    // A copy of every entry, to be walked without the lock.
    std::vector<Entry> Snapshot() {
        CAutoLock guard(m_lock);
        return m_entries;
    }

    std::vector<Entry> Clear() {
        std::vector<Entry> removed;
        CAutoLock guard(m_lock);
        removed.swap(m_entries);
        return removed;
    }

    size_t CountLive() {
        CAutoLock guard(m_lock);
        return static_cast<size_t>(std::count_if(m_entries.begin(), m_entries.end(),
                                                 [](const Entry& e) { return IsLive(e.value); }));
    }

    static bool HasHandle(const Entry& entry, const void* handle) {
        return static_cast<const void*>(entry.object) == handle;
    }

private:
    // A handle may come back at the address of a module that is gone: only
    // the live entry under it counts.
    static bool Matches(const Entry& entry, const void* handle) {
        return HasHandle(entry, handle) && IsLive(entry.value);
    }

    CCriticalSection m_lock;
    std::vector<Entry> m_entries;
};

}  // namespace GenTL
