// SPDX-License-Identifier: GPL-3.0-or-later
// The station's command line, and the settings of one station that both the
// command line and a stations file give. Values are checked one by one here;
// the whole of a station (its format, a port used twice) is checked where
// every value is known.
#pragma once

#include "AudioSource.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace station {

struct HostPort {
    std::string host;
    unsigned short port = 0;
    std::string Text() const { return host + ":" + std::to_string(port); }
};

struct ListedStation {
    std::string address; // as given
    std::string name;    // Windows-1252
};

// Everything one station is made of; the same keys on the command line
// (--KEY VALUE) and in a stations file (KEY = VALUE).
struct StationSettings {
    HostPort listen{"0.0.0.0", 6565};
    std::string name = "Sendolin";           // Windows-1252
    std::string source = "tone";
    StationFormat format;
    SourceSettings play;
    std::vector<std::string> infoTexts;      // Windows-1252
    double infoIntervalSeconds = 20;
    std::optional<HostPort> announce;
    double burstSeconds = 2;
    double queueSeconds = 10;
    double greetingTimeoutSeconds = 5;
    std::size_t maxListeners = 10000;
};

// A station to run and where it was described, for messages about it: empty
// for the command line, "FILE:LINE" and the section's label for a stations file.
struct StationPlan {
    StationSettings settings;
    std::string origin;
    std::string label;
};

struct Options : StationSettings {
    std::optional<HostPort> directory;
    std::vector<ListedStation> listed;
    std::string stationsFile; // empty: the one station of the command line
    bool help = false;
};

// Thrown for a bad command line or value; the message is one line for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Options ParseOptions(const std::vector<std::string>& args);
HostPort ParseHostPort(const std::string& text);
const char* UsageText();

// Sets one station key ("rate", "info", …; repeated keys add to lists). False
// for a key that is not a station key; throws UsageError, without the key's
// name, for a bad value.
bool SetStationKey(StationSettings& settings, const std::string& key, const std::string& value);
// Keys that are switches: given without a value on the command line.
bool IsSwitchKey(const std::string& key);
// What FormatProblem says of the station's format, as a UsageError.
void CheckFormat(const StationFormat& format);

} // namespace station
