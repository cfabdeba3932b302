// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/ACMConvertor.h"

#include <QLoggingCategory>
#include <QtEndian>
#include <algorithm>
#include <cstring>

using namespace platform;

Q_LOGGING_CATEGORY(lcAudio, "sendolin.audio")

namespace {

const char* ErrorText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_INVALHANDLE: return " The specified handle is invalid.";
    case MMSYSERR_NODRIVER: return " A suitable driver is not available to provide valid format selections.";
    case MMSYSERR_NOMEM: return " The system is unable to allocate resources.";
    case MMSYSERR_INVALFLAG: return " At least one flag is invalid.";
    case MMSYSERR_INVALPARAM: return " At least one parameter is invalid.";
    case ACMERR_NOTPOSSIBLE: return " The requested operation cannot be performed.";
    case ACMERR_BUSY: return " The conversion stream is already in use.";
    case ACMERR_UNPREPARED: return " Cannot perform this action on a header that has not been prepared.";
    default: return nullptr;
    }
}

// 8-bit mono PCM at 22050 Hz; cbSize is 129 as it always has been, and is
// carried along unchecked.
TACMWaveFormat DefaultFormat()
{
    TACMWaveFormat format{};
    format.Format = {wire::WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129};
    return format;
}

} // namespace

TAcmCalls TAcmCalls::Platform()
{
    return {acmStreamOpen, acmStreamSize, acmStreamPrepareHeader, acmStreamUnprepareHeader,
            acmStreamClose};
}

TACMConvertor::TACMConvertor(QObject* owner)
    : QObject(owner), FormatIn(DefaultFormat()), FormatOut(DefaultFormat())
{
    SetInputBufferSize(2048);
    SetUseRealTime(false);
}

TACMConvertor::~TACMConvertor()
{
    // A failing close must not escape a destructor; the stream is then lost.
    try {
        SetActive(false);
    } catch (const EACMConvertor&) {
    }
}

void TACMConvertor::SetActive(bool Value)
{
    if (Value == m_active)
        return;
    if (Value)
        Open();
    else
        Close();
}

void TACMConvertor::SetUseRealTime(bool value)
{
    if (m_active)
        throw EACMConvertor("You cannot change the real time flag while active.");
    m_useRealTime = value;
}

void TACMConvertor::SetInputBufferSize(std::uint32_t value)
{
    if (m_active)
        throw EACMConvertor("You cannot change the buffer size while active.");
    m_inputBufferSize = value;
}

void TACMConvertor::RaiseOnError(const char* name, MMRESULT code)
{
    if (code == MMSYSERR_NOERROR)
        return;
    if (const char* text = ErrorText(code))
        throw EACMConvertor(QString::fromLatin1(name) + QString::fromLatin1(text));
    throw EACMConvertor(QString::asprintf("%s raised an unknown error (code #%d)", name, static_cast<int>(code)));
}

void TACMConvertor::Open()
{
    const DWORD flags = m_useRealTime ? 0 : ACM_STREAMOPENF_NONREALTIME;
    RaiseOnError("acmStreamOpen:", Calls.StreamOpen(&m_streamHandle, nullptr, &FormatIn, &FormatOut,
                                                    nullptr, 0, 0, flags));
    try {
        RaiseOnError("acmStreamSize:", Calls.StreamSize(m_streamHandle, m_inputBufferSize,
                                                        &m_outputBufferSize, ACM_STREAMSIZEF_SOURCE));
        m_sourceBuffer = std::make_unique<std::uint8_t[]>(m_inputBufferSize);
        m_destBuffer = std::make_unique<std::uint8_t[]>(m_outputBufferSize);
        m_streamHeader = {};
        m_streamHeader.cbStruct = sizeof(ACMSTREAMHEADER);
        m_streamHeader.pbSrc = m_sourceBuffer.get();
        m_streamHeader.cbSrcLength = m_inputBufferSize;
        m_streamHeader.pbDst = m_destBuffer.get();
        m_streamHeader.cbDstLength = m_outputBufferSize;
        RaiseOnError("acmStreamPrepareHeader:", Calls.PrepareHeader(m_streamHandle, &m_streamHeader, 0));
    } catch (...) {
        // Leave nothing open behind a failed open.
        m_sourceBuffer.reset();
        m_destBuffer.reset();
        Calls.StreamClose(m_streamHandle, 0);
        m_streamHandle = nullptr;
        throw;
    }
    m_active = true;
}

void TACMConvertor::Close()
{
    RaiseOnError("acmStreamUnPrepareHeader:", Calls.UnprepareHeader(m_streamHandle, &m_streamHeader, 0));
    RaiseOnError("acmStreamClose:", Calls.StreamClose(m_streamHandle, 0));
    m_sourceBuffer.reset();
    m_destBuffer.reset();
    m_streamHandle = nullptr;
    m_active = false;
}

QByteArray TACMConvertor::Store(const TACMWaveFormat& format)
{
    QByteArray stored(4 + sizeof(TACMWaveFormat), '\0');
    qToLittleEndian<quint32>(sizeof(TACMWaveFormat), stored.data());
    std::memcpy(stored.data() + 4, &format, sizeof(TACMWaveFormat));
    return stored;
}

void TACMConvertor::Load(const QByteArray& stored, TACMWaveFormat& format, const char* property)
{
    // Never read past the record or the stored value: a longer length fills
    // the record and skips the rest, a value cut short fills what it has.
    if (stored.size() < 4) {
        qCWarning(lcAudio, "%s: stored value has no length", property);
        return;
    }
    const quint32 length = qFromLittleEndian<quint32>(stored.constData());
    const qsizetype present = stored.size() - 4;
    const std::size_t count = std::min<std::size_t>({length, sizeof(TACMWaveFormat), std::size_t(present)});
    if (count != length)
        qCWarning(lcAudio, "%s: stored length %u, %zu bytes used", property, length, count);
    std::memcpy(&format, stored.constData() + 4, count);
}
