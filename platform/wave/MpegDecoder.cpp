// SPDX-License-Identifier: GPL-3.0-or-later
// Used only by a device's helper thread.
#include "platform/wave/MpegDecoder.h"

#include "platform/wave/WaveLog.h"

#include <mpg123.h>
#include <mutex>

namespace platform::wave {

MpegDecoder::MpegDecoder()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    Open();
}

MpegDecoder::~MpegDecoder()
{
    if (m_handle)
        mpg123_delete(m_handle);
}

bool MpegDecoder::Open()
{
    int error = MPG123_OK;
    m_handle = mpg123_new(nullptr, &error);
    if (!m_handle) {
        qCWarning(lcWave, "mpg123_new: %s", mpg123_plain_strerror(error));
        return false;
    }
    // 16-bit output at the stream's own rate; the device converts the rate,
    // which sounds better than the decoder's own resampler.
    mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(m_handle, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(m_handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(m_handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(m_handle) != MPG123_OK) {
        qCWarning(lcWave, "mpg123_open_feed: %s", mpg123_strerror(m_handle));
        mpg123_delete(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

void MpegDecoder::Restart()
{
    if (m_handle)
        mpg123_delete(m_handle);
    m_handle = nullptr;
    m_layout = {};
    Open();
}

bool MpegDecoder::Decode(const std::uint8_t* data, std::size_t size, const Sink& sink)
{
    if (!m_handle)
        return true;
    if (mpg123_feed(m_handle, data, size) != MPG123_OK) {
        qCWarning(lcWave, "mpg123_feed: %s", mpg123_strerror(m_handle));
        return true;
    }
    for (;;) {
        // Frame by frame, straight out of the decoder's own buffer: the PCM
        // goes to the device without a copy of ours.
        off_t frame = 0;
        unsigned char* pcm = nullptr;
        std::size_t done = 0;
        const int rc = mpg123_decode_frame(m_handle, &frame, &pcm, &done);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            m_layout = {static_cast<unsigned>(rate), static_cast<unsigned>(channels), 16};
        }
        if (done > 0 && pcm && !sink(pcm, done, m_layout))
            return false;
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE)
            return true;
        if (rc == MPG123_ERR) {
            // Broken data: the decoder resyncs on the next call, so only
            // stop when it makes no progress at all.
            qCDebug(lcWave, "mpg123_decode_frame: %s", mpg123_strerror(m_handle));
            if (done == 0 && mpg123_errcode(m_handle) != MPG123_OK)
                return true;
        }
    }
}

} // namespace platform::wave
