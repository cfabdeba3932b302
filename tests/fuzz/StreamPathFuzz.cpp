// SPDX-License-Identifier: GPL-3.0-or-later
// The stream channel's bytes after the greeting (after one byte that picks
// the size of the network reads): the 514-byte header whose
// input format opens the wave output, then whatever the peer sends as audio,
// through the format holder, the wave output component and the wave layer's
// decoder thread into ALSA's null device. Absurd formats must be refused and
// garbage audio decoded or skipped, never crash, hang or leak a block. The
// same byte decides whether the device plays everything out or the listener
// stops while blocks are still queued, the two ways a stream ends.
#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "tests/fuzz/FuzzApplication.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/AlsaRoute.h"
#include "wire/StreamRecords.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstring>

namespace {

// Blocks as network reads bring them; the first input byte's low six bits
// pick the size, so the device sees many small blocks as well as a few large ones.
std::size_t BlockBytes(std::uint8_t choice)
{
    return 16 + choice % 64 * 32;
}

bool PlaysOut(std::uint8_t choice)
{
    return (choice & 0x40) == 0;
}

// Waits until the device has finished every block it was given. Blocks the
// component still holds back (its preroll) never reach the device, so they
// are not waited for. The loop sleeps until the next done notice, so the
// device thread has the processor to itself. The null device plays faster
// than real time, so a block that never comes back is a hang, and libFuzzer's
// -timeout reports it: a wall-clock limit of its own here would also fire
// when a fuzzer at idle priority merely waits for the processor.
void Drain(TACMOut& out)
{
    while (out.LiveCount() > out.PendingCount())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::Application();
    static testsupport::AlsaRoute route(testsupport::AlsaRoute::Null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 + sizeof(TStreamHeader))
        return 0;
    const std::size_t block = BlockBytes(data[0]);
    const bool playOut = PlaysOut(data[0]);
    ++data, --size;
    TStreamHeader header;
    std::memcpy(&header, data, sizeof header);
    TACMConvertor holder;
    holder.FormatIn = header.FormatIn;
    holder.FormatOut = header.FormatOut;
    TACMOut out;
    try {
        out.SetNumBuffers(4); // as the window has it
        out.Open(holder.FormatIn);
        for (std::size_t at = sizeof header; at < size; at += block)
            out.Play(data + at, std::uint32_t(std::min(block, size - at)));
        if (playOut)
            Drain(out);
    } catch (const platform::Exception&) {
        // A refused format or a failed write: the window drops that read.
    }
    out.Close(); // a stop with blocks queued resets the device, which must hand them all back
    FUZZ_CHECK(out.LiveCount() == 0 && out.PendingCount() == 0);
    return 0;
}
