// SPDX-License-Identifier: GPL-3.0-or-later
// HandleRegistry: the locked table of live objects behind one platform
// layer's handles (wave outputs, conversion streams, mixers, lookups).
//
// Threading: every call may come from any thread. The lock guards the table
// only and is held just long enough to look a handle up, file or remove it.
// Find hands out a Lease, a share of the object that keeps it alive while the
// call works with it outside the lock. Running each call under the lock
// instead would hold it through the object's own blocking work (a reset
// waiting for the device thread, an ALSA drain) against every other handle,
// and would put any notice or callback such work raises under a lock its
// receiver may take again; with leases the object's calls never run under it.
//
// Close is ordered against the calls: it waits, without the lock, until no
// lease on the handle is out, then asks the object under the lock whether it
// may go and takes it out. So a close comes after every call that found the
// object (a block written just before it is seen as queued) and before every
// later one (which finds nothing). Leaving the object to its last lease
// instead would let such a write succeed on a device already closed, whose
// block then never comes back done. The object dies on the closing thread,
// outside the lock, when the closer drops what Close handed back. A thread
// must not close a handle it holds a lease on; no layer's call does.
#pragma once

#include "platform/core/HandleTable.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace platform {

template <typename Handle, typename T>
class HandleRegistry {
public:
    // A share of a live object for the length of one call. The table still
    // holds the object while any lease is out, so a lease never destroys it.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept
            : m_owner(std::exchange(other.m_owner, nullptr)), m_object(std::move(other.m_object))
        {
        }
        Lease& operator=(Lease&&) = delete;
        ~Lease()
        {
            if (!m_object)
                return;
            // Dropped under the lock, so a close waiting for the last lease
            // cannot look between the drop and the wake-up.
            std::lock_guard guard(m_owner->m_lock);
            m_object.reset();
            m_owner->m_released.notify_all();
        }

        explicit operator bool() const { return m_object != nullptr; }
        T* operator->() const { return m_object.get(); }
        T& operator*() const { return *m_object; }

    private:
        friend class HandleRegistry;
        Lease(HandleRegistry* owner, std::shared_ptr<T> object) : m_owner(owner), m_object(std::move(object)) {}

        HandleRegistry* m_owner = nullptr;
        std::shared_ptr<T> m_object;
    };

    // What Close did: nothing (no live handle), or kept the object because
    // it may not go yet, or took it out (and hands over the last share).
    struct Closed {
        bool live = false;
        std::shared_ptr<T> object;
    };

    explicit HandleRegistry(std::uintptr_t first) : m_table(first) {}
    HandleRegistry(const HandleRegistry&) = delete;
    HandleRegistry& operator=(const HandleRegistry&) = delete;

    Handle Insert(std::shared_ptr<T> object)
    {
        std::lock_guard guard(m_lock);
        return m_table.Insert(std::move(object));
    }

    // make(handle) builds the object filed under it, under the lock: it must
    // not call into this registry.
    template <typename Make>
    Handle InsertMade(Make&& make)
    {
        std::lock_guard guard(m_lock);
        return m_table.InsertMade([&](Handle handle) { return std::shared_ptr<T>(make(handle)); });
    }

    // A lease on the object of a live handle, or an empty one.
    Lease Find(Handle handle)
    {
        std::lock_guard guard(m_lock);
        const std::shared_ptr<T>* found = m_table.Find(handle);
        return found ? Lease(this, *found) : Lease();
    }

    bool Contains(Handle handle)
    {
        std::lock_guard guard(m_lock);
        return m_table.Contains(handle);
    }

    bool WasIssued(Handle handle)
    {
        std::lock_guard guard(m_lock);
        return m_table.WasIssued(handle);
    }

    // Once no lease on the handle is out, runs last(object) under the lock
    // and takes the object out when it returns true. last is where a layer
    // does what must be atomic with the close: asking whether the object may
    // go, or handing over a final answer. It must be short and must not call
    // into this registry.
    template <typename Last>
    Closed Close(Handle handle, Last&& last)
    {
        std::unique_lock lock(m_lock);
        m_released.wait(lock, [&] {
            const std::shared_ptr<T>* found = m_table.Find(handle);
            return !found || found->use_count() == 1;
        });
        std::shared_ptr<T>* found = m_table.Find(handle);
        if (!found)
            return {};
        if (!last(**found))
            return {true, nullptr};
        return {true, m_table.Take(handle)};
    }

    Closed Close(Handle handle)
    {
        return Close(handle, [](const T&) { return true; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_released;
    HandleTable<Handle, std::shared_ptr<T>> m_table;
};

} // namespace platform
