#include "Mp3FileSource.h"

#include "Log.h"
#include "Text.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace station {

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

bool EndsWith(const std::string& s, std::string_view suffix)
{
    if (s.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    }
    return true;
}

} // namespace

Mp3FileSource::Mp3FileSource(const std::vector<std::string>& paths, const StationFormat& format)
{
    if (paths.empty())
        throw std::runtime_error("the playlist names no .mp3 file");
    double seconds = 0;
    double bytes = 0;
    for (const std::string& path : paths) {
        tracks_.push_back(LoadTrack(path, format));
        for (const AudioFrame& f : tracks_.back().frames) {
            seconds += f.seconds;
            bytes += double(f.bytes->size());
        }
    }
    format_ = *ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(tracks_[0].frames[0].bytes->data()));
    averageBytesPerSecond_ = int(bytes / seconds + 0.5);
}

Mp3FileSource::Track Mp3FileSource::LoadTrack(const std::string& path, const StationFormat& format) const
{
    FrameSplitter splitter;
    splitter.Push(ReadFile(path));
    splitter.Finish();
    Track track;
    while (auto frame = splitter.Next()) {
        const FrameHeader& h = frame->header;
        if (h.sampleRate != format.sampleRate || h.channels != format.channels) {
            throw std::runtime_error(path + ": " + std::to_string(h.sampleRate) + " Hz, "
                                     + std::to_string(h.channels) + " channel(s); this station sends "
                                     + std::to_string(format.sampleRate) + " Hz, "
                                     + std::to_string(format.channels) + " channel(s)");
        }
        track.frames.push_back({std::make_shared<const std::string>(std::move(frame->bytes)), h.Seconds()});
    }
    if (track.frames.empty())
        throw std::runtime_error(path + ": no MPEG audio frames found");
    track.title = splitter.Title();
    if (track.title.empty())
        track.title = Utf8ToCp1252(std::filesystem::path(path).stem().string());
    double seconds = 0;
    for (const AudioFrame& f : track.frames)
        seconds += f.seconds;
    LogLine(path + ": " + std::to_string(track.frames.size()) + " frames, " + std::to_string(int(seconds + 0.5))
            + " s; " + std::to_string(splitter.SkippedBytes()) + " bytes of tags and other data skipped");
    return track;
}

std::vector<std::string> Mp3FileSource::ReadPlaylist(const std::string& path)
{
    std::istringstream lines(ReadFile(path));
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<std::string> entries;
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (!EndsWith(line, ".mp3"))
            throw std::runtime_error(path + ": only .mp3 entries can be played: " + line);
        const std::filesystem::path entry(line);
        entries.push_back((entry.is_absolute() ? entry : folder / entry).string());
    }
    return entries;
}

AudioFrame Mp3FileSource::Next()
{
    if (frame_ == tracks_[track_].frames.size()) {
        frame_ = 0;
        track_ = (track_ + 1) % tracks_.size();
    }
    return tracks_[track_].frames[frame_++];
}

} // namespace station
