// SPDX-License-Identifier: GPL-3.0-or-later
// The directory answer: its collection, cut-back and rebuild. See the header
// for the state model.
#include "app/DirectoryAnswer.h"

#include <algorithm>

namespace {

// One line of the answer and where its line break starts (npos for a last
// line without one).
struct AnswerLine {
    std::string text;
    std::size_t breakAt;
};

// Lines end at CR LF, a lone LF or a lone CR; a NUL ends the text; a break at
// the very end makes no further empty line.
std::vector<AnswerLine> SplitLines(const std::string& answer)
{
    std::vector<AnswerLine> lines;
    const std::size_t end = std::min(answer.find('\0'), answer.size());
    std::size_t start = 0;
    while (start < end) {
        std::size_t stop = start;
        while (stop < end && answer[stop] != '\r' && answer[stop] != '\n')
            ++stop;
        lines.push_back({answer.substr(start, stop - start), stop < end ? stop : std::string::npos});
        const bool crlf = stop + 1 < end && answer[stop] == '\r' && answer[stop + 1] == '\n';
        start = stop + (crlf ? 2 : 1);
    }
    return lines;
}

// A station line is "address,name"; without a comma the whole line is the
// name and the address is empty (and so refused).
DirectoryAnswer::Station StationOf(const std::string& line)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos)
        return {std::string(), line};
    return {line.substr(0, comma), line.substr(comma + 1)};
}

} // namespace

DirectoryAnswer::Server DirectoryAnswer::ServerOf(const std::string& directoryUrl)
{
    // "http://" is skipped whatever it says; without a slash after the host
    // there is no host.
    std::string host = directoryUrl.size() > 7 ? directoryUrl.substr(7) : std::string();
    const std::size_t slash = host.find('/');
    host = slash == std::string::npos ? std::string() : host.substr(0, slash);
    // A host may name its port ("host:8080"); the lookup is then of the bare host.
    std::string port = "80";
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        if (colon + 1 < host.size())
            port = host.substr(colon + 1);
        host.erase(colon);
    }
    return {host, port};
}

std::string DirectoryAnswer::Request(const std::string& directoryUrl)
{
    return "GET " + directoryUrl + "index.php?action=queryuser HTTP/1.0\r\n" + "Accept: */*\r\n"
           + "User-Agent: ktsendolinv30\r\n" + "Host: 127.0.0.1\r\n" + "Connection: Keep-Alive\r\n\r\n\r\n";
}

void DirectoryAnswer::Collect(const std::string& chunk)
{
    if (m_ended || chunk.empty())
        return;
    // The first bytes of an answer replace the previous one whole: a rebuild
    // reads the last answer that brought bytes and nothing above it, also when
    // that answer has no empty line at which the scan would stop.
    if (!m_started)
        m_text.clear();
    m_started = true;
    // Nothing after a NUL is ever read, so it ends this answer here.
    const std::size_t nul = chunk.find('\0');
    m_text.append(chunk, 0, nul);
    m_ended = nul != std::string::npos;
    if (m_text.size() > 2 * MaxKept)
        CutBack();
}

void DirectoryAnswer::CutBack()
{
    // From a line break on, so no cut line passes for a station; the break
    // makes the empty line at which the scan stops.
    const std::size_t cut = m_text.find_first_of("\r\n", m_text.size() - MaxKept);
    m_text.erase(0, std::min(cut, m_text.size()));
}

std::vector<DirectoryAnswer::Station> DirectoryAnswer::Rebuild()
{
    const std::vector<AnswerLine> lines = SplitLines(m_text);
    // Bottom-up until the empty line that ends the last answer's head: the
    // last station line comes first.
    std::vector<Station> stations;
    std::size_t emptyLine = std::string::npos;
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (lines[i].text.empty()) {
            emptyLine = i;
            break;
        }
        Station station = StationOf(lines[i].text);
        if (std::count(station.address.begin(), station.address.end(), '.') == 3)
            stations.push_back(std::move(station));
    }
    // No later rebuild reads above that empty line; keep it (from its line
    // break on, so a break split across answers still splits the same) and
    // what follows.
    if (emptyLine != std::string::npos)
        m_text.erase(0, lines[emptyLine].breakAt);
    m_ended = false;
    m_started = false;
    return stations;
}
