// SPDX-License-Identifier: GPL-3.0-or-later
// The main window against peers that misbehave on purpose. Each test ends
// with the same questions, asked by Vitals(): the window still answers a
// posted call within a bound a loaded machine meets, no error box was shown,
// and resident memory grew by no more than the test's bound.
#pragma once

#include "app/Demo2Client.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace hostile {

// The bound for a posted call: generous, because CI shares two cores with
// other builds; a frozen window misses it by far. Under the sanitizers the
// window's own work takes about three times as long (a 200 MiB directory
// flood alone kept it busy for 1.6-2.0 s), so the bound grows with it.
constexpr double AnswerBoundMs = 2000 * SENDOLIN_TEST_SLOWDOWN;

class HostileWindowTest : public ::testing::Test {
protected:
    // Shows the window; the directory lists `server` as the one station.
    void ShowWindow();
    // From here on the window's answers are timed: call it once the test's
    // own material is made, which would otherwise count as the window's delay.
    void StartProbe();
    // Stops the probe and checks the window's health; prints the figures.
    void Vitals(std::size_t memoryBoundKib);

    testsupport::MainWindowHarness h;
    testsupport::AlsaRoute route; // after the harness: the device's audio is captured
    testsupport::LoopbackServer server;
    TfmMain* form = nullptr;
    std::unique_ptr<testsupport::LatencyProbe> probe;
    std::size_t residentBefore = 0;
    std::size_t residentPeak = 0;
};

// Sends everything from the calling (non-GUI) thread, waiting while the
// socket is full; false once the peer is gone.
bool SendAll(int fd, const char* data, std::size_t size);
inline bool SendAll(int fd, const std::string& bytes) { return SendAll(fd, bytes.data(), bytes.size()); }

// The number of quarter-second windows of 16-bit stereo audio at `rate` in
// which the tone `hz` is at least ten times stronger than `other`.
int ToneWindows(const QByteArray& pcm, int rate, double hz, double other);

} // namespace hostile
