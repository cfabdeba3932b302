// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion streams are bookkeeping only: the pair of formats and the
// number of prepared headers. GUI thread only; the handle set is guarded so
// that a stale handle is refused rather than followed.
#include "platform/wave/MSAcm.h"

#include "platform/core/HandleTable.h"
#include "platform/wave/WaveFormat.h"

#include <memory>
#include <mutex>

namespace platform {

namespace {

struct AcmStream {
    wave::StreamFormat source;
    wave::StreamFormat destination;
    std::uint32_t sourceBytesPerSec = 0;
    std::uint32_t destinationBytesPerSec = 0;
    unsigned destinationAlign = 1;
    unsigned prepared = 0;
};

struct StreamSet {
    std::mutex lock;
    HandleTable<HACMSTREAM, std::unique_ptr<AcmStream>> streams{0x3000};
};

StreamSet& Streams()
{
    static StreamSet set;
    return set;
}

AcmStream* Find(HACMSTREAM has)
{
    StreamSet& set = Streams();
    std::lock_guard guard(set.lock);
    const auto* found = set.streams.Find(has);
    return found ? found->get() : nullptr;
}

MMRESULT CheckPair(const WAVEFORMATBUFFER& source, const WAVEFORMATBUFFER& destination, AcmStream& out)
{
    if (wave::ParseFormat(source, out.source) != MMSYSERR_NOERROR ||
        wave::ParseFormat(destination, out.destination) != MMSYSERR_NOERROR)
        return ACMERR_NOTPOSSIBLE;
    if (out.destination.coding != wave::Coding::Pcm)
        return ACMERR_NOTPOSSIBLE;
    out.sourceBytesPerSec = source.Format.nAvgBytesPerSec;
    out.destinationBytesPerSec = destination.Format.nAvgBytesPerSec;
    out.destinationAlign = destination.Format.nBlockAlign;
    if (out.sourceBytesPerSec == 0)
        return ACMERR_NOTPOSSIBLE;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, void* driver, const WAVEFORMATBUFFER* source,
                       const WAVEFORMATBUFFER* destination, void* filter, DWORD_PTR callback,
                       DWORD_PTR instance, DWORD flags)
{
    if (!source || !destination || driver || filter)
        return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG; // no callbacks: nothing here is asynchronous
    auto stream = std::make_unique<AcmStream>();
    if (const MMRESULT rc = CheckPair(*source, *destination, *stream))
        return rc;
    if (flags & ACM_STREAMOPENF_QUERY)
        return MMSYSERR_NOERROR;
    if (!phas)
        return MMSYSERR_INVALPARAM;
    StreamSet& set = Streams();
    std::lock_guard guard(set.lock);
    *phas = set.streams.Insert(std::move(stream));
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD input, DWORD* output, DWORD flags)
{
    const AcmStream* stream = Find(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!output || input == 0)
        return MMSYSERR_INVALPARAM;
    if (flags != ACM_STREAMSIZEF_SOURCE && flags != ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    std::uint64_t from = stream->sourceBytesPerSec, to = stream->destinationBytesPerSec;
    if (flags == ACM_STREAMSIZEF_DESTINATION)
        std::swap(from, to);
    // Rounded up to whole blocks, plus one block of slack for a frame that
    // straddles the buffer end.
    const std::uint64_t align = stream->destinationAlign ? stream->destinationAlign : 1;
    std::uint64_t bytes = (std::uint64_t(input) * to + from - 1) / from;
    bytes = (bytes + align - 1) / align * align + align;
    if (bytes > 0xFFFFFFFFu)
        return ACMERR_NOTPOSSIBLE;
    *output = static_cast<DWORD>(bytes);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags)
{
    AcmStream* stream = Find(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER) || !header->pbSrc || !header->pbDst)
        return MMSYSERR_INVALPARAM;
    if (header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        return MMSYSERR_NOERROR;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    ++stream->prepared;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags)
{
    AcmStream* stream = Find(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (flags)
        return MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    --stream->prepared;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD flags)
{
    if (flags)
        return MMSYSERR_INVALFLAG;
    StreamSet& set = Streams();
    std::lock_guard guard(set.lock);
    const auto* found = set.streams.Find(has);
    if (!found)
        return MMSYSERR_INVALHANDLE;
    if ((*found)->prepared > 0)
        return ACMERR_BUSY;
    set.streams.Erase(has);
    return MMSYSERR_NOERROR;
}

} // namespace platform
