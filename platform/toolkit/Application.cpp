// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only.
#include "platform/toolkit/Application.h"

#include "platform/toolkit/DialogTranscript.h"
#include "platform/toolkit/Exception.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdlib>
#include <stdexcept>

namespace platform {

namespace {

// The error box is the dispatch's sink from the moment the program starts,
// before any component exists; the application object itself is made when
// the first error comes, as before.
[[maybe_unused]] const bool g_errorBoxIsTheSink = [] {
    Dispatch::SetErrorSink([](const std::exception& error) { Application::Instance().HandleException(error); });
    return true;
}();

} // namespace

Application::Application()
    : m_title(DefaultTitle(QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString()))
{
}

Application& Application::Instance()
{
    static Application application;
    return application;
}

void Application::PrepareToolkit()
{
    // The window is small and what changes in it is a strip of text and two
    // bars. Through a shared-memory image Qt waits, before each repaint, for
    // the X server to be done with the last one: a round trip ten times a
    // second that costs more than sending the few kilobytes over the
    // connection. Only Qt's X platform reads this, and only whether it is
    // set, so a value the user gave is left alone.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

QString Application::DefaultTitle(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

void Application::ProcessMessages()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Application::HandleException(const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    const QString text = own ? own->Message() : QString::fromUtf8(error.what());
    if (m_errorBoxHook) {
        m_errorBoxHook(m_title, text);
        return;
    }
    if (DialogTranscript::Record(QStringLiteral("error"), m_title, text))
        return;
    QMessageBox box(QMessageBox::Critical, m_title, text, QMessageBox::Ok);
    box.exec();
}

int Application::Run(QWidget& mainForm)
{
    // The main form may be hidden to the notification area while a message
    // box closes; that must not end the program, only closing the form does.
    QApplication::setQuitOnLastWindowClosed(false);
    m_mainForm = &mainForm;
    mainForm.show();
    const int code = QCoreApplication::exec();
    m_mainForm = nullptr;
    return code;
}

void Application::Terminate(int exitCode)
{
    std::_Exit(exitCode);
}

} // namespace platform
