// SPDX-License-Identifier: GPL-3.0-or-later
// Reading fields of the packed wire records in assertions.
#pragma once

namespace testsupport {

// The wire records are packed, so a field can lie at any address. The
// assertion macros take their operands by reference, and binding a reference
// to a misaligned field is undefined behaviour (UndefinedBehaviorSanitizer
// stops the test there). ByValue hands the assertion a copy instead:
//   EXPECT_EQ(ByValue(header.FormatIn.Format.wFormatTag), 0x0055);
template <typename T>
constexpr T ByValue(T value)
{
    return value;
}

} // namespace testsupport
