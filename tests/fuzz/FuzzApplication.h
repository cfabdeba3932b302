// SPDX-License-Identifier: GPL-3.0-or-later
// The one QApplication a client fuzz target needs, on the offscreen platform,
// created from LLVMFuzzerInitialize and kept for the life of the process.
#pragma once

#include <QApplication>

namespace fuzzsupport {

inline QApplication& Application()
{
    static int argc = 1;
    static char name[] = "sendolin-fuzz";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

} // namespace fuzzsupport
