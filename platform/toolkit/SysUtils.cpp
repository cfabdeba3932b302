// SPDX-License-Identifier: GPL-3.0-or-later
// Pure functions; any thread.
#include "platform/toolkit/SysUtils.h"

#include "platform/toolkit/Exception.h"

#include <cstdint>
#include <optional>

namespace platform {

namespace {

int DigitValue(char c, int base)
{
    int value = 99;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

// Digits from `at` to the end, all of them; nothing when there are none, a
// stray character follows, or the magnitude passes `limit`.
std::optional<std::int64_t> Digits(const std::string& text, size_t at, int base, std::int64_t limit)
{
    if (at >= text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const int digit = DigitValue(text[at], base);
        if (digit < 0)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> Convert(const std::string& text)
{
    constexpr std::int64_t kMax = INT32_MAX;
    size_t at = text.find_first_not_of(' ');
    if (at == std::string::npos)
        return std::nullopt;
    if (text[at] == '$' || text[at] == 'x' || text[at] == 'X')
        return Digits(text, at + 1, 16, kMax);
    if (text[at] == '0' && at + 1 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X'))
        return Digits(text, at + 2, 16, kMax);
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    const auto magnitude = Digits(text, at, 10, negative ? kMax + 1 : kMax);
    if (!magnitude)
        return std::nullopt;
    return negative ? -*magnitude : *magnitude;
}

} // namespace

int StrToInt(const std::string& text)
{
    const auto value = Convert(text);
    if (!value)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))));
    return static_cast<int>(*value);
}

} // namespace platform
