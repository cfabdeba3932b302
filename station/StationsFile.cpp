// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationsFile.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>

namespace station {

namespace {

std::string_view Trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsWildcard(const std::string& host)
{
    return host.empty() || host == "0.0.0.0" || host == "::";
}

// Two listening sockets that the system would refuse to bind both of.
bool SameAddress(const HostPort& a, const HostPort& b)
{
    return a.port != 0 && a.port == b.port && (a.host == b.host || IsWildcard(a.host) || IsWildcard(b.host));
}

// One [section] while it is read, with the line of every key it set.
struct Section {
    std::string label;
    int line = 0;
    StationSettings settings;
    std::map<std::string, int> keyLines;
};

class Reader {
public:
    Reader(const std::string& path, const StationSettings& defaults, const std::optional<HostPort>& reserved)
        : path_(path), defaults_(defaults), reserved_(reserved) {}

    void Read(int number, std::string_view line)
    {
        line = Trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            return;
        if (line.front() == '[') {
            OpenSection(number, line);
            return;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || Trim(line.substr(0, equals)).empty())
            Fail(number, "", "'" + std::string(line) + "' is not a [section] or a KEY = VALUE line");
        SetKey(number, std::string(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1))));
    }

    std::vector<StationPlan> Finish()
    {
        if (section_)
            CloseSection();
        if (plans_.empty())
            throw StationsFileError(path_ + ": no station in it (a [section] with name, source and listen)");
        return std::move(plans_);
    }

private:
    [[noreturn]] void Fail(int line, const std::string& key, const std::string& what) const
    {
        throw StationsFileError(path_ + ":" + std::to_string(line) + ": " + (key.empty() ? "" : key + ": ") + what);
    }

    void OpenSection(int number, std::string_view line)
    {
        if (line.back() != ']' || Trim(line.substr(1, line.size() - 2)).empty())
            Fail(number, "", "'" + std::string(line) + "' is not a [section] line");
        if (section_)
            CloseSection();
        section_ = Section{std::string(Trim(line.substr(1, line.size() - 2))), number, defaults_, {}};
    }

    void SetKey(int number, const std::string& key, const std::string& value)
    {
        if (!section_)
            Fail(number, key, "comes before any [section]");
        if (const auto earlier = section_->keyLines.find(key); earlier != section_->keyLines.end() && key != "info")
            Fail(number, key, "already given on line " + std::to_string(earlier->second));
        if (value.empty()) // a name or text left blank is a slip, not a wish
            Fail(number, key, "needs a value");
        try {
            if (!SetStationKey(section_->settings, key, value))
                Fail(number, key, "unknown key");
        } catch (const UsageError& e) {
            Fail(number, key, e.what());
        }
        section_->keyLines.emplace(key, number);
    }

    // The checks that need the whole section, and against the stations before it.
    void CloseSection()
    {
        const Section s = std::move(*section_);
        section_.reset();
        const std::string where = "[" + s.label + "]";
        for (const char* key : {"name", "source", "listen"}) {
            if (!s.keyLines.contains(key))
                Fail(s.line, key, "missing in " + where);
        }
        if (const std::string problem = FormatProblem(s.settings.format); !problem.empty())
            FailFormat(s, problem);
        CheckUnique(s);
        plans_.push_back({s.settings, path_ + ":" + std::to_string(s.line), s.label});
        lines_.push_back(s.keyLines);
    }

    // Reported at the key that made the format impossible: the bitrate, if the section set one.
    void FailFormat(const Section& s, const std::string& problem) const
    {
        for (const char* key : {"bitrate", "rate", "channels"}) {
            if (const auto it = s.keyLines.find(key); it != s.keyLines.end())
                Fail(it->second, key, problem);
        }
        Fail(s.line, "rate", problem);
    }

    void CheckUnique(const Section& s) const
    {
        const int listenLine = s.keyLines.at("listen");
        if (reserved_ && SameAddress(s.settings.listen, *reserved_))
            Fail(listenLine, "listen", s.settings.listen.Text() + " is the directory's address");
        for (std::size_t i = 0; i < plans_.size(); ++i) {
            const StationSettings& other = plans_[i].settings;
            if (SameAddress(s.settings.listen, other.listen))
                Fail(listenLine, "listen", s.settings.listen.Text() + " is already taken on line "
                                               + std::to_string(lines_[i].at("listen")));
            if (s.settings.name == other.name)
                Fail(s.keyLines.at("name"), "name", "already the name of the station on line "
                                                        + std::to_string(lines_[i].at("name")));
        }
    }

    const std::string path_;
    const StationSettings defaults_;
    const std::optional<HostPort> reserved_;
    std::optional<Section> section_;
    std::vector<StationPlan> plans_;
    std::vector<std::map<std::string, int>> lines_; // key lines of each plan, for messages
};

} // namespace

std::vector<StationPlan> ParseStations(std::string_view text, const std::string& path,
                                       const StationSettings& defaults, const std::optional<HostPort>& reserved)
{
    if (text.starts_with("\xEF\xBB\xBF")) // a byte-order mark some editors write
        text.remove_prefix(3);
    Reader reader(path, defaults, reserved);
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        reader.Read(++number, line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return reader.Finish();
}

std::vector<StationPlan> ReadStationsFile(const std::string& path, const StationSettings& defaults,
                                          const std::optional<HostPort>& reserved)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw StationsFileError(path + ": is a folder, not a stations file");
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        throw StationsFileError(path + ": cannot be read");
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::exception& e) {
        throw StationsFileError(path + ": cannot be read: " + e.what());
    }
    return ParseStations(text, path, defaults, reserved);
}

} // namespace station
