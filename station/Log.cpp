// SPDX-License-Identifier: GPL-3.0-or-later
#include "Log.h"

#include <sys/stat.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace station {

namespace {

bool StderrIsJournal()
{
    static const bool journal = IsJournalStream(std::getenv("JOURNAL_STREAM"), 2);
    return journal;
}

// A whole unsigned decimal number, or false.
bool ParseUnsigned(std::string_view text, unsigned long long& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

bool IsJournalStream(const char* journalStream, int fd)
{
    if (journalStream == nullptr)
        return false;
    const std::string_view text(journalStream);
    const std::size_t colon = text.find(':');
    unsigned long long device = 0, inode = 0;
    if (colon == std::string_view::npos || !ParseUnsigned(text.substr(0, colon), device)
        || !ParseUnsigned(text.substr(colon + 1), inode))
        return false;
    struct stat st{};
    return fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

std::string FormatLogLine(Severity severity, const std::string& message, bool journal, std::time_t now)
{
    if (journal)
        return "<" + std::to_string(static_cast<int>(severity)) + ">" + message + "\n";
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(stamp) + " " + message + "\n";
}

void LogLine(const std::string& message)
{
    LogLine(Severity::Info, message);
}

void LogLine(Severity severity, const std::string& message)
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::string line = FormatLogLine(severity, message, StderrIsJournal(), now);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void LogFatal(const std::string& message)
{
    const std::string line = (StderrIsJournal() ? "<3>" : "") + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace station
