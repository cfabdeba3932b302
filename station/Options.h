// The station's command line.
#pragma once

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

struct Options {
    HostPort listen{"0.0.0.0", 6565};
    std::string name = "Sendolin";           // Windows-1252
    std::string source = "tone";
    std::vector<std::string> infoTexts;      // Windows-1252
    double infoIntervalSeconds = 20;
    std::optional<HostPort> directory;
    std::optional<HostPort> announce;
    double burstSeconds = 2;
    double queueSeconds = 10;
    double greetingTimeoutSeconds = 5;
    std::size_t maxListeners = 10000;
    std::vector<ListedStation> listed;
    bool help = false;
};

// Thrown for a bad command line; the message is one line for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Options ParseOptions(const std::vector<std::string>& args);
HostPort ParseHostPort(const std::string& text);
const char* UsageText();

} // namespace station
