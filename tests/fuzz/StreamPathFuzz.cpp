// The stream channel's bytes after the greeting: the 514-byte header whose
// input format opens the wave output, then whatever the peer sends as audio,
// through the format holder, the wave output component and the wave layer's
// decoder thread into ALSA's null device. Absurd formats must be refused and
// garbage audio decoded or skipped, never crash, hang or leak a block.
#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "tests/fuzz/FuzzApplication.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/AlsaRoute.h"
#include "wire/StreamRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t BlockBytes = 1460; // what one network read brings

void Drain(TACMOut& out)
{
    // Let the device thread take what it was given; the null device plays
    // faster than real time, so this ends quickly unless something is stuck.
    QElapsedTimer waited;
    waited.start();
    while (out.LiveCount() > 0 && waited.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
    if (size < sizeof(TStreamHeader))
        return 0;
    TStreamHeader header;
    std::memcpy(&header, data, sizeof header);
    TACMConvertor holder;
    holder.FormatIn = header.FormatIn;
    holder.FormatOut = header.FormatOut;
    TACMOut out;
    try {
        out.SetNumBuffers(4);
        out.Open(holder.FormatIn);
        for (std::size_t at = sizeof header; at < size; at += BlockBytes)
            out.Play(data + at, std::uint32_t(std::min(BlockBytes, size - at)));
        Drain(out);
    } catch (const platform::Exception&) {
        // A refused format or a failed write: the window drops that read.
    }
    out.Close();
    FUZZ_CHECK(out.LiveCount() == 0 && out.PendingCount() == 0);
    return 0;
}
