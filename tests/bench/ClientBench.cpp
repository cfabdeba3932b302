// SPDX-License-Identifier: GPL-3.0-or-later
// The whole client against a local station: CPU share of one core and
// resident memory while idle, while playing with the window shown (scrolling
// text, counter, rate readout and level bars running) and while playing
// hidden, and the time from the Play click to the first PCM at the device,
// stage by stage; then, against stations with and without a burst, the first
// PCM and the live age (from the station sending a byte to it being heard). Each figure is printed beside its target.
//
// Two processes: this one starts the station (its own process) and routes
// ALSA to a device that behaves like a sound card (it plays in real time and
// lets a writer that is ahead sleep until there is room), then runs itself
// again as the client, so the client's figures contain nothing but the
// client: the real main window from its layout, on the display in DISPLAY,
// Play pressed as a click. Both
// processes read CLOCK_MONOTONIC, so the first PCM that reaches the device
// (seen here) is timed against the click (seen in the client).
//
// Then the program as a user starts it: its own binary (copied beside a
// Server.ini of its own), Play clicked with xdotool, against the repaint
// floor (repaint_floor_bench --window: what Qt alone costs for the least the
// shown window does) in three pairs of the same duration on the same display:
// the program shown, then hidden in its tray while the floor's window is
// shown. The tray is the bench's own StatusNotifierWatcher and host
// (sni_host) on the session bus; the program is hidden by its hide button and
// shown again by activating its icon. Per pair and as a median it prints the
// program's shown share, the floor's and their ratio, the hidden share, both
// RSS and their difference, which carry nothing of the bench (QtTest,
// QtNetwork and their libraries are in the first client's RSS, about
// 1.5 MiB). With --rss it then samples the program's RSS over that long.
//
// Usage (needs an X display and a session bus, e.g. tests/support/desktop-session.sh):
//   client_bench [SECONDS per phase, default 30] [--rss SECONDS] [--program]
// --program measures only the program against the floor (for profiling it).
#include "app/Demo2Client.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"
#include "tests/support/StationProcess.h"
#include "widgets/AnimLabel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>


namespace {

using Clock = std::chrono::steady_clock;

// VmRSS of a process, this one by default.
double ResidentMiB(qint64 pid = 0)
{
    return double(testsupport::ResidentKib(pid)) / 1024.0;
}

long long Nanoseconds(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Runs the event loop as the program's own loop does, sleeping between events
// (a polling loop would measure itself).
void Run(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// When each stage of starting playback ended; zero while it has not.
struct Stages {
    Clock::time_point click, lookup, connect, greeting, header, firstAudio, deviceOpened, firstWrite;
    Clock::time_point deviceOpenStart;
};

void WatchStages(TfmMain& form, Stages& s)
{
    const auto once = [](Clock::time_point& t) {
        if (t == Clock::time_point())
            t = Clock::now();
    };
    auto onConnecting = form.CSocket->OnConnecting;
    form.CSocket->OnConnecting = [=, &s](QObject* sender, TCustomWinSocket* socket) {
        once(s.lookup);
        if (onConnecting)
            onConnecting(sender, socket);
    };
    auto onConnect = form.CSocket->OnConnect;
    form.CSocket->OnConnect = [=, &s](QObject* sender, TCustomWinSocket* socket) {
        once(s.connect);
        onConnect(sender, socket); // sends the greeting
        once(s.greeting);
    };
    auto onRead = form.CSocket->OnRead;
    form.CSocket->OnRead = [=, &s, &form](QObject* sender, TCustomWinSocket* socket) {
        if (s.header != Clock::time_point())
            once(s.firstAudio); // the station sent it just now: loopback
        onRead(sender, socket);
        if (!form.Radioname->OriginalCaption().isEmpty())
            once(s.header);
    };
    auto open = form.ACMO->Calls.Open;
    form.ACMO->Calls.Open = [=, &s](auto... args) {
        once(s.deviceOpenStart);
        const auto rc = open(args...);
        once(s.deviceOpened);
        return rc;
    };
    auto write = form.ACMO->Calls.Write;
    form.ACMO->Calls.Write = [=, &s](auto... args) {
        once(s.firstWrite);
        return write(args...);
    };
}

double Ms(Clock::time_point from, Clock::time_point to)
{
    return to == Clock::time_point() ? -1 : std::chrono::duration<double, std::milli>(to - from).count();
}

void PrintStages(const Stages& s)
{
    std::printf("stages after the Play click (ms, each stage's own time in brackets):\n");
    std::printf("  lookup            %7.1f\n", Ms(s.click, s.lookup));
    std::printf("  connect           %7.1f  (%.1f)\n", Ms(s.click, s.connect), Ms(s.lookup, s.connect));
    std::printf("  greeting          %7.1f  (%.1f)\n", Ms(s.click, s.greeting), Ms(s.connect, s.greeting));
    std::printf("  header            %7.1f  (%.1f)\n", Ms(s.click, s.header), Ms(s.greeting, s.header));
    std::printf("  device open       %7.1f  (%.1f)\n", Ms(s.click, s.deviceOpened), Ms(s.deviceOpenStart, s.deviceOpened));
    std::printf("  pre-roll          %7.1f  (%.1f)\n", Ms(s.click, s.firstWrite), Ms(s.deviceOpened, s.firstWrite));
    std::fflush(stdout);
}

// CPU time of another process so far, every thread included, in seconds:
// the scheduler's nanoseconds (utime and stime count whole clock ticks, too
// coarse for a share of a tenth of a per cent over a few seconds).
double ProcessCpuSeconds(qint64 pid)
{
    double seconds = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in((tasks + u'/' + task + QStringLiteral("/schedstat")).toStdString());
        unsigned long long ns = 0;
        if (in >> ns)
            seconds += double(ns) / 1e9;
    }
    return seconds;
}

// The centre of a control in the window's layout, in window coordinates.
QPoint Centre(const QString& control)
{
    QFile form(QStringLiteral(":/app/Demo2Client.form"));
    form.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(form.readAll());
    const qsizetype at = text.indexOf(QStringLiteral("object %1:").arg(control));
    const QString block = text.mid(at, text.indexOf(QStringLiteral("\n  end"), at) - at);
    const auto value = [&](const char* name) {
        return QRegularExpression(QStringLiteral("\\b%1 = (\\d+)").arg(QLatin1String(name))).match(block).captured(1).toInt();
    };
    return {value("Left") + value("Width") / 2, value("Top") + value("Height") / 2};
}

bool Xdotool(const QStringList& arguments, QString* output = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(tool.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0).trimmed();
    return true;
}

// Moves the pointer onto a control of the window and presses a button there.
bool ClickOn(const QString& window, const QString& control, int button = 1)
{
    const QPoint at = Centre(control);
    return Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
                    QString::number(at.y()), QStringLiteral("click"), QString::number(button)});
}

