// SPDX-License-Identifier: GPL-3.0-or-later
#include "Text.h"

#include "wire/Win1252.h"

#include <cstdint>

namespace station {

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
        out += wire::CodePointToCp1252(cp);
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
        out += wire::CodePointToCp1252(unit);
    }
    return out;
}

} // namespace station
