// Table-driven, no state.
#include "platform/toolkit/TextCodec.h"

#include <array>

namespace platform {

namespace {

// Characters of 0x80–0x9F; the undefined ones map to themselves.
constexpr std::array<char16_t, 32> HighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t CharOf(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return HighControlRange[byte - 0x80];
    return byte;
}

} // namespace

QString FromWin1252(std::string_view bytes)
{
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes)
        *out++ = QChar(CharOf(static_cast<unsigned char>(c)));
    return text;
}

std::string ToWin1252(const QString& text)
{
    std::string bytes;
    bytes.reserve(std::size_t(text.size()));
    for (const QChar ch : text) {
        const char16_t code = ch.unicode();
        char byte = '?';
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            byte = char(code);
        } else {
            for (std::size_t i = 0; i < HighControlRange.size(); ++i)
                if (HighControlRange[i] == code)
                    byte = char(0x80 + i);
        }
        bytes.push_back(byte);
    }
    return bytes;
}

} // namespace platform
