// SPDX-License-Identifier: GPL-3.0-or-later
// The reference an audio test compares against: everything libmpg123 makes
// of the bytes when they are fed to it as one stream, as 16-bit PCM at the
// stream's own rate and channel count.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace testsupport {

QByteArray ReferenceDecode(const std::vector<std::uint8_t>& mp3);

} // namespace testsupport
