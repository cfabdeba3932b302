// SPDX-License-Identifier: GPL-3.0-or-later
// What Qt itself costs for the wake-ups and repaints the client's shown window
// has at the least, with none of the client's code: a 444 x 200 window with a
// picture beneath, a tick every 50 ms that does nothing (the level meter's
// pace), and two strips of the ticker's size repainted every 100 ms (its step),
// with the toolkit settings the program makes (Application::PrepareToolkit).
// Each phase prints this process's CPU share of one core, beside the client's
// own target, so client_bench's figures can be read against what is left when
// the client's work is taken away. At the end it prints its resident memory,
// with a line of text shown so that fonts are loaded, as the client's is.
//
// With --window it only shows the window with both timers running until it
// is ended, for client_bench to measure from outside as it measures the
// program.
//
// Usage (needs an X display, e.g. tests/support/desktop-session.sh):
//   repaint_floor_bench [SECONDS per phase, default 20]
//   repaint_floor_bench --window
#include "platform/toolkit/Application.h"
#include "tests/support/Vitals.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

// The window's skin: one picture, drawn beneath whatever is repainted.
class Skin : public QWidget {
public:
    Skin() : m_picture(444, 200) { m_picture.fill(QColor(0x20, 0x40, 0x30)); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, m_picture); }

private:
    QPixmap m_picture;
};

// A strip that shows something else at each step, seen through like a label.
class Strip : public QWidget {
public:
    using QWidget::QWidget;
    void Step()
    {
        ++m_step;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(QRect(m_step % 20, 2, 8, height() - 4), Qt::yellow);
    }

private:
    int m_step = 0;
};

} // namespace

int main(int argc, char** argv)
{
    platform::Application::PrepareToolkit(); // as the program does
    QApplication app(argc, argv);
    const bool windowOnly = argc > 1 && QByteArray(argv[1]) == "--window";
    const int seconds = argc > 1 && !windowOnly ? std::atoi(argv[1]) : 20;
    Skin window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(444, 200);
    Strip name(&window), info(&window);
    name.setGeometry(16, 48, 265, 13);
    info.setGeometry(16, 64, 265, 13);
    QLabel status(QStringLiteral("Status: Received 3.06 KB/s"), &window);
    status.setGeometry(16, 170, 265, 16);
    QTimer meter, scroll;
    meter.setInterval(50);
    scroll.setInterval(100);
    QObject::connect(&scroll, &QTimer::timeout, [&] {
        name.Step();
        info.Step();
    });
    window.show();
    if (windowOnly) {
        meter.start();
        scroll.start();
        return app.exec();
    }
    testsupport::CpuShare(2); // exposed and painted once

    std::printf("nothing running:              %5.2f %% of one core\n", testsupport::CpuShare(seconds));
    meter.start();
    std::printf("50 ms tick, nothing to do:    %5.2f %% of one core\n", testsupport::CpuShare(seconds));
    scroll.start();
    std::printf("and two strips every 100 ms:  %5.2f %% of one core   (client's target <= 0.5 %%)\n",
                testsupport::CpuShare(seconds));
    std::printf("RSS:                          %5.1f MiB   (client's target <= 30 MiB)\n",
                double(testsupport::ResidentKib()) / 1024.0);
    testsupport::PrintResidentByMapping("RSS");
    return 0;
}
