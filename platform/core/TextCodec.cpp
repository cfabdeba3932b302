// SPDX-License-Identifier: GPL-3.0-or-later
// The QString side of the one Windows-1252 codec; no state.
#include "platform/core/TextCodec.h"

#include "platform/core/Win1252.h"

namespace platform {

QString FromWin1252(std::string_view bytes)
{
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes)
        *out++ = QChar(char16_t(Cp1252ToCodePoint(static_cast<unsigned char>(c))));
    return text;
}

std::string ToWin1252(const QString& text)
{
    // Works on UTF-16 units: a character beyond the basic plane becomes two
    // '?', which no reader of these texts can tell from one.
    std::string bytes;
    bytes.reserve(std::size_t(text.size()));
    for (const QChar ch : text)
        bytes.push_back(CodePointToCp1252(ch.unicode()));
    return bytes;
}

} // namespace platform
