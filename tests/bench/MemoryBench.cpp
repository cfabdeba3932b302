// SPDX-License-Identifier: GPL-3.0-or-later
// The client's memory over an hour of play: the real main window plays one
// hour of 24 kbit/s MP3 from a scripted station on 127.0.0.1, faster than real
// time, through the same path as always (stream socket, the window's read
// handler, TACMOut, the wave layer's decoder and ALSA, here its null device,
// which plays at once). The station sends no faster than the client's queue
// takes, so nothing is dropped and every second of the hour is decoded.
// Prints the resident memory every ten minutes of audio and its growth.
//
// Usage: memory_bench [MINUTES of audio, default 60]
// (any Qt platform; without a display: QT_QPA_PLATFORM=offscreen)
#include "app/Demo2Client.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/WaveFormats.h"
#include "wire/StreamRecords.h"

#include <QApplication>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double ResidentMiB()
{
    return double(testsupport::ResidentKib()) / 1024.0;
}

std::string HeaderBytes()
{
    TStreamHeader header{};
    header.StationName[0] = 6;
    std::memcpy(header.StationName + 1, "Stunde", 6);
    header.FormatIn = testsupport::MpegFormat();
    header.FormatOut = testsupport::PcmFormat(11025, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// Presses Play and returns the connection that greeted as the stream channel.
testsupport::LoopbackPeer Connect(TfmMain& form, testsupport::LoopbackServer& server,
                                  testsupport::LoopbackPeer& info)
{
    const std::string greeting(wire::StreamGreeting);
    testsupport::WaitUntil([&] { return form.Adressliste->Count() == 1 && form.btnconnect->isEnabled(); }, 15000);
    form.Adressliste->setCurrentIndex(0);
    QTest::mouseClick(form.btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
    testsupport::LoopbackPeer a = server.Accept();
    testsupport::LoopbackPeer b = server.Accept();
    testsupport::WaitUntil([&] { return a.Waiting() >= greeting.size() || b.Waiting() >= greeting.size(); });
    const bool aIsStream = a.Waiting() >= greeting.size();
    info = std::move(aIsStream ? b : a);
    testsupport::LoopbackPeer stream = std::move(aIsStream ? a : b);
    stream.Receive(greeting.size());
    return stream;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;

    // One minute of MP3, sent again and again: whole frames, so the copies join.
    const std::vector<std::uint8_t> minute = testsupport::EncodeMp3({11025, 2, 24, 60.0});

    testsupport::LoopbackServer server;
    testsupport::MainWindowHarness h;
    h.directory.body = QStringLiteral("127.0.0.1:%1,Stunde\r\n").arg(server.Port()).toLatin1();
    TfmMain& form = h.Create();
    form.show();
    // Time runs faster here, and the rate readout is what reads the stream
    // once audio flows: it ticks as often as a faster clock would make it.
    form.KBPSTimer->SetInterval(20);
    testsupport::LoopbackPeer info;
    testsupport::LoopbackPeer stream = Connect(form, server, info);
    if (!stream.Valid() || !stream.Send(HeaderBytes())) {
        std::fprintf(stderr, "the client did not connect\n");
        return 1;
    }

    // What the client has handed to its device; the rest of what was sent is
    // still in the socket or waiting in TACMOut, and must fit its queue.
    std::uint64_t delivered = 0, sent = 0;
    auto write = form.ACMO->Calls.Write;
    form.ACMO->Calls.Write = [&, write](auto device, auto* header, auto size) {
        delivered += header->dwBufferLength;
        return write(device, header, size);
    };
    const auto start = std::chrono::steady_clock::now();
    const double startMiB = ResidentMiB();
    double tenMinuteMiB = startMiB;
    double peakMiB = startMiB;
    std::printf("minute   RSS MiB\n     0   %7.1f\n", startMiB);
    constexpr std::size_t Block = 1460;
    for (int m = 1; m <= minutes; ++m) {
        for (std::size_t at = 0; at < minute.size(); at += Block) {
            // Never beyond what the client's queue holds, so nothing is dropped:
            // all that is not at the device yet, plus the device's share.
            if (!testsupport::WaitUntil([&] { return sent - delivered + form.ACMO->DeviceLimit() + 2 * Block
                                                  <= form.ACMO->QueueLimit(); },
                                        60000)) {
                std::fprintf(stderr, "the client stopped playing\n");
                return 1;
            }
            const std::size_t n = std::min(Block, minute.size() - at);
            if (!stream.Send(std::string(reinterpret_cast<const char*>(minute.data() + at), n))) {
                std::fprintf(stderr, "the client closed the stream\n");
                return 1;
            }
            sent += n;
            QCoreApplication::processEvents();
        }
        peakMiB = std::max(peakMiB, ResidentMiB());
        if (m == 10)
            tenMinuteMiB = ResidentMiB();
        if (m % 10 == 0 || m == minutes)
            std::printf("%6d   %7.1f\n", m, ResidentMiB());
        std::fflush(stdout);
    }
    testsupport::WaitUntil([&] { return form.ACMO->HeldBytes() == 0; }, 60000);
    const double endMiB = ResidentMiB();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("audio played:            %d min in %.0f s (%.0fx real time), %llu bytes dropped\n", minutes, wall,
                minutes * 60.0 / wall, static_cast<unsigned long long>(form.ACMO->DroppedBytes()));
    std::printf("RSS growth over the run: %+.2f MiB (%.1f -> %.1f)\n", endMiB - startMiB, startMiB, endMiB);
    if (minutes > 10)
        std::printf("RSS growth after 10 min: %+.2f MiB   (target: flat)\n", endMiB - tenMinuteMiB);
    std::printf("RSS peak:                %.1f MiB   (target <= 30 MiB)\n", peakMiB);
    return 0;
}
