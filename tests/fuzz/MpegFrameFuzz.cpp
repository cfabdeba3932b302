// SPDX-License-Identifier: GPL-3.0-or-later
// The station's frame splitter over arbitrary bytes pushed in arbitrary
// pieces: whatever it hands out must be a whole frame that starts with a valid
// header of exactly that frame's size, and it must neither lose nor invent
// bytes (frames plus skipped bytes never exceed what was pushed).
#include "MpegFrame.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <string_view>

using station::FrameSplitter;

namespace {

std::size_t TakeFrames(FrameSplitter& splitter)
{
    std::size_t bytes = 0;
    while (auto frame = splitter.Next()) {
        FUZZ_CHECK(frame->bytes.size() >= 4);
        FUZZ_CHECK(int(frame->bytes.size()) == frame->header.frameBytes);
        const auto header = station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(frame->bytes.data()));
        FUZZ_CHECK(header.has_value());
        FUZZ_CHECK(header->frameBytes == frame->header.frameBytes);
        bytes += frame->bytes.size();
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the piece size, so reads split anywhere are covered.
    const std::size_t piece = 1 + data[0] % 64 * 7;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    FrameSplitter splitter;
    std::size_t taken = 0;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        splitter.Push(bytes.substr(at, piece));
        taken += TakeFrames(splitter);
    }
    splitter.Finish();
    taken += TakeFrames(splitter);
    FUZZ_CHECK(taken + splitter.SkippedBytes() <= bytes.size());
    return 0;
}
