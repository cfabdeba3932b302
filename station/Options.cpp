// SPDX-License-Identifier: GPL-3.0-or-later
#include "Options.h"

#include "Text.h"

#include <charconv>
#include <cmath>

namespace station {

namespace {

double ParseSeconds(const std::string& text, double min)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < min
        || value > 86400)
        throw UsageError("'" + text + "' is not a number of seconds");
    return value;
}

// A whole decimal number from min to max; `what` says what it should be.
int ParseWhole(const std::string& text, int min, int max, const std::string& what)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw UsageError("'" + text + "' is not " + what);
    return value;
}

bool ParseSwitch(const std::string& text)
{
    if (text == "true" || text == "yes" || text == "on" || text == "1")
        return true;
    if (text == "false" || text == "no" || text == "off" || text == "0")
        return false;
    throw UsageError("'" + text + "' is not yes or no");
}

// Texts go into single-line records and lines of the directory answer.
std::string WireText(const std::string& utf8)
{
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) < 0x20)
            throw UsageError("control characters are not allowed");
    }
    return Utf8ToCp1252(utf8);
}

// Whether the sources can be asked to open it: the generated signals, a web
// address they read, or a path (file, folder or playlist) whose worth only
// opening it shows.
bool IsSourceName(const std::string& source)
{
    if (source.empty())
        return false;
    for (const char c : source) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    const std::size_t scheme = source.find("://");
    if (scheme == std::string::npos)
        return true;
    const std::string prefix = source.substr(0, scheme);
    return (prefix == "http" || prefix == "https") && source.size() > scheme + 3;
}

// The option's key ("--rate" → "rate"), or empty for what is no option.
std::string KeyOf(const std::string& option)
{
    return option.starts_with("--") && option.size() > 2 ? option.substr(2) : std::string();
}

// Process-wide options: they cannot be set in a stations file.
bool SetProcessOption(Options& o, const std::string& key, const std::string& value)
{
    if (key == "directory") {
        o.directory = ParseHostPort(value);
    } else if (key == "list") {
        const std::size_t comma = value.find(',');
        if (comma == std::string::npos || comma == 0 || comma + 1 == value.size())
            throw UsageError("'" + value + "' is not ADDRESS,NAME");
        o.listed.push_back({WireText(value.substr(0, comma)), WireText(value.substr(comma + 1))});
    } else if (key == "stations") {
        if (value.empty())
            throw UsageError("needs the path of a stations file");
        o.stationsFile = value;
    } else if (key == "greeting-timeout") {
        o.greetingTimeoutSeconds = ParseSeconds(value, 0.1);
    } else {
        return false;
    }
    return true;
}

bool IsOptionKey(const std::string& key)
{
    static constexpr const char* keys[] = {
        "directory", "list", "stations", "greeting-timeout", "listen", "name", "source", "rate", "channels",
        "bitrate", "shuffle", "info", "info-interval", "announce", "burst", "queue", "max-listeners"};
    for (const char* known : keys) {
        if (key == known)
            return true;
    }
    return false;
}

} // namespace

HostPort ParseHostPort(const std::string& text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw UsageError("'" + text + "' is not HOST:PORT");
    unsigned port = 0;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, port);
    if (first == last || ec != std::errc() || end != last || port > 65535)
        throw UsageError("'" + text + "' has no valid port (0 to 65535)");
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') // [::1]:6565
        host = host.substr(1, host.size() - 2);
    return {host, static_cast<unsigned short>(port)};
}

bool IsSwitchKey(const std::string& key)
{
    return key == "shuffle";
}

bool SetStationKey(StationSettings& s, const std::string& key, const std::string& value)
{
    if (key == "listen") {
        s.listen = ParseHostPort(value);
    } else if (key == "name") {
        s.name = WireText(value);
        if (s.name.size() > 255)
            throw UsageError("at most 255 characters");
    } else if (key == "source") {
        if (!IsSourceName(value))
            throw UsageError("'" + value + "' is not tone, melody, a path or an http(s):// address");
        s.source = value;
    } else if (key == "rate") {
        StationFormat alone{ParseWhole(value, 8000, 48000, "a rate from 8000 to 48000 Hz"), 2, 0, true};
        if (const std::string problem = FormatProblem(alone); !problem.empty())
            throw UsageError(problem);
        s.format.sampleRate = alone.sampleRate;
    } else if (key == "channels") {
        s.format.channels = ParseWhole(value, 1, 2, "1 or 2 channels");
    } else if (key == "bitrate") {
        s.format.copyBitrate = value == "copy";
        if (!s.format.copyBitrate)
            s.format.bitrateKbps = ParseWhole(value, 8, 320, "a bitrate from 8 to 320 kbit/s, or copy");
    } else if (key == "shuffle") {
        s.play.shuffle = ParseSwitch(value);
    } else if (key == "info") {
        s.infoTexts.push_back(WireText(value));
    } else if (key == "info-interval") {
        s.infoIntervalSeconds = ParseSeconds(value, 0.1);
    } else if (key == "announce") {
        s.announce = ParseHostPort(value);
    } else if (key == "burst") {
        s.burstSeconds = ParseSeconds(value, 0);
    } else if (key == "queue") {
        s.queueSeconds = ParseSeconds(value, 0.1);
    } else if (key == "max-listeners") {
        s.maxListeners = std::size_t(ParseWhole(value, 1, 100000, "a number from 1 to 100000"));
    } else {
        return false;
    }
    return true;
}

