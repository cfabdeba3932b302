#include "audio/ACMOut.h"

#include <algorithm>
#include <cstring>

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
            waveOutWrite, waveOutReset, waveOutClose};
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
    // A peer that sends faster than real time must not grow us without end.
    if (m_heldBytes + Size + sizeof(Block) > MaxHeldBytes) {
        ++m_droppedBlocks;
        return;
    }
    auto block = std::make_unique<Block>();
    block->data = std::make_unique<char[]>(Size);
    std::memcpy(block->data.get(), Data, Size);
    block->header.lpData = block->data.get();
    block->header.dwBufferLength = Size;
    block->header.dwLoops = 1;
    PWaveHdr header = &block->header;
    m_liveHeaders.push_back(std::move(block));
    m_heldBytes += Size + sizeof(Block);

    m_pendingHeaders.push_back(header);
    if (m_prerollCount > 0) {
        --m_prerollCount;
        return;
    }
    // Oldest first. Each header leaves the list before it is submitted, so
    // after a failure nothing is written twice and the rest goes out with
    // the next block.
    while (!m_pendingHeaders.empty()) {
        PWaveHdr next = m_pendingHeaders.front();
        m_pendingHeaders.erase(m_pendingHeaders.begin());
        Submit(next);
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
    m_heldBytes -= (*found)->header.dwBufferLength + sizeof(Block);
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
