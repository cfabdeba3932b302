// SPDX-License-Identifier: GPL-3.0-or-later
// The one conversion between the single-byte Windows-1252 text that crosses
// the wire or a file and the QString shown in widgets. Stateless; any thread.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace platform {

// Every byte becomes one character. 0x80–0x9F follow code page 1252; the five
// bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become
// the control characters of the same value, so no byte is ever lost.
QString FromWin1252(std::string_view bytes);

// The reverse; a character code page 1252 cannot hold becomes '?'.
std::string ToWin1252(const QString& text);

} // namespace platform
