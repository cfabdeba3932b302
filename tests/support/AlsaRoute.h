// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only routing of ALSA's "default" playback device, so that nothing in
// a test ever reaches a sound card. While an AlsaRoute lives, the process's
// ALSA configuration is a file of its own (through ALSA_CONFIG_PATH):
//  - Capture: "default" is the raw-format file plugin in front of the null
//    device; everything played lands byte for byte in CapturePath().
//  - NoDevice: no "default" PCM exists, as on a machine without sound.
//  - Null: "default" and "null" discard everything (benchmarks).
//  - Card: "default" behaves like a sound card (tests/support/alsa/
//    RealtimeSink.cpp): it plays in real time at the rate it is configured
//    for, so what the device reports as played follows the clock, a writer
//    that is ahead waits for room, and a card that runs dry underruns. What
//    is written to it lands in CapturePath() in order, or only its first
//    captureLimit bytes; each start and underrun is one of Events().
// ALSA notices the changed path at the next open. Routes do not nest.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <vector>

namespace testsupport {

class AlsaRoute {
public:
    enum Kind { Capture, NoDevice, Null, Card };

    explicit AlsaRoute(Kind kind = Capture, qint64 captureLimit = -1);
    ~AlsaRoute();
    AlsaRoute(const AlsaRoute&) = delete;
    AlsaRoute& operator=(const AlsaRoute&) = delete;

    QString ConfigPath() const;
    QString CapturePath() const;
    // Everything captured so far (complete once the device is closed).
    QByteArray Captured() const;

    // What a Card did: it started playing (frame: the first one heard from
    // then on, counted over every frame ever written to it), or it ran dry
    // (frame: where). Times are steady_clock's (CLOCK_MONOTONIC).
    struct Event {
        enum Kind { Start, Underrun } kind;
        std::chrono::steady_clock::time_point at;
        quint64 frame;
    };
    std::vector<Event> Events() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious;
};

} // namespace testsupport
