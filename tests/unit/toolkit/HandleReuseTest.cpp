// SPDX-License-Identifier: GPL-3.0-or-later
// Every registry of the platform layers hands out handles that are never
// reused: once freed, a handle must not come back for a newer object (a late
// notice or call with it would reach the wrong one), and the layer must go on
// refusing it with its own error.
#include "platform/mixer/Mixer.h"
#include "platform/core/NotifyWindow.h"
#include "platform/wave/MMSystem.h"
#include "platform/wave/MSAcm.h"
#include "platform/winsock/WinSock.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/WaveFormats.h"

#include <gtest/gtest.h>
#include <memory>
#include <set>

using namespace platform;
namespace ws = platform::winsock;

namespace {

struct NotifyWindows {
    using Handle = HWND;
    std::vector<std::unique_ptr<NotifyWindow>> open;

    Handle Open()
    {
        open.push_back(std::make_unique<NotifyWindow>(NotifyWindow::Handler{}));
        return open.back()->Handle();
    }
    void Close(Handle h) { std::erase_if(open, [h](const auto& w) { return w->Handle() == h; }); }
    bool Refuses(Handle h) { return !NotifyWindow::Post(h, WM_USER, 0, 0); }
};

struct Sockets {
    using Handle = ws::SOCKET;
    Handle Open()
    {
        const Handle h = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
        EXPECT_NE(h, ws::INVALID_SOCKET);
        return h;
    }
    void Close(Handle h) { ASSERT_EQ(ws::closesocket(h), 0); }
    bool Refuses(Handle h) { return ws::closesocket(h) == ws::SOCKET_ERROR && ws::WSAGetLastError() == ws::WSAENOTSOCK; }
};

struct Lookups {
    using Handle = ws::HANDLE;
    // Cancelled lookups never write it again, so one buffer serves them all.
    char buffer[ws::MAXGETHOSTSTRUCT];
    NotifyWindow window{NotifyWindow::Handler{}};

    Handle Open() { return ws::WSAAsyncGetHostByName(window.Handle(), WM_USER, "127.0.0.1", buffer, sizeof buffer); }
    void Close(Handle h) { ASSERT_EQ(ws::WSACancelAsyncRequest(h), 0); }
    // A freed task can only be "already answered": cancelling it again is harmless.
    bool Refuses(Handle h) { return ws::WSACancelAsyncRequest(h) == 0; }
};

struct WaveOutputs {
    using Handle = HWAVEOUT;
    testsupport::AlsaRoute route{testsupport::AlsaRoute::Null};
    const TACMWaveFormat format = testsupport::PcmFormat(22050, 1, 16);

    Handle Open()
    {
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
    void Close(Handle h) { ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR); }
    bool Refuses(Handle h) { return waveOutClose(h) == MMSYSERR_INVALHANDLE && waveOutReset(h) == MMSYSERR_INVALHANDLE; }
};

struct ConversionStreams {
    using Handle = HACMSTREAM;
    const TACMWaveFormat pcm = testsupport::PcmFormat(22050, 1, 16);

    Handle Open()
    {
        HACMSTREAM h = nullptr;
        EXPECT_EQ(acmStreamOpen(&h, nullptr, &pcm, &pcm, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        return h;
    }
    void Close(Handle h) { ASSERT_EQ(acmStreamClose(h, 0), MMSYSERR_NOERROR); }
    bool Refuses(Handle h)
    {
        DWORD size = 0;
        return acmStreamClose(h, 0) == MMSYSERR_INVALHANDLE
            && acmStreamSize(h, 100, &size, ACM_STREAMSIZEF_SOURCE) == MMSYSERR_INVALHANDLE;
    }
};

struct Mixers {
    using Handle = HMIXER;
    Handle Open()
    {
        HMIXER h = nullptr;
        EXPECT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
    void Close(Handle h) { ASSERT_EQ(mixerClose(h), MMSYSERR_NOERROR); }
    bool Refuses(Handle h) { return mixerClose(h) == MMSYSERR_INVALHANDLE; }
};

template <typename Registry>
class HandleReuse : public ::testing::Test {
protected:
    Registry registry;
};

using Registries = ::testing::Types<NotifyWindows, Sockets, Lookups, WaveOutputs, ConversionStreams, Mixers>;
TYPED_TEST_SUITE(HandleReuse, Registries);

TYPED_TEST(HandleReuse, FreedHandleNeverComesBackAndStaysRefused)
{
    using Handle = typename TypeParam::Handle;
    auto& registry = this->registry;
    // Freed and opened again in turn, the pattern in which an allocator hands
    // the same address straight back.
    std::set<Handle> seen;
    for (int round = 0; round < 32; ++round) {
        const Handle h = registry.Open();
        ASSERT_TRUE(h) << "round " << round;
        EXPECT_TRUE(seen.insert(h).second) << "handle handed out twice in round " << round;
        registry.Close(h);
    }
    // Also while others are live: a gap left by a freed one is not filled.
    const Handle kept = registry.Open();
    const Handle freed = registry.Open();
    registry.Close(freed);
    const Handle next = registry.Open();
    EXPECT_TRUE(seen.insert(kept).second && seen.insert(freed).second && seen.insert(next).second);
    for (const Handle h : seen) {
        if (h != kept && h != next) {
            EXPECT_TRUE(registry.Refuses(h));
        }
    }
    registry.Close(kept);
    registry.Close(next);
}

} // namespace
