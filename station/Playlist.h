// SPDX-License-Identifier: GPL-3.0-or-later
// What a source name stands for: one file or URL, the entries of an .m3u or
// .pls playlist, or the audio files of a folder, played in turn and looped.
// A plain value used by one source's reader thread.
#pragma once

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace station {

class Playlist {
public:
    // Throws std::runtime_error naming `name` when it is a playlist or folder
    // that cannot be read or holds nothing to play.
    Playlist(const std::string& name, bool shuffle);

    // The entry to play now; Advance() moves to the next, starting a new
    // round (in a new order when shuffling) after the last.
    const std::string& Current() const { return entries_[at_]; }
    void Advance();
    std::size_t Size() const { return entries_.size(); }

    static bool IsUrl(std::string_view name);
    // An .m3u or .pls name, local or a URL (its query ignored).
    static bool IsPlaylistName(std::string_view name);
    // The entries of an .m3u or .pls text, relative ones resolved against `base`
    // (a folder path, or a URL whose last path segment is replaced).
    static std::vector<std::string> ParseText(std::string_view text, const std::string& base);

private:
    void Shuffle();

    std::vector<std::string> entries_;
    std::size_t at_ = 0;
    bool shuffle_ = false;
    std::mt19937 random_{std::random_device{}()};
};

} // namespace station
