// SPDX-License-Identifier: GPL-3.0-or-later
// Stateless.
#include "platform/toolkit/FormColors.h"

#include <array>
#include <utility>

namespace platform {

namespace {

constexpr std::array<std::pair<const char*, unsigned>, 16> Named = {{
    {"clBlack", 0x000000}, {"clMaroon", 0x800000}, {"clGreen", 0x008000}, {"clOlive", 0x808000},
    {"clNavy", 0x000080},  {"clPurple", 0x800080}, {"clTeal", 0x008080},  {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0xFF0000},   {"clLime", 0x00FF00},  {"clYellow", 0xFFFF00},
    {"clBlue", 0x0000FF},  {"clFuchsia", 0xFF00FF}, {"clAqua", 0x00FFFF}, {"clWhite", 0xFFFFFF},
}};

} // namespace

std::optional<QColor> ColorFromName(const QString& name)
{
    for (const auto& [text, rgb] : Named)
        if (name == QLatin1String(text))
            return QColor::fromRgb(QRgb(rgb));
    return std::nullopt;
}

QColor ColorFromValue(qint64 rgb)
{
    return QColor::fromRgb(QRgb(rgb & 0xFFFFFF));
}

QString ColorToText(const QColor& color)
{
    const unsigned rgb = color.rgb() & 0xFFFFFF;
    for (const auto& [text, value] : Named)
        if (value == rgb)
            return QLatin1String(text);
    return QStringLiteral("$%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
}

} // namespace platform
