// SPDX-License-Identifier: GPL-3.0-or-later
// The single-instance mark: a named lock that exists while its holder lives.
//
// It is an advisory lock (flock) on a file named after the lock in the user's
// runtime directory ($XDG_RUNTIME_DIR, else /tmp with the user id in the file
// name). The system releases it when the holder's descriptor closes — on
// destruction or when the process dies in any way — so a crash never leaves a
// stale lock. The file itself stays; only the lock on it matters.
#pragma once

#include <string>

namespace platform {

class NamedLock {
public:
    // Tries to take the lock at once; see Held().
    explicit NamedLock(const std::string& name);
    ~NamedLock();

    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // True when this object holds the lock; false when another holder has it
    // (or the lock file cannot be opened at all).
    bool Held() const { return m_held; }
    // True when another process holds the lock.
    bool AlreadyExists() const { return m_alreadyExists; }

    const std::string& Path() const { return m_path; }

    // The file that stands for the lock of that name.
    static std::string PathFor(const std::string& name);

private:
    int m_fd = -1;
    bool m_held = false;
    bool m_alreadyExists = false;
    std::string m_path;
};

} // namespace platform
