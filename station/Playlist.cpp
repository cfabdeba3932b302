// SPDX-License-Identifier: GPL-3.0-or-later
#include "Playlist.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace station {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool EndsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

// Files a folder may hold besides music (covers, notes) are passed over.
bool IsAudioFile(const fs::path& path)
{
    static const char* const suffixes[] = {".mp3", ".mp2", ".flac", ".ogg", ".oga", ".opus", ".wav",
                                           ".m4a", ".aac", ".wma", ".mka", ".webm", ".aiff", ".aif"};
    const std::string ext = Lower(path.extension().string());
    return std::any_of(std::begin(suffixes), std::end(suffixes), [&](const char* s) { return ext == s; });
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && IsAudioFile(it->path()) && it->path().filename().string()[0] != '.')
            files.push_back(it->path().string());
    }
    if (ec)
        throw std::runtime_error("cannot read the folder " + folder + ": " + ec.message());
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open the playlist " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

std::string Resolve(const std::string& entry, const std::string& base)
{
    if (Playlist::IsUrl(entry) || base.empty())
        return entry;
    if (Playlist::IsUrl(base)) {
        const std::string url = base.substr(0, base.find('?'));
        return url.substr(0, url.rfind('/') + 1) + entry;
    }
    const fs::path path(entry);
    return path.is_absolute() ? entry : (fs::path(base) / path).string();
}

// "FileN=", "TitleN=", "NumberOfEntries=" and the like of a .pls text.
bool IsPlsKey(std::string_view line)
{
    const auto equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return false;
    const std::string key = Lower(line.substr(0, equals));
    static const char* const keys[] = {"file", "title", "length", "numberofentries", "version"};
    return std::any_of(std::begin(keys), std::end(keys), [&](const char* k) {
        return key.starts_with(k) && std::all_of(key.begin() + long(std::strlen(k)), key.end(),
                                                 [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    });
}

} // namespace

Playlist::Playlist(const std::string& name, bool shuffle)
    : shuffle_(shuffle)
{
    std::error_code ec;
    if (IsUrl(name))
        entries_ = {name};
    else if (fs::is_directory(name, ec))
        entries_ = FolderEntries(name);
    else if (IsPlaylistName(name))
        entries_ = ParseText(ReadText(name), fs::path(name).parent_path().string());
    else
        entries_ = {name};
    if (entries_.empty())
        throw std::runtime_error(name + " holds nothing to play");
    Shuffle();
}

void Playlist::Advance()
{
    if (++at_ < entries_.size())
        return;
    at_ = 0;
    Shuffle();
}

void Playlist::Shuffle()
{
    if (shuffle_)
        std::shuffle(entries_.begin(), entries_.end(), random_);
}

bool Playlist::IsUrl(std::string_view name)
{
    const std::string lower = Lower(name.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

bool Playlist::IsPlaylistName(std::string_view name)
{
    const std::string path = Lower(IsUrl(name) ? name.substr(0, name.find('?')) : name);
    return EndsWith(path, ".m3u") || EndsWith(path, ".m3u8") || EndsWith(path, ".pls");
}

std::vector<std::string> Playlist::ParseText(std::string_view text, const std::string& base)
{
    std::istringstream lines{std::string(text)};
    std::vector<std::string> entries;
    std::string line;
    bool pls = false;
    while (std::getline(lines, line)) {
        line = Trimmed(line);
        if (Lower(line) == "[playlist]")
            pls = true;
        if (line.empty() || line[0] == '#' || line[0] == '[')
            continue;
        if (pls || IsPlsKey(line)) {
            // .pls: "FileN=entry"; its other keys (TitleN, LengthN, ...) are not entries.
            if (!IsPlsKey(line) || !Lower(line).starts_with("file"))
                continue;
            line = Trimmed(std::string_view(line).substr(line.find('=') + 1));
            if (line.empty())
                continue;
        }
        entries.push_back(Resolve(line, base));
    }
    return entries;
}

} // namespace station
