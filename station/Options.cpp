#include "Options.h"

#include "Text.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace station {

namespace {

double ParseSeconds(const std::string& option, const std::string& text, double min)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < min
        || value > 86400)
        throw UsageError(option + ": '" + text + "' is not a number of seconds");
    return value;
}

// Texts go into single-line records and lines of the directory answer.
std::string WireText(const std::string& option, const std::string& utf8)
{
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) < 0x20)
            throw UsageError(option + ": control characters are not allowed");
    }
    return Utf8ToCp1252(utf8);
}

bool IsSourceName(const std::string& source)
{
    if (source == "tone" || source == "melody")
        return true;
    const std::size_t dot = source.rfind('.');
    if (dot == std::string::npos || dot == 0 || source[dot - 1] == '/')
        return false;
    std::string extension = source.substr(dot);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".mp3" || extension == ".m3u" || extension == ".wav";
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

Options ParseOptions(const std::vector<std::string>& args)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            o.help = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw UsageError(option.starts_with("--") ? option + " needs a value" : "unknown argument '" + option + "'");
        const std::string& value = args[++i];
        if (option == "--listen") {
            o.listen = ParseHostPort(value);
        } else if (option == "--name") {
            o.name = WireText(option, value);
            if (o.name.size() > 255)
                throw UsageError("--name: at most 255 characters");
        } else if (option == "--source") {
            if (!IsSourceName(value))
                throw UsageError("--source: '" + value + "' is not tone, melody, or a .mp3, .m3u or .wav file");
            o.source = value;
        } else if (option == "--info") {
            o.infoTexts.push_back(WireText(option, value));
        } else if (option == "--info-interval") {
            o.infoIntervalSeconds = ParseSeconds(option, value, 0.1);
        } else if (option == "--directory") {
            o.directory = ParseHostPort(value);
        } else if (option == "--announce") {
            o.announce = ParseHostPort(value);
        } else if (option == "--burst") {
            o.burstSeconds = ParseSeconds(option, value, 0);
        } else if (option == "--queue") {
            o.queueSeconds = ParseSeconds(option, value, 0.1);
        } else if (option == "--greeting-timeout") {
            o.greetingTimeoutSeconds = ParseSeconds(option, value, 0.1);
        } else if (option == "--max-listeners") {
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), o.maxListeners);
            if (ec != std::errc() || end != value.data() + value.size() || o.maxListeners == 0 || o.maxListeners > 100000)
                throw UsageError("--max-listeners: '" + value + "' is not a number from 1 to 100000");
        } else if (option == "--list") {
            const std::size_t comma = value.find(',');
            if (comma == std::string::npos || comma == 0 || comma + 1 == value.size())
                throw UsageError("--list: '" + value + "' is not ADDRESS,NAME");
            o.listed.push_back({WireText(option, value.substr(0, comma)), WireText(option, value.substr(comma + 1))});
        } else {
            throw UsageError("unknown option '" + option + "'");
        }
    }
    return o;
}

const char* UsageText()
{
    return "Usage: sendolin-station [OPTION]...\n"
           "Broadcasts one station (stream and info channels) and optionally a station directory.\n"
           "\n"
           "  --listen HOST:PORT       stream and info channels (default 0.0.0.0:6565; port 0 picks one)\n"
           "  --name NAME              station name sent to listeners (default Sendolin)\n"
           "  --source SOURCE          tone (440 Hz sine), melody, or a .mp3, .m3u or .wav file (default tone)\n"
           "  --info TEXT              info text; repeat for a rotation (default: the title playing)\n"
           "  --info-interval SECONDS  time between rotating info texts (default 20)\n"
           "  --directory HOST:PORT    also serve the station directory over HTTP/1.0 here\n"
           "  --announce HOST:PORT     address the directory lists for this station\n"
           "                           (default: the listen address, 127.0.0.1 for 0.0.0.0)\n"
           "  --list ADDRESS,NAME      another station for the directory; may be repeated\n"
           "  --burst SECONDS          recent audio a new listener gets at once (default 2)\n"
           "  --queue SECONDS          unsent audio after which a listener is dropped (default 10)\n"
           "  --greeting-timeout SECONDS  time a new connection has to greet (default 5)\n"
           "  --max-listeners N        stream listeners served at once (default 10000)\n"
           "  --help                   show this text\n"
           "\n"
           "When ready it prints 'stream HOST:PORT' and, with --directory, 'directory HOST:PORT'.\n"
           "The stream is MPEG-2.5 Layer III, 11025 Hz stereo, 24 kbit/s; .mp3 files must be 11025 Hz stereo.\n";
}

} // namespace station
