// The whole client against a local station: CPU share of one core and
// resident memory while idle, while playing with the window shown (scrolling
// text, counter, rate readout and level bars running) and while playing
// hidden, and the time from the Play click to the first PCM at the device,
// stage by stage. Each figure is printed beside its target.
//
// Two processes: this one starts the station (its own process) and a sound
// device that plays in real time (ALSA's file plugin into a FIFO drained at
// the stream's byte rate), then runs itself again as the client, so the
// client's figures contain nothing but the client: the real main window from
// its layout, on the display in DISPLAY, Play pressed as a click. Both
// processes read CLOCK_MONOTONIC, so the first PCM that reaches the device
// (seen here) is timed against the click (seen in the client).
//
// Usage (needs an X display, e.g. tests/support/desktop-session.sh):
//   client_bench [SECONDS per phase, default 30]
#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"
#include "tests/support/PacedAlsaRoute.h"
#include "tests/support/StationProcess.h"
#include "widgets/AnimLabel.h"

#include <QApplication>
#include <QProcess>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// The station's default stream decodes to 11025 Hz, stereo, 16 bit.
constexpr unsigned DeviceBytesPerSecond = 11025 * 2 * 2;

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ResidentMiB()
{
    return double(testsupport::ResidentKib()) / 1024.0;
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

// CPU share of one core over `seconds` of the event loop.
double CpuShare(int seconds)
{
    const double cpu = ProcessCpuSeconds();
    const auto start = Clock::now();
    Run(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * (ProcessCpuSeconds() - cpu) / wall;
}

// When each stage of starting playback ended; zero while it has not.
struct Stages {
    Clock::time_point click, lookup, connect, greeting, header, deviceOpened, firstWrite;
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
    const double idle = CpuShare(seconds);
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
    const double playing = CpuShare(seconds);
    const double playingMiB = ResidentMiB();
    form.hide();
    Run(1000);
    const double hidden = CpuShare(seconds);
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
    if (argc > 1 && QByteArray(argv[1]) == "--client") {
        QApplication app(argc, argv);
        return RunClient(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    }
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
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
    testsupport::PacedAlsaRoute device(DeviceBytesPerSecond);

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
    return client.exitCode();
}
