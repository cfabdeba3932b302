// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the single-instance guard, then the application object, the
// main window and its desktop media controls. The lock lives until main
// returns, so it is released last; if the process dies, the system releases
// it, as the bus does the media controls' name.
#include "app/Demo2Client.h"

#include "platform/mpris/MprisService.h"
#include "platform/shell/NamedLock.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// The application icon as a file for the desktop's media controls: the
// installed one (the program lives in PREFIX/lib/sendolin, its icons under
// PREFIX/share), else the one in the source tree this program was built from.
QUrl ApplicationArtwork()
{
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../../share/icons/hicolor/256x256/apps/sendolin.png"));
    for (const QString& path : {installed, QStringLiteral(SENDOLIN_SOURCE_ICON)}) {
        const QFileInfo file(path);
        if (file.isFile())
            return QUrl::fromLocalFile(file.canonicalFilePath());
    }
    return {};
}

// Answered before the toolkit starts, so it needs no display.
bool AskedForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

constexpr const char* HelpText =
    "Usage: sendolin-client\n"
    "Plays the stations of the Sendolin station directory that the first line of\n"
    "Server.ini, beside the program, names.\n"
    "\n"
    "Licence: GPL-3.0-or-later. This is free software; there is NO WARRANTY, to the\n"
    "extent permitted by law.\n";

} // namespace

int main(int argc, char** argv)
{
    if (AskedForHelp(argc, argv)) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    platform::Application::PrepareToolkit();
    // The desktop entry's name: the window's class, and the entry a desktop
    // finds the window's name and icon in.
    QCoreApplication::setApplicationName(QStringLiteral("sendolin-client"));
    QGuiApplication::setDesktopFileName(QStringLiteral("sendolin-client"));
    QApplication qtApplication(argc, argv);

    const platform::NamedLock singleInstance("KT Sendolin Client");
    if (singleInstance.AlreadyExists()) {
        // Before the title is set: the caption is the toolkit's default title.
        platform::MessageBox(platform::Application::DefaultTitle(QCoreApplication::applicationFilePath()),
                             QStringLiteral("Anwendung läuft bereits"));
        return 0;
    }

    auto& application = platform::Application::Instance();
    application.SetTitle(QStringLiteral("Sendolin Client"));
    platform::MprisService media; // outlives the window, which reports to it
    media.SetArtUrl(ApplicationArtwork());
    std::unique_ptr<TfmMain> fmMain;
    try {
        fmMain = std::make_unique<TfmMain>();
    } catch (const std::exception& error) {
        // A damaged layout resource: say what is wrong instead of crashing.
        application.HandleException(error);
        return 1;
    }
    fmMain->AttachMediaControls(media);
    return application.Run(*fmMain);
}
