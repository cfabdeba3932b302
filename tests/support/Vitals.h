// SPDX-License-Identifier: GPL-3.0-or-later
// What a robustness test or a benchmark reads of a process: its resident
// memory, its CPU time and share, and how long its GUI thread takes to
// answer a posted call.
//
// LatencyProbe runs a thread of its own that posts a stamped call to the
// target object every 50 ms; the target's (GUI) thread records how late each
// one ran. A call still unanswered when the probe stops counts with its age,
// so a thread that froze for good shows as late, not as quiet.
#pragma once

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <QEventLoop>
#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

// VmRSS of a process (this one by default) in KiB; 0 when it cannot be read.
inline std::size_t ResidentKib(qint64 pid = 0)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toULong();
    return 0;
}

// Resident memory of a process by what it maps, in KiB: a file's pages
// under the file's name, the rest under a name in brackets ("[heap]",
// "[stack]", "[shared memory]", "[anonymous]").
inline QMap<QString, std::size_t> ResidentByMapping(qint64 pid = 0)
{
    QFile smaps(pid ? QStringLiteral("/proc/%1/smaps").arg(pid) : QStringLiteral("/proc/self/smaps"));
    QMap<QString, std::size_t> kib;
    if (!smaps.open(QIODevice::ReadOnly))
        return kib;
    QString mapping;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-') && !fields[0].endsWith(':')) {
            // A mapping's first line: address range, permissions, offset, device, inode[, name].
            // Shared memory (an X image, say) has a path but is no file's pages.
            const QString name = fields.size() > 5 ? QString::fromLocal8Bit(fields[5]) : QString();
            if (name.startsWith(QLatin1String("/memfd:")) || name.startsWith(QLatin1String("/SYSV")))
                mapping = QStringLiteral("[shared memory]");
            else if (name.startsWith(QLatin1Char('/')))
                mapping = QFileInfo(name).fileName();
            else
                mapping = name.isEmpty() ? QStringLiteral("[anonymous]") : name;
        } else if (fields.size() >= 2 && fields[0] == "Rss:")
            kib[mapping] += fields[1].toULong();
    }
    return kib;
}

// Prints where a process's resident memory is: pages of the files it maps
// (the largest by name) and anonymous memory.
inline void PrintResidentByMapping(const char* what, qint64 pid = 0)
{
    const QMap<QString, std::size_t> kib = ResidentByMapping(pid);
    std::vector<std::pair<std::size_t, QString>> files;
    std::size_t fileKib = 0, anonymousKib = 0;
    for (auto it = kib.cbegin(); it != kib.cend(); ++it) {
        if (it.key().startsWith(QLatin1Char('['))) {
            anonymousKib += it.value();
        } else {
            fileKib += it.value();
            files.emplace_back(it.value(), it.key());
        }
    }
    std::sort(files.begin(), files.end(), std::greater<>());
    std::printf("%s by mapping: files %.1f MiB, anonymous %.1f MiB (heap %.1f)\n", what, fileKib / 1024.0,
                anonymousKib / 1024.0, kib.value(QStringLiteral("[heap]")) / 1024.0);
    for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 12); ++i)
        std::printf("  %6.2f MiB  %s\n", files[i].first / 1024.0, qPrintable(files[i].second));
}

// CPU time of this process so far, every thread included, in seconds.
inline double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// This process's share of one core, in per cent, while its event loop runs
// for `seconds`, sleeping between events as the program's own loop does (a
// polling loop would measure itself).
inline double CpuShare(int seconds)
{
    const double cpu = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 100.0 * (ProcessCpuSeconds() - cpu) / wall;
}

class LatencyProbe {
public:
    using Clock = std::chrono::steady_clock;

    explicit LatencyProbe(QObject* target) : m_target(target)
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~LatencyProbe() { Stop(); }
    LatencyProbe(const LatencyProbe&) = delete;
    LatencyProbe& operator=(const LatencyProbe&) = delete;

    // Ends the posting; call on the target's thread before the target goes.
    // Calls already posted then run as no-ops.
    void Stop()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        const auto pending = m_lastPosted.load();
        if (m_lastAnswered.load() < pending)
            Record(pending);
        m_dead->store(true);
    }

    // The latest any posted call ran (or has waited so far), in ms.
    double WorstMs() const { return m_worstUs.load() / 1000.0; }
    int Answered() const { return m_answered.load(); }

private:
    void Run()
    {
        while (!m_stop) {
            const auto posted = Now();
            m_lastPosted = posted;
            QMetaObject::invokeMethod(m_target, [this, posted, dead = m_dead] {
                if (dead->load())
                    return;
                m_lastAnswered = std::max(m_lastAnswered.load(), posted);
                Record(posted);
                ++m_answered;
            }, Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    static std::int64_t Now()
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
    }

    void Record(std::int64_t posted)
    {
        const std::int64_t late = Now() - posted;
        std::int64_t worst = m_worstUs.load();
        while (late > worst && !m_worstUs.compare_exchange_weak(worst, late)) {
        }
    }

    QObject* m_target;
    std::shared_ptr<std::atomic<bool>> m_dead = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_lastPosted{0};
    std::atomic<std::int64_t> m_lastAnswered{0};
    std::atomic<std::int64_t> m_worstUs{0};
    std::atomic<int> m_answered{0};
    std::thread m_thread;
};

} // namespace testsupport
