// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/ACMOut.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <limits>

using namespace platform;

namespace {

constexpr UINT HeaderSize = sizeof(WAVEHDR);

const char* ErrorText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_BADDEVICEID: return " The specified resource does not exist.";
    case MMSYSERR_ALLOCATED: return " The specified resource is already in use.";
    case MMSYSERR_INVALHANDLE: return " The specified handle is invalid.";
    case MMSYSERR_NODRIVER: return " A suitable driver is not available to provide valid format selections.";
    case MMSYSERR_NOMEM: return " The system is unable to allocate resources.";
    case MMSYSERR_INVALFLAG: return " At least one flag is invalid.";
    case MMSYSERR_INVALPARAM: return " At least one parameter is invalid.";
    case WAVERR_BADFORMAT: return " Unsupported audio format.";
    case WAVERR_SYNC: return " The specified device does not support asynchronous operation.";
    case 512: return " The requested operation cannot be performed.";
    case 513: return " The conversion stream is already in use.";
    case 514: return " Cannot perform this action on a header that has not been prepared.";
    default: return nullptr;
    }
}

} // namespace

TWaveOutCalls TWaveOutCalls::Platform()
{
    return {waveOutOpen, waveOutPrepareHeader, waveOutUnprepareHeader,
            waveOutWrite, waveOutReset, waveOutClose, waveOutGetQueuedTime};
}

TACMOut::TACMOut(QObject* owner)
    : QObject(owner),
      m_notifyWindow(std::make_unique<platform::NotifyWindow>(
          [this](unsigned message, WPARAM wParam, LPARAM lParam) { return WndProc(message, wParam, lParam); }))
{
}

TACMOut::~TACMOut()
{
    if (m_active)
        Close();
    m_notifyWindow.reset(); // notices still queued for it are dropped
}

void TACMOut::RaiseOnError(const char* name, MMRESULT code)
{
    if (code == MMSYSERR_NOERROR)
        return;
    if (const char* text = ErrorText(code))
        throw EACMOut(QString::fromLatin1(name) + QString::fromLatin1(text));
    throw EACMOut(QString::asprintf("%s raised an unknown error (code #%d)", name, static_cast<int>(code)));
}

void TACMOut::Open(TACMWaveFormat Format)
{
    if (m_active)
        return;
    m_deviceHandle = nullptr;
    m_prerollCount = m_numBuffers;
    m_format = Format;
    const bool pcm = m_format.Format.wFormatTag == wire::WAVE_FORMAT_PCM;
    // Packed fields, read by value.
    const std::uint64_t bytesPerSecond = m_format.Format.nAvgBytesPerSec;
    const std::uint16_t blockAlign = m_format.Format.nBlockAlign;
    m_queueLimit = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(bytesPerSecond * QueueSeconds, MinQueueBytes, MaxHeldBytes));
    m_deviceLimit = m_queueLimit / QueueSeconds * DeviceSeconds;
    m_frameBytes = pcm ? std::max<std::uint16_t>(blockAlign, 1) : 1;
    const UINT device = pcm ? WAVE_MAPPER : 0;
    const DWORD flags = pcm ? CALLBACK_WINDOW : CALLBACK_WINDOW | WAVE_MAPPED;
    RaiseOnError("WaveOutOpen", Calls.Open(&m_deviceHandle, device, &m_format,
                                           m_notifyWindow->Handle(), 0, flags));
    m_active = true;
}

void TACMOut::Play(const void* Data, std::uint32_t Size)
{
    if (Size == 0 || !m_active)
        return;
    const std::uint32_t keep = MakeRoom(Size);
    m_droppedBytes += Size - keep;
    if (keep == 0) {
        ++m_droppedBlocks;
        return;
    }
    // When only the newest part fits, that is the part worth hearing. A long
    // read (a station's burst, a second's batch) becomes several blocks: each
    // is reported done once it is heard, so what is held follows what is
    // still to play, and live blocks are not dropped for audio long heard.
    const char* from = static_cast<const char*>(Data) + (Size - keep);
    const std::uint32_t piece = PieceBytes();
    for (std::uint32_t at = 0; at < keep; at += piece)
        Hold(from + at, std::min(piece, keep - at));

    if (m_prerollCount > 0) {
        --m_prerollCount; // counts reads, not the blocks made of them
        // PrerollMs held back already cover what the pre-roll is for; waiting
        // for more reads would only delay the start by a network tick each.
        if (m_heldBytes < m_queueLimit / QueueSeconds * PrerollMs / 1000)
            return;
        m_prerollCount = 0;
    }
    SubmitWaiting();
}

