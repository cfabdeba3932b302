// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions into Windows-1252, the only text encoding on the wire. Command
// line arguments arrive as UTF-8 and tag texts in ID3's encodings; both become
// Windows-1252 once, where they enter the station, through the code page table
// the client reads them with (wire/Win1252.h). Stateless functions.
#pragma once

#include <string>
#include <string_view>

namespace station {

// Malformed UTF-8 sequences become '?' each.
std::string Utf8ToCp1252(std::string_view utf8);
// UTF-16 with an optional byte-order mark; bigEndian is the order without one.
std::string Utf16ToCp1252(std::string_view bytes, bool bigEndian);

} // namespace station
