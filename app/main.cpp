// Program entry: the single-instance guard, then the application object and
// the main window. The lock lives until main returns, so it is released
// last; if the process dies, the system releases it.
#include "app/Demo2Client.h"

#include "platform/shell/NamedLock.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"

#include <QApplication>
#include <exception>
#include <memory>

int main(int argc, char** argv)
{
    platform::Application::PrepareToolkit();
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
    std::unique_ptr<TfmMain> fmMain;
    try {
        fmMain = std::make_unique<TfmMain>();
    } catch (const std::exception& error) {
        // A damaged layout resource: say what is wrong instead of crashing.
        application.HandleException(error);
        return 1;
    }
    return application.Run(*fmMain);
}
