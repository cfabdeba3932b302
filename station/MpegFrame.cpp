// SPDX-License-Identifier: GPL-3.0-or-later
#include "MpegFrame.h"

#include "Text.h"

#include <cstring>

namespace station {

namespace {

// Bitrates in kbit/s by [table][index]; index 0 (free format) and 15 are invalid.
constexpr int Bitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 Layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2/2.5 Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2/2.5 Layer II/III
};

constexpr int SampleRates[3] = {44100, 48000, 32000}; // MPEG-1; halved for 2, quartered for 2.5

// Frames start with 0xFF, tags with "ID3" or "TAG".
bool MayStartUnit(char byte)
{
    return static_cast<std::uint8_t>(byte) == 0xFF || byte == 'I' || byte == 'T';
}

const std::uint8_t* Bytes(const std::string& s, std::size_t pos)
{
    return reinterpret_cast<const std::uint8_t*>(s.data()) + pos;
}

std::uint32_t SynchSafe(const std::uint8_t* p)
{
    return std::uint32_t(p[0] & 0x7F) << 21 | std::uint32_t(p[1] & 0x7F) << 14
         | std::uint32_t(p[2] & 0x7F) << 7 | std::uint32_t(p[3] & 0x7F);
}

std::uint32_t BigEndian(const std::uint8_t* p, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// An ID3 text frame body: one encoding byte, then the text.
std::string DecodeId3Text(std::string_view body)
{
    if (body.empty())
        return {};
    const auto encoding = static_cast<std::uint8_t>(body[0]);
    std::string_view text = body.substr(1);
    std::string out;
    if (encoding == 1 || encoding == 2)
        return Utf16ToCp1252(text, true);
    out = encoding == 3 ? Utf8ToCp1252(text) : std::string(text); // Latin-1 passes as is
    if (const auto nul = out.find('\0'); nul != std::string::npos)
        out.resize(nul);
    return out;
}

std::string JoinTitle(const std::string& artist, const std::string& title)
{
    if (artist.empty() || title.empty())
        return artist.empty() ? title : artist;
    return artist + " - " + title;
}

// The title and artist of an ID3v2.2/2.3/2.4 tag held whole in `tag`.
std::string Id3v2Title(std::string_view tag)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(tag.data());
    const int major = p[3];
    std::size_t pos = 10;
    if (major >= 3 && (p[5] & 0x40) && tag.size() >= 14) // extended header
        pos += major == 4 ? SynchSafe(p + 10) : BigEndian(p + 10, 4) + 4;
    const std::size_t headerBytes = major == 2 ? 6 : 10;
    std::string title, artist;
    while (pos + headerBytes <= tag.size() && p[pos] != 0) {
        const std::string_view id = tag.substr(pos, major == 2 ? 3 : 4);
        const std::size_t size = major == 2 ? BigEndian(p + pos + 3, 3)
                               : major == 4 ? SynchSafe(p + pos + 4) : BigEndian(p + pos + 4, 4);
        if (size > tag.size() - pos - headerBytes)
            break;
        const std::string_view body = tag.substr(pos + headerBytes, size);
        if (id == "TIT2" || id == "TT2")
            title = DecodeId3Text(body);
        else if (id == "TPE1" || id == "TP1")
            artist = DecodeId3Text(body);
        pos += headerBytes + size;
    }
    return JoinTitle(artist, title);
}

std::string TrimmedField(std::string_view field)
{
    std::string s(field.substr(0, field.find('\0')));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

int FrameHeader::UnpaddedBytes() const
{
    if (layer == 1)
        return 12 * bitrate / sampleRate * 4;
    const int factor = (layer == 3 && version != 10) ? 72 : 144;
    return factor * bitrate / sampleRate;
}

bool FrameHeader::SameStream(const FrameHeader& other) const
{
    return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
}

std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;

    FrameHeader h;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - layerBits;
    const int table = h.version == 10 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.bitrate = Bitrates[table][bitrateIndex] * 1000;
    h.sampleRate = SampleRates[rateIndex] / (h.version == 10 ? 1 : h.version == 20 ? 2 : 4);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    h.padding = (p[2] >> 1) & 1;
    h.crc = (p[1] & 1) == 0;
    h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 10) ? 576 : 1152;
    h.frameBytes = h.UnpaddedBytes() + (h.padding ? (h.layer == 1 ? 4 : 1) : 0);
    return h;
}

bool IsVbrHeaderFrame(std::string_view frame, const FrameHeader& header)
{
    if (header.layer != 3)
        return false;
    const std::size_t sideInfo = header.version == 10 ? (header.channels == 1 ? 17 : 32)
                                                      : (header.channels == 1 ? 9 : 17);
    const std::size_t xing = 4 + sideInfo + (header.crc ? 2 : 0);
    auto tagAt = [&](std::size_t pos, std::string_view tag) {
        return frame.size() >= pos + tag.size() && frame.substr(pos, tag.size()) == tag;
    };
    return tagAt(xing, "Xing") || tagAt(xing, "Info") || tagAt(36, "VBRI");
}

