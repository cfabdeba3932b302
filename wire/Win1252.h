// SPDX-License-Identifier: GPL-3.0-or-later
// The text on the wire is Windows-1252: the station encodes names and tags
// with the platform's one table, the client decodes them with it. Stateless,
// any thread.
#pragma once

#include "platform/core/Win1252.h"

namespace wire {

using platform::Cp1252ToCodePoint;
using platform::CodePointToCp1252;

} // namespace wire
