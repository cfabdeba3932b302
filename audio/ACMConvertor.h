// SPDX-License-Identifier: GPL-3.0-or-later
// TACMConvertor holds the audio format of the received stream: the input
// record (what arrives on the stream channel) and the output record (PCM).
// Both are stored in the layout resource as binary properties. It can also
// open a conversion stream between the two, which the program never does.
//
// GUI thread only.
#pragma once

#include "platform/toolkit/Exception.h"
#include "platform/wave/MSAcm.h"
#include "wire/StreamRecords.h"

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

class EACMConvertor : public platform::Exception {
public:
    using Exception::Exception;
};

// The conversion stream calls the component makes; the platform's by default.
struct TAcmCalls {
    std::function<platform::MMRESULT(platform::HACMSTREAM*, void*, const TACMWaveFormat*,
                                      const TACMWaveFormat*, void*, platform::DWORD_PTR,
                                      platform::DWORD_PTR, platform::DWORD)> StreamOpen;
    std::function<platform::MMRESULT(platform::HACMSTREAM, platform::DWORD, platform::DWORD*, platform::DWORD)> StreamSize;
    std::function<platform::MMRESULT(platform::HACMSTREAM, platform::ACMSTREAMHEADER*, platform::DWORD)> PrepareHeader;
    std::function<platform::MMRESULT(platform::HACMSTREAM, platform::ACMSTREAMHEADER*, platform::DWORD)> UnprepareHeader;
    std::function<platform::MMRESULT(platform::HACMSTREAM, platform::DWORD)> StreamClose;

    static TAcmCalls Platform();
};

class TACMConvertor : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool UseRealTime READ UseRealTime WRITE SetUseRealTime)
    Q_PROPERTY(uint InputBufferSize READ InputBufferSize WRITE SetInputBufferSize)
    Q_PROPERTY(QByteArray ACMFormatIn READ StoredFormatIn WRITE LoadFormatIn)
    Q_PROPERTY(QByteArray ACMFormatOut READ StoredFormatOut WRITE LoadFormatOut)

public:
    Q_INVOKABLE explicit TACMConvertor(QObject* owner = nullptr);
    ~TACMConvertor() override;

    bool Active() const { return m_active; }
    void SetActive(bool Value);

    bool UseRealTime() const { return m_useRealTime; }
    void SetUseRealTime(bool value);
    std::uint32_t InputBufferSize() const { return m_inputBufferSize; }
    void SetInputBufferSize(std::uint32_t value);
    std::uint32_t OutputBufferSize() const { return m_outputBufferSize; }
    platform::HACMSTREAM StreamHandle() const { return m_streamHandle; }
    const platform::ACMSTREAMHEADER& StreamHeader() const { return m_streamHeader; }

    // The stored form of a format record: 32-bit little-endian length 129,
    // then the record's bytes.
    QByteArray StoredFormatIn() const { return Store(FormatIn); }
    QByteArray StoredFormatOut() const { return Store(FormatOut); }
    void LoadFormatIn(const QByteArray& stored) { Load(stored, FormatIn, "ACMFormatIn"); }
    void LoadFormatOut(const QByteArray& stored) { Load(stored, FormatOut, "ACMFormatOut"); }

    TACMWaveFormat FormatIn{};
    TACMWaveFormat FormatOut{};

    // The calls made to the conversion streams; tests replace them.
    TAcmCalls Calls = TAcmCalls::Platform();

private:
    void Open();
    void Close();
    static void RaiseOnError(const char* name, platform::MMRESULT code);
    static QByteArray Store(const TACMWaveFormat& format);
    static void Load(const QByteArray& stored, TACMWaveFormat& format, const char* property);

    bool m_active = false;
    bool m_useRealTime = false;
    std::unique_ptr<std::uint8_t[]> m_sourceBuffer;
    std::unique_ptr<std::uint8_t[]> m_destBuffer;
    std::uint32_t m_inputBufferSize = 0;
    std::uint32_t m_outputBufferSize = 0;
    platform::HACMSTREAM m_streamHandle = nullptr;
    platform::ACMSTREAMHEADER m_streamHeader{};
};
