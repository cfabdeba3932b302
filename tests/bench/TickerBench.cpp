// SPDX-License-Identifier: GPL-3.0-or-later
// What the info line costs the GUI thread: a new text (StopScroll, the new
// OriginalCaption, StartScroll and the paint that shows it, as a read on the
// info channel does) and a step of the window's scroll tick with its paint,
// for an ordinary short text and for texts of 1 KiB to 1 MiB. The main
// window is the real one, shown, with its skin and fonts. "letters" are
// printable ASCII words; "code page" are all bytes 0x20-0xFF of
// Windows-1252, whose controls, soft hyphen and undefined bytes the label
// cannot draw from its slices' glyphs.
//
// Usage (offscreen works; a display shows the X path):
//   ticker_bench [STEPS per size, default 100]
#include "app/Demo2Client.h"
#include "platform/toolkit/TTimer.h"
#include "platform/core/TextCodec.h"
#include "tests/support/MainWindowHarness.h"
#include "widgets/AnimLabel.h"

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// CPU time of the calling (GUI) thread, in milliseconds.
double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

std::string Letters(std::size_t size)
{
    static const char words[] = "Eine Melodie vom lokalen Sender, 24 kbit/s. ";
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = words[i % (sizeof words - 1)];
    return text;
}

std::string CodePage(std::size_t size)
{
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = char(0x20 + i % 0xE0);
    return text;
}

void Measure(TfmMain& form, const char* kind, const std::string& bytes, int steps)
{
    TAnimLabel& info = *form.Info;
    const double start = ThreadCpuMs();
    info.StopScroll();
    info.SetIntervall(100);
    info.SetOriginalCaption(platform::FromWin1252(bytes));
    info.StartScroll();
    QCoreApplication::processEvents(); // the paint that shows it
    const double newText = ThreadCpuMs() - start;
    double worst = 0;
    const double stepsStart = ThreadCpuMs();
    for (int i = 0; i < steps; ++i) {
        const double before = ThreadCpuMs();
        info.ScrollStep();
        QCoreApplication::processEvents();
        worst = std::max(worst, ThreadCpuMs() - before);
    }
    const double perStep = (ThreadCpuMs() - stepsStart) / steps;
    std::printf("%-9s %5.0f KiB: new text %8.2f ms (target <= 20), step %6.3f ms, worst %6.3f ms (target <= 2)\n",
                kind, double(bytes.size()) / 1024, newText, perStep, worst);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it comes
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::atoi(argv[1]) : 100;
    testsupport::MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        std::printf("the window was never exposed: the paints are not counted\n");
    form.Timer1->SetEnabled(false); // the bench steps the line itself
    Measure(form, "short", "Eine Melodie vom lokalen Sender", steps * 10); // an ordinary text
    for (const std::size_t kib : {1, 16, 64, 256, 1024}) {
        Measure(form, "letters", Letters(kib * 1024), steps);
        Measure(form, "code page", CodePage(kib * 1024), steps);
    }
    return 0;
}
