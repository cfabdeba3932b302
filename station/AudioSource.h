// SPDX-License-Identifier: GPL-3.0-or-later
// Where a station's MPEG frames come from. A source never runs dry: files and
// playlists loop, generated signals go on forever, and a live upstream that
// fails is bridged with silence. The interface is used on the station's one
// thread only; a source may read on a thread of its own behind it.
#pragma once

#include "MpegFrame.h"

#include <memory>
#include <string>

namespace station {

// A frame as it is broadcast: shared by every listener queue that holds it.
struct AudioFrame {
    std::shared_ptr<const std::string> bytes;
    double seconds = 0;
};

// The station's output format: MPEG audio already in it is relayed frame for
// frame, anything else is encoded to it. With copyBitrate, any MPEG audio is
// relayed as it comes and the stream's format is the upstream's own.
struct StationFormat {
    int sampleRate = 11025;
    int channels = 2;
    int bitrateKbps = 24;
    bool copyBitrate = false;
};

// How a source plays what it is given, beside the format.
struct SourceSettings {
    bool shuffle = false; // folders and playlists in a random order, new at each round
};

// Empty when Layer III can carry the format (its sample rates, 1 or 2 channels,
// a bitrate of the rate's MPEG version); else what is wrong, for the user.
std::string FormatProblem(const StationFormat& format);

class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual AudioFrame Next() = 0;
    // Header of the stream's frames, for the stream header record.
    virtual const FrameHeader& Format() const = 0;
    // Mean bytes per second of the stream (differs from bitrate/8 only for VBR files).
    virtual int AverageBytesPerSecond() const { return Format().bitrate / 8; }
    // The title of what plays now, Windows-1252; may be empty.
    virtual std::string Title() const = 0;
};

// Builds the source named on the command line: "tone", "melody", a file of
// any format FFmpeg reads, an .m3u or .pls playlist, a folder, or an http or
// https stream (or playlist URL). Throws std::runtime_error with a message fit
// for the user, naming the source, when it cannot be opened.
std::unique_ptr<AudioSource> MakeSource(const std::string& name, const StationFormat& format,
                                        const SourceSettings& settings = {});

} // namespace station