void FrameSplitter::Push(std::string_view bytes)
{
    Compact();
    buffer_.append(bytes);
}

std::optional<Frame> FrameSplitter::Next()
{
    Frame frame;
    for (;;) {
        switch (TryFrame(frame)) {
        case Step::Frame:
            return frame;
        case Step::NeedMore:
            return std::nullopt;
        case Step::Skipped:
            break;
        }
    }
}

FrameSplitter::Step FrameSplitter::TryFrame(Frame& out)
{
    const std::size_t available = buffer_.size() - pos_;
    if (available < 4) {
        if (finished_) {
            skipped_ += available;
            pos_ = buffer_.size();
        }
        return Step::NeedMore;
    }
    if (!MayStartUnit(buffer_[pos_])) {
        SkipNoise();
        return Step::Skipped;
    }
    if (buffer_.compare(pos_, 3, "ID3") == 0 || buffer_.compare(pos_, 3, "TAG") == 0) {
        const TagResult tag = SkipTag();
        if (tag == TagResult::Skipped)
            return Step::Skipped;
        if (tag == TagResult::Incomplete && !finished_)
            return Step::NeedMore;
    }
    const auto header = ParseFrameHeader(Bytes(buffer_, pos_));
    if (!header) {
        SkipByte();
        return Step::Skipped;
    }
    // A frame right after the previous one of the same stream is trusted;
    // after anything else the next header must confirm it.
    const bool trusted = last_ && last_->SameStream(*header);
    const std::size_t end = pos_ + header->frameBytes;
    if (end > buffer_.size() || (end + 4 > buffer_.size() && !finished_ && !trusted)) {
        if (!finished_)
            return Step::NeedMore;
        SkipByte();
        return Step::Skipped;
    }
    if (!trusted && end + 4 <= buffer_.size() && buffer_.compare(end, 3, "ID3") != 0
        && buffer_.compare(end, 3, "TAG") != 0) {
        const auto following = ParseFrameHeader(Bytes(buffer_, end));
        if (!following || !following->SameStream(*header)) {
            SkipByte();
            return Step::Skipped;
        }
    }
    std::string bytes = buffer_.substr(pos_, header->frameBytes);
    pos_ = end;
    last_ = header;
    if (IsVbrHeaderFrame(bytes, *header)) {
        skipped_ += bytes.size();
        return Step::Skipped;
    }
    out.header = *header;
    out.bytes = std::move(bytes);
    return Step::Frame;
}

// Skips a whole ID3v2 or ID3v1 tag at pos_ and keeps its title.
FrameSplitter::TagResult FrameSplitter::SkipTag()
{
    const std::size_t available = buffer_.size() - pos_;
    const auto* p = Bytes(buffer_, pos_);
    if (p[0] == 'I') {
        if (available < 10)
            return TagResult::Incomplete;
        if (p[3] < 2 || p[3] > 4 || ((p[6] | p[7] | p[8] | p[9]) & 0x80))
            return TagResult::NotATag;
        const std::size_t size = 10 + SynchSafe(p + 6) + ((p[5] & 0x10) ? 10 : 0);
        if (available < size)
            return TagResult::Incomplete;
        if (const std::string t = Id3v2Title(std::string_view(buffer_).substr(pos_, size)); !t.empty())
            title_ = t;
        pos_ += size;
        skipped_ += size;
        return TagResult::Skipped;
    }
    if (available < 128)
        return TagResult::Incomplete;
    const std::string_view tag = std::string_view(buffer_).substr(pos_, 128);
    // ID3v1 fields are short and often truncated: they only stand in for a missing ID3v2 title.
    if (title_.empty())
        title_ = JoinTitle(TrimmedField(tag.substr(33, 30)), TrimmedField(tag.substr(3, 30)));
    pos_ += 128;
    skipped_ += 128;
    return TagResult::Skipped;
}

// Skips, in one go, the run of bytes at pos_ that can start neither a frame
// nor a tag: garbage between frames costs one test per byte. It stops where
// fewer than 4 bytes are left, as skipping byte by byte does.
void FrameSplitter::SkipNoise()
{
    const std::size_t end = buffer_.size() - 3;
    std::size_t at = pos_;
    while (at < end && !MayStartUnit(buffer_[at]))
        ++at;
    skipped_ += at - pos_;
    pos_ = at;
    last_.reset();
}

void FrameSplitter::SkipByte()
{
    ++pos_;
    ++skipped_;
    last_.reset();
}

void FrameSplitter::Compact()
{
    if (pos_ > 0 && pos_ * 2 >= buffer_.size()) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
}

} // namespace station
