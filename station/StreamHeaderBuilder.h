// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the record that opens every stream connection from the real
// parameters of the station's frames.
#pragma once

#include "MpegFrame.h"

#include "wire/StreamRecords.h"

#include <string>

namespace station {

// `name` is Windows-1252 and is cut to the 255 bytes the record can hold.
TStreamHeader BuildStreamHeader(const std::string& name, const FrameHeader& frames, int averageBytesPerSecond);

// The record as bytes, ready to be sent.
std::string HeaderBytes(const TStreamHeader& header);

} // namespace station
