// SPDX-License-Identifier: GPL-3.0-or-later
// A stations file: the stations one process runs, one INI section each.
//
//   # comment (also ;)
//   [any label]
//   name = Radio Grün          (required, UTF-8)
//   source = http://relay:8000/live.mp3   (required)
//   listen = 0.0.0.0:6566      (required)
//   rate = 44100               the other keys as the command-line options
//   bitrate = copy             without their dashes; info repeats for a
//   info = Hallo               rotation, shuffle takes yes or no
//
// Everything is read and checked before any station is built, so a fault in
// the last section starts nothing. Stateless functions.
#pragma once

#include "Options.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace station {

// "FILE:LINE: KEY: what is wrong", for the user.
class StationsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stations of `text`, read as the file `path`, in file order. Keys the
// file leaves out take their values from `defaults`. `reserved` is an address
// no station may listen on (the directory's).
std::vector<StationPlan> ParseStations(std::string_view text, const std::string& path,
                                       const StationSettings& defaults, const std::optional<HostPort>& reserved = {});

// Reads the file first; a file that cannot be read is a StationsFileError too.
std::vector<StationPlan> ReadStationsFile(const std::string& path, const StationSettings& defaults,
                                          const std::optional<HostPort>& reserved = {});

} // namespace station
