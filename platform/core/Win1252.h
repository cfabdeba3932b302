// SPDX-License-Identifier: GPL-3.0-or-later
// Windows-1252, the one single-byte text encoding of both programs (the wire,
// Server.ini, the tray tip): the client turns it into widget text, the
// station turns command lines and tags into it. Plain constexpr functions
// without Qt, any thread.
#pragma once

#include <array>
#include <cstddef>

namespace platform {

namespace detail {

// Code points of the bytes 0x80–0x9F, where the code page differs from Latin-1.
// The five bytes it leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
// the control characters of the same value, so no byte is ever lost.
inline constexpr std::array<char32_t, 32> HighRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace detail

// The character one byte stands for.
constexpr char32_t Cp1252ToCodePoint(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return detail::HighRange[byte - 0x80];
    return byte;
}

// The byte for one character; '?' when the code page has none for it.
constexpr char CodePointToCp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t i = 0; i < detail::HighRange.size(); ++i)
        if (detail::HighRange[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace platform
