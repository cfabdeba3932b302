// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime's text-to-number conversion.
#pragma once

#include <string>

namespace platform {

// Converts text to a signed 32-bit integer. Leading blanks are skipped; then
// either an optional sign and decimal digits, or hexadecimal digits after a
// "$", "x" or "0x" prefix. Nothing may follow the digits. Anything else, and
// any value outside the signed 32-bit range, raises EConvertError
// "'<text>' is not a valid integer value".
int StrToInt(const std::string& text);

} // namespace platform
