// SPDX-License-Identifier: GPL-3.0-or-later
// Name and service lookups, blocking and asynchronous, IPv4 only.
//
// Threading: an asynchronous request starts one detached helper thread. The
// helper resolves, then under the task lock writes the caller's buffer and
// posts the answer, but only if the request is still pending; cancelling takes
// the same lock, so once WSACancelAsyncRequest returns the buffer is never
// touched again. The helper holds no pointer to any component.
#include "platform/winsock/WinSockPrivate.h"

#include "platform/core/HandleTable.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::winsock {

using namespace detail;

namespace {

struct HostAnswer {
    int error = 0;
    std::string name;
    std::vector<std::uint32_t> addresses; // network order
};

struct ServAnswer {
    int error = 0;
    std::string name;
    std::uint16_t port = 0; // network order
    std::string protocol;
};

HostAnswer ResolveHost(const std::string& name)
{
    HostAnswer answer;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (result != 0) {
        answer.error = FromEai(result, errno);
        return answer;
    }
    answer.name = list->ai_canonname ? list->ai_canonname : name;
    for (const addrinfo* item = list; item != nullptr; item = item->ai_next) {
        const auto* in = reinterpret_cast<const ::sockaddr_in*>(item->ai_addr);
        const std::uint32_t address = in->sin_addr.s_addr;
        if (std::find(answer.addresses.begin(), answer.addresses.end(), address) == answer.addresses.end())
            answer.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    if (answer.addresses.empty())
        answer.error = WSANO_DATA;
    return answer;
}

ServAnswer ResolveService(const std::string& name, const std::string& protocol)
{
    ServAnswer answer;
    struct ::servent entry {};
    struct ::servent* found = nullptr;
    char scratch[1024];
    const char* proto = protocol.empty() ? nullptr : protocol.c_str();
    if (::getservbyname_r(name.c_str(), proto, &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr) {
        answer.error = WSANO_DATA;
        return answer;
    }
    answer.name = found->s_name;
    answer.port = static_cast<std::uint16_t>(found->s_port);
    answer.protocol = found->s_proto;
    return answer;
}

// Appends bytes to a record buffer, counting what would be needed even when
// the buffer is too small.
class Packer {
public:
    Packer(char* buffer, int length) : m_buffer(buffer), m_length(length) {}

    int Reserve(int size, int align)
    {
        m_used = (m_used + align - 1) / align * align;
        const int at = m_used;
        m_used += size;
        return at;
    }
    bool Fits() const { return m_used <= m_length; }
    int Used() const { return m_used; }
    char* At(int offset) const { return m_buffer + offset; }
    void Write(int offset, const void* data, int size) const { std::memcpy(m_buffer + offset, data, size); }

private:
    char* m_buffer;
    int m_length;
    int m_used = 0;
};

int StringSize(const std::string& text) { return static_cast<int>(text.size()) + 1; }

} // namespace

namespace detail {

int PackHostEnt(char* buffer, int length, const std::string& name, const std::uint32_t* addresses, int count)
{
    Packer p(buffer, length);
    const int record = p.Reserve(sizeof(hostent), alignof(hostent));
    const int list = p.Reserve((count + 1) * static_cast<int>(sizeof(char*)), alignof(char*));
    const int aliases = p.Reserve(sizeof(char*), alignof(char*));
    const int data = p.Reserve(count * 4, 4);
    const int text = p.Reserve(StringSize(name), 1);
    if (!p.Fits())
        return p.Used();
    std::vector<char*> pointers;
    for (int i = 0; i < count; ++i) {
        p.Write(data + 4 * i, &addresses[i], 4);
        pointers.push_back(p.At(data + 4 * i));
    }
    pointers.push_back(nullptr);
    p.Write(list, pointers.data(), static_cast<int>(pointers.size() * sizeof(char*)));
    char* none = nullptr;
    p.Write(aliases, &none, sizeof none);
    p.Write(text, name.c_str(), StringSize(name));
    hostent entry{p.At(text), reinterpret_cast<char**>(p.At(aliases)), kAfInet, 4, reinterpret_cast<char**>(p.At(list))};
    p.Write(record, &entry, sizeof entry);
    return p.Used();
}

int PackServEnt(char* buffer, int length, const std::string& name, std::uint16_t portNetOrder,
                const std::string& protocol)
{
    Packer p(buffer, length);
    const int record = p.Reserve(sizeof(servent), alignof(servent));
    const int aliases = p.Reserve(sizeof(char*), alignof(char*));
    const int nameText = p.Reserve(StringSize(name), 1);
    const int protoText = p.Reserve(StringSize(protocol), 1);
    if (!p.Fits())
        return p.Used();
    char* none = nullptr;
    p.Write(aliases, &none, sizeof none);
    p.Write(nameText, name.c_str(), StringSize(name));
    p.Write(protoText, protocol.c_str(), StringSize(protocol));
    servent entry{p.At(nameText), reinterpret_cast<char**>(p.At(aliases)), static_cast<std::int16_t>(portNetOrder),
                  p.At(protoText)};
    p.Write(record, &entry, sizeof entry);
    return p.Used();
}

} // namespace detail

namespace {

// A task is live while its answer is still wanted.
struct Tasks {
    std::mutex lock;
    HandleTable<HANDLE, bool> pending{1};
};

// Never destroyed: a helper thread may still finish a lookup while the
// process exits.
Tasks& tasks()
{
    static auto* instance = new Tasks;
    return *instance;
}

// Starts work() on a helper thread; work returns (error, needed length) after
// packing into the buffer, and is only called while the task is pending.
template <typename Resolve, typename Pack>
HANDLE StartTask(HWND window, unsigned message, char* buffer, int bufferLength, Resolve resolve, Pack pack)
{
    if (buffer == nullptr || bufferLength <= 0)
        return Fail(WSAEFAULT), 0;
    HANDLE task = 0;
    {
        std::lock_guard guard(tasks().lock);
        task = tasks().pending.Insert(true);
    }
    try {
        std::thread([=] {
            auto answer = resolve();
            std::lock_guard guard(tasks().lock);
            if (!tasks().pending.Erase(task))
                return; // cancelled
            int error = answer.error;
            int needed = 0;
            if (error == 0) {
                needed = pack(answer, buffer, bufferLength);
                if (needed > bufferLength)
                    error = WSAENOBUFS;
            }
            NotifyWindow::Post(window, message, task, WSAMAKESELECTREPLY(needed, error));
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard guard(tasks().lock);
        tasks().pending.Erase(task);
        return Fail(WSAENOBUFS), 0;
    }
    return task;
}

} // namespace

HANDLE WSAAsyncGetHostByName(HWND window, unsigned message, const char* name, char* buffer, int bufferLength)
{
    if (name == nullptr)
        return Fail(WSAEFAULT), 0;
    const std::string host = name;
    return StartTask(
        window, message, buffer, bufferLength, [host] { return ResolveHost(host); },
        [](const HostAnswer& a, char* out, int length) {
            return PackHostEnt(out, length, a.name, a.addresses.data(), static_cast<int>(a.addresses.size()));
        });
}

HANDLE WSAAsyncGetServByName(HWND window, unsigned message, const char* name, const char* protocol, char* buffer,
                             int bufferLength)
{
    if (name == nullptr)
        return Fail(WSAEFAULT), 0;
    const std::string service = name;
    const std::string proto = protocol ? protocol : "";
    return StartTask(
        window, message, buffer, bufferLength, [service, proto] { return ResolveService(service, proto); },
        [](const ServAnswer& a, char* out, int length) {
            return PackServEnt(out, length, a.name, a.port, a.protocol);
        });
}

int WSACancelAsyncRequest(HANDLE task)
{
    std::lock_guard guard(tasks().lock);
    if (tasks().pending.Erase(task))
        return 0;
    // An answered request has nothing left to cancel; its answer names a task
    // the caller no longer waits for.
    if (tasks().pending.WasIssued(task))
        return 0;
    return Fail(WSAEINVAL);
}

hostent* gethostbyname(const char* name)
{
    alignas(hostent) static thread_local char buffer[MAXGETHOSTSTRUCT];
    if (name == nullptr)
        return Fail(WSAEFAULT), nullptr;
    const HostAnswer answer = ResolveHost(name);
    if (answer.error != 0)
        return Fail(answer.error), nullptr;
    const int count = std::min<int>(static_cast<int>(answer.addresses.size()), 32);
    if (PackHostEnt(buffer, sizeof buffer, answer.name, answer.addresses.data(), count) > static_cast<int>(sizeof buffer))
        return Fail(WSAENOBUFS), nullptr;
    return reinterpret_cast<hostent*>(buffer);
}

servent* getservbyname(const char* name, const char* protocol)
{
    alignas(servent) static thread_local char buffer[MAXGETHOSTSTRUCT];
    if (name == nullptr)
        return Fail(WSAEFAULT), nullptr;
    const ServAnswer answer = ResolveService(name, protocol ? protocol : "");
    if (answer.error != 0)
        return Fail(answer.error), nullptr;
    if (PackServEnt(buffer, sizeof buffer, answer.name, answer.port, answer.protocol) > static_cast<int>(sizeof buffer))
        return Fail(WSAENOBUFS), nullptr;
    return reinterpret_cast<servent*>(buffer);
}

protoent* getprotobyname(const char* name)
{
    static thread_local char text[64];
    static thread_local char* aliases[1] = {nullptr};
    static thread_local protoent entry;
    if (name == nullptr)
        return Fail(WSAEFAULT), nullptr;
    struct ::protoent system {};
    struct ::protoent* found = nullptr;
    char scratch[1024];
    if (::getprotobyname_r(name, &system, scratch, sizeof scratch, &found) != 0 || found == nullptr)
        return Fail(WSANO_DATA), nullptr;
    std::snprintf(text, sizeof text, "%s", found->p_name);
    entry = protoent{text, aliases, static_cast<std::int16_t>(found->p_proto)};
    return &entry;
}

std::uint32_t inet_addr(const char* text)
{
    if (text == nullptr)
        return kInaddrNone;
    return ::inet_addr(text);
}

char* inet_ntoa(in_addr address)
{
    static thread_local char text[16];
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace platform::winsock
