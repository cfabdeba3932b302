// SPDX-License-Identifier: GPL-3.0-or-later
// The peers an owner sends to (a broadcaster's listeners, a board's readers),
// keyed by address so that a peer that ended can find and remove itself.
// Holds the only long-lived reference to each; a peer taken out lives on
// just as long as its pending handlers. Used on the station's one thread.
#pragma once

#include <memory>
#include <unordered_map>

namespace station {

template <class T>
class PeerSet {
public:
    void Add(std::shared_ptr<T> peer)
    {
        T* raw = peer.get();
        peers_.emplace(raw, std::move(peer));
    }

    // Takes the peer out and closes it; null when it was out already.
    std::shared_ptr<T> Remove(const T* peer)
    {
        const auto it = peers_.find(const_cast<T*>(peer));
        if (it == peers_.end())
            return nullptr;
        std::shared_ptr<T> taken = std::move(it->second);
        peers_.erase(it);
        taken->Close();
        return taken;
    }

    void CloseAll()
    {
        for (auto& [raw, peer] : peers_)
            peer->Close();
        peers_.clear();
    }

    // `visit` must not add or remove peers.
    template <class F>
    void ForEach(F&& visit)
    {
        for (auto& [raw, peer] : peers_)
            visit(*peer);
    }

    std::size_t Size() const { return peers_.size(); }

private:
    std::unordered_map<T*, std::shared_ptr<T>> peers_;
};

} // namespace station
