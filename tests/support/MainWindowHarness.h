// SPDX-License-Identifier: GPL-3.0-or-later
// A main window in-process for tests: TfmMain built from its real layout
// resource, with a temporary directory standing in for the executable's (so a
// test chooses Server.ini), and every dialog replaced by a recorder, so
// nothing modal ever blocks a test.
//
// By default Server.ini names `directory`, a local directory stub with an
// empty station list, so showing the window starts a query that succeeds.
// Audio goes to ALSA's null device; a test that wants to hear it creates its
// own AlsaRoute after the harness.
//
//   testsupport::MainWindowHarness h;
//   h.directory.body = "127.0.0.1:6565,Radio\r\n";  // or:
//   h.WriteServerIni("http://127.0.0.1:8080/\n");   // or h.RemoveServerIni();
//   h.Create();                                 // runs FormCreate
//   h.inputAnswers.push_back({true, "host:1"}); // the next input box says OK
//   … h.messages, h.errors, h.inputs hold what was shown.
#pragma once

#include "app/Demo2Client.h"
#include "net/WSocket.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/DirectoryStub.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct ShownBox {
    QString caption;
    QString text;
};

class MainWindowHarness {
public:
    MainWindowHarness()
    {
        auto& app = platform::Application::Instance();
        app.SetTitle(QStringLiteral("Sendolin Client"));
        app.SetErrorBoxHook([this](const QString& caption, const QString& text) { errors.push_back({caption, text}); });
        platform::SetMessageBoxHook([this](const QString& caption, const QString& text) { messages.push_back({caption, text}); });
        platform::SetInputBoxHook([this](const QString& caption, const QString& prompt, const QString& preset) {
            inputs.push_back({caption, prompt + u'\n' + preset});
            if (inputAnswers.empty())
                return platform::InputBoxAnswer{false, preset};
            const platform::InputBoxAnswer answer = inputAnswers.front();
            inputAnswers.pop_front();
            return answer;
        });
        WriteServerIni(directory.BaseUrl().toStdString() + "\n");
    }

    ~MainWindowHarness()
    {
        form.reset();
        platform::Application::Instance().SetErrorBoxHook({});
        platform::SetMessageBoxHook({});
        platform::SetInputBoxHook({});
    }

    MainWindowHarness(const MainWindowHarness&) = delete;
    MainWindowHarness& operator=(const MainWindowHarness&) = delete;

    QString ExecutableDir() const { return dir.path(); }
    QString ServerIniPath() const { return QDir(dir.path()).filePath(QStringLiteral("Server.ini")); }

    // Writes Server.ini with exactly these bytes.
    void WriteServerIni(const std::string& bytes)
    {
        QFile file(ServerIniPath());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes.data(), qint64(bytes.size()));
    }

    void RemoveServerIni() { QFile::remove(ServerIniPath()); }

    TfmMain& Create()
    {
        form = std::make_unique<TfmMain>(dir.path());
        return *form;
    }

    // Whether the directory has answered `queries` requests and the window has
    // closed the last one. Until then its list rebuild is still to come (and
    // clears what a test added), and a new query, such as the one every
    // disconnect makes, takes the error path that ends the program.
    bool QueriesDone(qsizetype queries) const
    {
        return directory.requests.size() == queries && form->HTTPWSocket->State() == net::TCustomWSocket::wsClosed;
    }

    AlsaRoute audio{AlsaRoute::Null};
    QTemporaryDir dir;
    DirectoryStub directory;
    std::unique_ptr<TfmMain> form;
    std::vector<ShownBox> messages;
    std::vector<ShownBox> errors;
    std::vector<ShownBox> inputs; // text = prompt, a line break, the preset
    std::deque<platform::InputBoxAnswer> inputAnswers;
};

} // namespace testsupport
