// TACMOut plays a stream of audio blocks through the wave output.
//
// GUI thread only. Opened once per stream on its format record; the first
// NumBuffers blocks are held back (pre-roll), then every block goes to the
// device as it arrives. Each block is kept until the device reports it done
// (MM_WOM_DONE on the component's NotifyWindow) or Close releases it.
#pragma once

#include "platform/toolkit/Exception.h"
#include "platform/toolkit/NotifyWindow.h"
#include "platform/wave/MMSystem.h"
#include "wire/StreamRecords.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

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

    static TWaveOutCalls Platform();
};

using TBufferPlayedEvent = std::function<void(QObject* Sender, platform::PWaveHdr Header)>;

class TACMOut : public QObject {
    Q_OBJECT
    Q_PROPERTY(int NumBuffers READ NumBuffers WRITE SetNumBuffers)

public:
    // What the component holds at most; a block beyond it is dropped.
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
    std::size_t HeldBytes() const { return m_heldBytes; }
    std::uint64_t DroppedBlocks() const { return m_droppedBlocks; }
    platform::HWAVEOUT DeviceHandle() const { return m_deviceHandle; }
    const TACMWaveFormat& Format() const { return m_format; }
    platform::HWND NotifyWindow() const { return m_notifyWindow->Handle(); }

    // The calls made to the wave output; tests replace them.
    TWaveOutCalls Calls = TWaveOutCalls::Platform();

private:
    struct Block {
        platform::WAVEHDR header{};
        std::unique_ptr<char[]> data;
    };

    platform::LRESULT WndProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);
    void Submit(platform::PWaveHdr header);
    void BufferDone(platform::PWaveHdr header);
    void ReleaseHeader(platform::PWaveHdr header);
    std::list<std::unique_ptr<Block>>::iterator FindLive(platform::PWaveHdr header);
    static void RaiseOnError(const char* name, platform::MMRESULT code);

    bool m_active = false;
    std::uint8_t m_prerollCount = 0;
    std::vector<platform::PWaveHdr> m_pendingHeaders;
    std::uint8_t m_numBuffers = 4;
    std::list<std::unique_ptr<Block>> m_liveHeaders;
    TACMWaveFormat m_format{};
    platform::HWAVEOUT m_deviceHandle = nullptr;
    std::unique_ptr<platform::NotifyWindow> m_notifyWindow;
    std::size_t m_heldBytes = 0;
    std::uint64_t m_droppedBlocks = 0;
};