void CheckFormat(const StationFormat& format)
{
    if (const std::string problem = FormatProblem(format); !problem.empty())
        throw UsageError(problem);
}

Options ParseOptions(const std::vector<std::string>& args)
{
    Options o;
    bool stationKeyGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            o.help = true;
            continue;
        }
        const std::string key = KeyOf(option);
        if (key.empty())
            throw UsageError("unknown argument '" + option + "'");
        // The name is checked before its value: a mistyped option at the end
        // of the line is unknown, not short of a value.
        if (!IsOptionKey(key))
            throw UsageError("unknown option '" + option + "'");
        const bool isSwitch = IsSwitchKey(key);
        if (!isSwitch && i + 1 >= args.size())
            throw UsageError("option '" + option + "' needs a value");
        const std::string value = isSwitch ? "yes" : args[++i];
        try {
            if (!SetProcessOption(o, key, value) && SetStationKey(o, key, value))
                stationKeyGiven = true;
        } catch (const UsageError& e) {
            throw UsageError(option + ": " + e.what());
        }
    }
    if (!o.stationsFile.empty() && stationKeyGiven)
        throw UsageError("--stations: a station's own options belong in the stations file");
    try {
        CheckFormat(o.format);
    } catch (const UsageError& e) {
        throw UsageError(std::string("--rate/--bitrate: ") + e.what());
    }
    return o;
}

const char* UsageText()
{
    return "Usage: sendolin-station [OPTION]...\n"
           "       sendolin-station --stations FILE [--directory HOST:PORT] [--list ADDRESS,NAME]...\n"
           "Broadcasts one station (stream and info channels), or every station of a stations\n"
           "file, and optionally a station directory that lists them.\n"
           "\n"
           "  --listen HOST:PORT       stream and info channels (default 0.0.0.0:6565; port 0 picks one)\n"
           "  --name NAME              station name sent to listeners (default Sendolin)\n"
           "  --source SOURCE          tone (440 Hz sine), melody, a file, folder or playlist (.m3u, .pls),\n"
           "                           or an http:// or https:// stream address (default tone)\n"
           "  --rate HZ                sample rate: 8000, 11025, 12000, 16000, 22050, 24000, 32000,\n"
           "                           44100 or 48000 (default 11025)\n"
           "  --channels N             1 or 2 (default 2)\n"
           "  --bitrate KBITS          8 to 320 kbit/s as the rate allows (default 24), or copy: relay\n"
           "                           MPEG audio as it comes, in the upstream's own format\n"
           "  --shuffle                play folders and playlists in a random order\n"
           "  --info TEXT              info text; repeat for a rotation (default: the title playing)\n"
           "  --info-interval SECONDS  time between rotating info texts (default 20)\n"
           "  --announce HOST:PORT     address the directory lists for this station\n"
           "                           (default: the listen address, 127.0.0.1 for 0.0.0.0)\n"
           "  --burst SECONDS          recent audio a new listener gets at once (default 2)\n"
           "  --queue SECONDS          unsent audio after which a listener is dropped (default 10)\n"
           "  --max-listeners N        stream listeners served at once (default 10000)\n"
           "  --stations FILE          run every station of FILE instead (INI sections with the keys\n"
           "                           of the options above, without the dashes)\n"
           "  --directory HOST:PORT    also serve the station directory over HTTP/1.0 here\n"
           "  --list ADDRESS,NAME      another station for the directory; may be repeated\n"
           "  --greeting-timeout SECONDS  time a new connection has to greet (default 5)\n"
           "  --help                   show this text\n"
           "\n"
           "When ready it prints 'stream HOST:PORT' for each station and, with --directory,\n"
           "'directory HOST:PORT'. The default stream is MPEG-2.5 Layer III, 11025 Hz stereo,\n"
           "24 kbit/s.\n"
           "\n"
           "Licence: GPL-3.0-or-later. This is free software; there is NO WARRANTY, to the\n"
           "extent permitted by law.\n";
}

} // namespace station
