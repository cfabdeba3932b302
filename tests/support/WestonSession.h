// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland desktop of a test's own: weston's headless backend drawing into
// memory (pixman), its desktop shell, on a socket in a private runtime
// folder, with the screenshot protocol on so a test can read back what the
// compositor shows. Not thread-safe; one per process is enough.
//
//   testsupport::WestonSession weston;
//   ASSERT_TRUE(weston.Start());
//   process.setProcessEnvironment(weston.Environment()); // a Qt program on it
//   const QImage screen = weston.Screenshot();
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class WestonSession {
public:
    WestonSession() = default;
    ~WestonSession();
    WestonSession(const WestonSession&) = delete;
    WestonSession& operator=(const WestonSession&) = delete;

    // Starts weston and waits until its socket answers and its shell has
    // drawn the desktop; false (with Log() saying why) otherwise.
    bool Start(int timeoutMs = 30000);
    QString Log() const;

    QString RuntimeDir() const { return m_runtime.path(); }
    QString Socket() const { return QStringLiteral("wayland-sendolin"); }
    // The system environment pointed at this compositor, Qt on Wayland and
    // no X display to fall back on.
    QProcessEnvironment Environment() const;
    // Points this process's own environment at the compositor (before its
    // QGuiApplication exists).
    void Export() const;

    // What the compositor shows now, or a null image.
    QImage Screenshot() const;

private:
    QTemporaryDir m_runtime;
    QProcess m_weston;
};

} // namespace testsupport
