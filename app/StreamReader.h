// SPDX-License-Identifier: GPL-3.0-or-later
// StreamReader: the stream channel's reading side. It frames the 514-byte
// header that follows the greeting, reads the audio after it, counts the
// arrivals for the rate readout and paces the reads: every arrival while
// little audio is queued ahead, otherwise one read about a second, through
// the socket's low-water mark.
//
// GUI thread only, driven by the window's socket and timer handlers. State
// runs header → audio from each Play; the counters restart with each
// connection and each readout second.
#pragma once

#include "wire/StreamRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TACMOut;
class TCustomWinSocket;

class StreamReader {
public:
    // Play was chosen: the next bytes of the stream channel are its header.
    void AwaitHeader();
    // The stream channel connected: nothing counted yet, and a new socket
    // reads every arrival.
    void Connected();
    // The channel closed: the readout's counts restart.
    void Disconnected();

    bool ExpectingHeader() const { return m_expectHeader; }
    // What the header still lacks; a read takes no more, so what follows it
    // stays waiting as audio.
    std::size_t HeaderBytesMissing() const { return sizeof(TStreamHeader) - m_headerBytes.size(); }
    // Adds header bytes as they came; true when that completed the header,
    // which is then Header() and audio comes next.
    bool AddHeaderBytes(const char* data, std::size_t size);
    // Reads what of the header waits; true when the header is complete.
    bool TakeHeader(TCustomWinSocket& socket);
    // Reads and counts all audio waiting now; bytes arriving meanwhile are
    // read and counted next time.
    const std::vector<char>& ReadAudio(TCustomWinSocket& socket);

    // Adds one read's bytes to the second's count. The sum stops at the
    // largest 32-bit count: more than 2 GiB within one second must not wrap
    // the readout negative.
    void CountReceived(int bytes);
    // Whether a readout should read first: bytes wait below a raised mark.
    bool BacklogWaits(TCustomWinSocket* socket) const;
    // Ends a readout second: the bytes that arrived in it, read or waiting.
    std::int64_t Readout(TCustomWinSocket* socket);
    // Sets the socket's low-water mark for what is queued ahead in `out`.
    void Pace(TCustomWinSocket* socket, TACMOut& out);
    // The mark for a queue of `queuedMs` and a last second of `lastSecond`
    // bytes: 1 (every arrival) until seconds are queued, then twice the last
    // second, at most 64 KiB.
    static int ReadPortion(std::uint32_t queuedMs, std::int32_t lastSecond);

    const TStreamHeader& Header() const { return m_header; }
    std::int32_t BytesSinceReadout() const { return m_bytesReceived; }
    int ReadPortion() const { return m_readPortion; }

private:
    // Audio bytes arrived and not read yet; 0 until the header is taken,
    // since what waits then is (partly) the header, never counted.
    int AudioWaiting(TCustomWinSocket* socket) const;

    bool m_expectHeader = false;
    std::string m_headerBytes;  // the header as far as it has arrived
    TStreamHeader m_header{};   // the last complete header
    std::vector<char> m_audio;  // the last read's audio
    std::int32_t m_bytesReceived = 0;
    std::int32_t m_lastSecond = 0; // what the last full readout second brought
    int m_waitingAtReadout = 0;    // unread audio bytes the last readout counted
    int m_readPortion = 1;         // the socket's low-water mark
};
