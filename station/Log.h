// SPDX-License-Identifier: GPL-3.0-or-later
// One line per event on stderr; the station's only log. On a terminal or in a
// file each line carries a timestamp. When stderr is the journal, which keeps
// its own time, lines carry the syslog priority instead ("<3>", "<4>", "<6>")
// so the journal files them by severity. Which of the two is decided once per
// process; lines are written with one call each, so threads do not interleave
// within a line.
#pragma once

#include <ctime>
#include <string>

namespace station {

enum class Severity { Error = 3, Warning = 4, Info = 6 };

void LogLine(const std::string& message); // Info
void LogLine(Severity severity, const std::string& message);
// Why the process ends before or instead of running, as an error: no
// timestamp outside the journal, as a command's complaint reads.
void LogFatal(const std::string& message);

// Whether JOURNAL_STREAM (systemd's "DEVICE:INODE") names the file that fd
// is open on; an inherited variable naming another file says nothing.
bool IsJournalStream(const char* journalStream, int fd);

// The line as written, newline included.
std::string FormatLogLine(Severity severity, const std::string& message, bool journal, std::time_t now);

} // namespace station