// A process started for the bench and ended with it.
class Child {
public:
    explicit Child(const QString& program, const QStringList& arguments = {},
                   const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        m_process.waitForStarted();
    }
    ~Child()
    {
        m_process.closeWriteChannel();
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    void Write(const QString& line) { m_process.write((line + u'\n').toUtf8()); m_process.waitForBytesWritten(); }

    // The next line of its output that starts with prefix, or a null string.
    QString Next(const QString& prefix, int timeoutMs = 15000)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < timeoutMs) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line.startsWith(prefix))
                    return line;
            }
            m_process.waitForReadyRead(100);
        }
        return {};
    }

private:
    QProcess m_process;
};

// CPU share of one core of each process while both run for the same
// `seconds` of wall time.
std::vector<double> CpuShares(const std::vector<qint64>& pids, int seconds)
{
    std::vector<double> before;
    for (qint64 pid : pids)
        before.push_back(ProcessCpuSeconds(pid));
    const auto start = Clock::now();
    QThread::sleep(unsigned(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> shares;
    for (std::size_t i = 0; i < pids.size(); ++i)
        shares.push_back(100.0 * (ProcessCpuSeconds(pids[i]) - before[i]) / wall);
    return shares;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One pair: the program shown, then, while it is hidden in its tray, the
// floor's window shown for as long.
struct Pair {
    double shown = 0, floor = 0, hidden = 0, rssMiB = 0, floorRssMiB = 0;
};

void PrintPairs(const std::vector<Pair>& pairs)
{
    std::printf("program against the repaint floor, %zu pairs (CPU %% of one core, RSS MiB):\n", pairs.size());
    std::printf("  pair   shown   floor   ratio   hidden    RSS  floor RSS  difference\n");
    std::vector<double> shown, floor, ratio, hidden, rss, floorRss, difference;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const Pair& p = pairs[i];
        shown.push_back(p.shown);
        floor.push_back(p.floor);
        ratio.push_back(p.floor > 0 ? p.shown / p.floor : 0);
        hidden.push_back(p.hidden);
        rss.push_back(p.rssMiB);
        floorRss.push_back(p.floorRssMiB);
        difference.push_back(p.rssMiB - p.floorRssMiB);
        std::printf("  %4zu  %5.2f   %5.2f   %5.2f   %6.3f  %5.1f   %5.1f     %5.1f\n", i + 1, p.shown, p.floor,
                    ratio.back(), p.hidden, p.rssMiB, p.floorRssMiB, difference.back());
    }
    std::printf("median  %5.2f   %5.2f   %5.2f   %6.3f  %5.1f   %5.1f     %5.1f\n", Median(shown), Median(floor),
                Median(ratio), Median(hidden), Median(rss), Median(floorRss), Median(difference));
    std::printf("program shown / floor:       %5.2f   (target <= 1.2)\n", Median(ratio));
    std::printf("program CPU playing, hidden: %6.3f %% of one core   (target <= 0.1 %%)\n", Median(hidden));
    std::printf("program RSS - floor RSS:     %5.1f MiB   (target <= 4 MiB)\n", Median(difference));
    std::printf("program RSS growth over the pairs: %+.2f MiB   (target: flat)\n",
                pairs.empty() ? 0 : pairs.back().rssMiB - pairs.front().rssMiB);
    std::fflush(stdout);
}

// Samples the program's RSS every tenth of `seconds` while it plays shown,
// and prints the growth.
void SampleResident(qint64 pid, int seconds)
{
    const double first = ResidentMiB(pid);
    std::printf("program RSS over %d s, shown:\n       0 s  %6.2f MiB\n", seconds, first);
    double last = first;
    for (int i = 1; i <= 10; ++i) {
        QThread::msleep(unsigned(seconds) * 100u);
        last = ResidentMiB(pid);
        std::printf("  %6d s  %6.2f MiB\n", seconds * i / 10, last);
        std::fflush(stdout);
    }
    std::printf("program RSS growth over %d s: %+.2f MiB   (target: flat)\n", seconds, last - first);
    std::fflush(stdout);
}

// The program as a user runs it, against the repaint floor: it is hidden
// through its notification-area icon (a StatusNotifierWatcher and host of the
// bench's own on the session bus, which the program finds when it starts),
// pressing its hide button, and shown again by activating the icon.
int MeasureProgram(const testsupport::StationProcess& station, int seconds, int rssSeconds)
{
    Child tray(QStringLiteral(SNI_HOST));
    if (tray.Next(QStringLiteral("ready")).isNull()) {
        std::fprintf(stderr, "sni_host did not start (is there a session bus?)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("SendolinClient"));
    QFile::copy(QStringLiteral(SENDOLIN_CLIENT_PROGRAM), program);
    QFile ini(dir.filePath(QStringLiteral("Server.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("http://127.0.0.1:%1/\n").arg(station.DirectoryPort()).toUtf8());
    ini.close();
    QDir(dir.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    Child client(program, {}, environment);
    QString window;
    if (!client.Running()
        || !Xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(client.Pid())}, &window)) {
        std::fprintf(stderr, "the program's window did not appear\n");
        return 1;
    }
    if (tray.Next(QStringLiteral("registered ")).isNull()) {
        std::fprintf(stderr, "the program's icon did not register with the bench's tray\n");
        return 1;
    }
    const qint64 pid = client.Pid();
    const auto listening = [&] { return station.Log().count(QStringLiteral("stream listener connected")); };
    const qsizetype before = listening();
    QThread::sleep(3); // its first directory answer
    const double idleMiB = ResidentMiB(pid);
    // Each directory answer empties the list: choose and press Play until the station has it.
    for (int attempt = 0; attempt < 10 && listening() == before; ++attempt) {
        ClickOn(window, QStringLiteral("Adressliste"), 5); // the wheel picks the first station
        QThread::msleep(300);
        ClickOn(window, QStringLiteral("btnconnect"));
        QThread::sleep(2);
    }
    if (listening() == before) {
        std::fprintf(stderr, "the program never connected\n");
        return 1;
    }
    QThread::sleep(5); // past the burst
    std::printf("program RSS idle:            %5.1f MiB\n", idleMiB);
    std::vector<Pair> pairs;
    for (int i = 0; i < 3; ++i) {
        Pair p;
        p.shown = CpuShares({pid}, seconds).front();
        p.rssMiB = ResidentMiB(pid);
        if (i == 0)
            testsupport::PrintResidentByMapping("program RSS playing", pid);
        ClickOn(window, QStringLiteral("BitBtn2")); // hides it into the tray
        {
            Child floor(QStringLiteral(REPAINT_FLOOR_BENCH), {QStringLiteral("--window")});
            QThread::sleep(2); // shown and painted once, the program's hiding settled
            const std::vector<double> shares = CpuShares({floor.Pid(), pid}, seconds);
            p.floor = shares[0];
            p.hidden = shares[1];
            p.floorRssMiB = ResidentMiB(floor.Pid());
            if (i == 0)
                testsupport::PrintResidentByMapping("floor RSS", floor.Pid());
        }
        tray.Write(QStringLiteral("call Activate 10 10"));
        if (tray.Next(QStringLiteral("ok")).isNull())
            std::fprintf(stderr, "activating the icon failed\n");
        QThread::sleep(2); // shown and painted again
        pairs.push_back(p);
    }
    PrintPairs(pairs);
    if (rssSeconds > 0)
        SampleResident(pid, rssSeconds);
    return 0;
}

// Against a station without a burst: Play, then listening for a few seconds;
// prints the click and the arrival of the first audio byte for the parent,
// which times the first PCM and what is heard.
int RunLatencyClient(const QString& directoryUrl)
{
    const QByteArray pacedDevice = qgetenv("ALSA_CONFIG_PATH");
    testsupport::MainWindowHarness harness;
    qputenv("ALSA_CONFIG_PATH", pacedDevice);
    harness.WriteServerIni(directoryUrl.toStdString() + "\n");
    TfmMain& form = harness.Create();
    form.show();
    if (!testsupport::WaitUntil([&] { return form.Adressliste->Count() > 0 && form.btnconnect->isEnabled(); }, 15000))
        return 1;
    Stages stages;
    WatchStages(form, stages);
    form.Adressliste->setCurrentIndex(0);
    stages.click = Clock::now();
    std::printf("click %lld\n", Nanoseconds(stages.click));
    std::fflush(stdout);
    QTest::mouseClick(form.btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
    Run(8000);
    std::printf("audio %lld\n", Nanoseconds(stages.firstAudio));
    std::fflush(stdout);
    return 0;
}

// Times one client against a station of its own with `burst` seconds of
// burst: Play to the first PCM at the device, and, from the device's starts,
// how long after the station sent a byte it is heard. Without a burst the
// station sends on the clock, so a byte's due time is the first audio byte's
// arrival plus its playing time (the decoder's few milliseconds left out).
void MeasureLatency(int burst)
{
    testsupport::StationProcess station({"--directory", "127.0.0.1:0", "--source", "melody", "--name", "Bench",
                                         "--burst", QString::number(burst)});
    if (!station.Start())
        return;
    QThread::sleep(unsigned(burst) + 1); // the burst exists
    testsupport::AlsaRoute device(testsupport::AlsaRoute::Card, 4096);
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QCoreApplication::applicationFilePath(),
                 {"--latency", QStringLiteral("http://127.0.0.1:%1/").arg(station.DirectoryPort())});
    long long click = 0, audio = 0;
    double firstPcm = -1;
    while (client.state() != QProcess::NotRunning || client.canReadLine()) {
        client.waitForReadyRead(1);
        while (client.canReadLine()) {
            const QByteArray line = client.readLine();
            if (line.startsWith("click "))
                click = line.mid(6).trimmed().toLongLong();
            else if (line.startsWith("audio "))
                audio = line.mid(6).trimmed().toLongLong();
        }
        if (firstPcm < 0 && click != 0 && !device.Captured().isEmpty())
            firstPcm = double(Nanoseconds(Clock::now()) - click) / 1e6;
    }
    const std::vector<testsupport::AlsaRoute::Event> events = device.Events();
    double age = -1;
    int underruns = 0;
    for (const auto& e : events) {
        if (e.kind == testsupport::AlsaRoute::Event::Underrun)
            ++underruns;
        else if (audio != 0) // the last start decides what is heard from then on
            age = double(Nanoseconds(e.at) - audio) / 1e6 - double(e.frame) * 1000.0 / 11025;
    }
    std::printf("burst %d s: Play -> first PCM at the device: %.1f ms   (target <= %s ms)\n", burst, firstPcm,
                burst ? "150" : "400");
    // With a burst the first bytes are old by its length by design; the age
    // says something only without one.
    if (burst == 0)
        std::printf("burst 0 s: live age (sent -> heard): %.1f ms   (target <= 500 ms)\n", age);
    std::printf("burst %d s: underruns after the first sound: %d\n", burst, underruns);
    std::fflush(stdout);
}

int RunClient(const QString& directoryUrl, int seconds)
{
    // The harness routes audio to the null device; play to the parent's paced one instead.
    const QByteArray pacedDevice = qgetenv("ALSA_CONFIG_PATH");
    testsupport::MainWindowHarness harness;
    qputenv("ALSA_CONFIG_PATH", pacedDevice);
    harness.WriteServerIni(directoryUrl.toStdString() + "\n");
    TfmMain& form = harness.Create();
    form.show();
    if (!testsupport::WaitUntil([&] { return form.windowHandle() && form.windowHandle()->isExposed()
                                              && form.Adressliste->Count() > 0 && form.btnconnect->isEnabled(); },
                                15000)) {
        std::fprintf(stderr, "the window did not list the station\n");
        return 1;
    }
    Run(2000);
    const double idle = testsupport::CpuShare(seconds);
    const double idleMiB = ResidentMiB();

    Stages stages;
    WatchStages(form, stages);
    form.Adressliste->setCurrentIndex(0);
    stages.click = Clock::now();
    std::printf("click %lld\n", Nanoseconds(stages.click));
    std::fflush(stdout);
    QTest::mouseClick(form.btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
    if (!testsupport::WaitUntil([&] { return stages.firstWrite != Clock::time_point(); }, 15000))
        std::fprintf(stderr, "no audio reached the device\n");
    PrintStages(stages);

    Run(5000); // past the burst
    const double playing = testsupport::CpuShare(seconds);
    const double playingMiB = ResidentMiB();
    form.hide();
    Run(1000);
    const double hidden = testsupport::CpuShare(seconds);
    const double hiddenMiB = ResidentMiB();

    std::printf("client CPU idle, shown:      %5.2f %% of one core   (target <= 0.1 %%)\n", idle);
    std::printf("client CPU playing, shown:   %5.2f %% of one core   (target <= 0.5 %%)\n", playing);
    std::printf("client CPU playing, hidden:  %5.2f %% of one core   (target <= 0.1 %%)\n", hidden);
    std::printf("client RSS idle:             %5.1f MiB\n", idleMiB);
    std::printf("client RSS playing:          %5.1f MiB   (target <= 30 MiB)\n", std::max(playingMiB, hiddenMiB));
    std::printf("received per second:         %s\n", qPrintable(form.lblstatus->Caption()));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--latency") {
        platform::Application::PrepareToolkit();
        QApplication app(argc, argv);
        return RunLatencyClient(QString::fromLocal8Bit(argv[2]));
    }
    if (argc > 1 && QByteArray(argv[1]) == "--client") {
        platform::Application::PrepareToolkit(); // as the program does
        QApplication app(argc, argv);
        return RunClient(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    }
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    int rssSeconds = 0;
    bool programOnly = false;
    for (int i = 2; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--rss" && i + 1 < argc)
            rssSeconds = std::atoi(argv[++i]);
        else if (QByteArray(argv[i]) == "--program")
            programOnly = true;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X display: tests/support/desktop-session.sh %s\n", argv[0]);
        return 1;
    }
    testsupport::StationProcess station({"--directory", "127.0.0.1:0", "--source", "melody", "--name", "Bench",
                                         "--info", "Willkommen bei Sendolin", "--info",
                                         "Eine Melodie vom lokalen Sender"});
    if (!station.Start()) {
        std::fprintf(stderr, "station did not start\n");
        return 1;
    }
    // Only the first PCM is looked at: capturing the rest would put a file
    // write into every device write the client makes.
    testsupport::AlsaRoute device(testsupport::AlsaRoute::Card, 4096);
    if (programOnly)
        return MeasureProgram(station, seconds, rssSeconds);

    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    long long click = 0;
    bool pcmSeen = false;
    QObject::connect(&client, &QProcess::readyReadStandardOutput, [&] {
        while (client.canReadLine()) {
            const QByteArray line = client.readLine();
            if (line.startsWith("click "))
                click = line.mid(6).trimmed().toLongLong();
            else
                std::fputs(line.constData(), stdout);
        }
        std::fflush(stdout);
    });
    client.start(QCoreApplication::applicationFilePath(),
                 {"--client", QStringLiteral("http://127.0.0.1:%1/").arg(station.DirectoryPort()),
                  QString::number(seconds)});
    if (!client.waitForStarted()) {
        std::fprintf(stderr, "the client did not start\n");
        return 1;
    }
    while (client.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (!pcmSeen && click != 0 && !device.Captured().isEmpty()) {
            pcmSeen = true;
            const double ms = double(Nanoseconds(Clock::now()) - click) / 1e6;
            std::printf("Play -> first PCM at the device: %.1f ms   (target <= 150 ms)\n", ms);
            std::fflush(stdout);
        }
        QThread::usleep(pcmSeen ? 20000 : 500);
    }
    client.waitForFinished(-1);
    if (client.exitCode() != 0)
        return client.exitCode();
    MeasureLatency(0);
    MeasureLatency(2);
    return MeasureProgram(station, seconds, rssSeconds);
}
