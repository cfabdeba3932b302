// SPDX-License-Identifier: GPL-3.0-or-later
// TACMOut plays a stream of audio blocks through the wave output.
//
// GUI thread only. Opened once per stream on its format record; the first
// NumBuffers blocks are held back (pre-roll), or fewer once they hold
// PrerollSeconds of audio, then every block goes to the device as it
// arrives. Each block is kept until the device reports it done (MM_WOM_DONE
// on the component's NotifyWindow) or Close releases it.
//
// What it holds and is not heard yet is bounded by playing time (QueueLimit,
// from the format's byte rate; the device says how much of its part it has
// still to play); a read is held as blocks of at most PieceMs, so that what is
// held follows what is still to play. The device takes DeviceLimit of it,
// or more while it says it has less than its share still to play; the rest
// waits in arrival order and goes to the device as done notices or later
// blocks find room. When a
// new block does not fit, the oldest waiting audio is dropped, so that after
// a burst playback catches up with the live stream instead of lagging
// behind it for good.
#pragma once

#include "platform/toolkit/Exception.h"
#include "platform/core/NotifyWindow.h"
#include "platform/wave/MMSystem.h"
#include "wire/StreamRecords.h"

#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>

class EACMOut : public platform::Exception {
public:
    using Exception::Exception;
};

// The wave output calls the component makes; the platform's by default.
struct TWaveOutCalls {
    std::function<platform::MMRESULT(platform::HWAVEOUT*, platform::UINT, const TACMWaveFormat*,
                                      platform::DWORD_PTR, platform::DWORD_PTR, platform::DWORD)> Open;
    std::function<platform::MMRESULT(platform::HWAVEOUT, platform::WAVEHDR*, platform::UINT)> PrepareHeader;
    std::function<platform::MMRESULT(platform::HWAVEOUT, platform::WAVEHDR*, platform::UINT)> UnprepareHeader;
    std::function<platform::MMRESULT(platform::HWAVEOUT, platform::WAVEHDR*, platform::UINT)> Write;
    std::function<platform::MMRESULT(platform::HWAVEOUT)> Reset;
    std::function<platform::MMRESULT(platform::HWAVEOUT)> Close;
    std::function<platform::MMRESULT(platform::HWAVEOUT, platform::DWORD*)> GetQueuedTime;

    static TWaveOutCalls Platform();
};

using TBufferPlayedEvent = std::function<void(QObject* Sender, platform::PWaveHdr Header)>;

class TACMOut : public QObject {
    Q_OBJECT
    Q_PROPERTY(int NumBuffers READ NumBuffers WRITE SetNumBuffers)

public:
    // Playing time held at most (device and waiting together), and the part
    // of it the device takes; a couple of seconds of the queue stay waiting,
    // where they can still be dropped. The device's share covers its own
    // second of buffer, the done notices it holds back for a while, and
    // blocks ready for when it makes room.
    static constexpr unsigned QueueSeconds = 5;
    static constexpr unsigned DeviceSeconds = 3;
    // The pre-roll also ends once the held-back blocks hold PrerollMs of
    // audio: a station's burst comes in one read, and a live stream's
    // batches come a tenth of a second apart; the device gathers its own
    // start threshold anyway, so holding more here only delays the sound.
    static constexpr unsigned PrerollMs = 200;
    // The bound never goes below MinQueueBytes (a format with no or a tiny
    // byte rate) and the memory held, blocks' bookkeeping included, never
    // above MaxHeldBytes (an absurd byte rate).
    static constexpr std::size_t MinQueueBytes = 8u * 1024;
    // The bound is on audio not heard yet; blocks are kept until the device
    // reports them done, so what is kept may be up to this many times more.
    static constexpr double KeptFactor = 1.5;
    // A read is held as blocks of at most this playing time.
    static constexpr unsigned PieceMs = 250;
    static constexpr std::size_t MaxHeldBytes = 16u * 1024 * 1024;

    Q_INVOKABLE explicit TACMOut(QObject* owner = nullptr);
    ~TACMOut() override;