void TACMOut::Hold(const char* data, std::uint32_t size)
{
    auto block = std::make_unique<Block>();
    block->data = std::make_unique_for_overwrite<char[]>(size); // filled at once
    std::memcpy(block->data.get(), data, size);
    block->header.lpData = block->data.get();
    block->header.dwBufferLength = size;
    block->header.dwLoops = 1;
    m_pendingHeaders.push_back(block.get());
    m_liveHeaders.push_back(std::move(block));
    m_heldBytes += size;
}

std::uint32_t TACMOut::PieceBytes() const
{
    const std::size_t bytes = m_queueLimit / QueueSeconds * PieceMs / 1000;
    return static_cast<std::uint32_t>(std::max<std::size_t>(m_frameBytes, bytes / m_frameBytes * m_frameBytes));
}

std::uint32_t TACMOut::QueuedMilliseconds()
{
    if (!m_active)
        return 0;
    DWORD atDevice = 0;
    if (!Calls.GetQueuedTime || Calls.GetQueuedTime(m_deviceHandle, &atDevice) != MMSYSERR_NOERROR)
        atDevice = 0;
    std::uint64_t waiting = 0;
    for (const Block* block : m_pendingHeaders)
        waiting += block->header.dwBufferLength;
    const std::uint64_t bytesPerSecond = m_format.Format.nAvgBytesPerSec; // packed: by value
    const std::uint64_t waitingMs = bytesPerSecond ? waiting * 1000 / bytesPerSecond : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(atDevice + waitingMs, std::numeric_limits<std::uint32_t>::max()));
}

void TACMOut::SubmitWaiting()
{
    // Oldest first. The device gets a second block even beyond its share, so
    // one is always queued behind the one playing. Each block leaves the
    // list before it is submitted: after a failure nothing is written twice,
    // the failed block waits for Close and the rest go out later.
    std::uint64_t room = DeviceRoom();
    while (!m_pendingHeaders.empty() && (m_deviceBytes < m_deviceLimit || m_deviceBlocks < 2 || room > 0)) {
        Block* next = m_pendingHeaders.front();
        m_pendingHeaders.pop_front();
        Submit(&next->header);
        next->atDevice = true;
        m_deviceBytes += next->header.dwBufferLength;
        ++m_deviceBlocks;
        room -= std::min<std::uint64_t>(room, next->header.dwBufferLength);
    }
}

std::uint64_t TACMOut::DeviceRoom()
{
    // The blocks not reported done fill the device's share, but some may be
    // played already (their notices wait to go in a batch) or half played (a
    // burst's one long block): what the device says it has still to play
    // decides then, or the device runs dry while the rest waits here for
    // notices that come only once it has played everything.
    DWORD queuedMs = 0;
    if (m_deviceBytes < m_deviceLimit || !Calls.GetQueuedTime ||
        Calls.GetQueuedTime(m_deviceHandle, &queuedMs) != MMSYSERR_NOERROR)
        return 0;
    constexpr std::uint64_t ShareMs = DeviceSeconds * 1000;
    const std::uint64_t bytesPerSecond = m_deviceLimit / DeviceSeconds;
    return queuedMs >= ShareMs ? 0 : (ShareMs - queuedMs) * bytesPerSecond / 1000;
}

std::size_t TACMOut::Room() const
{
    // The bound is on audio still to be heard: of the blocks at the device,
    // only what it says it has still to play, since it reports blocks done in
    // batches, a second or more after they were heard. What is kept is
    // bounded apart, at KeptFactor times that.
    const std::size_t unheard = m_heldBytes - m_deviceBytes + std::min(m_deviceBytes, m_deviceUnheard);
    const auto keptLimit = static_cast<std::size_t>(KeptFactor * double(m_queueLimit));
    const std::size_t memory = m_heldBytes + (m_liveHeaders.size() + 1) * BlockOverhead;
    if (unheard >= m_queueLimit || m_heldBytes >= keptLimit || memory >= MaxHeldBytes)
        return 0;
    return std::min({m_queueLimit - unheard, keptLimit - m_heldBytes, MaxHeldBytes - memory});
}

void TACMOut::AskDeviceUnheard()
{
    DWORD queuedMs = 0;
    if (!Calls.GetQueuedTime || Calls.GetQueuedTime(m_deviceHandle, &queuedMs) != MMSYSERR_NOERROR) {
        m_deviceUnheard = SIZE_MAX; // every block at the device counts whole
        return;
    }
    const std::uint64_t bytesPerSecond = m_queueLimit / QueueSeconds;
    m_deviceUnheard = static_cast<std::size_t>(std::uint64_t(queuedMs) * bytesPerSecond / 1000);
}

