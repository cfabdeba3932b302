// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the level meters: one VUTimerTimer tick of the main window (on the
// platform's software mixer, and on a fake mixer whose values change every
// tick so the bars really move), with the heap allocations counted during
// the ticks; and the device thread's peak tracking, in CPU time per second
// of 44.1 kHz stereo audio, written and read back in 20 ms chunks as the
// wave layer does.
//
// Usage: level_meter_bench [ticks, default 200000]
#include "app/Demo2Client.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/wave/PeakTracker.h"
#include "tests/support/FakeMixer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"

#include <QApplication>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> g_allocations{0};

void TimeTicks(const char* what, TfmMain& form, int ticks, const std::function<void(int)>& beforeTick)
{
    const std::uint64_t allocationsBefore = g_allocations;
    const double start = testsupport::ProcessCpuSeconds();
    for (int i = 0; i < ticks; ++i) {
        beforeTick(i);
        form.VUTimerTimer(&form);
    }
    const double seconds = testsupport::ProcessCpuSeconds() - start;
    std::printf("%-34s %8.0f ns per tick, %.3f allocations per tick\n", what, seconds / ticks * 1e9,
                double(g_allocations - allocationsBefore) / ticks);
}

void TimePeakTracking()
{
    constexpr unsigned rate = 44100, chunk = rate / 50, seconds = 600;
    std::vector<std::uint8_t> pcm(chunk * 4);
    for (unsigned i = 0; i < chunk * 2; ++i) {
        const auto v = std::int16_t(20000 * std::sin(i * 0.01));
        pcm[2 * i] = std::uint8_t(v & 0xff);
        pcm[2 * i + 1] = std::uint8_t((v >> 8) & 0xff);
    }
    platform::wave::PeakTracker tracker;
    const platform::wave::PcmLayout layout{rate, 2, 16};
    const auto now = platform::wave::PeakTracker::Clock::now();
    std::uint64_t frame = 0;
    unsigned sink = 0;
    const double start = testsupport::ProcessCpuSeconds();
    for (unsigned i = 0; i < seconds * 50; ++i) {
        tracker.Add(pcm.data(), chunk, layout, frame);
        frame += chunk;
        sink += tracker.Audible(frame - chunk / 2, now).left; // two reads per chunk, as the 10 ms poll does
        sink += tracker.Audible(frame, now).left;
    }
    const double cpu = testsupport::ProcessCpuSeconds() - start;
    std::printf("%-34s %8.1f us CPU per second of audio (%.4f %% of one core)  [%u]\n",
                "peak tracking, 44.1 kHz stereo", cpu / seconds * 1e6, cpu / seconds * 100, sink % 10);
}

} // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 200000;
    {
        testsupport::MainWindowHarness h;
        TfmMain& form = h.Create();
        TimeTicks("tick, software mixer (idle)", form, ticks, [](int) {});
    }
    {
        testsupport::FakeMixer fake;
        testsupport::FakeMixerDevice device;
        device.destinations = {testsupport::FakeLine::WithMeter()};
        fake.devices = {device};
        testsupport::ScopedMixerCalls use(fake.Calls());
        testsupport::MainWindowHarness h;
        TfmMain& form = h.Create();
        const auto move = [&](int i) {
            fake.devices[0].values[0] = -(i % 30000);
            fake.devices[0].values[1] = (i * 7) % 30000;
        };
        // Hidden, the bars take their positions without asking for a repaint;
        // shown, each moved bar asks Qt for one (Qt's update request is what
        // allocates then).
        TimeTicks("tick, moving values (hidden window)", form, ticks, move);
        form.show();
        TimeTicks("tick, moving values (shown window)", form, ticks, move);
    }
    TimePeakTracking();
    return 0;
}
