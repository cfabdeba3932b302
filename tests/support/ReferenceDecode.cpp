// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ReferenceDecode.h"

#include <memory>
#include <mpg123.h>

namespace testsupport {

QByteArray ReferenceDecode(const std::vector<std::uint8_t>& mp3)
{
    mpg123_init();
    std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> mh(mpg123_new(nullptr, nullptr), mpg123_delete);
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(mh.get());
    const long* rates;
    size_t count;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(mh.get());
    mpg123_feed(mh.get(), mp3.data(), mp3.size());
    QByteArray pcm;
    std::vector<unsigned char> out(1 << 16);
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(mh.get(), out.data(), out.size(), &done);
        pcm.append(reinterpret_cast<const char*>(out.data()), qsizetype(done));
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE || (rc == MPG123_ERR && done == 0))
            return pcm;
    }
}

} // namespace testsupport
