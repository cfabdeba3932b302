// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG audio frame headers and a splitter that cuts a byte stream into whole
// frames. The splitter skips everything that is not audio: ID3v2 and ID3v1
// tags, Xing/Info/VBRI header frames and stray bytes between frames. It is a
// plain value type with no threading of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace station {

struct FrameHeader {
    int version = 0;          // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;            // 1, 2 or 3
    int bitrate = 0;          // bits per second
    int sampleRate = 0;       // samples per second
    int channels = 0;         // 1 or 2
    bool padding = false;
    bool crc = false;
    int frameBytes = 0;       // the whole frame, header included
    int samplesPerFrame = 0;

    double Seconds() const { return double(samplesPerFrame) / sampleRate; }
    // The frame size at this bitrate and rate without the padding slot.
    int UnpaddedBytes() const;
    bool SameStream(const FrameHeader& other) const;
};

// Decodes the 4 header bytes at p; empty for anything that is not a valid
// header (bad sync, reserved version/layer, free or bad bitrate, bad rate).
std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* p);

// True when a Layer III frame carries a Xing, Info or VBRI header instead of audio.
bool IsVbrHeaderFrame(std::string_view frame, const FrameHeader& header);

struct Frame {
    FrameHeader header;
    std::string bytes;
};

class FrameSplitter {
public:
    void Push(std::string_view bytes);
    // The next whole audio frame. Until Finish() is called a frame is only
    // taken once the header after it has arrived too, so stray sync-like bytes
    // cannot be mistaken for a frame.
    std::optional<Frame> Next();
    // No more bytes follow: the last frame is taken without a successor.
    void Finish() { finished_ = true; }
    // Title from the last ID3 tag passed, as Windows-1252 ("Artist - Title").
    const std::string& Title() const { return title_; }
    std::size_t SkippedBytes() const { return skipped_; }

private:
    enum class Step { Frame, Skipped, NeedMore };
    enum class TagResult { Skipped, Incomplete, NotATag };
    Step TryFrame(Frame& out);
    TagResult SkipTag();
    void SkipByte();
    void SkipNoise();
    void Compact();

    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t skipped_ = 0;
    bool finished_ = false;
    std::optional<FrameHeader> last_; // the frame that ended at pos_, if any
    std::string title_;
};

} // namespace station
