// SPDX-License-Identifier: GPL-3.0-or-later
// HandleTable: the registry behind every handle the platform layers hand out
// (notify windows, sockets, lookups, wave outputs, conversion streams, mixers).
// Each Insert takes the next number of a counter that only moves forward, so a
// handle, once freed, never names anything again: a late call or notice with a
// stale handle finds nothing instead of a newer object.
//
// Threading: a plain value type with no lock of its own. Each owner guards its
// table with the lock that already orders its other state (or keeps it on the
// GUI thread), because the checks around a lookup must be atomic with it.
#pragma once

#include <cstdint>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace platform {

template <typename Handle, typename T>
class HandleTable {
    static_assert(std::is_pointer_v<Handle> || std::is_integral_v<Handle>,
                  "handles are opaque pointers or numbers");

public:
    // The first handle handed out; numbers below it stay free for the layer's
    // own meanings (device indices, "no handle").
    explicit HandleTable(std::uintptr_t first) : m_first(first), m_next(first) {}

    // Files the value under a handle never handed out before.
    Handle Insert(T value)
    {
        const Handle handle = FromNumber(m_next++);
        m_items.emplace(handle, std::move(value));
        return handle;
    }

    // For values that must know their own handle: make(handle) builds the
    // value filed under it. A make that throws files nothing; its number is
    // spent all the same.
    template <typename Make>
    Handle InsertMade(Make&& make)
    {
        const Handle handle = FromNumber(m_next++);
        m_items.emplace(handle, make(handle));
        return handle;
    }

    // The value filed under a live handle, or null.
    T* Find(Handle handle)
    {
        const auto found = m_items.find(handle);
        return found == m_items.end() ? nullptr : &found->second;
    }

    bool Contains(Handle handle) const { return m_items.count(handle) != 0; }

    // Removes a live handle's value and hands it back (an empty T when the
    // handle is not live); Erase only says whether it was.
    T Take(Handle handle)
    {
        T value{};
        if (const auto found = m_items.find(handle); found != m_items.end()) {
            value = std::move(found->second);
            m_items.erase(found);
        }
        return value;
    }

    bool Erase(Handle handle) { return m_items.erase(handle) != 0; }

    // True for every handle this table has handed out, live or freed.
    bool WasIssued(Handle handle) const
    {
        const std::uintptr_t number = ToNumber(handle);
        return number >= m_first && number < m_next;
    }

    std::size_t Size() const { return m_items.size(); }

private:
    static Handle FromNumber(std::uintptr_t number)
    {
        if constexpr (std::is_pointer_v<Handle>)
            return reinterpret_cast<Handle>(number);
        else
            return static_cast<Handle>(number);
    }

    static std::uintptr_t ToNumber(Handle handle)
    {
        if constexpr (std::is_pointer_v<Handle>)
            return reinterpret_cast<std::uintptr_t>(handle);
        else
            return static_cast<std::uintptr_t>(handle);
    }

    std::uintptr_t m_first;
    // 64 bits that only count up: running out would take centuries of opens.
    std::uintptr_t m_next;
    std::unordered_map<Handle, T> m_items;
};

} // namespace platform
