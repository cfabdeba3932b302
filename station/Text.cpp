#include "Text.h"

#include <array>
#include <cstdint>

namespace station {

namespace {

// Code points of the bytes 0x80..0x9F, where Windows-1252 differs from Latin-1.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

char CodePointToCp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t i = 0; i < HighControls.size(); ++i) {
        if (HighControls[i] != 0 && HighControls[i] == cp)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

std::string Utf8ToCp1252(std::string_view utf8)
{
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2
                        : (lead >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= utf8.size()) {
            out += '?';
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cont = static_cast<std::uint8_t>(utf8[i + k]);
            valid = valid && (cont >> 6) == 2;
            cp = (cp << 6) | (cont & 0x3F);
        }
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        out += CodePointToCp1252(cp);
        i += extra + 1;
    }
    return out;
}

std::string Utf16ToCp1252(std::string_view bytes, bool bigEndian)
{
    std::size_t i = 0;
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<std::uint8_t>(bytes[0]);
        const auto b1 = static_cast<std::uint8_t>(bytes[1]);
        if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE)) {
            bigEndian = b0 == 0xFE;
            i = 2;
        }
    }
    std::string out;
    for (; i + 1 < bytes.size(); i += 2) {
        const auto hi = static_cast<std::uint8_t>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<std::uint8_t>(bytes[bigEndian ? i + 1 : i]);
        const char32_t unit = char32_t(hi << 8 | lo);
        if (unit == 0)
            break;
        // Surrogate pairs lie outside Windows-1252 anyway: one '?' per pair.
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            continue;
        out += CodePointToCp1252(unit);
    }
    return out;
}

} // namespace station
