// SPDX-License-Identifier: GPL-3.0-or-later
// The stream channel's framing, counting and read pacing; see the header for
// the state model.
#include "app/StreamReader.h"

#include "audio/ACMOut.h"
#include "net/ScktComp.h"

#include <algorithm>
#include <cstring>
#include <limits>

void StreamReader::AwaitHeader()
{
    m_expectHeader = true;
    m_headerBytes.clear();
}

void StreamReader::Connected()
{
    m_bytesReceived = 0;
    m_lastSecond = 0;
    m_waitingAtReadout = 0;
    m_readPortion = 1;
}

void StreamReader::Disconnected()
{
    m_bytesReceived = 0;
    m_waitingAtReadout = 0;
}

bool StreamReader::AddHeaderBytes(const char* data, std::size_t size)
{
    m_headerBytes.append(data, std::min(size, HeaderBytesMissing()));
    if (m_headerBytes.size() < sizeof(TStreamHeader))
        return false;
    std::memcpy(&m_header, m_headerBytes.data(), sizeof m_header);
    m_headerBytes.clear();
    m_expectHeader = false;
    return true;
}

bool StreamReader::TakeHeader(TCustomWinSocket& socket)
{
    // The header may come in several reads; it is taken only whole.
    std::vector<char> chunk(HeaderBytesMissing());
    const int got = socket.ReceiveBytes(chunk.data(), static_cast<int>(chunk.size()));
    return AddHeaderBytes(chunk.data(), got > 0 ? std::size_t(got) : 0);
}

const std::vector<char>& StreamReader::ReadAudio(TCustomWinSocket& socket)
{
    // Asked once: bytes arriving meanwhile are read and counted next time.
    const int waiting = socket.BytesWaiting();
    CountReceived(waiting);
    m_audio.assign(static_cast<std::size_t>(std::max(waiting, 0)), 0);
    socket.ReceiveBytes(m_audio.data(), waiting);
    return m_audio;
}

void StreamReader::CountReceived(int bytes)
{
    const std::int64_t sum = std::int64_t(m_bytesReceived) + std::max(bytes, 0);
    m_bytesReceived = std::int32_t(std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
}

int StreamReader::AudioWaiting(TCustomWinSocket* socket) const
{
    if (m_expectHeader || !socket || !socket->IsConnected())
        return 0;
    return std::max(socket->BytesWaiting(), 0);
}

bool StreamReader::BacklogWaits(TCustomWinSocket* socket) const
{
    return m_readPortion > 1 && socket && socket->IsConnected() && !m_expectHeader && socket->BytesWaiting() > 0;
}

std::int64_t StreamReader::Readout(TCustomWinSocket* socket)
{
    // What was read in the second, and what came and still waits, less what
    // waited at the last readout (counted then). Reads come whenever the
    // pacing lets them, so bytes read alone would show one second's audio in
    // the next.
    const int waiting = AudioWaiting(socket);
    const std::int64_t arrived = std::max<std::int64_t>(0, std::int64_t(m_bytesReceived) + waiting - m_waitingAtReadout);
    m_waitingAtReadout = waiting;
    m_lastSecond = std::int32_t(std::min<std::int64_t>(arrived, std::numeric_limits<std::int32_t>::max()));
    m_bytesReceived = 0;
    return arrived;
}

int StreamReader::ReadPortion(std::uint32_t queuedMs, std::int32_t lastSecond)
{
    // While seconds of audio are queued ahead of what is heard, nothing is
    // gained by reading each station batch (ten a second) as it comes: the
    // read notice then waits for twice what the last readout second brought,
    // and each readout reads what waits below that, so the program wakes for
    // the stream about once a second. With less queued, a read that waits
    // could let the device run dry, so every arrival is read at once.
    constexpr std::uint32_t AmpleQueueMs = 2000;
    constexpr std::int64_t MaxPortion = 64 * 1024;
    if (queuedMs < AmpleQueueMs)
        return 1;
    return static_cast<int>(std::clamp<std::int64_t>(2 * std::int64_t(lastSecond), 1, MaxPortion));
}

void StreamReader::Pace(TCustomWinSocket* socket, TACMOut& out)
{
    // The queue is asked again after every read and every readout.
    if (!socket || !socket->IsConnected())
        return;
    const int mark = m_expectHeader ? 1 : ReadPortion(out.QueuedMilliseconds(), m_lastSecond);
    if (mark != m_readPortion && socket->SetReceiveLowWater(mark))
        m_readPortion = mark;
}
