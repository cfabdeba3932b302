// SPDX-License-Identifier: GPL-3.0-or-later
// Single-threaded use; the descriptor is opened with O_CLOEXEC so child
// processes never inherit (and keep alive) the lock.
#include "platform/shell/NamedLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string FileNameOf(const std::string& name)
{
    std::string file;
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                        || c == '-' || c == '_' || c == '.';
        file += plain ? c : '_';
    }
    if (file.empty() || file[0] == '.')
        file.insert(file.begin(), '_');
    return file;
}

bool IsUsableDirectory(const char* path)
{
    struct stat info {};
    return path && *path == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode)
        && ::access(path, W_OK | X_OK) == 0;
}

} // namespace

std::string NamedLock::PathFor(const std::string& name)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (IsUsableDirectory(runtime))
        return std::string(runtime) + "/" + FileNameOf(name) + ".lock";
    return "/tmp/" + FileNameOf(name) + "-" + std::to_string(::getuid()) + ".lock";
}

NamedLock::NamedLock(const std::string& name) : m_path(PathFor(name))
{
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return;
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_held = true;
        return;
    }
    m_alreadyExists = errno == EWOULDBLOCK;
    ::close(m_fd);
    m_fd = -1;
}

NamedLock::~NamedLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform
