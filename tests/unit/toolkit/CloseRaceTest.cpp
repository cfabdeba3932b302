// SPDX-License-Identifier: GPL-3.0-or-later
// A handle closed on one thread while another thread's call is using it: the
// call must see the handle either still open (and the close must then see
// what the call did) or already closed, never a freed object. Each case runs
// the pair at once many times; the instrumented runs (ThreadSanitizer and
// AddressSanitizer) report any touch of freed memory, the outcomes check the
// ordering.
#include "platform/mixer/Mixer.h"
#include "platform/core/NotifyWindow.h"
#include "platform/wave/MMSystem.h"
#include "platform/wave/MSAcm.h"
#include "platform/winsock/WinSock.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/WaveFormats.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

using namespace platform;
namespace ws = platform::winsock;

namespace {

// Each case: Open a handle, then Call and Close run at once; Ordered says
// whether the two results fit one order of the two; Finish cleans up.
struct WaveOutWrite {
    static constexpr int Rounds = 60;
    testsupport::AlsaRoute route{testsupport::AlsaRoute::Null};
    const TACMWaveFormat format = testsupport::PcmFormat(22050, 1, 16);
    std::vector<char> data = std::vector<char>(4096);
    WAVEHDR header{};
    HWAVEOUT h = nullptr;

    void Open()
    {
        ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        header = {};
        header.lpData = data.data();
        header.dwBufferLength = DWORD(data.size());
        ASSERT_EQ(waveOutPrepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
    }
    MMRESULT Call() { return waveOutWrite(h, &header, sizeof header); }
    MMRESULT Close() { return waveOutClose(h); }
    bool Ordered(MMRESULT call, MMRESULT close) const
    {
        if (call == MMSYSERR_NOERROR && close == MMSYSERR_NOERROR)
            return !(header.dwFlags & WHDR_INQUEUE); // played out before the close looked
        return (call == MMSYSERR_NOERROR && close == WAVERR_STILLPLAYING)
            || (call == MMSYSERR_INVALHANDLE && close == MMSYSERR_NOERROR);
    }
    void Finish(MMRESULT close)
    {
        if (close == WAVERR_STILLPLAYING) {
            ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        }
    }
};

struct AcmPrepare {
    static constexpr int Rounds = 400;
    const TACMWaveFormat pcm = testsupport::PcmFormat(22050, 1, 16);
    std::uint8_t source[64]{}, destination[64]{};
    ACMSTREAMHEADER header{};
    HACMSTREAM h = nullptr;

    void Open()
    {
        ASSERT_EQ(acmStreamOpen(&h, nullptr, &pcm, &pcm, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        header = {};
        header.cbStruct = sizeof header;
        header.pbSrc = source;
        header.pbDst = destination;
    }
    MMRESULT Call() { return acmStreamPrepareHeader(h, &header, 0); }
    MMRESULT Close() { return acmStreamClose(h, 0); }
    bool Ordered(MMRESULT call, MMRESULT close) const
    {
        return (call == MMSYSERR_NOERROR && close == ACMERR_BUSY)
            || (call == MMSYSERR_INVALHANDLE && close == MMSYSERR_NOERROR);
    }
    void Finish(MMRESULT close)
    {
        if (close == ACMERR_BUSY) {
            ASSERT_EQ(acmStreamUnprepareHeader(h, &header, 0), MMSYSERR_NOERROR);
            ASSERT_EQ(acmStreamClose(h, 0), MMSYSERR_NOERROR);
        }
    }
};

struct MixerDetails {
    static constexpr int Rounds = 400;
    MIXERCONTROLDETAILS_SIGNED values[2]{};
    MIXERCONTROLDETAILS details{sizeof details, 1, 2, 0, sizeof values[0], values};
    HMIXER h = nullptr;

    void Open() { ASSERT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR); }
    MMRESULT Call() { return mixerGetControlDetailsA(h, &details, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE); }
    MMRESULT Close() { return mixerClose(h); }
    bool Ordered(MMRESULT call, MMRESULT close) const
    {
        return (call == MMSYSERR_NOERROR || call == MMSYSERR_INVALHANDLE) && close == MMSYSERR_NOERROR;
    }
    void Finish(MMRESULT) {}
};

// The lookup's own completion on its helper thread races a cancel from each
// of two threads; once a cancel has returned, the caller frees the buffer.
struct LookupCancel {
    static constexpr int Rounds = 400;
    NotifyWindow window{NotifyWindow::Handler{}};
    std::unique_ptr<char[]> buffer;
    ws::HANDLE task = 0;

    void Open()
    {
        buffer = std::make_unique<char[]>(ws::MAXGETHOSTSTRUCT);
        task = ws::WSAAsyncGetHostByName(window.Handle(), WM_USER, "127.0.0.1", buffer.get(), ws::MAXGETHOSTSTRUCT);
        ASSERT_NE(task, ws::HANDLE(0));
    }
    int Call() { return ws::WSACancelAsyncRequest(task); }
    int Close() { return ws::WSACancelAsyncRequest(task); }
    bool Ordered(int call, int close) const { return call == 0 && close == 0; }
    void Finish(int) { buffer.reset(); }
};

// Busy for up to some tens of microseconds, to shift one side of a race.
void Spin(int steps)
{
    for (std::atomic<int> i{0}; i.load(std::memory_order_relaxed) < steps * 500;)
        i.fetch_add(1, std::memory_order_relaxed);
}

// Runs a() here and b() on another thread, both woken for the same moment,
// with one side held back a little more each round so that both orders and
// the moments between them come up.
template <typename A, typename B>
auto AtOnce(int round, A&& a, B&& b)
{
    const auto start = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
    const int lag = round / 2 % 64;
    decltype(b()) second{};
    std::thread other([&] {
        std::this_thread::sleep_until(start);
        Spin(round % 2 ? lag : 0);
        second = b();
    });
    std::this_thread::sleep_until(start);
    Spin(round % 2 ? 0 : lag);
    auto first = a();
    other.join();
    return std::pair(first, second);
}

template <typename Case>
class CloseRace : public ::testing::Test {
protected:
    Case registry;
};

struct CaseNames {
    template <typename T>
    static std::string GetName(int)
    {
        if constexpr (std::is_same_v<T, WaveOutWrite>) return "WaveOutWrite";
        if constexpr (std::is_same_v<T, AcmPrepare>) return "AcmPrepare";
        if constexpr (std::is_same_v<T, MixerDetails>) return "MixerDetails";
        return "LookupCancel";
    }
};

using Cases = ::testing::Types<WaveOutWrite, AcmPrepare, MixerDetails, LookupCancel>;
TYPED_TEST_SUITE(CloseRace, Cases, CaseNames);

TYPED_TEST(CloseRace, CallRacingCloseSeesTheHandleOpenOrClosedNeverFreed)
{
    auto& registry = this->registry;
    for (int round = 0; round < TypeParam::Rounds; ++round) {
        registry.Open();
        ASSERT_FALSE(this->HasFatalFailure());
        const auto [call, close] = AtOnce(round, [&] { return registry.Call(); }, [&] { return registry.Close(); });
        ASSERT_TRUE(registry.Ordered(call, close)) << "round " << round << ": call " << call << ", close " << close;
        registry.Finish(close);
        ASSERT_FALSE(this->HasFatalFailure());
    }
}

} // namespace
