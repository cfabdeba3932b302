// Loops over the frames of one MP3 file or of the MP3 files of a playlist.
// Everything is read and split into frames when the source is built, so a
// broken or mismatching file is refused at start-up, never on the air.
#pragma once

#include "AudioSource.h"

#include <string>
#include <vector>

namespace station {

class Mp3FileSource : public AudioSource {
public:
    // Throws std::runtime_error when a file cannot be read, holds no frames,
    // or its rate or channel count differs from the station's.
    Mp3FileSource(const std::vector<std::string>& paths, const StationFormat& format);

    // The .mp3 entries of an .m3u playlist, relative ones resolved against its folder.
    static std::vector<std::string> ReadPlaylist(const std::string& path);

    AudioFrame Next() override;
    const FrameHeader& Format() const override { return format_; }
    int AverageBytesPerSecond() const override { return averageBytesPerSecond_; }
    std::string Title() const override { return tracks_[track_].title; }

private:
    struct Track {
        std::string title;
        std::vector<AudioFrame> frames;
    };
    Track LoadTrack(const std::string& path, const StationFormat& format) const;

    std::vector<Track> tracks_;
    std::size_t track_ = 0;
    std::size_t frame_ = 0;
    FrameHeader format_;
    int averageBytesPerSecond_ = 0;
};

} // namespace station
