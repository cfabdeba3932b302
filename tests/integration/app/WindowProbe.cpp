// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a real display, for tests that drive it from outside
// with X input (xdotool). It runs the in-process harness (directory stub,
// recorded dialogs), prints "ready" once the window is shown and then
// answers each "pos" line on stdin with "pos X Y" (the window's position).
// It ends when stdin closes.
#include "tests/support/MainWindowHarness.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::MainWindowHarness harness;
    TfmMain& form = harness.Create();
    form.show();

    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!form.windowHandle() || !form.windowHandle()->isExposed())
            return;
        ready.stop();
        std::printf("ready\n");
        std::fflush(stdout);
    });
    ready.start(20);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::exit(0);
            return;
        }
        pending.append(buffer, size_t(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            if (pending.compare(0, end, "pos") == 0)
                std::printf("pos %d %d\n", form.x(), form.y());
        }
        std::fflush(stdout);
    });
    return app.exec();
}