std::uint32_t TACMOut::MakeRoom(std::uint32_t size)
{
    AskDeviceUnheard();
    // Audio the device has taken is never taken back; room comes from the
    // oldest waiting blocks.
    while (Room() < size && !m_pendingHeaders.empty())
        DropOldestWaiting();
    Realign();
    // Cut the new block's beginning so that it fits and everything dropped
    // so far stays a whole number of PCM frames.
    std::uint64_t cut = size - std::min<std::size_t>(size, Room());
    cut += (m_frameBytes - (m_droppedBytes + cut) % m_frameBytes) % m_frameBytes;
    return cut >= size ? 0 : static_cast<std::uint32_t>(size - cut);
}

void TACMOut::DropOldestWaiting()
{
    Block* oldest = m_pendingHeaders.front();
    m_pendingHeaders.pop_front();
    m_droppedBytes += oldest->header.dwBufferLength;
    ++m_droppedBlocks;
    ReleaseHeader(&oldest->header);
}

void TACMOut::Realign()
{
    // A PCM stream whose dropped part is not a whole number of frames would
    // shift every later sample; the oldest waiting block gives up the rest.
    while (!m_pendingHeaders.empty() && m_droppedBytes % m_frameBytes != 0) {
        WAVEHDR& oldest = m_pendingHeaders.front()->header;
        const std::uint64_t missing = m_frameBytes - m_droppedBytes % m_frameBytes;
        if (oldest.dwBufferLength <= missing) {
            DropOldestWaiting();
            continue;
        }
        oldest.lpData += missing; // not prepared yet: only this component looks at it
        oldest.dwBufferLength -= static_cast<DWORD>(missing);
        m_heldBytes -= static_cast<std::size_t>(missing);
        m_droppedBytes += missing;
    }
}

void TACMOut::Submit(PWaveHdr header)
{
    RaiseOnError("WaveOut-PrepareHeader", Calls.PrepareHeader(m_deviceHandle, header, HeaderSize));
    RaiseOnError("WaveOut-Write", Calls.Write(m_deviceHandle, header, HeaderSize));
}

LRESULT TACMOut::WndProc(unsigned message, WPARAM wParam, LPARAM lParam)
{
    // A notice of a device closed before the current one was opened may
    // still be queued; its header could share an address with a live block.
    if (message == MM_WOM_DONE && reinterpret_cast<HWAVEOUT>(wParam) == m_deviceHandle)
        BufferDone(reinterpret_cast<PWaveHdr>(lParam));
    return 0;
}

void TACMOut::BufferDone(PWaveHdr header)
{
    if (!m_active || FindLive(header) == m_liveHeaders.end())
        return;
    if (OnBufferPlayed)
        OnBufferPlayed(this, header);
    RaiseOnError("WaveOut-UnprepareHeader", Calls.UnprepareHeader(m_deviceHandle, header, HeaderSize));
    ReleaseHeader(header);
    if (m_prerollCount > 0)
        return;
    // The device has room again. A failure here is the audio path's, which
    // loses that block only; it is not worth an error box.
    try {
        SubmitWaiting();
    } catch (const EACMOut&) {
    }
}

std::list<std::unique_ptr<TACMOut::Block>>::iterator TACMOut::FindLive(PWaveHdr header)
{
    return std::find_if(m_liveHeaders.begin(), m_liveHeaders.end(),
                        [header](const std::unique_ptr<Block>& block) { return &block->header == header; });
}

void TACMOut::ReleaseHeader(PWaveHdr header)
{
    const auto found = FindLive(header);
    if (found == m_liveHeaders.end())
        return;
    Calls.UnprepareHeader(m_deviceHandle, header, HeaderSize);
    const Block& block = **found;
    m_heldBytes -= block.header.dwBufferLength;
    if (block.atDevice) {
        m_deviceBytes -= block.header.dwBufferLength;
        --m_deviceBlocks;
    }
    m_liveHeaders.erase(found);
}

void TACMOut::Close()
{
    if (!m_active)
        return;
    m_active = false;
    Calls.Reset(m_deviceHandle);
    Calls.Close(m_deviceHandle);
    m_pendingHeaders.clear();
    while (!m_liveHeaders.empty())
        ReleaseHeader(&m_liveHeaders.back()->header);
    m_deviceHandle = nullptr;
}