    void Open(TACMWaveFormat Format);
    void Play(const void* Data, std::uint32_t Size);
    void Close();

    bool Active() const { return m_active; }
    int NumBuffers() const { return m_numBuffers; }
    void SetNumBuffers(int value) { m_numBuffers = static_cast<std::uint8_t>(value); }

    TBufferPlayedEvent OnBufferPlayed;

    std::uint8_t PrerollCount() const { return m_prerollCount; }
    std::size_t LiveCount() const { return m_liveHeaders.size(); }
    std::size_t PendingCount() const { return m_pendingHeaders.size(); }
    // Audio bytes of every live block, and of those written to the device
    // and not yet done.
    std::size_t HeldBytes() const { return m_heldBytes; }
    std::size_t DeviceBytes() const { return m_deviceBytes; }
    std::size_t QueueLimit() const { return m_queueLimit; }
    // Playing time queued ahead of what is heard: what the device reports
    // plus the blocks still held here, at the format's byte rate. 0 while
    // closed.
    std::uint32_t QueuedMilliseconds();
    std::size_t DeviceLimit() const { return m_deviceLimit; }
    // Blocks dropped whole, and every audio byte dropped (whole blocks and
    // the cut-off beginnings of blocks).
    std::uint64_t DroppedBlocks() const { return m_droppedBlocks; }
    std::uint64_t DroppedBytes() const { return m_droppedBytes; }
    platform::HWAVEOUT DeviceHandle() const { return m_deviceHandle; }
    const TACMWaveFormat& Format() const { return m_format; }
    platform::HWND NotifyWindow() const { return m_notifyWindow->Handle(); }

    // The calls made to the wave output; tests replace them.
    TWaveOutCalls Calls = TWaveOutCalls::Platform();

private:
    struct Block {
        platform::WAVEHDR header{};
        std::unique_ptr<char[]> data;
        bool atDevice = false; // written, done notice still to come
    };
    // Bookkeeping per live block, counted against MaxHeldBytes.
    static constexpr std::size_t BlockOverhead = sizeof(Block) + 2 * sizeof(void*);

    platform::LRESULT WndProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);
    void Submit(platform::PWaveHdr header);
    void SubmitWaiting();
    // Bytes the device may take beyond its share of blocks not reported done.
    std::uint64_t DeviceRoom();
    std::size_t Room() const;
    // Queues one block for the device, after those waiting.
    void Hold(const char* data, std::uint32_t size);
    std::uint32_t PieceBytes() const;
    void AskDeviceUnheard();
    std::uint32_t MakeRoom(std::uint32_t size);
    void DropOldestWaiting();
    void Realign();
    void BufferDone(platform::PWaveHdr header);
    void ReleaseHeader(platform::PWaveHdr header);
    std::list<std::unique_ptr<Block>>::iterator FindLive(platform::PWaveHdr header);
    static void RaiseOnError(const char* name, platform::MMRESULT code);

    bool m_active = false;
    std::uint8_t m_prerollCount = 0;
    std::deque<Block*> m_pendingHeaders; // not written yet, oldest first
    std::uint8_t m_numBuffers = 4;
    std::list<std::unique_ptr<Block>> m_liveHeaders;
    TACMWaveFormat m_format{};
    platform::HWAVEOUT m_deviceHandle = nullptr;
    std::unique_ptr<platform::NotifyWindow> m_notifyWindow;
    std::size_t m_heldBytes = 0;
    std::size_t m_deviceBytes = 0;
    std::size_t m_deviceBlocks = 0;
    std::size_t m_deviceUnheard = SIZE_MAX; // bytes' worth the device has still to play, asked at each Play
    std::size_t m_queueLimit = MinQueueBytes;
    std::size_t m_deviceLimit = MinQueueBytes * DeviceSeconds / QueueSeconds;
    std::uint16_t m_frameBytes = 1; // PCM frames must not be split by a drop
    std::uint64_t m_droppedBlocks = 0;
    std::uint64_t m_droppedBytes = 0;
};
